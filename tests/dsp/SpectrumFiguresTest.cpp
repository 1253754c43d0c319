// Distortion and noise figures of a channel's spectrum, on synthetic frames
// run through the estimate the measurement makes; and the reduction of a
// spectrum to the columns of a plot.
#include "CaseName.h"
#include "ChannelEstimator.h"
#include "PlotReduction.h"
#include "SpectrumFigures.h"
#include "SpectrumTap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace {

using measure::FrequencyAxis;
using measure::PlotPoint;
using measure::SpectrumFigures;

constexpr double Rate = 9765.625;

struct Tone {
    double Frequency;
    double Amplitude;  // volts, peak
    double Phase;      // radians
};

// One frame through the "fft" estimate, which leaves its windowed spectrum in
// the buffer the figures read.
class EstimatedFrame {
public:
    explicit EstimatedFrame(std::uint32_t n)
        : n_(n),
          estimator_(measure::CalcMethod::Fft, measure::AmplitudeType::Rms, n, Rate, nullptr),
          samples_(n + 16), window_(n + 16, 0.0), spectrum_(n + 16), amplitudes_(n / 2 + 16),
          phases_(n / 2 + 16)
    {
        EXPECT_TRUE(estimator_.BuildWindow(window_.data()));
    }

    // Sum of the tones plus white noise of the given RMS (fixed seed).
    void Fill(const std::vector<Tone>& tones, double noiseRms = 0.0)
    {
        std::mt19937_64 random(12345);
        std::normal_distribution<double> noise(0.0, noiseRms > 0.0 ? noiseRms : 1.0);
        for (std::uint32_t i = 0; i < n_; ++i) {
            double x = 0.0;
            for (const Tone& tone : tones) {
                x += tone.Amplitude *
                     std::cos(2.0 * std::numbers::pi * tone.Frequency * i / Rate + tone.Phase);
            }
            samples_[i] = x + (noiseRms > 0.0 ? noise(random) : 0.0);
        }
    }

    measure::ChannelEstimate Estimate()
    {
        measure::EstimateBuffers buffers;
        buffers.Samples = samples_.data();
        buffers.Window = window_.data();
        buffers.Spectrum = spectrum_.data();
        buffers.Amplitudes = amplitudes_.data();
        buffers.Phases = phases_.data();
        return estimator_.Estimate(buffers);
    }

    measure::SpectrumScale Scale()
    {
        return {n_, estimator_.Analyzer()->PeakHalfWidth(), estimator_.WindowSum(),
                estimator_.WindowMeanSquare()};
    }

    SpectrumFigures Figures()
    {
        const measure::ChannelEstimate estimate = Estimate();
        EXPECT_EQ(estimate.Outcome, measure::EstimateOutcome::Ok);
        return measure::ComputeSpectrumFigures(spectrum_.data(), Scale(), estimate.PeakCentre);
    }

    const double* Spectrum() const { return spectrum_.data(); }

private:
    std::uint32_t n_;
    measure::ChannelEstimator estimator_;
    std::vector<double> samples_;
    std::vector<double> window_;
    std::vector<double> spectrum_;
    std::vector<double> amplitudes_;
    std::vector<double> phases_;
};

struct DistortionCase : ksn::test::NamedCase {
    std::vector<Tone> Tones;
    double ThdPercent;
    double ThdNPercent;
    std::uint32_t Harmonics;  // harmonics below Nyquist
    // The noise is taken per bin and counted over all N/2 bins, which puts
    // a lone tone among the noise bins a few tenths of a percent high.
    double ThdNTolerance = 1e-6;
};

class Distortion : public ::testing::TestWithParam<DistortionCase> {};

