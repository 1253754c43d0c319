#include "InitAndConfigThread.h"

#include "AdcGroupParsPanel.h"
#include "AppTexts.h"
#include "CrateTypes.h"
#include "DetectionTexts.h"
#include "FileVersion.h"
#include "Led.h"
#include "MainForm.h"
#include "MessageBox.h"
#include "ThreadDialog.h"
#include "WaitLoop.h"
#include "ksn48api.h"
#include "ksnapi.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QCheckBox>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

const QColor SlowCrateColor(255, 158, 62);
const QColor OkColor(0, 255, 0);
const QColor BadColor(255, 0, 0);
constexpr std::uint16_t Type21 = 21;
constexpr std::uint16_t MinFirmwareVersion = 9;

using Text = DeviceInventory::Text;

// Text of a fixed field that need not hold a terminator.
QString FieldText(const char* field, std::size_t size)
{
    const auto* end = static_cast<const char*>(std::memchr(field, '\0', size));
    const auto length = end != nullptr ? static_cast<std::size_t>(end - field) : size;
    return QString::fromLatin1(field, static_cast<qsizetype>(length));
}

std::string FieldString(const char* field, std::size_t size)
{
    const auto* end = static_cast<const char*>(std::memchr(field, '\0', size));
    return std::string(field, end != nullptr ? static_cast<std::size_t>(end - field) : size);
}

// Copies 16 characters, the last forced to 0.
void CopySerial(char* target, const char* source)
{
    std::memcpy(target, source, KSN_SERIAL_SIZE);
    target[KSN_SERIAL_SIZE - 1] = '\0';
}

void SetLedColor(TLed* led, const QColor& color)
{
    led->SetTrueColor(color);
    led->SetFalseColor(color);
}

void SetLabelColors(QLabel* label, const QColor& background, const QColor& text)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

// Controls have no controls of their own to walk into, even when Qt builds
// them from child widgets (a tab bar's scroll buttons, a list's pop-up).
bool IsContainer(const QWidget* widget)
{
    return qobject_cast<const QAbstractButton*>(widget) == nullptr &&
           qobject_cast<const QComboBox*>(widget) == nullptr &&
           qobject_cast<const QLabel*>(widget) == nullptr &&
           qobject_cast<const QLineEdit*>(widget) == nullptr &&
           qobject_cast<const QAbstractSpinBox*>(widget) == nullptr &&
           qobject_cast<const QAbstractSlider*>(widget) == nullptr &&
           qobject_cast<const QTabBar*>(widget) == nullptr &&
           qobject_cast<const TLed*>(widget) == nullptr;
}

// The controls a container holds in the window's design. Qt builds a page
// control and a scroll box from inner widgets of its own (tab bar, page
// stack, viewport, scroll bars); those are not the design's controls and
// keep the state Qt gives them, so that enabling a page enables what is on
// it.
QList<QWidget*> DesignChildren(QWidget* control)
{
    QList<QWidget*> children;
    if (auto* pages = qobject_cast<QTabWidget*>(control)) {
        for (int i = 0; i < pages->count(); ++i) {
            children << pages->widget(i);
        }
        return children;
    }
    if (auto* scroll = qobject_cast<QScrollArea*>(control)) {
        if (scroll->widget() != nullptr) {
            children << scroll->widget();
        }
        return children;
    }
    for (QWidget* child : control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow()) {
            children << child;
        }
    }
    return children;
}

// Sets a flag of the window for the time of one programmatic change.
class BusyScope {
public:
    explicit BusyScope(TMainForm& form) : form_(form), saved_(form.Busy) { form_.Busy = true; }
    ~BusyScope() { form_.Busy = saved_; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    TMainForm& form_;
    bool saved_;
};

}  // namespace

DetectionFiles DetectionFiles::Loaded()
{
    DetectionFiles files;
    files.Program = ExecutablePath();
    files.Ksnapi = LoadedFilePath(reinterpret_cast<const void*>(&KSN_Init));
    files.Ksn48api = LoadedFilePath(reinterpret_cast<const void*>(&KSN48_Init));
    return files;
}

