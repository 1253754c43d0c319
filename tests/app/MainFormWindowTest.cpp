// The window's acquisition controls, settings commands, context menu,
// tooltips and mouse wheel, driven as the operator would.
#include "MainForm.h"

#include "AdcGroupParsPanel.h"
#include "CaptionAboveCheckBox.h"
#include "CaptionAboveRadioButton.h"
#include "FileDialog.h"
#include "Led.h"
#include "ListPick.h"
#include "Ksn48AdcChannelFrame.h"
#include "MessageBox.h"
#include "ScreenMetrics.h"
#include "TriStateCheckBox.h"
#include "ValueEdit.h"
#include "WaitLoop.h"
#include "WindowControls.h"
#include "WindowServices.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHelpEvent>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using ksn::test::Find;

using namespace std::chrono_literals;

// A detection pass that only says it ran.
class QuickDetection : public TThread {
public:
    explicit QuickDetection(TMainForm& form) : form_(form) {}

protected:
    void Execute() override
    {
        form_.InitThreadRunning = true;
        Sleep(2);
    }

private:
    TMainForm& form_;
};

// A measurement that runs until it is stopped.
class RunningWorker : public TThread {
public:
    explicit RunningWorker(TMainForm& form) : form_(form) {}

protected:
    void Execute() override
    {
        form_.MainThreadRunning = true;
        form_.MeasurementIdle = false;
        while (!Terminated()) {
            Sleep(2);
        }
        form_.MeasurementIdle = true;
    }

private:
    TMainForm& form_;
};

class MainFormWindowTest : public ::testing::Test {
protected:
    void MakeForm()
    {
        MainFormSetup setup;
        setup.InitThread = [this](TMainForm& f, bool firstStart,
                                  int mode) -> std::unique_ptr<TThread> {
            detections.emplace_back(firstStart, mode);
            return std::make_unique<QuickDetection>(f);
        };
        setup.MainThread = [this](TMainForm& f, std::uint16_t) -> std::unique_ptr<TThread> {
            ++workersMade;
            return std::make_unique<RunningWorker>(f);
        };
        setup.SettingsDirectory = directory.path();
        form = std::make_unique<TMainForm>(std::move(setup));
        form->show();
        form->activateWindow();
        WaitLoop([this] { return !detections.empty() && form->DetectionThread() == nullptr; });
        detections.clear();
    }

    // What a finished detection pass with an open module leaves: the
    // controls enabled.
    void EnableControls()
    {
        Find<TAdcGroupParsPanel>(*form, "AdcGroupParsLMDGroupBox")->setEnabled(true);
        EnableParameterControls(form->ChannelFrames, true);
    }

    void StartMeasurement()
    {
        Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
        ASSERT_NE(form->Worker(), nullptr);
        ASSERT_TRUE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked());
    }

    QString SettingsPath() const { return directory.filePath(QStringLiteral("Ksn48_Vevu.ini")); }

    QTemporaryDir directory;
    DialogRecorder dialogs;
    std::vector<std::pair<bool, int>> detections;
    int workersMade = 0;
    std::unique_ptr<TMainForm> form;
};

TEST_F(MainFormWindowTest, TheStartButtonStartsWhenPressedAndStopsWhenReleased)
{
    MakeForm();
    StartMeasurement();
    EXPECT_EQ(workersMade, 1);
    Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_FALSE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked());
    EXPECT_EQ(workersMade, 1);
}

TEST_F(MainFormWindowTest, TheDetectionBarKeepsItsPlaceWhenTheStartButtonSaysStop)
{
    MakeForm();
    const QRect crates = Find<QComboBox>(*form, "KsnCratesComboBox")->geometry();
    const QRect button = Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->geometry();
    Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")
        ->setText(QStringLiteral("С   Т   О   П"));
    QApplication::sendPostedEvents();
    QApplication::processEvents();
    EXPECT_EQ(Find<QComboBox>(*form, "KsnCratesComboBox")->geometry(), crates);
    EXPECT_EQ(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->geometry(), button);
}

TEST_F(MainFormWindowTest, APressWhileBusyDoesNothingAndLeavesTheButtonUp)
{
    MakeForm();
    form->Busy = true;
    Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
    form->Busy = false;
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_FALSE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isChecked());
}

