// ksn48-measure as an operator or a script runs it, against a crate server
// of the test's own (built-in population, fast mode): its list, its pick of
// the module, its rows, the window's refusals, its exit codes, and how it
// ends on a signal, a dead server, a closed pipe and a full disk, or goes on
// after a lost link.
#include "CrateServer.h"
#include "MqttBroker.h"
#include "DataRateBudget.h"
#include "IniFile.h"
#include "Settings.h"
#include "SettingsNames.h"
#include "TestDirectory.h"
#include "ksn48api.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Runs of the tool on a loaded machine take their time; a hang still fails.
constexpr auto RunTimeout = 60s;

const std::string SettingsData = KSN_SETTINGS_TEST_DATA;

const std::vector<std::string> NamedModule = {"--crate", "KSN5-0042", "--slot", "3"};

std::vector<std::string> With(std::vector<std::string> args)
{
    args.insert(args.begin(), NamedModule.begin(), NamedModule.end());
    return args;
}

// The environment of this process with some variables set.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& variables)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& v : variables) {
            replaced = replaced || v.substr(0, v.find('=')) == name;
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), variables.begin(), variables.end());
    return env;
}

// The tool started with its standard output and error on the given
// descriptors, and these variables set.
pid_t Spawn(const std::vector<std::string>& args, int out, int err,
            const std::vector<std::string>& variables = {})
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    std::vector<char*> argv;
    const std::string path = KSN_MEASURE_TOOL;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> env = EnvironmentWith(variables);
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) {
        throw std::runtime_error("cannot start " + path);
    }
    return pid;
}

// The exit code, or nothing when the tool has not ended in time (it is then
// killed) or ended by a signal.
std::optional<int> WaitFor(pid_t pid, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(5ms);
    }
    if (!WIFEXITED(status)) {
        return std::nullopt;
    }
    return WEXITSTATUS(status);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(',', start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos) {
            return fields;
        }
        start = end + 1;
    }
}

// A CSV log as column name -> value, one map per row.
struct CsvLog {
    std::vector<std::string> Header;
    std::vector<std::vector<std::string>> Rows;

    std::string At(std::size_t row, const std::string& column) const
    {
        for (std::size_t i = 0; i < Header.size(); ++i) {
            if (Header[i] == column) {
                return Rows.at(row).at(i);
            }
        }
        ADD_FAILURE() << "no column " << column;
        return {};
    }
    double Number(std::size_t row, const std::string& column) const
    {
        return std::strtod(At(row, column).c_str(), nullptr);
    }
};

CsvLog ParseCsv(const std::string& text)
{
    CsvLog log;
    const auto lines = Lines(text);
    if (lines.empty()) {
        ADD_FAILURE() << "no header";
        return log;
    }
    log.Header = Fields(lines[0]);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        log.Rows.push_back(Fields(lines[i]));
        EXPECT_EQ(log.Rows.back().size(), log.Header.size()) << "row " << i << ": " << lines[i];
    }
    return log;
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// The summary the tool ends with: "N frames written to ...".
std::optional<unsigned long> FramesReported(const std::string& err)
{
    const std::size_t at = err.rfind(" written to ");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t start = err.rfind(": ", at);
    return std::stoul(err.substr(start + 2));
}

class MeasureTool : public ::testing::Test {
protected:
    struct Result {
        std::optional<int> Code;
        std::string Out;
        std::string Err;
    };

    Result Run(const std::vector<std::string>& args, const std::vector<std::string>& variables = {})
    {
        const std::string outPath = dir.File("stdout");
        const std::string errPath = dir.File("stderr");
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t pid = Spawn(args, out, err, variables);
        ::close(out);
        ::close(err);
        Result r;
        r.Code = WaitFor(pid, RunTimeout);
        r.Out = ReadBytes(outPath);
        r.Err = ReadBytes(errPath);
        return r;
    }

    // Started with its rows going to a file (through --output) and its
    // messages to another.
    pid_t Start(const std::vector<std::string>& args)
    {
        const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        const int err =
            ::open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t pid = Spawn(args, out, err);
        ::close(out);
        ::close(err);
        return pid;
    }

