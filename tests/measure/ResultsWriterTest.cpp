// The results log: its columns, values and line forms, the record filled
// from the measurement cycle, and a file that takes whole rows or none.
#include "CountingAllocator.h"
#include "CycleHost.h"
#include "CycleResults.h"
#include "FakeModule.h"
#include "ResultsWriter.h"
#include "TestDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <charconv>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using measure::ChannelReading;
using measure::FrameResult;
using measure::ReadingStatus;
using measure::ResultsFile;
using measure::ResultsFileError;
using measure::ResultsLayout;
using measure::ResultsMismatch;
using measure::ResultsSyntax;
using measure::ResultsWriter;
using Clock = std::chrono::system_clock;

constexpr std::array<bool, 8> AllChannels = {true, true, true, true, true, true, true, true};

ResultsLayout Layout(ResultsSyntax syntax, bool display = false,
                     std::array<bool, 8> channels = AllChannels)
{
    ResultsLayout layout;
    layout.Channels = channels;
    layout.Syntax = syntax;
    layout.Display = display;
    layout.VoltageFormat = "0.00";
    layout.FrequencyFormat = "0.00000";
    layout.PhaseFormat = "0.000";
    layout.FrequencyFormatAbove100 = "0.000";
    layout.FrequencyFormatAbove1000 = "0.00";
    return layout;
}

Clock::time_point At(std::int64_t millisecondsSinceEpoch)
{
    return Clock::time_point(std::chrono::milliseconds(millisecondsSinceEpoch));
}

ChannelReading Reading(ReadingStatus status, std::optional<double> volts = {},
                       std::optional<double> hertz = {}, std::optional<double> degrees = {},
                       bool inBand = true)
{
    ChannelReading r;
    r.Status = status;
    r.Voltage = volts;
    r.Frequency = hertz;
    r.Phase = degrees;
    r.InBand = inBand;
    return r;
}

// One of each kind of channel.
FrameResult MixedFrame()
{
    FrameResult frame;
    frame.Time = At(1714566896789);  // 2024-05-01T12:34:56.789Z
    frame.Frame = 1;
    frame.Channels[0] = Reading(ReadingStatus::Ok, 0.7071067811865476, 1000.0000000004, 0.0);
    frame.Channels[1] = Reading(ReadingStatus::Ok, 0.35355339059327379, 999.9999999, 30.000000001);
    frame.Channels[2] = Reading(ReadingStatus::Ok, 1.4142135623730951, 150000.0, -90.0);
    frame.Channels[3] = Reading(ReadingStatus::NoTone, 1e-7);  // voltage only
    frame.Channels[4] = Reading(ReadingStatus::OverRange, 4.18835, 1500000.0, 120.0, false);
    frame.Channels[5] = Reading(ReadingStatus::Ok, 0.70710678, 1000.0);  // no valid reference
    frame.Channels[6] = Reading(ReadingStatus::Open);
    frame.Channels[7] = Reading(ReadingStatus::Short);
    return frame;
}

std::vector<std::string> Split(std::string_view line, char separator)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(separator, start);
        fields.emplace_back(line.substr(start, end - start));
        if (end == std::string_view::npos) {
            return fields;
        }
        start = end + 1;
    }
}

double Parse(const std::string& text)
{
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    EXPECT_TRUE(result.ec == std::errc() && result.ptr == text.data() + text.size()) << text;
    return value;
}

FrameResult NumberedFrame(std::uint64_t n)
{
    FrameResult frame = MixedFrame();
    frame.Frame = n;
    return frame;
}

// A writer that only formats: its file is a stream nobody writes to.
ResultsWriter Formatter(const ResultsLayout& layout)
{
    return ResultsWriter(layout, ResultsFile());
}

TEST(ResultsWriter, CsvHeaderNamesTheAcquiredChannelsOnly)
{
    const ResultsWriter writer = Formatter(
        Layout(ResultsSyntax::Csv, false, {true, false, true, false, false, false, false, true}));
    EXPECT_EQ(writer.Header(), "time,frame,"
                               "ch1_mV,ch1_kHz,ch1_deg,ch1_status,ch1_inband,"
                               "ch3_mV,ch3_kHz,ch3_deg,ch3_status,ch3_inband,"
                               "ch8_mV,ch8_kHz,ch8_deg,ch8_status,ch8_inband\n");
    EXPECT_TRUE(Formatter(Layout(ResultsSyntax::Ndjson)).Header().empty());
}

