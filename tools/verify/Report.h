#pragma once

#include "Evaluation.h"
#include "VerifyPlan.h"
#include "VerifyRun.h"

#include <chrono>
#include <string>
#include <vector>

namespace verify {

struct DataFile {
    std::string Name;
    std::string Sha256;
};

// Everything a report says.
struct ReportData {
    const Plan* Source = nullptr;
    std::string PlanSha256;
    std::string Operator;
    std::string Station;
    std::string Calibrator;
    std::string ProgramVersion;
    std::chrono::system_clock::time_point Time;
    ModuleInfo Module;
    const std::vector<PointData>* Points = nullptr;
    std::vector<PointEvaluation> Evaluations;
    std::vector<DataFile> Files;
    Decision Verdict = Decision::Pass;

    std::vector<ResultRow> AllRows() const;
};

// results.json (schema in docs/verify/results.md).
std::string ResultsJson(const ReportData& data);

// report.html: one file, its pictures inline as SVG.
std::string ReportHtml(const ReportData& data);

// report.pdf with the same content; needs a QGuiApplication. Throws
// std::runtime_error when the file cannot be written.
void WriteReportPdf(const ReportData& data, const std::string& path);

// The SHA-256 of bytes, in hex.
std::string Sha256Hex(const std::string& bytes);

// How the report writes a figure's value and its U: the same digits in HTML
// and PDF, taken from the values results.json holds.
std::string FormatValue(double value);
std::string FormatUncertainty(double u);

}  // namespace verify
