#pragma once

#include "SettingsView.h"

class QComboBox;
class TMainForm;

// The main window as the settings operations see it: its busy flag, the
// controls whose selections the settings hold, its position and its boxes.
class TMainFormSettingsView : public SettingsView {
public:
    explicit TMainFormSettingsView(TMainForm& form) : form_(form) {}

    bool Busy() const override;
    void SetBusy(bool busy) override;
    bool AutoSaveChecked() const override;
    void SetAutoSaveChecked(bool checked) override;
    void SetSaveButtonEnabled(bool enabled) override;
    int ItemCount(ParameterList list) const override;
    int ItemIndex(ParameterList list) const override;
    void SetItemIndex(ParameterList list, int index) override;
    bool ChannelChecked(int channel) const override;
    void SetChannelChecked(int channel, bool checked) override;
    void SetReferenceChannelChecked(int channel, bool checked) override;
    CheckState AllChannelsState() const override;
    void SetAllChannelsState(CheckState state) override;
    void SetComputationModeCaption(const std::string& text) override;
    void SetAmplitudeTypeCaption(const std::string& text) override;
    int WindowTop() const override;
    int WindowLeft() const override;
    void SetWindowTop(int top) override;
    void SetWindowLeft(int left) override;
    std::optional<std::string> SelectedCrateSerial() const override;
    std::optional<int> SelectedModuleSlot() const override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    void ReportError(const std::string& text) override;
    void Pause(std::chrono::milliseconds duration) override;

private:
    // The window's list that holds the settings' choice.
    static QComboBox* List(const TMainForm& form, ParameterList list);

    TMainForm& form_;
};
