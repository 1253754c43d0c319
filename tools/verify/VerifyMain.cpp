#include "VerifyMain.h"

#include "Evaluation.h"
#include "ModuleOptions.h"
#include "Report.h"
#include "ToolSupport.h"
#include "VerifyTexts.h"

#include <CLI/CLI.hpp>
#include <QGuiApplication>

#include <clocale>
#include <iostream>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace verify {

namespace {

constexpr std::string_view Footer =
    R"(The plan (JSON, see docs/verify/plan.md) names the signal the calibrator
applies to each channel, the points (rate, data width, current, channels,
method, frames) and the tolerances. The module is chosen as ksn48-measure
chooses it: --crate/--slot, else the plan's "module", else the crate and slot
saved in the --settings file, else the first KSN48 module.

Into DIR: report.html, report.pdf, results.json and point-<k>.csv, the frames
of each point as ksn48-measure writes them (with --metrics).

Exit codes:
  0  every decision PASS
  1  failure during the run (module, link, output)
  2  usage or a bad plan (nothing measured)
  3  no server, crate or module
  4  configuration refused (a point the crate cannot carry: nothing measured)
  5  at least one decision FAIL
  6  no FAIL, but at least one decision INDETERMINATE)";

// Qt's messages on standard error, but not its note that a headless run has
// no runtime folder, which the report does not need.
void QtMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.contains(QStringLiteral("XDG_RUNTIME_DIR"))) {
        return;
    }
    tool::Say(std::cerr) << "Qt: " << message.toStdString() << '\n';
}

bool ReadFile(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return static_cast<bool>(in) || in.eof();
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

ParsedVerifyLine ParseVerifyLine(int argc, const char* const* argv, std::ostream& out,
                                 std::ostream& err)
{
    CLI::App app("Verifies a KSN48 module against a test plan: measures each point of the plan "
                 "with the\nwindow's engine, decides each figure with guard bands and writes a "
                 "report.",
                 std::string(ReportText::ProgramName));
    app.footer(std::string(Footer));
    app.set_version_flag("--version",
                         std::string(ReportText::ProgramName) + " " + KSN_TOOL_VERSION);
    VerifyOptions o;
    app.add_option("--plan", o.PlanPath, "the test plan (JSON)")->required();
    app.add_option("--out", o.OutDir, "the folder for the report (made when missing)")->required();
    tool::ModuleOptionGroup module;
    module.Add(app, "A settings file of the window (Ksn48_Vevu.ini): its values apply under the "
                    "plan's");
    std::string op;
    std::string station;
    std::string calibrator;
    auto* opOption = app.add_option("--operator", op, "the operator (over the plan's)");
    auto* stationOption = app.add_option("--station", station, "the station (over the plan's)");
    auto* calOption =
        app.add_option("--calibrator", calibrator, "the calibrator's identity (over the plan's)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return {std::nullopt, ExitPass};
    } catch (const CLI::CallForVersion&) {
        out << app.version() << '\n';
        return {std::nullopt, ExitPass};
    } catch (const CLI::ParseError& e) {
        tool::Say(err) << e.what() << "\n";
        err << "Run with --help for more information.\n";
        return {std::nullopt, ExitUsage};
    }
    module.Take(o);
    if (*opOption) {
        o.Operator = op;
    }
    if (*stationOption) {
        o.Station = station;
    }
    if (*calOption) {
        o.Calibrator = calibrator;
    }
    return {o, ExitPass};
}

int RunVerification(const VerifyOptions& options, int& argc, char** argv, std::ostream& err)
{
    // The plan first: a bad one stops everything before the module is touched.
    std::string planText;
    Plan plan;
    try {
        plan = ReadPlan(options.PlanPath, &planText);
    } catch (const PlanError& e) {
        tool::Say(err) << e.what() << '\n';
        return ExitUsage;
    }
    std::error_code error;
    std::filesystem::create_directories(options.OutDir, error);
    if (error || !std::filesystem::is_directory(options.OutDir)) {
        tool::Say(err) << "cannot make the folder '" << options.OutDir
                       << "': " << (error ? error.message() : "not a folder") << '\n';
        return ExitUsage;
    }

    const RunOutcome outcome = MeasurePlan(plan, options, err);
    if (outcome.ExitCode != ExitPass) {
        return outcome.ExitCode;
    }

    ReportData data;
    data.Source = &plan;
    data.PlanSha256 = Sha256Hex(planText);
    data.Operator = options.Operator.value_or(plan.Operator);
    data.Station = options.Station.value_or(plan.Station);
    data.Calibrator = options.Calibrator.value_or(plan.Source.Describe());
    data.ProgramVersion = KSN_TOOL_VERSION;
    data.Time = std::chrono::system_clock::now();
    data.Module = outcome.Module;
    data.Points = &outcome.Points;
    for (std::size_t i = 0; i < outcome.Points.size(); ++i) {
        data.Evaluations.push_back(EvaluatePoint(plan, static_cast<int>(i) + 1, outcome.Points[i]));
        const std::string path =
            (std::filesystem::path(options.OutDir) / outcome.Points[i].CsvFile).string();
        std::string bytes;
        if (!ReadFile(path, bytes)) {
            tool::Say(err) << "cannot read back '" << path << "'\n";
            return ExitRunFailure;
        }
        data.Files.push_back({outcome.Points[i].CsvFile, Sha256Hex(bytes)});
    }
    data.Verdict = OverallVerdict(data.AllRows());

    const std::filesystem::path dir(options.OutDir);
    for (const auto& [name, text] : {std::pair{"results.json", ResultsJson(data)},
                                     std::pair{"report.html", ReportHtml(data)}}) {
        if (!WriteFile((dir / name).string(), text)) {
            tool::Say(err) << "cannot write '" << (dir / name).string() << "'\n";
            return ExitRunFailure;
        }
    }
    // The PDF needs Qt's fonts and painting, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QtMessage);
    QGuiApplication application(argc, argv);
    // Numbers stay with '.' whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    try {
        WriteReportPdf(data, (dir / "report.pdf").string());
    } catch (const std::exception& e) {
        tool::Say(err) << e.what() << '\n';
        return ExitRunFailure;
    }

    std::size_t counts[3] = {0, 0, 0};
    for (const ResultRow& r : data.AllRows()) {
        ++counts[static_cast<int>(r.Verdict)];
    }
    tool::Say(err) << "verdict " << DecisionName(data.Verdict) << " (" << counts[0] << " PASS, "
                   << counts[1] << " FAIL, " << counts[2] << " INDETERMINATE); report in '"
                   << options.OutDir << "'\n";
    switch (data.Verdict) {
    case Decision::Pass:
        return ExitPass;
    case Decision::Fail:
        return ExitFail;
    case Decision::Indeterminate:
        return ExitIndeterminate;
    }
    return ExitFail;
}

}  // namespace verify
