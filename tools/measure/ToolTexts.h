#pragma once

#include <string_view>

// Texts of ksn48-measure, each in one place. The tool's own are English, as
// its command line is; what the window would say is said in the window's
// words (the refusals of the measurement come from the measurement cycle).
namespace ToolText {

inline constexpr std::string_view ProgramName = "ksn48-measure";

inline constexpr std::string_view Description =
    "Measures voltage, frequency and phase of the channels of a KSN48 module, as the\n"
    "KSN48_Vevu window does, and writes one row per frame as CSV or NDJSON.";

inline constexpr std::string_view Footer =
    R"(Without --settings the values of a fresh window apply (the default settings
file: 78125 Hz, 20-bit, 2.86 mA, channels 1-6, reference 1, fft, rms, 0.75 s);
--settings reads a settings file the window saved, and every flag overrides one
value. Rows go to standard output, or are appended to --output FILE (the CSV
header only into a new or empty file). The crate server is the one on
127.0.0.1, port 11111 or the port in KSN_CRATE_PORT.

Columns: time (UTC, ISO 8601, ms), frame (from 1), then per channel n:
  ch<n>_mV, ch<n>_kHz, ch<n>_deg (against the reference), ch<n>_status
  (ok, short, open, nosignal, notone, overrange, lost), ch<n>_inband (1/0).
  A value that does not exist is empty (null in NDJSON).

Examples:
  ksn48-measure --crate KSN5-0042 --slot 3 --frames 10
  ksn48-measure --crate KSN5-0042 --slot 3 --rate 39063 --channels 1-8 --reference 1 \
                --duration 60 --output bench.csv
  ksn48-measure --crate KSN5-0042 --slot 3 --settings Ksn48_Vevu.ini --format ndjson \
                --display --frames 1

SIGINT or SIGTERM ends the run cleanly (a second one ends it at once).

Exit codes:
  0  done (frames, duration or a signal)
  1  failure during the run (module, link, output)
  2  usage
  3  no server, crate or module
  4  configuration refused (channels, reference, data rate))";

// Parts of the interface that are not there yet.
inline constexpr std::string_view ListNotAvailable = "--list is not available in this version yet";
inline constexpr std::string_view ReconnectNotAvailable =
    "--reconnect is not available in this version yet";
inline constexpr std::string_view AutomaticPickNotAvailable =
    "picking the module by itself is not available in this version yet; name it with "
    "--crate SERIAL --slot N";

// The window's texts for a crate server, crate or module it cannot reach.
inline constexpr std::string_view NoCrate = "Не могу найти ни одного KSN крейта!";
inline constexpr std::string_view CrateOpenFailed =
    "Не могу проинициализировать KSN крейт с модулями в указанном слоте!";
inline constexpr std::string_view ModuleOpenFailed =
    "Не могу проинициализировать модуль в указанном слоте!";
inline constexpr std::string_view FirmwareTooOld =
    "Версия микропрограммы модуля должна быть не ниже 9.\nОбновите микропрограмму модуля!!!";

}  // namespace ToolText
