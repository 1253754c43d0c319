// The test plan: the documented example as read, and a bad plan refused with
// the field and the file named.
#include "CaseName.h"
#include "VerifyPlan.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <optional>
#include <sstream>

namespace {

using Json = nlohmann::json;

const std::string ExamplePlan = std::string(KSN_SOURCE_DIR) + "/docs/verify/plan.json";

Json Example()
{
    std::ifstream in(ExamplePlan);
    return Json::parse(in);
}

TEST(Plan, TheDocumentedExample)
{
    const verify::Plan plan = verify::ReadPlan(ExamplePlan);
    ASSERT_EQ(plan.Points.size(), 2u);
    EXPECT_EQ(plan.Points[0].RateHz, 9765.625);
    EXPECT_EQ(plan.Points[1].RateHz, 19531.25);
    EXPECT_EQ(plan.Points[0].Frames, 8u);
    for (std::size_t c = 0; c < 8; ++c) {
        EXPECT_TRUE(plan.Points[0].Channels[c]);
        EXPECT_EQ(plan.Reference[c].has_value(), c < 7) << c;
    }
    EXPECT_EQ(plan.ReferenceChannel, 0);
    EXPECT_DOUBLE_EQ(plan.Reference[0]->AmplitudeV, 1.0);
    EXPECT_DOUBLE_EQ(plan.Reference[6]->FrequencyHz, 1000.0);
    EXPECT_DOUBLE_EQ(plan.Reference[0]->AmplitudeUPercent, 0.01);
    EXPECT_EQ(plan.Limits.GainPercent, 0.1);
    EXPECT_EQ(plan.Limits.PhaseMatchDeg, 0.05);
    EXPECT_EQ(plan.Limits.SnrMinDb, 80.0);
    EXPECT_EQ(plan.Limits.CrosstalkMaxDb, -90.0);
    EXPECT_FALSE(plan.Limits.ThdMaxPercent.has_value());
}

TEST(Plan, PerChannelSignalsOverTheCommonOne)
{
    Json j = Example();
    j["reference"]["per_channel"] = {{"2", {{"amplitude_V", 0.5}, {"phase_deg", 30}}},
                                     {"4", {{"uncertainty", {{"phase_deg", 0.02}}}}}};
    const verify::Plan plan = verify::ParsePlan(j.dump(), "p.json");
    EXPECT_DOUBLE_EQ(plan.Reference[1]->AmplitudeV, 0.5);
    EXPECT_DOUBLE_EQ(plan.Reference[1]->PhaseDeg, 30.0);
    EXPECT_DOUBLE_EQ(plan.Reference[1]->FrequencyHz, 1000.0);
    EXPECT_DOUBLE_EQ(plan.Reference[3]->PhaseUDeg, 0.02);
    EXPECT_DOUBLE_EQ(plan.Reference[3]->AmplitudeUPercent, 0.01);
    EXPECT_DOUBLE_EQ(plan.Reference[2]->AmplitudeV, 1.0);
}

struct BadPlanCase : ksn::test::NamedCase {
    const char* pointer;          // JSON pointer of the field changed
    std::optional<Json> value;    // its new value; none: removed
    const char* field;            // the field the error must name
};

class BadPlan : public ::testing::TestWithParam<BadPlanCase> {};

TEST_P(BadPlan, NamesTheFieldAndTheFile)
{
    const BadPlanCase& c = GetParam();
    Json j = Example();
    const Json::json_pointer at(c.pointer);
    if (c.value) {
        j[at] = *c.value;
    } else {
        j[at.parent_pointer()].erase(at.back());
    }
    try {
        verify::ParsePlan(j.dump(), "bench/plan-7.json");
        FAIL() << "accepted";
    } catch (const verify::PlanError& e) {
        EXPECT_EQ(e.Field(), c.field) << e.what();
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("bench/plan-7.json: field '" + std::string(c.field) + "'", 0), 0u)
            << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Verify, BadPlan,
    ::testing::Values(
        BadPlanCase{{"UnknownTopField"}, "/tolerance", Json(1), "tolerance"},
        BadPlanCase{{"NoReference"}, "/reference", std::nullopt, "reference"},
        BadPlanCase{{"ReferenceWithoutChannels"}, "/reference/channels", std::nullopt,
                    "reference.channels"},
        BadPlanCase{{"ReferenceChannelNine"}, "/reference/channels", Json("1-9"),
                    "reference.channels"},
        BadPlanCase{{"ReferenceChannelTwice"}, "/reference/channels", Json({1, 2, 2}),
                    "reference.channels[2]"},
        BadPlanCase{{"AmplitudeZero"}, "/reference/amplitude_V", Json(0.0),
                    "reference.amplitude_V"},
        BadPlanCase{{"AmplitudeText"}, "/reference/amplitude_V", Json("1 V"),
                    "reference.amplitude_V"},
        BadPlanCase{{"NoFrequency"}, "/reference/frequency_Hz", std::nullopt,
                    "reference.frequency_Hz"},
        BadPlanCase{{"NegativeUncertainty"}, "/reference/uncertainty/amplitude_pct", Json(-0.01),
                    "reference.uncertainty.amplitude_pct"},
        BadPlanCase{{"PerChannelNotAReference"}, "/reference/per_channel",
                    Json({{"8", {{"amplitude_V", 1.0}}}}), "reference.per_channel.8"},
        BadPlanCase{{"PerChannelName"}, "/reference/per_channel",
                    Json({{"1-2", {{"amplitude_V", 1.0}}}}), "reference.per_channel.1-2"},
        BadPlanCase{{"ReferenceChannelIdle"}, "/reference_channel", Json(8), "reference_channel"},
        BadPlanCase{{"ReferenceChannelZero"}, "/reference_channel", Json(0), "reference_channel"},
        BadPlanCase{{"OneFrame"}, "/frames", Json(1), "frames"},
        BadPlanCase{{"NoPoints"}, "/points", Json::array(), "points"},
        BadPlanCase{{"RateNotOfTheModule"}, "/points/1/rate_Hz", Json(10000), "points[1].rate_Hz"},
        BadPlanCase{{"NoRate"}, "/points/0/rate_Hz", std::nullopt, "points[0].rate_Hz"},
        BadPlanCase{{"Bits16"}, "/points/0/bits", Json(16), "points[0].bits"},
        BadPlanCase{{"Current5"}, "/points/1/current_mA", Json(5), "points[1].current_mA"},
        BadPlanCase{{"MethodOther"}, "/points/0/method", Json("fir"), "points[0].method"},
        BadPlanCase{{"PointWithoutReferenceChannel"}, "/points/1/channels", Json("2-8"),
                    "points[1].channels"},
        BadPlanCase{{"PointFramesOne"}, "/points/0/frames", Json(1), "points[0].frames"},
        BadPlanCase{{"PointUnknownField"}, "/points/0/rate", Json(9765.625), "points[0].rate"},
        BadPlanCase{{"MaxTimeZero"}, "/points/0/max_time_s", Json(0), "points[0].max_time_s"},
        BadPlanCase{{"NoTolerances"}, "/tolerances", std::nullopt, "tolerances"},
        BadPlanCase{{"GainToleranceNegative"}, "/tolerances/gain_pct", Json(-0.1),
                    "tolerances.gain_pct"},
        BadPlanCase{{"CrosstalkPositive"}, "/tolerances/crosstalk_max_dB", Json(90),
                    "tolerances.crosstalk_max_dB"},
        BadPlanCase{{"SlotSeventeen"}, "/module", Json({{"slot", 17}}), "module.slot"},
        BadPlanCase{{"OperatorNumber"}, "/operator", Json(7), "operator"}),
    ksn::test::CaseName<BadPlanCase>);

TEST(Plan, NoToleranceAtAllIsRefused)
{
    Json j = Example();
    j["tolerances"] = Json::object();
    EXPECT_THROW(verify::ParsePlan(j.dump(), "p.json"), verify::PlanError);
}

TEST(Plan, BrokenJsonAndMissingFileNameTheFile)
{
    try {
        verify::ParsePlan("{\"points\": [", "cut.json");
        FAIL();
    } catch (const verify::PlanError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("cut.json: is not JSON", 0), 0u) << e.what();
    }
    try {
        verify::ReadPlan("/nonexistent/plan.json");
        FAIL();
    } catch (const verify::PlanError& e) {
        EXPECT_EQ(std::string(e.what()), "/nonexistent/plan.json: cannot be read");
    }
}

}  // namespace
