#include "MainForm.h"

#include "MainFormSettingsView.h"

#include "AdcGroupParsPanel.h"
#include "AppTexts.h"
#include "ApplicationHooks.h"
#include "ApplicationIcon.h"
#include "BusyGuard.h"
#include "CaptionAboveCheckBox.h"
#include "CaptionAboveRadioButton.h"
#include "DecimalSeparator.h"
#include "Ksn48AdcChannelFrame.h"
#include "Led.h"
#include "MessageBox.h"
#include "ScreenMetrics.h"
#include "SettingsLocation.h"
#include "SpectrumView.h"
#include "StartButton.h"
#include "TriStateCheckBox.h"
#include "WaitLoop.h"
#include "WindowSystemWatch.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

// Design sizes of the window: the minimum client height and width, the
// equipment strip's height (hidden, so taken off) and the room of the two
// hidden LEDs at the end of the selection panel.
constexpr int DesignHeight = 941;
constexpr int DesignWidth = 1112;
constexpr int EquipmentStripHeight = 100;
constexpr int HiddenLedRoom = 35;
constexpr int ChannelAreaMinWidth = 988;
constexpr int ChannelAreaMinHeight = 554;

QLabel* MakeLabel(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QFrame* MakePanel(const QString& name, QWidget* parent)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    return panel;
}

}  // namespace

TMainForm::TMainForm(MainFormSetup setup, QWidget* parent)
    : QWidget(parent), setup_(std::move(setup)), run_(MainThreadRunning)
{
    // The window and the controls of the layout.
    BuildLayout();
    const QString settingsDirectory = setup_.SettingsDirectory.isEmpty()
                                          ? SettingsLocation::Directory()
                                          : setup_.SettingsDirectory;
    settingsView_ = std::make_unique<TMainFormSettingsView>(*this);
    Settings = std::make_unique<::Settings>(
        *settingsView_, ::Settings::SettingsFilePath(settingsDirectory.toStdString()));
    connect(SaveSettingsButton, &QPushButton::clicked, this,
            [this] { Settings->SaveSettingsButtonClick(); });
    connect(AutoSaveSettingsLMDCheckBox, &QCheckBox::stateChanged, this,
            [this](int) { Settings->AutoSaveSettingsLMDCheckBoxChange(); });
    SetUpWindowServices();
    ConnectDeviceSelection();

    // Application-wide hooks.
    ApplicationHooks::SetShortCut([this](int key) { return ApplicationShortCut(key); });
    ApplicationHooks::SetActivate([this] { ApplicationActivate(); });
    ApplicationHooks::SetDeactivate([this] { ApplicationDeactivate(); });

    // The application icon, "APPL_ICON".
    QApplication::setWindowIcon(ApplicationIcon());

    // The caption the detection pass shows until it knows the version;
    // the window shows its design caption meanwhile.
    DefaultCaption = AppTexts::DefaultCaption;
    setWindowTitle(AppTexts::DesignCaption);

    // Detection bar texts until a module is known.
    ModuleSerialNumberLMDLabel->setText(AppTexts::UnknownSerial);
    ModuleFirmwareVersionLMDLabel->setText(AppTexts::UnknownFirmware);
    ModuleStatusLed->setToolTip(AppTexts::ModuleLedStartHint);

    SetDecimalSeparatorDot();

    // Initial state, then busy for the rest of the construction.
    Busy = false;
    WindowState = WindowUnderConstruction;
    DeviceInventory.SelectedCrate = DeviceInventory::NoCrate;
    PageList = {MultimeterLMDTabSheet};
    if (SpectrumLMDTabSheet != nullptr) {
        PageList.push_back(SpectrumLMDTabSheet);
    }
    InitThreadRunning = false;
    InitRequestDone = true;
    MainThreadRunning = false;
    MainRequestDone = true;
    MeasurementIdle = true;
    auto building = TBusyGuard::Enter(Busy);

    // The rate list without a choice, all eight rates in view; the
    // all-channels box unticked; then the channel panels.
    AdcRateComboBox->setCurrentIndex(-1);
    AdcRateComboBox->setMaxVisibleItems(static_cast<int>(AdcRateComboBox->count()));
    AllChannelsLMDCheckBox->setCheckState(Qt::Unchecked);
    BuildChannelFrames();

    // First page.
    MainLMDPageControl->setCurrentIndex(0);
    currentPage_ = 0;

    // Fixed frame without maximize button, sized to the screen.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    // Parts that are built but never shown.
    Bevel3->hide();
    GeneratorStatusLed->hide();
    VoltmeterStatusLed->hide();
    EquipmentLMDSimplePanel->hide();
    MainLMDPageControl->setTabVisible(1, false);
    MainLMDPageControl->setTabVisible(2, false);
    SizeWindow();

    // Created.
    building.Release();
    WindowState = WindowCreated;

    // What the window system does to the window behind Qt's back.
    windowSystemWatch_ = std::make_unique<TWindowSystemWatch>(
        *this, [this] { CloseRequestedWhileBlocked(); }, [this] { NativeWindowDestroyed(); });

    FormCreate();
}

