#include "SpectrumAnalyzer.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace {

using measure::SpectrumAnalyzer;

TEST(SpectrumAnalyzer, RefusesWorkWithoutEngineOrBuffers)
{
    SpectrumAnalyzer none(0, nullptr);
    std::vector<double> buf(16, 1.0);
    std::vector<double> out(16);
    EXPECT_FALSE(none.Transform(buf.data(), out.data()));

    SpectrumAnalyzer analyzer(16, nullptr);
    EXPECT_FALSE(analyzer.Transform(nullptr, out.data()));
    EXPECT_FALSE(analyzer.Transform(buf.data(), nullptr));
    EXPECT_FALSE(analyzer.Transform(buf.data(), buf.data()));
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
