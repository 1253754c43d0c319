// The measurement as the operator sees it: the program's window (offscreen)
// with its real detection and worker threads and module library against a
// crate server of the test's own, a new settings file, the start button
// pressed and the values read from the panels.
#include "MainThread.h"
#include "ProgramThreads.h"

#include "AdcGroupParsPanel.h"
#include "CaptionAboveCheckBox.h"
#include "CaptionAboveRadioButton.h"
#include "ChannelPanels.h"
#include "CommaLocale.h"
#include "CaseName.h"
#include "CountingAllocator.h"
#include "CrateProxy.h"
#include "CrateServer.h"
#include "FreezeProbe.h"
#include "FileDialog.h"
#include "FakeModule.h"
#include "ListPick.h"
#include "InitAndConfigThread.h"
#include "Ksn48AdcChannelFrame.h"
#include "Led.h"
#include "MainForm.h"
#include "MainFormMeasurementView.h"
#include "MeasureTexts.h"
#include "MeasurementTexts.h"
#include "MessageBox.h"
#include "MqttBroker.h"
#include "NumberText.h"
#include "ResultsPublisher.h"
#include "ValueEdit.h"
#include "ViewTexts.h"
#include "WaitLoop.h"
#include "WindowControls.h"
#include "WindowWait.h"
#include "ksn48api.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

namespace {

using ksn::test::Find;
using ksn::test::WaitUntil;

using ksn::test::CrateServer;
using Clock = std::chrono::steady_clock;

const QColor Red(255, 0, 0);

// How long a wait of these tests may take.
constexpr std::chrono::milliseconds WaitLimit = std::chrono::seconds(15);

class MeasurementWindow : public ::testing::Test {
protected:
    void SetUp() override { Prepare(true); }
    void TearDown() override
    {
        if (form) {
            form->StopThread();
            form.reset();
        }
    }

    // proxied: the libraries reach the server through a CrateProxy (proxy).
    void Prepare(bool fast, bool proxied = false)
    {
        server = std::make_unique<CrateServer>(std::string{}, fast);
        if (proxied) {
            proxy = std::make_unique<ksn::test::CrateProxy>(server->Port());
        }
        MainFormSetup setup = ProgramThreads(settingsDir.path());
        // The worker's module calls may go through the test's stand-ins.
        setup.MainThread = [this](TMainForm& f, std::uint16_t page) -> std::unique_ptr<TThread> {
            return std::make_unique<TMainThread>(
                false, page, std::make_unique<TMainFormMeasurementView>(f), workerApi);
        };
        form = std::make_unique<TMainForm>(setup);
        // The first show runs the start-up detection with a new settings file.
        form->show();
        WaitForDetection();
    }

    void WaitForDetection()
    {
        ASSERT_TRUE(WaitUntil([this] { return form->DetectionOver(); }, WaitLimit));
        ASSERT_EQ(form->ModuleState.load(), 2) << "no module open after the detection";
    }

    // The operator picks another crate in the list: its module is opened.
    void PickCrate(int index)
    {
        Find<QComboBox>(*form, "KsnCratesComboBox")->setCurrentIndex(index);
        WaitForDetection();
    }

    // "Обнаружить".
    void FindDevices()
    {
        Find<QPushButton>(*form, "FindDeviceLMDButton")->click();
        WaitForDetection();
    }

    // Ticks the channels of mask (bit c = channel c) as the operator does,
    // picks rate and data format.
    void Choose(unsigned mask, int rateIndex, int dataFormat)
    {
        for (std::size_t c = 0; c < 8; ++c) {
            form->ChannelFrames[c]->ChannelNumberLMDCheckBox->setChecked((mask >> c & 1u) != 0);
        }
        form->Busy = true;
        Find<QComboBox>(*form, "AdcRateComboBox")->setCurrentIndex(rateIndex);
        Find<TAdcGroupParsPanel>(*form, "AdcGroupParsLMDGroupBox")
            ->DataFormatLMDComboBox->setCurrentIndex(dataFormat);
        form->Busy = false;
    }

    // ksn-cratectl on the default module (crate "KSN5-0042", slot 3):
    // {command, channel 1..8, options...}.
    void Control(std::vector<std::string> args) const
    {
        args.insert(args.begin() + 1, {"KSN5-0042", "3"});
        ASSERT_EQ(server->Ctl(args), 0) << args[0];
    }

    TKsn48AdcChannelFrame& Panel(std::size_t c) const { return *form->ChannelFrames[c]; }
    std::string Text(const TValueEdit* edit) const { return edit->text().toStdString(); }
    std::string Voltage(std::size_t c) const { return Text(Panel(c).Value1LMDEdit); }
    std::string Frequency(std::size_t c) const { return Text(Panel(c).Value2LMDEdit); }
    std::string Phase(std::size_t c) const { return Text(Panel(c).Value3LMDEdit); }

    TMainThread* Worker() const { return dynamic_cast<TMainThread*>(form->Worker()); }
    std::uint64_t FramesShown() const
    {
        return Worker() != nullptr ? Worker()->Cycle().FramesShown() : 0;
    }

    void PressStart()
    {
        ASSERT_EQ(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->text(),
                  ViewText::StartCaption);
        Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
    }

    // A run loses its server, which stays away; then START is pressed again.
    void PressStartWhileTheServerIsGone()
    {
        StartAndWaitFrames(1);
        server->Kill();
        ASSERT_TRUE(WaitUntil(
            [&] { return form->ModuleState.load() == 0 && form->MeasurementIdle; }, WaitLimit));
        dialogs.Clear();
        PressStart();
    }

    // "С   Т   О   П": the button is released.
    void PressStop()
    {
        ASSERT_TRUE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked());
        Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
    }

    // Presses start and waits for the given number of frames on the panels.
    void StartAndWaitFrames(std::uint64_t frames)
    {
        PressStart();
        ASSERT_NE(Worker(), nullptr);
        ASSERT_TRUE(
            WaitUntil([&] { return FramesShown() >= frames || form->MeasurementIdle; }, WaitLimit));
    }

    void ExpectStoppedAndUsable() const
    {
        const QPushButton& button = *Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton");
        EXPECT_EQ(button.text(), ViewText::StartCaption);
        EXPECT_FALSE(button.isChecked());
        EXPECT_TRUE(form->MeasurementIdle);
        EXPECT_EQ(form->Ksn48Handle.AcquisitionRunning, 0);
    }

    QTemporaryDir settingsDir;
    std::unique_ptr<CrateServer> server;
    std::unique_ptr<ksn::test::CrateProxy> proxy;
    std::unique_ptr<TMainForm> form;
    DialogRecorder dialogs;
    // The module calls of the workers started from now on.
    measure::ModuleApi workerApi = measure::LibraryModuleApi();
};

