#include "ToolOptions.h"

#include "AdcRates.h"
#include "ChannelEstimator.h"
#include "ModuleOptions.h"
#include "NumberText.h"
#include "ToolTexts.h"
#include "ksn48api.h"
#include "ksnapi.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <limits>

namespace tool {

namespace {

constexpr int ChannelCount = KSN48_CHANNEL_COUNT;
constexpr double LowCurrent = 2.86;   // mA, current source 0
constexpr double HighCurrent = 10.0;  // mA, current source 1

std::optional<double> Number(std::string_view text)
{
    double value = 0.0;
    if (!NumberText::TryStrToFloat(text, value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> WholeNumber(std::string_view text)
{
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// A CLI11 check from one of the parsers: the error text, or empty when the
// value is good.
template <typename Parser>
CLI::Validator Check(Parser parse, std::string description, std::string error)
{
    return CLI::Validator(
        [parse, error](std::string& text) { return parse(text) ? std::string() : error; },
        std::move(description));
}

std::optional<double> PositiveSeconds(std::string_view text)
{
    const std::optional<double> value = Number(text);
    if (!value || !std::isfinite(*value) || *value <= 0.0) {
        return std::nullopt;
    }
    return value;
}

std::string RateList()
{
    std::string list;
    for (auto it = device::AdcRateTable.rbegin(); it != device::AdcRateTable.rend(); ++it) {
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, it->Frequency);
        list += (list.empty() ? "" : ", ") + std::string(text, result.ptr);
    }
    return list;
}

}  // namespace

std::optional<int> ParseRate(std::string_view text)
{
    const std::optional<double> value = Number(text);
    if (!value) {
        return std::nullopt;
    }
    for (const device::AdcRateEntry& entry : device::AdcRateTable) {
        const std::optional<double> label = Number(entry.Label);
        if (*value == entry.Frequency || (label && *value == *label) ||
            *value == std::round(entry.Frequency)) {
            return entry.Index;
        }
    }
    return std::nullopt;
}

std::optional<ChannelSet> ParseChannelList(std::string_view text)
{
    ChannelSet channels{};
    bool any = false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(',', start);
        const std::string_view item = text.substr(start, end - start);
        const std::size_t dash = item.find('-');
        const std::optional<int> first = WholeNumber(item.substr(0, dash));
        const std::optional<int> last =
            dash == std::string_view::npos ? first : WholeNumber(item.substr(dash + 1));
        if (!first || !last || *first < 1 || *last > ChannelCount || *first > *last) {
            return std::nullopt;
        }
        for (int c = *first; c <= *last; ++c) {
            channels[static_cast<std::size_t>(c - 1)] = true;
        }
        any = true;
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    if (!any) {
        return std::nullopt;
    }
    return channels;
}

std::optional<std::uint8_t> ParseBits(std::string_view text)
{
    if (text == "20") {
        return std::uint8_t{0};
    }
    if (text == "24") {
        return std::uint8_t{1};
    }
    return std::nullopt;
}

std::optional<std::uint8_t> ParseCurrent(std::string_view text)
{
    const std::optional<double> value = Number(text);
    if (value && *value == LowCurrent) {
        return std::uint8_t{0};
    }
    if (value && *value == HighCurrent) {
        return std::uint8_t{1};
    }
    return std::nullopt;
}

namespace {

// The options of each group are added by Add, in the order --help lists
// them, and read into ToolOptions by Take once the line has parsed.

// How the module acquires and the frames are computed, and when the run ends.
struct AcquisitionOptions {
    std::string rate;
    std::string bits;
    std::string current;
    std::string channels;
    int reference = 0;
    std::string method;
    std::string amplitude;
    std::string maxTime;
    std::uint64_t frames = 0;
    std::string duration;
    CLI::Option* framesOption = nullptr;

    void Add(CLI::App& app)
    {
        app.add_option("--rate", rate, "ADC rate in Hz: " + RateList() + " (or 39063, ...)")
            ->type_name("HZ")
            ->check(Check(ParseRate, "", "not a rate of the table: " + RateList()));
        app.add_option("--bits", bits, "Data width: 20 or 24")
            ->type_name("20|24")
            ->check(Check(ParseBits, "", "the data width is 20 or 24"));
        app.add_option("--current", current, "Sensor current in mA: 2.86 or 10")
            ->type_name("2.86|10")
            ->check(Check(ParseCurrent, "", "the sensor current is 2.86 or 10"));
        app.add_option("--channels", channels, "Channels to acquire, such as 1-6 or 1,3,8")
            ->type_name("LIST")
            ->check(Check(ParseChannelList, "",
                          "a channel list such as 1-6 or 1,3,8 (channels 1 to 8)"));
        app.add_option("--reference", reference, "Channel the phases are measured against, 1 to 8")
            ->type_name("N")
            ->check(CLI::Range(1, ChannelCount).description(""));
        app.add_option("--method", method,
                       "Computation method; fit refines the fft estimate by a sine fit")
            ->type_name("fft|sum|fit")
            ->check(CLI::IsMember({std::string(measure::CalcMethodFftText),
                                   std::string(measure::CalcMethodSumText),
                                   std::string(measure::CalcMethodFitText)})
                        .description(""));
        app.add_option("--amplitude", amplitude, "RMS or peak amplitude")
            ->type_name("rms|amp")
            ->check(CLI::IsMember({"rms", "amp"}).description(""));
        app.add_option("--max-time", maxTime, "Longest acquisition time of a frame, in seconds")
            ->type_name("S")
            ->check(Check(PositiveSeconds, "", "a time in seconds above 0"));
        framesOption =
            app.add_option("--frames", frames, "Stop after N frames")
                ->type_name("N")
                ->check(CLI::Range(std::uint64_t{1}, std::numeric_limits<std::uint64_t>::max())
                            .description(""));
        CLI::Option* durationOption =
            app.add_option("--duration", duration, "Stop after S seconds")
                ->type_name("S")
                ->check(Check(PositiveSeconds, "", "a time in seconds above 0"));
        framesOption->excludes(durationOption);
    }

    void Take(ToolOptions& options) const
    {
        if (!rate.empty()) {
            options.RateIndex = ParseRate(rate);
        }
        if (!bits.empty()) {
            options.DataFormat = ParseBits(bits);
        }
        if (!current.empty()) {
            options.CurrentSource = ParseCurrent(current);
        }
        if (!channels.empty()) {
            options.Channels = ParseChannelList(channels);
        }
        if (reference != 0) {
            options.Reference = reference - 1;
        }
        if (!method.empty()) {
            options.Method = method;
        }
        if (!amplitude.empty()) {
            options.Amplitude = amplitude;
        }
        if (!maxTime.empty()) {
            options.MaxTime = PositiveSeconds(maxTime);
        }
        if (framesOption->count() > 0) {
            options.Frames = frames;
        }
        if (!duration.empty()) {
            options.Duration = PositiveSeconds(duration);
        }
    }
};

// What the rows look like and where they go; the flags write into options
// directly.
struct OutputOptions {
    std::string format = "csv";
    std::string output;

    void Add(CLI::App& app, ToolOptions& options)
    {
        app.add_option("--format", format, "Form of the rows")
            ->type_name("csv|ndjson")
            ->check(CLI::IsMember({"csv", "ndjson"}).description(""));
        app.add_option("--output", output, "Append the rows to FILE instead of standard output")
            ->type_name("FILE");
        app.add_flag("--display", options.Display,
                     "The window's display strings instead of full precision");
        app.add_flag("--metrics", options.Metrics,
                     "Per channel also THD and THD+N (%) and SNR (dB) of its spectrum (fft)");
        app.add_flag("--uncertainty", options.Uncertainty,
                     "Per channel also the standard uncertainty (k=1, type A: the frame's noise) "
                     "of each value and, with --metrics, SINAD (dB), ENOB (bits) and SFDR (dBc, "
                     "kHz); always with --method fit");
        app.add_flag("--reconnect", options.Reconnect,
                     "After a lost link, try every second until the module is back");
    }

    void Take(ToolOptions& options) const
    {
        options.Format =
            format == "ndjson" ? measure::ResultsSyntax::Ndjson : measure::ResultsSyntax::Csv;
        if (!output.empty() && output != "-") {
            options.Output = output;
        }
    }
};

// A CLI11 check from one of the feed's checks, which throw mqtt::OptionError.
template <typename Checker>
CLI::Validator FeedCheck(Checker check)
{
    return CLI::Validator(
        [check](std::string& text) {
            try {
                check(text);
            } catch (const mqtt::OptionError& e) {
                return std::string(e.what());
            }
            return std::string();
        },
        "");
}

// The MQTT feed of the frames.
struct FeedOptions {
    std::string broker;
    std::string topic;
    std::string clientId;
    int qos = 0;
    std::string username;
    std::string passwordFile;
    std::string tlsCa;
    CLI::Option* mqttOption = nullptr;

    void Add(CLI::App& app)
    {
        mqttOption =
            app.add_option("--mqtt", broker, "Publish every frame to this MQTT broker as well")
                ->type_name("HOST[:PORT]")
                ->check(FeedCheck([](const std::string& text) { mqtt::ParseBrokerAddress(text); }));
        app.add_option("--topic", topic, "Topic prefix of the messages (default ksn48)")
            ->type_name("PREFIX")
            ->needs(mqttOption)
            ->check(FeedCheck([](const std::string& text) { mqtt::CheckTopicPrefix(text); }));
        app.add_option("--client-id", clientId, "MQTT client id (default: one the library makes)")
            ->type_name("ID")
            ->needs(mqttOption)
            ->check(FeedCheck([](const std::string& text) { mqtt::CheckClientId(text); }));
        app.add_option("--qos", qos, "MQTT quality of service of the messages")
            ->type_name("0|1")
            ->needs(mqttOption)
            ->check(CLI::Range(0, 1).description(""));
        CLI::Option* usernameOption = app.add_option("--username", username, "MQTT user name")
                                          ->type_name("U")
                                          ->needs(mqttOption);
        app.add_option("--password-file", passwordFile,
                       "File whose first line is the MQTT password (never on the command line)")
            ->type_name("F")
            ->needs(usernameOption);
        app.add_option("--tls-ca", tlsCa, "TLS to the broker, trusting this CA certificate file")
            ->type_name("FILE")
            ->needs(mqttOption)
            ->check(CLI::ExistingFile.description(""));
    }

    // False, with the usage error said on err, when the password file fails.
    bool Take(ToolOptions& options, std::ostream& err) const
    {
        if (mqttOption->count() == 0) {
            return true;
        }
        mqtt::BrokerOptions mqttOptions;
        const mqtt::BrokerAddress address = mqtt::ParseBrokerAddress(broker);
        mqttOptions.Host = address.Host;
        mqttOptions.Port =
            address.Port.value_or(tlsCa.empty() ? mqtt::DefaultPort : mqtt::DefaultTlsPort);
        if (!topic.empty()) {
            mqttOptions.TopicPrefix = topic;
        }
        mqttOptions.ClientId = clientId;
        mqttOptions.Qos = qos;
        mqttOptions.Username = username;
        mqttOptions.TlsCaFile = tlsCa;
        if (!passwordFile.empty()) {
            try {
                mqttOptions.Password = mqtt::ReadPasswordFile(passwordFile);
            } catch (const mqtt::OptionError& e) {
                err << "--password-file: " << e.what()
                    << "\nRun with --help for more information.\n";
                return false;
            }
        }
        options.Mqtt = std::move(mqttOptions);
        return true;
    }
};

// --list and --json, which take none of the measuring options.
struct ListOptions {
    std::vector<CLI::Option*> measuring;
    CLI::Option* listOption = nullptr;

    // After every other group: they all belong to a measurement.
    void Add(CLI::App& app, ToolOptions& options)
    {
        measuring = app.get_options([](const CLI::Option* option) {
            return option->get_name() != "--help" && option->get_name() != "--version";
        });
        listOption = app.add_flag("--list", options.List,
                                  "List the crates and KSN48 modules the server has");
        app.add_flag("--json", options.Json, "The list as JSON")->needs(listOption);
    }

    // False, with the usage error said on err, when a list came with a
    // measuring option.
    bool Allowed(const ToolOptions& options, std::ostream& err) const
    {
        if (!options.List) {
            return true;
        }
        for (const CLI::Option* option : measuring) {
            if (option->count() > 0) {
                // Said as the parser says its own misuse.
                err << listOption->get_name() << " excludes " << option->get_name()
                    << "\nRun with --help for more information.\n";
                return false;
            }
        }
        return true;
    }
};

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err)
{
    CLI::App app(std::string(ToolText::Description), std::string(ToolText::ProgramName));
    app.footer(std::string(ToolText::Footer));
    app.set_version_flag("--version", std::string(ToolText::ProgramName) + " " + KSN_TOOL_VERSION);
    app.get_formatter()->column_width(34);

    ToolOptions options;
    ModuleOptionGroup module;
    AcquisitionOptions acquisition;
    OutputOptions output;
    FeedOptions feed;
    ListOptions list;
    // Which module: crate, slot, or the window's settings file.
    module.Add(app, "A settings file of the window (Ksn48_Vevu.ini) to take the setup from");
    acquisition.Add(app);
    output.Add(app, options);
    feed.Add(app);
    list.Add(app, options);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return {std::nullopt, code == 0 ? ExitDone : ExitUsage};
    }
    if (!list.Allowed(options, err)) {
        return {std::nullopt, ExitUsage};
    }
    module.Take(options);
    acquisition.Take(options);
    output.Take(options);
    if (!feed.Take(options, err)) {
        return {std::nullopt, ExitUsage};
    }
    return {options, ExitDone};
}

}  // namespace tool