TEST(ResultsWriter, CsvRowsCarryFullPrecisionAndEmptyFieldsForMissingValues)
{
    ResultsWriter writer = Formatter(Layout(ResultsSyntax::Csv));
    const FrameResult frame = MixedFrame();
    const std::string row(writer.FormatRow(frame));
    ASSERT_FALSE(row.empty());
    ASSERT_EQ(row.back(), '\n');
    ASSERT_EQ(row.find('\n'), row.size() - 1) << "one line per frame";
    const auto fields = Split(std::string_view(row).substr(0, row.size() - 1), ',');
    const auto names = Split(writer.Header().substr(0, writer.Header().size() - 1), ',');
    ASSERT_EQ(fields.size(), names.size()) << row;
    EXPECT_EQ(fields[0], "2024-05-01T12:34:56.789Z");
    EXPECT_EQ(fields[1], "1");
    const char* statuses[8] = {"ok", "ok", "ok", "notone", "overrange", "ok", "open", "short"};
    for (std::size_t c = 0; c < 8; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c + 1));
        const ChannelReading& r = frame.Channels[c];
        const std::size_t at = 2 + 5 * c;
        // Every written value reads back as exactly the value in the unit of
        // the column.
        const auto expect = [&](const std::optional<double>& value, double scale,
                                const std::string& field) {
            if (value) {
                EXPECT_EQ(Parse(field), *value * scale) << field;
            } else {
                EXPECT_EQ(field, "");
            }
        };
        expect(r.Voltage, 1000.0, fields[at]);
        expect(r.Frequency, 0.001, fields[at + 1]);
        expect(r.Phase, 1.0, fields[at + 2]);
        EXPECT_EQ(fields[at + 3], statuses[c]);
        EXPECT_EQ(fields[at + 4], c == 4 ? "0" : "1");
    }
    // The shortest text, not a fixed count of digits.
    EXPECT_EQ(fields[2], "707.1067811865476");
    EXPECT_EQ(fields[4], "0");
}

TEST(ResultsWriter, ValuesReadBackExactlyAtTheirExtremes)
{
    ResultsWriter writer = Formatter(
        Layout(ResultsSyntax::Csv, false, {true, false, false, false, false, false, false, false}));
    FrameResult frame;
    frame.Frame = std::numeric_limits<std::uint64_t>::max();
    for (const double volts :
         {1.0 / 3.0, -0.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e305, 0.1}) {
        frame.Channels[0] = Reading(ReadingStatus::Ok, volts, volts, volts);
        const auto fields = Split(writer.FormatRow(frame), ',');
        ASSERT_EQ(fields.size(), 7u);
        EXPECT_EQ(fields[1], "18446744073709551615");
        EXPECT_EQ(Parse(fields[2]), volts * 1000.0);
        EXPECT_EQ(Parse(fields[3]), volts * 0.001);
        EXPECT_EQ(Parse(fields[4]), volts);
    }
    // A value that is not a number is no value.
    frame.Channels[0] = Reading(ReadingStatus::Ok, std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity(), 1.0);
    EXPECT_EQ(Split(writer.FormatRow(frame), ',')[2], "");
    EXPECT_EQ(Split(writer.FormatRow(frame), ',')[3], "");
}

TEST(ResultsWriter, NdjsonObjectsUseTheHeaderNamesAsKeys)
{
    for (const bool display : {false, true}) {
        SCOPED_TRACE(display ? "display" : "full precision");
        ResultsWriter writer = Formatter(Layout(ResultsSyntax::Ndjson, display));
        const std::string csvHeader = Formatter(Layout(ResultsSyntax::Csv)).Header();
        const auto names = Split(csvHeader.substr(0, csvHeader.size() - 1), ',');
        const FrameResult frame = MixedFrame();
        const std::string line(writer.FormatRow(frame));
        ASSERT_EQ(line.find('\n'), line.size() - 1);
        const nlohmann::ordered_json object = nlohmann::ordered_json::parse(line);
        std::vector<std::string> keys;
        for (const auto& item : object.items()) {
            keys.push_back(item.key());
        }
        EXPECT_EQ(keys, names);
        EXPECT_EQ(object["time"], "2024-05-01T12:34:56.789Z");
        EXPECT_EQ(object["frame"], 1);
        EXPECT_EQ(object["ch5_status"], "overrange");
        EXPECT_EQ(object["ch5_inband"], 0);
        EXPECT_EQ(object["ch1_inband"], 1);
        if (display) {
            EXPECT_EQ(object["ch1_mV"], "707.11");
            EXPECT_EQ(object["ch7_mV"], "ОБРЫВ!!!");
            EXPECT_EQ(object["ch7_kHz"], "--------");
        } else {
            EXPECT_EQ(object["ch1_mV"].get<double>(), 0.7071067811865476 * 1000.0);
            EXPECT_EQ(object["ch2_deg"].get<double>(), 30.000000001);
            EXPECT_TRUE(object["ch4_kHz"].is_null());
            EXPECT_TRUE(object["ch6_deg"].is_null());
            EXPECT_TRUE(object["ch8_mV"].is_null());
            EXPECT_EQ(object["ch8_status"], "short");
        }
    }
}