TEST_F(MeasurementWindow, DefaultModuleShowsItsValuesFrameAfterFrame)
{
    // What a new settings file chooses.
    for (std::size_t c = 0; c < 8; ++c) {
        EXPECT_EQ(Panel(c).ChannelNumberLMDCheckBox->isChecked(), c < 6) << c;
    }
    EXPECT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->currentIndex(), 7);
    EXPECT_EQ(Find<TAdcGroupParsPanel>(*form, "AdcGroupParsLMDGroupBox")
                  ->DataFormatLMDComboBox->currentIndex(),
              0);
    StartAndWaitFrames(2);
    ASSERT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    EXPECT_EQ(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->text(),
              ViewText::StopCaption);
    EXPECT_EQ(Voltage(0), "707.11");
    EXPECT_EQ(Frequency(0), "1.00000");
    EXPECT_EQ(Phase(0), "0.000");
    EXPECT_EQ(Voltage(1), "353.55");
    EXPECT_EQ(Phase(1), "30.000");
    EXPECT_EQ(Voltage(2), "1414.21");
    EXPECT_EQ(Phase(2), "-90.000");
    EXPECT_EQ(Voltage(4), "176.78");
    EXPECT_EQ(Phase(4), "120.000");
    EXPECT_EQ(Panel(0).Value1LMDEdit->FontColor(), TValueEdit::Lime);
    EXPECT_EQ(Panel(0).Value2LabUnitLMDLabel->text().toStdString(), "кГц");
    // Unticked channels: dashes, disabled.
    EXPECT_EQ(Voltage(6), "--------");
    EXPECT_FALSE(Panel(6).Value1LMDEdit->isEnabled());

    PressStop();
    ExpectStoppedAndUsable();
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_TRUE(dialogs.Shown().empty());
    // A frame shown is always followed by its lamps.
    EXPECT_FALSE(Panel(0).FlashLed->Value());
    EXPECT_NE(Panel(0).FlashLed->ShownColor(), Red);
}

TEST_F(MeasurementWindow, OpenAndShortChannelsAreMarkedRedWithRedLamps)
{
    Choose(0xFF, 6, 0);
    StartAndWaitFrames(2);
    PressStop();
    ASSERT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    EXPECT_EQ(Voltage(6), "ОБРЫВ!!!");
    EXPECT_EQ(Voltage(7), "КЗ!!!");
    for (std::size_t c : {6u, 7u}) {
        EXPECT_EQ(Panel(c).Value1LMDEdit->FontColor(), Red);
        EXPECT_EQ(Frequency(c), "--------");
        EXPECT_FALSE(Panel(c).Value3LMDEdit->isEnabled());
        EXPECT_EQ(Panel(c).FlashLed->ShownColor(), Red);
    }
    EXPECT_EQ(Voltage(0), "707.11");
    EXPECT_NE(Panel(0).FlashLed->ShownColor(), Red);
}

