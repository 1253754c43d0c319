#include "MainForm.h"
#include "CaseName.h"

#include "AdcGroupParsPanel.h"
#include "CaptionAboveCheckBox.h"
#include "CaptionAboveRadioButton.h"
#include "Ksn48AdcChannelFrame.h"
#include "Led.h"
#include "TriStateCheckBox.h"
#include "ValueEdit.h"
#include "WindowControls.h"

#include "MessageBox.h"
#include "ScreenMetrics.h"
#include "WaitLoop.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using ksn::test::Find;

// What the test threads and the fake module library saw.
struct Probe {
    std::atomic<int> liveThreads{0};
    std::atomic<int> stepsRun{0};
    std::atomic<int> stepsOnDeadWindow{0};
    std::atomic<bool> inFrame{false};
    std::atomic<bool> moduleOpen{true};
    std::atomic<int> moduleCloses{0};
    std::atomic<int> threadsAliveAtClose{-1};
    std::atomic<bool> closedDuringFrame{false};
};

Probe* probe = nullptr;

int FakeIsOpened(const Ksn48Handle*)
{
    return probe->moduleOpen ? 0 : -1;
}

int FakeClose(Ksn48Handle*)
{
    ++probe->moduleCloses;
    probe->threadsAliveAtClose = probe->liveThreads.load();
    if (probe->inFrame) {
        probe->closedDuringFrame = true;
    }
    probe->moduleOpen = false;
    return 0;
}

// Base of the test threads: counts itself and knows whether its window still
// exists when a step of it runs.
class ProbedThread : public TThread {
public:
    ProbedThread(TMainForm& form, std::shared_ptr<std::atomic<bool>> formAlive)
        : form_(form), formAlive_(std::move(formAlive))
    {
        ++probe->liveThreads;
    }
    ~ProbedThread() override { --probe->liveThreads; }

protected:
    // A step that touches the window, as the real threads' steps do.
    void WindowStep()
    {
        Synchronize([this] {
            if (!formAlive_->load()) {
                ++probe->stepsOnDeadWindow;
                return;
            }
            Find<QLabel>(form_, "ModuleSerialNumberLMDLabel")
                ->setText(QString::number(++probe->stepsRun));
        });
    }

    TMainForm& form_;
    std::shared_ptr<std::atomic<bool>> formAlive_;
};

// A detection pass: says it runs, then steps on the window with pauses.
// With a hold it goes on until released or terminated; respectTerminate=false
// makes it finish all its steps whatever the window asks.
class TestDetection : public ProbedThread {
public:
    TestDetection(TMainForm& form, std::shared_ptr<std::atomic<bool>> alive, int steps,
                  std::atomic<bool>* hold, bool respectTerminate)
        : ProbedThread(form, std::move(alive)), steps_(steps), hold_(hold),
          respectTerminate_(respectTerminate)
    {}

protected:
    void Execute() override
    {
        form_.InitThreadRunning = true;
        Sleep(2);
        for (int i = 0; i < steps_; ++i) {
            if (respectTerminate_ && Terminated()) {
                break;
            }
            WindowStep();
            Sleep(2);
        }
        while (hold_ != nullptr && hold_->load() && !(respectTerminate_ && Terminated())) {
            Sleep(1);
        }
        WindowStep();  // the pass always finishes with a step on the window
    }

private:
    int steps_;
    std::atomic<bool>* hold_;
    bool respectTerminate_;
};

