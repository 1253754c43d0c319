#include "VerifyPlan.h"

#include "AdcRates.h"
#include "ChannelEstimator.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

namespace verify {

namespace {

using Json = nlohmann::json;

constexpr std::uint64_t DefaultFrames = 8;
// The spread over frames needs two at least.
constexpr std::uint64_t MinimumFrames = 2;
constexpr std::uint64_t MaximumFrames = 100000;

// Reads one JSON object of the plan, naming each field by its path.
class Reader {
public:
    Reader(const std::string& file, const Json& object, std::string path)
        : file_(file), object_(object), path_(std::move(path))
    {
        if (!object_.is_object()) {
            Fail("", "must be a JSON object");
        }
    }

    [[noreturn]] void Fail(const std::string& key, const std::string& problem) const
    {
        throw PlanError(file_, Field(key), problem);
    }

    std::string Field(const std::string& key) const
    {
        if (key.empty()) {
            return path_;
        }
        return path_.empty() ? key : path_ + "." + key;
    }

    bool Has(const std::string& key) const { return object_.contains(key); }
    const Json& At(const std::string& key) const { return object_.at(key); }

    // Every key of the object must be one of known.
    void OnlyKeys(std::initializer_list<const char*> known) const
    {
        for (const auto& item : object_.items()) {
            bool found = false;
            for (const char* k : known) {
                found = found || item.key() == k;
            }
            if (!found) {
                Fail(item.key(), "is not a field of the plan");
            }
        }
    }

    std::optional<std::string> Text(const std::string& key) const
    {
        if (!Has(key)) {
            return std::nullopt;
        }
        if (!At(key).is_string()) {
            Fail(key, "must be a text");
        }
        return At(key).get<std::string>();
    }

    // A finite number; min/max bound it (inclusive unless strict).
    std::optional<double> Number(const std::string& key, std::optional<double> min = {},
                                 bool strict = false) const
    {
        if (!Has(key)) {
            return std::nullopt;
        }
        const Json& v = At(key);
        if (!v.is_number()) {
            Fail(key, "must be a number");
        }
        const double d = v.get<double>();
        if (!std::isfinite(d)) {
            Fail(key, "must be a finite number");
        }
        if (min && (strict ? d <= *min : d < *min)) {
            Fail(key, std::string("must be ") + (strict ? "greater than " : "at least ") +
                          FormatNumber(*min));
        }
        return d;
    }

    std::optional<std::int64_t> Integer(const std::string& key, std::int64_t min,
                                        std::int64_t max) const
    {
        if (!Has(key)) {
            return std::nullopt;
        }
        const Json& v = At(key);
        if (!v.is_number_integer()) {
            Fail(key, "must be a whole number");
        }
        const std::int64_t i = v.get<std::int64_t>();
        if (i < min || i > max) {
            Fail(key, "must lie in " + std::to_string(min) + " .. " + std::to_string(max));
        }
        return i;
    }

    // "1-6", "1,3,8" or [1, 3, 8].
    std::optional<tool::ChannelSet> Channels(const std::string& key) const
    {
        if (!Has(key)) {
            return std::nullopt;
        }
        const Json& v = At(key);
        if (v.is_string()) {
            if (auto set = tool::ParseChannelList(v.get<std::string>())) {
                return set;
            }
            Fail(key, "must list channels 1 .. 8, such as \"1-7\" or \"1,3,8\"");
        }
        if (!v.is_array() || v.empty()) {
            Fail(key, "must list channels 1 .. 8, such as \"1-7\" or [1, 3, 8]");
        }
        tool::ChannelSet set{};
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (!v[i].is_number_integer() || v[i].get<std::int64_t>() < 1 ||
                v[i].get<std::int64_t>() > static_cast<std::int64_t>(ChannelCount)) {
                Fail(key + "[" + std::to_string(i) + "]", "must be a channel 1 .. 8");
            }
            const auto c = static_cast<std::size_t>(v[i].get<std::int64_t>() - 1);
            if (set[c]) {
                Fail(key + "[" + std::to_string(i) + "]", "names a channel twice");
            }
            set[c] = true;
        }
        return set;
    }

    static std::string FormatNumber(double d)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%g", d);
        return text;
    }

    const std::string& file_;
    const Json& object_;
    std::string path_;
};

// A JSON number or text as the text the tool's parsers take.
std::string AsText(const Json& v)
{
    if (v.is_string()) {
        return v.get<std::string>();
    }
    if (v.is_number()) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", v.get<double>());
        return text;
    }
    return {};
}

void ReadUncertainty(const Reader& parent, ReferenceSignal& signal)
{
    if (!parent.Has("uncertainty")) {
        return;
    }
    const Reader r(parent.file_, parent.At("uncertainty"), parent.Field("uncertainty"));
    r.OnlyKeys({"amplitude_pct", "frequency_ppm", "phase_deg"});
    signal.AmplitudeUPercent = r.Number("amplitude_pct", 0.0).value_or(signal.AmplitudeUPercent);
    signal.FrequencyUPpm = r.Number("frequency_ppm", 0.0).value_or(signal.FrequencyUPpm);
    signal.PhaseUDeg = r.Number("phase_deg", 0.0).value_or(signal.PhaseUDeg);
}

