// The detection bar: the crate and module lists, and the window's side of a
// detection pass (DetectionView).
#include "MainForm.h"
#include "SpectrumView.h"

#include "AdcGroupParsPanel.h"
#include "AppTexts.h"
#include "BusyGuard.h"
#include "DeviceStatus.h"
#include "FixedText.h"
#include "Led.h"
#include "MessageBox.h"
#include "ThreadDialog.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>

namespace {

const QColor OkColor(0, 255, 0);
const QColor SlowLinkColor(255, 158, 62);
const QColor BadColor(255, 0, 0);

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

void FillList(QComboBox* list, const QStringList& items, int selected)
{
    list->setCurrentIndex(-1);
    list->clear();
    list->addItems(items);
    list->setMaxVisibleItems(std::max<int>(static_cast<int>(items.size()), 1));
    list->setCurrentIndex(selected >= 0 && selected < items.size() ? selected : -1);
}

}  // namespace

// --- the operator's choice ---

void TMainForm::ConnectDeviceSelection()
{
    connect(KsnCratesComboBox, &QComboBox::currentIndexChanged, this,
            [this](int) { KsnCratesComboBoxChange(KsnCratesComboBox); });
    connect(ModulesComboBox, &QComboBox::currentIndexChanged, this,
            [this](int) { ModulesComboBoxChange(ModulesComboBox); });
    // Picking the item already chosen changes no index: only this tells it,
    // and the handler retries a module whose open failed. After a change the
    // handler runs twice; the second finds the pass requested and adds none.
    connect(ModulesComboBox, &QComboBox::activated, this,
            [this](int) { ModulesComboBoxChange(ModulesComboBox); });
}

void TMainForm::KsnCratesComboBoxChange(QObject*)
{
    const auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered()) {
        return;
    }
    const int index = KsnCratesComboBox->currentIndex();
    // No item (a list being emptied) is no choice.
    if (index >= 0 && index < DeviceInventory::MaxCrates &&
        index != DeviceInventory.SelectedCrate) {
        StopThread();
        DeviceInventory.SelectedCrate = static_cast<std::uint16_t>(index);
        StartInitDevicesThread(ModeCrateChanged, false);
    }
}

void TMainForm::ModulesComboBoxChange(QObject*)
{
    const auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered()) {
        return;
    }
    const int crate = KsnCratesComboBox->currentIndex();
    const int module = ModulesComboBox->currentIndex();
    if (crate >= 0 && crate < DeviceInventory::MaxCrates && module >= 0 &&
        module < DeviceInventory::MaxSlots &&
        DeviceInventory.SelectedCrate < DeviceInventory::MaxCrates) {
        const std::string serial = device::FixedText(
            DeviceInventory
                .ModuleSerials[static_cast<std::size_t>(crate)][static_cast<std::size_t>(module)]);
        // The module shown is the open one: nothing to do.
        if (QString::fromLatin1(serial) != ModuleSerialNumberLMDLabel->text()) {
            StopThread();
            DeviceInventory.SelectedModule[DeviceInventory.SelectedCrate] =
                static_cast<std::uint16_t>(module);
            StartInitDevicesThread(ModeModuleChanged, false);
        }
    }
}

void TMainForm::ShowModuleLost()
{
    if (shutdown_.Closing()) {
        return;
    }
    detection_.ModuleLost();
    ModuleState = device::ModuleNone;
    DeviceStatusFacts facts;
    facts.Final = true;
    facts.Mode = ModeModuleChanged;
    facts.FinalCaption = windowTitle();
    facts.ModuleName = QString::fromLatin1(device::FixedText(Ksn48Handle.ModuleName));
    ShowDeviceStatus(ComposeDeviceStatus(facts));
}

// --- the detection pass's view ---

DetectionView::State TMainForm::DetectionState()
{
    return {DeviceInventory, Ksn48Handle, CrateOk, ModuleState, InitThreadRunning};
}

::Settings& TMainForm::DetectionSettings()
{
    return *Settings;
}

void TMainForm::DisablePopupMenu()
{
    // The context menu no longer pops up on a right click; its shortcuts
    // stay.
    SetPopupMenuAutoPopup(false);
}

void TMainForm::BeginDetectionPass()
{
    MainLMDPageControl->setEnabled(false);
    if (!cursorOverridden_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        cursorOverridden_ = true;
    }
    const auto busy = TBusyGuard::Hold(Busy);
    MainLMDPageControl->setCurrentIndex(0);
    StartMultimeterLMDSimplePanel->hide();
}

void TMainForm::SetDetectionControlsEnabled(bool enabled)
{
    const auto busy = TBusyGuard::Hold(Busy);
    SetSubtreeEnabled(ModuleDetectionLMDGroupBox, enabled);
    SetSubtreeEnabled(MainLMDSimplePanel, enabled);
}

