#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace verify {

enum class Decision { Pass, Fail, Indeterminate };

// "PASS", "FAIL", "INDETERMINATE".
std::string_view DecisionName(Decision decision) noexcept;

// How a tolerance bounds a figure.
enum class LimitKind {
    Symmetric,  // |value| <= limit (an error against a nominal)
    Maximum,    // value <= limit
    Minimum,    // value >= limit
};

// "abs_max", "max", "min".
std::string_view LimitKindName(LimitKind kind) noexcept;

// The decision rule with guard bands of width U on both sides of the limit:
// PASS when the value lies inside the tolerance reduced by U (its edge
// included), FAIL when it lies outside the tolerance widened by U,
// INDETERMINATE otherwise (the widened limit itself included). A tolerance
// narrower than U never passes. A value or U that is not a number fails.
Decision Decide(double value, double expandedU, LimitKind kind, double limit) noexcept;

// The mean of a figure over the frames of a point and its standard error
// (the standard deviation of the frames over the square root of their count;
// 0 for a single frame).
struct Spread {
    std::size_t Count = 0;
    double Mean = 0.0;
    double StandardError = 0.0;
};
Spread SpreadOf(const std::vector<double>& values) noexcept;

// The coverage factor of every U in a verification.
inline constexpr double CoverageFactor = 2.0;

// The standard uncertainties of a mean, each in the unit of the figure.
struct UncertaintyBudget {
    double Spread = 0.0;     // standard error of the mean over the frames
    double Reference = 0.0;  // the calibrator's, from its certificate (its U / 2)
    // The readings' own uncertainty, for a mean of frames the root mean
    // square of the frames' standard uncertainties over the square root of
    // their count; 0 while the readings carry none.
    double Reading = 0.0;
};

// U = k * sqrt(sum of the squares).
double ExpandedUncertainty(const UncertaintyBudget& budget) noexcept;

// The effective number of bits of a reading from its SINAD (dB):
// (SINAD - 1.76) / 6.02, the sine's ideal quantisation rule at the level
// applied.
double EnobFromSinad(double sinadDb) noexcept;
// The SINAD (dB) of a THD+N in %: -20 log10(THD+N / 100).
double SinadFromThdN(double thdNPercent) noexcept;

}  // namespace verify
