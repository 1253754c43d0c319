// ksn48-verify as a lab runs it, against a crate server of the test's own
// (fast mode) serving the example modules: the faulty one fails exactly on
// its seeded channels and figures, the good one passes, a gain error on the
// edge of its tolerance is INDETERMINATE, and a bad plan or a point the
// crate cannot carry stops the run before anything is measured.
#include "CrateServer.h"
#include "Process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

const std::string Source = KSN_SOURCE_DIR;
const std::string Plan = Source + "/docs/verify/plan.json";

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Quoted(const std::string& s)
{
    return "'" + s + "'";
}

struct ToolRun {
    int Exit = -1;
    std::string Err;
};

class VerifyTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        out_ = fs::temp_directory_path() /
               ("ksn48-verify-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(out_);
    }
    void TearDown() override { fs::remove_all(out_); }

    // The program with its standard error caught in a file.
    ToolRun Verify(const std::string& plan)
    {
        const std::string errFile = out_.string() + ".err";
        const auto [exit, ignored] = ksn::test::RunProgram(
            "/bin/sh", {"-c", Quoted(KSN_VERIFY_TOOL) + " --plan " + Quoted(plan) + " --out " +
                                  Quoted(out_.string()) + " 2>" + Quoted(errFile)});
        ToolRun run{exit, ReadText(errFile)};
        fs::remove(errFile);
        return run;
    }

    Json Results() const { return Json::parse(ReadText((out_ / "results.json").string())); }

    // (point, channel, figure) of every result with that decision.
    std::set<std::tuple<int, int, std::string>> With(const Json& results,
                                                     const std::string& decision) const
    {
        std::set<std::tuple<int, int, std::string>> found;
        for (const Json& r : results["results"]) {
            if (r["decision"] == decision) {
                found.emplace(r["point"].get<int>(), r["channel"].get<int>(),
                              r["figure"].get<std::string>());
            }
        }
        return found;
    }

    std::string WritePlan(const Json& plan) const
    {
        const std::string path = out_.string() + ".plan.json";
        std::ofstream(path) << plan.dump(2);
        return path;
    }

    fs::path out_;
};

TEST_F(VerifyTool, FaultyModuleFailsExactlyOnItsSeededFaults)
{
    ksn::test::CrateServer server(ReadText(Source + "/crate/examples/verify-faulty.json"));
    const ToolRun run = Verify(Plan);
    ASSERT_EQ(run.Exit, 5) << run.Err;
    const Json r = Results();
    EXPECT_EQ(r["verdict"], "FAIL");
    std::set<std::tuple<int, int, std::string>> seeded;
    for (int point : {1, 2}) {
        seeded.emplace(point, 3, "gain_error");
        seeded.emplace(point, 5, "phase_match");
        seeded.emplace(point, 6, "snr");
        seeded.emplace(point, 8, "crosstalk");
    }
    EXPECT_EQ(With(r, "FAIL"), seeded);
    EXPECT_TRUE(With(r, "INDETERMINATE").empty());
    // Every other figure of every channel was decided, and passed.
    EXPECT_EQ(With(r, "PASS").size() + seeded.size(), r["results"].size());
    for (const Json& row : r["results"]) {
        if (row["decision"] == "FAIL") {
            ASSERT_TRUE(row["value"].is_number());
        }
        const int channel = row["channel"].get<int>();
        if (row["figure"] == "gain_error" && channel == 3) {
            EXPECT_NEAR(row["value"].get<double>(), -0.4, 0.005);
        }
        if (row["figure"] == "phase_match" && channel == 5) {
            EXPECT_NEAR(row["value"].get<double>(), 0.5, 0.005);
        }
        if (row["figure"] == "snr" && channel == 6) {
            EXPECT_NEAR(row["value"].get<double>(), 40.0, 0.5);
        }
        if (row["figure"] == "crosstalk") {
            EXPECT_EQ(channel, 8);
            EXPECT_NEAR(row["value"].get<double>(), -70.0, 0.1);
        }
    }
    // The report and the frames of each point.
    EXPECT_EQ(r["module"]["serial"], "4813007");
    ASSERT_EQ(r["points"].size(), 2u);
    for (const Json& p : r["points"]) {
        const std::string csv = ReadText((out_ / p["file"].get<std::string>()).string());
        EXPECT_EQ(csv.rfind("time,frame,ch1_mV,ch1_kHz,ch1_deg,ch1_status,ch1_inband,ch1_thd_pct", 0),
                  0u);
        const auto rows = std::count(csv.begin(), csv.end(), '\n') - 1;
        EXPECT_EQ(rows, p["frames"].get<int>());
    }
    const std::string html = ReadText((out_ / "report.html").string());
    EXPECT_NE(html.find("НЕ ГОДЕН (FAIL)"), std::string::npos);
    EXPECT_NE(html.find("<svg"), std::string::npos);
    EXPECT_EQ(html.find("<img"), std::string::npos);  // one self-contained file
    const std::string pdf = ReadText((out_ / "report.pdf").string());
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    // Every value, U and decision of results.json, in its order, in the
    // report's decision tables, with six and three significant digits; and
    // the same in the PDF's text.
    const std::string pdfText =
        ksn::test::RunProgram("/usr/bin/pdftotext",
                              {"-layout", (out_ / "report.pdf").string(), "-"})
            .second;
    ASSERT_FALSE(pdfText.empty()) << "pdftotext (poppler-utils) gave nothing";
    std::size_t inHtml = 0;
    std::size_t inPdf = 0;
    for (const Json& row : r["results"]) {
        for (const auto& [key, digits] : {std::pair{"value", 6}, std::pair{"U", 3}}) {
            char text[32];
            std::snprintf(text, sizeof text, "%.*g", digits, row[key].get<double>());
            const std::string cell = std::string(">") + text + "</td>";
            inHtml = html.find(cell, inHtml);
            ASSERT_NE(inHtml, std::string::npos) << key << " " << text << " of " << row.dump();
            inPdf = pdfText.find(std::string(" ") + text, inPdf);
            ASSERT_NE(inPdf, std::string::npos) << key << " " << text << " of " << row.dump();
        }
        const std::string decision = row["decision"].get<std::string>();
        inHtml = html.find("<b>" + decision + "</b>", inHtml);
        ASSERT_NE(inHtml, std::string::npos) << row.dump();
        inPdf = pdfText.find(decision, inPdf);
        ASSERT_NE(inPdf, std::string::npos) << row.dump();
    }
    EXPECT_NE(run.Err.find("point 2 of 2, frame 8 of 8, channel 8"), std::string::npos) << run.Err;
}

