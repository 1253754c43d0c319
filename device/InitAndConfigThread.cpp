#include "InitAndConfigThread.h"

#include "CrateTypes.h"
#include "Detection.h"
#include "DetectionMessages.h"
#include "DetectionTexts.h"
#include "DeviceStatus.h"
#include "FileVersion.h"
#include "FixedText.h"
#include "Settings.h"
#include "WaitLoop.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace {

namespace messages = device::DetectionMessages;
using DetectionTexts::FromUtf8;

QString Latin1(const std::string& text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

DetectionFiles DetectionFiles::Loaded()
{
    DetectionFiles files;
    files.Program = ExecutablePath();
    files.Ksnapi = LoadedFilePath(reinterpret_cast<const void*>(&KSN_Init));
    files.Ksn48api = LoadedFilePath(reinterpret_cast<const void*>(&KSN48_Init));
    return files;
}

TInitAndConfigThread::TInitAndConfigThread(DetectionView& view, bool firstStart, int mode,
                                           DetectionFiles files, device::CrateApi api)
    : FirstStart(firstStart), Mode(mode), view_(view), state_(view.DetectionState()),
      files_(std::move(files)), api_(api)
{
    FreeOnTerminate = true;
}

TInitAndConfigThread::~TInitAndConfigThread() = default;

void TInitAndConfigThread::Pause(unsigned ms)
{
    if (!Stopping()) {
        Sleep(ms);
    }
}

// --- the pass ---

void TInitAndConfigThread::Execute()
{
    try {
        BeginPass();
        Pause(StepPauseMs);
        if (!aborted_ && !Stopping()) {
            Synchronize([this] {
                view_.DetectionSettings().RestoreWindowPosition(settingsFile_.get(), FirstStart);
            });
            Pause(StepPauseMs);
            // A window that is closing opens nothing more.
            switch (Stopping() ? 0 : Mode) {
            case device::ModeFullDetection:
                SearchModules();
                Pause(StepPauseMs);
                if (!aborted_ && !Stopping()) {
                    if (state_.ModuleState == device::ModuleFound) {
                        const device::OpenedModule opened = OpenSelectedModule();
                        if (!opened.Opened() && !Stopping()) {
                            const QString text = FromUtf8(messages::ChosenModule(
                                {opened.CrateSerial, opened.Slot, opened.Result}));
                            Synchronize([this, &text] { ReportFailure(text); });
                        }
                    }
                    Pause(StepPauseMs);
                }
                if (!Stopping()) {
                    ShowDeviceStatus(StatusKind::Final);
                    Pause(StepPauseMs);
                }
                break;
            case device::ModeModuleChanged:
                if (!OpenSelectedModule().Opened()) {
                    Synchronize([this] { ShowErrorDialog(DetectionTexts::ModuleOpenFailed); });
                    break;
                }
                ShowDeviceStatus(StatusKind::Final);
                Pause(StepPauseMs);
                break;
            case device::ModeCrateChanged:
                if (!OpenModuleInSelectedCrate()) {
                    // The old module was closed for the attempt: nothing is
                    // open now, whatever the previous pass left.
                    state_.ModuleState = device::ModuleNone;
                    Synchronize([this] { ShowErrorDialog(DetectionTexts::CrateOpenFailed); });
                    break;
                }
                ShowDeviceStatus(StatusKind::Final);
                Pause(StepPauseMs);
                break;
            default:
                break;  // no other requests exist
            }
            if (!aborted_ && !Stopping()) {
                Synchronize([this] { ApplySettings(); });
                Pause(StepPauseMs);
            }
        }
    } catch (...) {
        try {
            Synchronize([this] { ShowErrorDialog(DetectionTexts::Unrecoverable); });
        } catch (...) {
            // Nothing more can be said; the window is re-enabled below.
        }
        state_.CrateOk = 0;
        state_.ModuleState = device::ModuleNone;
    }
    Pause(StepPauseMs);
    Synchronize([this] { FinishPass(); });
}

void TInitAndConfigThread::BeginPass()
{
    state_.PassRunning = true;
    aborted_ = false;
    messageShown_ = false;
    Pause(StartPauseMs);
    Synchronize([this] {
        view_.DisablePopupMenu();
        PrepareDetection();
    });
    Pause(StepPauseMs);
}

void TInitAndConfigThread::PrepareDetection()
{
    view_.BeginDetectionPass();
    inventory_ = state_.Inventory;

    Settings::OpenResult opened = view_.DetectionSettings().OpenSettingsFile();
    if (!opened.File) {
        if (!opened.FailureText.empty()) {
            ShowErrorDialog(QString::fromStdString(opened.FailureText));
        } else {
            crateSerial_.clear();
            moduleSlot_ = 0;
        }
        return;
    }
    settingsFile_ = std::move(opened.File);
    if (!opened.WarningText.empty()) {
        ShowInfoBox(QString::fromStdString(opened.WarningText));
    }

    if (FirstStart || !inventory_.HasSelectedCrate()) {
        const Settings::DetectionTarget target = Settings::ReadDetectionTarget(*settingsFile_);
        crateSerial_ = target.CrateSerial;
        moduleSlot_ = target.ModuleSlot >= std::numeric_limits<std::int16_t>::min() &&
                              target.ModuleSlot <= std::numeric_limits<std::int16_t>::max()
                          ? target.ModuleSlot
                          : -1;
    } else {
        const std::uint16_t c = inventory_.SelectedCrate;
        const std::uint16_t m = inventory_.SelectedModule[c];
        crateSerial_ = device::FixedText(inventory_.ModuleCrateSerials[c]);
        moduleSlot_ = m < device::DeviceInventory::MaxSlots ? inventory_.ModuleSlots[c][m] : -1;
    }

    view_.SetDetectionControlsEnabled(false);
    switch (Mode) {
    case device::ModeFullDetection:
        state_.CrateOk = 0;
        state_.ModuleState = device::ModuleNone;
        break;
    case device::ModeModuleChanged:
        state_.ModuleState = device::ModuleNone;
        break;
    case device::ModeCrateChanged:
        state_.CrateOk = 0;
        break;
    default:
        break;
    }
    ShowDeviceStatus(StatusKind::Preliminary);

    CheckLibraryVersions();
}

void TInitAndConfigThread::CheckLibraryVersions()
{
    const std::optional<device::LibraryCheck> check = device::CheckDeviceLibraries(
        ReadFileVersion(files_.Ksnapi), ReadFileVersion(files_.Ksn48api));
    if (!check) {
        return;
    }
    const QString text = FromUtf8(messages::LibraryVersion(*check));
    if (check->State == device::LibraryVersionState::Missing) {
        ShowErrorDialog(text);
    } else {
        ShowInfoBox(text);  // the pass goes on with the old library
    }
}

// --- finding crates and modules ---

void TInitAndConfigThread::SearchModules()
{
    Synchronize([this] { view_.ClearModuleList(); });

    // The library calls, here: the window goes on meanwhile.
    device::Detector detector(state_.Handle, api_, &Terminated());
    const device::ScanReport report = detector.ScanCrates(inventory_);
    if (report.Stopped || Stopping()) {
        return;
    }
    const bool found = report.Succeeded() && inventory_.ModuleCrateCount > 0;
    if (found) {
        device::Detector::ChooseModule(inventory_, crateSerial_, moduleSlot_);
    }

    // The results, on the window's thread.
    Synchronize([this, &report, found] {
        state_.Inventory = inventory_;
        if (report.ListFailure) {
            ShowErrorDialog(FromUtf8(messages::CrateList(*report.ListFailure)));
            return;
        }
        if (report.QueryFailure) {
            ReportFailure(FromUtf8(messages::CrateQuery(*report.QueryFailure)));
            return;
        }
        if (!found) {
            // Modules that did not answer are not modules that are absent.
            ShowErrorDialog(FromUtf8(
                report.HasUnansweredOpen()
                    ? messages::ScanOpenFailures(report.OpenFailures, report.SlotsNotAsked)
                    : messages::NoModuleCrate()));
            return;
        }
        QStringList crates;
        for (std::uint16_t j = 0; j < inventory_.ModuleCrateCount; ++j) {
            crates << DetectionTexts::CrateItem.arg(j + 1).arg(
                Latin1(device::FixedText(inventory_.ModuleCrateSerials[j])));
        }
        view_.FillCrateList(crates, inventory_.SelectedCrate);
        state_.CrateOk = 1;
        const std::uint16_t c = inventory_.SelectedCrate;
        view_.FillModuleList(ModuleItems(c), inventory_.SelectedModule[c]);
        if (!report.OpenFailures.empty()) {
            ReportFailure(
                FromUtf8(messages::ScanOpenFailures(report.OpenFailures, report.SlotsNotAsked)));
        }
    });
    // A server that left an open unanswered is not asked again in this pass.
    if (!found || report.ServerSilent || Stopping()) {
        return;
    }

    const device::OpenedModule opened = detector.OpenSelectedModule(inventory_);
    if (opened.Opened()) {
        state_.ModuleState = device::ModuleFound;
    } else if (!Stopping()) {
        const QString text =
            FromUtf8(messages::ChosenModule({opened.CrateSerial, opened.Slot, opened.Result}));
        Synchronize([this, &text] { ReportFailure(text); });
    }
}

QStringList TInitAndConfigThread::ModuleItems(std::uint16_t crate) const
{
    QStringList items;
    if (crate >= device::DeviceInventory::MaxCrates) {
        return items;
    }
    const std::uint16_t count =
        std::min<std::uint16_t>(inventory_.ModuleCounts[crate], device::DeviceInventory::MaxSlots);
    for (std::uint16_t m = 0; m < count; ++m) {
        items << DetectionTexts::ModuleItem.arg(inventory_.ModuleSlots[crate][m])
                     .arg(DetectionTexts::ModuleTypeName);
    }
    return items;
}

// --- opening the chosen module ---

device::OpenedModule TInitAndConfigThread::OpenSelectedModule()
{
    moduleName_.clear();
    crateType_ = 0;
    device::Detector detector(state_.Handle, api_);
    device::OpenedModule opened = detector.OpenSelectedModule(inventory_);
    if (opened.Opened()) {
        moduleName_ = Latin1(opened.ModuleName);
        crateType_ = opened.CrateType;
        crateTypeName_ = FromUtf8(opened.CrateTypeName);
        state_.ModuleState = device::ModuleOpen;
    }
    return opened;
}

bool TInitAndConfigThread::OpenModuleInSelectedCrate()
{
    moduleName_.clear();
    crateType_ = 0;
    device::Detector(state_.Handle, api_).CloseModuleIfOpen();
    if (!inventory_.HasSelectedCrate()) {
        return false;
    }
    const std::uint16_t c = inventory_.SelectedCrate;
    const int selected = inventory_.SelectedModule[c] < inventory_.ModuleCounts[c]
                             ? inventory_.SelectedModule[c]
                             : -1;
    Synchronize([this, c, selected] { view_.FillModuleList(ModuleItems(c), selected); });
    if (!OpenSelectedModule().Opened()) {
        return false;
    }
    state_.CrateOk = 1;
    return true;
}

// --- what the window shows ---

void TInitAndConfigThread::ShowDeviceStatus(StatusKind kind)
{
    DeviceStatusFacts facts;
    facts.Final = kind == StatusKind::Final;
    facts.Mode = Mode;
    if (facts.Final) {
        if (const std::optional<FileVersion> version = ReadFileVersion(files_.Program)) {
            facts.FinalCaption = DetectionTexts::CaptionPrefix + QString::number(version->major) +
                                 QLatin1Char('.') + QString::number(version->minor) +
                                 QLatin1Char('.') + QString::number(version->release);
        }
    }
    facts.CrateOk = state_.CrateOk != 0;
    facts.ModuleOpen = state_.ModuleState == device::ModuleOpen;
    facts.CrateType = crateType_;
    facts.CrateTypeName = crateTypeName_;
    facts.ModuleName = moduleName_;
    // The pass is the handle's user: it reads it here, not the window.
    facts.ModuleSerial = Latin1(device::FixedText(state_.Handle.ModuleSerial));
    facts.Firmware = state_.Handle.FirmwareVersion;
    const DeviceStatusLook look = ComposeDeviceStatus(facts);
    Synchronize([this, &look] { view_.ShowDeviceStatus(look); });
}

void TInitAndConfigThread::ApplySettings()
{
    if (!view_.DetectionSettings().ReadSettings(settingsFile_.get(), FirstStart)) {
        ShowErrorDialog(DetectionTexts::SettingsFailed);
    }
}

void TInitAndConfigThread::FinishPass()
{
    const bool open = state_.ModuleState == device::ModuleOpen;
    view_.EnableAfterDetection(open);
    settingsFile_.reset();
    // Without an open module the handle's number belongs to no module (a
    // zeroed record, or one a failed pass left behind): the label keeps its
    // unknown text.
    view_.EndDetectionPass(
        open ? std::optional<QString>(QString::number(state_.Handle.FirmwareVersion))
             : std::nullopt);
}

void TInitAndConfigThread::ShowErrorDialog(const QString& text)
{
    aborted_ = true;
    // Only the first message of a pass is shown, and none to a window that
    // is closing.
    if (messageShown_.exchange(true) || Stopping()) {
        return;
    }
    view_.ShowDetectionError(DetectionTexts::ErrorCaption, text);
}

void TInitAndConfigThread::ReportFailure(const QString& text)
{
    if (messageShown_.exchange(true) || Stopping()) {
        return;
    }
    view_.ShowDetectionError(DetectionTexts::ErrorCaption, text);
}

void TInitAndConfigThread::ShowInfoBox(const QString& text)
{
    if (!Stopping()) {
        view_.ShowDetectionInfo(DetectionTexts::InfoCaption, text);
    }
}