// The fields of a signal given in r, over base.
ReferenceSignal ReadSignal(const Reader& r, ReferenceSignal base)
{
    base.AmplitudeV = r.Number("amplitude_V", 0.0, true).value_or(base.AmplitudeV);
    base.FrequencyHz = r.Number("frequency_Hz", 0.0, true).value_or(base.FrequencyHz);
    if (auto phase = r.Number("phase_deg")) {
        if (std::fabs(*phase) > 360.0) {
            r.Fail("phase_deg", "must lie in -360 .. 360");
        }
        base.PhaseDeg = *phase;
    }
    ReadUncertainty(r, base);
    return base;
}

void ReadReference(const Reader& top, Plan& plan)
{
    if (!top.Has("reference")) {
        top.Fail("reference", "is missing: the signal the calibrator applies");
    }
    const Reader r(top.file_, top.At("reference"), "reference");
    r.OnlyKeys({"channels", "amplitude_V", "frequency_Hz", "phase_deg", "uncertainty",
                "per_channel"});
    const auto channels = r.Channels("channels");
    if (!channels) {
        r.Fail("channels", "is missing: the channels the reference is applied to");
    }
    for (const char* key : {"amplitude_V", "frequency_Hz"}) {
        if (!r.Has(key)) {
            r.Fail(key, "is missing");
        }
    }
    const ReferenceSignal all = ReadSignal(r, ReferenceSignal{});
    for (std::size_t c = 0; c < ChannelCount; ++c) {
        if ((*channels)[c]) {
            plan.Reference[c] = all;
        }
    }
    if (!r.Has("per_channel")) {
        return;
    }
    const Reader per(top.file_, r.At("per_channel"), r.Field("per_channel"));
    for (const auto& item : r.At("per_channel").items()) {
        const std::string& key = item.key();
        const auto set = tool::ParseChannelList(key);
        std::size_t count = 0;
        std::size_t channel = 0;
        for (std::size_t c = 0; set && c < ChannelCount; ++c) {
            if ((*set)[c]) {
                ++count;
                channel = c;
            }
        }
        if (count != 1 || key.find_first_not_of("0123456789") != std::string::npos) {
            per.Fail(key, "must be named by one channel number 1 .. 8");
        }
        if (!plan.Reference[channel]) {
            per.Fail(key, "is not among reference.channels");
        }
        const Reader one(top.file_, item.value(), per.Field(key));
        one.OnlyKeys({"amplitude_V", "frequency_Hz", "phase_deg", "uncertainty"});
        plan.Reference[channel] = ReadSignal(one, *plan.Reference[channel]);
    }
}

PlanPoint ReadPoint(const Reader& r, std::uint64_t frames)
{
    r.OnlyKeys({"rate_Hz", "bits", "current_mA", "channels", "method", "max_time_s", "frames"});
    PlanPoint point;
    if (!r.Has("rate_Hz")) {
        r.Fail("rate_Hz", "is missing");
    }
    const std::optional<int> rate = tool::ParseRate(AsText(r.At("rate_Hz")));
    if (!rate) {
        r.Fail("rate_Hz", "must be a rate of the module (78125, 39062.5, 19531.25, 9765.625, "
                          "4882.8125, 2441.40625, 1220.703125, 610.3515625)");
    }
    point.RateIndex = *rate;
    point.RateHz = device::FindAdcRate(*rate)->Frequency;
    if (r.Has("bits")) {
        const auto bits = tool::ParseBits(AsText(r.At("bits")));
        if (!bits) {
            r.Fail("bits", "must be 20 or 24");
        }
        point.DataFormat = *bits;
    }
    if (r.Has("current_mA")) {
        const auto current = tool::ParseCurrent(AsText(r.At("current_mA")));
        if (!current) {
            r.Fail("current_mA", "must be 2.86 or 10");
        }
        point.CurrentSource = *current;
    }
    const auto channels = r.Channels("channels");
    if (!channels) {
        r.Fail("channels", "is missing: the channels acquired");
    }
    point.Channels = *channels;
    if (auto method = r.Text("method")) {
        if (std::find(measure::CalcMethodTexts.begin(), measure::CalcMethodTexts.end(), *method) ==
            measure::CalcMethodTexts.end()) {
            r.Fail("method", "must be \"fft\", \"fit\" or \"sum\"");
        }
        point.Method = *method;
    }
    point.MaxTime = r.Number("max_time_s", 0.0, true);
    point.Frames = static_cast<std::uint64_t>(r.Integer("frames", MinimumFrames, MaximumFrames)
                                                  .value_or(static_cast<std::int64_t>(frames)));
    return point;
}