    // Waits until the file holds at least rows rows after its header.
    bool WaitForRows(const std::string& path, std::size_t rows)
    {
        const auto deadline = Clock::now() + RunTimeout;
        while (Clock::now() < deadline) {
            std::string bytes;
            try {
                bytes = ReadBytes(path);
            } catch (const std::runtime_error&) {
            }
            if (Count(bytes, "\n") >= rows + 1) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    // Waits until the file holds text.
    bool WaitForText(const std::string& path, const std::string& text)
    {
        const auto deadline = Clock::now() + RunTimeout;
        while (Clock::now() < deadline) {
            if (ReadBytes(path).find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    // Every row whole and numbered from 1, as many as the tool reported.
    void ExpectWholeRowsAsReported(const std::string& path, std::size_t columns)
    {
        const std::string bytes = ReadBytes(path);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes.back(), '\n') << "a partial row at the end";
        const CsvLog log = ParseCsv(bytes);
        EXPECT_EQ(log.Header.size(), columns);
        for (std::size_t i = 0; i < log.Rows.size(); ++i) {
            EXPECT_EQ(log.At(i, "frame"), std::to_string(i + 1));
        }
        const auto reported = FramesReported(ReadBytes(dir.File("stderr")));
        ASSERT_TRUE(reported) << ReadBytes(dir.File("stderr"));
        EXPECT_EQ(*reported, log.Rows.size());
    }

    TestDirectory dir;
    ksn::test::CrateServer server;
};

TEST_F(MeasureTool, MeasuresTheNamedModuleAsTheWindowShowsIt)
{
    const Result r =
        Run(With({"--rate", "78125", "--channels", "1-6", "--reference", "1", "--frames", "3"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    const CsvLog log = ParseCsv(r.Out);
    ASSERT_EQ(log.Rows.size(), 3u) << r.Out;
    ASSERT_EQ(log.Header.size(), 2u + 6u * 5u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        EXPECT_EQ(log.At(i, "frame"), std::to_string(i + 1));
        EXPECT_EQ(log.At(i, "time").size(), 24u) << log.At(i, "time");
        // Within the display's last digit.
        EXPECT_NEAR(log.Number(i, "ch1_mV"), 707.11, 0.01);
        EXPECT_NEAR(log.Number(i, "ch1_kHz"), 1.0, 0.00001);
        EXPECT_NEAR(log.Number(i, "ch1_deg"), 0.0, 0.001);
        EXPECT_NEAR(log.Number(i, "ch2_mV"), 353.55, 0.01);
        EXPECT_NEAR(log.Number(i, "ch2_deg"), 30.0, 0.001);
        EXPECT_NEAR(log.Number(i, "ch3_deg"), -90.0, 0.001);
        EXPECT_NEAR(log.Number(i, "ch5_deg"), 120.0, 0.001);
        for (int c = 1; c <= 6; ++c) {
            EXPECT_EQ(log.At(i, "ch" + std::to_string(c) + "_status"), "ok");
            EXPECT_EQ(log.At(i, "ch" + std::to_string(c) + "_inband"), "1");
        }
    }
    EXPECT_LT(log.At(0, "time"), log.At(2, "time"));
    EXPECT_NE(r.Err.find("3 frames written to standard output"), std::string::npos) << r.Err;

    // The same frames as the window's display strings.
    const Result shown = Run(With({"--rate", "78125", "--channels", "1-6", "--reference", "1",
                                   "--frames", "1", "--display"}));
    ASSERT_EQ(shown.Code, 0) << shown.Err;
    const CsvLog display = ParseCsv(shown.Out);
    ASSERT_EQ(display.Rows.size(), 1u);
    EXPECT_EQ(display.At(0, "ch1_mV"), "707.11");
    EXPECT_EQ(display.At(0, "ch1_kHz"), "1.00000");
    EXPECT_EQ(display.At(0, "ch2_mV"), "353.55");
    EXPECT_EQ(display.At(0, "ch2_deg"), "30.000");
    EXPECT_EQ(display.At(0, "ch3_deg"), "-90.000");
    EXPECT_EQ(display.At(0, "ch5_deg"), "120.000");
}

TEST_F(MeasureTool, OpenAndShortedChannelsAreMarked)
{
    // Eight channels fit the crate's budget at 39062.5 Hz.
    const Result r = Run(With({"--rate", "39063", "--channels", "1-8", "--reference", "1",
                               "--frames", "2", "--format", "ndjson"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 2u) << r.Out;
    for (const std::string& line : lines) {
        const nlohmann::json row = nlohmann::json::parse(line);
        EXPECT_EQ(row["ch7_status"], "open");
        EXPECT_EQ(row["ch8_status"], "short");
        for (const char* key : {"ch7_mV", "ch7_kHz", "ch7_deg", "ch8_mV", "ch8_kHz", "ch8_deg"}) {
            EXPECT_TRUE(row[key].is_null()) << key;
        }
        EXPECT_NEAR(row["ch4_deg"].get<double>(), 45.0, 0.001);
        EXPECT_NEAR(row["ch3_mV"].get<double>(), 1414.21, 0.01);
    }
}

// Readings the method cannot vouch for keep their numbers and say so; at
// 78125 Hz and 0.75 s a bin is 1.19 Hz and half the rate is 39062.5 Hz.
TEST_F(MeasureTool, ReadingsTheMethodCannotVouchForAreMarked)
{
    TestDirectory files;
    const std::string config = files.File("crates.json");
    const auto sine = [](double amplitude, double frequency) {
        return R"({"sines": [{"amplitude": )" + std::to_string(amplitude) + R"(, "frequency": )" +
               std::to_string(frequency) + "}]}";
    };
    WriteBytes(config, R"({"crates": [{"serial": "KSN5-0042", "type": 40, "slots": [{"slot": 3, )"
                       R"("ksn48": {"serial": "4811001", "firmware": 12, "channels": [)" +
                           sine(1.0, 1000.0) + "," + sine(1.0, 10.0) + "," + sine(1.0, 39060.5) +
                           R"(, {"dc": 0.5}, )" + sine(8.0, 1000.0) +
                           R"(, {"status": "open"}]}}]}]})");
    ksn::test::CrateServer own({}, true, {"--control", "--config", config});
    const auto columns = [](const CsvLog& log, int c) {
        const std::string n = "ch" + std::to_string(c);
        return std::vector<std::string>{log.At(0, n + "_status"), log.At(0, n + "_inband"),
                                        log.At(0, n + "_kHz").empty() ? "" : "kHz",
                                        log.At(0, n + "_deg").empty() ? "" : "deg"};
    };
    // Against channel 1, a clean 1 kHz tone.
    const Result r =
        Run(With({"--rate", "78125", "--channels", "1-5", "--reference", "1", "--frames", "1"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    const CsvLog log = ParseCsv(r.Out);
    ASSERT_EQ(log.Rows.size(), 1u) << r.Out;
    using Row = std::vector<std::string>;
    EXPECT_EQ(columns(log, 1), (Row{"ok", "1", "kHz", "deg"}));
    EXPECT_EQ(columns(log, 2), (Row{"ok", "0", "kHz", "deg"}));  // 10 Hz
    EXPECT_EQ(columns(log, 3), (Row{"ok", "0", "kHz", "deg"}));  // 2 Hz below half the rate
    EXPECT_EQ(columns(log, 4), (Row{"notone", "0", "", ""}));    // DC only
    EXPECT_EQ(columns(log, 5), (Row{"overrange", "1", "kHz", "deg"}));
    EXPECT_FALSE(log.At(0, "ch4_mV").empty());
    EXPECT_LT(log.Number(0, "ch5_mV"), 5000.0);  // clipped: reads low, but is there

    // Against the open channel 6: no phase anywhere.
    const Result open =
        Run(With({"--rate", "39063", "--channels", "1-6", "--reference", "6", "--frames", "1"}));
    ASSERT_EQ(open.Code, 0) << open.Err;
    const CsvLog against = ParseCsv(open.Out);
    ASSERT_EQ(against.Rows.size(), 1u) << open.Out;
    for (int c = 1; c <= 6; ++c) {
        EXPECT_EQ(against.At(0, "ch" + std::to_string(c) + "_deg"), "") << c;
    }
    EXPECT_NEAR(against.Number(0, "ch1_kHz"), 1.0, 1e-5);
}

TEST_F(MeasureTool, RefusesWhatTheWindowRefusesInItsWords)
{
    TestDirectory files;
    const std::string noChannels = files.File("none.ini");
    WriteBytes(noChannels, ReadBytes(SettingsData + "/default.ini"));
    {
        // Every channel off in a settings file of the window.
        IniFile file(noChannels);
        for (int channel = 1; channel <= Settings::ChannelCount; ++channel) {
            file.WriteBool(SettingsNames::ModuleSection, Settings::ChannelKey(channel), false);
        }
        file.UpdateFile();
    }

    const std::string dataRate =
        device::CheckDataRate(3, 78125.0, 0, 21, "KSN-P1", "KSN48").Message;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string said;
    };
    const Case cases[] = {
        {"data rate of the type-21 crate",
         {"--crate", "KSN1-0107", "--slot", "1", "--rate", "78125", "--channels", "1-3", "--frames",
          "1"},
         dataRate},
        {"24-bit data at the type-40 crate",
         With({"--rate", "78125", "--bits", "24", "--channels", "1-4", "--frames", "1"}),
         device::CheckDataRate(4, 78125.0, 1, 40, "KSN-P5", "KSN48").Message},
        {"reference not acquired", With({"--channels", "2-4", "--reference", "1", "--frames", "1"}),
         "Опорный канал сдвига фаз не является активным!!!"},
        {"no channel", With({"--settings", noChannels, "--frames", "1"}),
         "Необходимо выбрать не менне одного активного канала!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Run(c.args);
        EXPECT_EQ(r.Code, 4) << r.Err;
        EXPECT_NE(r.Err.find("ksn48-measure: " + c.said + "\n"), std::string::npos) << r.Err;
        EXPECT_EQ(r.Out, "") << "nothing written for a refused run";
    }
}

TEST_F(MeasureTool, AModuleThatCannotBeReachedEndsWithCodeThree)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* said;
    };
    const Case cases[] = {
        {"no module in the slot",
         {"--crate", "KSN5-0042", "--slot", "4"},
         "Не могу проинициализировать модуль в указанном слоте!"},
        {"another module type",
         {"--crate", "KSN5-0042", "--slot", "1"},
         "Не могу проинициализировать модуль в указанном слоте!"},
        {"no such crate",
         {"--crate", "KSN9-0001", "--slot", "1"},
         "Не могу проинициализировать KSN крейт с модулями в указанном слоте!"},
        // Named alone, a crate or a slot must be there all the same.
        {"a slot alone that the first crate lacks",
         {"--slot", "4"},
         "Не могу проинициализировать модуль в указанном слоте!"},
        {"a crate alone that is not there",
         {"--crate", "KSN9-0001"},
         "Не могу проинициализировать KSN крейт с модулями в указанном слоте!"},
    };
    const std::string output = dir.File("never.csv");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--frames", "1", "--output", output});
        const Result r = Run(args);
        EXPECT_EQ(r.Code, 3) << r.Err;
        EXPECT_NE(r.Err.find(c.said), std::string::npos) << r.Err;
        EXPECT_NE(::access(output.c_str(), F_OK), 0) << "a file made for a run that never began";
    }
    server.Stop();
    const Result r = Run(With({"--frames", "1"}));
    EXPECT_EQ(r.Code, 3) << r.Err;
    EXPECT_NE(r.Err.find("Не могу найти ни одного KSN крейта!"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("KSN_ERR_CONNECT"), std::string::npos) << r.Err;
}

TEST_F(MeasureTool, SettingsSavedByTheWindowRunUnchanged)
{
    // The default file: the window's default setup.
    const Result defaults =
        Run(With({"--settings", SettingsData + "/default.ini", "--frames", "1", "--display"}));
    ASSERT_EQ(defaults.Code, 0) << defaults.Err;
    const CsvLog d = ParseCsv(defaults.Out);
    ASSERT_EQ(d.Rows.size(), 1u);
    EXPECT_EQ(d.Header.size(), 2u + 6u * 5u);  // channels 1 to 6
    EXPECT_EQ(d.At(0, "ch1_mV"), "707.11");
    EXPECT_EQ(d.At(0, "ch2_deg"), "30.000");

    // The hand-edited file: "sum", peak amplitudes, ten voltage decimals,
    // channel 2 off, 24-bit at 4882.8125 Hz, reference channel 4.
    const Result edited =
        Run(With({"--settings", SettingsData + "/edited.ini", "--frames", "1", "--display"}));
    ASSERT_EQ(edited.Code, 0) << edited.Err;
    const CsvLog e = ParseCsv(edited.Out);
    ASSERT_EQ(e.Rows.size(), 1u);
    EXPECT_EQ(e.Header.size(), 2u + 7u * 5u);
    EXPECT_EQ(Count(edited.Out, "ch2_"), 0u);
    const std::string voltage = e.At(0, "ch1_mV");
    EXPECT_EQ(voltage.size() - voltage.find('.') - 1, 10u) << voltage;
    EXPECT_NEAR(std::strtod(voltage.c_str(), nullptr), 1000.0, 0.01);  // 1 V peak
    EXPECT_EQ(e.At(0, "ch1_kHz"), "--------");
    EXPECT_EQ(e.At(0, "ch1_deg"), "--------");
    EXPECT_EQ(e.At(0, "ch7_mV"), "ОБРЫВ!!!");
    EXPECT_EQ(e.At(0, "ch8_mV"), "КЗ!!!");

    // A flag overrides one value of the file: the spectral method back.
    const Result overridden =
        Run(With({"--settings", SettingsData + "/edited.ini", "--method", "fft", "--frames", "1"}));
    ASSERT_EQ(overridden.Code, 0) << overridden.Err;
    const CsvLog o = ParseCsv(overridden.Out);
    ASSERT_EQ(o.Rows.size(), 1u);
    EXPECT_NEAR(o.Number(0, "ch1_kHz"), 1.0, 0.00001);
    // Against channel 4 (45 degrees): channel 1 reads -45, channel 5 75.
    EXPECT_NEAR(o.Number(0, "ch1_deg"), -45.0, 0.001);
    EXPECT_NEAR(o.Number(0, "ch5_deg"), 75.0, 0.001);
    EXPECT_NEAR(o.Number(0, "ch1_mV"), 1000.0, 0.01);
}

TEST_F(MeasureTool, AppendingToALogAddsRowsButNoHeader)
{
    const std::string path = dir.File("log.csv");
    for (int run = 0; run < 2; ++run) {
        const Result r = Run(With({"--frames", "2", "--output", path}));
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(r.Out, "");
    }
    const CsvLog log = ParseCsv(ReadBytes(path));
    ASSERT_EQ(log.Rows.size(), 4u);
    EXPECT_EQ(log.At(2, "frame"), "1");
    // Another set of channels does not go into this file.
    const Result other = Run(With({"--channels", "1-2", "--frames", "1", "--output", path}));
    EXPECT_EQ(other.Code, 2) << other.Err;
    EXPECT_NE(other.Err.find("holds other columns"), std::string::npos) << other.Err;
    EXPECT_EQ(ParseCsv(ReadBytes(path)).Rows.size(), 4u);
}

TEST_F(MeasureTool, ASignalEndsTheRunWithEveryReportedFrameInTheFile)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        const std::string path = dir.File(signal == SIGINT ? "int.csv" : "term.csv");
        const pid_t pid = Start(With({"--output", path}));
        ASSERT_TRUE(WaitForRows(path, 3));
        ::kill(pid, signal);
        EXPECT_EQ(WaitFor(pid, RunTimeout), 0) << ReadBytes(dir.File("stderr"));
        ExpectWholeRowsAsReported(path, 2u + 6u * 5u);
    }
}

TEST_F(MeasureTool, ADurationEndsTheRun)
{
    const auto start = Clock::now();
    const Result r = Run(With({"--duration", "1"}));
    const auto took = Clock::now() - start;
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_GE(took, 1s);
    const CsvLog log = ParseCsv(r.Out);
    EXPECT_GE(log.Rows.size(), 1u);
    EXPECT_EQ(FramesReported(r.Err), log.Rows.size());
}

TEST_F(MeasureTool, ALostLinkEndsTheRunWithCodeOneInTime)
{
    struct Case {
        const char* name;
        std::function<void(ksn::test::CrateServer&)> fault;
        const char* reason;  // the library's
    };
    const Case cases[] = {
        {"server killed", [](ksn::test::CrateServer& s) { s.Kill(); }, "KSN_ERR_CONNECTION_LOST"},
        {"connection dropped",
         [](ksn::test::CrateServer& s) {
             s.Ctl({"drop", "KSN5-0042", "3"});
         },
         "KSN_ERR_CONNECTION_LOST"},
        {"receives unanswered",
         [](ksn::test::CrateServer& s) {
             s.Ctl({"stall", "KSN5-0042", "3", "on"});
         },
         "KSN_ERR_TIMEOUT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A server that paces its frames in real time: the tool spends its
        // time receiving, as at a bench.
        ksn::test::CrateServer paced({}, false);
        const std::string path = dir.File("log.csv");
        ::unlink(path.c_str());
        const pid_t pid = Start(With({"--output", path}));
        ASSERT_TRUE(WaitForRows(path, 2));
        const auto faulted = Clock::now();
        c.fault(paced);
        const std::optional<int> code = WaitFor(pid, RunTimeout);
        const auto took = Clock::now() - faulted;
        const std::string err = ReadBytes(dir.File("stderr"));
        EXPECT_EQ(code, 1) << err;
        // The receive timeout (5 s) and a second.
        EXPECT_LT(took, 6s);
        // The window's text of the step that met the fault (a receive, or
        // the start of the next frame), then the library's reason.
        const bool receiving = err.find("ksn48-measure: Не могу получить данные с модуля!\n"
                                        "ksn48-measure: KSN48_Recv: " +
                                        std::string(c.reason) + "\n") != std::string::npos;
        const bool starting =
            err.find("ksn48-measure: Не могу выполнить запуск сбора кадра данных!!!\n"
                     "ksn48-measure: KSN48_Start: " +
                     std::string(c.reason) + "\n") != std::string::npos;
        EXPECT_TRUE(receiving || starting) << err;
        ExpectWholeRowsAsReported(path, 2u + 6u * 5u);
    }
}

TEST_F(MeasureTool, AClosedPipeEndsTheRunWithCodeOne)
{
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const int err =
        ::open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = Spawn(With({"--format", "ndjson"}), fds[1], err);
    ::close(fds[1]);
    ::close(err);
    // The reader takes the first row whole, then goes.
    std::string received;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') {
        received += c;
    }
    ::close(fds[0]);
    EXPECT_EQ(nlohmann::json::parse(received)["frame"], 1);
    EXPECT_EQ(WaitFor(pid, RunTimeout), 1);
    const std::string text = ReadBytes(dir.File("stderr"));
    EXPECT_NE(text.find("cannot write to 'standard output': Broken pipe"), std::string::npos)
        << text;
}

TEST_F(MeasureTool, AFullDiskEndsTheRunWithWholeRowsOnly)
{
    TestDirectory disk;  // the tool's messages stay outside
    if (!disk.MountTmpfs(8)) {
        GTEST_SKIP() << "this process may not mount a small file system";
    }
    const std::string path = disk.File("log.csv");
    const Result r = Run(With({"--output", path, "--channels", "1-8", "--rate", "39063"}));
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_NE(r.Err.find("No space left on device"), std::string::npos) << r.Err;
    ExpectWholeRowsAsReported(path, 2u + 8u * 5u);
}

// The fields of a line of a table, split at runs of blanks.
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

bool HasLine(const std::string& text, const std::vector<std::string>& words)
{
    for (const std::string& line : Lines(text)) {
        if (Words(line) == words) {
            return true;
        }
    }
    return false;
}

TEST_F(MeasureTool, ListShowsEveryCrateAndKsn48Module)
{
    const Result text = Run({"--list"});
    ASSERT_EQ(text.Code, 0) << text.Err;
    EXPECT_TRUE(
        HasLine(text.Out, {"KSN5-0042", "40", "KSN-P5", "1:0x3131", "3:0x3030", "5:0x3030"}))
        << text.Out;
    EXPECT_TRUE(HasLine(text.Out, {"KSN1-0107", "21", "KSN-P1", "1:0x3030", "2:0x3232"}))
        << text.Out;
    EXPECT_TRUE(HasLine(text.Out, {"KSN5-0042", "3", "4811001", "KSN48", "12"})) << text.Out;
    EXPECT_TRUE(HasLine(text.Out,
                        {"KSN5-0042", "5", "4811002", "KSN48", "8", "(needs", "9", "or", "later)"}))
        << text.Out;
    EXPECT_TRUE(HasLine(text.Out, {"KSN1-0107", "1", "4812001", "KSN48", "10"})) << text.Out;

    const Result json = Run({"--list", "--json"});
    ASSERT_EQ(json.Code, 0) << json.Err;
    const nlohmann::json expected = nlohmann::json::parse(R"({
      "crates": [
        {"serial": "KSN5-0042", "type": 40, "model": "KSN-P5",
         "slots": [{"slot": 1, "module_id": 12593}, {"slot": 3, "module_id": 12336},
                   {"slot": 5, "module_id": 12336}]},
        {"serial": "KSN1-0107", "type": 21, "model": "KSN-P1",
         "slots": [{"slot": 1, "module_id": 12336}, {"slot": 2, "module_id": 12850}]}
      ],
      "modules": [
        {"crate": "KSN5-0042", "slot": 3, "serial": "4811001", "name": "KSN48", "firmware": 12},
        {"crate": "KSN5-0042", "slot": 5, "serial": "4811002", "name": "KSN48", "firmware": 8},
        {"crate": "KSN1-0107", "slot": 1, "serial": "4812001", "name": "KSN48", "firmware": 10}
      ]})");
    EXPECT_EQ(nlohmann::json::parse(json.Out), expected) << json.Out;

    // A module another program holds is listed, with the reason it could
    // not be opened; named, it cannot be measured.
    Ksn48Handle held{};
    KSN48_Init(&held);
    ASSERT_EQ(KSN48_Open(&held, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, "KSN1-0107", 1), KSN_OK);
    const Result busy = Run({"--list", "--json"});
    EXPECT_EQ(busy.Code, 0) << busy.Err;
    const nlohmann::json listed = nlohmann::json::parse(busy.Out)["modules"][2];
    EXPECT_EQ(listed["crate"], "KSN1-0107");
    EXPECT_EQ(listed["error"], "KSN_ERR_BUSY");
    EXPECT_TRUE(listed["serial"].is_null() && listed["name"].is_null() &&
                listed["firmware"].is_null());
    const Result measure = Run({"--crate", "KSN1-0107", "--frames", "1"});
    EXPECT_EQ(measure.Code, 3);
    EXPECT_NE(measure.Err.find("crate KSN1-0107, slot 1: KSN_ERR_BUSY"), std::string::npos)
        << measure.Err;
    KSN48_Close(&held);

    server.Stop();
    for (const bool asJson : {false, true}) {
        const Result none = Run(asJson ? std::vector<std::string>{"--list", "--json"}
                                       : std::vector<std::string>{"--list"});
        EXPECT_EQ(none.Code, 3) << none.Err;
        EXPECT_EQ(none.Out, "");
        EXPECT_NE(none.Err.find("ksn48-measure: Не могу найти ни одного KSN крейта!\n"
                                "ksn48-measure: no crate server answers on 127.0.0.1 "
                                "(KSN_Open: KSN_ERR_CONNECT)\n"),
                  std::string::npos)
            << none.Err;
    }
}

TEST_F(MeasureTool, PicksTheModuleAsTheWindowDoes)
{
    TestDirectory files;
    // The default settings file with a crate and slot saved.
    const auto saved = [&](const std::string& crate, int slot) {
        const std::string path = files.File(crate + "-" + std::to_string(slot) + ".ini");
        WriteBytes(path, ReadBytes(SettingsData + "/default.ini"));
        IniFile file(path);
        file.WriteString(SettingsNames::DetectionSection, SettingsNames::CrateSerialKey, crate);
        file.WriteInteger(SettingsNames::DetectionSection, SettingsNames::ModuleSlotKey, slot);
        file.UpdateFile();
        return path;
    };
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* picked;
    };
    const Case cases[] = {
        {"nothing named: the first crate's first module", {}, "slot 3 of crate KSN5-0042"},
        {"a crate alone: its first module", {"--crate", "KSN1-0107"}, "slot 1 of crate KSN1-0107"},
        {"a slot alone: of the first crate", {"--slot", "5"}, "slot 5 of crate KSN5-0042"},
        {"the default file saves no module",
         {"--settings", SettingsData + "/default.ini"},
         "slot 3 of crate KSN5-0042"},
        {"a saved crate that is not there: the first",
         {"--settings", SettingsData + "/edited.ini"},
         "slot 3 of crate KSN5-0042"},
        {"a saved crate and slot",
         {"--settings", saved("KSN5-0042", 5)},
         "slot 5 of crate KSN5-0042"},
        {"a saved crate and a slot it lacks: its first module",
         {"--settings", saved("KSN1-0107", 2)},
         "slot 1 of crate KSN1-0107"},
        {"a saved slot only counts in the saved crate",
         {"--settings", saved("KSN9-0001", 5)},
         "slot 3 of crate KSN5-0042"},
        {"a slot alone goes to the saved crate",
         {"--settings", saved("KSN5-0042", 3), "--slot", "5"},
         "slot 5 of crate KSN5-0042"},
        {"a crate named over a saved one: its first module",
         {"--settings", saved("KSN5-0042", 5), "--crate", "KSN1-0107"},
         "slot 1 of crate KSN1-0107"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        // A rate every crate carries for every setup.
        args.insert(args.end(), {"--rate", "9766", "--frames", "1"});
        const Result r = Run(args);
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_NE(r.Err.find(std::string(" in ") + c.picked + " ("), std::string::npos) << r.Err;
        EXPECT_EQ(ParseCsv(r.Out).Rows.size(), 1u) << r.Out;
    }
    // The module with old firmware gets the window's warning.
    const Result old = Run({"--slot", "5", "--frames", "1"});
    EXPECT_NE(old.Err.find("ksn48-measure: Версия микропрограммы модуля должна быть не ниже 9.\n"
                           "Обновите микропрограмму модуля!!!\n"),
              std::string::npos)
        << old.Err;
}

TEST_F(MeasureTool, LibraryVersionsAreCheckedAsTheWindowChecksThem)
{
    struct Case {
        const char* variant;
        int code;
        const char* said;  // nullptr: nothing
    };
    const Case cases[] = {
        {"none", 3, "Опаньки!!! Не могу определить версию библиотеки Ksnapi.dll!!!"},
        {"1.32.14", 0, "Версия библиотеки Ksnapi.dll должна быть не ниже 1.32.15!!!"},
        {"1.32.15", 0, nullptr},
    };
    for (const Case& c : cases) {
        for (const std::vector<std::string>& args :
             {With({"--frames", "1"}), std::vector<std::string>{"--list"}}) {
            SCOPED_TRACE(std::string(c.variant) + " " + args[0]);
            const Result r = Run(
                args, {"LD_LIBRARY_PATH=" + ksn::test::CrateServer::VersionVariantDir(c.variant)});
            EXPECT_EQ(r.Code, c.code) << r.Err;
            if (c.said != nullptr) {
                EXPECT_NE(r.Err.find(std::string("ksn48-measure: ") + c.said + "\n"),
                          std::string::npos)
                    << r.Err;
            } else {
                EXPECT_EQ(r.Err.find("1.32.15"), std::string::npos) << r.Err;
            }
            EXPECT_EQ(r.Out.empty(), c.code != 0);
        }
    }
}

TEST_F(MeasureTool, AStopCutsAStalledReceiveShort)
{
    // The receive the tool waits in gets no answer: without its cancel the
    // run would end only at the receive timeout (5 s).
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        const std::string path = dir.File(signal == SIGINT ? "int.csv" : "term.csv");
        const pid_t pid = Start(With({"--output", path}));
        ASSERT_TRUE(WaitForRows(path, 2));
        ASSERT_EQ(server.Ctl({"stall", "KSN5-0042", "3", "on"}), 0);
        std::this_thread::sleep_for(1s);  // the tool is in the stalled receive now
        const auto signalled = Clock::now();
        ::kill(pid, signal);
        EXPECT_EQ(WaitFor(pid, RunTimeout), 0) << ReadBytes(dir.File("stderr"));
        EXPECT_LT(Clock::now() - signalled, 1s);
        ExpectWholeRowsAsReported(path, 2u + 6u * 5u);
        ASSERT_EQ(server.Ctl({"stall", "KSN5-0042", "3", "off"}), 0);
    }

    // The end of a duration cuts it short too.
    ASSERT_EQ(server.Ctl({"stall", "KSN5-0042", "3", "on"}), 0);
    const auto start = Clock::now();
    const Result r = Run(With({"--duration", "1"}));
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_EQ(r.Out, "") << "no frame, no header";
}

// The log of a run with a gap: rows numbered from 1 without a hole, one row
// lost in every channel, the others measured.
void ExpectOneGap(const CsvLog& log, std::size_t channels)
{
    std::size_t lost = 0;
    for (std::size_t i = 0; i < log.Rows.size(); ++i) {
        EXPECT_EQ(log.At(i, "frame"), std::to_string(i + 1));
        const bool isLost = log.At(i, "ch1_status") == "lost";
        lost += isLost ? 1 : 0;
        for (std::size_t c = 1; c <= channels; ++c) {
            const std::string n = "ch" + std::to_string(c);
            EXPECT_EQ(log.At(i, n + "_status"), isLost ? "lost" : "ok") << "row " << i + 1;
            if (isLost) {
                EXPECT_EQ(log.At(i, n + "_mV") + log.At(i, n + "_kHz") + log.At(i, n + "_deg") +
                              log.At(i, n + "_inband"),
                          "");
            }
        }
    }
    EXPECT_EQ(lost, 1u);
}

TEST_F(MeasureTool, AfterALostLinkReconnectingGoesOnAndTheLogShowsTheGap)
{
    const std::string path = dir.File("log.csv");
    const std::string err = dir.File("stderr");
    const pid_t pid = Start(With({"--reconnect", "--output", path}));
    ASSERT_TRUE(WaitForRows(path, 3));
    server.Kill();
    // Tried once at least while the server was gone.
    ASSERT_TRUE(WaitForText(err, "no crate server answers")) << ReadBytes(err);
    const std::size_t before = ParseCsv(ReadBytes(path)).Rows.size();
    server.Restart();
    ASSERT_TRUE(WaitForRows(path, before + 3)) << ReadBytes(err);
    ::kill(pid, SIGINT);
    EXPECT_EQ(WaitFor(pid, RunTimeout), 0) << ReadBytes(err);

    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes.back(), '\n');
    const CsvLog log = ParseCsv(bytes);
    ExpectOneGap(log, 6);
    const std::size_t gap = before - 1;  // the lost row is the last before the restart
    ASSERT_EQ(log.At(gap, "ch1_status"), "lost");
    EXPECT_LT(log.At(gap - 1, "time"), log.At(gap, "time"));
    EXPECT_LT(log.At(gap, "time"), log.At(gap + 1, "time"));
    const std::string said = ReadBytes(err);
    EXPECT_NE(said.find("ksn48-measure: the link to slot 3 of crate KSN5-0042 is lost; frame " +
                        std::to_string(gap + 1) + " is marked lost; trying again every second\n"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("ksn48-measure: slot 3 of crate KSN5-0042 is back after "),
              std::string::npos)
        << said;
    EXPECT_NE(said.find(std::to_string(log.Rows.size() - 1) + " frames written to '" + path +
                        "' (1 gap marked lost)\n"),
              std::string::npos)
        << said;
}

TEST_F(MeasureTool, AStopWhileReconnectingEndsTheRun)
{
    const std::string path = dir.File("log.ndjson");
    const std::string err = dir.File("stderr");
    const pid_t pid = Start(With({"--reconnect", "--format", "ndjson", "--output", path}));
    ASSERT_TRUE(WaitForRows(path, 1));
    server.Kill();
    ASSERT_TRUE(WaitForText(err, "trying again every second")) << ReadBytes(err);
    const auto signalled = Clock::now();
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitFor(pid, RunTimeout), 0) << ReadBytes(err);
    EXPECT_LT(Clock::now() - signalled, 2s);
    // The gap as an object that says so, after the frames measured.
    const auto lines = Lines(ReadBytes(path));
    ASSERT_GE(lines.size(), 2u);
    const nlohmann::json gap = nlohmann::json::parse(lines.back());
    EXPECT_EQ(gap["frame"], lines.size());
    EXPECT_EQ(gap["ch1_status"], "lost");
    EXPECT_TRUE(gap["ch1_mV"].is_null() && gap["ch1_inband"].is_null());
    EXPECT_EQ(nlohmann::json::parse(lines[lines.size() - 2])["ch1_status"], "ok");
}

TEST_F(MeasureTool, AReconnectedModuleThatRefusesTheSetupEndsTheRunWithItsCode)
{
    // A crate that comes back as the slow-link model: three channels at
    // 78125 Hz are more than it carries.
    TestDirectory files;
    const std::string config = files.File("crates.json");
    const auto population = [&](int type) {
        const std::string sine = R"({"sines": [{"amplitude": 1.0, "frequency": 1000}]})";
        WriteBytes(config, R"({"crates": [{"serial": "KSN5-0042", "type": )" +
                               std::to_string(type) +
                               R"(, "slots": [{"slot": 3, "ksn48": {"serial": "4811001", )"
                               R"("firmware": 12, "channels": [)" +
                               sine + "," + sine + "," + sine + "]}}]}]}");
    };
    population(40);
    ksn::test::CrateServer own({}, true, {"--control", "--config", config});
    const std::string path = dir.File("log.csv");
    const pid_t pid = Start(With({"--channels", "1-3", "--reference", "1", "--rate", "78125",
                                  "--reconnect", "--output", path}));
    ASSERT_TRUE(WaitForRows(path, 2));
    own.Kill();
    population(21);
    own.Restart();
    EXPECT_EQ(WaitFor(pid, RunTimeout), 4) << ReadBytes(dir.File("stderr"));
    const std::string said = ReadBytes(dir.File("stderr"));
    EXPECT_NE(said.find("ksn48-measure: " +
                        device::CheckDataRate(3, 78125.0, 0, 21, "KSN-P1", "KSN48").Message + "\n"),
              std::string::npos)
        << said;
    const CsvLog log = ParseCsv(ReadBytes(path));
    ASSERT_GE(log.Rows.size(), 3u);
    ExpectOneGap(log, 3);
    EXPECT_EQ(log.At(log.Rows.size() - 1, "ch1_status"), "lost");
}

// --- the MQTT feed, against a mosquitto broker of the test's own ---

class MeasureToolMqtt : public MeasureTool {
protected:
    // The frame messages as rows of the CSV log's columns.
    static std::vector<nlohmann::json> Frames(const ksn::test::MqttSubscriber& subscriber,
                                              const std::string& base)
    {
        std::vector<nlohmann::json> frames;
        for (const ksn::test::MqttMessage& m : subscriber.On(base + "/frame")) {
            frames.push_back(nlohmann::json::parse(m.Payload));
        }
        return frames;
    }
    const std::string base = "ksn48/KSN5-0042/3";
};

TEST_F(MeasureToolMqtt, EveryFrameIsPublishedWithTheValuesOfItsRow)
{
    ksn::test::MqttBroker broker;
    ksn::test::MqttSubscriber subscriber(broker.Port(), "ksn48/#");
    const std::string path = dir.File("log.csv");
    const Result r = Run(With({"--channels", "1,2,8", "--frames", "5", "--output", path, "--mqtt",
                               broker.Address(), "--qos", "1"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_NE(r.Err.find("5 frames published under '" + base + "'"), std::string::npos) << r.Err;
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const auto& m) { return ksn::test::MqttSubscriber::CountOn(m, base + "/frame") == 5; },
        10s));
    const CsvLog log = ParseCsv(ReadBytes(path));
    const std::vector<nlohmann::json> frames = Frames(subscriber, base);
    ASSERT_EQ(log.Rows.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        // Every column of the row, with the same value.
        ASSERT_EQ(frames[i].size(), log.Header.size());
        for (const std::string& column : log.Header) {
            const nlohmann::json& value = frames[i][column];
            const std::string cell = log.At(i, column);
            if (value.is_null()) {
                EXPECT_EQ(cell, "") << column;
            } else if (value.is_string()) {
                EXPECT_EQ(value.get<std::string>(), cell) << column;
            } else {
                EXPECT_EQ(value.get<double>(), std::strtod(cell.c_str(), nullptr)) << column;
            }
        }
    }
    EXPECT_EQ(frames[0]["ch8_status"], "short");
    // Status: online while it ran, offline at its end, both retained.
    const auto status = subscriber.On(base + "/status");
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0].Payload, "online");
    EXPECT_EQ(status[1].Payload, "offline");
    const auto config = subscriber.On(base + "/config");
    ASSERT_EQ(config.size(), 1u);
    const nlohmann::json run = nlohmann::json::parse(config[0].Payload);
    EXPECT_EQ(run["channels"], nlohmann::json::array({1, 2, 8}));
    EXPECT_EQ(run["module"], "4811001");
    EXPECT_EQ(run["rate_Hz"], 78125.0);
    EXPECT_EQ(run["bits"], 20);
    EXPECT_EQ(run["max_time_s"], 0.75);
    ksn::test::MqttSubscriber late(broker.Port(), base + "/+");
    ASSERT_TRUE(late.WaitFor([](const auto& m) { return m.size() == 2; }, 10s));
    for (const auto& m : late.Messages()) {
        EXPECT_TRUE(m.Retained) << m.Topic;
    }
}

TEST_F(MeasureToolMqtt, ABrokerAbsentAtTheStartCostsOneWarning)
{
    std::optional<ksn::test::MqttBroker> broker(std::in_place);
    const std::string address = broker->Address();
    broker.reset();
    const std::string path = dir.File("log.csv");
    const Result r = Run(With({"--frames", "3", "--output", path, "--mqtt", address}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Count(r.Err, "not reachable"), 1u) << r.Err;
    EXPECT_EQ(Count(r.Err, address), 2u) << r.Err;  // where it publishes, and the warning
    EXPECT_NE(r.Err.find("0 frames published"), std::string::npos) << r.Err;
    EXPECT_EQ(ParseCsv(ReadBytes(path)).Rows.size(), 3u);
    EXPECT_EQ(FramesReported(r.Err), 3u);
}

TEST_F(MeasureToolMqtt, ABrokerThatDiesMidRunIsSaidOnceAndPublishingResumesWhenItIsBack)
{
    ksn::test::MqttBroker broker;
    const std::string path = dir.File("log.csv");
    const pid_t pid = Start(With({"--channels", "1-2", "--rate", "78125", "--max-time", "0.05",
                                  "--output", path, "--mqtt", broker.Address()}));
    std::optional<ksn::test::MqttSubscriber> before(std::in_place, broker.Port(), "ksn48/#");
    ASSERT_TRUE(before->WaitFor(
        [&](const auto& m) { return ksn::test::MqttSubscriber::CountOn(m, base + "/frame") >= 3; },
        RunTimeout));
    before.reset();
    broker.Kill();
    ASSERT_TRUE(WaitForText(dir.File("stderr"), "not reachable"));
    // Rows go on while the broker is away.
    const std::size_t rowsAtLoss = ParseCsv(ReadBytes(path)).Rows.size();
    ASSERT_TRUE(WaitForRows(path, rowsAtLoss + 10));
    broker.Start();
    ksn::test::MqttSubscriber after(broker.Port(), "ksn48/#");
    ASSERT_TRUE(WaitForText(dir.File("stderr"), "reached again"));
    ASSERT_TRUE(after.WaitFor(
        [&](const auto& m) { return ksn::test::MqttSubscriber::CountOn(m, base + "/frame") >= 3; },
        RunTimeout));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitFor(pid, RunTimeout), 0) << ReadBytes(dir.File("stderr"));
    ExpectWholeRowsAsReported(path, 2u + 2u * 5u);
    const std::string said = ReadBytes(dir.File("stderr"));
    EXPECT_EQ(Count(said, "not reachable"), 1u) << said;
    EXPECT_EQ(Count(said, "reached again"), 1u) << said;
    // What came after the broker's return is the log's rows, none missing
    // in between.
    const CsvLog log = ParseCsv(ReadBytes(path));
    const std::vector<nlohmann::json> frames = Frames(after, base);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i]["frame"], frames[i - 1]["frame"].get<std::uint64_t>() + 1);
    }
    const std::uint64_t last = frames.back()["frame"];
    ASSERT_LE(last, log.Rows.size());
    EXPECT_EQ(frames.back()["ch2_mV"].get<double>(), log.Number(last - 1, "ch2_mV"));
    // Every row was published or counted as dropped.
    const std::size_t summary = said.find(" frames published under");
    ASSERT_NE(summary, std::string::npos) << said;
    const unsigned long published = std::stoul(said.substr(said.rfind(": ", summary) + 2));
    const std::size_t drop = said.find(" dropped while", summary);
    const unsigned long dropped =
        drop == std::string::npos ? 0 : std::stoul(said.substr(said.rfind('(', drop) + 1));
    EXPECT_EQ(published + dropped, log.Rows.size()) << said;
    EXPECT_EQ(after.On(base + "/status").front().Payload, "online");
}