TMainForm::~TMainForm()
{
    shutdown_.BeginClose();
    windowSystemWatch_.reset();
    ApplicationHooks::SetShortCut(nullptr);
    ApplicationHooks::SetActivate(nullptr);
    ApplicationHooks::SetDeactivate(nullptr);
    // No thread may outlive the window: stop the worker, let a running
    // detection pass end (its steps still run on this window meanwhile),
    // then close the module.
    run_.Abandon();
    detection_.WaitForEnd();
    CloseModule();
}

void TMainForm::BuildLayout()
{
    setObjectName(QStringLiteral("MainForm"));
    auto* root = new QVBoxLayout(this);
    root->addWidget(BuildDetectionBar());
    root->addWidget(BuildPageArea(), 1);
    connect(MainLMDPageControl, &QTabWidget::currentChanged, this,
            [this](int index) { OnPageChanged(index); });
}

QGroupBox* TMainForm::BuildDetectionBar()
{
    ModuleDetectionLMDGroupBox = new QGroupBox(this);
    ModuleDetectionLMDGroupBox->setObjectName(QStringLiteral("ModuleDetectionLMDGroupBox"));
    auto* bar = new QHBoxLayout(ModuleDetectionLMDGroupBox);
    FindDeviceLMDButton = new QPushButton(AppTexts::FindDevice, ModuleDetectionLMDGroupBox);
    FindDeviceLMDButton->setObjectName(QStringLiteral("FindDeviceLMDButton"));
    bar->addWidget(FindDeviceLMDButton);
    bar->addWidget(BuildSelectionPanel(ModuleDetectionLMDGroupBox), 1);
    bar->addWidget(BuildStartPanel(ModuleDetectionLMDGroupBox));
    bar->addWidget(BuildSettingsGroup(ModuleDetectionLMDGroupBox));
    return ModuleDetectionLMDGroupBox;
}