TInitAndConfigThread::TInitAndConfigThread(TMainForm& form, bool firstStart, int mode,
                                           DetectionFiles files)
    : FirstStart(firstStart), Mode(mode), form_(form), files_(std::move(files))
{
    FreeOnTerminate = true;
}

TInitAndConfigThread::~TInitAndConfigThread() = default;

std::uint32_t TInitAndConfigThread::LibraryVersionCode(std::uint16_t major, std::uint16_t minor,
                                                       std::uint16_t release) noexcept
{
    return (static_cast<std::uint32_t>(major) << 16) | (static_cast<std::uint32_t>(minor) << 8) |
           static_cast<std::uint32_t>(release);
}

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
        if (!Aborted && !Stopping()) {
            Synchronize([this] { RestoreWindowPosition(); });
            Pause(StepPauseMs);
            // A window that is closing opens nothing more.
            switch (Stopping() ? 0 : Mode) {
            case TMainForm::ModeFullDetection:
                Synchronize([this] { SearchModules(); });
                Pause(StepPauseMs);
                if (!Aborted && !Stopping()) {
                    if (form_.ModuleState == 1) {
                        OpenSelectedModule();
                    }
                    Pause(StepPauseMs);
                }
                Synchronize([this] { ShowDeviceStatus(StatusKind::Final); });
                Pause(StepPauseMs);
                break;
            case TMainForm::ModeModuleChanged:
                if (!OpenSelectedModule()) {
                    MessageText = DetectionTexts::ModuleOpenFailed;
                    Synchronize([this] { ShowErrorDialog(); });
                    break;
                }
                Synchronize([this] { ShowDeviceStatus(StatusKind::Final); });
                Pause(StepPauseMs);
                break;
            case TMainForm::ModeCrateChanged:
                if (!OpenModuleInSelectedCrate()) {
                    // The old module was closed for the attempt: nothing is
                    // open now, whatever the previous pass left.
                    form_.ModuleState = 0;
                    MessageText = DetectionTexts::CrateOpenFailed;
                    Synchronize([this] { ShowErrorDialog(); });
                    break;
                }
                Synchronize([this] { ShowDeviceStatus(StatusKind::Final); });
                Pause(StepPauseMs);
                break;
            default:
                break;  // no other requests exist
            }
            if (!Aborted && !Stopping()) {
                Synchronize([this] { ApplySettings(); });
                Pause(StepPauseMs);
            }
        }
    } catch (...) {
        MessageText = DetectionTexts::Unrecoverable;
        try {
            Synchronize([this] { ShowErrorDialog(); });
        } catch (...) {
            // Nothing more can be said; the window is re-enabled below.
        }
        form_.CrateOk = 0;
        form_.ModuleState = 0;
    }
    Pause(StepPauseMs);
    Synchronize([this] { FinishPass(); });
}

void TInitAndConfigThread::BeginPass()
{
    form_.InitThreadRunning = true;
    Aborted = false;
    Pause(StartPauseMs);
    Synchronize([this] {
        // The context menu no longer pops up on a right click; its
        // shortcuts stay. Done here because the window belongs to this
        // thread.
        form_.SetPopupMenuAutoPopup(false);
        PrepareDetection();
    });
    Pause(StepPauseMs);
}

