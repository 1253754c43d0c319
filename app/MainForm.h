#pragma once

#include "ChannelPanels.h"
#include "Detection.h"
#include "DetectionRequest.h"
#include "DetectionView.h"
#include "DeviceInventory.h"
#include "MeasurementRun.h"
#include "ResultsOutlet.h"
#include "Settings.h"
#include "ShutdownSequence.h"
#include "Thread.h"
#include "WindowMessages.h"
#include "ksn48api.h"

#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QPoint;
class QPushButton;
class QScrollArea;
class QTabWidget;
class TAdcGroupParsPanel;
class TLed;
class TMainForm;
class TMainFormSettingsView;
class TTriStateCheckBox;
class TWindowSystemWatch;
class SpectrumView;

namespace mqtt {
class ResultsPublisher;
}

// The window's name for the detection inventory.
using DeviceInventory = device::DeviceInventory;

// The window's life: the stored numbers are those of its design.
enum TWindowState : std::uint8_t {
    WindowUnderConstruction = 0,
    WindowCreated = 1,
    WindowShown = 2,
    WindowDetectionRequested = 3,  // the start-up detection was asked for
};

// What the program hands the window: how to make its two threads and how to
// ask the module library about the handle. The executable installs the real
// ones; tests install their own.
struct MainFormSetup {
    // Make (not necessarily start) the detection thread for one request, or
    // return null / throw when it cannot be made. The window starts it.
    std::function<std::unique_ptr<TThread>(TMainForm& form, bool firstStart, int mode)> InitThread;
    // Make the worker for the page with the given index in PageList.
    std::function<std::unique_ptr<TThread>(TMainForm& form, std::uint16_t pageNumber)> MainThread;
    // The module library's KSN48_IsOpened / KSN48_Close; without them the
    // handle is taken as never opened.
    int (*ModuleIsOpened)(const Ksn48Handle*) = nullptr;
    int (*ModuleClose)(Ksn48Handle*) = nullptr;
    // Folder of the settings file; empty for the program's own folder.
    QString SettingsDirectory;
    // Make the page "Спектр" (a child of parent), or leave it empty for a
    // window with the multimeter page alone.
    std::function<SpectrumView*(QWidget* parent)> SpectrumPage;
};

// The program's only window: owner of the device state, the module handle
// and the two threads; serializes operator actions with Busy. It is the
// detection pass's view (its side of the pass is in MainFormDevices.cpp).
class TMainForm : public QWidget, public DetectionView {
public:
    // Detection requests (wParam of WM_START_INIT_THREAD).
    static constexpr device::DetectionMode ModeModuleChanged = device::ModeModuleChanged;
    static constexpr device::DetectionMode ModeCrateChanged = device::ModeCrateChanged;
    static constexpr device::DetectionMode ModeFullDetection = device::ModeFullDetection;

    explicit TMainForm(MainFormSetup setup, QWidget* parent = nullptr);
    // Stops and waits for the threads and closes the module, whatever path
    // led here.
    ~TMainForm() override;

    // --- window state (GUI thread unless atomic) ---
    bool Busy = false;
    std::atomic<bool> InitThreadRunning{false};
    bool InitRequestDone = true;
    std::atomic<bool> MainThreadRunning{false};
    bool MainRequestDone = true;
    std::atomic<bool> MeasurementIdle{true};
    TWindowState WindowState = WindowUnderConstruction;
    // The pages with processing on the worker: "Мультиметр" and, when the
    // program has it, "Спектр".
    std::vector<QWidget*> PageList;
    std::uint16_t PageNumber = 0;
    // The page "Спектр" as the worker sees it; null without it.
    SpectrumView* SpectrumPage = nullptr;
    // Index in PageList of the page the page control shows, if it is one.
    std::optional<std::uint16_t> ActivePageIndex() const;
    QString DefaultCaption;

    // --- device state: written by the detection thread, read by everyone ---
    ::DeviceInventory DeviceInventory;
    std::atomic<std::int32_t> CrateOk{0};
    std::atomic<std::uint8_t> ModuleState{device::ModuleNone};  // device::ModuleStateCode
    ::Ksn48Handle Ksn48Handle{};

    // --- operator settings and views ---
    // The settings record and the settings-file object kept for writing.
    std::unique_ptr<::Settings> Settings;
    // The eight channel panels, owned by AdcIndividualParsLMDSimplePanel.
    TChannelFrames ChannelFrames{};

    // --- events ---
    void FormCreate();
    void FormShow();
    void FormResize();
    void FormActivate();
    void FormClose();

    // --- thread control ---
    void StartInitDevicesThread(int mode, bool firstStart);
    void OnStartInitDevicesThread(TMessage& message);
    void StartThread();
    void OnStartMainThread(TMessage& message);
    void StopThread();
    void Dispatch(TMessage& message);

    // --- application hooks ---
    // Returns true when the key is handled.
    bool ApplicationShortCut(int key);
    void ApplicationActivate();
    void ApplicationDeactivate();

