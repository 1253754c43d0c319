// The window's precision choices as the operator meets them: its section
// [Precision] in the settings file, the two ticked menu items, the
// uncertainty in the value fields' hints, and the recording and the feed
// following the method. The program's window (offscreen) with its real
// threads against a crate server of the test's own.
#include "CaseName.h"
#include "CrateServer.h"
#include "FileDialog.h"
#include "InitAndConfigThread.h"
#include "IniFile.h"
#include "Ksn48AdcChannelFrame.h"
#include "MainForm.h"
#include "ProgramThreads.h"
#include "MainFormMeasurementView.h"
#include "MainThread.h"
#include "MeasureTexts.h"
#include "MessageBox.h"
#include "MqttBroker.h"
#include "PrecisionSection.h"
#include "ValueEdit.h"
#include "ViewTexts.h"
#include "WaitLoop.h"
#include "WindowControls.h"
#include "WindowWait.h"
#include "ksn48api.h"

#include <QAction>
#include <QCoreApplication>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ksn::test::Find;
using ksn::test::WaitUntil;

using ksn::test::CrateServer;

// How long a wait of these tests may take.
constexpr std::chrono::milliseconds WaitLimit = std::chrono::seconds(15);

std::string ReadFile(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> Cells(const std::string& line)
{
    std::vector<std::string> cells;
    std::istringstream in(line);
    std::string cell;
    while (std::getline(in, cell, ',')) {
        cells.push_back(cell);
    }
    if (!line.empty() && line.back() == ',') {
        cells.emplace_back();
    }
    return cells;
}

class PrecisionWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<CrateServer>(std::string{}, true);
        MainFormSetup setup = ProgramThreads(settingsDir.path());
        form = std::make_unique<TMainForm>(setup);
        form->show();
        WaitForDetection();
        // Channel 2 noisy (its values as before), channel 3 over range.
        Control({"signal", "2", "--sine", "0.5,1000,30", "--noise", "0.01"});
        Control({"signal", "3", "--sine", "8,1000,-90"});
    }
    void TearDown() override
    {
        if (form) {
            form->StopThread();
            form.reset();
        }
    }

    void WaitForDetection()
    {
        ASSERT_TRUE(WaitUntil([this] { return form->DetectionOver(); }, WaitLimit));
        ASSERT_EQ(form->ModuleState.load(), 2);
    }
    void Control(std::vector<std::string> args) const
    {
        args.insert(args.begin() + 1, {"KSN5-0042", "3"});
        ASSERT_EQ(server->Ctl(args), 0) << args[0];
    }
    QString SettingsFile() const { return settingsDir.filePath(QStringLiteral("Ksn48_Vevu.ini")); }
    QString ResultsFile() const { return settingsDir.filePath(QStringLiteral("results.csv")); }
    void AppendToSettings(const std::string& text) const
    {
        std::ofstream(SettingsFile().toStdString(), std::ios::app | std::ios::binary) << text;
    }
    TMainThread* Worker() const { return dynamic_cast<TMainThread*>(form->Worker()); }
    // Whether the run under way uses the precision method.
    bool RunSineFit() const
    {
        const TMainThread* worker = Worker();
        return worker != nullptr && worker->Cycle().Config().SineFit;
    }
    std::uint64_t FramesShown() const
    {
        return Worker() != nullptr ? Worker()->Cycle().FramesShown() : 0;
    }
    void StartAndWaitFrames(std::uint64_t frames)
    {
        ASSERT_EQ(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->text(),
                  ViewText::StartCaption);
        Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
        ASSERT_NE(Worker(), nullptr);
        ASSERT_TRUE(
            WaitUntil([&] { return FramesShown() >= frames || form->MeasurementIdle; }, WaitLimit));
        ASSERT_FALSE(form->MeasurementIdle);
    }
    void PressStop()
    {
        ASSERT_TRUE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked());
        Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
        ASSERT_TRUE(form->MeasurementIdle);
    }
    // Hints of channel c's voltage, frequency and phase fields.
    std::vector<QString> Hints(std::size_t c) const
    {
        const TKsn48AdcChannelFrame& panel = *form->ChannelFrames[c];
        return {panel.Value1LMDEdit->toolTip(), panel.Value2LMDEdit->toolTip(),
                panel.Value3LMDEdit->toolTip()};
    }
    PrecisionSection Section() const { return ReadPrecisionSection(IniFile(SettingsFile().toStdString())); }

    QTemporaryDir settingsDir;
    std::unique_ptr<CrateServer> server;
    std::unique_ptr<TMainForm> form;
    DialogRecorder dialogs;
};

