#include "Decision.h"

#include <algorithm>
#include <cmath>

namespace verify {

std::string_view DecisionName(Decision decision) noexcept
{
    switch (decision) {
    case Decision::Pass:
        return "PASS";
    case Decision::Fail:
        return "FAIL";
    case Decision::Indeterminate:
        return "INDETERMINATE";
    }
    return "FAIL";
}

std::string_view LimitKindName(LimitKind kind) noexcept
{
    switch (kind) {
    case LimitKind::Symmetric:
        return "abs_max";
    case LimitKind::Maximum:
        return "max";
    case LimitKind::Minimum:
        return "min";
    }
    return "abs_max";
}

Decision Decide(double value, double expandedU, LimitKind kind, double limit) noexcept
{
    if (!std::isfinite(value) || !std::isfinite(expandedU) || !std::isfinite(limit) ||
        expandedU < 0.0) {
        return Decision::Fail;
    }
    // Distance inside the limit: positive inside, negative outside.
    double inside = 0.0;
    switch (kind) {
    case LimitKind::Symmetric:
        inside = limit - std::fabs(value);
        break;
    case LimitKind::Maximum:
        inside = limit - value;
        break;
    case LimitKind::Minimum:
        inside = value - limit;
        break;
    }
    if (inside >= expandedU) {
        return Decision::Pass;
    }
    if (inside < -expandedU) {
        return Decision::Fail;
    }
    return Decision::Indeterminate;
}

Spread SpreadOf(const std::vector<double>& values) noexcept
{
    Spread s;
    s.Count = values.size();
    if (s.Count == 0) {
        return s;
    }
    long double sum = 0.0L;
    for (double v : values) {
        sum += v;
    }
    const long double mean = sum / static_cast<long double>(s.Count);
    s.Mean = static_cast<double>(mean);
    if (s.Count < 2) {
        return s;
    }
    long double squares = 0.0L;
    for (double v : values) {
        squares += (v - mean) * (v - mean);
    }
    const long double variance = squares / static_cast<long double>(s.Count - 1);
    s.StandardError = static_cast<double>(std::sqrt(variance / static_cast<long double>(s.Count)));
    return s;
}

double ExpandedUncertainty(const UncertaintyBudget& budget) noexcept
{
    const double noise = std::max(budget.Spread, budget.Reading);
    return CoverageFactor * std::sqrt(noise * noise + budget.Reference * budget.Reference);
}

double ReadingsMeanU(const std::vector<double>& frameU, std::size_t n) noexcept
{
    if (frameU.empty() || n == 0) {
        return 0.0;
    }
    long double squares = 0.0L;
    for (double u : frameU) {
        squares += static_cast<long double>(u) * u;
    }
    const long double meanSquare = squares / static_cast<long double>(frameU.size());
    return static_cast<double>(std::sqrt(meanSquare / static_cast<long double>(n)));
}

}  // namespace verify