TEST_F(VerifyTool, ThePrecisionMethodDecidesTheSameAndIsNamed)
{
    // The plan's second point with the sine fit: the same seeded faults fail
    // there, nothing else, and the report says which method each point used.
    ksn::test::CrateServer server(ReadText(Source + "/crate/examples/verify-faulty.json"));
    Json plan = Json::parse(ReadText(Plan));
    plan["points"][1]["method"] = "fit";
    const ToolRun run = Verify(WritePlan(plan));
    ASSERT_EQ(run.Exit, 5) << run.Err;
    const Json r = Results();
    std::set<std::tuple<int, int, std::string>> seeded;
    for (int point : {1, 2}) {
        for (const auto& [channel, figure] :
             {std::pair{3, "gain_error"}, {5, "phase_match"}, {6, "snr"}, {8, "crosstalk"}}) {
            seeded.emplace(point, channel, figure);
        }
    }
    EXPECT_EQ(With(r, "FAIL"), seeded);
    EXPECT_TRUE(With(r, "INDETERMINATE").empty());
    ASSERT_EQ(r["points"].size(), 2u);
    EXPECT_EQ(r["points"][0]["method"], "fft");
    EXPECT_EQ(r["points"][1]["method"], "fit");
    // Frequency and phase are decided with the fit as with "fft".
    std::size_t fitRows = 0;
    for (const Json& row : r["results"]) {
        fitRows += row["point"] == 2 ? 1u : 0u;
    }
    EXPECT_EQ(fitRows, 7u * 3 + 6 + 1);
    EXPECT_NE(ReadText((out_ / "report.html").string()).find("метод &quot;fit&quot;"),
              std::string::npos);
}

TEST_F(VerifyTool, GoodModulePassesEverything)
{
    ksn::test::CrateServer server(ReadText(Source + "/crate/examples/verify-good.json"));
    const ToolRun run = Verify(Plan);
    ASSERT_EQ(run.Exit, 0) << run.Err;
    const Json r = Results();
    EXPECT_EQ(r["verdict"], "PASS");
    EXPECT_EQ(With(r, "PASS").size(), r["results"].size());
    // 7 channels x (gain, frequency, SNR) + 6 phase matches + crosstalk, per point.
    EXPECT_EQ(r["results"].size(), 2u * (7 * 3 + 6 + 1));
}