void ReadTolerances(const Reader& top, Plan& plan)
{
    if (!top.Has("tolerances")) {
        top.Fail("tolerances", "is missing");
    }
    const Reader r(top.file_, top.At("tolerances"), "tolerances");
    r.OnlyKeys({"gain_pct", "frequency_ppm", "phase_match_deg", "gain_match_pct", "thd_max_pct",
                "snr_min_dB", "enob_min_bits", "crosstalk_max_dB"});
    Tolerances& t = plan.Limits;
    t.GainPercent = r.Number("gain_pct", 0.0, true);
    t.FrequencyPpm = r.Number("frequency_ppm", 0.0, true);
    t.PhaseMatchDeg = r.Number("phase_match_deg", 0.0, true);
    t.GainMatchPercent = r.Number("gain_match_pct", 0.0, true);
    t.ThdMaxPercent = r.Number("thd_max_pct", 0.0, true);
    t.SnrMinDb = r.Number("snr_min_dB");
    t.EnobMinBits = r.Number("enob_min_bits", 0.0, true);
    t.CrosstalkMaxDb = r.Number("crosstalk_max_dB");
    if (t.CrosstalkMaxDb && *t.CrosstalkMaxDb >= 0.0) {
        r.Fail("crosstalk_max_dB", "must be below 0 dB");
    }
    if (!t.GainPercent && !t.FrequencyPpm && !t.PhaseMatchDeg && !t.GainMatchPercent &&
        !t.ThdMaxPercent && !t.SnrMinDb && !t.EnobMinBits && !t.CrosstalkMaxDb) {
        r.Fail("", "names no tolerance");
    }
}

}  // namespace

double ReferenceSignal::RmsV() const
{
    return AmplitudeV / std::sqrt(2.0);
}

std::string Calibrator::Describe() const
{
    std::string text;
    for (const std::string* part : {&Model, &Serial, &Certificate}) {
        if (!part->empty()) {
            if (!text.empty()) {
                text += ", ";
            }
            text += *part;
        }
    }
    return text;
}

PlanError::PlanError(const std::string& file, const std::string& field, const std::string& problem)
    : std::runtime_error(file + ": " + (field.empty() ? "" : "field '" + field + "' ") + problem),
      field_(field)
{}

Plan ParsePlan(const std::string& text, const std::string& fileName)
{
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::parse_error& e) {
        throw PlanError(fileName, "", std::string("is not JSON: ") + e.what());
    }
    Plan plan;
    plan.Path = fileName;
    const Reader top(fileName, json, "");
    top.OnlyKeys({"title", "operator", "station", "calibrator", "module", "reference",
                  "reference_channel", "frames", "points", "tolerances"});
    plan.Title = top.Text("title").value_or("");
    plan.Operator = top.Text("operator").value_or("");
    plan.Station = top.Text("station").value_or("");
    if (top.Has("calibrator")) {
        const Reader c(fileName, top.At("calibrator"), "calibrator");
        c.OnlyKeys({"model", "serial", "certificate"});
        plan.Source.Model = c.Text("model").value_or("");
        plan.Source.Serial = c.Text("serial").value_or("");
        plan.Source.Certificate = c.Text("certificate").value_or("");
    }
    if (top.Has("module")) {
        const Reader m(fileName, top.At("module"), "module");
        m.OnlyKeys({"crate", "slot"});
        plan.Crate = m.Text("crate");
        if (auto slot = m.Integer("slot", 1, 16)) {
            plan.Slot = static_cast<int>(*slot);
        }
    }
    ReadReference(top, plan);
    plan.ReferenceChannel = static_cast<int>(top.Integer("reference_channel", 1, 8).value_or(1)) - 1;
    if (!plan.Reference[static_cast<std::size_t>(plan.ReferenceChannel)]) {
        top.Fail("reference_channel", "must be one of reference.channels");
    }
    const auto frames = static_cast<std::uint64_t>(
        top.Integer("frames", MinimumFrames, MaximumFrames)
            .value_or(static_cast<std::int64_t>(DefaultFrames)));
    if (!top.Has("points") || !top.At("points").is_array() || top.At("points").empty()) {
        top.Fail("points", "must be a list of at least one point");
    }
    const Json& points = top.At("points");
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Reader r(fileName, points[i], "points[" + std::to_string(i) + "]");
        PlanPoint point = ReadPoint(r, frames);
        if (!point.Channels[static_cast<std::size_t>(plan.ReferenceChannel)]) {
            r.Fail("channels", "must include the reference channel " +
                                   std::to_string(plan.ReferenceChannel + 1));
        }
        plan.Points.push_back(point);
    }
    ReadTolerances(top, plan);
    return plan;
}

Plan ReadPlan(const std::string& path, std::string* text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw PlanError(path, "", "cannot be read");
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        throw PlanError(path, "", "cannot be read");
    }
    if (text != nullptr) {
        *text = content.str();
    }
    return ParsePlan(content.str(), path);
}

bool PlanPoint::ReadsSpectrum() const
{
    return measure::RunMethodFromText(Method).Estimate == measure::CalcMethod::Fft;
}

}  // namespace verify
