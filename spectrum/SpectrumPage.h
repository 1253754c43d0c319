#pragma once

#include "SpectrumView.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class TSpectrumChart;
class TValueEdit;
struct SettingsRecord;

// The page "Спектр": one channel's amplitude spectrum and its figures. It
// measures with the acquisition controls of "Мультиметр" (the worker's entry
// 1 runs the same cycle); here the operator picks the plotted channel among
// the ticked ones, the frequency axis and the maximum trace. A frame is
// copied when it arrives and drawn right after, on the window's thread.
class TSpectrumPage : public QWidget, public SpectrumView {
public:
    explicit TSpectrumPage(QWidget* parent = nullptr);

    // SpectrumView
    QWidget* Page() override { return this; }
    void SetChannels(const std::array<bool, measure::MeasurementChannelCount>& ticked) override;
    void SetPageEnabled(bool enabled) override;
    measure::SpectrumRequest Request() override;
    void ShowSpectrumStarted() override;
    void ShowSpectrumStopped() override;
    void ShowSpectrumFrame(const SpectrumReading& reading,
                           const measure::SpectrumFrame& frame) override;

    // Draws the frame last handed over, if it is not drawn yet.
    void DrawPending();
    // Frames drawn so far (tests).
    std::uint64_t FramesDrawn() const noexcept { return framesDrawn_; }

    TSpectrumChart* SpectrumChart = nullptr;
    QGroupBox* ChannelLMDGroupBox = nullptr;
    QComboBox* ChannelLMDComboBox = nullptr;
    QCheckBox* LogFrequencyLMDCheckBox = nullptr;
    QCheckBox* MaxHoldLMDCheckBox = nullptr;
    QPushButton* ResetMaxHoldLMDButton = nullptr;
    QGroupBox* ResultsLMDGroupBox = nullptr;
    TValueEdit* VoltageLMDEdit = nullptr;
    TValueEdit* FrequencyLMDEdit = nullptr;
    TValueEdit* PhaseLMDEdit = nullptr;
    TValueEdit* ThdLMDEdit = nullptr;
    TValueEdit* ThdNLMDEdit = nullptr;
    TValueEdit* SnrLMDEdit = nullptr;
    TValueEdit* NoiseFloorLMDEdit = nullptr;
    TValueEdit* SinadLMDEdit = nullptr;
    TValueEdit* EnobLMDEdit = nullptr;
    TValueEdit* SfdrLMDEdit = nullptr;
    TValueEdit* SpurFrequencyLMDEdit = nullptr;
    TValueEdit* FitSinadLMDEdit = nullptr;
    TValueEdit* FitEnobLMDEdit = nullptr;
    // The three readings' standard uncertainties.
    QGroupBox* UncertaintyLMDGroupBox = nullptr;
    TValueEdit* VoltageULMDEdit = nullptr;
    TValueEdit* FrequencyULMDEdit = nullptr;
    TValueEdit* PhaseULMDEdit = nullptr;

private:
    void ClearValues();
    void ShowConverterFigures(const SpectrumReading& reading, const measure::SpectrumFrame& frame);
    void ShowUncertainties(const SpectrumReading& reading);
    void ShowReading(const SpectrumReading& reading, const measure::SpectrumFrame& frame);

    std::array<bool, measure::MeasurementChannelCount> channels_{};
    bool resetMaxHold_ = false;
    bool drawPending_ = false;
    std::uint64_t framesDrawn_ = 0;
    SpectrumReading pendingReading_;
    measure::SpectrumFrame pending_;
};

// Makes the page for the window (MainFormSetup::SpectrumPage).
SpectrumView* MakeSpectrumPage(QWidget* parent);