TEST_F(MeasureToolMqtt, AToolThatDiesLeavesItsStatusOfflineThroughTheLastWill)
{
    ksn::test::MqttBroker broker;
    ksn::test::MqttSubscriber subscriber(broker.Port(), base + "/status");
    const pid_t pid = Start(With({"--output", dir.File("log.csv"), "--mqtt", broker.Address()}));
    ASSERT_TRUE(subscriber.WaitFor([](const auto& m) { return m.size() == 1; }, RunTimeout));
    ::kill(pid, SIGKILL);
    WaitFor(pid, RunTimeout);
    ASSERT_TRUE(subscriber.WaitFor([](const auto& m) { return m.size() == 2; }, RunTimeout));
    const auto status = subscriber.Messages();
    EXPECT_EQ(status[0].Payload, "online");
    EXPECT_EQ(status[1].Payload, "offline");
    // Kept for those who come later.
    ksn::test::MqttSubscriber late(broker.Port(), base + "/status");
    ASSERT_TRUE(late.WaitFor([](const auto& m) { return m.size() == 1; }, 10s));
    EXPECT_EQ(late.Messages()[0].Payload, "offline");
    EXPECT_TRUE(late.Messages()[0].Retained);
}

TEST_F(MeasureToolMqtt, ALoginComesFromThePasswordFile)
{
    ksn::test::MqttBroker broker(ksn::test::MqttBroker::Login{"bench", "s3cret"});
    ksn::test::MqttSubscriber subscriber(broker.Port(), "ksn48/#", "bench", "s3cret");
    const std::string password = dir.File("password");
    for (const char* written : {"wrong\n", "s3cret\n"}) {
        SCOPED_TRACE(written);
        WriteBytes(password, written);
        const Result r = Run(With({"--frames", "2", "--mqtt", broker.Address(), "--username",
                                   "bench", "--password-file", password}));
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(ParseCsv(r.Out).Rows.size(), 2u);
        // The password appears nowhere the tool says anything.
        EXPECT_EQ(r.Err.find("s3cret"), std::string::npos) << r.Err;
        EXPECT_EQ(Count(r.Err, "not reachable"), written[0] == 'w' ? 1u : 0u) << r.Err;
    }
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const auto& m) { return ksn::test::MqttSubscriber::CountOn(m, base + "/frame") == 2; },
        10s));
}

}  // namespace