// A measurement run: frames of some blocking work that uses the module
// handle, each followed by a display step on the window, until terminated;
// then it idles as a finished run until the window ends it.
class TestWorker : public ProbedThread {
public:
    TestWorker(TMainForm& form, std::shared_ptr<std::atomic<bool>> alive, unsigned frameMs,
               std::function<void(TMainForm&)> inStep = nullptr)
        : ProbedThread(form, std::move(alive)), frameMs_(frameMs), inStep_(std::move(inStep))
    {}

protected:
    void Execute() override
    {
        form_.MainThreadRunning = true;
        if (Find<QTabWidget>(form_, "MainLMDPageControl")->currentIndex() == 0) {
            form_.MeasurementIdle = false;
        }
        while (!Terminated()) {
            probe->inFrame = true;
            Sleep(frameMs_);
            probe->inFrame = false;
            WindowStep();
            if (inStep_) {
                Synchronize([this] { inStep_(form_); });
            }
        }
        form_.MeasurementIdle = true;
    }

private:
    unsigned frameMs_;
    std::function<void(TMainForm&)> inStep_;
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        probe = &probeData;
        formAlive = std::make_shared<std::atomic<bool>>(false);
    }

    void TearDown() override
    {
        form.reset();
        EXPECT_EQ(probeData.liveThreads.load(), 0) << "a thread outlived its window";
        EXPECT_EQ(probeData.stepsOnDeadWindow.load(), 0);
        probe = nullptr;
    }

    MainFormSetup MakeSetup()
    {
        MainFormSetup setup;
        setup.InitThread = [this](TMainForm& f, bool firstStart,
                                  int mode) -> std::unique_ptr<TThread> {
            initRequests.push_back({firstStart, mode});
            if (initFactory) {
                return initFactory(f);
            }
            return std::make_unique<TestDetection>(f, formAlive, detectionSteps, detectionHold,
                                                   true);
        };
        setup.MainThread = [this](TMainForm& f, std::uint16_t page) -> std::unique_ptr<TThread> {
            workerPages.push_back(page);
            if (workerFactory) {
                return workerFactory(f);
            }
            return std::make_unique<TestWorker>(f, formAlive, frameMs, workerStep);
        };
        setup.ModuleIsOpened = &FakeIsOpened;
        setup.ModuleClose = &FakeClose;
        setup.SettingsDirectory = settingsDirectory;
        return setup;
    }

    void MakeForm()
    {
        form.reset();
        formAlive = std::make_shared<std::atomic<bool>>(true);
        form = std::make_unique<TMainForm>(MakeSetup());
        QObject::connect(form.get(), &QObject::destroyed,
                         [alive = formAlive] { alive->store(false); });
    }

    // Lets posted messages and thread steps run for a while.
    void Pump(int rounds = 3)
    {
        for (int i = 0; i < rounds; ++i) {
            WaitLoopStep();
        }
    }

    void WaitForDetectionEnd()
    {
        WaitLoop([this] { return form->DetectionThread() == nullptr && !form->InitThreadRunning; });
    }

    void PressEscape()
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QWidget* target =
            QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : form.get();
        QApplication::sendEvent(target, &press);
    }

    Probe probeData;
    QTemporaryDir temporary;
    QString settingsDirectory = temporary.path();
    std::shared_ptr<std::atomic<bool>> formAlive;
    std::unique_ptr<TMainForm> form;
    DialogRecorder dialogs;
    std::vector<std::pair<bool, int>> initRequests;
    std::vector<std::uint16_t> workerPages;
    std::function<std::unique_ptr<TThread>(TMainForm&)> initFactory;
    std::function<std::unique_ptr<TThread>(TMainForm&)> workerFactory;
    std::function<void(TMainForm&)> workerStep;
    int detectionSteps = 3;
    std::atomic<bool>* detectionHold = nullptr;
    unsigned frameMs = 2;
};

TEST_F(MainFormTest, ConstructionLeavesTheStartState)
{
    MakeForm();
    EXPECT_EQ(form->WindowState, 1);
    EXPECT_FALSE(form->Busy);
    EXPECT_FALSE(form->InitThreadRunning);
    EXPECT_TRUE(form->InitRequestDone);
    EXPECT_FALSE(form->MainThreadRunning);
    EXPECT_TRUE(form->MainRequestDone);
    EXPECT_TRUE(form->MeasurementIdle);
    EXPECT_EQ(form->DeviceInventory.SelectedCrate, 0xFFFF);
    EXPECT_EQ(form->ModuleState.load(), 0);
    EXPECT_EQ(form->CrateOk.load(), 0);
    ASSERT_EQ(form->PageList.size(), 1u);
    EXPECT_EQ(form->PageList[0], Find<QWidget>(*form, "MultimeterLMDTabSheet"));
    EXPECT_EQ(Find<QTabWidget>(*form, "MainLMDPageControl")->currentIndex(), 0);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("KSN48"));
    EXPECT_EQ(form->DefaultCaption, QStringLiteral("KSN48_vevu - ?.?.?"));
    EXPECT_EQ(Find<QLabel>(*form, "ModuleSerialNumberLMDLabel")->text(),
              QStringLiteral("????????"));
    EXPECT_EQ(Find<QLabel>(*form, "ModuleFirmwareVersionLMDLabel")->text(),
              QStringLiteral("??.??.??.??"));
    EXPECT_TRUE(initRequests.empty()) << "no detection before the window is shown";
}