QFrame* TMainForm::BuildSelectionPanel(QWidget* bar)
{
    SelectedModuleLMDSimplePanel = MakePanel(QStringLiteral("SelectedModuleLMDSimplePanel"), bar);
    auto* selection = new QGridLayout(SelectedModuleLMDSimplePanel);
    selection->setContentsMargins(2, 2, 2, 2);
    QFont listFont(QStringLiteral("Courier New"));
    listFont.setPixelSize(16);
    listFont.setBold(true);
    KsnCratesLabLMDLabel = MakeLabel(QStringLiteral("KsnCratesLabLMDLabel"), AppTexts::CratesLabel,
                                     SelectedModuleLMDSimplePanel);
    KsnCratesComboBox = new QComboBox(SelectedModuleLMDSimplePanel);
    KsnCratesComboBox->setObjectName(QStringLiteral("KsnCratesComboBox"));
    KsnCratesComboBox->setFont(listFont);
    KsnCratesComboBox->setMinimumWidth(180);
    ModulesLabLMDLabel = MakeLabel(QStringLiteral("ModulesLabLMDLabel"), AppTexts::ModulesLabel,
                                   SelectedModuleLMDSimplePanel);
    ModulesComboBox = new QComboBox(SelectedModuleLMDSimplePanel);
    ModulesComboBox->setObjectName(QStringLiteral("ModulesComboBox"));
    ModulesComboBox->setFont(listFont);
    ModulesComboBox->setMinimumWidth(160);
    QFont valueFont(QStringLiteral("Courier New"));
    valueFont.setBold(true);
    ModuleSerialNumberLabLMDLabel =
        MakeLabel(QStringLiteral("ModuleSerialNumberLabLMDLabel"), AppTexts::SerialNumberTitle,
                  SelectedModuleLMDSimplePanel);
    ModuleSerialNumberLMDLabel = MakeLabel(QStringLiteral("ModuleSerialNumberLMDLabel"), QString(),
                                           SelectedModuleLMDSimplePanel);
    ModuleSerialNumberLMDLabel->setFont(valueFont);
    ModuleSerialNumberLMDLabel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    ModuleSerialNumberLMDLabel->setToolTip(AppTexts::SerialNumberHint);
    ModuleFirmwareVersionLabLMDLabel =
        MakeLabel(QStringLiteral("ModuleFirmwareVersionLabLMDLabel"), AppTexts::FirmwareTitle,
                  SelectedModuleLMDSimplePanel);
    ModuleFirmwareVersionLMDLabel = MakeLabel(QStringLiteral("ModuleFirmwareVersionLMDLabel"),
                                              QString(), SelectedModuleLMDSimplePanel);
    ModuleFirmwareVersionLMDLabel->setFont(valueFont);
    ModuleFirmwareVersionLMDLabel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    ModuleFirmwareVersionLMDLabel->setToolTip(AppTexts::FirmwareHint);
    const auto makeLed = [this](const QString& name) {
        auto* led = new TLed(SelectedModuleLMDSimplePanel);
        led->setObjectName(name);
        led->setFixedSize(24, 24);
        const QColor face = palette().color(QPalette::Button);
        led->SetTrueColor(face);
        led->SetFalseColor(face);
        return led;
    };
    KsnCrateStatusLed = makeLed(QStringLiteral("KsnCrateStatusLed"));
    ModuleStatusLed = makeLed(QStringLiteral("ModuleStatusLed"));
    ModuleStatusLed->setToolTip(AppTexts::ModuleLedHint);
    Bevel3 = MakePanel(QStringLiteral("Bevel3"), SelectedModuleLMDSimplePanel);
    GeneratorStatusLed = makeLed(QStringLiteral("GeneratorStatusLed"));
    VoltmeterStatusLed = makeLed(QStringLiteral("VoltmeterStatusLed"));
    Bevel3->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    // Lists on the left, the module's identity on the right, one row each.
    selection->addWidget(KsnCratesLabLMDLabel, 0, 0);
    selection->addWidget(KsnCratesComboBox, 0, 1);
    selection->addWidget(ModulesLabLMDLabel, 1, 0);
    selection->addWidget(ModulesComboBox, 1, 1);
    selection->addWidget(ModuleSerialNumberLabLMDLabel, 0, 3);
    selection->addWidget(ModuleSerialNumberLMDLabel, 0, 4);
    selection->addWidget(ModuleFirmwareVersionLabLMDLabel, 1, 3);
    selection->addWidget(ModuleFirmwareVersionLMDLabel, 1, 4);
    selection->addWidget(KsnCrateStatusLed, 0, 2);
    selection->addWidget(ModuleStatusLed, 1, 2);
    selection->addWidget(Bevel3, 0, 5, 2, 1);
    selection->addWidget(GeneratorStatusLed, 0, 6);
    selection->addWidget(VoltmeterStatusLed, 1, 6);
    ModuleSerialNumberLMDLabel->setMinimumWidth(150);
    ModuleFirmwareVersionLMDLabel->setMinimumWidth(150);
    ModuleSerialNumberLMDLabel->setAlignment(Qt::AlignCenter);
    ModuleFirmwareVersionLMDLabel->setAlignment(Qt::AlignCenter);
    return SelectedModuleLMDSimplePanel;
}

QFrame* TMainForm::BuildStartPanel(QWidget* bar)
{
    StartMultimeterLMDSimplePanel = MakePanel(QStringLiteral("StartMultimeterLMDSimplePanel"), bar);
    auto* startLayout = new QHBoxLayout(StartMultimeterLMDSimplePanel);
    StartMultimeterLMDSpeedButton = new QPushButton(StartMultimeterLMDSimplePanel);
    StartMultimeterLMDSpeedButton->setObjectName(QStringLiteral("StartMultimeterLMDSpeedButton"));
    StartMultimeterLMDSpeedButton->setCheckable(true);
    ShowStartButtonIdle(*StartMultimeterLMDSpeedButton);
    // The stop caption is shorter: keep the start caption's width so the bar
    // does not shift while a measurement runs.
    StartMultimeterLMDSpeedButton->ensurePolished();
    StartMultimeterLMDSpeedButton->setMinimumWidth(
        StartMultimeterLMDSpeedButton->sizeHint().width());
    startLayout->addWidget(StartMultimeterLMDSpeedButton);
    return StartMultimeterLMDSimplePanel;
}