namespace {

std::string DistortedConfig()
{
    return ReadBytes(KSN_SOURCE_DIR "/crate/examples/distorted.json");
}

TEST_F(MeasureTool, MetricsGiveEachChannelsDistortionAndNoise)
{
    // Channel 1: 1 % second harmonic; 2: 1 % second, 0.5 % third in 0.1 mV
    // of noise; 3: 0.5 V with a 50 mV hum at 50 Hz in 1 mV of noise, which
    // are noise to it; 4: a pure tone.
    ksn::test::CrateServer distorted(DistortedConfig());
    const std::vector<std::string> setup = {
        "--rate", "78125", "--channels", "1-4", "--reference", "1", "--frames", "2", "--metrics"};
    const Result r = Run(With(setup));
    ASSERT_EQ(r.Code, 0) << r.Err;
    const CsvLog log = ParseCsv(r.Out);
    ASSERT_EQ(log.Rows.size(), 2u);
    ASSERT_EQ(log.Header.size(), 2u + 4u * 8u);
    EXPECT_EQ(log.Header[2 + 5], "ch1_thd_pct");
    EXPECT_EQ(log.Header[2 + 6], "ch1_thdn_pct");
    EXPECT_EQ(log.Header[2 + 7], "ch1_snr_db");
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        EXPECT_NEAR(log.Number(i, "ch1_thd_pct"), 1.0, 0.0005);
        EXPECT_NEAR(log.Number(i, "ch2_thd_pct"), 1.118, 0.0005);
        EXPECT_LT(log.Number(i, "ch4_thd_pct"), 0.001);
        // 0.125 V^2 against 1e-6 + 1.25e-3 V^2: 20.0 dB, THD+N 10 %.
        EXPECT_NEAR(log.Number(i, "ch3_snr_db"), 19.99, 0.2);
        EXPECT_NEAR(log.Number(i, "ch3_thdn_pct"), 10.0, 0.2);
        // 1 V against 0.1 mV of noise: 77 dB.
        EXPECT_NEAR(log.Number(i, "ch2_snr_db"), 77.0, 0.5);
        EXPECT_GT(log.Number(i, "ch1_snr_db"), 90.0) << "the converter's own noise alone";
    }