TEST_F(MainFormTest, LayoutRegionsExistWithTheirNamesAndTexts)
{
    MakeForm();
    for (const char* name : {"ModuleDetectionLMDGroupBox",
                             "FindDeviceLMDButton",
                             "SelectedModuleLMDSimplePanel",
                             "KsnCratesComboBox",
                             "ModulesComboBox",
                             "ModuleSerialNumberLMDLabel",
                             "ModuleFirmwareVersionLMDLabel",
                             "StartMultimeterLMDSimplePanel",
                             "StartMultimeterLMDSpeedButton",
                             "SaveIniSettingLMDGroupBox",
                             "AutoSaveSettingsLMDCheckBox",
                             "SaveSettingsButton",
                             "MainLMDSimplePanel",
                             "MainLMDPageControl",
                             "MultimeterLMDTabSheet",
                             "CorrectionFactorsLMDTabSheet",
                             "VerificationLMDTabSheet",
                             "MultimeterLMDSimplePanel",
                             "AdcGroupParsLMDGroupBox",
                             "AdcIndividualParsLMDGroupBox",
                             "AdcIndividualParsLMDScrollBox",
                             "AdcIndividualParsLMDSimplePanel",
                             "EquipmentLMDSimplePanel"}) {
        EXPECT_NE(form->findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    }
    EXPECT_EQ(Find<QPushButton>(*form, "FindDeviceLMDButton")->text(),
              QStringLiteral("Обнаружить"));
    EXPECT_EQ(Find<QLabel>(*form, "KsnCratesLabLMDLabel")->text(), QStringLiteral("Крейт"));
    EXPECT_EQ(Find<QLabel>(*form, "ModulesLabLMDLabel")->text(), QStringLiteral("Модуль"));
    EXPECT_TRUE(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->isCheckable());
    EXPECT_EQ(Find<QPushButton>(*form, "StartMultimeterLMDSpeedButton")->text(),
              QStringLiteral("С   Т   А   Р   Т"));
    EXPECT_EQ(Find<QGroupBox>(*form, "SaveIniSettingLMDGroupBox")->title(),
              QStringLiteral("Настройки"));
    EXPECT_EQ(Find<QCheckBox>(*form, "AutoSaveSettingsLMDCheckBox")->text(),
              QStringLiteral("    Авто Сохранение"));
    EXPECT_EQ(Find<QPushButton>(*form, "SaveSettingsButton")->text(), QStringLiteral("Сохранить"));
    EXPECT_EQ(Find<QTabWidget>(*form, "MainLMDPageControl")->tabText(0),
              QStringLiteral("Мультиметр"));
    EXPECT_EQ(Find<QTabWidget>(*form, "MainLMDPageControl")->tabText(1),
              QStringLiteral("Коэффициенты"));
    EXPECT_EQ(Find<QTabWidget>(*form, "MainLMDPageControl")->tabText(2), QStringLiteral("Поверка"));
    EXPECT_TRUE(Find<QTabWidget>(*form, "MainLMDPageControl")->isTabVisible(0));
    EXPECT_FALSE(Find<QTabWidget>(*form, "MainLMDPageControl")->isTabVisible(1));
    EXPECT_FALSE(Find<QTabWidget>(*form, "MainLMDPageControl")->isTabVisible(2));
    EXPECT_TRUE(Find<QFrame>(*form, "EquipmentLMDSimplePanel")->isHidden());
    EXPECT_GE(Find<QWidget>(*form, "AdcIndividualParsLMDSimplePanel")->minimumWidth(), 988);
    EXPECT_GE(Find<QWidget>(*form, "AdcIndividualParsLMDSimplePanel")->minimumHeight(), 554);
}

TEST_F(MainFormTest, EightChannelPanelsStackedAndIdle)
{
    MakeForm();
    int previousTop = -1;
    for (std::size_t i = 0; i < form->ChannelFrames.size(); ++i) {
        TKsn48AdcChannelFrame* frame = form->ChannelFrames[i];
        ASSERT_NE(frame, nullptr) << i;
        EXPECT_EQ(frame->objectName(), QStringLiteral("Ksn48AdcChannel%1Frame").arg(i));
        EXPECT_EQ(frame->parentWidget(), Find<QWidget>(*form, "AdcIndividualParsLMDSimplePanel"));
        EXPECT_EQ(frame->ChannelIndex(), i);
        EXPECT_FALSE(frame->isHidden());
        EXPECT_FALSE(frame->ChannelNumberLMDCheckBox->isEnabled()) << "idle until a module is open";
        EXPECT_FALSE(frame->ChannelNumberLMDCheckBox->isChecked());
        EXPECT_EQ(frame->Value1LMDEdit->text(), QStringLiteral("--------"));
        EXPECT_EQ(frame->Value1LabLMDLabel->text(), QStringLiteral("Напряжение"));
        EXPECT_EQ(frame->Value3LabUnitLMDLabel->text(), QStringLiteral("Град"));
        // One below the other, without overlap, inside the channel area.
        EXPECT_EQ(frame->y(), static_cast<int>(i) * frame->height() + 2);
        EXPECT_GT(frame->y(), previousTop);
        previousTop = frame->y();
        EXPECT_LE(frame->geometry().bottom(),
                  Find<QWidget>(*form, "AdcIndividualParsLMDSimplePanel")->minimumHeight());
    }
    EXPECT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->currentIndex(), -1);
    EXPECT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->count(), 8);
    EXPECT_EQ(Find<QComboBox>(*form, "AdcRateComboBox")->maxVisibleItems(), 8);
    EXPECT_EQ(Find<TTriStateCheckBox>(*form, "AllChannelsLMDCheckBox")->checkState(),
              Qt::Unchecked);
    EXPECT_EQ(Find<TLed>(*form, "ModuleStatusLed")->toolTip(),
              QStringLiteral("Статус модуля -> ???"));
    EXPECT_FALSE(Find<TLed>(*form, "KsnCrateStatusLed")->isHidden());
    EXPECT_TRUE(Find<TLed>(*form, "GeneratorStatusLed")->isHidden());
    EXPECT_TRUE(Find<TLed>(*form, "VoltmeterStatusLed")->isHidden());
}

