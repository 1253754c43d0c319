#include "ChannelEstimator.h"
#include "SineFit.h"
#include "CaseName.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

using measure::AmplitudeType;
using measure::CalcMethod;
using measure::ChannelEstimate;
using measure::ChannelEstimator;
using measure::EstimateOutcome;
using measure::FitChannel;
using measure::FrameNoise;
using measure::SpectrumScale;

constexpr double Pi = std::numbers::pi;

double Wrap(double radians)
{
    return std::remainder(radians, 2.0 * Pi);
}

// One channel's frame through the specified estimate and the sine fit.
struct Channel {
    Channel(std::uint32_t n, double rate)
        : estimator(CalcMethod::Fft, AmplitudeType::Rms, n, rate, nullptr), samples(n + 16),
          window(n + 16), spectrum(n + 16), amplitudes(n / 2 + 16), phases(n / 2 + 16)
    {
        built = estimator.BuildWindow(window.data());
    }

    SpectrumScale Scale()
    {
        SpectrumScale scale;
        scale.Length = estimator.Length();
        scale.HalfWidth = estimator.Analyzer()->PeakHalfWidth();
        scale.WindowSum = estimator.WindowSum();
        scale.WindowMeanSquare = estimator.WindowMeanSquare();
        return scale;
    }

    // The specified estimate, then the frame's noise and side tones.
    bool Estimate()
    {
        estimate = estimator.Estimate(
            {samples.data(), window.data(), spectrum.data(), amplitudes.data(), phases.data()});
        if (estimate.Outcome != EstimateOutcome::Ok) {
            return false;
        }
        noise = measure::ReadFrameNoise(spectrum.data(), Scale(), estimate.PeakCentre);
        return noise.Valid;
    }

    ChannelEstimator estimator;
    std::vector<double> samples;
    std::vector<double> window;
    std::vector<double> spectrum;
    std::vector<double> amplitudes;
    std::vector<double> phases;
    ChannelEstimate estimate;
    FrameNoise noise;
    bool built = false;
};

struct Tone {
    double bin;
    double amplitude;  // peak
    double phase;      // radians at n = 0
};

// x[n] = dc + sum of a cos(2 pi b n / N + phi), in extended precision.
void Synthesise(std::vector<double>& x, std::uint32_t n, double dc, const std::vector<Tone>& tones)
{
    using Ld = long double;
    const Ld pi = std::numbers::pi_v<Ld>;
    for (std::uint32_t i = 0; i < n; ++i) {
        Ld v = dc;
        for (const Tone& t : tones) {
            v += static_cast<Ld>(t.amplitude) *
                 std::cos(2 * pi * static_cast<Ld>(t.bin) * i / n + static_cast<Ld>(t.phase));
        }
        x[i] = static_cast<double>(v);
    }
}

TEST(SineFit, CentredDirichletSumsMatchTheirSeries)
{
    for (const std::uint32_t n : {16u, 1024u, 8193u}) {
        for (const double a : {0.001, 0.37, 1.5, 3.1, -2.2, 6.0}) {
            long double p = 0.0L;
            long double q = 0.0L;
            for (std::uint32_t i = 0; i < n; ++i) {
                const long double t = i - 0.5L * (n - 1);
                p += std::cos(a * t);
                q += t * std::sin(a * t);
            }
            const double scale = n * static_cast<double>(n);
            EXPECT_NEAR(measure::CentredDirichlet(a, n), static_cast<double>(p), 1e-9 * n)
                << n << " " << a;
            EXPECT_NEAR(-measure::CentredDirichletSlope(a, n), static_cast<double>(q),
                        1e-9 * scale)
                << n << " " << a;
        }
    }
}

struct CleanCase : ksn::test::NamedCase {
    std::uint32_t n;
    double dc;
    std::vector<Tone> tones;  // the first is the one measured
};

class CleanSignal : public testing::TestWithParam<CleanCase> {};