QGroupBox* TMainForm::BuildSettingsGroup(QWidget* bar)
{
    SaveIniSettingLMDGroupBox = new QGroupBox(AppTexts::SettingsGroup, bar);
    SaveIniSettingLMDGroupBox->setObjectName(QStringLiteral("SaveIniSettingLMDGroupBox"));
    auto* saveLayout = new QVBoxLayout(SaveIniSettingLMDGroupBox);
    AutoSaveSettingsLMDCheckBox = new QCheckBox(AppTexts::AutoSave, SaveIniSettingLMDGroupBox);
    AutoSaveSettingsLMDCheckBox->setObjectName(QStringLiteral("AutoSaveSettingsLMDCheckBox"));
    SaveSettingsButton = new QPushButton(AppTexts::Save, SaveIniSettingLMDGroupBox);
    SaveSettingsButton->setObjectName(QStringLiteral("SaveSettingsButton"));
    saveLayout->addWidget(AutoSaveSettingsLMDCheckBox);
    saveLayout->addWidget(SaveSettingsButton);
    return SaveIniSettingLMDGroupBox;
}

QFrame* TMainForm::BuildPageArea()
{
    MainLMDSimplePanel = MakePanel(QStringLiteral("MainLMDSimplePanel"), this);
    auto* pageArea = new QVBoxLayout(MainLMDSimplePanel);
    pageArea->setContentsMargins(0, 0, 0, 0);
    pageArea->addWidget(BuildPageControl(MainLMDSimplePanel));
    return MainLMDSimplePanel;
}

QTabWidget* TMainForm::BuildPageControl(QWidget* area)
{
    MainLMDPageControl = new QTabWidget(area);
    MainLMDPageControl->setObjectName(QStringLiteral("MainLMDPageControl"));
    MultimeterLMDTabSheet = new QWidget;
    MultimeterLMDTabSheet->setObjectName(QStringLiteral("MultimeterLMDTabSheet"));
    CorrectionFactorsLMDTabSheet = new QWidget;
    CorrectionFactorsLMDTabSheet->setObjectName(QStringLiteral("CorrectionFactorsLMDTabSheet"));
    VerificationLMDTabSheet = new QWidget;
    VerificationLMDTabSheet->setObjectName(QStringLiteral("VerificationLMDTabSheet"));
    MainLMDPageControl->addTab(MultimeterLMDTabSheet, AppTexts::MultimeterPage);
    MainLMDPageControl->addTab(CorrectionFactorsLMDTabSheet, AppTexts::CorrectionFactorsPage);
    MainLMDPageControl->addTab(VerificationLMDTabSheet, AppTexts::VerificationPage);
    if (setup_.SpectrumPage) {
        SpectrumPage = setup_.SpectrumPage(MainLMDPageControl);
        if (SpectrumPage != nullptr) {
            SpectrumLMDTabSheet = SpectrumPage->Page();
            SpectrumLMDTabSheet->setObjectName(QStringLiteral("SpectrumLMDTabSheet"));
            MainLMDPageControl->addTab(SpectrumLMDTabSheet, AppTexts::SpectrumPage);
        }
    }
    BuildMultimeterPage();
    return MainLMDPageControl;
}

QFrame* TMainForm::BuildMultimeterPage()
{
    // "Мультиметр" page: the panel centred on it.
    auto* pageLayout = new QHBoxLayout(MultimeterLMDTabSheet);
    MultimeterLMDSimplePanel =
        MakePanel(QStringLiteral("MultimeterLMDSimplePanel"), MultimeterLMDTabSheet);
    pageLayout->addStretch();
    pageLayout->addWidget(MultimeterLMDSimplePanel);
    pageLayout->addStretch();
    auto* multimeter = new QVBoxLayout(MultimeterLMDSimplePanel);
    AdcGroupParsLMDGroupBox = new TAdcGroupParsPanel(MultimeterLMDSimplePanel);
    AllChannelsLMDCheckBox = AdcGroupParsLMDGroupBox->AllChannelsLMDCheckBox;
    AdcRateComboBox = AdcGroupParsLMDGroupBox->AdcRateComboBox;
    multimeter->addWidget(AdcGroupParsLMDGroupBox, 0, Qt::AlignHCenter);
    multimeter->addWidget(BuildChannelArea(MultimeterLMDSimplePanel), 1);
    EquipmentLMDSimplePanel =
        MakePanel(QStringLiteral("EquipmentLMDSimplePanel"), MultimeterLMDSimplePanel);
    EquipmentLMDSimplePanel->setFixedHeight(EquipmentStripHeight);
    multimeter->addWidget(EquipmentLMDSimplePanel);
    return MultimeterLMDSimplePanel;
}