// The three hints of an unmarked reading with its uncertainty, each rounded
// like its value (the settings' formats: 0.00 mV, 0.00000 kHz, 0.000 deg).
const QRegularExpression VoltageU(QStringLiteral(R"(^± (\d+\.\d{2}) мВ \(1σ, шум кадра\)$)"));
const QRegularExpression FrequencyU(QStringLiteral(R"(^± \d+\.\d{5} кГц \(1σ, шум кадра\)$)"));
const QRegularExpression PhaseU(QStringLiteral(R"(^± \d+\.\d{3} Град \(1σ, шум кадра\)$)"));

struct HintCase {
    const char* name;
    const char* section;  // appended to the settings file
    bool hints;           // the uncertainty shows in the hints
    bool fit;             // the runs use the precision method
};

class UncertaintyHints : public PrecisionWindow,
                         public ::testing::WithParamInterface<HintCase> {};

TEST_P(UncertaintyHints, FollowTheSectionAndNeverReplaceAMark)
{
    const HintCase& c = GetParam();
    AppendToSettings(c.section);
    StartAndWaitFrames(2);
    EXPECT_EQ(RunSineFit(), c.fit);
    EXPECT_EQ(Find<QAction>(*form, "PrecisionMethod")->isChecked(), c.fit);
    const std::vector<QString> noisy = Hints(1);
    const std::vector<QString> overRange = Hints(2);
    const std::string voltage = form->ChannelFrames[1]->Value1LMDEdit->text().toStdString();
    PressStop();
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    EXPECT_NEAR(std::stod(voltage), 353.55, 1.0);
    if (c.hints) {
        const QRegularExpressionMatch match = VoltageU.match(noisy[0]);
        ASSERT_TRUE(match.hasMatch()) << noisy[0].toStdString();
        // 10 mV of noise over the frame: a tenth of a millivolt or so.
        const double u = match.captured(1).toDouble();
        EXPECT_GT(u, 0.02);
        EXPECT_LT(u, 1.0);
        EXPECT_TRUE(FrequencyU.match(noisy[1]).hasMatch()) << noisy[1].toStdString();
        EXPECT_TRUE(PhaseU.match(noisy[2]).hasMatch()) << noisy[2].toStdString();
    } else {
        for (const QString& hint : noisy) {
            EXPECT_TRUE(hint.isEmpty()) << hint.toStdString();
        }
    }
    // Over range: the voltage keeps its mark's hint, and no value of the
    // channel has an uncertainty to show.
    EXPECT_EQ(overRange[0], MeasureText::OverRangeHint);
    EXPECT_TRUE(overRange[1].isEmpty()) << overRange[1].toStdString();
    EXPECT_TRUE(overRange[2].isEmpty()) << overRange[2].toStdString();
}

const HintCase hintCases[] = {
    {"NoSection", "", false, false},
    {"MethodOfTheSettings", "[Precision]\r\nMethod=settings\r\nUncertainty=0\r\n", false, false},
    {"UncertaintyKey", "[Precision]\r\nUncertainty=1\r\n", true, false},
    {"PrecisionMethod", "[Precision]\r\nMethod= FIT \r\n", true, true},
};

INSTANTIATE_TEST_SUITE_P(Table, UncertaintyHints, ::testing::ValuesIn(hintCases),
                         [](const auto& p) { return std::string(p.param.name); });

struct BadValueCase {
    const char* name;
    const char* section;
    const char* key;
};