struct ParameterChange {
    const char* name;
    std::function<void(TMainForm&)> act;
};

std::ostream& operator<<(std::ostream& out, const ParameterChange& change)
{
    return out << change.name;
}

class ParameterChangeStopsTheMeasurement : public MainFormWindowTest,
                                           public ::testing::WithParamInterface<ParameterChange> {};

TEST_P(ParameterChangeStopsTheMeasurement, AndKeepsTheChoice)
{
    MakeForm();
    EnableControls();
    StartMeasurement();
    GetParam().act(*form);
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_TRUE(form->MeasurementIdle);
    EXPECT_TRUE(dialogs.Shown().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Controls, ParameterChangeStopsTheMeasurement,
    ::testing::Values(
        ParameterChange{"rate",
                        [](TMainForm& f) {
                            Find<QComboBox>(f, "AdcRateComboBox")->setCurrentIndex(2);
                            emit Find<QComboBox>(f, "AdcRateComboBox")->activated(2);
                            EXPECT_EQ(Find<QComboBox>(f, "AdcRateComboBox")->currentIndex(), 2);
                        }},
        ParameterChange{
            "width",
            [](TMainForm& f) {
                QComboBox* list =
                    Find<TAdcGroupParsPanel>(f, "AdcGroupParsLMDGroupBox")->DataFormatLMDComboBox;
                list->setCurrentIndex(1);
                emit list->activated(1);
                EXPECT_EQ(list->currentIndex(), 1);
            }},
        ParameterChange{
            "current",
            [](TMainForm& f) {
                QComboBox* list =
                    Find<TAdcGroupParsPanel>(f, "AdcGroupParsLMDGroupBox")->CurrentValueLMDComboBox;
                list->setCurrentIndex(1);
                emit list->activated(1);
                EXPECT_EQ(list->currentIndex(), 1);
            }},
        ParameterChange{"channel",
                        [](TMainForm& f) {
                            f.ChannelFrames[3]->ChannelNumberLMDCheckBox->click();
                            EXPECT_TRUE(f.ChannelFrames[3]->ChannelNumberLMDCheckBox->isChecked());
                        }},
        ParameterChange{"all channels",
                        [](TMainForm& f) {
                            Find<TTriStateCheckBox>(f, "AllChannelsLMDCheckBox")->click();
                            for (TKsn48AdcChannelFrame* frame : f.ChannelFrames) {
                                EXPECT_TRUE(frame->ChannelNumberLMDCheckBox->isChecked());
                                EXPECT_TRUE(frame->BasePhaseChannelLMDRadioButton->isEnabled());
                            }
                        }}),
    [](const ::testing::TestParamInfo<ParameterChange>& param) {
        std::string name = param.param.name;
        for (char& c : name) {
            if (c == ' ') {
                c = '_';
            }
        }
        return name;
    });

// The three lists of "Общие параметры", each with a second item.
QComboBox* ParameterList(TMainForm& form, int which)
{
    switch (which) {
    case 0:
        return Find<QComboBox>(form, "AdcRateComboBox");
    case 1:
        return Find<TAdcGroupParsPanel>(form, "AdcGroupParsLMDGroupBox")->DataFormatLMDComboBox;
    default:
        return Find<TAdcGroupParsPanel>(form, "AdcGroupParsLMDGroupBox")->CurrentValueLMDComboBox;
    }
}

TEST_F(MainFormWindowTest, PickingTheChosenItemAgainStopsNothingPickingAnotherStops)
{
    MakeForm();
    EnableControls();
    for (int which = 0; which < 3; ++which) {
        QComboBox* list = ParameterList(*form, which);
        SCOPED_TRACE(list->objectName().toStdString());
        list->setCurrentIndex(1);
        WaitLoopStep();  // a change of the program's own, long over
        StartMeasurement();
        ksn::test::PickListItem(*list, 1);
        EXPECT_NE(form->Worker(), nullptr) << "the same item";
        ksn::test::PickListItem(*list, 0);
        EXPECT_EQ(form->Worker(), nullptr) << "another item";
        EXPECT_EQ(list->currentIndex(), 0);
        // The test's worker leaves the button down; a real run's end releases it.
        Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->setChecked(false);
    }
}

TEST_F(MainFormWindowTest, SettingsThatFillTheListsStopNothing)
{
    MakeForm();
    EnableControls();
    StartMeasurement();
    Find<QComboBox>(*form, "AdcRateComboBox")->setCurrentIndex(5);
    Find<TTriStateCheckBox>(*form, "AllChannelsLMDCheckBox")->setCheckState(Qt::PartiallyChecked);
    EXPECT_NE(form->Worker(), nullptr);
    Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->click();
}

TEST_F(MainFormWindowTest, UntickingAllChannelsUnticksAndGreysEveryPanel)
{
    MakeForm();
    EnableControls();
    Find<TTriStateCheckBox>(*form, "AllChannelsLMDCheckBox")->click();
    Find<TTriStateCheckBox>(*form, "AllChannelsLMDCheckBox")->click();
    EXPECT_EQ(Find<TTriStateCheckBox>(*form, "AllChannelsLMDCheckBox")->checkState(),
              Qt::Unchecked);
    for (TKsn48AdcChannelFrame* frame : form->ChannelFrames) {
        EXPECT_FALSE(frame->ChannelNumberLMDCheckBox->isChecked());
        EXPECT_TRUE(frame->ChannelNumberLMDCheckBox->isEnabled());
        EXPECT_FALSE(frame->Value1LMDEdit->isEnabled());
    }
}

TEST_F(MainFormWindowTest, DetectClearsTheRateAndEveryPanelAndRequestsAFullPass)
{
    MakeForm();
    EnableControls();
    Find<QComboBox>(*form, "AdcRateComboBox")->setCurrentIndex(4);
    Find<TTriStateCheckBox>(*form, "AllChannelsLMDCheckBox")->click();
    for (TKsn48AdcChannelFrame* frame : form->ChannelFrames) {
        frame->Value1LMDEdit->setText(QStringLiteral("1.234"));
        frame->SetUpdateIndicator(TIndicatorState::IndicatorOk);
    }
    StartMeasurement();

    Find<QPushButton>(*form, "FindDeviceLMDButton")->click();

    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->currentIndex(), -1);
    EXPECT_EQ(Find<TTriStateCheckBox>(*form, "AllChannelsLMDCheckBox")->checkState(),
              Qt::Unchecked);
    for (TKsn48AdcChannelFrame* frame : form->ChannelFrames) {
        EXPECT_FALSE(frame->ChannelNumberLMDCheckBox->isChecked());
        EXPECT_NE(frame->Value1LMDEdit->text(), QStringLiteral("1.234"));
    }
    WaitLoop([this] { return !detections.empty(); });
    ASSERT_EQ(detections.size(), 1U);
    EXPECT_FALSE(detections[0].first);
    EXPECT_EQ(detections[0].second, TMainForm::ModeFullDetection);
}