QGroupBox* TMainForm::BuildChannelArea(QWidget* panel)
{
    AdcIndividualParsLMDGroupBox = new QGroupBox(AppTexts::IndividualParsGroup, panel);
    AdcIndividualParsLMDGroupBox->setObjectName(QStringLiteral("AdcIndividualParsLMDGroupBox"));
    auto* individual = new QVBoxLayout(AdcIndividualParsLMDGroupBox);
    AdcIndividualParsLMDScrollBox = new QScrollArea(AdcIndividualParsLMDGroupBox);
    AdcIndividualParsLMDScrollBox->setObjectName(QStringLiteral("AdcIndividualParsLMDScrollBox"));
    AdcIndividualParsLMDScrollBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    AdcIndividualParsLMDScrollBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    AdcIndividualParsLMDSimplePanel = new QWidget;
    AdcIndividualParsLMDSimplePanel->setObjectName(
        QStringLiteral("AdcIndividualParsLMDSimplePanel"));
    AdcIndividualParsLMDSimplePanel->setMinimumSize(ChannelAreaMinWidth, ChannelAreaMinHeight);
    AdcIndividualParsLMDScrollBox->setWidget(AdcIndividualParsLMDSimplePanel);
    AdcIndividualParsLMDScrollBox->setWidgetResizable(true);
    // Room for the channel area and its vertical scroll bar, never a
    // horizontal one.
    AdcIndividualParsLMDScrollBox->setMinimumWidth(ChannelAreaMinWidth +
                                                   Screen().VerticalScrollBarWidth() +
                                                   2 * AdcIndividualParsLMDScrollBox->frameWidth());
    individual->addWidget(AdcIndividualParsLMDScrollBox);
    return AdcIndividualParsLMDGroupBox;
}

void TMainForm::SizeWindow()
{
    // Fixed size: the design size less the hidden parts, within the work
    // area. The hidden LEDs and the equipment strip take no room in the
    // layout, so only the numbers change.
    const ScreenMetrics& screen = Screen();
    const QRect work = screen.WorkArea(this);
    const int decorationsH = screen.CaptionHeight() + 2 * screen.DialogFrameHeight();
    const int decorationsW = 2 * screen.DialogFrameWidth();
    const int maxHeight = std::max(work.height() - decorationsH, 1);
    const int maxWidth = std::max(work.width() - decorationsW, 1);
    // Never narrower than the layout needs: the channel area and its scroll
    // bar keep their room, nothing is cut at the right.
    const int width =
        std::min(std::max(DesignWidth - HiddenLedRoom, minimumSizeHint().width()), maxWidth);
    // Where the screen has room the window grows at its first show, when
    // the layout has placed everything (GrowToShowAllChannels).
    const int height = std::min(DesignHeight - EquipmentStripHeight, maxHeight);
    setFixedSize(width, height);
}

void TMainForm::BuildChannelFrames()
{
    // Stacked one below the other, centred in the channel area; the area
    // grows to hold all eight so that it scrolls when the window is low.
    int panelHeight = 0;
    int panelWidth = 0;
    for (std::size_t i = 0; i < ChannelFrames.size(); ++i) {
        auto* frame = new TKsn48AdcChannelFrame(AdcIndividualParsLMDSimplePanel,
                                                static_cast<std::uint16_t>(i));
        frame->setObjectName(AppTexts::ChannelFrameName.arg(i));
        frame->adjustSize();
        const QRect inner = frame->Ksn48AdcChannelLMDSimplePanel->geometry();
        panelWidth = std::max(inner.left() + inner.width(), frame->width());
        panelHeight = std::max(inner.top() + inner.height(), frame->height());
        frame->resize(panelWidth, panelHeight);
        const int left = std::max(0, static_cast<int>((ChannelAreaMinWidth - panelWidth) * 0.5));
        frame->move(left, static_cast<int>(i) * panelHeight + 2);
        frame->SetValueTitlesAndUnits();
        connect(frame->ChannelNumberLMDCheckBox, &QCheckBox::stateChanged, this,
                [this, box = frame->ChannelNumberLMDCheckBox](int) {
                    EnaChannelLMDCheckBoxChange(box);
                });
        connect(frame->BasePhaseChannelLMDRadioButton, &QRadioButton::clicked, this,
                [this, radio = frame->BasePhaseChannelLMDRadioButton] {
                    BasePhaseChannelLMDRadioButtonClick(radio);
                });
        frame->DisablePanel();
        ChannelFrames[i] = frame;
        ResetChannelFrame(static_cast<int>(i));
        frame->show();
    }
    AdcIndividualParsLMDSimplePanel->setMinimumSize(
        std::max(ChannelAreaMinWidth, panelWidth),
        std::max(ChannelAreaMinHeight, static_cast<int>(ChannelFrames.size()) * panelHeight + 4));
}

// --- events ---