void TInitAndConfigThread::PrepareDetection()
{
    form_.MainLMDPageControl->setEnabled(false);
    if (!cursorOverridden_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        cursorOverridden_ = true;
    }
    {
        BusyScope busy(form_);
        form_.MainLMDPageControl->setCurrentIndex(0);
        form_.StartMultimeterLMDSimplePanel->hide();
    }

    Settings::OpenResult opened = form_.Settings->OpenSettingsFile();
    if (!opened.File) {
        if (!opened.FailureText.empty()) {
            MessageText = QString::fromStdString(opened.FailureText);
            ShowErrorDialog();
        } else {
            CrateSerial.clear();
            ModuleSlot = 0;
        }
        return;
    }
    settingsFile_ = std::move(opened.File);
    if (!opened.WarningText.empty()) {
        MessageText = QString::fromStdString(opened.WarningText);
        ShowInfoBox();
    }

    DeviceInventory& inventory = form_.DeviceInventory;
    const std::uint16_t c = inventory.SelectedCrate;
    if (FirstStart || c == DeviceInventory::NoCrate || c >= inventory.ModuleCrateCount ||
        c >= DeviceInventory::MaxCrates) {
        const Settings::DetectionTarget target = Settings::ReadDetectionTarget(*settingsFile_);
        CrateSerial = target.CrateSerial;
        ModuleSlot = target.ModuleSlot >= std::numeric_limits<std::int16_t>::min() &&
                             target.ModuleSlot <= std::numeric_limits<std::int16_t>::max()
                         ? static_cast<std::int16_t>(target.ModuleSlot)
                         : std::int16_t{-1};
    } else {
        const std::uint16_t m = inventory.SelectedModule[c];
        CrateSerial = FieldString(inventory.ModuleCrateSerials[c].data(),
                                  inventory.ModuleCrateSerials[c].size());
        ModuleSlot = m < DeviceInventory::MaxSlots
                         ? static_cast<std::int16_t>(inventory.ModuleSlots[c][m])
                         : std::int16_t{-1};
    }

    SetDetectionControlsEnabled(false);
    switch (Mode) {
    case TMainForm::ModeFullDetection:
        form_.CrateOk = 0;
        form_.ModuleState = 0;
        break;
    case TMainForm::ModeModuleChanged:
        form_.ModuleState = 0;
        break;
    case TMainForm::ModeCrateChanged:
        form_.CrateOk = 0;
        break;
    default:
        break;
    }
    ShowDeviceStatus(StatusKind::Preliminary);

    CheckLibraryVersions();
}

bool TInitAndConfigThread::CheckLibraryVersions()
{
    struct Library {
        const std::string& path;
        const QString& missing;
        const QString& tooOld;
    };
    const Library libraries[] = {
        {files_.Ksnapi, DetectionTexts::KsnapiVersionMissing, DetectionTexts::KsnapiVersionTooOld},
        {files_.Ksn48api, DetectionTexts::Ksn48apiVersionMissing,
         DetectionTexts::Ksn48apiVersionTooOld},
    };
    for (const Library& library : libraries) {
        const std::optional<FileVersion> version = ReadFileVersion(library.path);
        if (!version) {
            MessageText = library.missing;
            ShowErrorDialog();
            return false;
        }
        if (LibraryVersionCode(version->major, version->minor, version->release) <
            MinLibraryVersionCode) {
            MessageText = library.tooOld;
            ShowInfoBox();
            return false;
        }
    }
    return true;
}

void TInitAndConfigThread::RestoreWindowPosition()
{
    form_.Settings->RestoreWindowPosition(settingsFile_.get(), FirstStart);
}

// --- finding crates and modules ---