TEST_F(MainFormWindowTest, TheRateListShowsTheEightRatesWithTheirBlanks)
{
    MakeForm();
    ASSERT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->count(), 8);
    EXPECT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->itemText(0),
              QStringLiteral("    610.352"));
    EXPECT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->itemText(5),
              QStringLiteral("    19531.0"));
    EXPECT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->itemText(7),
              QStringLiteral("    78125.0"));
}

// --- tooltips ---

struct HintCase {
    const char* name;
    QPoint at;
    QSize size;
    QPoint expected;
};

std::ostream& operator<<(std::ostream& out, const HintCase& c)
{
    return out << c.name;
}

class HintPlacement : public ::testing::TestWithParam<HintCase> {};

TEST_P(HintPlacement, StaysInsideTheWorkArea)
{
    // A work area that does not start at the screen's corner (a panel at
    // the top and one at the left).
    const QRect work(40, 30, 1000, 700);  // right edge 1040, bottom edge 730
    const HintCase& c = GetParam();
    EXPECT_EQ(WindowServices::KeepHintOnScreen(c.at, c.size, work), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, HintPlacement,
    ::testing::Values(HintCase{"inside", {500, 400}, {200, 40}, {500, 400}},
                      HintCase{"touching_the_right_edge", {840, 400}, {200, 40}, {840, 400}},
                      HintCase{"across_the_right_edge", {841, 400}, {200, 40}, {830, 400}},
                      HintCase{"across_the_bottom_edge", {500, 700}, {200, 40}, {500, 680}},
                      HintCase{"across_the_corner", {1000, 720}, {200, 40}, {830, 680}},
                      HintCase{"wider_than_the_area", {100, 100}, {1000, 40}, {30, 100}}),
    [](const ::testing::TestParamInfo<HintCase>& param) { return std::string(param.param.name); });

TEST_F(MainFormWindowTest, TheCrateLedHintStaysLongOnlyForCrateType21)
{
    MakeForm();
    auto& inventory = form->DeviceInventory;
    inventory.ModuleCrateCount = 2;
    inventory.ModuleCrateTypes[0] = 3;
    inventory.ModuleCrateTypes[1] = 21;
    const struct {
        std::uint16_t selected;
        QWidget* control;
        int ms;
    } cases[] = {
        {1, Find<TLed>(*form, "KsnCrateStatusLed"), 10000},
        {0, Find<TLed>(*form, "KsnCrateStatusLed"), 2000},
        {1, Find<TLed>(*form, "ModuleStatusLed"), 2000},
        {DeviceInventory::NoCrate, Find<TLed>(*form, "KsnCrateStatusLed"), 2000},
        {2, Find<TLed>(*form, "KsnCrateStatusLed"),
         2000},  // beyond the list: left over from an earlier pass
    };
    for (const auto& c : cases) {
        inventory.SelectedCrate = c.selected;
        EXPECT_EQ(form->ApplicationShowHint(c.control), c.ms) << "selected " << c.selected;
    }
}

TEST_F(MainFormWindowTest, ATooltipAtTheWorkAreasCornerIsShownInsideIt)
{
    // Panels along the bottom and the right of the screen: the work area
    // ends before the screen does, where Qt would not move the tooltip.
    FixedScreenMetrics metrics;
    metrics.Screen = {1920, 1080};
    metrics.Work = {0, 0, 1880, 1000};
    const ScopedScreenMetrics scoped(metrics);
    MakeForm();
    QWidget* led = Find<TLed>(*form, "ModuleStatusLed");
    QHelpEvent help(QEvent::ToolTip, QPoint(1, 1), QPoint(1915, 995));
    QApplication::sendEvent(led, &help);
    ASSERT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), led->toolTip());
    QWidget* tip = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->inherits("QTipLabel")) {
            tip = w;
        }
    }
    ASSERT_NE(tip, nullptr);
    const QRect shown = tip->frameGeometry();
    EXPECT_EQ(shown.right() + 1, 1880 - WindowServices::HintScreenMargin);
    EXPECT_EQ(shown.bottom() + 1, 1000 - WindowServices::HintScreenMargin);
    QToolTip::hideText();
}