void TMainForm::SetSubtreeEnabled(QWidget* control, bool enabled)
{
    if (control == nullptr) {
        return;
    }
    control->setEnabled(enabled);
    if (enabled && control == AdcIndividualParsLMDSimplePanel) {
        return;  // its channels are enabled one by one
    }
    for (QWidget* child : DesignChildren(control)) {
        if (IsContainer(child)) {
            SetSubtreeEnabled(child, enabled);
        }
        child->setEnabled(enabled);
    }
}

void TMainForm::ClearModuleList()
{
    const auto busy = TBusyGuard::Hold(Busy);
    ModulesComboBox->setCurrentIndex(-1);
    ModulesComboBox->clear();
    ModulesComboBox->setMaxVisibleItems(1);
}

void TMainForm::FillCrateList(const QStringList& items, int selected)
{
    const auto busy = TBusyGuard::Hold(Busy);
    FillList(KsnCratesComboBox, items, selected);
}

void TMainForm::FillModuleList(const QStringList& items, int selected)
{
    const auto busy = TBusyGuard::Hold(Busy);
    FillList(ModulesComboBox, items, selected);
}

void TMainForm::ShowDeviceStatus(const DeviceStatusLook& status)
{
    const auto busy = TBusyGuard::Hold(Busy);
    const QString caption = status.Caption.value_or(DefaultCaption);
    // Application title first: Qt appends an application title that differs
    // from the window's caption to the frame text, when the caption is set.
    QGuiApplication::setApplicationDisplayName(caption);
    setWindowTitle(caption);

    if (status.ClearLists) {
        KsnCratesComboBox->clear();
        ModulesComboBox->clear();
    }

    const QColor face = palette().color(QPalette::Button);
    const auto colour = [&face](StatusLed led) {
        switch (led) {
        case StatusLed::Ok:
            return OkColor;
        case StatusLed::SlowLinkOk:
            return SlowLinkColor;
        case StatusLed::Bad:
            return BadColor;
        case StatusLed::ButtonFace:
            break;
        }
        return face;
    };
    if (status.Crate) {
        SetLedColor(KsnCrateStatusLed, colour(status.Crate->Colour));
        KsnCrateStatusLed->setToolTip(status.Crate->Hint);
    }
    SetLedColor(ModuleStatusLed, colour(status.Module.Colour));
    ModuleStatusLed->setToolTip(status.Module.Hint);

    ModuleSerialNumberLMDLabel->setText(status.Serial);
    if (status.FirmwareTooOld) {
        SetLabelColors(ModuleFirmwareVersionLMDLabel, BadColor, Qt::white);
        ModuleFirmwareVersionLMDLabel->setToolTip(status.FirmwareHint);
    } else {
        SetLabelColors(ModuleFirmwareVersionLMDLabel, face, Qt::black);
        // A warning of an earlier module does not stay on this one.
        ModuleFirmwareVersionLMDLabel->setToolTip(AppTexts::FirmwareHint);
    }
    if (status.FirmwareText) {
        ModuleFirmwareVersionLMDLabel->setText(*status.FirmwareText);
    }
}

void TMainForm::EnableAfterDetection(bool moduleOpen)
{
    const auto busy = TBusyGuard::Hold(Busy);
    if (moduleOpen) {
        SetSubtreeEnabled(ModuleDetectionLMDGroupBox, true);
        SaveSettingsButton->setEnabled(!AutoSaveSettingsLMDCheckBox->isChecked());
        ModuleDetectionLMDGroupBox->update();
    } else {
        ModuleDetectionLMDGroupBox->setEnabled(true);
        FindDeviceLMDButton->setEnabled(true);
        SetSubtreeEnabled(SelectedModuleLMDSimplePanel, true);
    }
    MainLMDSimplePanel->setEnabled(true);
    MainLMDPageControl->setEnabled(true);
    if (QWidget* first = MainLMDPageControl->widget(0)) {
        first->setEnabled(true);
    }
    if (moduleOpen) {
        SetSubtreeEnabled(AdcGroupParsLMDGroupBox, true);
        AdcIndividualParsLMDGroupBox->setEnabled(true);
        AdcIndividualParsLMDScrollBox->setEnabled(true);
        AdcIndividualParsLMDSimplePanel->setEnabled(true);
        EnableParameterControls(ChannelFrames, true);
        StartMultimeterLMDSpeedButton->setEnabled(true);
        if (SpectrumPage != nullptr) {
            SpectrumPage->SetPageEnabled(true);
        }
        StartMultimeterLMDSimplePanel->show();
        MultimeterLMDSimplePanel->setEnabled(true);
    }
}

void TMainForm::EndDetectionPass(const std::optional<QString>& firmwareText)
{
    if (firmwareText) {
        ModuleFirmwareVersionLMDLabel->setText(*firmwareText);
    }
    ModuleDetectionLMDGroupBox->update();
    if (cursorOverridden_) {
        QApplication::restoreOverrideCursor();
        cursorOverridden_ = false;
    }
}

void TMainForm::ShowDetectionError(const QString& caption, const QString& text)
{
    ShowThreadDialog(this, caption, text);
}

void TMainForm::ShowDetectionInfo(const QString& caption, const QString& text)
{
    ShowMessageBox(text, caption, MessageIcon::Information);
}
