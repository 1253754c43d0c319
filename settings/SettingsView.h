#pragma once

#include "MessageIcon.h"

#include <chrono>
#include <optional>
#include <string>

// What the settings operations need of the main window. The window implements
// it over its controls; every call comes on the window's thread.
class SettingsView {
public:
    // States of the all-channels check box.
    enum class CheckState { Unchecked, Checked, Mixed };
    // The three parameter lists whose selection the settings hold.
    enum class ParameterList { DataFormat, CurrentValue, AdcRate };
    using MessageIcon = ::MessageIcon;

    virtual ~SettingsView() = default;

    // The window's busy flag: set, the operator handlers do nothing.
    virtual bool Busy() const = 0;
    virtual void SetBusy(bool busy) = 0;

    // "    Авто Сохранение" and the button "Сохранить".
    virtual bool AutoSaveChecked() const = 0;
    virtual void SetAutoSaveChecked(bool checked) = 0;
    virtual void SetSaveButtonEnabled(bool enabled) = 0;

    // Selection index of a list, -1 for none.
    virtual int ItemCount(ParameterList list) const = 0;
    virtual int ItemIndex(ParameterList list) const = 0;
    virtual void SetItemIndex(ParameterList list, int index) = 0;

    // Channels 0 to 7: the channel check box and the reference radio button of
    // each channel panel, and the all-channels check box.
    virtual bool ChannelChecked(int channel) const = 0;
    virtual void SetChannelChecked(int channel, bool checked) = 0;
    virtual void SetReferenceChannelChecked(int channel, bool checked) = 0;
    virtual CheckState AllChannelsState() const = 0;
    virtual void SetAllChannelsState(CheckState state) = 0;

    // ComputationModeLabLMDLabel and AmplitudeTypeLabLMDLabel.
    virtual void SetComputationModeCaption(const std::string& text) = 0;
    virtual void SetAmplitudeTypeCaption(const std::string& text) = 0;

    // Top and left edge of the main window in screen pixels.
    virtual int WindowTop() const = 0;
    virtual int WindowLeft() const = 0;
    virtual void SetWindowTop(int top) = 0;
    virtual void SetWindowLeft(int left) = 0;

    // Serial of the crate selected in KsnCratesComboBox, and slot of the module
    // selected in ModulesComboBox; nullopt when the list has no selection.
    virtual std::optional<std::string> SelectedCrateSerial() const = 0;
    virtual std::optional<int> SelectedModuleSlot() const = 0;

    // A modal box with one OK button.
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) = 0;
    // The application's general error report, for a refused file write.
    virtual void ReportError(const std::string& text) = 0;
    // Waits while the window keeps processing its messages.
    virtual void Pause(std::chrono::milliseconds duration) = 0;
};
