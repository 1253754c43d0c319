#include "Report.h"

#include "VerifyTexts.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QImage>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QSvgRenderer>
#include <QTextDocument>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace verify {

namespace {

using Json = nlohmann::json;

__attribute__((format(printf, 1, 2))) std::string Printf(const char* format, ...)
{
    char text[64];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string Escape(std::string_view text)
{
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

// text with %1, %2, ... replaced.
std::string Fill(std::string_view text, const std::vector<std::string>& args)
{
    std::string out(text);
    for (std::size_t i = args.size(); i > 0; --i) {
        std::string mark(1, '%');
        mark += std::to_string(i);
        for (std::size_t at = out.find(mark); at != std::string::npos;
             at = out.find(mark, at + args[i - 1].size())) {
            out.replace(at, mark.size(), args[i - 1]);
        }
    }
    return out;
}

std::string IsoTime(std::chrono::system_clock::time_point time)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string ChannelList(const tool::ChannelSet& channels)
{
    std::string text;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        if (channels[c]) {
            if (!text.empty()) {
                text += ',';
            }
            text += std::to_string(c + 1);
        }
    }
    return text;
}

std::string Color(Decision d)
{
    switch (d) {
    case Decision::Pass:
        return "#2e7d32";
    case Decision::Fail:
        return "#c62828";
    case Decision::Indeterminate:
        return "#ef6c00";
    }
    return "#000000";
}

std::string_view VerdictText(Decision d)
{
    return ReportText::Verdicts[d == Decision::Pass ? 0 : d == Decision::Fail ? 1 : 2];
}

std::string LimitText(const ResultRow& row)
{
    const std::string v = FormatValue(row.Limit);
    switch (row.Kind) {
    case LimitKind::Symmetric:
        return "±" + v;
    case LimitKind::Maximum:
        return "≤ " + v;
    case LimitKind::Minimum:
        return "≥ " + v;
    }
    return v;
}

Json Optional(const std::optional<double>& v)
{
    return v ? Json(*v) : Json(nullptr);
}

// --- pictures -------------------------------------------------------------

constexpr double ChartWidth = 680.0;
constexpr double ChartHeight = 250.0;
constexpr double SpectrumWidth = 440.0;
constexpr double SpectrumHeight = 230.0;
// A band is drawn at most this many tolerances high; errors beyond it sit on
// the edge, with their value.
constexpr double ChartSpanLimits = 3.0;
constexpr double Left = 70.0;
constexpr double Right = 20.0;
constexpr double Top = 30.0;
constexpr double Bottom = 40.0;

std::string SvgOpen(const std::string& title, double width = ChartWidth,
                    double height = ChartHeight)
{
    return Printf("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\"", width) +
           Printf(" height=\"%.0f\"", height) + Printf(" viewBox=\"0 0 %.0f", width) +
           Printf(" %.0f\"", height) +
           " font-family=\"DejaVu Sans, sans-serif\" font-size=\"11\">"
           "<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>"
           "<text x=\"" +
           Printf("%.1f", width / 2) + "\" y=\"16\" text-anchor=\"middle\" font-size=\"12\">" +
           Escape(title) + "</text>";
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& style)
{
    return Printf("<line x1=\"%.2f\"", x1) + Printf(" y1=\"%.2f\"", y1) +
           Printf(" x2=\"%.2f\"", x2) + Printf(" y2=\"%.2f\" ", y2) + style + "/>";
}

std::string Text(double x, double y, const std::string& anchor, const std::string& text)
{
    return Printf("<text x=\"%.2f\"", x) + Printf(" y=\"%.2f\"", y) + " text-anchor=\"" +
           anchor + "\">" + Escape(text) + "</text>";
}

struct Mark {
    int Channel = 0;
    std::optional<double> Value;
    std::optional<double> U;
    Decision Verdict = Decision::Fail;
};

// Each channel's error against the band +-limit, U as error bars.
std::string ErrorChart(const std::string& title, const std::vector<Mark>& marks, double limit)
{
    double span = limit * 1.5;
    for (const Mark& m : marks) {
        if (m.Value) {
            span = std::max(span, std::fabs(*m.Value) + m.U.value_or(0.0));
        }
    }
    span = std::min(span * 1.1, limit * ChartSpanLimits);
    const double plotW = ChartWidth - Left - Right;
    const double plotH = ChartHeight - Top - Bottom;
    const auto y = [&](double v) { return Top + plotH / 2 - v / span * plotH / 2; };
    std::string svg = SvgOpen(title);
    svg += Printf("<rect x=\"%.2f\"", Left) + Printf(" y=\"%.2f\"", y(limit)) +
           Printf(" width=\"%.2f\"", plotW) + Printf(" height=\"%.2f\"", y(-limit) - y(limit)) +
           " fill=\"#e8f5e9\" stroke=\"none\"/>";
    for (double v : {-limit, limit}) {
        svg += Line(Left, y(v), Left + plotW, y(v), "stroke=\"#2e7d32\" stroke-dasharray=\"5,3\"");
        svg += Text(Left - 6, y(v) + 4, "end", (v > 0 ? "+" : "−") + FormatValue(limit));
    }
    svg += Line(Left, y(0), Left + plotW, y(0), "stroke=\"#9e9e9e\"");
    svg += Text(Left - 6, y(0) + 4, "end", "0");
    svg += Printf("<rect x=\"%.2f\"", Left) + Printf(" y=\"%.2f\"", Top) +
           Printf(" width=\"%.2f\"", plotW) + Printf(" height=\"%.2f\"", plotH) +
           " fill=\"none\" stroke=\"#616161\"/>";
    const double step = plotW / 8.0;
    for (int c = 1; c <= 8; ++c) {
        const double x = Left + step * (c - 0.5);
        svg += Text(x, Top + plotH + 16, "middle", std::to_string(c));
    }
    svg += Text(Left + plotW / 2, ChartHeight - 6, "middle", std::string(ReportText::Channel));
    for (const Mark& m : marks) {
        const double x = Left + step * (m.Channel - 0.5);
        const std::string color = Color(m.Verdict);
        if (!m.Value) {
            svg += Text(x, y(0) - 6, "middle", "×");
            continue;
        }
        const double u = m.U.value_or(0.0);
        if (std::fabs(*m.Value) > span) {
            // Off the chart: a triangle on its edge pointing away, and the value.
            const bool up = *m.Value > 0;
            const double edge = up ? Top + 2 : Top + plotH - 2;
            const double base = up ? edge + 10 : edge - 10;
            svg += Printf("<polygon points=\"%.2f,", x) + Printf("%.2f ", edge) +
                   Printf("%.2f,", x - 6) + Printf("%.2f ", base) + Printf("%.2f,", x + 6) +
                   Printf("%.2f\"", base) + " fill=\"" + color + "\"/>";
            svg += Text(x + 9, up ? base : base + 8, "start", FormatValue(*m.Value));
            continue;
        }
        const double top = std::max(Top, y(*m.Value + u));
        const double bottom = std::min(Top + plotH, y(*m.Value - u));
        svg += Line(x, top, x, bottom, "stroke=\"" + color + "\" stroke-width=\"2\"");
        svg += Line(x - 6, top, x + 6, top, "stroke=\"" + color + "\" stroke-width=\"2\"");
        svg += Line(x - 6, bottom, x + 6, bottom, "stroke=\"" + color + "\" stroke-width=\"2\"");
        svg += Printf("<circle cx=\"%.2f\"", x) + Printf(" cy=\"%.2f\" r=\"4\"", y(*m.Value)) +
               " fill=\"" + color + "\"/>";
    }
    return svg + "</svg>";
}

// A step of 1, 2 or 5 times a power of ten that cuts span into at most
// `most` parts.
double NiceStep(double span, int most)
{
    const double raw = span / most;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw) {
            return m * power;
        }
    }
    return 10.0 * power;
}