TEST(ResultsWriter, DisplayModeWritesWhatThePanelsShow)
{
    ResultsWriter writer = Formatter(Layout(ResultsSyntax::Csv, true));
    const auto fields = Split(writer.FormatRow(MixedFrame()), ',');
    ASSERT_EQ(fields.size(), 42u);
    const std::vector<std::string> shown(fields.begin() + 2, fields.end());
    const std::vector<std::string> expected = {
        // voltage, frequency, phase, status, in band
        "707.11",   "1.00000",  "0.000",    "ok",        "1",  //
        "353.55",   "1.00000",  "30.000",   "ok",        "1",  //
        "1414.21",  "150.000",  "-90.000",  "ok",        "1",  // above 100 kHz: three decimals
        "0.00",     "--------", "--------", "notone",    "1",  //
        "4188.35",  "1500.00",  "120.000",  "overrange", "0",  // above 1000 kHz: two
        "707.11",   "1.00000",  "--------", "ok",        "1",  //
        "ОБРЫВ!!!", "--------", "--------", "open",      "1",  //
        "КЗ!!!",    "--------", "--------", "short",     "1\n",
    };
    EXPECT_EQ(shown, expected);

    // The settings' precisions decide the digits.
    ResultsLayout coarse = Layout(ResultsSyntax::Csv, true);
    coarse.VoltageFormat = "0.";
    coarse.FrequencyFormat = "0.0000000000";
    ResultsWriter coarseWriter = Formatter(coarse);
    const auto coarseFields = Split(coarseWriter.FormatRow(MixedFrame()), ',');
    EXPECT_EQ(coarseFields[2], "707");
    EXPECT_EQ(coarseFields[3], "1.0000000000");
    EXPECT_EQ(coarseFields[13], "150.000");  // the shorter of "0.000" and the setting's format

    ResultsLayout bad = Layout(ResultsSyntax::Csv, true);
    bad.PhaseFormat = "#.##";
    EXPECT_THROW(Formatter(bad), std::invalid_argument);
}

TEST(ResultsWriter, ALostFrameIsLostInEveryChannelWithNoValueAtAll)
{
    FrameResult frame = NumberedFrame(6);
    for (ChannelReading& channel : frame.Channels) {
        channel = ChannelReading{};
        channel.Status = ReadingStatus::Lost;
    }
    for (const bool display : {false, true}) {
        SCOPED_TRACE(display ? "display" : "full precision");
        ResultsWriter csv = Formatter(Layout(ResultsSyntax::Csv, display));
        const auto fields = Split(csv.FormatRow(frame), ',');
        ASSERT_EQ(fields.size(), 42u);
        EXPECT_EQ(fields[1], "6");
        const std::string none = display ? "--------" : "";
        for (std::size_t c = 0; c < 8; ++c) {
            const std::size_t at = 2 + 5 * c;
            EXPECT_EQ(fields[at], none);
            EXPECT_EQ(fields[at + 1], none);
            EXPECT_EQ(fields[at + 2], none);
            EXPECT_EQ(fields[at + 3], "lost");
            // No reading to lie in a band or outside it.
            EXPECT_EQ(fields[at + 4], c == 7 ? "\n" : "");
        }

        ResultsWriter ndjson = Formatter(Layout(ResultsSyntax::Ndjson, display));
        const nlohmann::json object = nlohmann::json::parse(ndjson.FormatRow(frame));
        EXPECT_EQ(object["frame"], 6);
        for (int c = 1; c <= 8; ++c) {
            const std::string prefix = "ch" + std::to_string(c);
            EXPECT_EQ(object[prefix + "_status"], "lost");
            EXPECT_TRUE(object[prefix + "_inband"].is_null());
            if (display) {
                EXPECT_EQ(object[prefix + "_mV"], "--------");
            } else {
                EXPECT_TRUE(object[prefix + "_mV"].is_null());
                EXPECT_TRUE(object[prefix + "_kHz"].is_null());
                EXPECT_TRUE(object[prefix + "_deg"].is_null());
            }
        }
    }
}

