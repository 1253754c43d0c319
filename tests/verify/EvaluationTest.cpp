// The figures of a point from its frames: errors against the plan's
// reference, U from the spread and the certificate, the channel-to-channel
// figures against the reference channel, and readings that are missing.
#include "Evaluation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using measure::ChannelReading;
using measure::ReadingStatus;
using verify::Decision;

// Two channels driven with 1 V at 1 kHz (channel 1 the reference), channel
// 3 idle; gain +-0.1 %, phase match +-0.05 deg, crosstalk <= -90 dB.
verify::Plan TwoChannelPlan()
{
    verify::Plan plan;
    verify::ReferenceSignal s;
    s.AmplitudeV = 1.0;
    s.FrequencyHz = 1000.0;
    s.AmplitudeUPercent = 0.02;
    s.PhaseUDeg = 0.01;
    plan.Reference[0] = s;
    plan.Reference[1] = s;
    plan.Limits.GainPercent = 0.1;
    plan.Limits.PhaseMatchDeg = 0.05;
    plan.Limits.CrosstalkMaxDb = -90.0;
    return plan;
}

ChannelReading Reading(double volts, double phase)
{
    ChannelReading r;
    r.Status = ReadingStatus::Ok;
    r.Voltage = volts;
    r.Frequency = 1000.0;
    r.Phase = phase;
    return r;
}

verify::PointData Frames(const std::vector<std::array<ChannelReading, 3>>& frames)
{
    verify::PointData data;
    data.Point.Channels = {true, true, true, false, false, false, false, false};
    for (const auto& f : frames) {
        measure::FrameResult frame;
        for (std::size_t c = 0; c < 3; ++c) {
            frame.Channels[c] = f[c];
        }
        data.Frames.push_back(frame);
    }
    return data;
}

const verify::ResultRow* Find(const verify::PointEvaluation& e, int channel,
                              const std::string& figure)
{
    for (const auto& r : e.Rows) {
        if (r.Channel == channel && r.Figure == figure) {
            return &r;
        }
    }
    return nullptr;
}

const double Rms = 1.0 / std::sqrt(2.0);

TEST(Evaluation, ErrorsAndTheirUncertainty)
{
    const verify::Plan plan = TwoChannelPlan();
    // Channel 2 reads 0.05 % high and 0.04 deg ahead on average, spread
    // +-0.01 % and +-0.02 deg (its first phase read just below 360); channel
    // 3 carries a -100 dB tone.
    const verify::PointData data = Frames({
        {Reading(Rms, 0.0), Reading(Rms * 1.0004, 359.99 + 0.03), Reading(Rms * 1e-5, 0.0)},
        {Reading(Rms, 0.0), Reading(Rms * 1.0006, 0.06), Reading(Rms * 1e-5, 0.0)},
    });
    const verify::PointEvaluation e = verify::EvaluatePoint(plan, 1, data);

    const verify::ResultRow* gain = Find(e, 2, "gain_error");
    ASSERT_NE(gain, nullptr);
    EXPECT_NEAR(*gain->Value, 0.05, 1e-9);
    // Standard error 0.01 %, certificate 0.02 % at k = 2: U = 2 sqrt(0.01^2 + 0.01^2).
    EXPECT_NEAR(*gain->U, 2.0 * std::sqrt(2.0) * 0.01, 1e-9);
    EXPECT_EQ(gain->Verdict, Decision::Pass);

    const verify::ResultRow* phase = Find(e, 2, "phase_match");
    ASSERT_NE(phase, nullptr);
    EXPECT_NEAR(*phase->Value, 0.04, 1e-9);
    EXPECT_NEAR(*phase->U, 2.0 * std::sqrt(0.02 * 0.02 + 0.005 * 0.005), 1e-9);
    EXPECT_EQ(phase->Verdict, Decision::Indeterminate);
    // The reference channel has no phase match of its own.
    EXPECT_EQ(Find(e, 1, "phase_match"), nullptr);

    const verify::ResultRow* crosstalk = Find(e, 3, "crosstalk");
    ASSERT_NE(crosstalk, nullptr);
    EXPECT_NEAR(*crosstalk->Value, -100.0, 1e-9);
    EXPECT_EQ(crosstalk->Verdict, Decision::Pass);
    EXPECT_EQ(Find(e, 3, "gain_error"), nullptr);
    EXPECT_EQ(verify::OverallVerdict(e.Rows), Decision::Indeterminate);
}