class BadPrecisionValue : public PrecisionWindow,
                          public ::testing::WithParamInterface<BadValueCase> {};

TEST_P(BadPrecisionValue, IsSaidOnceNamingTheKeyAndTheSpecifiedMethodStays)
{
    const BadValueCase& c = GetParam();
    AppendToSettings(c.section);
    Find<QPushButton>(*form, "FindDeviceLMDButton")->click();
    WaitForDetection();
    ASSERT_TRUE(WaitUntil([&] { return !dialogs.Shown().empty(); }, WaitLimit));
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Ошибка настроек точности!"));
    const QString text = dialogs.Shown()[0].text;
    EXPECT_TRUE(text.contains(QStringLiteral("\"%1\"").arg(QLatin1String(c.key))))
        << text.toStdString();
    EXPECT_TRUE(text.contains(SettingsFile())) << text.toStdString();
    // Two runs: the shared key's method, the hints as ever, no second word.
    for (int run = 0; run < 2; ++run) {
        StartAndWaitFrames(1);
        EXPECT_FALSE(RunSineFit());
        EXPECT_TRUE(Hints(1)[0].isEmpty()) << Hints(1)[0].toStdString();
        PressStop();
    }
    EXPECT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_FALSE(Find<QAction>(*form, "PrecisionMethod")->isChecked());
}

const BadValueCase badValueCases[] = {
    {"MethodOfAnotherName", "[Precision]\r\nMethod=precise\r\n", "Method"},
    {"SharedMethodText", "[Precision]\r\nMethod=fft\r\n", "Method"},
    {"UncertaintyWord", "[Precision]\r\nUncertainty=yes\r\n", "Uncertainty"},
};

