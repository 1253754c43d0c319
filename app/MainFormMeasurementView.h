#pragma once

#include "MeasurementView.h"

class TMainForm;

// The main window as the worker and the results display see it: its flags,
// its module handle, the selected crate and the controls of a run.
class TMainFormMeasurementView : public MeasurementView {
public:
    explicit TMainFormMeasurementView(TMainForm& form) : form_(form) {}

    Ksn48Handle& ModuleHandle() override;
    void SetWorkerRunning() override;
    void SetMeasurementIdle(bool idle) override;
    bool ProcessingPageShown() const override;
    SpectrumView* Spectrum() override;
    std::uint8_t SelectedCrateType() const override;
    const TChannelFrames& ChannelFrames() const override;
    const TAdcGroupParsPanel& AcquisitionControls() const override;
    QPushButton& StartButton() override;
    void ReleaseStartButton() override;
    const SettingsRecord& Settings() const override;
    QWidget* DialogParent() override;
    void ShowModuleLost() override;
    void FrameShown(const measure::MeasurementCycle& cycle) override;
    void MeasurementStopped() override;

private:
    TMainForm& form_;
};