bool TMainForm::event(QEvent* event)
{
    if (event->type() == WindowMessageEvent::EventType()) {
        Dispatch(static_cast<WindowMessageEvent*>(event)->Message());
        return true;
    }
    if (event->type() == QEvent::WindowActivate) {
        FormActivate();
    }
    return QWidget::event(event);
}

void TMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    FormShow();
    // Qt sends the first resize before the show, not after it: the start-up
    // request follows the first show directly.
    FormResize();
}

void TMainForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TMainForm::FormCreate()
{
    SetDecimalSeparatorDot();
}

void TMainForm::FormActivate()
{
    SetDecimalSeparatorDot();
}

void TMainForm::FormShow()
{
    if (Busy) {
        return;
    }
    if (WindowState == WindowCreated) {
        WindowState = WindowShown;
    }
}

void TMainForm::FormResize()
{
    const auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered() || WindowState != WindowShown) {
        return;
    }
    // Centred in the work area, also when the work area does not start at
    // the top of the screen (a panel at the top).
    const QRect work = Screen().WorkArea(this);
    const int top = work.top() + (work.height() - frameGeometry().height()) / 2;
    move(frameGeometry().left(), top);
    WindowState = WindowDetectionRequested;
    StartInitDevicesThread(ModeFullDetection, true);
}

void TMainForm::FormClose()
{
    shutdown_.BeginClose();
    if (Busy) {
        // The visible shutdown is skipped, as the design has it; the threads
        // and the module are still released, when the window is destroyed
        // at the latest.
        ReleaseThreadsAndModule();
        return;
    }
    const auto busy = TBusyGuard::Enter(Busy);
    try {
        Settings->SaveOnClose();
    } catch (const std::exception& e) {
        // Whatever the settings did, the threads and the module go.
        ShowException(QString::fromUtf8(e.what()));
    }
    // What remains may wait for a thread inside a library call, or for a
    // server that no longer answers: the window goes from the screen first,
    // so that nothing seems frozen meanwhile.
    if (!shutdown_.WindowGone()) {
        hide();
    }
    StopThread();
    ReleaseThreadsAndModule();
}

void TMainForm::CloseRequestedWhileBlocked()
{
    if (!shutdown_.AskClose()) {
        return;
    }
    EndPassAndBoxes();
    // Then the close, once the boxes' loops have returned.
    QTimer::singleShot(0, this, [this] {
        if (shutdown_.CloseDue()) {
            close();
        }
    });
}

void TMainForm::NativeWindowDestroyed()
{
    if (!shutdown_.WindowDestroyed()) {
        return;
    }
    EndPassAndBoxes();
    // Nothing of the window can be shown or hidden any more: the shutdown
    // runs as for a close, and the program ends with it.
    QTimer::singleShot(0, this, [this] {
        if (!shutdown_.Closing()) {
            FormClose();
        }
        QCoreApplication::quit();
    });
}

void TMainForm::EndPassAndBoxes()
{
    // A pass skips what it has left; its box returns and its last step runs
    // while the shutdown waits for it.
    detection_.Terminate();
    // Every modal box gives way, the innermost first; each one's caller goes
    // on from where it showed it.
    for (int boxes = 0; boxes < 16; ++boxes) {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            break;
        }
        box->reject();
    }
}

void TMainForm::ApplicationExitClick()
{
    Busy = false;
    close();
}

// --- thread control ---

void TMainForm::StartInitDevicesThread(int mode, bool firstStart)
{
    if (InitThreadRunning || !InitRequestDone || shutdown_.Closing()) {
        return;
    }
    InitRequestDone = false;
    PostMessage(this, WM_START_INIT_THREAD, mode, firstStart ? 1 : 0);
}

void TMainForm::OnStartInitDevicesThread(TMessage& message)
{
    InitThreadRunning = false;
    if (shutdown_.Closing()) {
        return;
    }
    if (run_.WindingDown()) {
        // A worker stopped from inside its own step (the window served its
        // events while the step waited for the module) still winds down: the
        // pass waits for it rather than share the handle with it.
        const auto mode = message.WParam;
        const auto firstStart = message.LParam;
        QTimer::singleShot(WaitLoopPeriod, this, [this, mode, firstStart] {
            if (!shutdown_.Closing()) {
                PostMessage(this, WM_START_INIT_THREAD, mode, firstStart);
            }
        });
        return;
    }
    std::unique_ptr<TThread> made;
    try {
        if (setup_.InitThread) {
            made = setup_.InitThread(*this, message.LParam != 0, static_cast<int>(message.WParam));
        }
    } catch (...) {
        made.reset();
    }
    if (!made) {
        run_.EndReopen();
        ShowMessageBox(AppTexts::InitThreadFailed, AppTexts::InitThreadFailedCaption,
                       MessageIcon::None);
        return;
    }
    // Whatever the pass opens is the window's module from now on.
    detection_.Launch(std::move(made), InitThreadRunning,
                      [this](TThread&) { InitThreadTerminate(); });
    InitRequestDone = true;
}