std::string SpectrumChart(const std::string& title, const measure::SpectrumFrame& frame)
{
    const double plotW = SpectrumWidth - Left - Right;
    const double plotH = SpectrumHeight - Top - Bottom;
    const double high = std::ceil(std::max(frame.HighestDbv, -200.0) / 20.0) * 20.0;
    const double low = std::max(std::floor(frame.LowestDbv / 20.0) * 20.0, high - 200.0);
    const double xMax = frame.Nyquist > 0 ? frame.Nyquist : 1.0;
    const auto x = [&](double f) { return Left + std::clamp(f / xMax, 0.0, 1.0) * plotW; };
    const auto y = [&](double v) {
        return Top + (high - std::clamp(v, low, high)) / (high - low) * plotH;
    };
    std::string svg = SvgOpen(title, SpectrumWidth, SpectrumHeight);
    for (double v = low; v <= high + 1e-9; v += 20.0) {
        svg += Line(Left, y(v), Left + plotW, y(v), "stroke=\"#eeeeee\"");
        svg += Text(Left - 6, y(v) + 4, "end", Printf("%.0f", v));
    }
    const double fStep = NiceStep(xMax, 5);
    for (double f = 0.0; f <= xMax + 1e-9; f += fStep) {
        svg += Line(x(f), Top, x(f), Top + plotH, "stroke=\"#eeeeee\"");
        svg += Text(x(f), Top + plotH + 14, "middle", Printf("%.0f", f));
    }
    svg += Printf("<rect x=\"%.2f\"", Left) + Printf(" y=\"%.2f\"", Top) +
           Printf(" width=\"%.2f\"", plotW) + Printf(" height=\"%.2f\"", plotH) +
           " fill=\"none\" stroke=\"#616161\"/>";
    std::string points;
    for (const measure::PlotPoint& p : frame.Trace) {
        points += Printf("%.2f,", x(p.X)) + Printf("%.2f ", y(p.Y));
    }
    svg += "<polyline fill=\"none\" stroke=\"#1565c0\" stroke-width=\"1\" points=\"" + points +
           "\"/>";
    svg += Text(Left + plotW / 2, SpectrumHeight - 6, "middle",
                std::string(ReportText::FrequencyAxis));
    svg += Printf("<text x=\"14\" y=\"%.2f\"", Top + plotH / 2) +
           Printf(" transform=\"rotate(-90 14 %.2f)\" text-anchor=\"middle\">", Top + plotH / 2) +
           Escape(ReportText::LevelAxis) + "</text>";
    return svg + "</svg>";
}

