#pragma once

#include "Decision.h"
#include "VerifyPlan.h"
#include "VerifyRun.h"

#include <optional>
#include <string>
#include <vector>

namespace verify {

// One decided figure: of a channel (1 .. 8) or, without one, of the point.
struct ResultRow {
    int Point = 0;  // 1-based
    std::optional<int> Channel;
    std::string Figure;  // "gain_error", "frequency_error", "phase_match", ...
    std::string Unit;    // "%", "ppm", "deg", "dB", "bit"
    std::optional<double> Value;
    std::optional<double> U;  // expanded, k = 2
    double Limit = 0.0;
    LimitKind Kind = LimitKind::Symmetric;
    Decision Verdict = Decision::Fail;
    std::string Note;  // why there is no value, in the report's words
};

// What a channel read over a point's frames, for the table.
struct ChannelSummary {
    int Channel = 0;  // 1-based
    bool Driven = false;
    std::size_t Readings = 0;  // frames with a reading
    std::optional<double> VoltageMv;
    std::optional<double> VoltageUMv;  // k = 2, spread over the frames
    std::optional<double> FrequencyKhz;
    std::optional<double> PhaseDeg;  // against the reference channel
    std::string Status;              // of the first frame without a reading; "ok" otherwise
};

struct PointEvaluation {
    std::vector<ChannelSummary> Channels;
    std::vector<ResultRow> Rows;
};

// The figures of one point against the plan's tolerances.
PointEvaluation EvaluatePoint(const Plan& plan, int pointNumber, const PointData& data);

// FAIL when any row fails, else INDETERMINATE when any is, else PASS.
Decision OverallVerdict(const std::vector<ResultRow>& rows) noexcept;

// The figure names as the report shows them.
std::string FigureTitle(const std::string& figure);

}  // namespace verify