    // As the page shows them; and NDJSON.
    std::vector<std::string> shown = setup;
    shown.push_back("--display");
    const Result d = Run(With(shown));
    ASSERT_EQ(d.Code, 0) << d.Err;
    EXPECT_EQ(ParseCsv(d.Out).At(0, "ch1_thd_pct"), "1.000");
    EXPECT_EQ(ParseCsv(d.Out).At(0, "ch2_thd_pct"), "1.118");
    std::vector<std::string> json = setup;
    json.insert(json.end(), {"--format", "ndjson"});
    const Result j = Run(With(json));
    ASSERT_EQ(j.Code, 0) << j.Err;
    const auto row = nlohmann::json::parse(Lines(j.Out).at(0));
    EXPECT_NEAR(row.at("ch1_thd_pct").get<double>(), 1.0, 0.0005);
    EXPECT_TRUE(row.at("ch3_snr_db").is_number());
}

TEST_F(MeasureTool, MetricsAreEmptyWhereNoFigureExists)
{
    // "sum" has no spectrum; a shorted or open channel no reading.
    const Result sum =
        Run(With({"--rate", "39063", "--channels", "1,7,8", "--reference", "1", "--frames", "1",
                  "--metrics", "--method", "sum", "--format", "ndjson"}));
    ASSERT_EQ(sum.Code, 0) << sum.Err;
    const auto row = nlohmann::json::parse(Lines(sum.Out).at(0));
    for (const char* key :
         {"ch1_thd_pct", "ch1_thdn_pct", "ch1_snr_db", "ch7_thd_pct", "ch8_snr_db"}) {
        EXPECT_TRUE(row.at(key).is_null()) << key;
    }
    const Result fft = Run(With({"--rate", "39063", "--channels", "1,7,8", "--reference", "1",
                                 "--frames", "1", "--metrics"}));
    ASSERT_EQ(fft.Code, 0) << fft.Err;
    const CsvLog log = ParseCsv(fft.Out);
    EXPECT_LT(log.Number(0, "ch1_thd_pct"), 0.001);
    EXPECT_EQ(log.At(0, "ch7_thd_pct"), "");
    EXPECT_EQ(log.At(0, "ch8_thdn_pct"), "");
    EXPECT_EQ(log.At(0, "ch8_snr_db"), "");
    // Without --metrics the log keeps its columns.
    const Result plain = Run(With({"--frames", "1", "--channels", "1", "--reference", "1"}));
    ASSERT_EQ(plain.Code, 0) << plain.Err;
    EXPECT_EQ(ParseCsv(plain.Out).Header.size(), 2u + 5u);
}

}  // namespace