TEST_F(MeasurementWindow, AmplitudeAndSumMethods)
{
    form->Settings->Record.AmplitudeType = "amp";
    StartAndWaitFrames(1);
    EXPECT_EQ(Voltage(0), "1000.00");
    PressStop();

    form->Settings->Record.AmplitudeType = "rms";
    form->Settings->Record.CalcMethod = "sum";
    StartAndWaitFrames(1);
    EXPECT_EQ(Voltage(0), "707.11");
    EXPECT_EQ(Voltage(2), "1414.21");
    EXPECT_EQ(Frequency(0), "--------");
    EXPECT_EQ(Phase(0), "--------");
    EXPECT_FALSE(Panel(0).Value2LMDEdit->isEnabled());
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(MeasurementWindow, TheReferenceMovedWhileRunningTakesEffectAtTheNextFrame)
{
    Choose(0b00000011, 7, 1);  // 24-bit
    StartAndWaitFrames(1);
    EXPECT_EQ(Phase(1), "30.000");
    TCaptionAboveRadioButton* radio = Panel(1).BasePhaseChannelLMDRadioButton;
    radio->click();
    const std::uint64_t seen = FramesShown();
    ASSERT_TRUE(WaitUntil([&] { return FramesShown() >= seen + 2; }, WaitLimit));
    EXPECT_EQ(form->Settings->Record.ReferenceChannel, 1);
    EXPECT_EQ(Phase(0), "-30.000");
    EXPECT_EQ(Phase(1), "0.000");
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(MeasurementWindow, DataRateRefusalsShowTheThreadDialog)
{
    PickCrate(1);  // "KSN1-0107", type 21
    Choose(0b00000111, 7, 0);
    PressStart();
    ASSERT_TRUE(WaitUntil([&] { return form->MeasurementIdle.load(); }, WaitLimit));
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    const ShownDialog& shown = dialogs.Shown()[0];
    EXPECT_EQ(shown.kind, DialogKind::ThreadDialog);
    EXPECT_EQ(shown.caption, MeasureText::ThreadMessageCaption);
    const std::string message = shown.text.toStdString();
    EXPECT_NE(message.find("составляет 937.5 Кбайт/с"), std::string::npos) << message;
    EXPECT_NE(message.find("величину 800.0 Кбайт/с !!! "), std::string::npos) << message;
    EXPECT_EQ(shown.buttons, QStringList{QStringLiteral("Принято")});
    ExpectStoppedAndUsable();

    dialogs.Clear();
    PickCrate(0);  // "KSN5-0042", type 40
    Choose(0xFF, 7, 0);
    PressStart();
    ASSERT_TRUE(WaitUntil([&] { return form->MeasurementIdle.load(); }, WaitLimit));
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_NE(dialogs.Shown()[0].text.toStdString().find("KSN-P5"), std::string::npos);
}

// How one value box of a panel must look.
struct BoxLook {
    const char* text;  // nullptr: any number
    bool warning;      // yellow rather than lime
    const QString* hint;
};

struct MarkedCase {
    const char* name;
    std::vector<std::string> control;  // on the default module before the start
    std::size_t channel;
    BoxLook voltage, frequency, phase;
};

void PrintTo(const MarkedCase& c, std::ostream* os)
{
    *os << c.name;
}

class MarkedReadings : public MeasurementWindow,
                       public ::testing::WithParamInterface<MarkedCase> {};

TEST_P(MarkedReadings, ShowTheirNumbersYellowWithAHint)
{
    const MarkedCase& c = GetParam();
    Control(c.control);
    StartAndWaitFrames(2);
    ASSERT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    const TKsn48AdcChannelFrame& panel = Panel(c.channel);
    const struct {
        const TValueEdit* edit;
        BoxLook look;
        const char* name;
    } boxes[] = {{panel.Value1LMDEdit, c.voltage, "voltage"},
                 {panel.Value2LMDEdit, c.frequency, "frequency"},
                 {panel.Value3LMDEdit, c.phase, "phase"}};
    for (const auto& box : boxes) {
        SCOPED_TRACE(box.name);
        const std::string text = Text(box.edit);
        if (box.look.text != nullptr) {
            EXPECT_EQ(text, box.look.text);
        } else {
            EXPECT_NE(text.find('.'), std::string::npos) << text;  // a number, not dashes
        }
        const bool dashes = text == "--------";
        EXPECT_EQ(box.edit->isEnabled(), !dashes);
        EXPECT_EQ(box.edit->FontColor(), box.look.warning ? TValueEdit::Warning : TValueEdit::Lime);
        EXPECT_EQ(box.edit->toolTip(), box.look.hint != nullptr ? *box.look.hint : QString());
    }
    // The LED tells of a valid status, as before.
    EXPECT_NE(panel.FlashLed->ShownColor(), Red);
    // The reference channel, untouched, reads as ever.
    EXPECT_EQ(Voltage(0), "707.11");
    EXPECT_EQ(Panel(0).Value1LMDEdit->FontColor(), TValueEdit::Lime);
    EXPECT_TRUE(Panel(0).Value3LMDEdit->toolTip().isEmpty());
    PressStop();
    ExpectStoppedAndUsable();
}

constexpr BoxLook Number{nullptr, false, nullptr};
constexpr BoxLook Dashes(const QString& hint)
{
    return {"--------", false, &hint};
}
constexpr BoxLook Warned(const QString& hint, const char* text = nullptr)
{
    return {text, true, &hint};
}

const MarkedCase markedCases[] = {
    // At the default 0.75 s and 78125 Hz a bin is 1.19 Hz: 10 Hz lies at 8.4.
    {"TenHertzTone",
     {"signal", "2", "--sine", "0.5,10,30"},
     1,
     Warned(MeasureText::BelowBandHint),
     Warned(MeasureText::BelowBandHint),
     Warned(MeasureText::BelowBandHint)},
    {"ToneTwoHertzBelowHalfTheRate",
     {"signal", "5", "--sine", "0.25,39060.5,0"},
     4,
     Warned(MeasureText::AboveBandHint),
     Warned(MeasureText::AboveBandHint),
     Warned(MeasureText::AboveBandHint)},
    {"EightVoltTone",
     {"signal", "3", "--sine", "8,1000,-90"},
     2,
     Warned(MeasureText::OverRangeHint),
     {"1.00000", false, nullptr},
     {"-90.000", false, nullptr}},
    {"DcOnly",
     {"signal", "4", "--no-sines", "--dc", "1.5"},
     3,
     Warned(MeasureText::NoToneHint),
     Dashes(MeasureText::NoToneHint),
     Dashes(MeasureText::NoToneHint)},
    {"NoiseOnly",
     {"signal", "4", "--no-sines", "--noise", "0.01"},
     3,
     Warned(MeasureText::NoToneHint),
     Dashes(MeasureText::NoToneHint),
     Dashes(MeasureText::NoToneHint)},
};

INSTANTIATE_TEST_SUITE_P(Table, MarkedReadings, ::testing::ValuesIn(markedCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(MeasurementWindow, AnOpenReferenceDashesEveryPhaseUntilItReadsAgain)
{
    StartAndWaitFrames(1);
    EXPECT_EQ(Phase(1), "30.000");
    Control({"status", "1", "open"});
    ASSERT_TRUE(WaitUntil([&] { return Voltage(0) == "ОБРЫВ!!!"; }, WaitLimit));
    for (std::size_t c = 1; c < 6; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c + 1));
        EXPECT_EQ(Phase(c), "--------");
        EXPECT_FALSE(Panel(c).Value3LMDEdit->isEnabled());
        EXPECT_EQ(Panel(c).Value3LMDEdit->toolTip(), MeasureText::ReferenceNoReadingHint);
        // Voltage and frequency read on, as they are.
        EXPECT_EQ(Panel(c).Value1LMDEdit->FontColor(), TValueEdit::Lime);
        EXPECT_EQ(Frequency(c), "1.00000");
    }
    EXPECT_EQ(Voltage(1), "353.55");

    Control({"status", "1", "ok"});
    ASSERT_TRUE(WaitUntil([&] { return Phase(1) == "30.000"; }, WaitLimit));
    const std::uint64_t seen = FramesShown();
    ASSERT_TRUE(WaitUntil([&] { return FramesShown() >= seen + 1; }, WaitLimit));
    EXPECT_EQ(Voltage(0), "707.11");
    EXPECT_EQ(Phase(2), "-90.000");
    EXPECT_EQ(Phase(4), "120.000");
    for (std::size_t c = 0; c < 6; ++c) {
        EXPECT_TRUE(Panel(c).Value3LMDEdit->isEnabled()) << c;
        EXPECT_TRUE(Panel(c).Value3LMDEdit->toolTip().isEmpty()) << c;
        EXPECT_EQ(Panel(c).Value3LMDEdit->FontColor(), TValueEdit::Lime) << c;
    }
    EXPECT_TRUE(dialogs.Shown().empty());
    PressStop();
    ExpectStoppedAndUsable();
}

// The values are written with a point under a desktop locale with a decimal
// comma, and the worker leaves the process's locale as it found it.
TEST_F(MeasurementWindow, NumbersKeepThePointUnderACommaLocale)
{
    const ksn::test::CommaLocale comma;
    if (!comma.Active()) {
        GTEST_SKIP() << "no locale with a decimal comma can be had here";
    }
    StartAndWaitFrames(2);
    EXPECT_EQ(Voltage(0), "707.11");
    EXPECT_EQ(Frequency(0), "1.00000");
    EXPECT_EQ(Phase(1), "30.000");
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");
    PressStop();
    ExpectStoppedAndUsable();
    EXPECT_TRUE(dialogs.Shown().empty());
}

// With no rate in the list the channels and the reference are checked first,
// then the message says plainly that no rate is chosen.
TEST_F(MeasurementWindow, NoRateChosenIsSaidPlainlyAfterTheChannelChecks)
{
    const struct {
        unsigned channels;
        std::string_view message;
    } cases[] = {
        {0b00111111, MeasurementText::NoRateChosen},
        {0b00111110, MeasurementText::ReferenceNotActive},
        {0, MeasurementText::NoActiveChannel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.message));
        Choose(c.channels, -1, 0);
        dialogs.Clear();
        PressStart();
        ASSERT_TRUE(WaitUntil([&] { return form->MeasurementIdle.load(); }, WaitLimit));
        ASSERT_EQ(dialogs.Shown().size(), 1u);
        EXPECT_EQ(dialogs.Shown()[0].text.toStdString(), c.message);
        EXPECT_EQ(dialogs.Shown()[0].caption, MeasureText::ThreadMessageCaption);
        ExpectStoppedAndUsable();
    }
}

struct StopCase {
    const char* name;
    std::function<void(TMainForm&)> stop;
};

void PrintTo(const StopCase& c, std::ostream* os)
{
    *os << c.name;
}

class MeasurementStop : public MeasurementWindow, public ::testing::WithParamInterface<StopCase> {
protected:
    // Real-time pacing, so that the stop lands in a receive.
    void SetUp() override { Prepare(false); }
};

TEST_P(MeasurementStop, EndsTheRunAndLeavesTheModuleUsable)
{
    StartAndWaitFrames(1);
    ASSERT_GE(FramesShown(), 1u);
    GetParam().stop(*form);
    ASSERT_TRUE(WaitUntil([&] { return form->Worker() == nullptr; }, std::chrono::seconds(6)));
    ExpectStoppedAndUsable();
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    EXPECT_EQ(KSN48_IsOpened(&form->Ksn48Handle), 0);
}

const StopCase stopCases[] = {
    {"StopButton",
     [](TMainForm& f) { Find<QPushButton>(f, "StartMultimeterLMDSpeedButton")->click(); }},
    {"RateChanged",
     [](TMainForm& f) {
         ksn::test::PickListItem(*Find<QComboBox>(f, "AdcRateComboBox"),
                                 Find<QComboBox>(f, "AdcRateComboBox")->currentIndex() == 6 ? 5
                                                                                            : 6);
     }},
    {"Escape", [](TMainForm& f) { f.ApplicationShortCut(Qt::Key_Escape); }},
    {"ChannelBoxChanged",
     [](TMainForm& f) { f.ChannelFrames[7]->ChannelNumberLMDCheckBox->click(); }},
};

INSTANTIATE_TEST_SUITE_P(Table, MeasurementStop, ::testing::ValuesIn(stopCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A run that loses its module says so once, shows the module as not open,
// and the next start opens it again before it measures.
struct LostLinkCase : ksn::test::NamedCase {
    bool killServer;  // killed and started again before the next start; else the module dropped
};

class ModuleLost : public MeasurementWindow, public ::testing::WithParamInterface<LostLinkCase> {
public:
    void SetUp() override { Prepare(true); }
};

TEST_P(ModuleLost, ShowsTheModuleBadAndTheNextStartReopensIt)
{
    StartAndWaitFrames(1);
    if (GetParam().killServer) {
        server->Kill();
    } else {
        Control({"drop"});
    }
    ASSERT_TRUE(WaitUntil([&] { return form->MeasurementIdle.load(); }, WaitLimit));
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].caption, MeasureText::ThreadMessageCaption);
    ExpectStoppedAndUsable();
    ASSERT_TRUE(WaitUntil([&] { return form->ModuleState.load() == 0; }, WaitLimit));
    EXPECT_EQ(Find<TLed>(*form, "ModuleStatusLed")->ShownColor(), Red);
    EXPECT_EQ(Find<TLed>(*form, "ModuleStatusLed")->toolTip(),
              QStringLiteral("Статус модуля 'KSN48' -> BAD"));
    EXPECT_EQ(Find<QLabel>(*form, "ModuleSerialNumberLMDLabel")->text(),
              QStringLiteral("????????"));
    EXPECT_FALSE(Find<QFrame>(*form, "StartMultimeterLMDSimplePanel")->isHidden());

    dialogs.Clear();
    if (GetParam().killServer) {
        server->Restart();
    }
    PressStart();
    ASSERT_TRUE(WaitUntil([&] { return FramesShown() >= 1; }, std::chrono::seconds(10)))
        << (dialogs.Shown().empty() ? "" : dialogs.Shown()[0].text.toStdString());
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(form->ModuleState.load(), 2);
    EXPECT_EQ(Find<QLabel>(*form, "ModuleSerialNumberLMDLabel")->text(), QStringLiteral("4811001"));
    EXPECT_EQ(Voltage(0), "707.11");
    PressStop();
}

INSTANTIATE_TEST_SUITE_P(Table, ModuleLost,
                         ::testing::Values(LostLinkCase{{"ServerKilledAndRestarted"}, true},
                                           LostLinkCase{{"ModuleDropped"}, false}),
                         ksn::test::CaseName<LostLinkCase>);

// A start while the server is still gone: the pass says the module cannot
// be opened, and the button comes up again.
TEST_F(MeasurementWindow, AStartWhileTheModuleCannotBeReopenedReleasesTheButton)
{
    ASSERT_NO_FATAL_FAILURE(PressStartWhileTheServerIsGone());
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked() &&
                   form->DetectionThread() == nullptr;
        },
        std::chrono::seconds(15)));
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(form->ModuleState.load(), 0);
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text,
              QStringLiteral("Не могу проинициализировать модуль в указанном слоте!"));
}