void TMainForm::InitThreadTerminate()
{
    InitThreadRunning = false;
    // The pass has read the settings: the feed's section too, once the
    // pass's own messages are over.
    QTimer::singleShot(0, this, [this] {
        if (!shutdown_.Closing()) {
            ReadFeedSettings();
        }
    });
    if (run_.EndReopen()) {
        // Not from inside the thread's end: the start waits for the worker.
        QMetaObject::invokeMethod(
            this, [this] { StartAfterReopen(); }, Qt::QueuedConnection);
    }
}

void TMainForm::StartAfterReopen()
{
    if (shutdown_.Closing()) {
        return;
    }
    const auto busy = TBusyGuard::Enter(Busy);
    const bool start = busy.Entered() && ModuleState == device::ModuleOpen && ActivePageIndex() &&
                       StartMultimeterLMDSpeedButton->isChecked() && run_.Worker() == nullptr;
    if (start) {
        StartThread();
        return;
    }
    const auto hold = TBusyGuard::Hold(Busy);
    StartMultimeterLMDSpeedButton->setChecked(false);
    if (ModuleState != device::ModuleOpen) {
        // The module is still out of reach: as after the lost link, the
        // next start tries to open it again.
        detection_.ModuleLost();
        StartMultimeterLMDSimplePanel->setEnabled(true);
        StartMultimeterLMDSpeedButton->setEnabled(true);
        StartMultimeterLMDSimplePanel->show();
    }
}

void TMainForm::StartThread()
{
    // A worker that was stopped from inside its own step has ended since;
    // it goes now. One that is still stopping blocks a new one.
    run_.ReleaseEnded();
    if (MainThreadRunning || !MainRequestDone || run_.Worker() != nullptr ||
        shutdown_.Closing()) {
        return;
    }
    QWidget* active = MainLMDPageControl->currentWidget();
    const auto found = std::find(PageList.begin(), PageList.end(), active);
    if (found == PageList.end()) {
        ShowMessageBox(AppTexts::UnknownPage, AppTexts::UnknownPageCaption,
                       MessageIcon::Information);
        return;
    }
    // Every page of PageList has its processing on the worker.
    PageNumber = static_cast<std::uint16_t>(found - PageList.begin());
    // The feed follows its settings at each start.
    ReadFeedSettings();
    if (!run_.BeginStart()) {
        return;
    }
    MainRequestDone = false;
    PostMessage(this, WM_START_MAIN_THREAD, 0, 0);
    // A worker that cannot be made closes the window; then nothing runs.
    WaitLoop([this] { return MainRequestDone || shutdown_.Closing(); });
}