// --- mouse wheel ---

class WheelTest : public MainFormWindowTest {
protected:
    void SetUp() override
    {
        // A low screen: the channel list needs its scroll bar.
        metrics.Screen = {1280, 768};
        metrics.Work = {0, 0, 1280, 768};
        scoped = std::make_unique<ScopedScreenMetrics>(metrics);
    }
    void TearDown() override
    {
        form.reset();
        scoped.reset();
    }

    // Turns the wheel one notch down over the point of the widget.
    void WheelDown(QWidget* over, QPoint at)
    {
        const QPointF global = over->mapToGlobal(QPointF(at));
        QWheelEvent wheel(QPointF(at), global, QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(over, &wheel);
    }

    FixedScreenMetrics metrics;
    std::unique_ptr<ScopedScreenMetrics> scoped;
};

TEST_F(WheelTest, ScrollsTheChannelListOnlyOverItsBox)
{
    MakeForm();
    QScrollBar* bar =
        Find<QScrollArea>(*form, "AdcIndividualParsLMDScrollBox")->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    ASSERT_GT(bar->maximum(), 0);

    // Over a channel panel: nothing moves, also not through the box behind it.
    TKsn48AdcChannelFrame* panel = form->ChannelFrames[1];
    WheelDown(panel, panel->rect().center());
    WheelDown(panel->Value1LMDEdit, panel->Value1LMDEdit->rect().center());
    // What the panel leaves unhandled reaches the box's visible area, which
    // would scroll by itself.
    QWidget* viewport = Find<QScrollArea>(*form, "AdcIndividualParsLMDScrollBox")->viewport();
    WheelDown(viewport, panel->mapTo(viewport, panel->rect().center()));
    EXPECT_EQ(bar->value(), 0);

    // Over the box's ground left of the panels: one pixel down, focus in the box.
    QWidget* ground = Find<QWidget>(*form, "AdcIndividualParsLMDSimplePanel");
    ASSERT_GT(form->ChannelFrames[0]->x(), 2);
    WheelDown(ground, QPoint(1, 10));
    EXPECT_EQ(bar->value(), 1);
    EXPECT_TRUE(Find<QScrollArea>(*form, "AdcIndividualParsLMDScrollBox")->hasFocus());

    // Elsewhere in the window the list stays where it is.
    WheelDown(Find<QPushButton>(*form, "FindDeviceLMDButton"),
              Find<QPushButton>(*form, "FindDeviceLMDButton")->rect().center());
    EXPECT_EQ(bar->value(), 1);
}

TEST_F(WheelTest, OnAHighScreenAllChannelPanelsAreInViewWithinTheWorkArea)
{
    for (const QRect work : {QRect(0, 0, 1920, 1040), QRect(0, 0, 1280, 768)}) {
        metrics.Work = work;
        const ScopedScreenMetrics scopedWork(metrics);
        MakeForm();
        const QScrollBar* bar =
            Find<QScrollArea>(*form, "AdcIndividualParsLMDScrollBox")->verticalScrollBar();
        EXPECT_LE(form->height(), work.height() - metrics.Caption - 2 * metrics.FrameHeight);
        EXPECT_LE(form->width(), work.width() - 2 * metrics.FrameWidth);
        // The list scrolls only where the screen is too low for it.
        EXPECT_EQ(bar->maximum() == 0, work.height() > 1000) << work.height();
        form.reset();
    }
}

// --- settings commands and the context menu ---

TEST_F(MainFormWindowTest, SaveIsDisabledForHalfASecondAndWhileAutomaticSaveIsOn)
{
    MakeForm();
    QPushButton* save = Find<QPushButton>(*form, "SaveSettingsButton");
    std::vector<bool> seenDuringSave;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { seenDuringSave.push_back(save->isEnabled()); });
    probe.start(50);
    const auto began = std::chrono::steady_clock::now();
    save->click();
    const auto took = std::chrono::steady_clock::now() - began;
    probe.stop();
    EXPECT_GE(took, 500ms);
    ASSERT_FALSE(seenDuringSave.empty());
    EXPECT_EQ(std::count(seenDuringSave.begin(), seenDuringSave.end(), true), 0);
    EXPECT_TRUE(save->isEnabled());
    EXPECT_TRUE(QFile::exists(SettingsPath()));