TEST_F(MeasurementWindow, AKilledServerGivesOneMessageAndANewDetectionMeasuresAgain)
{
    StartAndWaitFrames(1);
    server->Kill();
    ASSERT_TRUE(WaitUntil([&] { return form->MeasurementIdle.load(); }, WaitLimit));
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].caption, MeasureText::ThreadMessageCaption);
    ExpectStoppedAndUsable();

    dialogs.Clear();
    server->Restart();
    FindDevices();
    StartAndWaitFrames(1);
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(Voltage(0), "707.11");
}

TEST_F(MeasurementWindow, AMissingProcessingFunctionIsReportedAndTheThreadIdlesUntilStopped)
{
    form.reset();
    MainFormSetup setup;
    setup.MainThread = [](TMainForm& f, std::uint16_t page) -> std::unique_ptr<TThread> {
        auto thread = std::make_unique<TMainThread>(true, page,
                                                    std::make_unique<TMainFormMeasurementView>(f));
        thread->ProcessingIndex = 1;  // past the table
        return thread;
    };
    form = std::make_unique<TMainForm>(setup);
    form->StartThread();
    ASSERT_TRUE(WaitUntil([&] { return !dialogs.Shown().empty(); }, WaitLimit));
    EXPECT_EQ(dialogs.Shown()[0].text, MeasureText::NoProcessingFunction);
    EXPECT_EQ(dialogs.Shown()[0].caption, MeasureText::ThreadMessageCaption);
    // Finished with its work, the thread waits for the window.
    WaitUntil([] { return false; }, std::chrono::milliseconds(200));
    ASSERT_NE(form->Worker(), nullptr);
    EXPECT_FALSE(form->Worker()->Finished());
    EXPECT_TRUE(form->MainThreadRunning);
    form->StopThread();
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_FALSE(form->MainThreadRunning);
    EXPECT_EQ(dialogs.Shown().size(), 1u);
}

}  // namespace