    // --- channel panels ---
    // Panel i back to "not measured".
    void ResetChannelFrame(int i);
    void EnaChannelLMDCheckBoxChange(QObject* sender);
    void BasePhaseChannelLMDRadioButtonClick(QObject* sender);

    // --- pages ---
    // Returns false when the change is refused.
    bool MainLMDPageControlChangingEx(int newPage);

    // --- device selection ---
    // The operator picked a crate or a module: record the choice and ask
    // for the detection pass that opens it.
    void KsnCratesComboBoxChange(QObject* sender);
    void ModulesComboBoxChange(QObject* sender);
    // Connects the two lists to their handlers (once, at construction).
    void ConnectDeviceSelection();

    // Context menu "Выход": closes with the full shutdown.
    void ApplicationExitClick();

    // --- acquisition controls, settings commands, layout services ---
    void FindDeviceLMDButtonClick();
    void StartLMDSpeedButtonClick();
    void AdcRateComboBoxChange();
    void DataFormatLMDComboBoxChange();
    void CurrentValueLMDComboBoxChange();
    void AllChannelsLMDCheckBoxChange();
    void PhaseCorrectionFilterMultimeterLMDCheckBoxChange();
    void SaveCurrentSettingsClick();
    void SaveDefaultSettingsClick();

    // --- results leaving the window (TResultsOutlet) ---
    // Context menu "Запись результатов в файл...".
    void RecordResultsClick() { outlet_.RecordResultsClick(); }
    bool RecordingResults() const noexcept { return outlet_.RecordingResults(); }
    // The feed's section of the settings file (and [Precision]), read again.
    void ReadFeedSettings() { outlet_.ReadFeedSettings(); }
    // The feed's publisher while one runs (tests).
    const mqtt::ResultsPublisher* FeedPublisher() const noexcept { return outlet_.FeedPublisher(); }
    // Whether a right click opens PopupMenu; the detection pass switches it
    // off. The menu's shortcuts work either way.
    void SetPopupMenuAutoPopup(bool on);
    bool PopupMenuAutoPopup() const noexcept { return popupAutoPopup_; }
    // Before a tooltip of `widget` shows: its hide time in milliseconds.
    int ApplicationShowHint(const QWidget* widget) const;
    // Type code of the selected module crate, if there is one.
    std::optional<std::uint8_t> SelectedCrateType() const;
    int OsVersionCode = 0;

    // The worker and the last detection thread while they exist (tests and
    // diagnostics).
    TThread* Worker() const noexcept { return run_.Worker(); }
    TThread* DetectionThread() const noexcept { return detection_.Thread(); }
    // The detection asked for has run and ended: requested, no pass thread
    // left, InitThreadRunning clear.
    bool DetectionOver() const noexcept
    {
        return InitRequestDone && detection_.Thread() == nullptr && !InitThreadRunning;
    }
    // True once a close has begun: no new thread is started after that.
    bool Closing() const noexcept { return shutdown_.Closing(); }
    // The states of the run, the detection request and the shutdown (tests
    // and diagnostics).
    TMeasurementRun::State RunState() const noexcept { return run_.Current(); }
    TDetectionRequest::State DetectionRequestState() const noexcept { return detection_.Current(); }
    TShutdownSequence::State ShutdownState() const noexcept { return shutdown_.Current(); }

    // A close request that a modal box holds back (the window system's, or
    // the program's own): the boxes are closed, a detection pass is asked to
    // end, and the window closes as soon as the boxes are gone.
    void CloseRequestedWhileBlocked();
    // The window's native window was destroyed by another program: the
    // shutdown runs as for a close, without the window, and the program
    // ends.
    void NativeWindowDestroyed();

