#pragma once

#include <string_view>

// Texts of ksn48-measure, each in one place. The tool's own are English, as
// its command line is; what the window would say is said in the window's
// words (those of the detection core and of the measurement cycle).
namespace ToolText {

inline constexpr std::string_view ProgramName = "ksn48-measure";

inline constexpr std::string_view Description =
    "Measures voltage, frequency and phase of the channels of a KSN48 module, as the\n"
    "KSN48_Vevu window does, and writes one row per frame as CSV or NDJSON.";

inline constexpr std::string_view Footer =
    R"(The module: --crate and --slot name it; without them it is picked as the
window picks it at its start (the crate and slot saved in the --settings file,
else the first crate with a KSN48 module and its first module). --crate alone
takes that crate's first module, --slot alone that slot of the crate picked.
--list shows every crate and KSN48 module the server has.

Without --settings the values of a fresh window apply (the default settings
file: 78125 Hz, 20-bit, 2.86 mA, channels 1-6, reference 1, fft, rms, 0.75 s);
--settings reads a settings file the window saved, and every flag overrides one
value. Rows go to standard output, or are appended to --output FILE (the CSV
header only into a new or empty file). The crate server is the one on
127.0.0.1, port 11111 or the port in KSN_CRATE_PORT.

Columns: time (UTC, ISO 8601, ms), frame (from 1), then per channel n:
  ch<n>_mV, ch<n>_kHz, ch<n>_deg (against the reference), ch<n>_status
  (ok, short, open, nosignal, notone, overrange, lost), ch<n>_inband (1/0).
  A value that does not exist is empty (null in NDJSON).

A lost link (server gone, connection dropped, receive timeout) ends the run
with exit 1; with --reconnect the tool tries every second to find, open and
configure the module again and then goes on. The frame under way when the link
was lost is written as a row whose every channel is "lost", so the log shows
the gap; the next frame resumes the numbering.

--mqtt publishes every row to an MQTT broker as well, as the NDJSON object, on
PREFIX/<crate serial>/<slot>/frame (prefix ksn48 unless --topic; '/', '+', '#'
and '%' in a serial become %2F, %2B, %23, %25). PREFIX/<crate>/<slot>/status
holds "online" or "offline" (retained; "offline" is also the last will), and
PREFIX/<crate>/<slot>/config the run's acquisition parameters (retained). The
broker never holds up the measurement or the rows: a broker that is away at the
start or goes away is said once on standard error, frames wait in a queue of
256 (the oldest dropped), and publishing resumes when it is back. The password
comes from --password-file, never from the command line; --tls-ca makes the
connection TLS (default port 8883 instead of 1883).

Examples:
  ksn48-measure --list
  ksn48-measure --frames 10
  ksn48-measure --channels 1-4 --reference 1 --metrics --frames 5
  ksn48-measure --crate KSN5-0042 --slot 3 --rate 39063 --channels 1-8 --reference 1 \
                --duration 60 --output bench.csv
  ksn48-measure --settings Ksn48_Vevu.ini --format ndjson --display --frames 1
  ksn48-measure --crate KSN5-0042 --slot 3 --reconnect --output day.csv
  ksn48-measure --duration 3600 --output day.csv --mqtt broker.lab --topic plant/line2

SIGINT or SIGTERM ends the run at once and cleanly (a second one ends the
program at once).

Exit codes:
  0  done (frames, duration or a signal)
  1  failure during the run (module, link, output)
  2  usage
  3  no server, crate or module
  4  configuration refused (channels, reference, data rate))";

}  // namespace ToolText