void TInitAndConfigThread::SearchModules()
{
    {
        BusyScope busy(form_);
        form_.ModulesComboBox->setCurrentIndex(-1);
        form_.ModulesComboBox->clear();
        form_.ModulesComboBox->setMaxVisibleItems(1);
    }
    if (!ScanCrates()) {
        return;
    }
    DeviceInventory& inventory = form_.DeviceInventory;
    if (inventory.ModuleCrateCount == 0) {
        MessageText = DetectionTexts::NoModuleCratePrefix + DetectionTexts::ModuleTypeName +
                      QStringLiteral("!");
        ShowErrorDialog();
        return;
    }

    std::uint16_t selected = 0;
    for (std::uint16_t j = 0; j < inventory.ModuleCrateCount; ++j) {
        if (FieldString(inventory.ModuleCrateSerials[j].data(),
                        inventory.ModuleCrateSerials[j].size()) == CrateSerial) {
            selected = j;
            break;
        }
    }
    inventory.SelectedCrate = selected;
    inventory.SelectedModule.fill(0);
    if (FieldString(inventory.ModuleCrateSerials[selected].data(),
                    inventory.ModuleCrateSerials[selected].size()) == CrateSerial) {
        for (std::uint16_t m = 0; m < inventory.ModuleCounts[selected]; ++m) {
            if (static_cast<int>(inventory.ModuleSlots[selected][m]) == ModuleSlot) {
                inventory.SelectedModule[selected] = m;
                break;
            }
        }
    }

    {
        BusyScope busy(form_);
        QComboBox* crates = form_.KsnCratesComboBox;
        crates->setCurrentIndex(-1);
        crates->clear();
        for (std::uint16_t j = 0; j < inventory.ModuleCrateCount; ++j) {
            crates->addItem(DetectionTexts::CrateItem.arg(j + 1).arg(FieldText(
                inventory.ModuleCrateSerials[j].data(), inventory.ModuleCrateSerials[j].size())));
        }
        crates->setMaxVisibleItems(inventory.ModuleCrateCount);
        crates->setCurrentIndex(selected);
    }
    form_.CrateOk = 1;
    FillModulesComboBox(selected);

    CloseModuleIfOpen();
    KSN48_Init(&form_.Ksn48Handle);
    const std::uint16_t m = inventory.SelectedModule[selected];
    if (KSN48_Open(&form_.Ksn48Handle, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT,
                   inventory.ModuleCrateSerials[selected].data(),
                   inventory.ModuleSlots[selected][m]) == 0) {
        form_.ModuleState = 1;
    }
}

void TInitAndConfigThread::FillModulesComboBox(std::uint16_t crate)
{
    const DeviceInventory& inventory = form_.DeviceInventory;
    BusyScope busy(form_);
    QComboBox* modules = form_.ModulesComboBox;
    modules->setCurrentIndex(-1);
    modules->clear();
    const std::uint16_t count =
        std::min<std::uint16_t>(inventory.ModuleCounts[crate], DeviceInventory::MaxSlots);
    for (std::uint16_t m = 0; m < count; ++m) {
        modules->addItem(DetectionTexts::ModuleItem.arg(inventory.ModuleSlots[crate][m])
                             .arg(DetectionTexts::ModuleTypeName));
    }
    modules->setMaxVisibleItems(std::max<int>(count, 1));
    modules->setCurrentIndex(
        inventory.SelectedModule[crate] < count ? inventory.SelectedModule[crate] : -1);
}

bool TInitAndConfigThread::ListCrates()
{
    DeviceInventory& inventory = form_.DeviceInventory;
    for (Text& serial : inventory.CrateSerials) {
        serial.fill('\0');
    }
    KsnCrateLink link{};
    KSN_Init(&link);
    link.Channel = 0;
    if (KSN_Open(&link) != 0) {
        return false;
    }
    char list[KSN_MAX_CRATES][KSN_SERIAL_SIZE] = {};
    const bool listed = KSN_GetCrates(&link, list) == 0;
    KSN_Close(&link);
    if (!listed) {
        return false;
    }
    for (int i = 0; i < KSN_MAX_CRATES; ++i) {
        CopySerial(inventory.CrateSerials[static_cast<std::size_t>(i)].data(), list[i]);
    }
    return true;
}