std::optional<std::uint16_t> TMainForm::ActivePageIndex() const
{
    QWidget* active = MainLMDPageControl != nullptr ? MainLMDPageControl->currentWidget() : nullptr;
    const auto found = std::find(PageList.begin(), PageList.end(), active);
    if (active == nullptr || found == PageList.end()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(found - PageList.begin());
}

void TMainForm::OnStartMainThread(TMessage&)
{
    MainThreadRunning = false;
    if (shutdown_.Closing() || run_.Worker() != nullptr) {
        run_.AbandonStart();
        MainRequestDone = true;
        return;
    }
    std::unique_ptr<TThread> made;
    try {
        if (setup_.MainThread) {
            made = setup_.MainThread(*this, PageNumber);
        }
    } catch (...) {
        made.reset();
    }
    if (!made) {
        run_.AbandonStart();
        ShowMessageBox(AppTexts::MainThreadFailed, AppTexts::MainThreadFailedCaption,
                       MessageIcon::None);
        close();
        return;
    }
    if (run_.Current() != TMeasurementRun::State::Starting) {
        run_.BeginStart();  // a request posted other than by StartThread
    }
    run_.Launch(std::move(made), [this] { return shutdown_.Closing(); });
    MainRequestDone = true;
}

void TMainForm::StopThread()
{
    // Not while a start is under way (its own wait loop runs this window).
    if (!MainRequestDone) {
        return;
    }
    run_.Stop();
}

void TMainForm::Dispatch(TMessage& message)
{
    switch (message.Msg) {
    case WM_START_INIT_THREAD:
        OnStartInitDevicesThread(message);
        break;
    case WM_START_MAIN_THREAD:
        OnStartMainThread(message);
        break;
    default:
        break;  // no other messages of our own
    }
}

// --- hooks ---

bool TMainForm::ApplicationShortCut(int key)
{
    if (key != Qt::Key_Escape) {
        return false;
    }
    if (Busy || InitThreadRunning) {
        Busy = false;
        // A box that is up gets its key: Escape closes it.
        QWidget* modal = QApplication::activeModalWidget();
        return modal == nullptr || modal == this;
    }
    // A measurement on the page in view, whichever of PageList it is.
    if (ActivePageIndex() && !MeasurementIdle) {
        StopThread();
    }
    return false;
}

void TMainForm::ApplicationActivate()
{
    SetHoverSelect(ChannelFrames, true);
}

void TMainForm::ApplicationDeactivate()
{
    SetHoverSelect(ChannelFrames, false);
}

// --- channel panels ---

void TMainForm::ResetChannelFrame(int i)
{
    if (i >= 0 && static_cast<std::size_t>(i) < ChannelFrames.size() &&
        ChannelFrames[static_cast<std::size_t>(i)] != nullptr) {
        ChannelFrames[static_cast<std::size_t>(i)]->ResetChannelFrame();
    }
}

void TMainForm::EnaChannelLMDCheckBoxChange(QObject* sender)
{
    const auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered()) {
        return;
    }
    StopThread();
    const TChannelHandlerResult result =
        ChannelCheckBoxChanged(ChannelFrames, *AllChannelsLMDCheckBox, sender);
    if (result.Message) {
        ShowMessageBox(result.Message->Text, result.Message->Caption, result.Message->Icon);
    }
}

void TMainForm::BasePhaseChannelLMDRadioButtonClick(QObject* sender)
{
    const auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered()) {
        return;
    }
    // A running measurement follows the new reference from its next result.
    const TChannelHandlerResult result = ReferenceRadioClicked(ChannelFrames, sender);
    if (result.Channel) {
        Settings->Record.ReferenceChannel = *result.Channel;
    }
    if (result.Message) {
        ShowMessageBox(result.Message->Text, result.Message->Caption, result.Message->Icon);
    }
}

// --- pages ---

bool TMainForm::MainLMDPageControlChangingEx(int newPage)
{
    auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered()) {
        return true;
    }
    if (ModuleState != device::ModuleOpen) {
        MainLMDPageControl->setEnabled(true);
        busy.Release();
        ShowMessageBox(AppTexts::NoOpenModule, AppTexts::NoOpenModuleCaption,
                       MessageIcon::Information);
        return false;
    }
    // A page with processing of its own: the measurement of the page left
    // stops first, and the start button measures on the new one.
    QWidget* page = MainLMDPageControl->widget(newPage);
    if (newPage == 0 ||
        (page != nullptr && std::find(PageList.begin(), PageList.end(), page) != PageList.end())) {
        StopThread();
        StartMultimeterLMDSimplePanel->show();
    }
    if (page != nullptr && page == SpectrumLMDTabSheet) {
        SpectrumPage->SetChannels(TickedChannels(ChannelFrames));
    }
    return true;
}

void TMainForm::OnPageChanged(int index)
{
    if (MainLMDPageControlChangingEx(index)) {
        currentPage_ = index;
        return;
    }
    // Back to the page left, which is no change of the operator's.
    const QSignalBlocker reverting(MainLMDPageControl);
    MainLMDPageControl->setCurrentIndex(currentPage_);
}

// --- shutdown ---

bool TMainForm::ReleaseThreadsAndModule()
{
    if (!run_.Release()) {
        return false;  // an outer frame is waiting for it
    }
    if (detection_.Thread() != nullptr) {
        if (detection_.InsideStep()) {
            return false;
        }
        detection_.WaitForEnd();
    }
    // A server that no longer answers keeps the close waiting for its short
    // timeout: the window goes on meanwhile.
    if (ModuleOpenInLibrary()) {
        CallWhileServing([this] { return setup_.ModuleClose(&Ksn48Handle); });
    }
    return true;
}

bool TMainForm::ModuleOpenInLibrary() const
{
    return setup_.ModuleIsOpened != nullptr && setup_.ModuleClose != nullptr &&
           setup_.ModuleIsOpened(&Ksn48Handle) == 0;
}

void TMainForm::CloseModule()
{
    if (ModuleOpenInLibrary()) {
        setup_.ModuleClose(&Ksn48Handle);
    }
}