TEST_F(MainFormTest, ActivationSwitchesHoverSelectionOfThePanels)
{
    MakeForm();
    form->ApplicationActivate();
    for (const auto* frame : form->ChannelFrames) {
        EXPECT_EQ(frame->HoverSelect(), 1);
    }
    form->ApplicationDeactivate();
    for (const auto* frame : form->ChannelFrames) {
        EXPECT_EQ(frame->HoverSelect(), 0);
    }
}

TEST_F(MainFormTest, AChannelSwitchStopsTheMeasurementAReferenceClickDoesNot)
{
    MakeForm();
    EnableParameterControls(form->ChannelFrames, true);
    form->StartThread();
    ASSERT_NE(form->Worker(), nullptr);
    form->ChannelFrames[4]->BasePhaseChannelLMDRadioButton->setEnabled(true);
    form->ChannelFrames[4]->BasePhaseChannelLMDRadioButton->click();
    EXPECT_EQ(form->Settings->Record.ReferenceChannel, 4);
    EXPECT_NE(form->Worker(), nullptr);

    form->ChannelFrames[2]->ChannelNumberLMDCheckBox->setChecked(true);
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_TRUE(form->ChannelFrames[2]->Value1LMDEdit->isEnabled());
    EXPECT_EQ(Find<TTriStateCheckBox>(*form, "AllChannelsLMDCheckBox")->checkState(),
              Qt::PartiallyChecked);
    EXPECT_FALSE(form->Busy);
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(MainFormTest, FirstShowRequestsOneFirstStartDetection)
{
    FixedScreenMetrics metrics;
    metrics.Work = QRect(0, 40, 1920, 1000);  // a panel along the top
    const ScopedScreenMetrics scoped(metrics);
    MakeForm();
    form->resize(900, 700);  // before the show: nothing
    Pump(1);
    EXPECT_TRUE(initRequests.empty());
    form->show();
    EXPECT_EQ(form->WindowState, 3);
    // Centred vertically in the work area.
    EXPECT_EQ(form->frameGeometry().top(), 40 + (1000 - form->frameGeometry().height()) / 2);
    WaitLoop([this] { return !initRequests.empty(); });
    WaitForDetectionEnd();
    ASSERT_EQ(initRequests.size(), 1u);
    EXPECT_TRUE(initRequests[0].first);
    EXPECT_EQ(initRequests[0].second, TMainForm::ModeFullDetection);
    EXPECT_TRUE(form->InitRequestDone);

    // Later resizes and shows ask for nothing.
    form->hide();
    form->show();
    form->FormResize();
    Pump();
    EXPECT_EQ(initRequests.size(), 1u);
    EXPECT_EQ(form->WindowState, 3);
}

TEST_F(MainFormTest, RequestsWhilePendingOrRunningAreDropped)
{
    std::atomic<bool> hold{true};
    detectionHold = &hold;
    MakeForm();
    form->StartInitDevicesThread(TMainForm::ModeFullDetection, false);
    form->StartInitDevicesThread(TMainForm::ModeCrateChanged, false);  // pending: dropped
    EXPECT_FALSE(form->InitRequestDone);
    WaitLoop([this] { return form->InitThreadRunning.load(); });
    form->StartInitDevicesThread(TMainForm::ModeModuleChanged, false);  // running: dropped
    Pump();
    ASSERT_EQ(initRequests.size(), 1u);
    EXPECT_EQ(initRequests[0].second, TMainForm::ModeFullDetection);
    EXPECT_FALSE(initRequests[0].first);

    hold = false;
    WaitForDetectionEnd();
    form->StartInitDevicesThread(TMainForm::ModeModuleChanged, false);
    Pump();
    WaitForDetectionEnd();
    ASSERT_EQ(initRequests.size(), 2u);
    EXPECT_EQ(initRequests[1].second, TMainForm::ModeModuleChanged);
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(MainFormTest, APassThatEndsBeforeTheWaitSeesItDoesNotHangTheWindow)
{
    // The thread sets and clears its running flag (through its end) before
    // the window's wait loop gets to look.
    initFactory = [this](TMainForm& f) {
        return std::make_unique<TestDetection>(f, formAlive, 0, nullptr, true);
    };
    MakeForm();
    form->StartInitDevicesThread(TMainForm::ModeFullDetection, false);
    Pump();
    WaitForDetectionEnd();
    EXPECT_TRUE(form->InitRequestDone);
}

struct FactoryFailure : ksn::test::NamedCase {
    std::function<std::unique_ptr<TThread>(TMainForm&)> factory;
};

class DetectionThreadFailure : public MainFormTest,
                               public ::testing::WithParamInterface<FactoryFailure> {};

TEST_P(DetectionThreadFailure, IsReportedAndBlocksLaterRequests)
{
    initFactory = GetParam().factory;
    MakeForm();
    form->StartInitDevicesThread(TMainForm::ModeFullDetection, true);
    Pump();
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text,
              QStringLiteral("Не могу открыть поток 'InitAndConfigThread'!"));
    EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Ошибка OnStartInitDevicesThread()!"));
    EXPECT_EQ(dialogs.Shown()[0].icon, MessageIcon::None);
    EXPECT_FALSE(form->InitRequestDone);
    form->StartInitDevicesThread(TMainForm::ModeFullDetection, false);
    Pump();
    EXPECT_EQ(initRequests.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Factories, DetectionThreadFailure,
    ::testing::Values(
        FactoryFailure{{"ReturnsNothing"}, [](TMainForm&) { return std::unique_ptr<TThread>(); }},
        FactoryFailure{{"Throws"},
                       [](TMainForm&) -> std::unique_ptr<TThread> { throw std::bad_alloc(); }}),
    ksn::test::CaseName<FactoryFailure>);

TEST_F(MainFormTest, StartThreadReturnsWithTheWorkerRunningAndStopThreadDeletesIt)
{
    MakeForm();
    form->StartThread();
    ASSERT_NE(form->Worker(), nullptr);
    EXPECT_TRUE(form->MainThreadRunning);
    EXPECT_TRUE(form->MainRequestDone);
    EXPECT_FALSE(form->MeasurementIdle);
    ASSERT_EQ(workerPages.size(), 1u);
    EXPECT_EQ(workerPages[0], 0);
    const int before = probeData.stepsRun.load();
    WaitLoop([&] { return probeData.stepsRun.load() > before + 3; });

    form->StartThread();  // one worker at most
    EXPECT_EQ(workerPages.size(), 1u);

    form->StopThread();
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_FALSE(form->MainThreadRunning);
    EXPECT_TRUE(form->MeasurementIdle);
    EXPECT_EQ(probeData.liveThreads.load(), 0);
    form->StopThread();  // nothing to stop
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(MainFormTest, AWorkerStoppedFromInsideItsOwnStepCanBeFollowedByANewOne)
{
    // The display step of a run may end the run itself (the start button is
    // released from the worker's step): StopThread cannot wait there.
    bool stoppedOnce = false;
    workerStep = [&stoppedOnce](TMainForm& f) {
        if (!stoppedOnce && f.MainRequestDone) {
            stoppedOnce = true;
            f.StopThread();
        }
    };
    MakeForm();
    form->StartThread();
    WaitLoop([&] { return stoppedOnce && !form->MainThreadRunning; });
    form->StartThread();
    EXPECT_EQ(workerPages.size(), 2u);
    ASSERT_NE(form->Worker(), nullptr);
    EXPECT_TRUE(form->MainThreadRunning);
    form->StopThread();
    EXPECT_EQ(probeData.liveThreads.load(), 0);
}

// The window's own objects follow its threads: the run from idle through
// running back to idle, a stop from inside the worker's step through ending,
// the close into closing.
TEST_F(MainFormTest, TheRunAndTheShutdownFollowTheThreads)
{
    using Run = TMeasurementRun::State;
    bool stopInStep = false;
    workerStep = [&stopInStep](TMainForm& f) {
        if (stopInStep && f.MainRequestDone) {
            stopInStep = false;
            f.StopThread();
        }
    };
    MakeForm();
    EXPECT_EQ(form->RunState(), Run::Idle);
    form->StartThread();
    EXPECT_EQ(form->RunState(), Run::Running);
    form->StopThread();
    EXPECT_EQ(form->RunState(), Run::Idle);

    stopInStep = true;
    form->StartThread();
    WaitLoop([this] { return form->RunState() == Run::Ending; });
    EXPECT_NE(form->Worker(), nullptr) << "the ended worker waits for the next start or stop";
    form->StartThread();
    EXPECT_EQ(form->RunState(), Run::Running);

    EXPECT_EQ(form->ShutdownState(), TShutdownSequence::State::Open);
    form->close();
    EXPECT_EQ(form->ShutdownState(), TShutdownSequence::State::Closing);
    EXPECT_EQ(form->RunState(), Run::Idle);
    EXPECT_EQ(form->DetectionRequestState(), TDetectionRequest::State::Idle);
    EXPECT_EQ(probeData.liveThreads.load(), 0);
}

TEST_F(MainFormTest, AWorkerThatCannotBeMadeIsReportedAndClosesTheWindow)
{
    workerFactory = [](TMainForm&) { return std::unique_ptr<TThread>(); };
    MakeForm();
    form->show();
    Pump();
    WaitForDetectionEnd();
    form->StartThread();  // returns although no worker ever runs
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text, QStringLiteral("Не могу открыть поток 'MainThread'!"));
    EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Ошибка OnStartMainThread()!"));
    EXPECT_EQ(dialogs.Shown()[0].icon, MessageIcon::None);
    EXPECT_TRUE(form->Closing());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(probeData.moduleCloses.load(), 1);
}

TEST_F(MainFormTest, AStartOnAPageWithoutProcessingIsRefused)
{
    MakeForm();
    form->ModuleState = 2;
    Find<QTabWidget>(*form, "MainLMDPageControl")->setCurrentIndex(2);
    ASSERT_EQ(Find<QTabWidget>(*form, "MainLMDPageControl")->currentIndex(), 2);
    form->StartThread();
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text, QStringLiteral("Неизвестный номер страницы приложения!"));
    EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Ошибка StartThread()!!!"));
    EXPECT_EQ(dialogs.Shown()[0].icon, MessageIcon::Information);
    EXPECT_TRUE(workerPages.empty());
    EXPECT_EQ(form->Worker(), nullptr);
}

TEST_F(MainFormTest, APageChangeWithoutAnOpenModuleIsCancelled)
{
    MakeForm();
    form->ModuleState = 1;
    Find<QTabWidget>(*form, "MainLMDPageControl")->setEnabled(false);
    Find<QTabWidget>(*form, "MainLMDPageControl")->setCurrentIndex(1);
    EXPECT_EQ(Find<QTabWidget>(*form, "MainLMDPageControl")->currentIndex(), 0);
    EXPECT_TRUE(Find<QTabWidget>(*form, "MainLMDPageControl")->isEnabled());
    EXPECT_FALSE(form->Busy);
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text,
              QStringLiteral("Нет открытого модуля! Поэтому данная опция не доступна!"));
    EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Внимание!!!"));
    EXPECT_EQ(dialogs.Shown()[0].icon, MessageIcon::Information);
}

