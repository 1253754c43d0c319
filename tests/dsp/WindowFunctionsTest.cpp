#include "WindowFunctions.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using measure::WindowCoefficients;

std::vector<double> Build(WindowCoefficients& coefficients, int type, std::uint32_t n)
{
    std::vector<double> w(n, -7.0);
    EXPECT_TRUE(measure::BuildWindow(coefficients, type, w.data(), n, nullptr));
    return w;
}

class WindowTypes : public testing::TestWithParam<int> {};

TEST_P(WindowTypes, ProductRulesMatchDirectCosines)
{
    const std::uint32_t n = 1000;  // not a power of two: the builder takes any length
    WindowCoefficients coefficients;
    const std::vector<double> w = Build(coefficients, GetParam(), n);
    const measure::WindowTypeInfo* info = measure::FindWindowType(GetParam());
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(coefficients.TermCount, info->TermCount);
    EXPECT_EQ(coefficients.PeakHalfWidth, info->PeakHalfWidth);

    for (std::uint32_t i = 0; i < n; ++i) {
        const long double x = 2.0L * std::numbers::pi_v<long double> * i / n;
        long double direct = 0.0L;
        for (std::size_t k = 0; k < info->TermCount; ++k) {
            direct += static_cast<long double>(info->Coefficients[k]) *
                      std::cos(static_cast<long double>(k) * x);
        }
        ASSERT_NEAR(w[i], static_cast<double>(direct), 1e-15) << "i=" << i;
    }
    // Periodic form: symmetric about N/2, smallest value at 0.
    for (std::uint32_t i = 1; i < n / 2; ++i) {
        ASSERT_NEAR(w[i], w[n - i], 1e-15) << "i=" << i;
    }
    EXPECT_EQ(*std::min_element(w.begin(), w.end()), w[0]);
    EXPECT_EQ(*std::max_element(w.begin(), w.end()), w[n / 2]);
}

TEST_P(WindowTypes, ConstantsFollowFromTheValues)
{
    const std::uint32_t n = 4096;
    WindowCoefficients coefficients;
    const std::vector<double> w = Build(coefficients, GetParam(), n);
    long double sum = 0.0L;
    long double squares = 0.0L;
    for (double v : w) {
        const auto lv = static_cast<long double>(v);
        sum += lv;
        squares += lv * lv;
    }
    EXPECT_NEAR(measure::WindowSum(coefficients, n), static_cast<double>(sum), 1e-12 * n);
    EXPECT_NEAR(measure::WindowMeanSquare(coefficients), static_cast<double>(squares / n), 1e-14);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, WindowTypes, testing::Range(1, 9));

TEST(WindowFunctions, UnknownTypesLeaveNothingBuilt)
{
    for (int type : {0, 9, -1, 100}) {
        WindowCoefficients coefficients;
        coefficients.Load(7);
        std::vector<double> w(16, -7.0);
        EXPECT_FALSE(measure::BuildWindow(coefficients, type, w.data(), 16, nullptr)) << type;
        EXPECT_EQ(coefficients.TermCount, 0) << type;
        EXPECT_EQ(coefficients.PeakHalfWidth, 0u) << type;
        EXPECT_EQ(measure::WindowMeanSquare(coefficients), 0.0);
        EXPECT_EQ(w, std::vector<double>(16, -7.0)) << type;
    }
}

TEST(WindowFunctions, StopFlagEndsBuildBetweenBlocks)
{
    const std::uint32_t n = 3 * measure::WindowBuildBlock;
    std::vector<double> w(n, -7.0);
    measure::StopFlag stop{true};
    WindowCoefficients coefficients;
    EXPECT_FALSE(measure::BuildWindow(coefficients, 7, w.data(), n, &stop));
    EXPECT_TRUE(std::all_of(w.begin(), w.end(), [](double v) { return v == -7.0; }));

    stop = false;
    EXPECT_TRUE(measure::BuildWindow(coefficients, 7, w.data(), n, &stop));
    EXPECT_NEAR(w[n / 2], 1.0, 1e-6);  // the 7-term window peaks near 1
}