TEST_F(VerifyTool, GainErrorOnTheLimitIsIndeterminate)
{
    // Channel 2 of the good module 0.1 % low: the error lies within U of the
    // +-0.1 % tolerance.
    Json config = Json::parse(ReadText(Source + "/crate/examples/verify-good.json"));
    config["crates"][0]["slots"][0]["ksn48"]["channels"][1]["sines"][0]["amplitude"] = 0.999;
    ksn::test::CrateServer server(config.dump());
    Json plan = Json::parse(ReadText(Plan));
    plan["points"].erase(1);
    const ToolRun run = Verify(WritePlan(plan));
    ASSERT_EQ(run.Exit, 6) << run.Err;
    const Json r = Results();
    EXPECT_EQ(r["verdict"], "INDETERMINATE");
    EXPECT_EQ(With(r, "INDETERMINATE"),
              (std::set<std::tuple<int, int, std::string>>{{1, 2, "gain_error"}}));
    EXPECT_TRUE(With(r, "FAIL").empty());
    for (const Json& row : r["results"]) {
        if (row["decision"] == "INDETERMINATE") {
            const double e = std::abs(row["value"].get<double>());
            const double u = row["U"].get<double>();
            EXPECT_GT(e + u, 0.1);
            EXPECT_LE(e - u, 0.1);
        }
    }
}

TEST_F(VerifyTool, BadPlanStopsBeforeTheModuleIsTouched)
{
    // No server at all: the plan is refused first.
    Json plan = Json::parse(ReadText(Plan));
    plan["points"][1]["bits"] = 16;
    const std::string path = WritePlan(plan);
    const ToolRun run = Verify(path);
    EXPECT_EQ(run.Exit, 2);
    EXPECT_NE(run.Err.find(path + ": field 'points[1].bits' must be 20 or 24"), std::string::npos)
        << run.Err;
    EXPECT_FALSE(fs::exists(out_));
}

TEST_F(VerifyTool, PointTheCrateCannotCarryStopsBeforeAnythingIsMeasured)
{
    ksn::test::CrateServer server(ReadText(Source + "/crate/examples/verify-good.json"));
    Json plan = Json::parse(ReadText(Plan));
    // 8 channels of 24-bit data at 78125 Hz: 5000.0 Кбайт/с against 2000.0.
    plan["points"][1]["rate_Hz"] = 78125;
    plan["points"][1]["bits"] = 24;
    const ToolRun run = Verify(WritePlan(plan));
    EXPECT_EQ(run.Exit, 4) << run.Err;
    EXPECT_NE(run.Err.find("point 2"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("составляет 5000.0 Кбайт/с"), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(out_ / "point-1.csv"));
    EXPECT_FALSE(fs::exists(out_ / "results.json"));
}

TEST_F(VerifyTool, LostServerMidRunKeepsTheFramesAndMakesNoReport)
{
    ksn::test::CrateServer server(ReadText(Source + "/crate/examples/verify-good.json"));
    const std::string errFile = out_.string() + ".err";
    ksn::test::ChildProcess tool(
        "/bin/sh", {"-c", "exec " + Quoted(KSN_VERIFY_TOOL) + " --plan " + Quoted(Plan) +
                              " --out " + Quoted(out_.string()) + " 2>" + Quoted(errFile)});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadText(errFile).find("frame 2 of 8") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << ReadText(errFile);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    server.Kill();
    int exit = -1;
    ASSERT_TRUE(tool.WaitForExit(std::chrono::seconds(60), &exit));
    const std::string err = ReadText(errFile);
    fs::remove(errFile);
    EXPECT_EQ(exit, 1) << err;
    const std::string csv = ReadText((out_ / "point-1.csv").string());
    EXPECT_GE(std::count(csv.begin(), csv.end(), '\n'), 3) << csv;
    EXPECT_FALSE(fs::exists(out_ / "results.json"));
    EXPECT_FALSE(fs::exists(out_ / "report.pdf"));
}

TEST_F(VerifyTool, NoServerIsExitThree)
{
    ksn::test::CrateServer server(ReadText(Source + "/crate/examples/verify-good.json"));
    server.Stop();
    const ToolRun run = Verify(Plan);
    EXPECT_EQ(run.Exit, 3) << run.Err;
}

}  // namespace