    Find<QCheckBox>(*form, "AutoSaveSettingsLMDCheckBox")->click();
    EXPECT_FALSE(save->isEnabled());
    form->SaveCurrentSettingsClick();  // the menu's save keeps it disabled
    EXPECT_FALSE(save->isEnabled());
    Find<QCheckBox>(*form, "AutoSaveSettingsLMDCheckBox")->click();
    EXPECT_TRUE(save->isEnabled());
}

TEST_F(MainFormWindowTest, TheMenuHoldsItsItemsAndPopsUpUntilSwitchedOff)
{
    MakeForm();
    QStringList texts;
    for (QAction* action : Find<QMenu>(*form, "PopupMenu")->actions()) {
        texts << (action->isSeparator()
                      ? QStringLiteral("-")
                      : action->text() + QLatin1Char(' ') + action->shortcut().toString());
    }
    EXPECT_EQ(texts,
              (QStringList{QStringLiteral("Перезагрузка Изделия Ctrl+R"), QStringLiteral("-"),
                           QStringLiteral("Сохранение штатных настроек Ctrl+D"),
                           QStringLiteral("Сохранение текущих настроек Ctrl+S"),
                           QStringLiteral("Запись результатов в файл... Ctrl+Shift+R"),
                           QStringLiteral("-"), QStringLiteral("О программе ... Ctrl+A"),
                           QStringLiteral("-"), QStringLiteral("Выход Ctrl+Q"),
                           QStringLiteral("-"), QStringLiteral("Точный метод (fit) "),
                           QStringLiteral("Неопределённость в подсказках ")}));
    EXPECT_EQ(Find<QMenu>(*form, "PopupMenu")->defaultAction(),
              Find<QMenu>(*form, "PopupMenu")->actions().first());

    emit form->customContextMenuRequested(QPoint(100, 100));
    EXPECT_TRUE(Find<QMenu>(*form, "PopupMenu")->isVisible());
    Find<QMenu>(*form, "PopupMenu")->hide();
    form->SetPopupMenuAutoPopup(false);
    emit form->customContextMenuRequested(QPoint(100, 100));
    EXPECT_FALSE(Find<QMenu>(*form, "PopupMenu")->isVisible());
}

