// The measurement cycle without a window, through the real module library,
// against a crate server of the test's own in fast mode.
#include "CrateServer.h"
#include "CycleHost.h"
#include "MeasurementCycle.h"
#include "MeasurementTexts.h"
#include "NumberText.h"
#include "ResultsFormat.h"
#include "ksn48api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using ksn::test::CrateServer;
using measure::MeasurementCycle;
namespace text = MeasurementText;

// The built-in population.
constexpr const char* TypeFortyCrate = "KSN5-0042";
constexpr int TypeFortySlot = 3;  // module "4811001"
constexpr const char* TypeTwentyOneCrate = "KSN1-0107";
constexpr int TypeTwentyOneSlot = 1;

constexpr int Rate39062 = 6;
constexpr int Rate78125 = 7;

std::string MilliVolts(double volts)
{
    return NumberText::FormatFloat("0.00", volts * 1000.0);
}
std::string KiloHertz(double hertz)
{
    return NumberText::FormatFloat("0.00000", hertz * 0.001);
}
std::string Degrees(double degrees)
{
    return NumberText::FormatFloat("0.000", degrees);
}

class DaemonCycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<CrateServer>();
        Open(TypeFortyCrate, TypeFortySlot, 40);
        host.Choice.ChannelTicked = {true, true, true, true, true, true, false, false};
        host.Choice.RateIndex = Rate78125;
    }
    void TearDown() override
    {
        cycle.reset();
        KSN48_Close(&handle);
    }

    void Open(const char* crate, int slot, std::uint8_t crateType)
    {
        KSN48_Close(&handle);
        ASSERT_EQ(KSN48_Init(&handle), 0);
        ASSERT_EQ(KSN48_Open(&handle, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, crate, slot), 0);
        crateType_ = crateType;
    }

    void Run()
    {
        host.Terminated = false;
        host.MessageShown = false;
        host.Frames = 0;
        host.StoppedShown = 0;
        host.Messages.clear();
        cycle =
            std::make_unique<MeasurementCycle>(host, handle, host.Terminated, host.MessageShown);
        cycle->SetModuleNames(
            {crateType_, crateType_ == 21 ? "KSN-P1" : "KSN-P5", handle.ModuleName});
        cycle->RunMultimeter();
        EXPECT_EQ(host.StoppedShown, 1);
        EXPECT_TRUE(cycle->BuffersFreed());
        EXPECT_EQ(handle.AcquisitionRunning, 0);
    }

    void Ctl(const std::vector<std::string>& args) const
    {
        ASSERT_EQ(server->Ctl(args), 0) << args[0];
    }

    std::unique_ptr<CrateServer> server;
    Ksn48Handle handle{};
    CycleHost host;
    std::unique_ptr<MeasurementCycle> cycle;
    std::uint8_t crateType_ = 0;
};

TEST_F(DaemonCycle, DefaultPopulationShowsItsVoltagesFrequenciesAndPhases)
{
    Run();
    ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
    ASSERT_EQ(host.Frames, 3);
    const FrameRecord& r = host.Last;
    const auto phase = [&r](std::size_t c) {
        return Degrees(measure::PhaseDifference(r.Phase[0], r.Phase[c]));
    };
    EXPECT_EQ(MilliVolts(r.Voltage[0]), "707.11");
    EXPECT_EQ(KiloHertz(r.Frequency[0]), "1.00000");
    EXPECT_EQ(phase(0), "0.000");
    EXPECT_EQ(MilliVolts(r.Voltage[1]), "353.55");
    EXPECT_EQ(phase(1), "30.000");
    EXPECT_EQ(MilliVolts(r.Voltage[2]), "1414.21");
    EXPECT_EQ(phase(2), "-90.000");
    EXPECT_EQ(MilliVolts(r.Voltage[4]), "176.78");
    EXPECT_EQ(phase(4), "120.000");
}

TEST_F(DaemonCycle, OpenAndShortChannelsReportTheirStatusWithAllEightAtHalfRate)
{
    host.Choice.ChannelTicked = {true, true, true, true, true, true, true, true};
    host.Choice.RateIndex = Rate39062;
    Run();
    ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
    EXPECT_EQ(host.Last.Status[6], 2);
    EXPECT_EQ(host.Last.Status[7], 1);
    EXPECT_EQ(host.Last.Voltage[6], 0.0);
    EXPECT_EQ(host.Last.Voltage[7], 0.0);
    EXPECT_EQ(MilliVolts(host.Last.Voltage[0]), "707.11");
}

TEST_F(DaemonCycle, AmplitudeAndSumMethodsGiveTheirVoltages)
{
    const struct {
        const char* method;
        const char* amplitude;
        const char* channel1;
    } cases[] = {{"fft", "amp", "1000.00"}, {"sum", "rms", "707.11"}, {"sum", "amp", "1000.00"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.amplitude);
        host.Settings.CalcMethod = c.method;
        host.Settings.AmplitudeType = c.amplitude;
        Run();
        ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
        EXPECT_EQ(MilliVolts(host.Last.Voltage[0]), c.channel1);
        if (std::string(c.method) == "sum") {
            EXPECT_EQ(host.Last.Frequency[0], 0.0);
        }
    }
}