INSTANTIATE_TEST_SUITE_P(Table, BadPrecisionValue, ::testing::ValuesIn(badValueCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(PrecisionWindow, TheMenuTickIsWrittenAtOnceAndTakesTheNextRun)
{
    ASSERT_NE(Find<QAction>(*form, "PrecisionMethod"), nullptr);
    ASSERT_NE(Find<QAction>(*form, "UncertaintyHints"), nullptr);
    EXPECT_TRUE(Find<QAction>(*form, "PrecisionMethod")->isCheckable());
    EXPECT_FALSE(Find<QAction>(*form, "PrecisionMethod")->isChecked());
    EXPECT_TRUE(Find<QAction>(*form, "PrecisionMethod")->shortcut().isEmpty());
    const std::string before = ReadFile(SettingsFile());
    ASSERT_FALSE(before.empty());

    StartAndWaitFrames(1);
    Find<QAction>(*form, "PrecisionMethod")->trigger();
    EXPECT_TRUE(Find<QAction>(*form, "PrecisionMethod")->isChecked());
    // Written at once: our section alone, the rest of the file as it was.
    EXPECT_TRUE(Section().SineFit);
    EXPECT_FALSE(Section().Uncertainty);
    const std::string after = ReadFile(SettingsFile());
    EXPECT_EQ(after.substr(0, before.size()), before);
    // The run under way keeps its method; the next one takes the fit.
    const std::uint64_t seen = FramesShown();
    ASSERT_TRUE(WaitUntil([&] { return FramesShown() >= seen + 1; }, WaitLimit));
    EXPECT_FALSE(RunSineFit());
    EXPECT_TRUE(Hints(1)[0].isEmpty());
    PressStop();
    StartAndWaitFrames(1);
    EXPECT_TRUE(RunSineFit());
    EXPECT_TRUE(VoltageU.match(Hints(1)[0]).hasMatch()) << Hints(1)[0].toStdString();
    PressStop();

    // The settings writers keep the section as it stands.
    form->SaveCurrentSettingsClick();
    form->SaveDefaultSettingsClick();
    EXPECT_TRUE(Section().SineFit);

    // The uncertainty item alone, with the method unticked.
    Find<QAction>(*form, "PrecisionMethod")->trigger();
    Find<QAction>(*form, "UncertaintyHints")->trigger();
    EXPECT_FALSE(Section().SineFit);
    EXPECT_TRUE(Section().Uncertainty);
    EXPECT_TRUE(Section().BadKey.empty());
    StartAndWaitFrames(1);
    EXPECT_FALSE(RunSineFit());
    EXPECT_TRUE(VoltageU.match(Hints(1)[0]).hasMatch()) << Hints(1)[0].toStdString();
    // Unticked while running: the hints go with the next frame.
    Find<QAction>(*form, "UncertaintyHints")->trigger();
    const std::uint64_t shown = FramesShown();
    ASSERT_TRUE(WaitUntil([&] { return FramesShown() >= shown + 2; }, WaitLimit));
    EXPECT_TRUE(Hints(1)[0].isEmpty()) << Hints(1)[0].toStdString();
    PressStop();
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
}

TEST_F(PrecisionWindow, ARecordingWithTheFitCarriesTheUncertaintyColumns)
{
    AppendToSettings("[Precision]\r\nMethod=fit\r\n");
    StartAndWaitFrames(1);
    FileDialogAnswerer answers({ResultsFile()});
    Find<QAction>(*form, "RecordResults")->trigger();
    QCoreApplication::processEvents();  // the item's handler runs queued
    ASSERT_TRUE(Find<QAction>(*form, "RecordResults")->isChecked());
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string bytes = ReadFile(ResultsFile());
            return std::count(bytes.begin(), bytes.end(), '\n') >= 3;
        },
        WaitLimit));
    PressStop();
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    std::istringstream lines(ReadFile(ResultsFile()));
    std::string header;
    std::string row;
    std::getline(lines, header);
    std::getline(lines, row);
    std::string expected = "time,frame";
    for (int n = 1; n <= 6; ++n) {
        for (const char* suffix :
             {"_mV", "_kHz", "_deg", "_status", "_inband", "_mV_u", "_kHz_u", "_deg_u"}) {
            expected += ",ch" + std::to_string(n) + suffix;
        }
    }
    EXPECT_EQ(header, expected);
    const std::vector<std::string> names = Cells(header);
    const std::vector<std::string> cells = Cells(row);
    ASSERT_EQ(cells.size(), names.size());
    const auto cell = [&](const std::string& name) {
        return cells[static_cast<std::size_t>(std::find(names.begin(), names.end(), name) -
                                              names.begin())];
    };
    // The noisy channel's uncertainties in full; none for the over-range one.
    EXPECT_GT(std::stod(cell("ch2_mV_u")), 0.0);
    EXPECT_GT(std::stod(cell("ch2_kHz_u")), 0.0);
    EXPECT_GT(std::stod(cell("ch2_deg_u")), 0.0);
    EXPECT_EQ(cell("ch3_status"), "overrange");
    EXPECT_EQ(cell("ch3_mV_u"), "");
}

TEST_F(PrecisionWindow, TheFeedOfAFitRunNamesTheMethodAndCarriesTheUncertainties)
{
    ksn::test::MqttBroker broker;
    ksn::test::MqttSubscriber subscriber(broker.Port(), "ksn48/#");
    const std::string base = "ksn48/KSN5-0042/3";
    AppendToSettings("[MQTT]\r\nEnabled=1\r\nBroker=" + broker.Address() +
                     "\r\nQoS=1\r\n[Precision]\r\nMethod=fit\r\n");
    StartAndWaitFrames(2);
    ASSERT_TRUE(WaitUntil([&] { return subscriber.On(base + "/frame").size() >= 2; }, WaitLimit));
    PressStop();
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    const nlohmann::json run =
        nlohmann::json::parse(subscriber.On(base + "/config").back().Payload);
    EXPECT_EQ(run["method"], "fit");
    const nlohmann::json last =
        nlohmann::json::parse(subscriber.On(base + "/frame").back().Payload);
    ASSERT_TRUE(last.contains("ch2_mV_u"));
    EXPECT_GT(last["ch2_mV_u"].get<double>(), 0.0);
    EXPECT_TRUE(last["ch3_mV_u"].is_null());
}

}  // namespace
