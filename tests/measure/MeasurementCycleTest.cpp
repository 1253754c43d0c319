// The measurement cycle without a window, against a module of the test's own.
#include "CountingAllocator.h"
#include "CycleHost.h"
#include "FakeModule.h"
#include "MeasurementCycle.h"
#include "MeasurementTexts.h"
#include "ReadingMarks.h"
#include "ResultsFormat.h"
#include "TwoLaneEstimation.h"
#include "ksnerror.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ostream>
#include <stdexcept>

#include <string>
#include <thread>
#include <vector>

namespace {

using measure::MeasurementCycle;
namespace text = MeasurementText;

constexpr int Rate9765 = 4;  // list index of 9765.625 Hz
constexpr int Rate78125 = 7;

class Cycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        auto& m = fake::Current();
        m.Tones[0] = {1.0, 1000.0, 0.0};
        m.Tones[2] = {0.5, 1000.0, 30.0};
        m.Tones[5] = {2.0, 1000.0, -90.0};
        host.Choice.ChannelTicked = {true, false, true, false, false, true, false, false};
        host.Choice.RateIndex = Rate9765;
        host.Choice.ReferenceChannel = 0;
    }

    MeasurementCycle& Make()
    {
        cycle = std::make_unique<MeasurementCycle>(host, handle, host.Terminated, host.MessageShown,
                                                   fake::Api());
        cycle->SetModuleNames({40, "KSN-P5", "KSN48"});
        return *cycle;
    }

    // The end every run has, whatever ended it.
    void ExpectCleanEnd() const
    {
        EXPECT_EQ(host.StoppedShown, 1);
        EXPECT_TRUE(cycle->BuffersFreed());
        EXPECT_EQ(handle.AcquisitionRunning, 0);
        EXPECT_LE(host.Messages.size(), 1u);
    }

    CycleHost host;
    Ksn48Handle handle{};
    std::unique_ptr<MeasurementCycle> cycle;
};

TEST_F(Cycle, FftRunMeasuresEveryTickedChannelAndConfiguresTheModule)
{
    host.Settings.DataFormat = 0;
    host.Settings.CurrentSource = 1;
    Make().RunMultimeter();
    ExpectCleanEnd();
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(host.Frames, 3);
    EXPECT_EQ(host.LedsShown, 3);

    EXPECT_EQ(handle.Channel[0].ChannelEnabled, 1);
    EXPECT_EQ(handle.Channel[1].ChannelEnabled, 0);
    EXPECT_EQ(handle.Channel[5].ChannelEnabled, 1);
    EXPECT_EQ(handle.RateCode, 3);
    EXPECT_EQ(handle.CurrentSource, 1);
    EXPECT_EQ(cycle->Config().SamplesPerChannel, 8192u);  // 0.75 s at 9765.625 Hz
    EXPECT_EQ(cycle->Config().ReceiveBlockSize, 2929u);   // a tenth of a second of 3 channels
    EXPECT_EQ(cycle->Config().FramePosition[5], 2);
    EXPECT_EQ(cycle->Config().FramePosition[1], -1);

    const FrameRecord& r = host.Last;
    EXPECT_NEAR(r.Voltage[0], 0.70711, 1e-4);
    EXPECT_NEAR(r.Voltage[2], 0.35355, 1e-4);
    EXPECT_NEAR(r.Voltage[5], 1.41421, 1e-4);
    EXPECT_NEAR(r.Frequency[0], 1000.0, 1e-3);
    // The estimate gives the negated phase of the tone.
    EXPECT_NEAR(r.Phase[2], -30.0, 1e-3);
    EXPECT_NEAR(measure::PhaseDifference(r.Phase[0], r.Phase[5]), -90.0, 1e-3);

    auto& m = fake::Current();
    EXPECT_EQ(m.Starts, 3);
    EXPECT_EQ(m.Stops, 3);           // once per frame, none at the end: nothing ran
    EXPECT_EQ(m.FirstFlags, 0x91u);  // the first frame asks for phase correction
    EXPECT_EQ(m.LastFlags, 0x81u);   // the (unticked) box decides afterwards
}

TEST_F(Cycle, SumRunGivesVoltagesOnlyAndAnUnknownMethodRunsAsSum)
{
    for (const char* method : {"sum", "spectrum"}) {
        SCOPED_TRACE(method);
        host.Settings.CalcMethod = method;
        host.Settings.AmplitudeType = "amp";
        host.Settings.MaxAcquisitionTime = 1.0;
        host.Frames = 0;
        host.StoppedShown = 0;
        host.Terminated = false;
        Make().RunMultimeter();
        ExpectCleanEnd();
        EXPECT_EQ(cycle->Config().Settings.CalcMethod, "sum");
        EXPECT_EQ(cycle->Config().Method, measure::CalcMethod::Sum);
        EXPECT_EQ(cycle->Config().Amplitude, measure::AmplitudeType::Amp);
        EXPECT_EQ(cycle->Config().SamplesPerChannel, 9765u);
        EXPECT_NEAR(host.Last.Voltage[0], 1.0, 2e-3);
        EXPECT_NEAR(host.Last.Voltage[5], 2.0, 4e-3);
        EXPECT_EQ(host.Last.Frequency[0], 0.0);
        EXPECT_EQ(host.Last.Phase[2], 0.0);
    }
}