TEST(ResultsWriter, TimeIsUtcIso8601WithMilliseconds)
{
    struct Case {
        std::int64_t ms;
        const char* text;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1709251199999, "2024-02-29T23:59:59.999Z"},
        {1709251200000, "2024-03-01T00:00:00.000Z"},
        {-500, "1969-12-31T23:59:59.500Z"},
        {7258118400000, "2200-01-01T00:00:00.000Z"},
    };
    ResultsWriter writer = Formatter(Layout(ResultsSyntax::Csv, false, {}));
    FrameResult frame;
    for (const Case& c : cases) {
        frame.Time = At(c.ms);
        EXPECT_EQ(Split(writer.FormatRow(frame), ',')[0], c.text);
    }
    // Below a millisecond is cut, not rounded.
    frame.Time = At(1000) + std::chrono::microseconds(999);
    EXPECT_EQ(Split(writer.FormatRow(frame), ',')[0], "1970-01-01T00:00:01.000Z");
}

TEST(ResultsWriter, TheLongestRowsFitTheirBound)
{
    FrameResult frame;
    frame.Time = Clock::time_point::min();
    frame.Frame = std::numeric_limits<std::uint64_t>::max();
    const double huge = -std::numeric_limits<double>::max();
    for (auto& channel : frame.Channels) {
        channel = Reading(ReadingStatus::OverRange, huge, huge, -2.2250738585072014e-308, false);
    }
    for (const auto syntax : {ResultsSyntax::Csv, ResultsSyntax::Ndjson}) {
        for (const bool display : {false, true}) {
            ResultsLayout layout = Layout(syntax, display);
            layout.VoltageFormat = "0.0000000000";
            ResultsWriter writer = Formatter(layout);
            const std::string_view row = writer.FormatRow(frame);
            EXPECT_FALSE(row.empty());
            EXPECT_LE(row.size(), writer.MaxRowLength());
            if (!display) {
                // Full precision rows of all eight channels go to a pipe in
                // one atomic write.
                EXPECT_LE(writer.MaxRowLength(), static_cast<std::size_t>(PIPE_BUF));
            }
        }
    }
}

class ResultsFileTest : public ::testing::Test {
protected:
    static std::string Read(const std::string& path) { return ReadBytes(path); }

    // The file holds the header and then whole rows of frames 1, 2, ...
    static void ExpectWholeRows(const std::string& bytes, const std::string& header,
                                std::uint64_t rows)
    {
        ASSERT_EQ(bytes.substr(0, header.size()), header);
        const std::string body = bytes.substr(header.size());
        ASSERT_TRUE(body.empty() || body.back() == '\n') << "a partial row at the end";
        std::istringstream lines(body);
        std::string line;
        std::uint64_t n = 0;
        while (std::getline(lines, line)) {
            ++n;
            const auto fields = Split(line, ',');
            ASSERT_EQ(fields.size(), 42u) << line;
            EXPECT_EQ(fields[1], std::to_string(n));
        }
        EXPECT_EQ(n, rows);
    }

    TestDirectory dir;
};

TEST_F(ResultsFileTest, AppendingWritesNoSecondHeader)
{
    const std::string path = dir.File("log.csv");
    std::string header;
    for (std::uint64_t run = 0; run < 2; ++run) {
        ResultsWriter writer(Layout(ResultsSyntax::Csv), ResultsFile::Append(path));
        header = writer.Header();
        writer.Begin();
        writer.Write(NumberedFrame(2 * run + 1));
        writer.Write(NumberedFrame(2 * run + 2));
        writer.Close();
    }
    ExpectWholeRows(Read(path), header, 4);

    // A file that is there but empty gets its header.
    WriteBytes(path, "");
    ResultsWriter writer(Layout(ResultsSyntax::Csv), ResultsFile::Append(path));
    writer.Begin();
    writer.Write(NumberedFrame(1));
    writer.Close();
    ExpectWholeRows(Read(path), header, 1);
}