class DaemonCycleRate : public DaemonCycle, public ::testing::WithParamInterface<int> {};

TEST_P(DaemonCycleRate, TwentyFourBitDataAtEveryRate)
{
    host.Choice.ChannelTicked = {true, true, false, false, false, false, false, false};
    host.Choice.RateIndex = GetParam();
    host.Settings.DataFormat = 1;
    Run();
    ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
    const double rate = 78125.0 / (1 << (7 - GetParam()));
    // Below 2 kHz the 1 kHz tone folds back under half the rate.
    const double seen = std::fabs(1000.0 - rate * std::round(1000.0 / rate));
    EXPECT_EQ(MilliVolts(host.Last.Voltage[0]), "707.11");
    EXPECT_EQ(MilliVolts(host.Last.Voltage[1]), "353.55");
    EXPECT_NEAR(host.Last.Frequency[0], seen, 1e-3);
    if (seen == 1000.0) {
        EXPECT_EQ(Degrees(measure::PhaseDifference(host.Last.Phase[0], host.Last.Phase[1])),
                  "30.000");
    }
}

INSTANTIATE_TEST_SUITE_P(RateTable, DaemonCycleRate, ::testing::Range(0, 8));

TEST_F(DaemonCycle, DataRateRefusals)
{
    // Type 21: three channels at 78125 Hz, 20-bit.
    Open(TypeTwentyOneCrate, TypeTwentyOneSlot, 21);
    host.Choice.ChannelTicked = {true, true, true, false, false, false, false, false};
    Run();
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0],
              "При выбранных параметрах сбора данных скорость передачи этой информации модулем "
              "KSN48 составляет 937.5 Кбайт/с, что превышает маскимально допустимую для крейта "
              "KSN-P1 величину 800.0 Кбайт/с !!! \nРекомендуется либо снизить частоту "
              "преобразования АЦП, либо уменьшить кол-во активных каналов, либо сократить "
              "разрядность данных!!!");
    EXPECT_EQ(host.Frames, 0);

    // Type 40: all eight at 78125 Hz.
    Open(TypeFortyCrate, TypeFortySlot, 40);
    host.Choice.ChannelTicked = {true, true, true, true, true, true, true, true};
    Run();
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_NE(host.Messages[0].find("составляет 2500.0 Кбайт/с"), std::string::npos);
    EXPECT_EQ(host.Frames, 0);
}

TEST_F(DaemonCycle, NoSignalAndAShortInTheFrame)
{
    // Channel 2 shorted while running: zero results, the others go on.
    host.StopAfterFrames = 4;
    host.OnFrame = [this](int frame) {
        if (frame == 1) {
            Ctl({"status", TypeFortyCrate, std::to_string(TypeFortySlot), "2", "short"});
        }
    };
    Run();
    ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
    EXPECT_EQ(host.Last.Status[1], 1);
    EXPECT_EQ(host.Last.Voltage[1], 0.0);
    EXPECT_EQ(MilliVolts(host.Last.Voltage[2]), "1414.21");

    // Channel 1 silenced: no signal.
    host.OnFrame = nullptr;
    Ctl({"signal", TypeFortyCrate, std::to_string(TypeFortySlot), "1", "--no-sines"});
    Run();
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0], measure::NoSignalMessage);
    EXPECT_EQ(host.Frames, 0);
}