TEST_F(MainFormWindowTest, ShortcutsSaveAndExitWithThePopUpSwitchedOff)
{
    MakeForm();
    form->SetPopupMenuAutoPopup(false);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));

    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QFile::exists(SettingsPath()));
    EXPECT_TRUE(dialogs.Shown().empty());

    QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    WaitLoop([&] { return form->Closing() || std::chrono::steady_clock::now() > deadline; });
    EXPECT_TRUE(form->Closing());
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormWindowTest, DefaultSettingsCommandWritesTheFile)
{
    MakeForm();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(QFile::exists(SettingsPath()));
}

// --- recording results into a file ---

TEST_F(MainFormWindowTest, TheRecordingItemIsCheckableAndLeavesCtrlRToTheFirstItem)
{
    MakeForm();
    ASSERT_NE(Find<QAction>(*form, "RecordResults"), nullptr);
    EXPECT_TRUE(Find<QAction>(*form, "RecordResults")->isCheckable());
    EXPECT_FALSE(Find<QAction>(*form, "RecordResults")->isChecked());
    EXPECT_EQ(Find<QMenu>(*form, "PopupMenu")->actions().first()->shortcut(),
              QKeySequence(Qt::CTRL | Qt::Key_R));
}

TEST_F(MainFormWindowTest, TheRecordingShortcutWorksWithThePopUpSwitchedOff)
{
    MakeForm();
    form->SetPopupMenuAutoPopup(false);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const QString path = directory.filePath(QStringLiteral("results.csv"));
    {
        // Cancelled: nothing records, nothing is made.
        FileDialogAnswerer answers({std::nullopt});
        QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QCoreApplication::processEvents();
        ASSERT_EQ(answers.Requests().size(), 1u);
        EXPECT_EQ(answers.Requests()[0].caption, QStringLiteral("Запись результатов в файл"));
        EXPECT_FALSE(form->RecordingResults());
        EXPECT_FALSE(Find<QAction>(*form, "RecordResults")->isChecked());
    }
    {
        FileDialogAnswerer answers({path});
        QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QCoreApplication::processEvents();
        ASSERT_EQ(answers.Requests().size(), 1u);
        EXPECT_TRUE(form->RecordingResults());
        EXPECT_TRUE(Find<QAction>(*form, "RecordResults")->isChecked());
        // Chosen again: the recording ends; the file it made without a row goes.
        QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(answers.Requests().size(), 1u);
        EXPECT_FALSE(form->RecordingResults());
        EXPECT_FALSE(Find<QAction>(*form, "RecordResults")->isChecked());
        EXPECT_FALSE(QFile::exists(path));
    }
    EXPECT_TRUE(dialogs.Shown().empty());
    // Ctrl+R alone still does what it always did: nothing.
    QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(form->RecordingResults());
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_FALSE(QFile::exists(SettingsPath()));
}

