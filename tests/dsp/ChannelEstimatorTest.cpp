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
#include <random>
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
using measure::FindSpectrumPeak;

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

struct OnBinCase {
    std::uint32_t n;
    std::uint32_t bin;
    double amplitude;
    double phase;  // radians
    double dc;
};

void PrintTo(const OnBinCase& c, std::ostream* os)
{
    *os << "N=" << c.n << " bin=" << c.bin;
}

class OnBinTone : public testing::TestWithParam<OnBinCase> {};

// A tone on a bin, windowed: the amplitudes the estimate reads around the
// peak are the window's own spectrum, A * |a_m| / 2 at m bins off (A * a0 on
// the bin), nothing beyond the main lobe, and the phase on the bin is the
// negated phase of the tone. DC stays out.
TEST_P(OnBinTone, BandAmplitudesAndPhaseAreThoseOfTheWindow)
{
    const OnBinCase& c = GetParam();
    const double rate = c.n;  // one hertz per bin
    Frame run(CalcMethod::Fft, AmplitudeType::Rms, c.n, rate);
    ASSERT_TRUE(run.built);
    const ChannelEstimate e = run.Estimate(
        c.dc, {{c.amplitude, static_cast<double>(c.bin), c.phase * 180.0 / std::numbers::pi}});
    ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
    EXPECT_NEAR(e.Voltage, c.amplitude / std::numbers::sqrt2, 1e-12 * c.amplitude);
    EXPECT_NEAR(e.Frequency, c.bin, 1e-9);
    EXPECT_NEAR(e.PeakCentre, c.bin, 1e-9);
    EXPECT_NEAR(e.Phase, -c.phase * 180.0 / std::numbers::pi, 1e-9);
    EXPECT_NEAR(run.phases[c.bin], -c.phase, 1e-12);

    const measure::WindowTypeInfo& window =
        *measure::FindWindowType(measure::MeasurementWindowType);
    EXPECT_NEAR(run.amplitudes[c.bin], c.amplitude * window.Coefficients[0], 1e-12);
    for (std::uint32_t m = 1; m < 7; ++m) {
        SCOPED_TRACE("m=" + std::to_string(m));
        const double expected = c.amplitude * std::fabs(window.Coefficients[m]) / 2.0;
        EXPECT_NEAR(run.amplitudes[c.bin - m], expected, 1e-12);
        EXPECT_NEAR(run.amplitudes[c.bin + m], expected, 1e-12);
    }
    EXPECT_NEAR(run.amplitudes[c.bin - 7], 0.0, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Tones, OnBinTone,
                         testing::Values(OnBinCase{64, 20, 1.0, 0.0, 0.0},
                                         OnBinCase{1024, 100, 2.0, 0.5, 0.25},
                                         OnBinCase{1024, 500, 0.5, -1.0, -1.0},
                                         OnBinCase{16384, 3000, 3.0, 2.5, 0.0}));

// A packed spectrum of length n whose bin k has the power power[k] (all in
// the real part; the imaginary parts zero).
std::vector<double> PackedSpectrum(std::uint32_t n, const std::vector<double>& power)
{
    std::vector<double> f(n, 0.0);
    for (std::size_t k = 0; k < power.size() && k <= n / 2; ++k) {
        f[k] = std::sqrt(power[k]);
    }
    return f;
}

TEST(SpectrumPeak, SkipsBinsBelowHAndTakesTheLowerOfEqualBins)
{
    constexpr std::uint32_t n = 64;
    std::vector<double> power(33, 0.0);
    power[0] = 100.0;  // DC and its leakage below H are never peaks
    power[3] = 90.0;
    power[6] = 80.0;
    power[20] = 4.0;
    power[25] = 4.0;
    std::vector<double> f = PackedSpectrum(n, power);
    EXPECT_EQ(FindSpectrumPeak(f.data(), n, 7).Bin, 20);
    // Without a half-width bin 0 competes too.
    EXPECT_EQ(FindSpectrumPeak(f.data(), n, 0).Bin, 0);

    // A bin that is greater by the least amount takes over; an equal one does
    // not, wherever it lies.
    f[31] = std::nextafter(2.0, 3.0);
    EXPECT_EQ(FindSpectrumPeak(f.data(), n, 7).Bin, 31);
    f[31] = 2.0;
    EXPECT_EQ(FindSpectrumPeak(f.data(), n, 7).Bin, 20);

    // The imaginary part counts as much as the real one.
    f[n / 2 + 12] = 3.0;
    EXPECT_EQ(FindSpectrumPeak(f.data(), n, 7).Bin, 12);

    // Bin H itself may be the peak; the Nyquist bin, stored at f[N/2], never.
    std::vector<double> edge(n, 0.0);
    edge[7] = 1.0;
    edge[n / 2] = 50.0;
    EXPECT_EQ(FindSpectrumPeak(edge.data(), n, 7).Bin, 7);
}

TEST(SpectrumPeak, SumsThePowerOfTheBinsAboveH)
{
    constexpr std::uint32_t n = 32;
    std::vector<double> f(n, 0.0);
    for (std::uint32_t k = 0; k < n / 2; ++k) {
        f[k] = 1.0;  // real parts: |X_k|^2 = 1, plus 4 where the imaginary part is 2
    }
    f[n / 2] = 10.0;      // Nyquist: not counted
    f[n / 2 + 9] = 2.0;   // bin 9
    f[n / 2 + 7] = 30.0;  // bin 7 = H: searched, not summed
    const measure::SpectrumPeak peak = FindSpectrumPeak(f.data(), n, 7);
    EXPECT_EQ(peak.Bin, 7);
    EXPECT_DOUBLE_EQ(peak.PowerAboveH, 8.0 + 4.0);  // bins 8 .. 15
    // Nine bins above H = 6: the last one after the others' groups of four.
    const measure::SpectrumPeak wider = FindSpectrumPeak(f.data(), n, 6);
    EXPECT_EQ(wider.Bin, 7);
    EXPECT_DOUBLE_EQ(wider.PowerAboveH, 901.0 + 8.0 + 4.0);
    f[15] = 40.0;  // the last bin, past the groups, is still searched
    EXPECT_EQ(FindSpectrumPeak(f.data(), n, 6).Bin, 15);
}

TEST(SpectrumPeak, EmptyRangeOrMissingSpectrumGivesNoBin)
{
    std::vector<double> f(16, 1.0);
    EXPECT_EQ(FindSpectrumPeak(f.data(), 16, 7).Bin, 7);
    EXPECT_EQ(FindSpectrumPeak(f.data(), 16, 8).Bin, -1);
    EXPECT_EQ(FindSpectrumPeak(f.data(), 8, 7).Bin, -1);
    EXPECT_EQ(FindSpectrumPeak(nullptr, 16, 7).Bin, -1);
}

// The estimate's own rule at work: a DC many times larger than the tone puts
// its window leakage into the bins below H, where no peak is looked for.
TEST(ChannelEstimator, LargeDcLeavesTheToneThePeak)
{
    Frame run(CalcMethod::Fft, AmplitudeType::Amp, 4096, 4096.0);
    ASSERT_TRUE(run.built);
    const ChannelEstimate e = run.Estimate(4.5, {{1e-3, 30.0, 0.0}});
    ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
    EXPECT_NEAR(e.Frequency, 30.0, 1e-6);
    EXPECT_NEAR(e.Voltage, 1e-3, 1e-9);
    EXPECT_TRUE(e.ToneFound);
}

struct BandCase {
    double bin;  // the tone, in bins
    bool inBand;
};

// The band where the estimate is exact, [15, N/2 - 8] bins, at both edges:
// a frame of 4096 samples at 4096 Hz has one hertz per bin.
TEST(ChannelEstimator, ReadingsAreInBandFromBin15ToBinHalfMinus8)
{
    constexpr std::uint32_t n = 4096;
    const BandCase cases[] = {
        {14.0, false},       {15.0, true},         {15.4, true}, {n / 2 - 8.3, true},
        {n / 2 - 8.0, true}, {n / 2 - 7.0, false}, {8.6, false}, {n / 2 - 2.0, false},
    };
    Frame run(CalcMethod::Fft, AmplitudeType::Rms, n, n);
    ASSERT_TRUE(run.built);
    for (const BandCase& c : cases) {
        SCOPED_TRACE("tone at bin " + std::to_string(c.bin));
        const ChannelEstimate e = run.Estimate(0.0, {{1.0, c.bin, 40.0}});
        ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
        EXPECT_TRUE(e.ToneFound);
        EXPECT_EQ(e.InBand, c.inBand) << "centre " << e.PeakCentre;
        if (c.inBand) {
            // What the band promises: the reading is exact.
            EXPECT_NEAR(e.Voltage, std::numbers::sqrt2 / 2, 1e-9);
            EXPECT_NEAR(e.Frequency, c.bin, 1e-9);
            EXPECT_NEAR(e.Phase, -40.0, 1e-7);
        }
    }
    // Well outside the band the reading is plainly off: the mark is needed.
    for (const double bin : {8.6, n / 2 - 2.0}) {
        SCOPED_TRACE("tone at bin " + std::to_string(bin));
        const ChannelEstimate off = run.Estimate(0.0, {{1.0, bin, 90.0}});
        EXPECT_FALSE(off.InBand);
        EXPECT_GT(std::fabs(off.Voltage / (std::numbers::sqrt2 / 2) - 1.0), 0.05);
        EXPECT_GT(std::fabs(off.Phase + 90.0), 20.0);
    }
    EXPECT_TRUE(measure::InExactBand(15.0, n, 7));
    EXPECT_FALSE(measure::InExactBand(std::nextafter(15.0, 0.0), n, 7));
    EXPECT_TRUE(measure::InExactBand(n / 2 - 8.0, n, 7));
    EXPECT_FALSE(measure::InExactBand(std::nextafter(n / 2 - 8.0, n), n, 7));
}

struct ToneCaseTable {
    const char* name;
    double dc;             // volts
    double toneAmplitude;  // volts, at 1000 Hz; 0 for none
    double noiseRms;       // volts, white
    double lsb;            // volts; the samples are rounded to it when not 0
    bool toneFound;
};

void PrintTo(const ToneCaseTable& c, std::ostream* os)
{
    *os << c.name;
}

class NoToneRule : public testing::TestWithParam<ToneCaseTable> {};

// The default frame: 0.75 s at 78125 Hz gives N = 65536.
TEST_P(NoToneRule, ATonesMustStandAboveTheNoiseFloor)
{
    const ToneCaseTable& c = GetParam();
    constexpr std::uint32_t n = 65536;
    constexpr double rate = 78125.0;
    Frame run(CalcMethod::Fft, AmplitudeType::Rms, n, rate);
    ASSERT_TRUE(run.built);
    std::mt19937_64 generator(12345);
    std::normal_distribution<double> noise(0.0, c.noiseRms > 0.0 ? c.noiseRms : 1.0);
    for (std::uint32_t i = 0; i < n; ++i) {
        double x = c.dc + c.toneAmplitude * std::cos(2.0 * std::numbers::pi * 1000.0 * i / rate);
        if (c.noiseRms > 0.0) {
            x += noise(generator);
        }
        if (c.lsb > 0.0) {
            x = std::round(x / c.lsb) * c.lsb;
        }
        run.samples[i] = x;
    }
    const ChannelEstimate e =
        run.estimator.Estimate({run.samples.data(), run.window.data(), run.spectrum.data(),
                                run.amplitudes.data(), run.phases.data()});
    ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
    EXPECT_EQ(e.ToneFound, c.toneFound);
    EXPECT_EQ(e.InBand, c.toneFound);  // 1000 Hz lies well inside the band
    if (c.toneFound) {
        const double rms = c.toneAmplitude / std::numbers::sqrt2;
        EXPECT_NEAR(e.Voltage, rms, 0.05 * rms);
        EXPECT_NEAR(e.Frequency, 1000.0, 0.5);
    }
}

constexpr double Lsb24 = 5.0 / 8388608.0;

INSTANTIATE_TEST_SUITE_P(Table, NoToneRule,
                         testing::Values(ToneCaseTable{"DcOnly", 1.25, 0.0, 0.0, Lsb24, false},
                                         ToneCaseTable{"Silence", 0.0, 0.0, Lsb24, Lsb24, false},
                                         ToneCaseTable{"WhiteNoiseOnly", 0.0, 0.0, 0.1, 0.0, false},
                                         ToneCaseTable{"DcAndNoise", -2.0, 0.0, 1e-3, Lsb24, false},
                                         ToneCaseTable{"OneMillivoltToneInOneMillivoltNoise", 0.0,
                                                       1e-3, 1e-3, Lsb24, true},
                                         ToneCaseTable{"FiveVoltToneWith24BitNoise", 0.0,
                                                       5.0 - 2 * Lsb24, Lsb24, Lsb24, true}),
                         [](const testing::TestParamInfo<ToneCaseTable>& p) {
                             return std::string(p.param.name);
                         });

// No run of white noise makes a tone, whatever the frame length.
TEST(ChannelEstimator, WhiteNoiseNeverMakesATone)
{
    for (const std::uint32_t n : {512u, 4096u, 65536u}) {
        Frame run(CalcMethod::Fft, AmplitudeType::Rms, n, 78125.0);
        ASSERT_TRUE(run.built);
        std::mt19937_64 generator(n);
        std::normal_distribution<double> noise(0.0, 0.5);
        for (int frame = 0; frame < 50; ++frame) {
            for (std::uint32_t i = 0; i < n; ++i) {
                run.samples[i] = noise(generator);
            }
            const ChannelEstimate e =
                run.estimator.Estimate({run.samples.data(), run.window.data(), run.spectrum.data(),
                                        run.amplitudes.data(), run.phases.data()});
            ASSERT_EQ(e.Outcome, EstimateOutcome::Ok);
            ASSERT_FALSE(e.ToneFound) << "N=" << n << " frame " << frame;
        }
    }
}

TEST(ChannelEstimator, ToneRuleAtItsLimits)
{
    // Ten times the floor per bin is a tone; a hair less is not.
    EXPECT_TRUE(measure::ToneStandsOut(140.0, 14, 1000.0, 1000, 2000.0));
    EXPECT_FALSE(measure::ToneStandsOut(139.9, 14, 1000.0, 1000, 2000.0));
    // Nothing to compare with: a tone.
    EXPECT_TRUE(measure::ToneStandsOut(1.0, 14, 0.0, 0, 1.0));
    EXPECT_TRUE(measure::ToneStandsOut(1.0, 14, 0.0, 10, 1.0));
    // No band power, or a band lost in the rounding of a large frame.
    EXPECT_FALSE(measure::ToneStandsOut(0.0, 14, 1.0, 10, 1.0));
    EXPECT_FALSE(measure::ToneStandsOut(1e-20, 14, 1e-30, 1000, 1e3));
    EXPECT_FALSE(measure::ToneStandsOut(1.0, 0, 1.0, 10, 1.0));
}

// A second estimator of a run reads the window the first one built and
// gives the same results, to the last bit, without building it again.
TEST(ChannelEstimator, SharedWindowGivesTheSameEstimates)
{
    for (const CalcMethod method : {CalcMethod::Fft, CalcMethod::Sum}) {
        Frame run(method, AmplitudeType::Rms, 4096, 9765.625);
        ASSERT_TRUE(run.built);
        ChannelEstimator second(method, AmplitudeType::Rms, 4096, 9765.625, nullptr);
        EXPECT_FALSE(second.ShareWindow(
            ChannelEstimator(method, AmplitudeType::Rms, 4096, 9765.625, nullptr)));
        ChannelEstimator otherLength(method, AmplitudeType::Rms, 2048, 9765.625, nullptr);
        EXPECT_FALSE(otherLength.ShareWindow(run.estimator));
        ASSERT_TRUE(second.ShareWindow(run.estimator));
        EXPECT_EQ(second.WindowSum(), run.estimator.WindowSum());
        EXPECT_EQ(second.WindowMeanSquare(), run.estimator.WindowMeanSquare());

        const ChannelEstimate first = run.Estimate(0.1, {{1.0, 1234.5, 20.0}});
        const std::vector<double> window = run.window;
        const ChannelEstimate again =
            second.Estimate({run.samples.data(), run.window.data(), run.spectrum.data(),
                             run.amplitudes.data(), run.phases.data()});
        EXPECT_EQ(run.window, window);
        ASSERT_EQ(again.Outcome, EstimateOutcome::Ok);
        EXPECT_EQ(again.Voltage, first.Voltage);
        EXPECT_EQ(again.Frequency, first.Frequency);
        EXPECT_EQ(again.Phase, first.Phase);
    }
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