// An 8 V sine on a module whose range is +-5 V: the converter clips it, and
// the conversion gives exactly the values at the ends of the range, so the
// cycle marks the channel over range and no other.
TEST_F(DaemonCycle, AnEightVoltSineIsClippedAtFullScaleAndMarkedOverRange)
{
    Ctl({"signal", TypeFortyCrate, std::to_string(TypeFortySlot), "3", "--sine", "8,1000,-90"});
    for (const std::uint8_t format : {std::uint8_t{0}, std::uint8_t{1}}) {
        SCOPED_TRACE(format != 0 ? "24-bit" : "20-bit");
        // The module's own samples: one tenth of a second of channel 3.
        Ksn48Handle h{};
        ASSERT_EQ(KSN48_Open(&h, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, TypeFortyCrate,
                             TypeFortySlot),
                  KSN_ERR_BUSY);  // the fixture holds it
        KSN48_Close(&handle);
        ASSERT_EQ(KSN48_Open(&h, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, TypeFortyCrate,
                             TypeFortySlot),
                  0);
        for (int c = 0; c < 8; ++c) {
            h.Channel[c].ChannelEnabled = c == 2 ? 1 : 0;
        }
        h.RateCode = 0;
        h.DataFormat = format;
        ASSERT_EQ(KSN48_SetADC(&h), 0);
        constexpr std::uint32_t samples = 7812;
        std::vector<std::uint32_t> words(2 * samples);
        const std::uint32_t count = format != 0 ? 2 * samples : samples;
        ASSERT_EQ(KSN48_Start(&h), 0);
        ASSERT_EQ(KSN48_Recv(&h, words.data(), nullptr, count, 5000), static_cast<int>(count));
        ASSERT_EQ(KSN48_Stop(&h), 0);
        std::vector<double> volts(samples);
        std::uint32_t size = count;
        std::int32_t status[KSN48_CHANNEL_COUNT] = {};
        ASSERT_EQ(
            KSN48_ProcessData(&h, words.data(), volts.data(), &size, KSN48_FLAG_CONVERT, status),
            0);
        ASSERT_EQ(size, samples);
        const auto [low, high] = std::minmax_element(volts.begin(), volts.end());
        EXPECT_EQ(*high, measure::FullScaleHigh(format));
        EXPECT_EQ(*low, measure::FullScaleLow(format));
        KSN48_Close(&h);
        Open(TypeFortyCrate, TypeFortySlot, 40);

        host.Settings.DataFormat = format;
        host.Choice.RateIndex = Rate39062;  // six 24-bit channels fit the crate's budget
        host.StopAfterFrames = 1;
        Run();
        ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
        for (std::size_t c = 0; c < 6; ++c) {
            EXPECT_EQ(cycle->Readings().OverRange[c], c == 2) << "channel " << c + 1;
        }
        EXPECT_TRUE(cycle->Readings().ToneFound[2]);
        EXPECT_TRUE(cycle->Readings().InBand[2]);
        // A clipped sine keeps its frequency and phase; its voltage reads low.
        EXPECT_EQ(KiloHertz(cycle->Readings().Frequency[2]), "1.00000");
        EXPECT_EQ(Degrees(measure::PhaseDifference(cycle->Readings().Phase[0],
                                                   cycle->Readings().Phase[2])),
                  "-90.000");
        EXPECT_LT(cycle->Readings().Voltage[2], 8.0 / std::sqrt(2.0));
        EXPECT_GT(cycle->Readings().Voltage[2], 5.0 / std::sqrt(2.0));
    }
}

// The reading marks through the real library: a 10 Hz tone lies below the
// band at the default 0.75 s, a tone 2 Hz below half the rate above it, a DC
// channel has no tone.
TEST_F(DaemonCycle, ReadingsOutsideTheBandOrWithoutAToneAreMarked)
{
    const std::string slot = std::to_string(TypeFortySlot);
    Ctl({"signal", TypeFortyCrate, slot, "2", "--sine", "0.5,10,30"});
    Ctl({"signal", TypeFortyCrate, slot, "3", "--sine", "1,39060.5,0"});
    Ctl({"signal", TypeFortyCrate, slot, "4", "--no-sines", "--dc", "1.5"});
    host.StopAfterFrames = 1;
    Run();
    ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
    const measure::FrameReadings& c = cycle->Readings();
    EXPECT_TRUE(c.InBand[0]);
    EXPECT_TRUE(c.ToneFound[1]);
    EXPECT_FALSE(c.InBand[1]);
    EXPECT_TRUE(c.ToneFound[2]);
    EXPECT_FALSE(c.InBand[2]);
    EXPECT_FALSE(c.ToneFound[3]);
    EXPECT_FALSE(c.InBand[3]);
    EXPECT_FALSE(c.ReadsTone(3));
    EXPECT_TRUE(c.ReadsTone(5));  // 1 V at 1 kHz over 1 mV of noise
    EXPECT_TRUE(c.InBand[5]);
}

struct FaultCase {
    const char* name;
    std::vector<std::string> ctl;       // after the first frame; empty: kill the server
    std::vector<std::string> messages;  // one of these
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

class DaemonCycleFault : public DaemonCycle, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DaemonCycleFault, OneMessageACleanEndAndAWorkingRunAfterwards)
{
    const FaultCase& c = GetParam();
    host.StopAfterFrames = 1000;
    host.OnFrame = [this, &c](int frame) {
        if (frame != 1) {
            return;
        }
        if (c.ctl.empty()) {
            server->Kill();
        } else {
            std::vector<std::string> args = c.ctl;
            args.insert(args.begin() + 1, {TypeFortyCrate, std::to_string(TypeFortySlot)});
            Ctl(args);
        }
    };
    Run();
    ASSERT_EQ(host.Messages.size(), 1u);
    bool known = false;
    for (const std::string& m : c.messages) {
        known = known || host.Messages[0] == m;
    }
    EXPECT_TRUE(known) << host.Messages[0];
    EXPECT_EQ(host.Frames, 1);

    // The server back (a new detection): the module measures again.
    host.OnFrame = nullptr;
    host.StopAfterFrames = 2;
    server->Restart();
    Open(TypeFortyCrate, TypeFortySlot, 40);
    Run();
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(host.Frames, 2);
}

const FaultCase faultCases[] = {
    {"ServerKilled", {}, {std::string(text::StartBad), std::string(text::RecvFailed)}},
    {"ReceiveStalls", {"stall", "on"}, {std::string(text::RecvFailed)}},
    {"ShortCounts", {"limit", "100"}, {std::string(text::RecvWrongCount)}},
    {"ConnectionDropped", {"drop"}, {std::string(text::StartBad), std::string(text::RecvFailed)}},
};

INSTANTIATE_TEST_SUITE_P(Table, DaemonCycleFault, ::testing::ValuesIn(faultCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