TEST(Evaluation, TheFramesOwnUncertaintyCountsWhereItExceedsTheSpread)
{
    const verify::Plan plan = TwoChannelPlan();
    // Two identical frames (no spread) whose readings carry u: 0.05 % of the
    // voltage and 0.02 deg of the phase difference.
    ChannelReading r1 = Reading(Rms, 0.0);
    ChannelReading r2 = Reading(Rms * 1.0003, 0.01);
    for (ChannelReading* r : {&r1, &r2}) {
        r->VoltageU = 0.0005 * Rms;
        r->FrequencyU = 0.001;
        r->PhaseU = 0.02;
    }
    const verify::PointData data =
        Frames({{r1, r2, Reading(Rms * 1e-5, 0.0)}, {r1, r2, Reading(Rms * 1e-5, 0.0)}});
    const verify::PointEvaluation e = verify::EvaluatePoint(plan, 1, data);
    const verify::ResultRow* gain = Find(e, 2, "gain_error");
    ASSERT_NE(gain, nullptr);
    EXPECT_NEAR(*gain->U, 2.0 * std::sqrt(0.05 * 0.05 / 2.0 + 0.01 * 0.01), 1e-9);
    const verify::ResultRow* phase = Find(e, 2, "phase_match");
    ASSERT_NE(phase, nullptr);
    EXPECT_NEAR(*phase->U, 2.0 * std::sqrt(0.02 * 0.02 / 2.0 + 0.005 * 0.005), 1e-9);
    // The table's voltage: sqrt(mean(u^2) / n) in mV, k = 2.
    ASSERT_FALSE(e.Channels.empty());
    EXPECT_NEAR(*e.Channels[0].VoltageUMv, 2.0 * 0.5 * Rms / std::sqrt(2.0), 1e-9);
}

TEST(Evaluation, PhaseErrorWrapsAroundTheNominalDifference)
{
    verify::Plan plan = TwoChannelPlan();
    plan.Reference[1]->PhaseDeg = 179.99;  // against 0 on channel 1
    const verify::PointData data = Frames({
        {Reading(Rms, 0.0), Reading(Rms, -179.99), Reading(Rms * 1e-6, 0.0)},
        {Reading(Rms, 0.0), Reading(Rms, -179.99), Reading(Rms * 1e-6, 0.0)},
    });
    const verify::PointEvaluation e = verify::EvaluatePoint(plan, 1, data);
    const verify::ResultRow* phase = Find(e, 2, "phase_match");
    ASSERT_NE(phase, nullptr);
    EXPECT_NEAR(*phase->Value, 0.02, 1e-9);
}

TEST(Evaluation, MissingReadingsFailADrivenChannelButNotAnIdleOne)
{
    const verify::Plan plan = TwoChannelPlan();
    ChannelReading shorted;
    shorted.Status = ReadingStatus::Short;
    const verify::PointData data = Frames({
        {Reading(Rms, 0.0), Reading(Rms, 0.0), shorted},
        {Reading(Rms, 0.0), shorted, shorted},
    });
    const verify::PointEvaluation e = verify::EvaluatePoint(plan, 1, data);
    for (const char* figure : {"gain_error", "phase_match"}) {
        const verify::ResultRow* row = Find(e, 2, figure);
        ASSERT_NE(row, nullptr) << figure;
        EXPECT_EQ(row->Verdict, Decision::Fail) << figure;
        EXPECT_FALSE(row->Value.has_value());
        EXPECT_NE(row->Note.find("short"), std::string::npos) << row->Note;
    }
    // An idle input that reads short says nothing of crosstalk.
    const verify::ResultRow* crosstalk = Find(e, 3, "crosstalk");
    ASSERT_NE(crosstalk, nullptr);
    EXPECT_EQ(crosstalk->Verdict, Decision::Indeterminate);
    EXPECT_EQ(verify::OverallVerdict(e.Rows), Decision::Fail);
}