namespace {

std::string NoisyConfig()
{
    return ReadBytes(KSN_SOURCE_DIR "/crate/examples/noisy.json");
}

double JsonNumber(const nlohmann::json& row, const std::string& key)
{
    EXPECT_TRUE(row.at(key).is_number()) << key;
    return row.at(key).is_number() ? row.at(key).get<double>() : 0.0;
}

// The precision method against channels with white noise: each reading lies
// within a few of its uncertainties of what the server puts in (1 kHz on
// channels 1-3 and 6, 30 and -45 degrees after channel 1 on 2 and 3, 60 on
// 6 beside a 1 % harmonic and DC; 1234.5 Hz on 4; noise alone on 5).
TEST_F(MeasureTool, FitMethodGivesEveryReadingItsUncertainty)
{
    ksn::test::CrateServer noisy(NoisyConfig());
    const std::vector<std::string> setup = {"--rate",   "9766",   "--channels", "1-6",
                                            "--reference", "1",   "--frames",   "2",
                                            "--method", "fit",    "--metrics",  "--format",
                                            "ndjson"};
    const Result r = Run(With(setup));
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 2u);
    struct Truth {
        int channel;
        double mV;
        double kHz;
        double deg;
    };
    // 6 uncertainties: a sound one fails this by chance once in 5e8.
    constexpr double Bound = 6.0;
    for (const std::string& line : lines) {
        const auto row = nlohmann::json::parse(line);
        for (const Truth& t : {Truth{1, 1000.0 / std::sqrt(2.0), 1.0, 0.0},
                               Truth{2, 500.0 / std::sqrt(2.0), 1.0, 30.0},
                               Truth{3, 200.0 / std::sqrt(2.0), 1.0, -45.0},
                               Truth{4, 700.0 / std::sqrt(2.0), 1.2345, NAN},
                               Truth{6, 1000.0 / std::sqrt(2.0), 1.0, 60.0}}) {
            const std::string n = "ch" + std::to_string(t.channel);
            SCOPED_TRACE(n);
            const double uV = JsonNumber(row, n + "_mV_u");
            const double uF = JsonNumber(row, n + "_kHz_u");
            EXPECT_GT(uV, 0.0);
            EXPECT_GT(uF, 0.0);
            EXPECT_NEAR(JsonNumber(row, n + "_mV"), t.mV, Bound * uV);
            EXPECT_NEAR(JsonNumber(row, n + "_kHz"), t.kHz, Bound * uF);
            if (!std::isnan(t.deg)) {
                const double uP = JsonNumber(row, n + "_deg_u");
                EXPECT_NEAR(JsonNumber(row, n + "_deg"), t.deg, std::max(Bound * uP, 1e-12));
            }
            // SINAD from the spectrum and from the fit's residual agree.
            EXPECT_NEAR(JsonNumber(row, n + "_fit_sinad_db"), JsonNumber(row, n + "_sinad_db"),
                        1.0);
            EXPECT_TRUE(row.at(n + "_enob_bits").is_number());
        }
        EXPECT_EQ(JsonNumber(row, "ch1_deg_u"), 0.0) << "the reference against itself";
        // The 1 % harmonic is channel 6's largest spur: 40 dBc at 2 kHz.
        EXPECT_NEAR(JsonNumber(row, "ch6_sfdr_dbc"), 40.0, 0.1);
        EXPECT_NEAR(JsonNumber(row, "ch6_sfdr_kHz"), 2.0, 0.001);
        // No tone on channel 5: no uncertainty it could stand behind.
        EXPECT_EQ(row.at("ch5_status"), "notone");
        for (const char* key : {"ch5_mV_u", "ch5_kHz_u", "ch5_deg_u", "ch5_sinad_db"}) {
            EXPECT_TRUE(row.at(key).is_null()) << key;
        }
    }