namespace {

// The worker's receive, recording the thread it runs on.
std::atomic<std::thread::id> receivingThread{};
int (*forwardedRecv)(Ksn48Handle*, std::uint32_t*, std::uint32_t*, std::uint32_t,
                     std::uint32_t) = nullptr;

int RecordingRecv(Ksn48Handle* h, std::uint32_t* words, std::uint32_t* marks, std::uint32_t count,
                  std::uint32_t timeoutMs)
{
    receivingThread = std::this_thread::get_id();
    return forwardedRecv(h, words, marks, count, timeoutMs);
}

measure::ModuleApi StandInModule()
{
    fake::Reset();
    for (std::size_t c = 0; c < 8; ++c) {
        fake::Current().Tones[c] = {0.5 + 0.1 * static_cast<double>(c), 1000.0,
                                    10.0 * static_cast<double>(c)};
    }
    return fake::Api();
}

// Whose frames the worker measures: the module library's from the crate
// server, or the stand-in module's.
class WorkerAllocations : public MeasurementWindow, public ::testing::WithParamInterface<bool> {};

TEST_P(WorkerAllocations, FramesAfterTheSecondAllocateNothingOnTheWorker)
{
    // Counted on the worker thread only: the display steps it hands over run
    // on the window's thread, and the texts they make are the window's
    // allocations, not the worker's. The worker's own share of every step
    // (handing it over, waiting, taking back its outcome) is counted, and
    // with the module library so are its start, receives and conversions.
    if (GetParam()) {
        workerApi = StandInModule();
    }
    forwardedRecv = workerApi.Recv;
    workerApi.Recv = &RecordingRecv;
    receivingThread = std::thread::id{};
    StartAndWaitFrames(2);  // the new settings file's six channels at the highest rate
    ASSERT_FALSE(form->MeasurementIdle)
        << "the run ended before its second frame: "
        << (dialogs.Shown().empty() ? std::string() : dialogs.Shown()[0].text.toStdString());
    ASSERT_NE(receivingThread.load(), std::thread::id{});
    counting::BeginOnThread(receivingThread);
    const std::uint64_t from = FramesShown();
    const bool ran =
        WaitUntil([&] { return FramesShown() >= from + 5 || form->MeasurementIdle; }, WaitLimit);
    const long allocations = counting::End();
    ASSERT_TRUE(ran);
    ASSERT_GE(FramesShown(), from + 5) << "the run ended early";
    EXPECT_EQ(allocations, 0) << "heap allocations on the worker in five frames";
    PressStop();
    ExpectStoppedAndUsable();
    EXPECT_TRUE(dialogs.Shown().empty());
}

INSTANTIATE_TEST_SUITE_P(Modules, WorkerAllocations, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "StandInModule" : "ModuleLibrary";
                         });

}  // namespace

namespace {

// Pings the window's thread every 100 ms, as an operator's clicks would
// reach it, and keeps the longest time between two pings: how long the
// window was frozen.
class FreezeProbe {
public:
    FreezeProbe()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Ping(); });
        last_ = Clock::now();
        timer_.start(100);
    }
    std::chrono::milliseconds Longest()
    {
        Ping();
        return std::chrono::duration_cast<std::chrono::milliseconds>(longest_);
    }

private:
    void Ping()
    {
        const auto now = Clock::now();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }

    QTimer timer_;
    Clock::time_point last_;
    Clock::duration longest_{};
};

struct StalledStopCase {
    const char* name;
    std::function<void(TMainForm&)> stop;
    bool closesTheWindow;
};

void PrintTo(const StalledStopCase& c, std::ostream* os)
{
    *os << c.name;
}

// The server stops answering the worker's receives; the operator stops.
class StopDuringAStalledReceive : public MeasurementWindow,
                                  public ::testing::WithParamInterface<StalledStopCase> {};

TEST_P(StopDuringAStalledReceive, ReturnsAtOnceWithoutAMessage)
{
    StartAndWaitFrames(1);
    ASSERT_EQ(server->Ctl({"stall", "KSN5-0042", "3", "on"}), 0);
    // The worker now waits in a receive that gets no answer.
    WaitUntil([] { return false; }, std::chrono::milliseconds(500));
    const std::uint64_t shown = FramesShown();
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    ASSERT_EQ(FramesShown(), shown) << "the worker is not waiting in a receive";
    ASSERT_FALSE(form->MeasurementIdle);

    FreezeProbe probe;
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    GetParam().stop(*form);
    ASSERT_TRUE(WaitUntil([&] { return form->Worker() == nullptr; }, std::chrono::seconds(6)));
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    const std::chrono::milliseconds longest = probe.Longest();
    std::printf("%s: longest gap of the window's thread %lld ms\n", GetParam().name,
                static_cast<long long>(longest.count()));
    RecordProperty("LongestGapMs", static_cast<int>(longest.count()));
    // The receive would block for 5 s; the run's own end takes a 100 ms pause.
    EXPECT_LT(longest, std::chrono::milliseconds(400));
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    if (GetParam().closesTheWindow) {
        EXPECT_NE(KSN48_IsOpened(&form->Ksn48Handle), 0);
        return;
    }
    ExpectStoppedAndUsable();
    ASSERT_EQ(KSN48_IsOpened(&form->Ksn48Handle), 0);
    // The module measures again once the server answers.
    ASSERT_EQ(server->Ctl({"stall", "KSN5-0042", "3", "off"}), 0);
    StartAndWaitFrames(1);
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    EXPECT_EQ(Voltage(0), "707.11");
}

const StalledStopCase stalledStopCases[] = {
    {"StopButton",
     [](TMainForm& f) { Find<QPushButton>(f, "StartMultimeterLMDSpeedButton")->click(); }, false},
    {"Escape", [](TMainForm& f) { f.ApplicationShortCut(Qt::Key_Escape); }, false},
    {"Close", [](TMainForm& f) { f.close(); }, true},
};

INSTANTIATE_TEST_SUITE_P(Table, StopDuringAStalledReceive, ::testing::ValuesIn(stalledStopCases),
                         [](const auto& p) { return std::string(p.param.name); });

// --- results leaving the window: the recording and the MQTT feed ---

std::string ReadFile(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ',')) {
            fields.push_back(cell);
        }
        if (!line.empty() && line.back() == ',') {
            fields.emplace_back();
        }
        rows.push_back(fields);
    }
    return rows;
}