// --- the document -----------------------------------------------------------

// The HTML of the report; for Qt's rich text the pictures become images named
// "svg<i>" whose SVG goes into *pictures, for a browser they stay inline.
std::string BuildHtml(const ReportData& data, std::vector<std::string>* pictures)
{
    // A picture in a browser's page, or as an image of the given width for Qt.
    const auto image = [&](std::string svg, double width) -> std::string {
        if (pictures == nullptr) {
            return svg;
        }
        pictures->push_back(std::move(svg));
        return "<img src=\"svg" + std::to_string(pictures->size() - 1) + "\" width=\"" +
               Printf("%.0f", width) + "\">";
    };
    const auto picture = [&](std::string svg) {
        return "<div class=\"pic\">" + image(std::move(svg), ChartWidth) + "</div>";
    };
    const Plan& plan = *data.Source;
    const ModuleInfo& m = data.Module;
    std::string h = "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\"><title>" +
                    Escape(ReportText::Title) + " " + Escape(m.Serial) + "</title>";
    h += "<style>body{font-family:'DejaVu Sans',sans-serif;font-size:10pt;margin:2em;}"
         "table{border-collapse:collapse;margin:0.5em 0;}"
         "td,th{border:1px solid #9e9e9e;padding:2px 6px;}th{background:#eeeeee;}"
         "td.n{text-align:right;font-family:'DejaVu Sans Mono',monospace;}"
         ".pic{margin:0.5em 0;}.spec{display:inline-block;margin:0.3em 0.5em 0.3em 0;}"
         "</style></head><body>\n";
    h += "<h1>" + Escape(ReportText::Title) + "</h1>\n";
    if (!plan.Title.empty()) {
        h += "<p>" + Escape(plan.Title) + "</p>\n";
    }
    const auto given = [](const std::string& s) {
        return s.empty() ? std::string(ReportText::NotGiven) : s;
    };
    h += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">";
    const auto row = [&](std::string_view name, const std::string& value) {
        h += "<tr><th align=\"left\">" + Escape(name) + "</th><td>" + Escape(value) + "</td></tr>";
    };
    row(ReportText::Module, m.Name);
    row(ReportText::Serial, m.Serial);
    row(ReportText::Firmware, std::to_string(m.Firmware));
    row(ReportText::Crate, m.CrateSerial + " (" + m.CrateModel + ")");
    row(ReportText::Slot, std::to_string(m.Slot));
    row(ReportText::Libraries, m.CrateLibraryVersion + " / " + m.ModuleLibraryVersion);
    row(ReportText::Program, std::string(ReportText::ProgramName) + " " + data.ProgramVersion);
    row(ReportText::Date, IsoTime(data.Time));
    row(ReportText::Operator, given(data.Operator));
    row(ReportText::Station, given(data.Station));
    row(ReportText::Calibrator, given(data.Calibrator));
    row(ReportText::PlanFile, plan.Path);
    row(ReportText::PlanHash, data.PlanSha256);
    for (const DataFile& f : data.Files) {
        row(std::string(ReportText::DataHash) + ": " + f.Name, f.Sha256);
    }
    h += "</table>\n";
    h += "<h2>" + Escape(ReportText::Summary) + ": <span style=\"color:" + Color(data.Verdict) +
         "\">" + Escape(VerdictText(data.Verdict)) + "</span></h2>\n";
    h += "<p>" + Escape(ReportText::Rule) + "</p>\n";

    for (std::size_t i = 0; i < data.Points->size(); ++i) {
        const PointData& p = (*data.Points)[i];
        const PointEvaluation& e = data.Evaluations[i];
        h += "<h2>" + Escape(ReportText::Point) + " " + std::to_string(i + 1) + "</h2>\n<p>" +
             Escape(Fill(ReportText::PointLine,
                         {Printf("%.10g", p.Point.RateHz),
                          std::string(p.Point.DataFormat == 0 ? ReportText::Bits20
                                                              : ReportText::Bits24),
                          std::string(p.Point.CurrentSource == 0 ? ReportText::Current286
                                                                 : ReportText::Current10),
                          ChannelList(p.Point.Channels), p.Point.Method,
                          std::to_string(p.Frames.size()), std::to_string(p.SamplesPerChannel)})) +
             "</p>\n";
        h += "<h3>" + Escape(ReportText::Readings) + "</h3>\n";
        h += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr>";
        for (std::string_view head :
             {ReportText::Channel, ReportText::Applied, ReportText::Voltage, ReportText::VoltageU,
              ReportText::Frequency, ReportText::Phase, ReportText::Status}) {
            h += "<th>" + Escape(head) + "</th>";
        }
        h += "</tr>";
        const auto cell = [](const std::optional<double>& v, int digits, bool general) {
            std::string text(ReportText::NotGiven);
            if (v) {
                text = general ? Printf("%.*g", digits, *v) : Printf("%.*f", digits, *v);
            }
            return "<td class=\"n\" align=\"right\">" + text + "</td>";
        };
        for (const ChannelSummary& s : e.Channels) {
            const auto& ref = plan.Reference[static_cast<std::size_t>(s.Channel - 1)];
            std::string applied(ReportText::Idle);
            if (ref) {
                applied = Printf("%.7g мВ, ", ref->RmsV() * 1000.0) +
                          Printf("%.7g кГц, ", ref->FrequencyHz / 1000.0) +
                          Printf("%g Град", ref->PhaseDeg);
            }
            h += "<tr><td align=\"center\">" + std::to_string(s.Channel) + "</td><td>" +
                 Escape(applied) + "</td>" + cell(s.VoltageMv, 7, false) +
                 cell(s.VoltageUMv, 2, true) + cell(s.FrequencyKhz, 7, false) +
                 cell(s.PhaseDeg, 4, false) + "<td>" + Escape(s.Status) + "</td></tr>";
        }
        h += "</table>\n<h3>" + Escape(ReportText::Decisions) + "</h3>\n";
        h += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr>";
        for (std::string_view head :
             {ReportText::Channel, ReportText::Figure, ReportText::Value, ReportText::U,
              ReportText::Limit, ReportText::Decision, ReportText::Note}) {
            h += "<th>" + Escape(head) + "</th>";
        }
        h += "</tr>";
        for (const ResultRow& r : e.Rows) {
            h += "<tr><td align=\"center\">" +
                 (r.Channel ? std::to_string(*r.Channel) : std::string(ReportText::NotGiven)) +
                 "</td><td>" + Escape(FigureTitle(r.Figure)) + "</td><td class=\"n\" align=\"right\">" +
                 (r.Value ? FormatValue(*r.Value) : std::string(ReportText::NotGiven)) +
                 "</td><td class=\"n\" align=\"right\">" +
                 (r.U ? FormatUncertainty(*r.U) : std::string(ReportText::NotGiven)) +
                 "</td><td class=\"n\" align=\"right\">" + Escape(LimitText(r)) +
                 "</td><td style=\"color:" + Color(r.Verdict) + "\"><font color=\"" +
                 Color(r.Verdict) + "\"><b>" + std::string(DecisionName(r.Verdict)) +
                 "</b></font></td><td>" + Escape(r.Note) + "</td></tr>";
        }
        h += "</table>\n";

        // The pictures: gain and phase match against their bands, and the spectra.
        const auto marks = [&](const std::string& figure) {
            std::vector<Mark> out;
            for (const ResultRow& r : e.Rows) {
                if (r.Figure == figure && r.Channel) {
                    out.push_back({*r.Channel, r.Value, r.U, r.Verdict});
                }
            }
            return out;
        };
        if (plan.Limits.GainPercent) {
            h += picture(ErrorChart(std::string(ReportText::GainChart), marks("gain_error"),
                                    *plan.Limits.GainPercent));
        }
        if (plan.Limits.PhaseMatchDeg && p.Point.ReadsSpectrum()) {
            h += picture(ErrorChart(Fill(ReportText::PhaseChart,
                                         {std::to_string(plan.ReferenceChannel + 1)}),
                                    marks("phase_match"), *plan.Limits.PhaseMatchDeg));
        }
        // The spectra two by two: inline blocks in a browser, a table for Qt.
        std::vector<std::string> spectra;
        for (std::size_t c = 0; c < ChannelCount; ++c) {
            if (!p.Point.Channels[c] || !p.Point.ReadsSpectrum()) {
                continue;
            }
            if (p.Spectra[c]) {
                spectra.push_back(image(
                    SpectrumChart(Fill(ReportText::SpectrumChart,
                                       {std::to_string(c + 1), std::to_string(p.Spectra[c]->Length)}),
                                  *p.Spectra[c]),
                    ChartWidth * 0.47));
            } else {
                spectra.push_back(Escape(Fill(ReportText::NoSpectrum, {std::to_string(c + 1)})));
            }
        }
        if (pictures == nullptr) {
            for (const std::string& one : spectra) {
                h += "<div class=\"spec\">" + one + "</div>";
            }
        } else if (!spectra.empty()) {
            h += "<table cellspacing=\"0\" cellpadding=\"2\">";
            for (std::size_t k = 0; k < spectra.size(); k += 2) {
                h += "<tr><td>" + spectra[k] + "</td><td>" +
                     (k + 1 < spectra.size() ? spectra[k + 1] : std::string()) + "</td></tr>";
            }
            h += "</table>";
        }
    }
    h += "</body></html>\n";
    return h;
}

}  // namespace