TEST_F(ResultsFileTest, AFileThatCannotBeContinuedIsRefusedUntouched)
{
    const std::string header = Formatter(Layout(ResultsSyntax::Csv)).Header();
    struct Case {
        const char* name;
        ResultsSyntax syntax;
        std::string content;
        bool refused;
    };
    const Case cases[] = {
        {"other columns", ResultsSyntax::Csv, "time,frame,ch1_mV\n1,2,3\n", true},
        {"last line cut", ResultsSyntax::Csv, header + "2024-05-01T12:34:56.789Z,1,7", true},
        {"same columns", ResultsSyntax::Csv, header, false},
        {"same columns, CRLF", ResultsSyntax::Csv, header.substr(0, header.size() - 1) + "\r\n",
         false},
        {"json lines", ResultsSyntax::Ndjson, "{\"frame\":1}\n", false},
        {"json cut", ResultsSyntax::Ndjson, "{\"frame\":1}\n{\"fra", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("existing");
        WriteBytes(path, c.content);
        ResultsWriter writer(Layout(c.syntax), ResultsFile::Append(path));
        if (c.refused) {
            EXPECT_THROW(writer.Begin(), ResultsMismatch);
            EXPECT_EQ(Read(path), c.content);
        } else {
            writer.Begin();
            writer.Write(NumberedFrame(1));
            const std::string bytes = Read(path);
            EXPECT_EQ(bytes.substr(0, c.content.size()), c.content);
            EXPECT_EQ(bytes.size(), c.content.size() + writer.FormatRow(NumberedFrame(1)).size())
                << "no second header";
        }
    }
}

// Fills the file until the system refuses a write; returns the rows written.
std::uint64_t FillUntilRefused(const std::string& path, int expectedError)
{
    ResultsWriter writer(Layout(ResultsSyntax::Csv), ResultsFile::Append(path));
    writer.Begin();
    std::uint64_t n = 0;
    try {
        for (; n < 100000; ++n) {
            writer.Write(NumberedFrame(n + 1));
        }
        ADD_FAILURE() << "the file took every row";
    } catch (const ResultsFileError& e) {
        EXPECT_EQ(e.Error(), expectedError);
        EXPECT_EQ(e.FileName(), path);
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_EQ(writer.RowsWritten(), n);
    EXPECT_GT(n, 0u);
    // A later row fails too and leaves the file as it is.
    const std::string before = ReadBytes(path);
    EXPECT_THROW(writer.Write(NumberedFrame(n + 1)), ResultsFileError);
    EXPECT_EQ(ReadBytes(path), before);
    return n;
}

TEST_F(ResultsFileTest, AFullDiskLeavesOnlyWholeRows)
{
    if (!dir.MountTmpfs(64)) {
        GTEST_SKIP() << "this process may not mount a small file system";
    }
    const std::string path = dir.File("log.csv");
    const std::uint64_t rows = FillUntilRefused(path, ENOSPC);
    ExpectWholeRows(Read(path), Formatter(Layout(ResultsSyntax::Csv)).Header(), rows);
}

TEST_F(ResultsFileTest, AFileSizeLimitLeavesOnlyWholeRows)
{
    // The limit cuts a row in the middle: the system takes part of it.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 10000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string path = dir.File("log.csv");
    const std::uint64_t rows = FillUntilRefused(path, EFBIG);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    const std::string bytes = Read(path);
    EXPECT_LT(bytes.size(), 10000u);
    ExpectWholeRows(bytes, Formatter(Layout(ResultsSyntax::Csv)).Header(), rows);
}

TEST_F(ResultsFileTest, StreamsThatRefuseRowsSayWhy)
{
    // A device that is always full.
    {
        ResultsWriter writer(Layout(ResultsSyntax::Csv), ResultsFile::Append("/dev/full"));
        try {
            writer.Begin();
            FAIL() << "the header went into /dev/full";
        } catch (const ResultsFileError& e) {
            EXPECT_EQ(e.Error(), ENOSPC);
            EXPECT_NE(std::string(e.what()).find("'/dev/full'"), std::string::npos);
        }
    }
    // A pipe whose reader has gone: rows up to then arrived whole.
    const auto oldHandler = std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        ResultsWriter writer(Layout(ResultsSyntax::Ndjson), ResultsFile::Attach(fds[1], "pipe"));
        writer.Begin();
        writer.Write(NumberedFrame(1));
        writer.Write(NumberedFrame(2));
        std::string received(2 * writer.MaxRowLength(), '\0');
        const ssize_t got = ::read(fds[0], received.data(), received.size());
        ASSERT_GT(got, 0);
        received.resize(static_cast<std::size_t>(got));
        EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), 2);
        EXPECT_EQ(received.back(), '\n');
        ::close(fds[0]);
        try {
            writer.Write(NumberedFrame(3));
            FAIL() << "a row went into a pipe without a reader";
        } catch (const ResultsFileError& e) {
            EXPECT_EQ(e.Error(), EPIPE);
            EXPECT_NE(std::string(e.what()).find("'pipe'"), std::string::npos);
        }
        EXPECT_EQ(writer.RowsWritten(), 2u);
        writer.Close();  // a stream is not ours to close
        EXPECT_NE(::fcntl(fds[1], F_GETFD), -1) << "the stream was closed";
    }
    ::close(fds[1]);
    std::signal(SIGPIPE, oldHandler);
    EXPECT_THROW(ResultsFile::Append(dir.File("missing/log.csv")), ResultsFileError);
}