    // "fft" keeps its log unless asked; --uncertainty adds the columns.
    const Result plain = Run(With({"--rate", "9766", "--channels", "1", "--reference", "1",
                                   "--frames", "1"}));
    ASSERT_EQ(plain.Code, 0) << plain.Err;
    EXPECT_EQ(ParseCsv(plain.Out).Header.size(), 2u + 5u);
    const Result withU = Run(With({"--rate", "9766", "--channels", "1", "--reference", "1",
                                   "--frames", "1", "--uncertainty", "--display"}));
    ASSERT_EQ(withU.Code, 0) << withU.Err;
    const CsvLog log = ParseCsv(withU.Out);
    ASSERT_EQ(log.Header.size(), 2u + 8u);
    EXPECT_EQ(log.Header[7], "ch1_mV_u");
    // Rounded like the value: as many decimals.
    const std::string value = log.At(0, "ch1_mV");
    const std::string u = log.At(0, "ch1_mV_u");
    EXPECT_EQ(u.size() - u.find_first_of(".,"), value.size() - value.find_first_of(".,"))
        << value << " " << u;
}

}  // namespace

namespace {

// With the precision method the feed's frames carry the uncertainties and
// its config names the method.
TEST_F(MeasureToolMqtt, TheFitMethodsFramesCarryTheirUncertainties)
{
    ksn::test::CrateServer noisy(NoisyConfig());
    ksn::test::MqttBroker broker;
    ksn::test::MqttSubscriber subscriber(broker.Port(), "ksn48/#");
    const Result r = Run(With({"--channels", "1,2,5", "--reference", "1", "--rate", "9766",
                               "--frames", "2", "--method", "fit", "--mqtt", broker.Address(),
                               "--qos", "1"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const auto& m) { return ksn::test::MqttSubscriber::CountOn(m, base + "/frame") == 2; },
        10s));
    for (const nlohmann::json& frame : Frames(subscriber, base)) {
        EXPECT_GT(frame.at("ch2_mV_u").get<double>(), 0.0);
        EXPECT_GT(frame.at("ch2_kHz_u").get<double>(), 0.0);
        EXPECT_GT(frame.at("ch2_deg_u").get<double>(), 0.0);
        EXPECT_TRUE(frame.at("ch5_mV_u").is_null()) << "noise alone: no uncertainty";
    }
    const auto config = subscriber.On(base + "/config");
    ASSERT_EQ(config.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(config[0].Payload)["method"], "fit");
}

}  // namespace
