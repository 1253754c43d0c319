#pragma once

#include "BrokerOptions.h"
#include "ResultsWriter.h"
#include "ksn48api.h"

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace tool {

// Exit codes of ksn48-measure.
enum ExitCode : int {
    ExitDone = 0,
    ExitRunFailure = 1,  // during the run: module, link, output
    ExitUsage = 2,
    ExitNoDevice = 3,  // no server, crate or module
    ExitRefused = 4,   // the measurement's configuration refused
};

using ChannelSet = std::array<bool, KSN48_CHANNEL_COUNT>;

// The command line, checked. A value that was not given is empty.
struct ToolOptions {
    std::optional<std::string> Crate;
    std::optional<int> Slot;  // 1 .. 16
    std::optional<std::string> SettingsPath;
    std::optional<int> RateIndex;               // index of the ADC rate list
    std::optional<std::uint8_t> DataFormat;     // 0 = 20-bit, 1 = 24-bit
    std::optional<std::uint8_t> CurrentSource;  // 0 = 2.86 mA, 1 = 10 mA
    std::optional<ChannelSet> Channels;         // physical channels 0 .. 7
    std::optional<int> Reference;               // physical channel 0 .. 7
    std::optional<std::string> Method;          // "fft", "sum" or "fit"
    std::optional<std::string> Amplitude;       // "rms" or "amp"
    std::optional<double> MaxTime;              // seconds
    std::optional<std::uint64_t> Frames;
    std::optional<double> Duration;  // seconds
    measure::ResultsSyntax Format = measure::ResultsSyntax::Csv;
    std::optional<std::string> Output;  // none or "-": standard output
    bool Display = false;
    // THD, THD+N and SNR columns per channel.
    bool Metrics = false;
    // The uncertainty columns per channel and, with Metrics, the converter's
    // figures; always on with the "fit" method.
    bool Uncertainty = false;
    bool List = false;
    bool Json = false;
    bool Reconnect = false;
    // Every frame to an MQTT broker as well; the password already read from
    // its file.
    std::optional<mqtt::BrokerOptions> Mqtt;
};

struct ParsedCommandLine {
    std::optional<ToolOptions> Options;  // empty: end with ExitCode
    int ExitCode = ExitDone;
};

// Parses and checks the arguments; help and version go to out, usage
// errors to err.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

// The ADC rate list index of a rate of the table (78125, 39062.5, ...,
// 610.3515625 Hz), of its list label's number (39063.0, 9765.63, ...) or of
// the rate rounded to whole hertz (39063, 9766, ...).
std::optional<int> ParseRate(std::string_view text);
// "1-6", "1,3,8", "1-3,7": 1-based channels and ranges, at least one.
std::optional<ChannelSet> ParseChannelList(std::string_view text);
// "20" or "24" bits: data format 0 or 1.
std::optional<std::uint8_t> ParseBits(std::string_view text);
// "2.86" or "10" mA: current source 0 or 1.
std::optional<std::uint8_t> ParseCurrent(std::string_view text);

}  // namespace tool