TEST_F(ResultsFileTest, StandardOutputOnAFileStartsALogOfItsOwn)
{
    // "> file" leaves the position at the start, ">> file" appends; what the
    // shell wrote there before is not a log to continue. Rows cut by a file
    // size limit are cut back there too.
    const std::string header = Formatter(Layout(ResultsSyntax::Csv)).Header();
    const std::string before = "# bench 7\n";
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (const int flags : {O_WRONLY, O_WRONLY | O_APPEND}) {
        const std::string path = dir.File("out.csv");
        WriteBytes(path, before);
        const int fd = ::open(path.c_str(), flags);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::lseek(fd, 0, SEEK_END), static_cast<off_t>(before.size()));
        std::uint64_t rows = 0;
        {
            ResultsWriter writer(Layout(ResultsSyntax::Csv), ResultsFile::Attach(fd, "stdout"));
            writer.Begin();
            rlimit limited = old;
            limited.rlim_cur = 5000;
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
            try {
                for (std::uint64_t n = 1; n < 100; ++n) {
                    writer.Write(NumberedFrame(n));
                }
                ADD_FAILURE() << "the limit took every row";
            } catch (const ResultsFileError& e) {
                EXPECT_EQ(e.Error(), EFBIG);
            }
            ::setrlimit(RLIMIT_FSIZE, &old);
            rows = writer.RowsWritten();
            writer.Write(NumberedFrame(rows + 1));  // rows go on where the last whole one ended
            ++rows;
        }
        ::close(fd);
        const std::string bytes = Read(path);
        ASSERT_EQ(bytes.substr(0, before.size()), before);
        ExpectWholeRows(bytes.substr(before.size()), header, rows);
    }
    std::signal(SIGXFSZ, oldHandler);
}

TEST_F(ResultsFileTest, RowsAfterTheFirstAllocateNothing)
{
    for (const auto syntax : {ResultsSyntax::Csv, ResultsSyntax::Ndjson}) {
        for (const bool display : {false, true}) {
            ResultsWriter writer(Layout(syntax, display), ResultsFile::Append(dir.File("log")));
            writer.Begin();
            writer.Write(NumberedFrame(1));
            const FrameResult frame = NumberedFrame(2);
            counting::Begin();
            for (int i = 0; i < 10; ++i) {
                writer.Write(frame);
            }
            EXPECT_EQ(counting::End(), 0) << (display ? "display" : "full precision");
            writer.Close();
        }
    }
}

// The record filled from the measurement cycle where the window's display runs.
class FillingHost : public CycleHost {
public:
    void ShowResults(const measure::MeasurementCycle& cycle) override
    {
        measure::FillFrameResult(cycle, Result);
        CycleHost::ShowResults(cycle);
    }
    FrameResult Result;
};