bool TInitAndConfigThread::ScanCrates()
{
    if (!ListCrates()) {
        MessageText = DetectionTexts::NoCrate;
        ShowErrorDialog();
        return false;
    }
    DeviceInventory& inventory = form_.DeviceInventory;
    KsnCrateLink link{};
    KSN_Init(&link);
    link.Channel = 0;
    inventory.CrateCount = 0;
    for (auto& ids : inventory.CrateModuleIds) {
        ids.fill(0);
    }
    inventory.CrateTypes.fill(0);
    for (std::size_t i = 0; i < DeviceInventory::MaxCrates && inventory.CrateSerials[i][0] != '\0';
         ++i) {
        ++inventory.CrateCount;
        CopySerial(link.CrateSerial, inventory.CrateSerials[i].data());
        KsnCrateInfo info{};
        if (KSN_Open(&link) != 0) {
            return false;
        }
        const bool queried = KSN_GetCrateInfo(&link, &info) == 0 &&
                             KSN_GetCrateModules(&link, inventory.CrateModuleIds[i].data()) == 0;
        KSN_Close(&link);
        if (!queried) {
            return false;
        }
        inventory.CrateTypes[i] = info.CrateType;
    }

    inventory.ModuleCrateCount = 0;
    for (Text& serial : inventory.ModuleCrateSerials) {
        serial.fill('\0');
    }
    inventory.ModuleCrateTypes.fill(0);
    for (auto& slotNumbers : inventory.ModuleSlots) {
        slotNumbers.fill(0);
    }
    inventory.ModuleCounts.fill(0);
    std::size_t j = 0;
    Ksn48Handle& handle = form_.Ksn48Handle;
    for (std::size_t i = 0; i < inventory.CrateCount; ++i) {
        std::size_t m = 0;
        for (std::size_t k = 0; k < DeviceInventory::MaxSlots; ++k) {
            if (inventory.CrateModuleIds[i][k] != KSN_MODULE_ID_KSN48) {
                continue;
            }
            CloseModuleIfOpen();
            if (KSN48_Open(&handle, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT,
                           inventory.CrateSerials[i].data(), static_cast<int>(k + 1)) != 0) {
                continue;  // left out silently
            }
            inventory.ModuleCrateTypes[j] = inventory.CrateTypes[i];
            CopySerial(inventory.ModuleSerials[j][m].data(), handle.ModuleSerial);
            inventory.ModuleSlots[j][m] = static_cast<std::uint16_t>(k + 1);
            ++m;
            ++inventory.ModuleCounts[j];
        }
        if (m > 0) {
            inventory.ModuleCrateSerials[j] = inventory.CrateSerials[i];
            ++j;
        }
    }
    inventory.ModuleCrateCount = static_cast<std::uint16_t>(j);
    CloseModuleIfOpen();
    return true;
}

// --- opening the chosen module ---

bool TInitAndConfigThread::OpenSelectedModule()
{
    ModuleName.clear();
    CrateType = 0;
    CloseModuleIfOpen();
    DeviceInventory& inventory = form_.DeviceInventory;
    const std::uint16_t c = inventory.SelectedCrate;
    // A choice outside the lists (none made yet) opens nothing.
    if (c >= DeviceInventory::MaxCrates || c >= inventory.ModuleCrateCount) {
        return false;
    }
    const std::uint16_t m = inventory.SelectedModule[c];
    if (m >= DeviceInventory::MaxSlots || m >= inventory.ModuleCounts[c]) {
        return false;
    }
    Ksn48Handle& handle = form_.Ksn48Handle;
    KSN48_Init(&handle);
    if (KSN48_Open(&handle, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT,
                   inventory.ModuleCrateSerials[c].data(), inventory.ModuleSlots[c][m]) != 0) {
        return false;
    }
    ModuleName = FieldText(handle.ModuleName, sizeof handle.ModuleName);
    CrateType = inventory.ModuleCrateTypes[c];
    CrateTypeName =
        QString::fromLatin1(device::CrateTypeName(CrateType).data(),
                            static_cast<qsizetype>(device::CrateTypeName(CrateType).size()));
    form_.ModuleState = 2;
    return true;
}

bool TInitAndConfigThread::OpenModuleInSelectedCrate()
{
    ModuleName.clear();
    CrateType = 0;
    CloseModuleIfOpen();
    const std::uint16_t c = form_.DeviceInventory.SelectedCrate;
    if (c >= DeviceInventory::MaxCrates || c >= form_.DeviceInventory.ModuleCrateCount) {
        return false;
    }
    Synchronize([this, c] { FillModulesComboBox(c); });
    if (!OpenSelectedModule()) {
        return false;
    }
    form_.CrateOk = 1;
    return true;
}