TEST_P(Distortion, ReadsTheHarmonicsBelowNyquist)
{
    const DistortionCase& c = GetParam();
    EstimatedFrame frame(16384);
    frame.Fill(c.Tones);
    const SpectrumFigures figures = frame.Figures();
    ASSERT_TRUE(figures.Valid);
    EXPECT_NEAR(figures.Fundamental, c.Tones[0].Amplitude / std::numbers::sqrt2, 1e-9);
    EXPECT_NEAR(figures.ThdPercent, c.ThdPercent, 1e-6);
    EXPECT_NEAR(figures.ThdNPercent, c.ThdNPercent, c.ThdNTolerance);
    EXPECT_EQ(figures.HarmonicCount, c.Harmonics);
}

INSTANTIATE_TEST_SUITE_P(
    Spectrum, Distortion,
    ::testing::Values(
        // 2nd 1 %, 3rd 0.5 %: sqrt(1 + 0.25) %.
        DistortionCase{{"SecondAndThirdHarmonic"},
                       {{1000.0, 1.0, 0.3}, {2000.0, 0.01, 1.0}, {3000.0, 0.005, -2.0}},
                       1.118033988749895,
                       1.118033988749895,
                       3},
        // Off-bin tone with its harmonics off-bin too, a phase of its own each.
        DistortionCase{{"OffBinTone"}, {{1234.567, 0.5, 0.0}, {2469.134, 0.005, 0.4}}, 1.0, 1.0, 2},
        // 3 x 1800 Hz lies beyond Nyquist (4882.8 Hz): sampled, it folds back
        // to 4365.6 Hz, where it is noise to THD+N and nothing to THD.
        DistortionCase{{"HarmonicBeyondNyquistIgnored"},
                       {{1800.0, 1.0, 0.0}, {3600.0, 0.01, 0.0}, {5400.0, 0.01, 0.0}},
                       1.0,
                       1.4142135623730951,
                       1,
                       0.002}),
    ksn::test::CaseName<DistortionCase>);

TEST(SpectrumFigures, APureToneReadsAThdFarBelowMinus140Decibels)
{
    for (const double f : {1000.0, 977.0, 3210.5, 151.3}) {
        EstimatedFrame frame(16384);
        frame.Fill({{f, 1.0, 0.7}});
        const SpectrumFigures figures = frame.Figures();
        ASSERT_TRUE(figures.Valid) << f;
        EXPECT_LT(figures.ThdPercent, 1e-5) << f;  // -140 dB
        EXPECT_LT(20.0 * std::log10(figures.ThdPercent / 100.0), -140.0) << f;
    }
}

TEST(SpectrumFigures, ReadsTheSnrOfAToneInWhiteNoise)
{
    // Tone of 1 V peak (0.5 V^2), noise of 1 mV and 10 mV RMS: 56.99 and 36.99 dB.
    for (const double noiseRms : {1e-3, 1e-2}) {
        EstimatedFrame frame(65536);
        frame.Fill({{1000.0, 1.0, 0.0}}, noiseRms);
        const SpectrumFigures figures = frame.Figures();
        ASSERT_TRUE(figures.Valid);
        const double expected = 10.0 * std::log10(0.5 / (noiseRms * noiseRms));
        EXPECT_NEAR(figures.SnrDb, expected, 0.2) << noiseRms;
        // THD+N of noise alone: the noise RMS against the tone's.
        EXPECT_NEAR(figures.ThdNPercent, 100.0 * noiseRms / std::sqrt(0.5),
                    100.0 * noiseRms / std::sqrt(0.5) * 0.03);
        // The floor on the plot's scale: the noise per bin (s^2 / (N/2)) times
        // the window's noise bandwidth in bins (ms / a0^2).
        const measure::SpectrumScale scale = frame.Scale();
        const double a0 = scale.WindowSum / scale.Length;
        const double floor = 10.0 * std::log10(noiseRms * noiseRms / (scale.Length / 2.0) *
                                               scale.WindowMeanSquare / (a0 * a0));
        EXPECT_NEAR(figures.NoiseFloorDbv, floor, 0.2);
    }
}