class CycleRecord : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        auto& m = fake::Current();
        m.Tones[0] = {1.0, 1000.0, 0.0};
        m.Tones[2] = {0.5, 1000.0, 30.0};
        m.Tones[3] = {0.5, 1000.0, 60.0};
        m.Tones[5] = {2.0, 1000.0, -90.0};
        host.Choice.ChannelTicked = {true, false, true, true, false, true, false, false};
        host.Choice.RateIndex = 4;
        host.Choice.ReferenceChannel = 2;
        host.StopAfterFrames = 1;
    }

    void Run()
    {
        measure::MeasurementCycle cycle(host, handle, host.Terminated, host.MessageShown,
                                        fake::Api());
        cycle.SetModuleNames({40, {}, {}});
        cycle.RunMultimeter();
        ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
        ASSERT_EQ(host.Frames, 1);
    }

    FillingHost host;
    Ksn48Handle handle{};
};

TEST_F(CycleRecord, StatusesComeByChannelAndValuesAsTheWindowShowsThem)
{
    // Frame order: channels 1, 3, 4, 6; channel 4 open, channel 6 a status
    // the module does not name.
    fake::Current().Status = {KSN48_STATUS_VALID, KSN48_STATUS_VALID, KSN48_STATUS_OPEN, 7};
    Run();
    const auto& r = host.Result.Channels;
    EXPECT_EQ(r[0].Status, ReadingStatus::Ok);
    EXPECT_EQ(r[2].Status, ReadingStatus::Ok);
    EXPECT_EQ(r[3].Status, ReadingStatus::Open);
    EXPECT_EQ(r[5].Status, ReadingStatus::NoSignal);
    EXPECT_NEAR(*r[0].Voltage, 0.70711, 1e-4);
    EXPECT_NEAR(*r[0].Frequency, 1000.0, 1e-3);
    // Against the reference, channel 3: the window's difference.
    EXPECT_NEAR(*r[0].Phase, -30.0, 1e-3);
    EXPECT_NEAR(*r[2].Phase, 0.0, 1e-9);
    EXPECT_TRUE(r[0].InBand);
    for (const std::size_t c : {3u, 5u}) {
        EXPECT_FALSE(r[c].Voltage || r[c].Frequency || r[c].Phase) << c;
    }
}

TEST_F(CycleRecord, PhasesGoWithoutAValidReference)
{
    fake::Current().Status = {KSN48_STATUS_VALID, KSN48_STATUS_SHORT, KSN48_STATUS_VALID,
                              KSN48_STATUS_VALID};
    Run();
    const auto& r = host.Result.Channels;
    EXPECT_EQ(r[2].Status, ReadingStatus::Short);
    for (const std::size_t c : {0u, 3u, 5u}) {
        EXPECT_EQ(r[c].Status, ReadingStatus::Ok);
        EXPECT_TRUE(r[c].Voltage && r[c].Frequency) << c;
        EXPECT_FALSE(r[c].Phase) << c;
    }
}

// The marks of the readings reach the record as the window shows them: the
// numbers stay, a dashed field has no value.
TEST_F(CycleRecord, MarkedReadingsKeepTheirNumbersAndSayWhy)
{
    auto& m = fake::Current();
    m.Tones[2] = {0.5, 10.0, 30.0};   // 8.4 bins of 1.19 Hz: below the band
    m.Tones[3] = {1.0, 0.0, 0.0};     // a constant 1 V: no tone
    m.Tones[5] = {8.0, 1000.0, 0.0};  // clipped at 5 V
    host.Choice.ReferenceChannel = 0;
    Run();
    const auto& r = host.Result.Channels;
    const struct {
        std::size_t channel;
        ReadingStatus status;
        bool inBand, frequency, phase;
    } expected[] = {
        {0, ReadingStatus::Ok, true, true, true},
        {2, ReadingStatus::Ok, false, true, true},
        {3, ReadingStatus::NoTone, false, false, false},
        {5, ReadingStatus::OverRange, true, true, true},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE("channel " + std::to_string(e.channel + 1));
        EXPECT_EQ(r[e.channel].Status, e.status);
        EXPECT_EQ(r[e.channel].InBand, e.inBand);
        EXPECT_TRUE(r[e.channel].Voltage);
        EXPECT_EQ(r[e.channel].Frequency.has_value(), e.frequency);
        EXPECT_EQ(r[e.channel].Phase.has_value(), e.phase);
    }
    EXPECT_NEAR(*r[2].Frequency, 10.0, 1.0);  // off, but as estimated
    EXPECT_LT(*r[5].Voltage, 8.0 / std::sqrt(2.0) - 0.5);
}