// On signals without noise the fit lands where the specified estimate does,
// as close to the truth: harmonics, DC and a second tone leak nothing.
TEST_P(CleanSignal, FitIsAsExactAsTheSpectralEstimate)
{
    const CleanCase& c = GetParam();
    Channel ch(c.n, 78125.0);
    ASSERT_TRUE(ch.built);
    Synthesise(ch.samples, c.n, c.dc, c.tones);
    ASSERT_TRUE(ch.Estimate());
    const Tone& truth = c.tones.front();
    const double trueOmega = 2.0 * Pi * truth.bin / c.n;
    const double middle = 0.5 * (c.n - 1.0);

    // The specified estimate's errors, the yardstick.
    const double fftAmplitudeError =
        std::fabs(ch.estimate.Voltage * std::numbers::sqrt2 - truth.amplitude);
    const double fftBinError = std::fabs(ch.estimate.PeakCentre - truth.bin);
    const double fftPhaseError = std::fabs(Wrap(-ch.estimate.Phase * Pi / 180.0 - truth.phase));

    FitChannel fit;
    fit.Samples = ch.samples.data();
    fit.Variance = ch.noise.Variance;
    fit.Noise = &ch.noise;
    double omega = 2.0 * Pi * ch.estimate.PeakCentre / c.n;
    ASSERT_TRUE(measure::FitSharedTone(&fit, 1, c.n, omega));

    const double amplitudeError = std::fabs(fit.Amplitude - truth.amplitude);
    const double binError = std::fabs(omega * c.n / (2.0 * Pi) - truth.bin);
    const double phaseError =
        std::fabs(Wrap(fit.PhaseCentre - (truth.phase + trueOmega * middle)));
    // No worse than the specified estimate, give or take the rounding of a
    // sum over N samples.
    const double rounding = 1e-13 * std::sqrt(static_cast<double>(c.n));
    EXPECT_LE(amplitudeError, std::max(2.0 * fftAmplitudeError, rounding * truth.amplitude));
    EXPECT_LE(binError, std::max(2.0 * fftBinError, rounding));
    EXPECT_LE(phaseError, std::max(2.0 * fftPhaseError, rounding * 10.0));
    EXPECT_NEAR(fit.Offset, c.dc, 1e-11 * truth.amplitude + 1e-12);
    // What is left is the side tones: harmonics count as distortion.
    std::vector<double> side(c.n);
    Synthesise(side, c.n, 0.0, {c.tones.begin() + 1, c.tones.end()});
    double others = 0.0;
    for (const double v : side) {
        others += v * v / c.n;
    }
    EXPECT_NEAR(fit.ResidualMeanSquare, others, 1e-9 * others + 1e-20);
}

std::vector<Tone> WithHarmonics(double bin, double level, std::uint32_t n)
{
    std::vector<Tone> tones{{bin, 1.0, 0.7}};
    for (int m = 2; m <= 10 && m * bin < n / 2.0 - 8; ++m) {
        tones.push_back({m * bin, level / m, 0.3 * m});
    }
    return tones;
}

INSTANTIATE_TEST_SUITE_P(
    SineFit, CleanSignal,
    testing::Values(
        CleanCase{{"PureToneIntegerBin"}, 4096, 0.0, {{100.0, 1.0, 0.4}}},
        CleanCase{{"PureToneHalfBin"}, 4096, 0.0, {{100.5, 2.5, -1.2}}},
        CleanCase{{"PureToneRandomBin"}, 8192, 0.0, {{777.31415, 0.01, 3.0}}},
        CleanCase{{"WithDc"}, 4096, 1.25, {{123.4, 0.5, 2.0}}},
        CleanCase{{"HarmonicsTwoToTen"}, 8192, 0.0, WithHarmonics(101.37, 0.01, 8192)},
        CleanCase{{"StrongSecondHarmonic"}, 4096, 0.2, {{250.25, 1.0, 0.1}, {500.5, 0.1, 1.0}}},
        CleanCase{{"HumBelow"}, 8192, 0.0, {{1000.3, 1.0, 0.2}, {40.7, 0.2, -0.5}}},
        CleanCase{{"HumAbove"}, 4096, 0.0, {{300.3, 1.0, 0.2}, {1500.9, 0.05, 2.5}}},
        CleanCase{{"LowBandEdge"}, 4096, 0.0, {{15.0, 1.0, 1.0}}},
        CleanCase{{"HighBandEdge"}, 4096, 0.0, {{4096 / 2 - 8.0, 1.0, -2.0}}}),
    ksn::test::CaseName<CleanCase>);

struct SpreadCase : ksn::test::NamedCase {
    double amplitude;
    double variance;
    std::uint32_t n;
    double rms;    // expected spreads, worked out by hand
    double omega;
    double phase;
};

class SpreadFormula : public testing::TestWithParam<SpreadCase> {};

TEST_P(SpreadFormula, IsTheCramerRaoBound)
{
    const SpreadCase& c = GetParam();
    const measure::ReadingSpread s = measure::CramerRaoSpread(c.amplitude, c.variance, c.n);
    EXPECT_NEAR(s.Rms, c.rms, 1e-9 * c.rms);
    EXPECT_NEAR(s.Omega, c.omega, 1e-9 * c.omega);
    EXPECT_NEAR(s.Phase, c.phase, 1e-9 * c.phase);
}

INSTANTIATE_TEST_SUITE_P(
    SineFit, SpreadFormula,
    testing::Values(
        // s^2 = 1e-4, N = 10000: rms 1e-4; omega sqrt(24e-4 / (1e4 (1e8 - 1)));
        // phase sqrt(2e-4 / 1e4).
        SpreadCase{{"UnitTone"}, 1.0, 1e-4, 10000, 1e-4, 4.898979510e-8, 1.414213562e-4},
        // Twice the amplitude halves omega's and phase's spread, not the rms'.
        SpreadCase{{"DoubleAmplitude"}, 2.0, 1e-4, 10000, 1e-4, 2.449489755e-8, 7.07106781e-5},
        // N = 2: var(omega) = 24 s^2 / (A^2 2 3).
        SpreadCase{{"TwoSamples"}, 1.0, 1.0, 2, 0.70710678118, 2.0, 1.0}),
    ksn::test::CaseName<SpreadCase>);