TEST_F(MainFormTest, ReturningToTheFirstPageStopsTheMeasurementAndShowsTheStartPanel)
{
    MakeForm();
    form->ModuleState = 2;
    form->StartThread();
    ASSERT_NE(form->Worker(), nullptr);
    Find<QTabWidget>(*form, "MainLMDPageControl")->setCurrentIndex(1);
    EXPECT_NE(form->Worker(), nullptr) << "other pages stop nothing";
    Find<QFrame>(*form, "StartMultimeterLMDSimplePanel")->hide();
    Find<QTabWidget>(*form, "MainLMDPageControl")->setCurrentIndex(0);
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_FALSE(Find<QFrame>(*form, "StartMultimeterLMDSimplePanel")->isHidden());
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(MainFormTest, EscapeClearsBusyDuringDetectionAndStopsNothing)
{
    std::atomic<bool> hold{true};
    detectionHold = &hold;
    MakeForm();
    form->StartThread();
    ASSERT_NE(form->Worker(), nullptr);
    form->StartInitDevicesThread(TMainForm::ModeFullDetection, false);
    WaitLoop([this] { return form->InitThreadRunning.load(); });
    form->Busy = true;
    EXPECT_TRUE(form->ApplicationShortCut(Qt::Key_Escape));
    EXPECT_FALSE(form->Busy);
    EXPECT_NE(form->Worker(), nullptr);
    EXPECT_TRUE(form->ApplicationShortCut(Qt::Key_Escape)) << "handled while detection runs";
    EXPECT_NE(form->Worker(), nullptr);
    hold = false;
    WaitForDetectionEnd();
}

TEST_F(MainFormTest, EscapeClearsBusyWithoutDetection)
{
    MakeForm();
    form->Busy = true;
    EXPECT_TRUE(form->ApplicationShortCut(Qt::Key_Escape));
    EXPECT_FALSE(form->Busy);
    form->Busy = true;
    EXPECT_FALSE(form->ApplicationShortCut(Qt::Key_Return)) << "other keys pass untouched";
    EXPECT_TRUE(form->Busy);
    form->Busy = false;
}

// A box that is up while the window is busy (a detection pass shows its
// messages so) gets Escape and closes; the window's busy flag is cleared all
// the same.
TEST_F(MainFormTest, EscapeWhileBusyClosesTheBoxThatIsUp)
{
    MakeForm();
    form->show();
    Pump();
    WaitForDetectionEnd();
    bool closedByEscape = false;
    const DialogHook previous = SetDialogHook([&](const ShownDialog& shown) {
        QDialog* box = shown.dialog;
        QTimer::singleShot(50, box, [&, box] {
            QPushButton* ok = box->findChild<QPushButton*>();
            ASSERT_NE(ok, nullptr);
            QApplication::setActiveWindow(box);
            ok->setFocus();
            form->Busy = true;
            // Where the key goes first: the hook sees it before the box.
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(QApplication::focusWidget(), &press);
            closedByEscape = !box->isVisible();
        });
        // Should Escape not reach it, the box goes all the same.
        QTimer::singleShot(3000, box, [box] { box->done(0); });
        return false;
    });
    ShowMessageBox(QStringLiteral("text"), QStringLiteral("caption"), MessageIcon::Information);
    SetDialogHook(previous);
    EXPECT_TRUE(closedByEscape);
    EXPECT_FALSE(form->Busy);
}

TEST_F(MainFormTest, EscapeStopsAMeasurementOnTheFirstPage)
{
    MakeForm();
    form->show();
    Pump();
    WaitForDetectionEnd();
    QApplication::setActiveWindow(form.get());
    form->StartThread();
    ASSERT_NE(form->Worker(), nullptr);
    PressEscape();  // through the application's shortcut hook
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_FALSE(form->MainThreadRunning);

    // Idle: Escape does nothing.
    EXPECT_FALSE(form->ApplicationShortCut(Qt::Key_Escape));
    EXPECT_EQ(workerPages.size(), 1u);
}

// --- closing ---

TEST_F(MainFormTest, ClosingStopsTheWorkerBeforeItClosesTheModule)
{
    frameMs = 20;
    MakeForm();
    form->show();
    Pump();
    WaitForDetectionEnd();
    form->StartThread();
    WaitLoop([this] { return probeData.inFrame.load(); });
    form->close();  // in the middle of a frame
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(probeData.moduleCloses.load(), 1);
    EXPECT_EQ(probeData.threadsAliveAtClose.load(), 0);
    EXPECT_FALSE(probeData.closedDuringFrame);
    EXPECT_FALSE(form->Busy);
}

TEST_F(MainFormTest, ClosingWhileBusySkipsTheVisibleStepsButStillReleasesEverything)
{
    MakeForm();
    form->StartThread();
    form->Busy = true;
    form->close();
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(probeData.moduleCloses.load(), 1);
    EXPECT_EQ(probeData.threadsAliveAtClose.load(), 0);
    EXPECT_TRUE(form->Busy) << "the visible shutdown did not run";
}

TEST_F(MainFormTest, ExitClearsBusyAndRunsTheWholeShutdown)
{
    MakeForm();
    form->StartThread();
    form->Busy = true;
    form->ApplicationExitClick();
    EXPECT_FALSE(form->Busy);
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(probeData.moduleCloses.load(), 1);
}

TEST_F(MainFormTest, ClosingSavesTheSettingsOnlyWithAutomaticSave)
{
    const QString file = settingsDirectory + QStringLiteral("/Ksn48_Vevu.ini");
    MakeForm();
    form->close();
    EXPECT_FALSE(QFileInfo::exists(file));

    MakeForm();
    probeData.moduleOpen = true;
    Find<QCheckBox>(*form, "AutoSaveSettingsLMDCheckBox")->setChecked(true);
    EXPECT_FALSE(Find<QPushButton>(*form, "SaveSettingsButton")->isEnabled())
        << "the button is off while saving is automatic";
    form->StartThread();
    form->close();
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(probeData.moduleCloses.load(), 2);
}

TEST_F(MainFormTest, ARefusedSaveAtCloseIsReportedAndTheShutdownGoesOn)
{
    settingsDirectory = temporary.path() + QStringLiteral("/missing/folder");
    MakeForm();
    Find<QCheckBox>(*form, "AutoSaveSettingsLMDCheckBox")->setChecked(true);
    form->StartThread();
    form->close();
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].kind, DialogKind::Exception);
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(probeData.moduleCloses.load(), 1);
    EXPECT_EQ(probeData.threadsAliveAtClose.load(), 0);
}

