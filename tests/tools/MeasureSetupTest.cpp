// The tool's setup: the window's settings files read by the window's reader,
// the settings of a fresh window, and each flag replacing one value.
#include "MeasureSetup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using tool::MeasureSetup;

const std::string Data = KSN_SETTINGS_TEST_DATA;

void ExpectDefaultFileValues(const MeasureSetup& s)
{
    EXPECT_EQ(s.Choice.RateIndex, 7);
    EXPECT_EQ(s.Settings.DataFormat, 0);
    EXPECT_EQ(s.Settings.CurrentSource, 0);
    EXPECT_EQ(s.Choice.ChannelTicked,
              (tool::ChannelSet{true, true, true, true, true, true, false, false}));
    EXPECT_EQ(s.Choice.ReferenceChannel, 0);
    EXPECT_EQ(s.Settings.CalcMethod, "fft");
    EXPECT_EQ(s.Settings.AmplitudeType, "rms");
    EXPECT_EQ(s.Settings.MaxAcquisitionTime, 0.75);
    EXPECT_EQ(s.AcFormat, "0.00");
    EXPECT_EQ(s.FrFormat, "0.00000");
    EXPECT_EQ(s.PhFormat, "0.000");
    // No module saved: the window's first crate and module.
    EXPECT_EQ(s.CrateSerial, "");
    EXPECT_EQ(s.ModuleSlot, -1);
}

TEST(MeasureSetup, TheDefaultFileAndAFreshWindowGiveTheSameSetup)
{
    ExpectDefaultFileValues(tool::ReadSetup(Data + "/default.ini"));
    ExpectDefaultFileValues(tool::DefaultSetup());
}

TEST(MeasureSetup, AFileEditedByHandReadsAsTheWindowReadsIt)
{
    const MeasureSetup s = tool::ReadSetup(Data + "/edited.ini");
    EXPECT_EQ(s.Settings.CalcMethod, "sum");
    EXPECT_EQ(s.Settings.AmplitudeType, "amp");
    EXPECT_EQ(s.Settings.MaxAcquisitionTime, 2.5);
    EXPECT_EQ(s.Settings.DataFormat, 1);
    EXPECT_EQ(s.Settings.CurrentSource, 1);
    EXPECT_EQ(s.Choice.RateIndex, 3);  // the first of two equal keys
    EXPECT_EQ(s.Choice.ReferenceChannel, 3);
    // Channel 4's value is not a number: its default, on; 5 to 8 absent: on.
    EXPECT_EQ(s.Choice.ChannelTicked,
              (tool::ChannelSet{true, false, true, true, true, true, true, true}));
    EXPECT_EQ(s.AcFormat, "0.0000000000");  // precision 12 taken as 10
    EXPECT_EQ(s.FrFormat, "0.00000");
    EXPECT_EQ(s.PhFormat, "0.");
    EXPECT_EQ(s.CrateSerial, "KSN5-0107");
    EXPECT_EQ(s.ModuleSlot, 1);
}

TEST(MeasureSetup, EachFlagReplacesOneValue)
{
    const MeasureSetup base = tool::ReadSetup(Data + "/edited.ini");
    struct Case {
        const char* name;
        void (*give)(tool::ToolOptions&);
        void (*expect)(MeasureSetup&);  // sets the value expected in a copy of base
    };
    const Case cases[] = {
        {"rate", [](tool::ToolOptions& o) { o.RateIndex = 7; },
         [](MeasureSetup& s) { s.Choice.RateIndex = 7; }},
        {"bits", [](tool::ToolOptions& o) { o.DataFormat = 0; },
         [](MeasureSetup& s) { s.Settings.DataFormat = 0; }},
        {"current", [](tool::ToolOptions& o) { o.CurrentSource = 0; },
         [](MeasureSetup& s) { s.Settings.CurrentSource = 0; }},
        {"channels",
         [](tool::ToolOptions& o) {
             o.Channels = tool::ChannelSet{false, true};
         },
         [](MeasureSetup& s) {
             s.Choice.ChannelTicked = tool::ChannelSet{false, true};
         }},
        {"reference", [](tool::ToolOptions& o) { o.Reference = 7; },
         [](MeasureSetup& s) { s.Choice.ReferenceChannel = 7; }},
        {"method", [](tool::ToolOptions& o) { o.Method = "fft"; },
         [](MeasureSetup& s) { s.Settings.CalcMethod = "fft"; }},
        {"amplitude", [](tool::ToolOptions& o) { o.Amplitude = "rms"; },
         [](MeasureSetup& s) { s.Settings.AmplitudeType = "rms"; }},
        {"max time", [](tool::ToolOptions& o) { o.MaxTime = 0.1; },
         [](MeasureSetup& s) { s.Settings.MaxAcquisitionTime = 0.1; }},
    };
    const auto same = [](const MeasureSetup& a, const MeasureSetup& b) {
        return a.Settings.DataFormat == b.Settings.DataFormat &&
               a.Settings.CurrentSource == b.Settings.CurrentSource &&
               a.Settings.CalcMethod == b.Settings.CalcMethod &&
               a.Settings.AmplitudeType == b.Settings.AmplitudeType &&
               a.Settings.MaxAcquisitionTime == b.Settings.MaxAcquisitionTime &&
               a.Choice.ChannelTicked == b.Choice.ChannelTicked &&
               a.Choice.RateIndex == b.Choice.RateIndex &&
               a.Choice.ReferenceChannel == b.Choice.ReferenceChannel && a.AcFormat == b.AcFormat &&
               a.FrFormat == b.FrFormat && a.PhFormat == b.PhFormat;
    };
    for (const Case& c : cases) {
        tool::ToolOptions options;
        c.give(options);
        MeasureSetup got = base;
        tool::ApplyOptions(options, got);
        MeasureSetup expected = base;
        c.expect(expected);
        EXPECT_TRUE(same(got, expected)) << c.name;
        EXPECT_FALSE(same(got, base)) << c.name << " changed nothing";
    }
    MeasureSetup untouched = base;
    tool::ApplyOptions(tool::ToolOptions{}, untouched);
    EXPECT_TRUE(same(untouched, base));
}

TEST(MeasureSetup, AFileThatCannotBeReadIsRefused)
{
    // A FIFO in the settings file's place: the reader refuses it rather than
    // waiting for a writer.
    const std::string fifo =
        (std::filesystem::temp_directory_path() / ("ksn-setup-" + std::to_string(::getpid())))
            .string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(tool::ReadSetup(fifo), tool::SetupError);
    ::unlink(fifo.c_str());
}

}  // namespace
