#include "SpectrumAnalyzer.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace {

using measure::SpectrumAnalyzer;

struct BinCase {
    std::uint32_t n;
    std::uint32_t bin;
    double amplitude;
    double phase;  // radians
    double dc;
};

// Test names in failure messages instead of the bytes of the case.
void PrintTo(const BinCase& c, std::ostream* os)
{
    *os << "N=" << c.n << " bin=" << c.bin;
}

class AnalyzerSpectra : public testing::TestWithParam<BinCase> {};

TEST_P(AnalyzerSpectra, AmplitudeAndPhaseOfAToneOnABin)
{
    const BinCase& c = GetParam();
    SpectrumAnalyzer analyzer(c.n, nullptr);
    std::vector<double> x(c.n);
    for (std::uint32_t i = 0; i < c.n; ++i) {
        x[i] = c.dc + c.amplitude * std::cos(2.0 * std::numbers::pi * c.bin * i / c.n + c.phase);
    }
    std::vector<double> f(c.n);
    std::vector<double> a(c.n / 2 + 1, -1.0);
    std::vector<double> p(c.n / 2 + 1, -1.0);
    ASSERT_TRUE(analyzer.Transform(x.data(), f.data()));
    ASSERT_TRUE(analyzer.AmplitudeSpectrum(f.data(), a.data()));
    ASSERT_TRUE(analyzer.PhaseSpectrum(f.data(), p.data()));

    EXPECT_NEAR(a[0], c.dc, 1e-12);
    EXPECT_NEAR(a[c.bin], c.amplitude, 1e-12);
    EXPECT_NEAR(p[c.bin], -c.phase, 1e-12);  // P is the negated argument
    EXPECT_EQ(p[0], 0.0);
    EXPECT_EQ(a[c.n / 2], 0.0);  // Nyquist bin defined, not left over
    EXPECT_EQ(p[c.n / 2], 0.0);
    for (std::uint32_t k = 1; k < c.n / 2; ++k) {
        if (k != c.bin) {
            ASSERT_NEAR(a[k], 0.0, 1e-12) << "k=" << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tones, AnalyzerSpectra,
                         testing::Values(BinCase{8, 1, 1.0, 0.0, 0.0},
                                         BinCase{64, 5, 2.0, 0.5, 0.25},
                                         BinCase{1024, 511, 0.5, -1.0, -1.0},
                                         BinCase{16384, 3000, 3.0, 2.5, 0.0}));

TEST(SpectrumAnalyzer, FindPeakSkipsLowBinsAndPrefersTheLowerOfEqualBins)
{
    SpectrumAnalyzer analyzer(64, nullptr);
    std::vector<double> window(64);
    std::vector<double> a(33, 0.0);
    a[0] = 10.0;
    a[3] = 9.0;
    a[20] = 2.0;
    a[25] = 2.0;
    // No window yet: H = 0, so the DC bin counts.
    EXPECT_EQ(analyzer.FindPeak(a.data()), 0);

    ASSERT_TRUE(analyzer.BuildWindow(window.data(), 7));
    EXPECT_EQ(analyzer.PeakHalfWidth(), 7u);
    EXPECT_EQ(analyzer.FindPeak(a.data()), 20);
    a[31] = 2.5;
    a[32] = 100.0;  // the Nyquist bin is outside the search
    EXPECT_EQ(analyzer.FindPeak(a.data()), 31);
    EXPECT_EQ(analyzer.FindPeak(nullptr), -1);

    // N/2 <= H leaves nothing to search.
    SpectrumAnalyzer tiny(8, nullptr);
    std::vector<double> w8(8);
    ASSERT_TRUE(tiny.BuildWindow(w8.data(), 7));
    EXPECT_EQ(tiny.FindPeak(a.data()), -1);
}

TEST(SpectrumAnalyzer, RefusesWorkWithoutEngineOrBuffers)
{
    SpectrumAnalyzer none(0, nullptr);
    std::vector<double> buf(16, 1.0);
    std::vector<double> out(16);
    EXPECT_FALSE(none.Transform(buf.data(), out.data()));
    EXPECT_FALSE(none.AmplitudeSpectrum(buf.data(), out.data()));
    EXPECT_FALSE(none.PhaseSpectrum(buf.data(), out.data()));

    SpectrumAnalyzer analyzer(16, nullptr);
    EXPECT_FALSE(analyzer.Transform(nullptr, out.data()));
    EXPECT_FALSE(analyzer.Transform(buf.data(), nullptr));
    EXPECT_FALSE(analyzer.Transform(buf.data(), buf.data()));
    EXPECT_FALSE(analyzer.AmplitudeSpectrum(buf.data(), nullptr));
    EXPECT_FALSE(analyzer.PhaseSpectrum(nullptr, out.data()));
    // The windowed transform refuses the same, a zero stride and an output on
    // an input, rather than throwing out of the estimation.
    std::vector<double> window(16, 0.5);
    EXPECT_FALSE(none.TransformWindowed(buf.data(), 1, window.data(), out.data()));
    EXPECT_FALSE(analyzer.TransformWindowed(nullptr, 1, window.data(), out.data()));
    EXPECT_FALSE(analyzer.TransformWindowed(buf.data(), 1, nullptr, out.data()));
    EXPECT_FALSE(analyzer.TransformWindowed(buf.data(), 1, window.data(), nullptr));
    EXPECT_FALSE(analyzer.TransformWindowed(buf.data(), 0, window.data(), out.data()));
    EXPECT_FALSE(analyzer.TransformWindowed(buf.data(), 1, window.data(), buf.data()));
    EXPECT_FALSE(analyzer.TransformWindowed(buf.data(), 1, window.data(), window.data()));
    EXPECT_THROW(SpectrumAnalyzer(12, nullptr), std::invalid_argument);
}

TEST(SpectrumAnalyzer, WindowedTransformEqualsWindowThenTransform)
{
    constexpr std::uint32_t n = 1024;
    SpectrumAnalyzer analyzer(n, nullptr);
    std::vector<double> window(n);
    ASSERT_TRUE(analyzer.BuildWindow(window.data(), 7));
    std::vector<double> samples(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        samples[i] = std::sin(0.37 * i) + 0.25 * std::cos(1.9 * i + 0.3);
    }
    const std::vector<double> original = samples;
    std::vector<double> fused(n);
    ASSERT_TRUE(analyzer.TransformWindowed(samples.data(), 1, window.data(), fused.data()));
    EXPECT_EQ(samples, original);

    std::vector<double> expected(n);
    analyzer.ApplyWindow(samples.data(), window.data());
    ASSERT_TRUE(analyzer.Transform(samples.data(), expected.data()));
    EXPECT_EQ(fused, expected);
}

TEST(SpectrumAnalyzer, SetLengthKeepsTheStopFlag)
{
    measure::StopFlag stop{false};
    SpectrumAnalyzer analyzer(16, &stop);
    EXPECT_FALSE(analyzer.SetLength(0));
    EXPECT_FALSE(analyzer.SetLength(12));
    EXPECT_EQ(analyzer.Length(), 16u);
    EXPECT_TRUE(analyzer.SetLength(16));
    ASSERT_TRUE(analyzer.SetLength(8));
    EXPECT_EQ(analyzer.Length(), 8u);

    // A stop request still ends the new engine's transform early: eight
    // points never reach the output before the last pass.
    stop = true;
    const std::vector<double> x = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<double> f(8, -5.0);
    ASSERT_TRUE(analyzer.Transform(x.data(), f.data()));
    EXPECT_EQ(f, std::vector<double>(8, -5.0));
    stop = false;
    ASSERT_TRUE(analyzer.Transform(x.data(), f.data()));
    EXPECT_EQ(f[0], 36.0);
}

}  // namespace