TEST(Evaluation, SnrWithoutNoisePassesAndEnobIsTheReadingsOwn)
{
    verify::Plan plan = TwoChannelPlan();
    plan.Limits = {};
    plan.Limits.SnrMinDb = 80.0;
    plan.Limits.EnobMinBits = 12.0;
    ChannelReading clean = Reading(Rms, 0.0);
    clean.ThdNPercent = 0.01;
    clean.EnobBits = (80.0 - 1.76) / 6.02;
    const verify::PointData data = Frames({{clean, clean, Reading(Rms * 1e-6, 0.0)},
                                           {clean, clean, Reading(Rms * 1e-6, 0.0)}});
    const verify::PointEvaluation e = verify::EvaluatePoint(plan, 1, data);
    const verify::ResultRow* snr = Find(e, 1, "snr");
    ASSERT_NE(snr, nullptr);
    EXPECT_EQ(snr->Verdict, Decision::Pass);
    EXPECT_FALSE(snr->Value.has_value());
    const verify::ResultRow* enob = Find(e, 1, "enob");
    ASSERT_NE(enob, nullptr);
    EXPECT_NEAR(*enob->Value, (80.0 - 1.76) / 6.02, 1e-9);
    EXPECT_EQ(enob->Verdict, Decision::Pass);
}

}  // namespace

namespace {

TEST(Evaluation, GainMatchIsTakenFrameByFrameAgainstTheReferenceChannel)
{
    verify::Plan plan = TwoChannelPlan();
    plan.Limits = {};
    plan.Limits.GainMatchPercent = 0.01;
    // Both channels drift together by 0.05 % from frame to frame; channel 2
    // stays 0.004 % above channel 1. Frame by frame the difference has no
    // spread, and one signal split over both inputs adds no calibrator term.
    const verify::PointData data = Frames({
        {Reading(Rms, 0.0), Reading(Rms * 1.00004, 0.0), Reading(Rms * 1e-6, 0.0)},
        {Reading(Rms * 1.0005, 0.0), Reading(Rms * 1.00054, 0.0), Reading(Rms * 1e-6, 0.0)},
    });
    const verify::PointEvaluation e = verify::EvaluatePoint(plan, 1, data);
    const verify::ResultRow* match = Find(e, 2, "gain_match");
    ASSERT_NE(match, nullptr);
    EXPECT_NEAR(*match->Value, 0.004, 1e-6);
    EXPECT_NEAR(*match->U, 0.0, 1e-6);
    EXPECT_EQ(match->Verdict, Decision::Pass);
    EXPECT_EQ(Find(e, 1, "gain_match"), nullptr);

    // Another amplitude on channel 2 comes from another setting of the
    // calibrator: both certificates' terms count.
    plan.Reference[1]->AmplitudeV = 2.0;
    const verify::PointData doubled = Frames({
        {Reading(Rms, 0.0), Reading(2 * Rms * 1.00004, 0.0), Reading(Rms * 1e-6, 0.0)},
        {Reading(Rms, 0.0), Reading(2 * Rms * 1.00004, 0.0), Reading(Rms * 1e-6, 0.0)},
    });
    const verify::PointEvaluation e2 = verify::EvaluatePoint(plan, 1, doubled);
    const verify::ResultRow* other = Find(e2, 2, "gain_match");
    ASSERT_NE(other, nullptr);
    EXPECT_NEAR(*other->U, 2.0 * std::hypot(0.02, 0.02) / 2.0, 1e-9);
    EXPECT_EQ(other->Verdict, Decision::Indeterminate);
}

}  // namespace