struct DetectionClose : ksn::test::NamedCase {
    bool respectTerminate;
    bool busy;
};

class CloseDuringDetection : public MainFormTest,
                             public ::testing::WithParamInterface<DetectionClose> {};

TEST_P(CloseDuringDetection, WaitsForThePassBeforeTheModuleIsClosed)
{
    const DetectionClose& c = GetParam();
    std::atomic<bool> hold{c.respectTerminate};  // a pass that ignores the stop just runs its steps
    detectionHold = &hold;
    detectionSteps = 15;
    initFactory = [this, &hold, &c](TMainForm& f) {
        return std::make_unique<TestDetection>(f, formAlive, detectionSteps, &hold,
                                               c.respectTerminate);
    };
    MakeForm();
    form->show();
    WaitLoop([this] { return form->InitThreadRunning.load(); });
    form->Busy = c.busy;
    form->close();
    EXPECT_EQ(probeData.liveThreads.load(), 0);
    EXPECT_EQ(probeData.moduleCloses.load(), 1);
    EXPECT_EQ(probeData.threadsAliveAtClose.load(), 0);
    form.reset();
    EXPECT_EQ(probeData.stepsOnDeadWindow.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Passes, CloseDuringDetection,
                         ::testing::Values(DetectionClose{{"StopsOnRequest"}, true, false},
                                           DetectionClose{{"IgnoresTheRequest"}, false, false},
                                           DetectionClose{{"WhileBusy"}, true, true}),
                         ksn::test::CaseName<DetectionClose>);

TEST_F(MainFormTest, ClosingFromInsideTheWorkersOwnStepFinishesWhenTheWindowGoes)
{
    // The close cannot wait for the worker from inside the worker's own step:
    // the worker is told to stop, and the window's end finishes the job.
    bool closedOnce = false;
    workerStep = [&closedOnce](TMainForm& f) {
        if (!closedOnce) {
            closedOnce = true;
            f.close();
        }
    };
    MakeForm();
    form->StartThread();
    WaitLoop([&] { return closedOnce; });
    EXPECT_TRUE(form->Closing());
    form.reset();
    EXPECT_EQ(probeData.liveThreads.load(), 0);
    EXPECT_EQ(probeData.moduleCloses.load(), 1);
    EXPECT_EQ(probeData.threadsAliveAtClose.load(), 0);
}

TEST_F(MainFormTest, DestroyingTheWindowWithoutACloseStillStopsEverything)
{
    std::atomic<bool> hold{true};
    detectionHold = &hold;
    MakeForm();
    form->StartThread();
    form->StartInitDevicesThread(TMainForm::ModeFullDetection, false);
    WaitLoop([this] { return form->InitThreadRunning.load(); });
    form.reset();
    EXPECT_EQ(probeData.liveThreads.load(), 0);
    EXPECT_EQ(probeData.moduleCloses.load(), 1);
    EXPECT_EQ(probeData.threadsAliveAtClose.load(), 0);
}

TEST_F(MainFormTest, NoNewThreadStartsOnceTheWindowCloses)
{
    MakeForm();
    form->StartInitDevicesThread(TMainForm::ModeFullDetection, false);  // posted, not yet handled
    form->close();
    Pump();
    EXPECT_TRUE(initRequests.empty());
    form->StartThread();
    EXPECT_TRUE(workerPages.empty());
}

TEST_F(MainFormTest, StressStartStopEscapeAndClose)
{
    // 200 runs of a worker that synchronizes in a loop, ended in turn by
    // StopThread, by Escape, by closing the window, and by destroying it.
    std::mt19937 random(48);
    MakeForm();
    int closes = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
        frameMs = static_cast<unsigned>(random() % 3);
        form->StartThread();
        ASSERT_NE(form->Worker(), nullptr) << "cycle " << cycle;
        const int target = probeData.stepsRun.load() + static_cast<int>(random() % 4);
        WaitLoop([&] { return probeData.stepsRun.load() >= target; });
        switch (cycle % 4) {
        case 0:
            form->StopThread();
            break;
        case 1:
            EXPECT_FALSE(form->ApplicationShortCut(Qt::Key_Escape));
            break;
        case 2:
            form->close();
            ++closes;
            MakeForm();
            probeData.moduleOpen = true;
            break;
        default:
            ++closes;
            MakeForm();  // destroys the window with its worker running
            probeData.moduleOpen = true;
            break;
        }
        ASSERT_EQ(form->Worker(), nullptr) << "cycle " << cycle;
        ASSERT_EQ(probeData.liveThreads.load(), 0) << "cycle " << cycle;
    }
    EXPECT_EQ(probeData.moduleCloses.load(), closes);
    EXPECT_EQ(probeData.threadsAliveAtClose.load(), 0);
    EXPECT_EQ(probeData.stepsOnDeadWindow.load(), 0);
    EXPECT_TRUE(dialogs.Shown().empty());
}

}  // namespace