TEST(SpectrumFigures, NoFiguresWithoutAFundamental)
{
    EstimatedFrame frame(4096);
    frame.Fill({{1000.0, 1.0, 0.0}});
    frame.Estimate();
    const measure::SpectrumScale scale = frame.Scale();
    EXPECT_FALSE(measure::ComputeSpectrumFigures(nullptr, scale, 400.0).Valid);
    EXPECT_FALSE(measure::ComputeSpectrumFigures(frame.Spectrum(), scale, 3.0).Valid)
        << "a centre inside the DC bins";
    EXPECT_FALSE(measure::ComputeSpectrumFigures(frame.Spectrum(), scale, 2048.0).Valid)
        << "a centre at Nyquist";
    EXPECT_FALSE(measure::ComputeSpectrumFigures(frame.Spectrum(), {}, 400.0).Valid);
    std::vector<double> silent(4096 + 16, 0.0);
    EXPECT_FALSE(measure::ComputeSpectrumFigures(silent.data(), scale, 400.0).Valid);
}

struct ConverterCase : ksn::test::NamedCase {
    std::vector<Tone> Tones;
    double NoiseRms;
    double SpurFrequency;  // Hz, the largest spur's
    double SfdrDbc;
    double SinadDb;  // from the tones and noise put in
};

class ConverterFigures : public ::testing::TestWithParam<ConverterCase> {};

// SINAD and ENOB from the noise and distortion put in, SFDR from the largest
// spur, wherever it lies.
TEST_P(ConverterFigures, ReadTheSpursAndNoisePutIn)
{
    const ConverterCase& c = GetParam();
    EstimatedFrame frame(65536);
    frame.Fill(c.Tones, c.NoiseRms);
    const SpectrumFigures figures = frame.Figures();
    ASSERT_TRUE(figures.Valid);
    // The noise under the spur's band moves it by a few hundredths of a dB.
    EXPECT_NEAR(figures.SfdrDbc, c.SfdrDbc, 0.05);
    EXPECT_NEAR(figures.SpurCentre * Rate / 65536.0, c.SpurFrequency, 0.01);
    EXPECT_NEAR(figures.SinadDb, c.SinadDb, 0.05);
    // ENOB from the same NAD: V1 / NAD = 10^(SINAD / 20).
    const double nad = figures.Fundamental / std::pow(10.0, figures.SinadDb / 20.0);
    EXPECT_NEAR(figures.EnobBits, std::log2(10.0 / (nad * std::sqrt(12.0))), 1e-9);
}

// 20 log10 of an amplitude ratio; a tone of peak a has the power a^2 / 2.
double Db(double ratio)
{
    return 20.0 * std::log10(ratio);
}

INSTANTIATE_TEST_SUITE_P(
    Spectrum, ConverterFigures,
    ::testing::Values(
        // The 3rd harmonic is the largest spur; SINAD from both harmonics.
        ConverterCase{{"HarmonicSpur"},
                      {{1000.0, 1.0, 0.0}, {2000.0, 0.001, 0.5}, {3000.0, 0.003, 1.0}},
                      0.0,
                      3000.0,
                      Db(1.0 / 0.003),
                      Db(1.0 / std::hypot(0.001, 0.003))},
        // A tone that is no harmonic (hum) is the largest spur.
        ConverterCase{{"HumSpur"},
                      {{1234.5, 2.0, 0.2}, {50.0, 0.01, 0.0}, {2469.0, 0.002, 0.0}},
                      0.0,
                      50.0,
                      Db(2.0 / 0.01),
                      // The hum counts as noise.
                      Db(2.0 / std::hypot(0.01, 0.002))},
        // Noise of 1 mV RMS under a 0.1 % harmonic: SINAD from both.
        ConverterCase{{"NoiseAndHarmonic"},
                      {{1000.0, 1.0, 0.0}, {2000.0, 0.001, 0.0}},
                      1e-3,
                      2000.0,
                      Db(1.0 / 0.001),
                      10.0 * std::log10(0.5 / (0.001 * 0.001 / 2.0 + 1e-6))}),
    ksn::test::CaseName<ConverterCase>);