std::vector<ResultRow> ReportData::AllRows() const
{
    std::vector<ResultRow> rows;
    for (const PointEvaluation& e : Evaluations) {
        rows.insert(rows.end(), e.Rows.begin(), e.Rows.end());
    }
    return rows;
}

std::string FormatValue(double value)
{
    return Printf("%.6g", value);
}

std::string FormatUncertainty(double u)
{
    return Printf("%.3g", u);
}

std::string Sha256Hex(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArray::fromRawData(bytes.data(),
                                                            static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string ResultsJson(const ReportData& data)
{
    const Plan& plan = *data.Source;
    Json j;
    j["verdict"] = std::string(DecisionName(data.Verdict));
    j["rule"] =
        "guard band: PASS inside the tolerance reduced by U, FAIL outside the tolerance "
        "widened by U, INDETERMINATE otherwise; U = 2 sqrt(max(s^2, mean(u^2) / n) + u_ref^2): "
        "the larger of the standard error of the mean over the n frames (s) and the "
        "frames' own standard uncertainty of the mean (type A, u), both of the same "
        "noise, with the calibrator's standard uncertainty (u_ref)";
    j["time"] = IsoTime(data.Time);
    j["program"] = {{"name", std::string(ReportText::ProgramName)},
                    {"version", data.ProgramVersion}};
    const ModuleInfo& m = data.Module;
    j["module"] = {{"serial", m.Serial},          {"name", m.Name},
                   {"firmware", m.Firmware},      {"crate", m.CrateSerial},
                   {"crate_model", m.CrateModel}, {"slot", m.Slot}};
    j["libraries"] = {{"ksnapi", m.CrateLibraryVersion}, {"ksn48api", m.ModuleLibraryVersion}};
    j["operator"] = data.Operator;
    j["station"] = data.Station;
    j["calibrator"] = data.Calibrator;
    j["plan"] = {{"file", plan.Path}, {"sha256", data.PlanSha256}};
    Json files = Json::array();
    for (const DataFile& f : data.Files) {
        files.push_back({{"file", f.Name}, {"sha256", f.Sha256}});
    }
    j["data"] = files;
    Json points = Json::array();
    for (std::size_t i = 0; i < data.Points->size(); ++i) {
        const PointData& p = (*data.Points)[i];
        Json channels = Json::array();
        for (const ChannelSummary& s : data.Evaluations[i].Channels) {
            const auto& ref = plan.Reference[static_cast<std::size_t>(s.Channel - 1)];
            Json applied = nullptr;
            if (ref) {
                applied = {{"amplitude_V", ref->AmplitudeV},
                           {"rms_mV", ref->RmsV() * 1000.0},
                           {"frequency_Hz", ref->FrequencyHz},
                           {"phase_deg", ref->PhaseDeg},
                           {"U_amplitude_pct", ref->AmplitudeUPercent},
                           {"U_frequency_ppm", ref->FrequencyUPpm},
                           {"U_phase_deg", ref->PhaseUDeg}};
            }
            channels.push_back({{"channel", s.Channel},
                                {"applied", applied},
                                {"driven", s.Driven},
                                {"readings", s.Readings},
                                {"voltage_mV", Optional(s.VoltageMv)},
                                {"voltage_U_mV", Optional(s.VoltageUMv)},
                                {"frequency_kHz", Optional(s.FrequencyKhz)},
                                {"phase_deg", Optional(s.PhaseDeg)},
                                {"status", s.Status}});
        }
        std::vector<int> acquired;
        for (std::size_t c = 0; c < ChannelCount; ++c) {
            if (p.Point.Channels[c]) {
                acquired.push_back(static_cast<int>(c) + 1);
            }
        }
        points.push_back({{"point", i + 1},
                          {"rate_Hz", p.Point.RateHz},
                          {"bits", p.Point.DataFormat == 0 ? 20 : 24},
                          {"current_mA", p.Point.CurrentSource == 0 ? 2.86 : 10.0},
                          {"channels", acquired},
                          {"reference_channel", plan.ReferenceChannel + 1},
                          {"method", p.Point.Method},
                          {"frames", p.Frames.size()},
                          {"samples_per_channel", p.SamplesPerChannel},
                          {"file", p.CsvFile},
                          {"readings", channels}});
    }
    j["points"] = points;
    Json results = Json::array();
    for (const ResultRow& r : data.AllRows()) {
        results.push_back({{"point", r.Point},
                           {"channel", r.Channel ? Json(*r.Channel) : Json(nullptr)},
                           {"figure", r.Figure},
                           {"unit", r.Unit},
                           {"value", Optional(r.Value)},
                           {"U", Optional(r.U)},
                           {"limit", r.Limit},
                           {"limit_kind", std::string(LimitKindName(r.Kind))},
                           {"decision", std::string(DecisionName(r.Verdict))},
                           {"note", r.Note}});
    }
    j["results"] = results;
    return j.dump(2) + "\n";
}

std::string ReportHtml(const ReportData& data)
{
    return BuildHtml(data, nullptr);
}

void WriteReportPdf(const ReportData& data, const std::string& path)
{
    std::vector<std::string> pictures;
    const std::string html = BuildHtml(data, &pictures);
    QTextDocument document;
    // Pictures drawn at twice their size keep their lines sharp in print.
    constexpr int Scale = 2;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        QSvgRenderer renderer(QByteArray::fromStdString(pictures[i]));
        const QSize size = renderer.defaultSize();
        QImage image(size.width() * Scale, size.height() * Scale, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        image.setDevicePixelRatio(Scale);
        document.addResource(QTextDocument::ImageResource,
                             QUrl(QString::fromStdString("svg" + std::to_string(i))), image);
    }
    document.setDefaultStyleSheet("body{font-family:'DejaVu Sans';font-size:8pt;}"
                                  "th{background-color:#eeeeee;}");
    document.setHtml(QString::fromStdString(html));
    QPdfWriter writer(QString::fromStdString(path));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
    writer.setResolution(96);
    // The document laid out on the page's printable area as it is: without a
    // page size of its own, printing would add margins of its own.
    document.setPageSize(QSizeF(writer.width(), writer.height()));
    writer.setTitle(QString::fromStdString(std::string(ReportText::Title) + " " + data.Module.Serial));
    writer.setCreator(QString::fromStdString(std::string(ReportText::ProgramName)));
    document.print(&writer);
    // QPdfWriter says nothing of a failed write: the file must be there.
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::fclose(f);
        if (size > 0) {
            return;
        }
    }
    throw std::runtime_error("cannot write '" + path + "'");
}

}  // namespace verify
