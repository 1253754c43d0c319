// The decision rule with guard bands, the spread of a mean and the ENOB of a
// SINAD.
#include "CaseName.h"
#include "Decision.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <vector>

namespace {

using verify::Decide;
using verify::Decision;
using verify::LimitKind;

struct DecideCase : ksn::test::NamedCase {
    double value;
    double u;
    LimitKind kind;
    double limit;
    Decision expected;
};

class DecisionRule : public ::testing::TestWithParam<DecideCase> {};

TEST_P(DecisionRule, DecidesByTheGuardBand)
{
    const DecideCase& c = GetParam();
    EXPECT_EQ(Decide(c.value, c.u, c.kind, c.limit), c.expected);
}

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Verify, DecisionRule,
    ::testing::Values(
        // +-0.1 % with U = 0.02 %: PASS up to 0.08, FAIL beyond 0.12.
        DecideCase{{"SymmetricWellInside"}, 0.05, 0.02, LimitKind::Symmetric, 0.1, Decision::Pass},
        DecideCase{{"SymmetricOnReducedEdge"}, -0.08, 0.02, LimitKind::Symmetric, 0.1,
                   Decision::Pass},
        DecideCase{{"SymmetricJustInsideGuard"}, 0.09, 0.02, LimitKind::Symmetric, 0.1,
                   Decision::Indeterminate},
        DecideCase{{"SymmetricJustOutsideLimit"}, -0.11, 0.02, LimitKind::Symmetric, 0.1,
                   Decision::Indeterminate},
        DecideCase{{"SymmetricOnWidenedEdge"}, 0.12, 0.02, LimitKind::Symmetric, 0.1,
                   Decision::Indeterminate},
        DecideCase{{"SymmetricBeyondWidened"}, -0.4, 0.02, LimitKind::Symmetric, 0.1,
                   Decision::Fail},
        DecideCase{{"SymmetricUWiderThanTolerance"}, 0.0, 0.2, LimitKind::Symmetric, 0.1,
                   Decision::Indeterminate},
        DecideCase{{"SymmetricNoUOnLimit"}, 0.1, 0.0, LimitKind::Symmetric, 0.1, Decision::Pass},
        DecideCase{{"SymmetricNoUJustOut"}, 0.1000001, 0.0, LimitKind::Symmetric, 0.1,
                   Decision::Fail},
        // SNR >= 80 dB.
        DecideCase{{"MinimumPass"}, 96.6, 0.1, LimitKind::Minimum, 80.0, Decision::Pass},
        DecideCase{{"MinimumWithinU"}, 80.05, 0.1, LimitKind::Minimum, 80.0,
                   Decision::Indeterminate},
        DecideCase{{"MinimumBelowWithinU"}, 79.95, 0.1, LimitKind::Minimum, 80.0,
                   Decision::Indeterminate},
        DecideCase{{"MinimumFail"}, 40.0, 0.1, LimitKind::Minimum, 80.0, Decision::Fail},
        // Crosstalk <= -90 dB.
        DecideCase{{"MaximumPass"}, -118.4, 1.3, LimitKind::Maximum, -90.0, Decision::Pass},
        DecideCase{{"MaximumWithinU"}, -89.5, 1.0, LimitKind::Maximum, -90.0,
                   Decision::Indeterminate},
        DecideCase{{"MaximumFail"}, -70.0, 0.01, LimitKind::Maximum, -90.0, Decision::Fail},
        // What cannot be judged is no pass.
        DecideCase{{"ValueNaN"}, NaN, 0.01, LimitKind::Symmetric, 0.1, Decision::Fail},
        DecideCase{{"UInfinite"}, 0.0, Inf, LimitKind::Symmetric, 0.1, Decision::Fail},
        DecideCase{{"UNegative"}, 0.0, -0.01, LimitKind::Symmetric, 0.1, Decision::Fail}),
    ksn::test::CaseName<DecideCase>);

TEST(Spread, MeanAndStandardErrorOfTheMean)
{
    // s = sqrt(((1-2.5)^2 + (2-2.5)^2 + (3-2.5)^2 + (4-2.5)^2) / 3) = 1.29099...
    const verify::Spread s = verify::SpreadOf({1.0, 2.0, 3.0, 4.0});
    EXPECT_EQ(s.Count, 4u);
    EXPECT_DOUBLE_EQ(s.Mean, 2.5);
    EXPECT_NEAR(s.StandardError, std::sqrt(5.0 / 3.0) / 2.0, 1e-15);
}