// --- the reduction to pixel columns ---

// The smallest and largest value among the points of each column, against
// those of its bins.
void ExpectColumnsKeepTheirExtremes(const std::vector<double>& values, std::uint32_t first,
                                    std::uint32_t last, std::uint32_t columns, FrequencyAxis axis)
{
    std::vector<PlotPoint> points(2 * columns);
    const std::size_t count =
        measure::ReduceToColumns(values.data(), first, last, columns, axis, 1.0, points.data());
    ASSERT_LE(count, 2u * columns);
    ASSERT_GT(count, 0u);
    std::size_t p = 0;
    for (std::uint32_t j = 0; j < columns; ++j) {
        const std::uint32_t begin = measure::ColumnStart(j, first, last, columns, axis);
        const std::uint32_t end = measure::ColumnStart(j + 1, first, last, columns, axis);
        if (end <= begin) {
            continue;
        }
        const auto [low, high] = std::minmax_element(values.begin() + begin, values.begin() + end);
        double seenLow = std::numeric_limits<double>::infinity();
        double seenHigh = -seenLow;
        std::size_t inColumn = 0;
        while (p < count && points[p].X == static_cast<double>(begin)) {
            seenLow = std::min(seenLow, points[p].Y);
            seenHigh = std::max(seenHigh, points[p].Y);
            ++p;
            ++inColumn;
        }
        ASSERT_GE(inColumn, 1u) << "column " << j;
        ASSERT_LE(inColumn, 2u) << "column " << j;
        EXPECT_EQ(seenLow, *low) << "column " << j;
        EXPECT_EQ(seenHigh, *high) << "column " << j;
    }
    EXPECT_EQ(p, count) << "points outside every column";
    for (std::size_t i = 1; i < count; ++i) {
        ASSERT_LE(points[i - 1].X, points[i].X);
    }
}

struct ReductionCase : ksn::test::NamedCase {
    std::uint32_t Bins;
    std::uint32_t First;
    std::uint32_t Columns;
    FrequencyAxis Axis;
};

class Reduction : public ::testing::TestWithParam<ReductionCase> {};

TEST_P(Reduction, KeepsTheSmallestAndLargestValueOfEveryColumn)
{
    const ReductionCase& c = GetParam();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> level(-150.0, -20.0);
    std::vector<double> values(c.Bins);
    for (double& v : values) {
        v = level(random);
    }
    values[c.Bins / 3] = 10.0;  // a lone peak
    ExpectColumnsKeepTheirExtremes(values, c.First, c.Bins, c.Columns, c.Axis);
}

INSTANTIATE_TEST_SUITE_P(
    Spectrum, Reduction,
    ::testing::Values(
        ReductionCase{{"LinearMillionBins"}, (1u << 19) + 1, 0, 1500, FrequencyAxis::Linear},
        ReductionCase{
            {"LogarithmicMillionBins"}, (1u << 19) + 1, 1, 1500, FrequencyAxis::Logarithmic},
        ReductionCase{{"FewerBinsThanColumns"}, 300, 0, 1000, FrequencyAxis::Linear},
        ReductionCase{{"LogarithmicFewBins"}, 2049, 1, 1200, FrequencyAxis::Logarithmic},
        ReductionCase{{"OneColumn"}, 5000, 0, 1, FrequencyAxis::Linear}),
    ksn::test::CaseName<ReductionCase>);

TEST(Reduction, FewerBinsThanColumnsGiveEveryBinOnce)
{
    const std::vector<double> values = {5.0, 1.0, 4.0, 2.0};
    std::vector<PlotPoint> points(20);
    const std::size_t count = measure::ReduceToColumns(values.data(), 0, 4, 10,
                                                       FrequencyAxis::Linear, 2.5, points.data());
    ASSERT_EQ(count, 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(points[k].X, 2.5 * static_cast<double>(k));
        EXPECT_EQ(points[k].Y, values[k]);
    }
}

