// The command line of ksn48-measure: its values, and every misuse ending in
// the usage exit code with a message.
#include "ToolOptions.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using tool::ChannelSet;
using tool::ParseChannelList;
using tool::ParseRate;

TEST(ToolOptions, RatesAreTheTablesByValueLabelOrWholeHertz)
{
    struct Case {
        const char* text;
        int index;
    };
    const Case good[] = {
        {"78125", 7},       {"78125.0", 7},    {"39062.5", 6},   {"39063", 6},
        {"39063.0", 6},     {"19531.25", 5},   {"19531", 5},     {"9765.625", 4},
        {"9765.63", 4},     {"9766", 4},       {"4882.8125", 3}, {"4882.81", 3},
        {"4883", 3},        {"2441.40625", 2}, {"2441.41", 2},   {"2441", 2},
        {"1220.703125", 1}, {"1220.70", 1},    {"1221", 1},      {"610.3515625", 0},
        {"610.352", 0},     {"610", 0},        {" 39063 ", 6},   {"7.8125e4", 7},
    };
    for (const Case& c : good) {
        EXPECT_EQ(ParseRate(c.text), c.index) << c.text;
    }
    for (const char* text : {"", "39062", "39064", "1000", "7", "0", "-78125", "78125x", "fast",
                             "78,125", "inf", "nan"}) {
        EXPECT_FALSE(ParseRate(text)) << text;
    }
}

