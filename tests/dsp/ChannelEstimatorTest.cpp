#include "ChannelEstimator.h"

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <cstdlib>
#include <new>

#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

// Counts heap allocations so that a test can show an estimate makes none.
// GCC cannot see that this new and this delete belong together once inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
std::atomic<long> g_allocations{0};

void* operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

using measure::AmplitudeType;
using measure::CalcMethod;
using measure::ChannelEstimate;
using measure::ChannelEstimator;
using measure::EstimateOutcome;

// Buffers of one run, sized the way the measurement cycle sizes them.
struct Frame {
    Frame(CalcMethod method, AmplitudeType amplitude, std::uint32_t n, double rate,
          const measure::StopFlag* stop = nullptr)
        : estimator(method, amplitude, n, rate, stop), samples(n + 16), window(n + 16, 0.0),
          spectrum(n + 16), amplitudes(n / 2 + 16), phases(n / 2 + 16)
    {
        built = estimator.BuildWindow(window.data());
    }

    // samples[i] = dc + sum of amplitude * cos(2 pi f t + phase)
    ChannelEstimate Estimate(double dc, const std::vector<std::array<double, 3>>& tones)
    {
        using Ld = long double;
        const Ld pi = std::numbers::pi_v<Ld>;
        const auto rate = static_cast<Ld>(estimator.AdcRate());
        for (std::uint32_t i = 0; i < estimator.Length(); ++i) {
            auto v = static_cast<Ld>(dc);
            for (const auto& [amplitude, frequency, phaseDeg] : tones) {
                const Ld t = static_cast<Ld>(i) / rate;
                v += static_cast<Ld>(amplitude) * std::cos(2 * pi * static_cast<Ld>(frequency) * t +
                                                           static_cast<Ld>(phaseDeg) * pi / 180);
            }
            samples[i] = static_cast<double>(v);
        }
        return estimator.Estimate(
            {samples.data(), window.data(), spectrum.data(), amplitudes.data(), phases.data()});
    }

    ChannelEstimator estimator;
    std::vector<double> samples;
    std::vector<double> window;
    std::vector<double> spectrum;
    std::vector<double> amplitudes;
    std::vector<double> phases;
    bool built = false;
};

struct ToneCase {
    const char* name;
    double rate;
    std::uint32_t n;
    double bin;  // tone frequency in bins of the frame
    double amplitude;
    double phaseDeg;
};

// Test names in failure messages instead of the bytes of the case.
void PrintTo(const ToneCase& c, std::ostream* os)
{
    *os << c.name;
}

class ToneEstimate : public testing::TestWithParam<ToneCase> {};