TEST(Spread, OneOrNoFrameHasNoSpread)
{
    EXPECT_EQ(verify::SpreadOf({}).Count, 0u);
    const verify::Spread one = verify::SpreadOf({7.0});
    EXPECT_DOUBLE_EQ(one.Mean, 7.0);
    EXPECT_EQ(one.StandardError, 0.0);
}

TEST(Spread, ExpandedUncertaintyAddsInQuadratureWithK2)
{
    EXPECT_DOUBLE_EQ(verify::ExpandedUncertainty({0.03, 0.04, 0.0}), 0.1);
    EXPECT_DOUBLE_EQ(verify::ExpandedUncertainty({0.0, 0.0, 0.05}), 0.1);
    EXPECT_EQ(verify::ExpandedUncertainty({}), 0.0);
}

TEST(Spread, TheFramesOwnUncertaintyAndTheSpreadCountOnce)
{
    // Both measure the same noise: the larger of the two, with the reference.
    EXPECT_DOUBLE_EQ(verify::ExpandedUncertainty({0.03, 0.04, 0.01}), 0.1);
    EXPECT_DOUBLE_EQ(verify::ExpandedUncertainty({0.01, 0.04, 0.03}), 0.1);
    // Four frames of u = 0.2: the mean's is 0.1; a frame without one is left out.
    EXPECT_DOUBLE_EQ(verify::ReadingsMeanU({0.2, 0.2, 0.2, 0.2}, 4), 0.1);
    EXPECT_DOUBLE_EQ(verify::ReadingsMeanU({0.1, std::sqrt(0.07)}, 4), 0.1);
    EXPECT_EQ(verify::ReadingsMeanU({}, 5), 0.0);
    EXPECT_EQ(verify::ReadingsMeanU({0.1}, 0), 0.0);
}

}  // namespace

namespace {

constexpr int CoverageTrials = 20000;

// How often mean +- U of n frames of unit Gaussian noise holds the true mean 0;
// frameU, when given, is every frame's own standard uncertainty.
double CoverageOf(std::size_t n, std::uint64_t seed, std::optional<double> frameU = std::nullopt)
{
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> frames(n);
    const std::vector<double> us = frameU ? std::vector<double>(n, *frameU) : std::vector<double>{};
    int covered = 0;
    for (int t = 0; t < CoverageTrials; ++t) {
        for (double& f : frames) {
            f = noise(rng);
        }
        const verify::Spread s = verify::SpreadOf(frames);
        covered += std::fabs(s.Mean) <= verify::ExpandedUncertainty(
                                            {s.StandardError, 0.0, verify::ReadingsMeanU(us, n)});
    }
    return static_cast<double>(covered) / CoverageTrials;
}

// The binomial standard deviation of a rate observed over the trials.
double RateSd(double rate)
{
    return std::sqrt(rate * (1.0 - rate) / CoverageTrials);
}

// U = 2 x the standard error of 8 frames of Gaussian spread holds the true
// mean as often as Student's t with 7 degrees of freedom lies within +-2:
// 0.9144. With 20000 trials the binomial standard deviation of the observed
// rate is sqrt(0.9144 x 0.0856 / 20000) = 0.00198; the tolerance is 4.5 of
// them. bench_verify_coverage shows the rates for other frame counts.
TEST(Spread, CoverageOfUOverEightFramesFollowsStudentsT)
{
    constexpr double Expected = 0.9144;
    EXPECT_NEAR(CoverageOf(8, 7), Expected, 4.5 * RateSd(Expected));
}

// With each frame's own standard uncertainty u (here the true sigma, as an
// honest type-A u is on average), U takes the larger of the spread and
// sqrt(mean(u^2) / n): over 3 frames it holds the true mean at least as often
// as 2 sigma of a known sigma does, 0.9545, where the spread alone gives
// Student's t with 2 degrees of freedom, 0.8165. With 20000 trials the
// binomial standard deviation near 0.9545 is 0.00147; the bound is 4.5 of them
// below.
TEST(Spread, TheFramesOwnUncertaintyKeepsCoverageOverFewFrames)
{
    constexpr double KnownSigma = 0.9545;
    EXPECT_GE(CoverageOf(3, 11, 1.0), KnownSigma - 4.5 * RateSd(KnownSigma));
}

}  // namespace