    // The worker's run ended at a lost link: the module shows as not open
    // (ModuleState 0, its LED red) and the next start opens it again (the
    // pass of a module change) before it measures.
    void ShowModuleLost();
    bool ModuleLost() const noexcept { return detection_.ReopenDue(); }

protected:
    // --- DetectionView (the pass calls these on the window's thread) ---
    State DetectionState() override;
    ::Settings& DetectionSettings() override;
    void DisablePopupMenu() override;
    void BeginDetectionPass() override;
    void SetDetectionControlsEnabled(bool enabled) override;
    void ClearModuleList() override;
    void FillCrateList(const QStringList& items, int selected) override;
    void FillModuleList(const QStringList& items, int selected) override;
    void ShowDeviceStatus(const DeviceStatusLook& status) override;
    void EnableAfterDetection(bool moduleOpen) override;
    void EndDetectionPass(const std::optional<QString>& firmwareText) override;
    void ShowDetectionError(const QString& caption, const QString& text) override;
    void ShowDetectionInfo(const QString& caption, const QString& text) override;

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // --- controls (names of the layout) ---
    // Private: the window's code and its two adapters use them; everyone
    // else finds a control by its object name, the design's name.
    friend class TMainFormMeasurementView;
    friend class TMainFormSettingsView;
    friend class TResultsOutlet;
    QGroupBox* ModuleDetectionLMDGroupBox = nullptr;
    QPushButton* FindDeviceLMDButton = nullptr;
    QFrame* SelectedModuleLMDSimplePanel = nullptr;
    QLabel* KsnCratesLabLMDLabel = nullptr;
    QComboBox* KsnCratesComboBox = nullptr;
    QLabel* ModulesLabLMDLabel = nullptr;
    QComboBox* ModulesComboBox = nullptr;
    QLabel* ModuleSerialNumberLabLMDLabel = nullptr;
    QLabel* ModuleSerialNumberLMDLabel = nullptr;
    QLabel* ModuleFirmwareVersionLabLMDLabel = nullptr;
    QLabel* ModuleFirmwareVersionLMDLabel = nullptr;
    TLed* KsnCrateStatusLed = nullptr;
    TLed* ModuleStatusLed = nullptr;
    TLed* GeneratorStatusLed = nullptr;
    TLed* VoltmeterStatusLed = nullptr;
    QFrame* Bevel3 = nullptr;
    QFrame* StartMultimeterLMDSimplePanel = nullptr;
    QPushButton* StartMultimeterLMDSpeedButton = nullptr;
    QGroupBox* SaveIniSettingLMDGroupBox = nullptr;
    QCheckBox* AutoSaveSettingsLMDCheckBox = nullptr;
    QPushButton* SaveSettingsButton = nullptr;
    QFrame* MainLMDSimplePanel = nullptr;
    QTabWidget* MainLMDPageControl = nullptr;
    QWidget* MultimeterLMDTabSheet = nullptr;
    QWidget* CorrectionFactorsLMDTabSheet = nullptr;
    QWidget* VerificationLMDTabSheet = nullptr;
    // "Спектр", after the two hidden pages; null without a spectrum page.
    QWidget* SpectrumLMDTabSheet = nullptr;
    QFrame* MultimeterLMDSimplePanel = nullptr;
    TAdcGroupParsPanel* AdcGroupParsLMDGroupBox = nullptr;
    TTriStateCheckBox* AllChannelsLMDCheckBox = nullptr;  // inside the group
    QComboBox* AdcRateComboBox = nullptr;                 // inside the group
    QGroupBox* AdcIndividualParsLMDGroupBox = nullptr;
    QScrollArea* AdcIndividualParsLMDScrollBox = nullptr;
    QWidget* AdcIndividualParsLMDSimplePanel = nullptr;
    QFrame* EquipmentLMDSimplePanel = nullptr;

    QMenu* PopupMenu = nullptr;
    QAction* RecordResultsItem = nullptr;
    QAction* PrecisionMethodItem = nullptr;
    QAction* UncertaintyItem = nullptr;

    // Layout services and the handlers' connections.
    void SetUpWindowServices();
    void BuildPopupMenu();
    void ConnectParameterControls();
    void InstallHints();
    bool ShowHint(QWidget* widget, const QPoint& globalPos);
    bool FormMouseWheel(QWidget* under, int notches);
    void GrowToShowAllChannels();
    bool popupAutoPopup_ = true;
    bool grownToChannels_ = false;

    // The layout, part by part: each builds its part (with the members
    // naming its controls) and returns it for the caller to place.
    void BuildLayout();
    QGroupBox* BuildDetectionBar();
    QFrame* BuildSelectionPanel(QWidget* bar);
    QFrame* BuildStartPanel(QWidget* bar);
    QGroupBox* BuildSettingsGroup(QWidget* bar);
    QFrame* BuildPageArea();
    QTabWidget* BuildPageControl(QWidget* area);
    QFrame* BuildMultimeterPage();
    QGroupBox* BuildChannelArea(QWidget* panel);
    void BuildChannelFrames();
    void SizeWindow();
    void InitThreadTerminate();
    // After the pass that a start opened the lost module with: the
    // measurement, or the start button released when the module stayed shut.
    void StartAfterReopen();
    void OnPageChanged(int index);
    // Stops the threads and closes the module when nothing can use the
    // handle any more; returns false when a thread must still be waited for
    // later (a close from inside that thread's own Synchronize step).
    bool ReleaseThreadsAndModule();
    bool ModuleOpenInLibrary() const;
    // Closes the module at once (the destructor's last step).
    void CloseModule();
    // Asks a detection pass to end and closes every modal box.
    void EndPassAndBoxes();
    // Enables or disables a control and, except for the channel area when
    // enabling, every control inside it.
    void SetSubtreeEnabled(QWidget* control, bool enabled);

    MainFormSetup setup_;
    std::unique_ptr<TMainFormSettingsView> settingsView_;
    // The worker's run, the detection pass, the window's going.
    TMeasurementRun run_;
    TDetectionRequest detection_;
    TShutdownSequence shutdown_;
    // The recording and the feed (reads the window's state and menu items).
    TResultsOutlet outlet_{*this};
    bool cursorOverridden_ = false;
    std::unique_ptr<TWindowSystemWatch> windowSystemWatch_;
    int currentPage_ = 0;
};