TEST(ToolOptions, ChannelListsAreOneBasedChannelsAndRanges)
{
    const auto set = [](std::initializer_list<int> channels) {
        ChannelSet s{};
        for (const int c : channels) {
            s[static_cast<std::size_t>(c - 1)] = true;
        }
        return s;
    };
    EXPECT_EQ(ParseChannelList("1-6"), set({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ParseChannelList("1,3,8"), set({1, 3, 8}));
    EXPECT_EQ(ParseChannelList("1-3,7"), set({1, 2, 3, 7}));
    EXPECT_EQ(ParseChannelList("8"), set({8}));
    EXPECT_EQ(ParseChannelList("1-8"), set({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(ParseChannelList("2,2,1-2"), set({1, 2}));
    EXPECT_EQ(ParseChannelList("4-4"), set({4}));
    for (const char* text : {"", "0", "9", "1-9", "0-3", "6-1", "1,,3", ",1", "1,", "1-", "-3", "a",
                             "1 2", "1-3-5", "+1", "1.0"}) {
        EXPECT_FALSE(ParseChannelList(text)) << text;
    }
}

struct Parsed {
    tool::ParsedCommandLine result;
    std::string out;
    std::string err;
};

Parsed Parse(const std::vector<std::string>& args)
{
    std::vector<const char*> argv{"ksn48-measure"};
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    Parsed parsed{
        tool::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err), {}, {}};
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

TEST(ToolOptions, EveryFlagIsTaken)
{
    const Parsed p = Parse({"--crate",     "KSN5-0042",  "--slot",
                            "3",           "--settings", KSN_SETTINGS_TEST_DATA "/edited.ini",
                            "--rate",      "39063",      "--bits",
                            "24",          "--current",  "10",
                            "--channels",  "1,3-4",      "--reference",
                            "3",           "--method",   "sum",
                            "--amplitude", "amp",        "--max-time",
                            "2.5",         "--frames",   "7",
                            "--format",    "ndjson",     "--output",
                            "log.ndjson",  "--display"});
    ASSERT_TRUE(p.result.Options) << p.err;
    const tool::ToolOptions& o = *p.result.Options;
    EXPECT_EQ(o.Crate, "KSN5-0042");
    EXPECT_EQ(o.Slot, 3);
    EXPECT_EQ(o.SettingsPath, KSN_SETTINGS_TEST_DATA "/edited.ini");
    EXPECT_EQ(o.RateIndex, 6);
    EXPECT_EQ(o.DataFormat, 1);
    EXPECT_EQ(o.CurrentSource, 1);
    EXPECT_EQ(o.Channels, (ChannelSet{true, false, true, true, false, false, false, false}));
    EXPECT_EQ(o.Reference, 2);  // physical channel
    EXPECT_EQ(o.Method, "sum");
    EXPECT_EQ(o.Amplitude, "amp");
    EXPECT_EQ(o.MaxTime, 2.5);
    EXPECT_EQ(o.Frames, 7u);
    EXPECT_FALSE(o.Duration);
    EXPECT_EQ(o.Format, measure::ResultsSyntax::Ndjson);
    EXPECT_EQ(o.Output, "log.ndjson");
    EXPECT_TRUE(o.Display);

    const Parsed none =
        Parse({"--duration", "1.5", "--output", "-", "--bits", "20", "--current", "2.86"});
    ASSERT_TRUE(none.result.Options) << none.err;
    const tool::ToolOptions& n = *none.result.Options;
    EXPECT_FALSE(n.Crate || n.Slot || n.SettingsPath || n.RateIndex || n.Channels || n.Reference ||
                 n.Method || n.Amplitude || n.MaxTime || n.Frames || n.Output);
    EXPECT_EQ(n.Duration, 1.5);
    EXPECT_EQ(n.DataFormat, 0);
    EXPECT_EQ(n.CurrentSource, 0);
    EXPECT_EQ(n.Format, measure::ResultsSyntax::Csv);
    EXPECT_FALSE(n.Display || n.List || n.Json || n.Reconnect);

    // A crate or a slot may come alone.
    const Parsed crate = Parse({"--crate", "KSN1-0107", "--reconnect"});
    ASSERT_TRUE(crate.result.Options) << crate.err;
    EXPECT_EQ(crate.result.Options->Crate, "KSN1-0107");
    EXPECT_FALSE(crate.result.Options->Slot);
    EXPECT_TRUE(crate.result.Options->Reconnect);
    const Parsed slot = Parse({"--slot", "5"});
    ASSERT_TRUE(slot.result.Options) << slot.err;
    EXPECT_FALSE(slot.result.Options->Crate);
    EXPECT_EQ(slot.result.Options->Slot, 5);

    const Parsed list = Parse({"--list", "--json"});
    ASSERT_TRUE(list.result.Options) << list.err;
    EXPECT_TRUE(list.result.Options->List && list.result.Options->Json);
}

TEST(ToolOptions, MisuseEndsWithTheUsageCodeAndSaysWhat)
{
    struct Case {
        std::vector<std::string> args;
        const char* said;  // part of the message
    };
    const Case cases[] = {
        {{"--list", "--crate", "KSN5-0042"}, "--list excludes --crate"},
        {{"--list", "--frames", "2"}, "--list excludes --frames"},
        {{"--list", "--reconnect"}, "--list excludes --reconnect"},
        {{"--list", "--output", "log.csv"}, "--list excludes --output"},
        {{"--crate", "KSN5-0042", "--slot", "17"}, "--slot"},
        {{"--crate", "KSN5-0042", "--slot", "0"}, "--slot"},
        {{"--crate", "KSN5-0042", "--slot", "three"}, "--slot"},
        {{"--crate", "KSN5-0042-and-more", "--slot", "3"}, "1 to 15"},
        {{"--rate", "40000"}, "not a rate of the table"},
        {{"--bits", "16"}, "20 or 24"},
        {{"--current", "5"}, "2.86 or 10"},
        {{"--channels", "0-3"}, "channel list"},
        {{"--channels", ""}, "channel list"},
        {{"--reference", "9"}, "--reference"},
        {{"--method", "dft"}, "--method"},
        {{"--amplitude", "peak"}, "--amplitude"},
        {{"--max-time", "-1"}, "above 0"},
        {{"--max-time", "inf"}, "above 0"},
        {{"--frames", "0"}, "--frames"},
        {{"--frames", "2", "--duration", "1"}, "excludes"},
        {{"--duration", "0"}, "above 0"},
        {{"--format", "xml"}, "--format"},
        {{"--json"}, "--list"},
        {{"--settings", "/nonexistent/Ksn48_Vevu.ini"}, "--settings"},
        {{"--frames"}, "--frames"},
        {{"extra"}, "extra"},
        {{"--colour"}, "--colour"},
        {{"--list", "--mqtt", "127.0.0.1"}, "--list excludes --mqtt"},
        {{"--topic", "lab"}, "--mqtt"},
        {{"--qos", "1"}, "--mqtt"},
        {{"--mqtt", ""}, "names no host"},
        {{"--mqtt", "broker:0"}, "port from 1 to 65535"},
        {{"--mqtt", "::1"}, "[ADDRESS]:PORT"},
        {{"--mqtt", "broker", "--topic", "lab/#"}, "wildcard"},
        {{"--mqtt", "broker", "--topic", "lab//x"}, "empty level"},
        {{"--mqtt", "broker", "--qos", "2"}, "--qos"},
        {{"--mqtt", "broker", "--client-id", "bench 7"}, "the client id"},
        {{"--mqtt", "broker", "--password-file", KSN_SETTINGS_TEST_DATA "/default.ini"},
         "--password-file requires --username"},
        {{"--mqtt", "broker", "--username", "u", "--password-file", "/nonexistent/password"},
         "'/nonexistent/password' cannot be read"},
        {{"--mqtt", "broker", "--username", "u", "--password-file", "/"}, "is a folder"},
        {{"--mqtt", "broker", "--tls-ca", "/nonexistent/ca.pem"}, "--tls-ca"},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.args);
        SCOPED_TRACE(c.args[0]);
        EXPECT_FALSE(p.result.Options);
        EXPECT_EQ(p.result.ExitCode, tool::ExitUsage);
        EXPECT_NE(p.err.find(c.said), std::string::npos) << p.err;
        EXPECT_TRUE(p.out.empty());
    }
}

TEST(ToolOptions, TheBrokerFlagsAreTakenAndThePasswordComesFromItsFile)
{
    std::string name =
        std::filesystem::temp_directory_path().string() + "/ksn-tool-password-XXXXXX";
    const int fd = ::mkstemp(name.data());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "pa ss\n", 6), 6);
    ::close(fd);
    const Parsed p =
        Parse({"--mqtt", "[::1]:1884", "--topic", "plant/line2", "--client-id", "bench-7", "--qos",
               "1", "--username", "bench", "--password-file", name});
    ::unlink(name.c_str());
    ASSERT_TRUE(p.result.Options) << p.err;
    ASSERT_TRUE(p.result.Options->Mqtt);
    const mqtt::BrokerOptions& m = *p.result.Options->Mqtt;
    EXPECT_EQ(m.Host, "::1");
    EXPECT_EQ(m.Port, 1884);
    EXPECT_EQ(m.TopicPrefix, "plant/line2");
    EXPECT_EQ(m.ClientId, "bench-7");
    EXPECT_EQ(m.Qos, 1);
    EXPECT_EQ(m.Username, "bench");
    EXPECT_EQ(m.Password, "pa ss");
    EXPECT_TRUE(m.TlsCaFile.empty());

    // The defaults: prefix ksn48, QoS 0, the plain port, or the TLS port
    // with a CA.
    const Parsed plain = Parse({"--mqtt", "broker.lab"});
    ASSERT_TRUE(plain.result.Options && plain.result.Options->Mqtt) << plain.err;
    EXPECT_EQ(plain.result.Options->Mqtt->Port, 1883);
    EXPECT_EQ(plain.result.Options->Mqtt->TopicPrefix, "ksn48");
    EXPECT_EQ(plain.result.Options->Mqtt->Qos, 0);
    const Parsed tls =
        Parse({"--mqtt", "broker.lab", "--tls-ca", KSN_SETTINGS_TEST_DATA "/default.ini"});
    ASSERT_TRUE(tls.result.Options && tls.result.Options->Mqtt) << tls.err;
    EXPECT_EQ(tls.result.Options->Mqtt->Port, 8883);
    EXPECT_EQ(tls.result.Options->Mqtt->TlsCaFile, KSN_SETTINGS_TEST_DATA "/default.ini");
    EXPECT_FALSE(Parse({"--frames", "1"}).result.Options->Mqtt);

    const Parsed help = Parse({"--help"});
    for (const char* part : {"--mqtt HOST[:PORT]", "--topic PREFIX", "--qos 0|1",
                             "--password-file F", "--tls-ca FILE", "/frame"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
}

TEST(ToolOptions, HelpShowsExamplesAndExitCodesAndVersionItsNumber)
{
    const Parsed help = Parse({"--help"});
    EXPECT_FALSE(help.result.Options);
    EXPECT_EQ(help.result.ExitCode, tool::ExitDone);
    for (const char* part :
         {"--crate SERIAL", "--channels LIST", "--list", "--reconnect",
          "Examples:", "Exit codes:", "4  configuration refused", "ch<n>_inband", "\"lost\""}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
    const Parsed version = Parse({"--version"});
    EXPECT_FALSE(version.result.Options);
    EXPECT_EQ(version.result.ExitCode, tool::ExitDone);
    EXPECT_EQ(version.out.rfind("ksn48-measure ", 0), 0u) << version.out;
}

TEST(ToolOptions, MetricsAreAMeasurementFlag)
{
    const Parsed on = Parse({"--metrics", "--display", "--frames", "2"});
    ASSERT_TRUE(on.result.Options) << on.err;
    EXPECT_TRUE(on.result.Options->Metrics);
    const Parsed off = Parse({"--frames", "2"});
    ASSERT_TRUE(off.result.Options) << off.err;
    EXPECT_FALSE(off.result.Options->Metrics);
    const Parsed list = Parse({"--list", "--metrics"});
    EXPECT_FALSE(list.result.Options);
    EXPECT_EQ(list.result.ExitCode, tool::ExitUsage);
    EXPECT_NE(list.err.find("--list excludes --metrics"), std::string::npos) << list.err;
}

}  // namespace