std::size_t Column(const std::vector<std::string>& header, const std::string& name)
{
    const auto at = std::find(header.begin(), header.end(), name);
    EXPECT_NE(at, header.end()) << name;
    return static_cast<std::size_t>(at - header.begin());
}

class ResultsOfTheWindow : public MeasurementWindow {
protected:
    QString SettingsFile() const { return settingsDir.filePath(QStringLiteral("Ksn48_Vevu.ini")); }
    QString ResultsFile() const { return settingsDir.filePath(QStringLiteral("results.csv")); }
    std::size_t RowsInFile() const
    {
        const std::string bytes = ReadFile(ResultsFile());
        const auto lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        return lines > 0 ? lines - 1 : 0;
    }
    // The panels' three fields, as the operator reads them.
    std::vector<std::string> PanelTexts() const
    {
        std::vector<std::string> texts;
        for (std::size_t c = 0; c < 6; ++c) {
            texts.push_back(Voltage(c));
            texts.push_back(Frequency(c));
            texts.push_back(Phase(c));
        }
        return texts;
    }
    // A row's values in the panels' formats.
    std::vector<std::string> RowTexts(const std::vector<std::string>& header,
                                      const std::vector<std::string>& row) const
    {
        const SettingsRecord& record = form->Settings->Record;
        std::vector<std::string> texts;
        for (int n = 1; n <= 6; ++n) {
            const std::string ch = "ch" + std::to_string(n);
            const auto shown = [&](const std::string& column, const std::string& pattern) {
                const std::string& cell = row.at(Column(header, ch + column));
                return cell.empty() ? std::string("--------")
                                    : NumberText::FormatFloat(pattern, std::stod(cell));
            };
            texts.push_back(shown("_mV", record.AcFormat[0]));
            texts.push_back(shown("_kHz", record.FrFormat[0]));
            texts.push_back(shown("_deg", record.PhFormat[0]));
        }
        return texts;
    }
    void AppendToSettings(const std::string& text) const
    {
        std::ofstream(SettingsFile().toStdString(), std::ios::app | std::ios::binary) << text;
    }
};

TEST_F(ResultsOfTheWindow, ARecordingTakesEveryFrameWithTheValuesThePanelsShow)
{
    const std::string settingsBefore = ReadFile(SettingsFile());
    ASSERT_FALSE(settingsBefore.empty());
    StartAndWaitFrames(1);
    FileDialogAnswerer answers({ResultsFile()});
    Find<QAction>(*form, "RecordResults")->trigger();
    QCoreApplication::processEvents();  // the item's handler runs queued
    ASSERT_TRUE(Find<QAction>(*form, "RecordResults")->isChecked());
    ASSERT_TRUE(WaitUntil([&] { return RowsInFile() >= 3; }, WaitLimit));
    // In the same turn of the window's thread: the recording ends with the
    // frame the panels show.
    form->RecordResultsClick();
    const std::vector<std::string> panels = PanelTexts();
    EXPECT_FALSE(Find<QAction>(*form, "RecordResults")->isChecked());
    ASSERT_NE(form->Worker(), nullptr) << "the measurement goes on";

    const auto rows = CsvRows(ReadFile(ResultsFile()));
    ASSERT_GE(rows.size(), 4u);
    // The tool's header for channels 1 to 6.
    std::string header = "time,frame";
    for (int n = 1; n <= 6; ++n) {
        for (const char* suffix : {"_mV", "_kHz", "_deg", "_status", "_inband"}) {
            header += ",ch" + std::to_string(n) + suffix;
        }
    }
    EXPECT_EQ(ReadFile(ResultsFile()).substr(0, header.size() + 1), header + "\n");
    for (std::size_t r = 1; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].size(), rows[0].size()) << r;
        EXPECT_EQ(rows[r][1], std::to_string(r));
        EXPECT_EQ(rows[r][Column(rows[0], "ch1_status")], "ok");
    }
    EXPECT_EQ(RowTexts(rows[0], rows.back()), panels);
    EXPECT_EQ(panels[0], "707.11");
    EXPECT_TRUE(dialogs.Shown().empty());
    // Recording leaves the settings file alone.
    EXPECT_EQ(ReadFile(SettingsFile()), settingsBefore);

    // Chosen again: appended to, without a second header.
    const std::size_t before = rows.size();
    FileDialogAnswerer again({ResultsFile()});
    Find<QAction>(*form, "RecordResults")->trigger();
    QCoreApplication::processEvents();  // the item's handler runs queued
    ASSERT_TRUE(WaitUntil([&] { return RowsInFile() >= before + 1; }, WaitLimit));
    PressStop();
    // The measurement's end ends the recording.
    EXPECT_FALSE(form->RecordingResults());
    EXPECT_FALSE(Find<QAction>(*form, "RecordResults")->isChecked());
    const auto all = CsvRows(ReadFile(ResultsFile()));
    EXPECT_EQ(all[before][1], "1");
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const auto& r) { return r[0] == "time"; }),
              1);
}

TEST_F(ResultsOfTheWindow, AWriteFailureEndsTheRecordingWithAMessageAndTheMeasurementGoesOn)
{
    StartAndWaitFrames(1);
    // Room for the header and a row or two: then the file refuses more.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 1200;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    FileDialogAnswerer answers({ResultsFile()});
    Find<QAction>(*form, "RecordResults")->trigger();
    QCoreApplication::processEvents();  // the item's handler runs queued
    const bool said = WaitUntil([&] { return !dialogs.Shown().empty(); }, WaitLimit);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(said);
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Ошибка записи результатов!"));
    EXPECT_TRUE(
        dialogs.Shown()[0].text.contains(QLatin1Char('\'') + ResultsFile() + QLatin1Char('\'')))
        << dialogs.Shown()[0].text.toStdString();
    EXPECT_FALSE(form->RecordingResults());
    EXPECT_FALSE(Find<QAction>(*form, "RecordResults")->isChecked());
    // Whole rows only, and the measurement goes on.
    const std::string bytes = ReadFile(ResultsFile());
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
    const std::uint64_t shown = FramesShown();
    ASSERT_TRUE(WaitUntil([&] { return FramesShown() >= shown + 2; }, WaitLimit));
    EXPECT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(ReadFile(ResultsFile()), bytes);
}