TEST(Reduction, RefusesWhatItCannotDraw)
{
    const std::vector<double> values(100, 1.0);
    std::vector<PlotPoint> points(200);
    EXPECT_EQ(measure::ReduceToColumns(values.data(), 0, 100, 0, FrequencyAxis::Linear, 1.0,
                                       points.data()),
              0u);
    EXPECT_EQ(measure::ReduceToColumns(values.data(), 50, 50, 10, FrequencyAxis::Linear, 1.0,
                                       points.data()),
              0u);
    EXPECT_EQ(measure::ReduceToColumns(values.data(), 0, 100, 10, FrequencyAxis::Logarithmic, 1.0,
                                       points.data()),
              0u)
        << "0 Hz has no place on a logarithmic axis";
}

// --- the plot of a frame ---

TEST(SpectrumTap, PlotsTheToneAtItsRmsAndHoldsTheMaximum)
{
    constexpr std::uint32_t N = 16384;
    EstimatedFrame frame(N);
    measure::SpectrumTap tap;
    ASSERT_TRUE(tap.Allocate(N));
    measure::SpectrumRequest request;
    request.Channel = 2;
    request.Columns = 800;
    request.MaxHold = true;
    tap.SetRequest(request);

    // A loud frame, then a quiet one: the maximum keeps the loud one.
    for (const double amplitude : {1.0, 0.1}) {
        frame.Fill({{1000.0, amplitude, 0.0}});
        const measure::ChannelEstimate estimate = frame.Estimate();
        const SpectrumFigures figures =
            measure::ComputeSpectrumFigures(frame.Spectrum(), frame.Scale(), estimate.PeakCentre);
        tap.BeginFrame();
        tap.Capture(frame.Spectrum(), frame.Scale(), Rate, figures);
    }
    const measure::SpectrumFrame& plot = tap.Frame();
    ASSERT_TRUE(plot.Valid);
    EXPECT_EQ(plot.Channel, 2);
    EXPECT_LE(plot.Trace.size(), 1600u);
    EXPECT_LE(plot.MaxTrace.size(), 1600u);
    // The peak bin of an off-bin tone reads its RMS less the window's
    // scalloping, a fraction of a dB for this window.
    const double quietRms = 20.0 * std::log10(0.1 / std::numbers::sqrt2);
    EXPECT_NEAR(plot.PeakLevelDbv, quietRms, 0.5);
    EXPECT_NEAR(plot.PeakFrequency, 1000.0, Rate / N);
    const auto highest = [](const std::vector<PlotPoint>& points) {
        return std::max_element(points.begin(), points.end(),
                                [](const PlotPoint& a, const PlotPoint& b) { return a.Y < b.Y; })
            ->Y;
    };
    EXPECT_NEAR(highest(plot.Trace), quietRms, 0.5);
    EXPECT_NEAR(highest(plot.MaxTrace), quietRms + 20.0, 0.5);
    // The exact band, [15, N/2 - 8] bins.
    EXPECT_DOUBLE_EQ(plot.ExactLow, 15.0 * Rate / N);
    EXPECT_DOUBLE_EQ(plot.ExactHigh, (N / 2 - 8.0) * Rate / N);

    // A reset starts the maximum again from the next frame.
    request.ResetMaxHold = true;
    tap.SetRequest(request);
    frame.Fill({{1000.0, 0.1, 0.0}});
    const measure::ChannelEstimate estimate = frame.Estimate();
    tap.Capture(
        frame.Spectrum(), frame.Scale(), Rate,
        measure::ComputeSpectrumFigures(frame.Spectrum(), frame.Scale(), estimate.PeakCentre));
    EXPECT_NEAR(highest(tap.Frame().MaxTrace), quietRms, 0.5);
}

}  // namespace