TEST_F(MainFormWindowTest, AFileThatCannotBeContinuedIsRefusedByName)
{
    MakeForm();
    const QString otherColumns = directory.filePath(QStringLiteral("other.csv"));
    const QString cutLine = directory.filePath(QStringLiteral("cut.csv"));
    const QString folder = directory.filePath(QStringLiteral("folder"));
    const auto write = [](const QString& name, const QByteArray& bytes) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    // Channel 1 is ticked below, channel 8 is not.
    form->ChannelFrames[7]->ChannelNumberLMDCheckBox->setChecked(false);
    write(otherColumns, "time,frame,ch8_mV,ch8_kHz,ch8_deg,ch8_status,ch8_inband\n");
    // The header of the ticked channels (1-6 after the detection), then a cut row.
    form->ChannelFrames[0]->ChannelNumberLMDCheckBox->setChecked(true);
    QByteArray header = "time,frame";
    for (int c = 1; c <= 8; ++c) {
        if (form->ChannelFrames[static_cast<std::size_t>(c - 1)]
                ->ChannelNumberLMDCheckBox->isChecked()) {
            for (const char* suffix : {"_mV", "_kHz", "_deg", "_status", "_inband"}) {
                header += ",ch" + QByteArray::number(c) + suffix;
            }
        }
    }
    write(cutLine, header + "\n2024-05-01T12:34:56.789Z,1,707.1");
    ASSERT_TRUE(QDir().mkdir(folder));
    const struct {
        QString path;
        QString said;
    } cases[] = {
        {otherColumns, QStringLiteral("другие столбцы")},
        {cutLine, QStringLiteral("оборвана")},
        {folder, QStringLiteral("Не могу открыть файл")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QByteArray before = QFile::exists(c.path) && !QFileInfo(c.path).isDir()
                                      ? [&] {
                                            QFile f(c.path);
                                            f.open(QIODevice::ReadOnly);
                                            return f.readAll();
                                        }()
                                      : QByteArray();
        dialogs.Clear();
        FileDialogAnswerer answers({c.path});
        Find<QAction>(*form, "RecordResults")->trigger();
        QCoreApplication::processEvents();  // the item's handler runs queued
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        WaitLoop([&] {
            return !dialogs.Shown().empty() || std::chrono::steady_clock::now() > deadline;
        });
        ASSERT_EQ(dialogs.Shown().size(), 1u);
        EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Ошибка записи результатов!"));
        EXPECT_TRUE(
            dialogs.Shown()[0].text.contains(QLatin1Char('\'') + c.path + QLatin1Char('\'')))
            << dialogs.Shown()[0].text.toStdString();
        EXPECT_TRUE(dialogs.Shown()[0].text.contains(c.said))
            << dialogs.Shown()[0].text.toStdString();
        EXPECT_FALSE(form->RecordingResults());
        EXPECT_FALSE(Find<QAction>(*form, "RecordResults")->isChecked());
        if (!before.isEmpty()) {
            QFile f(c.path);
            f.open(QIODevice::ReadOnly);
            EXPECT_EQ(f.readAll(), before) << "the refused file was changed";
        }
    }
}

// --- operating system class ---

TEST(OsVersionCode, ClassifiesTheKnownSystemsAndNothingElse)
{
    using WindowServices::OsPlatform;
    const struct {
        OsPlatform platform;
        unsigned major;
        unsigned minor;
        int code;
    } cases[] = {
        {OsPlatform::Win32s, 3, 10, 1},    {OsPlatform::Windows9x, 4, 0, 2},
        {OsPlatform::Windows9x, 4, 10, 3}, {OsPlatform::Windows9x, 4, 90, 3},
        {OsPlatform::Windows9x, 3, 95, 0}, {OsPlatform::WindowsNt, 3, 51, 4},
        {OsPlatform::WindowsNt, 4, 0, 4},  {OsPlatform::WindowsNt, 5, 0, 5},
        {OsPlatform::WindowsNt, 5, 1, 6},  {OsPlatform::WindowsNt, 5, 2, 7},
        {OsPlatform::WindowsNt, 5, 3, 0},  {OsPlatform::WindowsNt, 6, 0, 8},
        {OsPlatform::WindowsNt, 6, 1, 9},  {OsPlatform::WindowsNt, 6, 2, 10},
        {OsPlatform::WindowsNt, 6, 3, 10}, {OsPlatform::WindowsNt, 10, 0, 0},
        {OsPlatform::Other, 6, 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WindowServices::ClassifyOsVersion(c.platform, c.major, c.minor), c.code)
            << static_cast<int>(c.platform) << ' ' << c.major << '.' << c.minor;
    }
    EXPECT_EQ(WindowServices::GetOsVersionCode(), 0);
    EXPECT_LT(WindowServices::GetOsVersionCode(), WindowServices::FlatCaptionOsCode);
}

}  // namespace