TEST_F(ResultsOfTheWindow, TheFeedPublishesEveryFrameOfTheBenchFromItsSettingsSection)
{
    ksn::test::MqttBroker broker;
    ksn::test::MqttSubscriber subscriber(broker.Port(), "ksn48/#");
    const std::string base = "ksn48/KSN5-0042/3";
    AppendToSettings("[MQTT]\r\nEnabled=1\r\nBroker=" + broker.Address() + "\r\nQoS=1\r\n");
    // Read with the settings, at the end of a detection pass: the bench is
    // online before it measures.
    FindDevices();
    ASSERT_TRUE(WaitUntil([&] { return form->FeedPublisher() != nullptr; }, WaitLimit));
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const auto& m) { return ksn::test::MqttSubscriber::CountOn(m, base + "/status") >= 1; },
        std::chrono::seconds(10)));
    StartAndWaitFrames(3);
    ASSERT_TRUE(WaitUntil([&] { return subscriber.On(base + "/frame").size() >= 3; }, WaitLimit));
    PressStop();
    ASSERT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    const auto frames = subscriber.On(base + "/frame");
    const nlohmann::json last = nlohmann::json::parse(frames.back().Payload);
    EXPECT_EQ(NumberText::FormatFloat("0.00", last["ch1_mV"].get<double>()), Voltage(0));
    EXPECT_EQ(NumberText::FormatFloat("0.000", last["ch2_deg"].get<double>()), Phase(1));
    EXPECT_EQ(last["ch6_status"], "ok");
    EXPECT_FALSE(last.contains("ch7_status"));
    const nlohmann::json run =
        nlohmann::json::parse(subscriber.On(base + "/config").back().Payload);
    EXPECT_EQ(run["channels"], nlohmann::json::array({1, 2, 3, 4, 5, 6}));
    // Closing the window takes the bench offline.
    form.reset();
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const auto& m) { return ksn::test::MqttSubscriber::CountOn(m, base + "/status") >= 2; },
        std::chrono::seconds(10)));
    EXPECT_EQ(subscriber.On(base + "/status").back().Payload, "offline");
}

TEST_F(ResultsOfTheWindow, ABrokenFeedValueIsSaidOnceAndLeavesPublishingOff)
{
    AppendToSettings("[MQTT]\r\nEnabled=1\r\nBroker=127.0.0.1:0\r\n");
    FindDevices();
    ASSERT_TRUE(WaitUntil([&] { return !dialogs.Shown().empty(); }, WaitLimit));
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Ошибка настроек MQTT!"));
    EXPECT_TRUE(dialogs.Shown()[0].text.contains(QStringLiteral("\"Broker\"")))
        << dialogs.Shown()[0].text.toStdString();
    EXPECT_EQ(form->FeedPublisher(), nullptr);
    // The measurement runs, and the same problem is not said again.
    StartAndWaitFrames(2);
    EXPECT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(form->FeedPublisher(), nullptr);
    EXPECT_EQ(Voltage(0), "707.11");
}

}  // namespace

namespace {

// --- a crate server that stops (SIGSTOP): no answer at all, the connection
// open. The window's thread must never be kept from its events for longer
// than this, and a stop the operator asks for returns as soon.
constexpr auto MaxFreeze = std::chrono::milliseconds(200);

// Prints the longest gap of the window's thread and checks it.
void ExpectResponsive(ksn::test::FreezeProbe& probe, const std::string& during)
{
    probe.Stop();
    std::printf("longest gap of the window's thread %s: %lld ms (%d pings)\n", during.c_str(),
                static_cast<long long>(probe.LongestGap().count()), probe.Served());
    ::testing::Test::RecordProperty("longest_gap_ms", static_cast<int>(probe.LongestGap().count()));
    EXPECT_LE(probe.LongestGap(), MaxFreeze) << during;
    EXPECT_GT(probe.Served(), 0);
}

class FrozenServer : public MeasurementWindow {
protected:
    void SetUp() override { Prepare(true, true); }
    void TearDown() override
    {
        if (server && server->Running()) {
            server->Resume();
        }
        MeasurementWindow::TearDown();
    }

    // The server stops just before the next request with this opcode.
    void FreezeBefore(ksn::proto::Opcode opcode)
    {
        frozen = false;
        proxy->BeforeRequest(opcode, proxy->Requests(opcode) + 1, [this] {
            server->Suspend();
            frozen = true;
        });
    }

    // After the server stopped and the call has waited a while, the
    // operator presses the start button up; how long the press took. The
    // press comes from a timer, since the window may be waiting in a step
    // of the worker's meanwhile.
    std::chrono::milliseconds PressStopWhileFrozen()
    {
        std::chrono::milliseconds took{-1};
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (!frozen || ++ticks < 3 || took.count() >= 0) {
                return;
            }
            timer.stop();
            const auto from = Clock::now();
            Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
            took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from);
        });
        timer.start(100);
        EXPECT_TRUE(WaitUntil([&] { return took.count() >= 0; }, std::chrono::seconds(15)));
        return took;
    }

    // The run is over: the button is up and shows the start caption.
    bool RunOver() const
    {
        return form->MeasurementIdle &&
               !Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked() &&
               Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->text() ==
                   ViewText::StartCaption;
    }

    // Once the server runs again, the next start measures.
    void ExpectTheNextStartMeasures()
    {
        server->Resume();
        dialogs.Clear();
        PressStart();
        ASSERT_TRUE(WaitUntil([&] { return FramesShown() >= 1; }, std::chrono::seconds(10)))
            << (dialogs.Shown().empty() ? "" : dialogs.Shown()[0].text.toStdString());
        EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
        EXPECT_EQ(Voltage(0), "707.11");
        PressStop();
        EXPECT_TRUE(WaitUntil([&] { return RunOver(); }, WaitLimit));
    }

    std::atomic<bool> frozen{false};
};

struct FrozenCallCase : ksn::test::NamedCase {
    ksn::proto::Opcode opcode;
    bool atStart;         // the call of the run's configuration, before any frame
    const char* message;  // the design's message once the call times out
};

const FrozenCallCase frozenCalls[] = {
    {{"SetADC"}, ksn::proto::Opcode::SetAdc, true, "KSN48_SetADC() --> BAD!!!"},
    {{"Start"}, ksn::proto::Opcode::Start, false, "Не могу выполнить запуск сбора кадра данных!!!"},
    {{"Stop"}, ksn::proto::Opcode::Stop, false, "Не могу выполнить останов сбора данных!!!"},
    {{"Recv"}, ksn::proto::Opcode::Recv, false, "Не могу получить данные с модуля!"},
};

class StopWhileFrozen : public FrozenServer,
                        public ::testing::WithParamInterface<FrozenCallCase> {};