void TInitAndConfigThread::CloseModuleIfOpen()
{
    if (KSN48_IsOpened(&form_.Ksn48Handle) == 0) {
        KSN48_Close(&form_.Ksn48Handle);
    }
}

// --- what the window shows ---

void TInitAndConfigThread::ShowDeviceStatus(StatusKind kind)
{
    BusyScope busy(form_);
    const bool final = kind == StatusKind::Final;

    QString caption;
    if (final) {
        if (const std::optional<FileVersion> version = ReadFileVersion(files_.Program)) {
            caption = DetectionTexts::CaptionPrefix + QString::number(version->major) +
                      QLatin1Char('.') + QString::number(version->minor) + QLatin1Char('.') +
                      QString::number(version->release);
        }
    } else {
        caption = form_.DefaultCaption;
    }
    // Application title first: Qt appends an application title that differs
    // from the window's caption to the frame text, when the caption is set.
    QGuiApplication::setApplicationDisplayName(caption);
    form_.setWindowTitle(caption);

    if (!final && Mode == TMainForm::ModeFullDetection) {
        form_.KsnCratesComboBox->clear();
        form_.ModulesComboBox->clear();
    }

    const QColor face = form_.palette().color(QPalette::Button);
    if (Mode == TMainForm::ModeFullDetection || Mode == TMainForm::ModeCrateChanged) {
        const QString name = CrateTypeName.isEmpty() ? DetectionTexts::UnknownName : CrateTypeName;
        TLed* led = form_.KsnCrateStatusLed;
        if (!final) {
            SetLedColor(led, face);
            led->setToolTip(DetectionTexts::CrateHintPrefix + name +
                            DetectionTexts::CrateHintUnknown);
        } else if (form_.CrateOk != 0) {
            QString hint = DetectionTexts::CrateHintPrefix + name + DetectionTexts::CrateHintOk;
            if (CrateType == Type21) {
                SetLedColor(led, SlowCrateColor);
                hint += DetectionTexts::SlowCrateHint.arg(name)
                            .arg(device::CrateRateLimit(CrateType))
                            .arg(ModuleName.isEmpty() ? DetectionTexts::UnknownName : ModuleName);
            } else {
                SetLedColor(led, OkColor);
            }
            led->setToolTip(hint);
        } else {
            SetLedColor(led, BadColor);
            led->setToolTip(DetectionTexts::CrateHintBad);
        }
    }

    const QString moduleName = ModuleName.isEmpty() ? DetectionTexts::UnknownName : ModuleName;
    const bool open = final && form_.ModuleState == 2;
    TLed* led = form_.ModuleStatusLed;
    if (!final) {
        SetLedColor(led, face);
        led->setToolTip(DetectionTexts::ModuleHintPrefix + moduleName +
                        DetectionTexts::ModuleHintUnknown);
    } else if (open) {
        SetLedColor(led, OkColor);
        led->setToolTip(DetectionTexts::ModuleHintPrefix + moduleName +
                        DetectionTexts::ModuleHintOk);
    } else {
        SetLedColor(led, BadColor);
        led->setToolTip(DetectionTexts::ModuleHintPrefix + moduleName +
                        DetectionTexts::ModuleHintBad);
    }

    const Ksn48Handle& handle = form_.Ksn48Handle;
    form_.ModuleSerialNumberLMDLabel->setText(
        open ? FieldText(handle.ModuleSerial, sizeof handle.ModuleSerial)
             : AppTexts::UnknownSerial);
    QLabel* firmware = form_.ModuleFirmwareVersionLMDLabel;
    if (open && handle.FirmwareVersion < MinFirmwareVersion) {
        SetLabelColors(firmware, BadColor, Qt::white);
        firmware->setToolTip(DetectionTexts::FirmwareTooOld);
    } else {
        SetLabelColors(firmware, face, Qt::black);
        // A warning of an earlier module does not stay on this one.
        firmware->setToolTip(AppTexts::FirmwareHint);
        if (!open) {
            firmware->setText(AppTexts::UnknownSerial);
        }
    }
}

