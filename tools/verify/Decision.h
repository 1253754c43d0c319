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
    // The readings' own (type A, each frame's noise) uncertainty of the mean:
    // ReadingsMeanU of the frames' standard uncertainties.
    double Reading = 0.0;
};

// U = k * sqrt(max(Spread, Reading)^2 + Reference^2). The spread over the
// frames and the frames' own uncertainty both measure the same noise, so
// only the larger counts: the reading term keeps U honest over few frames,
// the spread over frames catches what a frame's noise does not show (drift,
// noise the frame's spectrum underrates).
double ExpandedUncertainty(const UncertaintyBudget& budget) noexcept;

// The standard uncertainty of a mean of n frames from the frames' own
// standard uncertainties: sqrt(mean(u^2) / n), the mean taken over the
// frames that carry one; 0 when none does.
double ReadingsMeanU(const std::vector<double>& frameU, std::size_t n) noexcept;

}  // namespace verify