// Highest sidelobe in dB relative to the main lobe, from the window's
// continuous spectrum: W(v) = sum over k of |a_k| (sinc(v - k) + sinc(v + k)) / 2
// (the window centred, so that all its terms add), scanned beyond the main
// lobe of K bins.
double HighestSidelobeDb(const std::vector<double>& coefficients)
{
    using Ld = long double;
    const Ld pi = std::numbers::pi_v<Ld>;
    const auto spectrum = [&](Ld v) {
        // sin(pi (v - k)) = (-1)^k sin(pi v): one sine per frequency.
        const Ld sv = std::sin(pi * v);
        const auto sinc = [&](Ld x, int k) {
            if (std::fabs(x) < 1e-12L) {
                return Ld{1};
            }
            return ((k % 2 == 0) ? sv : -sv) / (pi * x);
        };
        Ld w = std::fabs(static_cast<Ld>(coefficients[0])) * sinc(v, 0);
        for (std::size_t k = 1; k < coefficients.size(); ++k) {
            const int ki = static_cast<int>(k);
            w += std::fabs(static_cast<Ld>(coefficients[k])) / 2 *
                 (sinc(v - ki, ki) + sinc(v + ki, ki));
        }
        return w;
    };
    const Ld peak = spectrum(0);
    Ld highest = 0;
    for (Ld v = static_cast<Ld>(coefficients.size()); v < 400; v += 0.01L) {
        highest = std::max(highest, std::fabs(spectrum(v)));
    }
    return static_cast<double>(20 * std::log10(highest / peak));
}

TEST(WindowFunctions, SevenTermCoefficientsAreExact)
{
    const measure::WindowTypeInfo* info = measure::FindWindowType(7);
    ASSERT_NE(info, nullptr);
    const std::vector<double> pinned = {
        0.2712203605850388,  -0.4334446123274422,    0.2180041228929303,    -0.06578534329560609,
        0.01076186730534183, -0.0007700127105808265, 0.00001368088305992921};
    ASSERT_EQ(info->TermCount, pinned.size());
    for (std::size_t k = 0; k < pinned.size(); ++k) {
        EXPECT_EQ(info->Coefficients[k], pinned[k]) << "a" << k;
    }
    const double level = HighestSidelobeDb(pinned);
    EXPECT_NEAR(level, -180.5, 0.1);

    // A slip of one in the tenth decimal of any coefficient shows as a higher
    // sidelobe: the pinned values are the ones that reach -180.5 dB.
    for (std::size_t k = 0; k < pinned.size(); ++k) {
        for (double slip : {1e-10, -1e-10}) {
            std::vector<double> changed = pinned;
            changed[k] += slip;
            EXPECT_GT(HighestSidelobeDb(changed), level + 0.05) << "a" << k << " + " << slip;
        }
    }
}

struct RmsCase {
    const char* name;
    double dc;
    double amplitude;
    double cycles;  // over the frame
    double expected;
};

// Test names in failure messages instead of the bytes of the case.
void PrintTo(const RmsCase& c, std::ostream* os)
{
    *os << c.name;
}

class WindowedRmsCases : public testing::TestWithParam<RmsCase> {};

TEST_P(WindowedRmsCases, RemovesDcAndWeighsByWindow)
{
    const RmsCase& c = GetParam();
    const std::uint32_t n = 9765;
    WindowCoefficients coefficients;
    const std::vector<double> w = Build(coefficients, 7, n);
    std::vector<double> x(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        x[i] = c.dc + c.amplitude * std::sin(2.0 * std::numbers::pi * c.cycles * i / n + 0.3);
    }
    const double rms =
        measure::WindowedRms(x.data(), w.data(), n, measure::WindowSum(coefficients, n));
    // A pure DC leaves the square root of rounding noise.
    EXPECT_NEAR(rms, c.expected, c.expected > 0.0 ? 1e-9 * c.expected : 1e-8);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, WindowedRmsCases,
    testing::Values(RmsCase{"SineOnly", 0.0, 1.0, 1000.0, std::numbers::sqrt2 / 2},
                    RmsCase{"DcPlusSine", 0.5, 1.0, 1000.0, std::numbers::sqrt2 / 2},
                    RmsCase{"NegativeDcBetweenBins", -2.0, 3.0, 123.37,
                            3.0 * std::numbers::sqrt2 / 2},
                    RmsCase{"DcOnly", 0.7, 0.0, 10.0, 0.0}),
    [](const testing::TestParamInfo<RmsCase>& p) { return std::string(p.param.name); });

TEST(WindowFunctions, WindowedRmsRefusesMissingInput)
{
    const std::vector<double> x(8, 1.0);
    EXPECT_TRUE(std::isnan(measure::WindowedRms(x.data(), x.data(), 8, 0.0)));
    EXPECT_TRUE(std::isnan(measure::WindowedRms(nullptr, x.data(), 8, 1.0)));
    EXPECT_TRUE(std::isnan(measure::WindowedRms(x.data(), nullptr, 8, 1.0)));
}

}  // namespace