void TInitAndConfigThread::ApplySettings()
{
    if (!form_.Settings->ReadSettings(settingsFile_.get(), FirstStart)) {
        MessageText = DetectionTexts::SettingsFailed;
        ShowErrorDialog();
    }
}

void TInitAndConfigThread::FinishPass()
{
    {
        BusyScope busy(form_);
        const bool open = form_.ModuleState == 2;
        if (open) {
            SetSubtreeEnabled(form_, form_.ModuleDetectionLMDGroupBox, true);
            form_.SaveSettingsButton->setEnabled(!form_.AutoSaveSettingsLMDCheckBox->isChecked());
            form_.ModuleDetectionLMDGroupBox->update();
        } else {
            form_.ModuleDetectionLMDGroupBox->setEnabled(true);
            form_.FindDeviceLMDButton->setEnabled(true);
            SetSubtreeEnabled(form_, form_.SelectedModuleLMDSimplePanel, true);
        }
        form_.MainLMDSimplePanel->setEnabled(true);
        form_.MainLMDPageControl->setEnabled(true);
        if (QWidget* first = form_.MainLMDPageControl->widget(0)) {
            first->setEnabled(true);
        }
        if (open) {
            SetSubtreeEnabled(form_, form_.AdcGroupParsLMDGroupBox, true);
            form_.AdcIndividualParsLMDGroupBox->setEnabled(true);
            form_.AdcIndividualParsLMDScrollBox->setEnabled(true);
            form_.AdcIndividualParsLMDSimplePanel->setEnabled(true);
            EnableParameterControls(form_.ChannelFrames, true);
            form_.StartMultimeterLMDSpeedButton->setEnabled(true);
            form_.StartMultimeterLMDSimplePanel->show();
            form_.MultimeterLMDSimplePanel->setEnabled(true);
        }
    }
    settingsFile_.reset();
    // Without an open module the handle's number belongs to no module (a
    // zeroed record, or one a failed pass left behind): the label keeps its
    // unknown text.
    if (form_.ModuleState == 2) {
        form_.ModuleFirmwareVersionLMDLabel->setText(
            QString::number(form_.Ksn48Handle.FirmwareVersion));
    }
    form_.ModuleDetectionLMDGroupBox->update();
    if (cursorOverridden_) {
        QApplication::restoreOverrideCursor();
        cursorOverridden_ = false;
    }
}

void TInitAndConfigThread::SetDetectionControlsEnabled(bool enabled)
{
    BusyScope busy(form_);
    SetSubtreeEnabled(form_, form_.ModuleDetectionLMDGroupBox, enabled);
    SetSubtreeEnabled(form_, form_.MainLMDSimplePanel, enabled);
}

void TInitAndConfigThread::SetSubtreeEnabled(TMainForm& form, QWidget* control, bool enabled)
{
    if (control == nullptr) {
        return;
    }
    control->setEnabled(enabled);
    if (enabled && control == form.AdcIndividualParsLMDSimplePanel) {
        return;  // its channels are enabled one by one
    }
    for (QWidget* child : DesignChildren(control)) {
        if (IsContainer(child)) {
            SetSubtreeEnabled(form, child, enabled);
        }
        child->setEnabled(enabled);
    }
}

void TInitAndConfigThread::ShowErrorDialog()
{
    if (Aborted) {
        return;
    }
    Aborted = true;
    ShowThreadDialog(&form_, DetectionTexts::ErrorCaption, MessageText);
}

void TInitAndConfigThread::ShowInfoBox()
{
    ShowMessageBox(MessageText, DetectionTexts::InfoCaption, MessageIcon::Information);
}
