#include "MainFormSettingsView.h"

#include "AdcGroupParsPanel.h"
#include "CaptionAboveCheckBox.h"
#include "CaptionAboveRadioButton.h"
#include "FixedText.h"
#include "Ksn48AdcChannelFrame.h"
#include "MainForm.h"
#include "MessageBox.h"
#include "TriStateCheckBox.h"
#include "WaitLoop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

QComboBox* TMainFormSettingsView::List(const TMainForm& form, ParameterList list)
{
    switch (list) {
    case SettingsView::ParameterList::DataFormat:
        return form.AdcGroupParsLMDGroupBox->DataFormatLMDComboBox;
    case SettingsView::ParameterList::CurrentValue:
        return form.AdcGroupParsLMDGroupBox->CurrentValueLMDComboBox;
    case SettingsView::ParameterList::AdcRate:
        break;
    }
    return form.AdcGroupParsLMDGroupBox->AdcRateComboBox;
}

namespace {

TKsn48AdcChannelFrame* Frame(const TMainForm& form, int channel)
{
    if (channel < 0 || static_cast<std::size_t>(channel) >= form.ChannelFrames.size()) {
        return nullptr;
    }
    return form.ChannelFrames[static_cast<std::size_t>(channel)];
}

}  // namespace

bool TMainFormSettingsView::Busy() const
{
    return form_.Busy;
}

void TMainFormSettingsView::SetBusy(bool busy)
{
    form_.Busy = busy;
}

bool TMainFormSettingsView::AutoSaveChecked() const
{
    return form_.AutoSaveSettingsLMDCheckBox->isChecked();
}

void TMainFormSettingsView::SetAutoSaveChecked(bool checked)
{
    form_.AutoSaveSettingsLMDCheckBox->setChecked(checked);
}

void TMainFormSettingsView::SetSaveButtonEnabled(bool enabled)
{
    form_.SaveSettingsButton->setEnabled(enabled);
}

int TMainFormSettingsView::ItemCount(ParameterList list) const
{
    return List(form_, list)->count();
}

int TMainFormSettingsView::ItemIndex(ParameterList list) const
{
    return List(form_, list)->currentIndex();
}

void TMainFormSettingsView::SetItemIndex(ParameterList list, int index)
{
    List(form_, list)->setCurrentIndex(index);
}

bool TMainFormSettingsView::ChannelChecked(int channel) const
{
    return channel >= 0 && ChannelTicked(form_.ChannelFrames, static_cast<std::size_t>(channel));
}

void TMainFormSettingsView::SetChannelChecked(int channel, bool checked)
{
    if (TKsn48AdcChannelFrame* frame = Frame(form_, channel)) {
        frame->ChannelNumberLMDCheckBox->setChecked(checked);
    }
}

void TMainFormSettingsView::SetReferenceChannelChecked(int channel, bool checked)
{
    if (TKsn48AdcChannelFrame* frame = Frame(form_, channel)) {
        frame->BasePhaseChannelLMDRadioButton->setChecked(checked);
    }
}

SettingsView::CheckState TMainFormSettingsView::AllChannelsState() const
{
    return GroupState(*form_.AllChannelsLMDCheckBox);
}

void TMainFormSettingsView::SetAllChannelsState(CheckState state)
{
    SetGroupState(*form_.AllChannelsLMDCheckBox, state);
}

void TMainFormSettingsView::SetComputationModeCaption(const std::string& text)
{
    form_.AdcGroupParsLMDGroupBox->ComputationModeLabLMDLabel->setText(
        QString::fromStdString(text));
}

void TMainFormSettingsView::SetAmplitudeTypeCaption(const std::string& text)
{
    form_.AdcGroupParsLMDGroupBox->AmplitudeTypeLabLMDLabel->setText(QString::fromStdString(text));
}

int TMainFormSettingsView::WindowTop() const
{
    return form_.frameGeometry().top();
}

int TMainFormSettingsView::WindowLeft() const
{
    return form_.frameGeometry().left();
}

void TMainFormSettingsView::SetWindowTop(int top)
{
    form_.move(form_.frameGeometry().left(), top);
}

void TMainFormSettingsView::SetWindowLeft(int left)
{
    form_.move(left, form_.frameGeometry().top());
}

std::optional<std::string> TMainFormSettingsView::SelectedCrateSerial() const
{
    const DeviceInventory& inventory = form_.DeviceInventory;
    const int crate = form_.KsnCratesComboBox->currentIndex();
    if (crate < 0 || crate >= inventory.ModuleCrateCount || crate >= DeviceInventory::MaxCrates) {
        return std::nullopt;
    }
    return device::FixedText(inventory.ModuleCrateSerials[static_cast<std::size_t>(crate)]);
}

std::optional<int> TMainFormSettingsView::SelectedModuleSlot() const
{
    const DeviceInventory& inventory = form_.DeviceInventory;
    const int crate = form_.KsnCratesComboBox->currentIndex();
    const int module = form_.ModulesComboBox->currentIndex();
    if (crate < 0 || crate >= inventory.ModuleCrateCount || crate >= DeviceInventory::MaxCrates ||
        module < 0 || module >= inventory.ModuleCounts[static_cast<std::size_t>(crate)] ||
        module >= DeviceInventory::MaxSlots) {
        return std::nullopt;
    }
    return inventory.ModuleSlots[static_cast<std::size_t>(crate)][static_cast<std::size_t>(module)];
}

void TMainFormSettingsView::ShowMessage(const std::string& text, const std::string& caption,
                                        MessageIcon icon)
{
    ShowMessageBox(QString::fromStdString(text), QString::fromStdString(caption), icon);
}

void TMainFormSettingsView::ReportError(const std::string& text)
{
    ShowException(QString::fromStdString(text));
}

void TMainFormSettingsView::Pause(std::chrono::milliseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        WaitLoopStep();
    }
}