TEST_P(ToneEstimate, GivesVoltageFrequencyAndPhase)
{
    const ToneCase& c = GetParam();
    const double frequency = c.bin * c.rate / c.n;
    for (AmplitudeType type : {AmplitudeType::Rms, AmplitudeType::Amp}) {
        Frame run(CalcMethod::Fft, type, c.n, c.rate);
        ASSERT_TRUE(run.built);
        const ChannelEstimate e = run.Estimate(0.0, {{c.amplitude, frequency, c.phaseDeg}});
        ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
        const double voltage =
            type == AmplitudeType::Rms ? c.amplitude / std::numbers::sqrt2 : c.amplitude;
        EXPECT_NEAR(e.Voltage, voltage, 1e-9 * voltage);
        EXPECT_NEAR(e.Frequency, frequency, 1e-9 * frequency);
        // The estimate is the negated phase of the tone, wrapped once.
        double expected = -c.phaseDeg;
        expected += expected < -180.0 ? 360.0 : expected > 180.0 ? -360.0 : 0.0;
        EXPECT_NEAR(e.Phase, expected, 1e-9 * 180.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndLengths, ToneEstimate,
    testing::Values(ToneCase{"OnBin_610Hz_1024", 610.3515625, 1024, 100.0, 1.0, 0.0},
                    ToneCase{"OnBin_78125Hz_65536", 78125.0, 65536, 5000.0, 2.5, 45.0},
                    ToneCase{"HalfBin_9765Hz_4096", 9765.625, 4096, 419.5, 1.0, 30.0},
                    // 1000 Hz at 9765.625 Hz over 4096 samples, phase +30 gives -30.
                    ToneCase{"Tone1000Hz_9765Hz_4096", 9765.625, 4096, 419.4304, 1.0, 30.0},
                    ToneCase{"Tone1000HzPhase0_9765Hz_4096", 9765.625, 4096, 419.4304, 1.0, 0.0},
                    ToneCase{"OffBin_9765Hz_4096", 9765.625, 4096, 419.4304, 0.3, -120.0},
                    ToneCase{"OffBin_39062Hz_16384", 39062.5, 16384, 1234.71, 4.0, 170.0},
                    ToneCase{"OffBin_2441Hz_8192", 2441.40625, 8192, 37.25, 0.01, -179.0},
                    ToneCase{"OffBin_78125Hz_262144", 78125.0, 262144, 99999.9, 1.5, 90.0},
                    ToneCase{"NearNyquist_19531Hz_2048", 19531.25, 2048, 1000.3, 1.0, 10.0}),
    [](const testing::TestParamInfo<ToneCase>& p) { return std::string(p.param.name); });

double WrapDegrees(double d)
{
    return d < -180.0 ? d + 360.0 : d > 180.0 ? d - 360.0 : d;
}

TEST(ChannelEstimator, DcIsRemovedByBothMethods)
{
    const double rate = 9765.625;
    for (CalcMethod method : {CalcMethod::Fft, CalcMethod::Sum}) {
        Frame run(method, AmplitudeType::Rms, 4096, rate);
        ASSERT_TRUE(run.built);
        const ChannelEstimate e = run.Estimate(0.5, {{1.0, 1000.0, 0.0}});
        ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
        EXPECT_NEAR(e.Voltage, std::numbers::sqrt2 / 2, 1e-9);
        if (method == CalcMethod::Fft) {
            EXPECT_NEAR(e.Frequency, 1000.0, 1e-6);
            EXPECT_NEAR(e.Phase, 0.0, 1e-7);
        } else {
            // The time-domain method gives the voltage only.
            EXPECT_EQ(e.Frequency, 0.0);
            EXPECT_EQ(e.Phase, 0.0);
        }
    }
}

TEST(ChannelEstimator, SumMethodGivesAmplitudeOnRequest)
{
    Frame run(CalcMethod::Sum, AmplitudeType::Amp, 9765, 9765.625);  // any length
    ASSERT_TRUE(run.built);
    const ChannelEstimate e = run.Estimate(-1.0, {{2.0, 123.4, 40.0}});
    ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
    EXPECT_NEAR(e.Voltage, 2.0, 1e-8);
}

TEST(ChannelEstimator, NoSignalFails)
{
    Frame run(CalcMethod::Fft, AmplitudeType::Rms, 4096, 9765.625);
    ASSERT_TRUE(run.built);
    EXPECT_EQ(run.Estimate(0.0, {}).Outcome, EstimateOutcome::NoSignal);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(run.Estimate(nan, {}).Outcome, EstimateOutcome::NoSignal);

    // A constant leaves only rounding noise above the window's low bins.
    const ChannelEstimate dc = run.Estimate(2.0, {});
    if (dc.Outcome == EstimateOutcome::Ok) {
        EXPECT_LT(dc.Voltage, 1e-12);
    } else {
        EXPECT_EQ(dc.Outcome, EstimateOutcome::NoSignal);
    }

    // Eight samples leave no bins above H = 7: nothing to measure.
    Frame tiny(CalcMethod::Fft, AmplitudeType::Rms, 8, 9765.625);
    ASSERT_TRUE(tiny.built);
    EXPECT_EQ(tiny.Estimate(0.0, {{1.0, 2000.0, 0.0}}).Outcome, EstimateOutcome::NoSignal);
}

TEST(ChannelEstimator, SmallToneFarAwayDoesNotLeakIntoTheBand)
{
    Frame run(CalcMethod::Fft, AmplitudeType::Amp, 16384, 39062.5);
    ASSERT_TRUE(run.built);
    const ChannelEstimate e = run.Estimate(0.0, {{1.0, 3001.7, 10.0}, {1e-3, 9876.5, 0.0}});
    ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
    EXPECT_NEAR(e.Voltage, 1.0, 1e-9);
    EXPECT_NEAR(e.Frequency, 3001.7, 3001.7e-9);
    EXPECT_NEAR(e.Phase, -10.0, 1e-7);
}

// The shown phase difference is Phase(reference) - Phase(channel), wrapped once.
TEST(ChannelEstimator, PhaseDifferenceOfTwoChannelsBetweenBins)
{
    const double rate = 19531.25;
    const std::uint32_t n = 8192;
    struct Case {
        double frequency;
        double referencePhase;
        double channelPhase;
    };
    const Case cases[] = {
        {1000.0, 0.0, 30.0},     {1234.567, 100.0, 55.0}, {777.7, -170.0, 170.0},
        {4321.9, 179.0, -179.0}, {50.3, 12.0, -77.5},     {9000.1, -90.0, 90.0},
    };
    Frame reference(CalcMethod::Fft, AmplitudeType::Rms, n, rate);
    Frame channel(CalcMethod::Fft, AmplitudeType::Rms, n, rate);
    ASSERT_TRUE(reference.built && channel.built);
    for (const Case& c : cases) {
        const ChannelEstimate r = reference.Estimate(0.0, {{1.0, c.frequency, c.referencePhase}});
        const ChannelEstimate ch = channel.Estimate(0.0, {{0.4, c.frequency, c.channelPhase}});
        ASSERT_EQ(r.Outcome, EstimateOutcome::Ok);
        ASSERT_EQ(ch.Outcome, EstimateOutcome::Ok);
        const double shown = WrapDegrees(r.Phase - ch.Phase);
        const double expected = WrapDegrees(c.channelPhase - c.referencePhase);
        // +180 and -180 are the same angle.
        EXPECT_NEAR(std::remainder(shown - expected, 360.0), 0.0, 1e-7) << c.frequency;
        EXPECT_GE(r.Phase, -180.0);
        EXPECT_LE(r.Phase, 180.0);
    }
}

TEST(ChannelEstimator, PeakInTheLastBinStaysDefined)
{
    // The centre falls in bin N/2 - 1, so the phase step reads the Nyquist bin.
    const std::uint32_t n = 1024;
    const double rate = 1024.0;
    Frame run(CalcMethod::Fft, AmplitudeType::Rms, n, rate);
    ASSERT_TRUE(run.built);
    const ChannelEstimate e = run.Estimate(0.0, {{1.0, 511.2, 20.0}});
    ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
    EXPECT_TRUE(std::isfinite(e.Phase));
    EXPECT_GE(e.Phase, -180.0);
    EXPECT_LE(e.Phase, 180.0);
    EXPECT_GT(e.Frequency, 500.0);
    EXPECT_LT(e.Frequency, 512.0);
}

TEST(ChannelEstimator, StopFlagEndsTheWork)
{
    measure::StopFlag stop{false};
    Frame run(CalcMethod::Fft, AmplitudeType::Rms, 4096, 9765.625, &stop);
    ASSERT_TRUE(run.built);
    stop = true;
    EXPECT_EQ(run.Estimate(0.0, {{1.0, 1000.0, 0.0}}).Outcome, EstimateOutcome::Stopped);
    // A window build that sees the flag leaves the estimator unusable.
    EXPECT_FALSE(run.estimator.BuildWindow(run.window.data()));
    stop = false;
    EXPECT_EQ(run.Estimate(0.0, {{1.0, 1000.0, 0.0}}).Outcome, EstimateOutcome::InvalidInput);
    ASSERT_TRUE(run.estimator.BuildWindow(run.window.data()));
    EXPECT_EQ(run.Estimate(0.0, {{1.0, 1000.0, 0.0}}).Outcome, EstimateOutcome::Ok);
}

TEST(ChannelEstimator, RefusesBadSetupAndMissingBuffers)
{
    EXPECT_THROW(ChannelEstimator(CalcMethod::Fft, AmplitudeType::Rms, 0, 1000.0, nullptr),
                 std::invalid_argument);
    EXPECT_THROW(ChannelEstimator(CalcMethod::Fft, AmplitudeType::Rms, 1000, 1000.0, nullptr),
                 std::invalid_argument);
    EXPECT_THROW(ChannelEstimator(CalcMethod::Sum, AmplitudeType::Rms, 1000, 0.0, nullptr),
                 std::invalid_argument);
    EXPECT_THROW(ChannelEstimator(CalcMethod::Sum, AmplitudeType::Rms, 1000,
                                  std::numeric_limits<double>::quiet_NaN(), nullptr),
                 std::invalid_argument);
    EXPECT_NO_THROW(ChannelEstimator(CalcMethod::Sum, AmplitudeType::Rms, 1000, 1000.0, nullptr));

    Frame run(CalcMethod::Fft, AmplitudeType::Rms, 64, 1000.0);
    ASSERT_TRUE(run.built);
    measure::EstimateBuffers b{run.samples.data(), run.window.data(), run.spectrum.data(),
                               run.amplitudes.data(), run.phases.data()};
    b.Phases = nullptr;
    EXPECT_EQ(run.estimator.Estimate(b).Outcome, EstimateOutcome::InvalidInput);
    b.Phases = run.phases.data();
    b.Window = nullptr;
    EXPECT_EQ(run.estimator.Estimate(b).Outcome, EstimateOutcome::InvalidInput);
}

TEST(ChannelEstimator, EstimateAllocatesNothing)
{
    Frame run(CalcMethod::Fft, AmplitudeType::Rms, 1 << 15, 78125.0);
    ASSERT_TRUE(run.built);
    const measure::EstimateBuffers b{run.samples.data(), run.window.data(), run.spectrum.data(),
                                     run.amplitudes.data(), run.phases.data()};
    for (double& v : run.samples) {
        v = 0.3;
    }
    run.samples[5] = 1.0;
    const long before = g_allocations.load();
    const ChannelEstimate e = run.estimator.Estimate(b);
    const long after = g_allocations.load();
    EXPECT_EQ(after, before);
    EXPECT_EQ(e.Outcome, EstimateOutcome::Ok);
}

TEST(ChannelEstimator, SettingTextsMapToMethods)
{
    EXPECT_EQ(measure::CalcMethodFromText("fft"), CalcMethod::Fft);
    for (const char* text : {"sum", "", "FFT", "fft ", "anything"}) {
        EXPECT_EQ(measure::CalcMethodFromText(text), CalcMethod::Sum) << text;
    }
    EXPECT_EQ(measure::AmplitudeTypeFromText("rms"), AmplitudeType::Rms);
    for (const char* text : {"amp", "", "RMS", "peak"}) {
        EXPECT_EQ(measure::AmplitudeTypeFromText(text), AmplitudeType::Amp) << text;
    }
}

}  // namespace