TEST(SineFit, SpreadOfNoToneIsNotANumber)
{
    const measure::ReadingSpread s = measure::CramerRaoSpread(0.0, 1e-6, 1024);
    EXPECT_TRUE(std::isnan(s.Rms));
    EXPECT_TRUE(std::isnan(s.Omega));
    EXPECT_TRUE(std::isnan(s.Phase));
}

TEST(SineFit, SpecifiedSpreadCarriesTheFrequencyIntoTheFirstSamplePhase)
{
    const std::uint32_t n = 4096;
    const measure::ReadingSpread bound = measure::CramerRaoSpread(1.0, 1e-6, n);
    const measure::ReadingSpread fft = measure::FftSpread(1.0, 1e-6, n, 1.9);
    EXPECT_NEAR(fft.Rms, 1.9 * bound.Rms, 1e-15);
    EXPECT_NEAR(fft.Omega, measure::FftFrequencySpreadFactor * bound.Omega, 1e-18);
    const double shift = 0.5 * (n - 1.0) * fft.Omega;
    const double centre = measure::FftCentrePhaseSpreadFactor * bound.Phase;
    EXPECT_NEAR(fft.Phase, std::hypot(centre, shift), 1e-15);
    // With (N - 1) / 2 samples the frequency's part is sqrt(3 (N-1)/(N+1)) times its factor.
    EXPECT_NEAR(shift / bound.Phase,
                measure::FftFrequencySpreadFactor * std::sqrt(3.0 * (n - 1.0) / (n + 1.0)), 1e-9);
}

TEST(SineFit, VoltageFactorOfARectangularWindowIsOne)
{
    std::vector<double> flat(512, 0.7);
    EXPECT_NEAR(measure::FftVoltageSpreadFactor(flat.data(), 512), 1.0, 1e-12);
    // A window that is 1 on half the samples and 0 elsewhere: sqrt(N (N/2) / (N/2)^2).
    std::vector<double> halfOn(512, 0.0);
    std::fill(halfOn.begin(), halfOn.begin() + 256, 1.0);
    EXPECT_NEAR(measure::FftVoltageSpreadFactor(halfOn.data(), 512), std::sqrt(2.0), 1e-12);
}

TEST(SineFit, NoiseVarianceComesFromTheNoiseBins)
{
    // White noise of s = 1e-3 under a tone, its harmonics and hum: the noise
    // bins alone give s^2, within the spread of their mean.
    const std::uint32_t n = 16384;
    Channel ch(n, 78125.0);
    std::vector<Tone> tones = WithHarmonics(301.3, 0.05, n);
    tones.push_back({2001.6, 0.3, 1.0});
    Synthesise(ch.samples, n, 0.4, tones);
    std::mt19937_64 random(7);
    std::normal_distribution<double> gauss(0.0, 1e-3);
    for (std::uint32_t i = 0; i < n; ++i) {
        ch.samples[i] += gauss(random);
    }
    ASSERT_TRUE(ch.Estimate());
    // The mean of M bins of windowed noise (neighbours correlated over a few
    // bins) spreads by about sqrt(4 / M); 5 such spreads.
    const double tolerance = 5.0 * std::sqrt(4.0 / ch.noise.NoiseBins);
    EXPECT_NEAR(ch.noise.Variance / 1e-6, 1.0, tolerance);
    // The hum and the harmonics are side tones; the fundamental is not.
    EXPECT_GE(ch.noise.ToneCount, tones.size() - 1);
    EXPECT_LE(ch.noise.ToneCount, tones.size() + 1);
}

TEST(SineFit, RefusesARunawayOrEmptyFit)
{
    std::vector<double> zeros(1024, 0.0);
    FitChannel fit;
    fit.Samples = zeros.data();
    fit.Variance = 1e-6;
    double omega = 0.3;
    EXPECT_FALSE(measure::FitSharedTone(&fit, 1, 1024, omega));
    EXPECT_EQ(omega, 0.3);
    EXPECT_FALSE(measure::FitSharedTone(&fit, 0, 1024, omega));
    double outside = 4.0;
    EXPECT_FALSE(measure::FitSharedTone(&fit, 1, 1024, outside));
}

TEST(SineFit, EffectiveBitsOfTheIdealConverter)
{
    // An ideal 16-bit quantiser of the 10 V range: NAD = LSB / sqrt 12.
    const double lsb = measure::FullScaleRange / 65536.0;
    EXPECT_NEAR(measure::EffectiveBits(lsb / std::sqrt(12.0)), 16.0, 1e-12);
    EXPECT_TRUE(std::isinf(measure::EffectiveBits(0.0)));
}

}  // namespace