TEST_F(Cycle, TwentyFourBitFramesTakeTwoWordsPerSampleInUndoubledBlocks)
{
    host.Settings.DataFormat = 1;
    Make().RunMultimeter();
    ExpectCleanEnd();
    EXPECT_EQ(cycle->Config().ReceiveBlockSize, 2929u);
    EXPECT_EQ(fake::Current().LastBlock, (2u * 8192 * 3) % 2929);
    EXPECT_NEAR(host.Last.Voltage[2], 0.35355, 1e-4);
}

TEST_F(Cycle, AChannelShortOrOpenInTheFrameKeepsZerosAndShiftsNoOtherChannel)
{
    fake::Current().Status = {0, 1, 0, 0, 0, 0, 0, 0};  // channel 3 (position 1) short
    Make().RunMultimeter();
    ExpectCleanEnd();
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(host.Last.Status[2], 1);
    EXPECT_EQ(host.Last.Voltage[2], 0.0);
    EXPECT_EQ(host.Last.Phase[2], 0.0);
    EXPECT_NEAR(host.Last.Voltage[0], 0.70711, 1e-4);
    EXPECT_NEAR(host.Last.Voltage[5], 1.41421, 1e-4);
}

TEST_F(Cycle, ASingleChannelIsMeasuredOnItsOwn)
{
    host.Choice.ChannelTicked = {false, false, false, false, false, true, false, false};
    host.Choice.ReferenceChannel = 5;
    Make().RunMultimeter();
    ExpectCleanEnd();
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(cycle->Config().FramePosition[5], 0);
    EXPECT_NEAR(host.Last.Voltage[5], 1.41421, 1e-4);
    EXPECT_NEAR(host.Last.Phase[5], 90.0, 1e-3);
    EXPECT_EQ(host.Last.Voltage[0], 0.0);
}

TEST_F(Cycle, StopDuringAReceiveEndsTheRunAfterThatCall)
{
    fake::Current().RecvResult = [this](int call, std::uint32_t block) {
        if (call == 2) {
            host.Terminated = true;
        }
        return static_cast<int>(block);
    };
    Make().RunMultimeter();
    ExpectCleanEnd();
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(host.Frames, 0);
    EXPECT_EQ(fake::Current().RecvCalls, 2);
    EXPECT_EQ(fake::Current().Starts, 1);
    EXPECT_EQ(fake::Current().Stops, 1);
}

// The worker's stop request cancels the receive it waits in: the run ends
// after that call, with the module stopped and no message.
TEST_F(Cycle, ACancelledReceiveEndsTheRunWithoutAMessage)
{
    fake::Current().RecvResult = [this](int call, std::uint32_t block) {
        if (call == 2) {
            host.Terminated = true;
            cycle->CancelReceive();
        }
        return static_cast<int>(block);
    };
    Make().RunMultimeter();
    ExpectCleanEnd();
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(host.Frames, 0);
    EXPECT_EQ(fake::CancelCalls(), 1);
    EXPECT_EQ(fake::Current().RecvCalls, 2);
    EXPECT_EQ(fake::Current().ProcessCalls, 0);
    EXPECT_EQ(fake::Current().Stops, 1);
}

// A stop whose cancel the next start cleared is still seen before the
// receive waits.
TEST_F(Cycle, AStopDuringTheStartEndsTheRunBeforeItsFirstReceive)
{
    fake::Current().OnStart = [this] {
        if (fake::Current().Starts == 2) {
            host.Terminated = true;
        }
    };
    Make().RunMultimeter();
    ExpectCleanEnd();
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(host.Frames, 1);
    // The first frame's receives only.
    const std::uint32_t block = cycle->Config().ReceiveBlockSize;
    ASSERT_GT(block, 0u);
    EXPECT_EQ(fake::Current().RecvCalls,
              static_cast<int>((cycle->WordsPerFrame() + block - 1) / block));
    EXPECT_EQ(fake::Current().Starts, 2);
    EXPECT_EQ(fake::Current().Stops, 2);
    EXPECT_EQ(fake::Current().ProcessCalls, 1);
}

// The window reads the frame count from its own thread while the worker
// counts (a data race before the count was atomic; a ThreadSanitizer build
// shows it).
TEST_F(Cycle, FramesShownCanBeReadWhileTheRunGoesOn)
{
    host.StopAfterFrames = 40;
    MeasurementCycle& c = Make();
    std::thread worker([&c] { c.RunMultimeter(); });
    std::uint64_t seen = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen < 3 && std::chrono::steady_clock::now() < end) {
        seen = std::max(seen, c.FramesShown());
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_GE(seen, 3u);
    EXPECT_EQ(c.FramesShown(), 40u);
}

struct FailureCase {
    const char* name;
    std::function<void(fake::Module&, CycleHost&, Ksn48Handle&)> arrange;
    std::string message;  // the one message shown; part of it for the data-rate refusal
    bool setAdcCalled;
    int framesShown;
    int failure = 0;        // the first failed call's result, as the cycle notes it
    bool linkLost = false;  // the module must be opened again
    const char* failedCall = nullptr;
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class CycleFailure : public Cycle, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CycleFailure, ShowsOneMessageAndEndsCleanly)
{
    const FailureCase& c = GetParam();
    c.arrange(fake::Current(), host, handle);
    Make().RunMultimeter();
    ExpectCleanEnd();
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_NE(host.Messages[0].find(c.message), std::string::npos) << host.Messages[0];
    EXPECT_EQ(fake::Current().SetAdcCalls > 0, c.setAdcCalled);
    EXPECT_EQ(host.Frames, c.framesShown);
    EXPECT_EQ(cycle->FirstFailure(), c.failure);
    EXPECT_EQ(cycle->LinkLost(), c.linkLost);
    EXPECT_STREQ(cycle->FirstFailedCall(), c.failedCall);
}