TEST_F(CycleRecord, NoPhaseAgainstAReferenceWithoutTone)
{
    fake::Current().Tones[2] = {0.5, 0.0, 0.0};  // the reference, channel 3: a constant, no tone
    Run();
    const auto& r = host.Result.Channels;
    EXPECT_EQ(r[2].Status, ReadingStatus::NoTone);
    for (const std::size_t c : {0u, 3u, 5u}) {
        EXPECT_EQ(r[c].Status, ReadingStatus::Ok) << c;
        EXPECT_TRUE(r[c].Frequency) << c;
        EXPECT_FALSE(r[c].Phase) << c;
    }
}

TEST_F(CycleRecord, SumGivesVoltagesOnly)
{
    host.Settings.CalcMethod = "sum";
    Run();
    for (const std::size_t c : {0u, 2u, 3u, 5u}) {
        EXPECT_TRUE(host.Result.Channels[c].Voltage) << c;
        EXPECT_FALSE(host.Result.Channels[c].Frequency || host.Result.Channels[c].Phase) << c;
    }
}

// The uncertainties after each channel's in-band bit, the converter's
// figures after its SNR; in display mode rounded like the values.
TEST(ResultsWriter, UncertaintyColumnsFollowTheirChannel)
{
    ResultsLayout layout =
        Layout(ResultsSyntax::Csv, false, {true, false, false, false, false, false, false, false});
    layout.Uncertainties = true;
    EXPECT_EQ(Formatter(layout).Header(), "time,frame,ch1_mV,ch1_kHz,ch1_deg,ch1_status,"
                                          "ch1_inband,ch1_mV_u,ch1_kHz_u,ch1_deg_u\n");
    layout.Metrics = true;
    EXPECT_EQ(Formatter(layout).Header(),
              "time,frame,ch1_mV,ch1_kHz,ch1_deg,ch1_status,ch1_inband,ch1_mV_u,ch1_kHz_u,"
              "ch1_deg_u,ch1_thd_pct,ch1_thdn_pct,ch1_snr_db,ch1_sinad_db,ch1_enob_bits,"
              "ch1_sfdr_dbc,ch1_sfdr_kHz,ch1_fit_sinad_db,ch1_fit_enob_bits\n");

    FrameResult frame = MixedFrame();
    ChannelReading& r = frame.Channels[0];
    r.VoltageU = 2.1e-6;
    r.FrequencyU = 0.0125;
    r.PhaseU = 0.00444;
    r.SinadDb = 60.25;
    r.EnobBits = 9.7123;
    r.SfdrDbc = 70.0;
    r.SfdrHz = 3000.0;
    r.FitSinadDb = 60.2;
    r.FitEnobBits = 9.70;
    frame.Channels[7] = Reading(ReadingStatus::Short);

    layout.Channels = AllChannels;
    layout.Syntax = ResultsSyntax::Ndjson;
    ResultsWriter json = Formatter(layout);
    const auto object = nlohmann::json::parse(json.FormatRow(frame));
    EXPECT_EQ(object["ch1_mV_u"], 2.1e-3);
    EXPECT_EQ(object["ch1_kHz_u"], 1.25e-5);
    EXPECT_EQ(object["ch1_deg_u"], 0.00444);
    EXPECT_EQ(object["ch1_sinad_db"], 60.25);
    EXPECT_EQ(object["ch1_enob_bits"], 9.7123);
    EXPECT_EQ(object["ch1_sfdr_dbc"], 70.0);
    EXPECT_EQ(object["ch1_sfdr_kHz"], 3.0);
    EXPECT_EQ(object["ch1_fit_sinad_db"], 60.2);
    EXPECT_TRUE(object["ch2_mV_u"].is_null()) << "no uncertainty given, none written";
    EXPECT_TRUE(object["ch8_deg_u"].is_null());

    layout.Display = true;
    ResultsWriter shown = Formatter(layout);
    const auto display = nlohmann::json::parse(shown.FormatRow(frame));
    // Voltage "0.00" mV, frequency "0.00000" kHz, phase "0.000" degrees.
    EXPECT_EQ(display["ch1_mV_u"], "0.00");
    EXPECT_EQ(display["ch1_kHz_u"], "0.00001");
    EXPECT_EQ(display["ch1_deg_u"], "0.004");
    EXPECT_EQ(display["ch1_sinad_db"], "60.3");
    EXPECT_EQ(display["ch1_enob_bits"], "9.71");
    EXPECT_EQ(display["ch8_mV_u"], "--------");
}

}  // namespace