// The operator stops while a call of the run waits for the stopped server:
// the press returns at once, nothing is said, and the module measures again
// once the server runs.
TEST_P(StopWhileFrozen, ReturnsAtOnceWithoutAMessage)
{
    const FrozenCallCase& c = GetParam();
    if (c.atStart) {
        FreezeBefore(c.opcode);
        PressStart();
    } else {
        StartAndWaitFrames(1);
        FreezeBefore(c.opcode);
    }
    ksn::test::FreezeProbe probe;
    const std::chrono::milliseconds took = PressStopWhileFrozen();
    std::printf("the stop press took %lld ms\n", static_cast<long long>(took.count()));
    EXPECT_LT(took, MaxFreeze);
    const auto pressed = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return RunOver(); }, std::chrono::seconds(2)));
    const auto over =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed) + took;
    std::printf("the run was over %lld ms after the press\n", static_cast<long long>(over.count()));
    EXPECT_LT(over, std::chrono::milliseconds(500));
    WaitUntil([] { return false; }, std::chrono::milliseconds(200));
    ExpectResponsive(probe, "stopping while " + std::string(c.name) + " waits");
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    ExpectStoppedAndUsable();
    EXPECT_EQ(form->ModuleState.load(), 2) << "a stop is no lost module";
    ExpectTheNextStartMeasures();
}

INSTANTIATE_TEST_SUITE_P(Table, StopWhileFrozen, ::testing::ValuesIn(frozenCalls),
                         ksn::test::CaseName<FrozenCallCase>);

// "Обнаружить" while the run's configuration waits for the stopped server:
// the run is cut short, and the detection pass starts only once the worker
// has ended, so that the two never share the module handle.
TEST_F(FrozenServer, ADetectionAskedForDuringTheConfigurationWaitsForTheWorker)
{
    FreezeBefore(ksn::proto::Opcode::SetAdc);
    PressStart();
    bool clicked = false;
    bool overlapped = false;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (form->DetectionThread() != nullptr && form->Worker() != nullptr &&
            !form->Worker()->Finished()) {
            overlapped = true;
        }
        if (frozen && !clicked && ++ticks >= 3) {
            clicked = true;
            Find<QPushButton>(*form, "FindDeviceLMDButton")->click();
            server->Resume();
        }
    });
    timer.start(10);
    ASSERT_TRUE(WaitUntil([&] { return clicked; }, WaitLimit));
    ASSERT_TRUE(WaitUntil([&] { return form->DetectionOver() && form->ModuleState.load() == 2; },
                          WaitLimit));
    timer.stop();
    EXPECT_FALSE(overlapped) << "the pass ran while the worker was still there";
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    EXPECT_TRUE(RunOver());
    StartAndWaitFrames(1);
    EXPECT_EQ(Voltage(0), "707.11");
    PressStop();
}

class UnansweredCall : public FrozenServer,
                       public ::testing::WithParamInterface<FrozenCallCase> {};

// Nobody stops: the call waits its time out while the window goes on, then
// the design's message; the module counts as lost, and the next start once
// the server runs opens it again and measures.
TEST_P(UnansweredCall, KeepsTheWindowGoingAndEndsInTheDesignsMessage)
{
    const FrozenCallCase& c = GetParam();
    ksn::test::FreezeProbe probe;
    if (c.atStart) {
        FreezeBefore(c.opcode);
        PressStart();
    } else {
        StartAndWaitFrames(1);
        FreezeBefore(c.opcode);
    }
    dialogs.Clear();
    ASSERT_TRUE(WaitUntil([&] { return RunOver(); }, std::chrono::seconds(12)));
    ExpectResponsive(probe, "while " + std::string(c.name) + " waits its time out");
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text.toStdString(), c.message);
    EXPECT_EQ(dialogs.Shown()[0].caption, MeasureText::ThreadMessageCaption);
    ExpectTheNextStartMeasures();
}

INSTANTIATE_TEST_SUITE_P(Table, UnansweredCall, ::testing::ValuesIn(frozenCalls),
                         ksn::test::CaseName<FrozenCallCase>);

// Twenty presses of the start button 30 ms apart, as an impatient operator
// makes them: the window never stops serving its events for long.
TEST_F(MeasurementWindow, RapidStartPressesKeepTheWindowGoing)
{
    ksn::test::FreezeProbe probe;
    int presses = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (presses < 20) {
            ++presses;
            Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
        }
    });
    timer.start(30);
    ASSERT_TRUE(WaitUntil([&] { return presses >= 20; }, WaitLimit));
    timer.stop();
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    if (Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked()) {
        PressStop();
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            return form->MeasurementIdle &&
                   !Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked();
        },
        WaitLimit));
    ExpectResponsive(probe, "during 20 start presses 30 ms apart");
    EXPECT_TRUE(dialogs.Shown().empty()) << dialogs.Shown()[0].text.toStdString();
    ExpectStoppedAndUsable();
    // And the button still measures.
    StartAndWaitFrames(1);
    EXPECT_EQ(Voltage(0), "707.11");
    PressStop();
}

// A start while the server is still gone says so, and leaves the start button
// there: once the server is back, the next start (or the module picked
// again) opens the module, as after the lost link itself.
struct ServerBackCase : ksn::test::NamedCase {
    bool repick;  // the operator picks the module again before the start
};

class StartWhileTheServerIsGone : public MeasurementWindow,
                                  public ::testing::WithParamInterface<ServerBackCase> {};

TEST_P(StartWhileTheServerIsGone, LeavesTheStartButtonForWhenItIsBack)
{
    ASSERT_NO_FATAL_FAILURE(PressStartWhileTheServerIsGone());
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked() &&
                   form->DetectionThread() == nullptr && !form->InitThreadRunning;
        },
        std::chrono::seconds(15)));
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text,
              QStringLiteral("Не могу проинициализировать модуль в указанном слоте!"));
    EXPECT_FALSE(Find<QFrame>(*form, "StartMultimeterLMDSimplePanel")->isHidden());
    EXPECT_TRUE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isEnabledTo(form.get()));
    EXPECT_EQ(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->text(),
              ViewText::StartCaption);

    dialogs.Clear();
    server->Restart();
    if (GetParam().repick) {
        ASSERT_TRUE(Find<QComboBox>(*form, "ModulesComboBox")->isEnabledTo(form.get()));
        ksn::test::PickListItem(*Find<QComboBox>(*form, "ModulesComboBox"),
                                Find<QComboBox>(*form, "ModulesComboBox")->currentIndex());
        WaitForDetection();
    }
    PressStart();
    ASSERT_TRUE(WaitUntil([&] { return FramesShown() >= 1; }, std::chrono::seconds(10)))
        << (dialogs.Shown().empty() ? "" : dialogs.Shown()[0].text.toStdString());
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(form->ModuleState.load(), 2);
    EXPECT_EQ(Voltage(0), "707.11");
    PressStop();
}

INSTANTIATE_TEST_SUITE_P(Table, StartWhileTheServerIsGone,
                         ::testing::Values(ServerBackCase{{"NextStart"}, false},
                                           ServerBackCase{{"ModulePickedAgain"}, true}),
                         ksn::test::CaseName<ServerBackCase>);

}  // namespace