const FailureCase failureCases[] = {
    {"StopOfRunningAcquisitionFails",
     [](fake::Module& m, CycleHost&, Ksn48Handle& h) {
         h.AcquisitionRunning = 1;
         m.StopResult = KSN_ERR_TIMEOUT;
     },
     std::string(text::StopBad), false, 0, KSN_ERR_TIMEOUT, true, "KSN48_Stop"},
    {"NoChannelTicked",
     [](fake::Module&, CycleHost& host, Ksn48Handle&) { host.Choice.ChannelTicked = {}; },
     std::string(text::NoActiveChannel), false, 0},
    {"ReferenceNotTicked",
     [](fake::Module&, CycleHost& host, Ksn48Handle&) { host.Choice.ReferenceChannel = 1; },
     std::string(text::ReferenceNotActive), false, 0},
    {"DataRateAboveTheCratesLimit",
     [](fake::Module&, CycleHost& host, Ksn48Handle&) {
         host.Choice.ChannelTicked = {true, true, true, true, true, true, true, true};
         host.Choice.RateIndex = Rate78125;
     },
     "составляет 2500.0 Кбайт/с, что превышает маскимально допустимую для крейта KSN-P5 "
     "величину 2000.0 Кбайт/с !!! ",
     false, 0},
    {"NoRateChosen",
     [](fake::Module&, CycleHost& host, Ksn48Handle&) { host.Choice.RateIndex = -1; },
     std::string(text::NoRateChosen), false, 0},
    // Without a rate the channels and the reference are still checked first.
    {"NoRateAndNoChannel",
     [](fake::Module&, CycleHost& host, Ksn48Handle&) {
         host.Choice.RateIndex = -1;
         host.Choice.ChannelTicked = {};
     },
     std::string(text::NoActiveChannel), false, 0},
    {"NoRateAndReferenceNotTicked",
     [](fake::Module&, CycleHost& host, Ksn48Handle&) {
         host.Choice.RateIndex = -1;
         host.Choice.ReferenceChannel = 1;
     },
     std::string(text::ReferenceNotActive), false, 0},
    {"SetAdcFails",
     [](fake::Module& m, CycleHost&, Ksn48Handle&) { m.SetAdcResult = KSN_ERR_REFUSED; },
     std::string(text::SetAdcBad), true, 0, KSN_ERR_REFUSED, false, "KSN48_SetADC"},
    {"StartFails",
     [](fake::Module& m, CycleHost&, Ksn48Handle&) { m.StartResult = KSN_ERR_CONNECTION_LOST; },
     std::string(text::StartBad), true, 0, KSN_ERR_CONNECTION_LOST, true, "KSN48_Start"},
    {"ReceiveFails",
     [](fake::Module& m, CycleHost&, Ksn48Handle&) {
         m.RecvResult = [](int call, std::uint32_t block) {
             return call == 12 ? KSN_ERR_TIMEOUT : static_cast<int>(block);
         };
     },
     std::string(text::RecvFailed), true, 1, KSN_ERR_TIMEOUT, true, "KSN48_Recv"},
    {"ReceiveGetsNothing",
     [](fake::Module& m, CycleHost&, Ksn48Handle&) {
         m.RecvResult = [](int, std::uint32_t) { return 0; };
     },
     std::string(text::RecvNothing), true, 0},
    {"ReceiveGetsAShortCount",
     [](fake::Module& m, CycleHost&, Ksn48Handle&) {
         m.RecvResult = [](int, std::uint32_t block) { return static_cast<int>(block / 2); };
     },
     std::string(text::RecvWrongCount), true, 0},
    {"StopAfterTheFrameFails",
     [](fake::Module& m, CycleHost&, Ksn48Handle&) {
         m.RecvResult = [&m](int, std::uint32_t block) {
             m.StopResult = KSN_ERR_TIMEOUT;
             return static_cast<int>(block);
         };
     },
     std::string(text::FrameStopBad), true, 0, KSN_ERR_TIMEOUT, true, "KSN48_Stop"},
    {"ConversionFails",
     [](fake::Module& m, CycleHost&, Ksn48Handle&) { m.ProcessResult = KSN_ERR_BAD_DATA; },
     std::string(text::ConvertBad), true, 0, KSN_ERR_BAD_DATA, false, "KSN48_ProcessData"},
    {"ConversionReportsTooFewSamples",
     [](fake::Module& m, CycleHost&, Ksn48Handle&) { m.ProcessShort = true; },
     std::string(text::ConvertBad), true, 0},
    {"NoSignal", [](fake::Module& m, CycleHost&, Ksn48Handle&) { m.Tones = {}; },
     std::string(measure::NoSignalMessage), true, 0},
    {"ExceptionInAReceive",
     [](fake::Module& m, CycleHost&, Ksn48Handle&) {
         m.RecvResult = [](int, std::uint32_t) -> int { throw std::runtime_error("boom"); };
     },
     std::string(text::CycleException), true, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, CycleFailure, ::testing::ValuesIn(failureCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A call that a stop request cut short (KSN48_Cancel: the call returns
// KSN_ERR_CANCELLED) is no failure: the run ends without the design's message
// for that call, the module counts as open, and the stop after it is made.
struct CancelledCase {
    const char* name;
    std::function<void(fake::Module&, CycleHost&)> arrange;
    int starts;
    int stops;
    int failure = 0;  // the call's result as the cycle notes it
};

void PrintTo(const CancelledCase& c, std::ostream* os)
{
    *os << c.name;
}

class CycleCancelled : public Cycle, public ::testing::WithParamInterface<CancelledCase> {};

TEST_P(CycleCancelled, EndsTheRunWithoutAMessage)
{
    GetParam().arrange(fake::Current(), host);
    Make().RunMultimeter();
    ExpectCleanEnd();
    EXPECT_TRUE(host.Messages.empty()) << host.Messages[0];
    EXPECT_EQ(host.Frames, 0);
    EXPECT_EQ(cycle->FirstFailure(), GetParam().failure);
    EXPECT_EQ(fake::Current().SetAdcCalls, 1);
    EXPECT_EQ(fake::Current().Starts, GetParam().starts);
    EXPECT_EQ(fake::Current().Stops, GetParam().stops);
}

const CancelledCase cancelledCases[] = {
    {"SetAdc",
     [](fake::Module& m, CycleHost& host) {
         m.SetAdcResult = KSN_ERR_CANCELLED;
         m.OnSetAdc = [&host] { host.Terminated = true; };
     },
     0, 0},
    // Cut short, even without the stop flag, the call ends the run.
    {"Start", [](fake::Module& m, CycleHost&) { m.StartResult = KSN_ERR_CANCELLED; }, 1, 0},
    {"SetAdcWithoutTheStopFlag",
     [](fake::Module& m, CycleHost&) { m.SetAdcResult = KSN_ERR_CANCELLED; }, 0, 0},
    {"StopAfterTheFrame",
     [](fake::Module& m, CycleHost& host) {
         m.RecvResult = [&m, &host](int, std::uint32_t block) {
             m.StopResult = KSN_ERR_CANCELLED;
             host.Terminated = true;
             return static_cast<int>(block);
         };
     },
     1, 1},
    // The stop request came as the receive failed for want of an answer.
    {"ReceiveTimedOutAsTheStopCame",
     [](fake::Module& m, CycleHost& host) {
         m.RecvResult = [&host](int, std::uint32_t) {
             host.Terminated = true;
             return KSN_ERR_TIMEOUT;
         };
     },
     1, 1, KSN_ERR_TIMEOUT},
};

INSTANTIATE_TEST_SUITE_P(Table, CycleCancelled, ::testing::ValuesIn(cancelledCases),
                         [](const auto& p) { return std::string(p.param.name); });

std::atomic<int> cancels{0};
std::atomic<int> clears{0};

int CountCancel(Ksn48Handle*)
{
    ++cancels;
    return 0;
}

int CountClear(Ksn48Handle*)
{
    ++clears;
    return 0;
}

// With the library's cancel of every call, the stop request takes it rather
// than the receive's own; each run begins by clearing the last one's.
TEST_F(Cycle, TheCancelOfEveryCallIsTakenWhenThereIsOne)
{
    measure::ModuleApi api = fake::Api();
    api.Cancel = &CountCancel;
    api.ClearCancel = &CountClear;
    cancels = 0;
    clears = 0;
    fake::Current().RecvResult = [this](int call, std::uint32_t block) {
        if (call == 2) {
            EXPECT_EQ(clears.load(), 1) << "cleared before the run's first call";
            host.Terminated = true;
            cycle->CancelReceive();
        }
        return static_cast<int>(block);
    };
    cycle = std::make_unique<MeasurementCycle>(host, handle, host.Terminated, host.MessageShown,
                                               api);
    cycle->SetModuleNames({40, {}, {}});
    cycle->RunMultimeter();
    EXPECT_EQ(cancels.load(), 1);
    EXPECT_EQ(fake::CancelCalls(), 0);
    EXPECT_EQ(clears.load(), 1);
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(Cycle, AnExceptionWhileAcquiringStillStopsTheModuleAtTheEnd)
{
    fake::Current().RecvResult = [](int, std::uint32_t) -> int { throw std::runtime_error("x"); };
    Make().RunMultimeter();
    EXPECT_EQ(fake::Current().Stops, 1);  // the final stop, the frame's never came
    EXPECT_EQ(handle.AcquisitionRunning, 0);
}

TEST_F(Cycle, OnlyTheFirstOfSeveralFailuresIsShown)
{
    fake::Current().RecvResult = [](int, std::uint32_t) -> int { throw std::runtime_error("x"); };
    fake::Current().StopResult = KSN_ERR_CONNECTION_LOST;
    host.MessageShown = false;
    // The exception comes first; the failed final stop after it stays silent.
    Make().RunMultimeter();
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0], text::CycleException);
    EXPECT_TRUE(cycle->BuffersFreed());
}

// What each reading of a frame can be trusted for, in a frame of 8192
// samples at 9765.625 Hz (1.19 Hz per bin).
TEST_F(Cycle, ReadingsCarryTheirMarks)
{
    auto& m = fake::Current();
    m.Tones[2] = {0.5, 10.0, 30.0};       // 8.4 bins: below the band
    m.Tones[3] = {1.0, 0.0, 0.0};         // a constant 1 V: no tone
    m.Tones[5] = {8.0, 1000.0, 0.0};      // clipped at 5 V
    m.Tones[6] = {4.9, 4875.0, 0.0};      // 4 bins below N/2: above the band
    m.Status = {0, 0, 0, 0, 0, 1, 0, 0};  // channel 8 (position 5) short
    host.Choice.ChannelTicked = {true, false, true, true, false, true, true, true};
    host.StopAfterFrames = 1;
    Make().RunMultimeter();
    ExpectCleanEnd();
    ASSERT_TRUE(host.Messages.empty()) << host.Messages[0];
    ASSERT_EQ(host.Frames, 1);
    const measure::FrameReadings& c = cycle->Readings();
    const struct {
        std::size_t channel;
        bool tone, inBand, overRange;
    } expected[] = {
        {0, true, true, false},   {2, true, false, false}, {3, false, false, false},
        {5, true, true, true},    {6, true, false, false}, {7, false, false, false},
        {1, false, false, false},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE("channel " + std::to_string(e.channel + 1));
        EXPECT_EQ(c.ToneFound[e.channel], e.tone);
        EXPECT_EQ(c.InBand[e.channel], e.inBand);
        EXPECT_EQ(c.OverRange[e.channel], e.overRange);
        EXPECT_EQ(cycle->ReadsTone(e.channel), e.tone);
    }
    // The values stay as estimated: a clipped sine reads low.
    EXPECT_GT(c.Voltage[5], 3.5);
    EXPECT_LT(c.Voltage[5], 8.0 / std::sqrt(2.0) - 0.5);
    EXPECT_NEAR(c.Frequency[5], 1000.0, 1e-3);
    EXPECT_EQ(cycle->StatusOf(7), 1);
    EXPECT_EQ(cycle->StatusOf(6), 0);
    EXPECT_EQ(cycle->StatusOf(1), -1);
}

TEST_F(Cycle, TheSumMethodJudgesNoToneButSeesTheRange)
{
    auto& m = fake::Current();
    m.Tones[2] = {0.5, 10.0, 30.0};
    m.Tones[5] = {8.0, 1000.0, 0.0};
    host.Settings.CalcMethod = "sum";
    host.StopAfterFrames = 1;
    Make().RunMultimeter();
    ExpectCleanEnd();
    for (const std::size_t channel : {0u, 2u, 5u}) {
        EXPECT_TRUE(cycle->Readings().ToneFound[channel]);
        EXPECT_TRUE(cycle->Readings().InBand[channel]);
        EXPECT_EQ(cycle->Readings().OverRange[channel], channel == 5);
    }
}

TEST_F(Cycle, OneChannelAloneIsCheckedForItsRangeToo)
{
    fake::Current().Tones[5] = {-6.0, 0.0, 0.0};  // -6 V DC, clipped at -5 V
    host.Choice.ChannelTicked = {false, false, false, false, false, true, false, false};
    host.Choice.ReferenceChannel = 5;
    host.Settings.DataFormat = 1;
    host.StopAfterFrames = 1;
    Make().RunMultimeter();
    ExpectCleanEnd();
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_TRUE(cycle->Readings().OverRange[5]);
    EXPECT_FALSE(cycle->Readings().ToneFound[5]);
}

struct MarksCase {
    const char* name;
    // Channel 3 against channel 1.
    std::function<void(measure::RunConfiguration&, measure::FrameReadings&)> arrange;
    measure::ValueMark voltage, frequency, phase;
};

void PrintTo(const MarksCase& c, std::ostream* os)
{
    *os << c.name;
}

class Marks : public ::testing::TestWithParam<MarksCase> {};

// Channel 3 (index 2) against the reference channel 1 (index 0), both
// enabled with a valid tone in band unless the case says otherwise.
TEST_P(Marks, OfAValidReading)
{
    measure::RunConfiguration config;
    measure::FrameReadings c;
    config.FramePosition[0] = 0;
    config.FramePosition[2] = 1;
    config.AdcRate = 78125.0;
    c.ReferenceChannel = 0;
    c.Status[0] = c.Status[2] = KSN48_STATUS_VALID;
    for (const std::size_t k : {0u, 2u}) {
        c.ToneFound[k] = c.InBand[k] = true;
        c.Frequency[k] = 1000.0;
    }
    GetParam().arrange(config, c);
    const measure::ReadingMarks marks = measure::MarkReading(config, c, 2);
    const auto expect = [](const measure::ValueMark& got, const measure::ValueMark& want,
                           const char* value) {
        EXPECT_EQ(got.Reason, want.Reason) << value;
        EXPECT_EQ(got.Dashed, want.Dashed) << value;
    };
    expect(marks.Voltage, GetParam().voltage, "voltage");
    expect(marks.Frequency, GetParam().frequency, "frequency");
    expect(marks.Phase, GetParam().phase, "phase");
}

using Reason = measure::MarkReason;
constexpr measure::ValueMark Shown{};
constexpr measure::ValueMark Dashes{Reason::None, true};
constexpr measure::ValueMark Marked(Reason reason)
{
    return {reason, false};
}
constexpr measure::ValueMark Dashed(Reason reason)
{
    return {reason, true};
}

const MarksCase marksCases[] = {
    {"AllGood", [](measure::RunConfiguration&, measure::FrameReadings&) {}, Shown, Shown, Shown},
    {"OverRange",
     [](measure::RunConfiguration&, measure::FrameReadings& c) { c.OverRange[2] = true; },
     Marked(Reason::OverRange), Shown, Shown},
    {"NoTone",
     [](measure::RunConfiguration&, measure::FrameReadings& c) {
         c.ToneFound[2] = c.InBand[2] = false;
     },
     Marked(Reason::NoTone), Dashed(Reason::NoTone), Dashed(Reason::NoTone)},
    {"NoToneOverRange",
     [](measure::RunConfiguration&, measure::FrameReadings& c) {
         c.ToneFound[2] = c.InBand[2] = false;
         c.OverRange[2] = true;
     },
     Marked(Reason::OverRange), Dashed(Reason::NoTone), Dashed(Reason::NoTone)},
    {"BelowBand",
     [](measure::RunConfiguration&, measure::FrameReadings& c) {
         c.InBand[2] = false;
         c.Frequency[2] = 10.0;
     },
     Marked(Reason::BelowBand), Marked(Reason::BelowBand), Marked(Reason::BelowBand)},
    {"AboveBand",
     [](measure::RunConfiguration&, measure::FrameReadings& c) {
         c.InBand[2] = false;
         c.Frequency[2] = 39060.0;
     },
     Marked(Reason::AboveBand), Marked(Reason::AboveBand), Marked(Reason::AboveBand)},
    {"ReferenceOpen",
     [](measure::RunConfiguration&, measure::FrameReadings& c) { c.Status[0] = KSN48_STATUS_OPEN; },
     Shown, Shown, Dashed(Reason::ReferenceNoReading)},
    {"ReferenceWithoutTone",
     [](measure::RunConfiguration&, measure::FrameReadings& c) { c.ToneFound[0] = false; }, Shown,
     Shown, Dashed(Reason::ReferenceNoReading)},
    {"ReferenceOff",
     [](measure::RunConfiguration& config, measure::FrameReadings& c) {
         config.FramePosition = {-1, -1, 0, -1, -1, -1, -1, -1};
         c.Status = {-1, -1, KSN48_STATUS_VALID, -1, -1, -1, -1, -1};
     },
     Shown, Shown, Dashed(Reason::ReferenceNoReading)},
    {"ReferenceOutOfBand",
     [](measure::RunConfiguration&, measure::FrameReadings& c) { c.InBand[0] = false; }, Shown,
     Shown, Marked(Reason::ReferenceOutOfBand)},
    {"BothOutOfBand",
     [](measure::RunConfiguration&, measure::FrameReadings& c) {
         c.InBand[0] = c.InBand[2] = false;
         c.Frequency[2] = 10.0;
     },
     Marked(Reason::BelowBand), Marked(Reason::BelowBand), Marked(Reason::BelowBand)},
    {"SumOverRange",
     [](measure::RunConfiguration& config, measure::FrameReadings& c) {
         config.Method = measure::CalcMethod::Sum;
         c.OverRange[2] = true;
     },
     Marked(Reason::OverRange), Dashes, Dashes},
};

INSTANTIATE_TEST_SUITE_P(Table, Marks, ::testing::ValuesIn(marksCases),
                         [](const auto& p) { return std::string(p.param.name); });

// The module's conversion gives, at the ends of its range, the codes
// 2^19 - 1 and -2^19 (20-bit) or 2^23 - 1 and -2^23 (24-bit) times 5 V / 2^19
// or 5 V / 2^23.
TEST(FullScale, TheCodesAtTheEndsOfTheRange)
{
    EXPECT_DOUBLE_EQ(measure::FullScaleHigh(0), 5.0 * 524287.0 / 524288.0);
    EXPECT_DOUBLE_EQ(measure::FullScaleLow(0), -5.0);
    EXPECT_DOUBLE_EQ(measure::FullScaleHigh(1), 5.0 * 8388607.0 / 8388608.0);
    EXPECT_DOUBLE_EQ(measure::FullScaleLow(1), -5.0);
}

// Eight 24-bit channels take 16 words per sample tick; a "sum" frame of a
// long time must still count its words in 32 bits.
TEST_F(Cycle, ALongSumFrameOfEightWideChannelsKeepsItsWordCount)
{
    MeasurementCycle& c = Make();
    handle.DataFormat = 1;
    measure::RunConfiguration config;
    config.Settings.CalcMethod = "sum";
    config.Settings.MaxAcquisitionTime = 1e6;
    config.AdcRate = 78125.0;
    config.ActiveChannelCount = 8;
    c.Configure(config);
    const measure::RunConfiguration& sized = c.Config();
    EXPECT_EQ(sized.SamplesPerChannel, 0xFFFFFFFFu / 16);
    EXPECT_EQ(static_cast<std::uint64_t>(c.WordsPerFrame()),
              2ull * sized.SamplesPerChannel * sized.ActiveChannelCount);
    EXPECT_EQ(sized.FrameSampleCount, sized.SamplesPerChannel * 8);

    handle.DataFormat = 0;
    config.ActiveChannelCount = 1;
    c.Configure(config);
    EXPECT_EQ(c.Config().SamplesPerChannel, 0xFFFFFFFFu);
}

struct LengthCase {
    double time;
    int rateIndex;
    std::uint32_t channels;
    std::uint32_t fft;
    std::uint32_t sum;
};

TEST(FrameLength, PowerOfTwoCoversTheTimeUnlessTheCapStopsIt)
{
    const LengthCase cases[] = {
        {1.0, 4, 1, 16384, 9765},
        {0.75, 7, 1, 65536, 58593},
        {0.75, 0, 8, 512, 457},
        {10.0, 7, 8, 262144, 781250},        // eight channels stop at 2^18
        {1000.0, 7, 1, 16777216, 78125000},  // one channel at 2^24
        {1e-9, 0, 1, 1, 1},
    };
    for (const LengthCase& c : cases) {
        const double rate = 78125.0 / (1 << (7 - c.rateIndex));
        SCOPED_TRACE(std::to_string(c.time) + " s at " + std::to_string(rate));
        EXPECT_EQ(measure::FftFrameLength(c.time, rate, c.channels), c.fft);
        EXPECT_EQ(measure::SumFrameLength(c.time, rate), c.sum);
    }
}

struct AloneCase {
    const char* method;
    double time;  // "sum" at 1 s takes an odd 9765 samples
};

void PrintTo(const AloneCase& c, std::ostream* os)
{
    *os << c.method << " " << c.time << " s";
}

class CycleChannelsAlone : public Cycle, public ::testing::WithParamInterface<AloneCase> {};

// A channel's samples do not depend on which others are ticked, so its
// results in a frame of five channels (split between two lanes, three and
// two) must be those of a frame of it alone, to the last bit: a sample lost
// or misplaced where the lanes split the frame shows here.
TEST_P(CycleChannelsAlone, EachChannelGivesWhatItGivesAlone)
{
    auto& m = fake::Current();
    m.Tones[3] = {0.75, 700.0, 45.0};
    m.Tones[7] = {1.5, 1300.0, -120.0};
    host.Settings.CalcMethod = GetParam().method;
    host.Settings.MaxAcquisitionTime = GetParam().time;
    host.StopAfterFrames = 1;
    host.Choice.ChannelTicked = {true, false, true, true, false, true, false, true};
    Make().RunMultimeter();
    ExpectCleanEnd();
    ASSERT_EQ(host.Frames, 1);
    const FrameRecord together = host.Last;

    for (const std::size_t c : {0u, 2u, 3u, 5u, 7u}) {
        SCOPED_TRACE("channel " + std::to_string(c + 1));
        host.Choice.ChannelTicked.fill(false);
        host.Choice.ChannelTicked[c] = true;
        host.Choice.ReferenceChannel = static_cast<std::uint16_t>(c);
        host.Frames = 0;
        host.StoppedShown = 0;
        host.Terminated = false;
        Make().RunMultimeter();
        ExpectCleanEnd();
        ASSERT_EQ(host.Frames, 1);
        EXPECT_NE(together.Voltage[c], 0.0);
        EXPECT_EQ(host.Last.Voltage[c], together.Voltage[c]);
        EXPECT_EQ(host.Last.Frequency[c], together.Frequency[c]);
        EXPECT_EQ(host.Last.Phase[c], together.Phase[c]);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CycleChannelsAlone,
                         ::testing::Values(AloneCase{"fft", 0.75}, AloneCase{"sum", 1.0}),
                         [](const auto& p) { return std::string(p.param.method); });

struct AllocationCase {
    const char* method;
    std::uint8_t dataFormat;
};

void PrintTo(const AllocationCase& c, std::ostream* os)
{
    *os << c.method << (c.dataFormat != 0 ? " 24-bit" : " 20-bit");
}

class CycleAllocation : public Cycle, public ::testing::WithParamInterface<AllocationCase> {};

TEST_P(CycleAllocation, FramesAllocateNothing)
{
    host.Settings.CalcMethod = GetParam().method;
    host.Settings.DataFormat = GetParam().dataFormat;
    host.StopAfterFrames = 6;
    long counted = -1;
    host.OnFrame = [&counted](int frame) {
        if (frame == 2) {
            counting::Begin();
        } else if (frame == 6) {
            counted = counting::End();
        }
    };
    Make().RunMultimeter();
    counting::End();
    ExpectCleanEnd();
    EXPECT_EQ(host.Frames, 6);
    EXPECT_EQ(counted, 0) << "heap allocations in four frames";
}

INSTANTIATE_TEST_SUITE_P(Table, CycleAllocation,
                         ::testing::Values(AllocationCase{"fft", 0}, AllocationCase{"fft", 1},
                                           AllocationCase{"sum", 0}),
                         [](const auto& p) {
                             return std::string(p.param.method) +
                                    (p.param.dataFormat != 0 ? "24" : "20");
                         });

// The spectrum of one channel and the figures of all, as the page and the
// tool's metrics ask for them: the readings stay exactly those of a run
// without, and the frames still allocate nothing.
TEST_F(Cycle, ASpectrumRunKeepsTheReadingsAndAllocatesNothingPerFrame)
{
    host.StopAfterFrames = 3;
    Make().RunMultimeter();
    ExpectCleanEnd();
    const auto plain = host.Last;

    measure::SpectrumTap tap;
    measure::SpectrumRequest request;
    request.Channel = 2;
    request.Columns = 900;
    request.MaxHold = true;
    tap.SetRequest(request);
    host.Frames = 0;
    host.StoppedShown = 0;
    host.Terminated = false;
    host.StopAfterFrames = 6;
    long counted = -1;
    bool plotted = true;
    host.OnFrame = [&](int frame) {
        plotted = plotted && tap.Frame().Valid && tap.Frame().Channel == 2 &&
                  !tap.Frame().Trace.empty() && tap.Frame().Trace.size() <= 1800;
        if (frame == 2) {
            counting::Begin();
        } else if (frame == 6) {
            counted = counting::End();
        }
    };
    MeasurementCycle& run = Make();
    run.AttachSpectrum(&tap);
    run.ComputeFigures(true);
    run.RunMultimeter();
    counting::End();
    ExpectCleanEnd();
    EXPECT_FALSE(tap.Allocated()) << "the plot's buffers go with the run's";
    EXPECT_EQ(host.Frames, 6);
    EXPECT_EQ(counted, 0) << "heap allocations in four frames";
    EXPECT_TRUE(plotted);
    for (const std::size_t c : {0u, 2u, 5u}) {
        SCOPED_TRACE("channel " + std::to_string(c + 1));
        EXPECT_EQ(host.Last.Voltage[c], plain.Voltage[c]);
        EXPECT_EQ(host.Last.Frequency[c], plain.Frequency[c]);
        EXPECT_EQ(host.Last.Phase[c], plain.Phase[c]);
        ASSERT_TRUE(run.Readings().Figures[c].Valid);
        EXPECT_LT(run.Readings().Figures[c].ThdPercent, 1e-3) << "a pure tone";
    }
    EXPECT_FALSE(run.Readings().Figures[1].Valid) << "a channel not acquired";
    cycle.reset();  // before the tap it was given
}

// Records which lane did what; an estimate that begins before both halves
// of the frame are split is counted as an error.
class RecordingWork : public measure::TwoLaneEstimation::Work {
public:
    void Split(std::uint32_t lane, std::uint32_t lanes) noexcept override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(lane == 1 ? 50 : 0));
        splits.fetch_add(1);
        splitLanes[lane].fetch_add(lanes);
    }
    void Estimate(measure::EstimationLane& lane, std::uint32_t index,
                  std::uint32_t lanes) noexcept override
    {
        if (splits.load() < static_cast<long>(frame) * lanes) {
            early.fetch_add(1);
        }
        estimators[index].store(lane.Estimator);
        estimates[index].fetch_add(1);
    }
    std::atomic<long> splits{0};
    std::atomic<long> early{0};
    std::uint32_t frame = 0;
    std::array<std::atomic<long>, 2> splitLanes{};
    std::array<std::atomic<long>, 2> estimates{};
    std::array<std::atomic<const measure::ChannelEstimator*>, 2> estimators{};
};

TEST(TwoLaneEstimation, BothLanesSplitBeforeEitherEstimates)
{
    measure::ChannelEstimator first(measure::CalcMethod::Fft, measure::AmplitudeType::Rms, 1024,
                                    9765.625, nullptr);
    std::vector<double> window(1024 + 16);
    ASSERT_TRUE(first.BuildWindow(window.data()));
    std::vector<double> spectrum(1024 + 16), amplitudes(512 + 16), phases(512 + 16);
    RecordingWork work;
    measure::TwoLaneEstimation lanes(work);
    lanes.SetFirstLane(
        {&first, {nullptr, window.data(), spectrum.data(), amplitudes.data(), phases.data()}});
    ASSERT_EQ(lanes.StartSecondLane(nullptr), measure::TwoLaneEstimation::Shortage::None);
    ASSERT_TRUE(lanes.TwoLanes());
    // The second lane has an estimator and buffers of its own on the same window.
    const measure::EstimationLane& second = lanes.Lane(1);
    EXPECT_NE(second.Estimator, &first);
    EXPECT_TRUE(second.Estimator->WindowReady());
    EXPECT_EQ(second.Buffers.Window, window.data());
    EXPECT_NE(second.Buffers.Spectrum, spectrum.data());

    constexpr std::uint32_t frames = 200;
    for (std::uint32_t f = 1; f <= frames; ++f) {
        work.frame = f;
        lanes.Run(true);
        // Run returns only when both lanes are done with the frame.
        ASSERT_EQ(work.estimates[0].load() + work.estimates[1].load(), 2L * f);
    }
    EXPECT_EQ(work.early.load(), 0);
    EXPECT_EQ(work.splitLanes[1].load(), 2L * frames);
    EXPECT_EQ(work.estimators[0].load(), &first);
    EXPECT_EQ(work.estimators[1].load(), second.Estimator);

    // One lane alone when asked: lane 0 takes the whole frame.
    work.splits = 0;
    work.frame = 1;
    lanes.Run(false);
    EXPECT_EQ(work.splitLanes[0].load(), 2L * frames + 1);
    EXPECT_EQ(work.estimates[1].load(), static_cast<long>(frames));

    lanes.Stop();
    EXPECT_TRUE(lanes.Released());
    EXPECT_FALSE(lanes.TwoLanes());
}

TEST(ResultsFormat, PhaseDifferenceWrapsOnce)
{
    const struct {
        double reference, channel, shown;
    } cases[] = {
        {0.0, 30.0, -30.0},    {-100.0, 100.0, 160.0}, {181.0, 0.0, -179.0},
        {-180.0, 0.0, -180.0}, {90.0, -90.0, 180.0},   {0.0, 0.0, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(measure::PhaseDifference(c.reference, c.channel), c.shown)
            << c.reference << " - " << c.channel;
    }
}

TEST(ResultsFormat, HighFrequenciesTakeTheShorterFormat)
{
    const struct {
        double kHz;
        const char* format;
        const char* used;
    } cases[] = {
        {1.0, "0.00000", "0.00000"},  {100.0, "0.00000", "0.00000"}, {150.0, "0.00000", "0.000"},
        {1000.0, "0.00000", "0.000"}, {1500.0, "0.00000", "0.00"},   {150.0, "0.0", "0.0"},
        {1500.0, "0.00", "0.00"},     {150.0, "0.000", "0.000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(measure::FrequencyFormat(c.kHz, c.format, text::FrequencyFormatAbove100,
                                           text::FrequencyFormatAbove1000),
                  c.used)
            << c.kHz << " kHz with " << c.format;
    }
}

}  // namespace
