#include "ResultsDisplay.h"

#include "AdcGroupParsPanel.h"
#include "CaptionAboveCheckBox.h"
#include "Ksn48AdcChannelFrame.h"
#include "MeasureTexts.h"
#include "NumberText.h"
#include "ResultsFormat.h"
#include "SettingsRecord.h"
#include "StartButton.h"
#include "ValueEdit.h"
#include "ViewTexts.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <string>

namespace {

const QColor MarkRed(255, 0, 0);
constexpr double MilliPerUnit = 1000.0;
constexpr double KiloPerUnit = 0.001;

QString Format(const std::string& pattern, double value)
{
    return QString::fromStdString(NumberText::FormatFloat(pattern, value));
}

void SetLabel(QLabel* label, bool enabled, const QString* text = nullptr)
{
    label->setEnabled(enabled);
    if (text != nullptr) {
        label->setText(*text);
    }
}

void SetValue(TValueEdit* edit, bool enabled, const QString& text, const QColor& colour)
{
    edit->setEnabled(enabled);
    edit->SetFontColor(colour);
    edit->setText(text);
}

// Frequency and phase boxes disabled with dashes, their titles and units too.
void DashFrequencyAndPhase(TKsn48AdcChannelFrame& panel)
{
    panel.Value2LMDEdit->setEnabled(false);
    panel.Value2LMDEdit->setText(ViewText::ValuePlaceholder);
    panel.Value3LMDEdit->setEnabled(false);
    panel.Value3LMDEdit->setText(ViewText::ValuePlaceholder);
    SetLabel(panel.Value2LabLMDLabel, false, &ViewText::FrequencyTitle);
    SetLabel(panel.Value2LabUnitLMDLabel, false, &ViewText::FrequencyUnit);
    SetLabel(panel.Value3LabLMDLabel, false, &ViewText::PhaseTitle);
    SetLabel(panel.Value3LabUnitLMDLabel, false, &ViewText::PhaseUnit);
}

void ShowVoltageTitle(TKsn48AdcChannelFrame& panel)
{
    SetLabel(panel.Value1LabLMDLabel, true, &ViewText::VoltageTitle);
    SetLabel(panel.Value1LabUnitLMDLabel, true, &ViewText::VoltageUnit);
}

void ShowValidChannel(TKsn48AdcChannelFrame& panel, const SettingsRecord& settings,
                      const measure::MeasurementCycle& cycle, std::size_t c)
{
    SetValue(panel.Value1LMDEdit, true,
             Format(settings.AcFormat[0], cycle.Voltage[c] * MilliPerUnit), TValueEdit::Lime);
    ShowVoltageTitle(panel);
    if (cycle.Settings.Method != measure::CalcMethod::Fft) {
        DashFrequencyAndPhase(panel);
        return;
    }
    const double kHz = cycle.Frequency[c] * KiloPerUnit;
    const std::string frequencyFormat(measure::FrequencyFormat(
        kHz, settings.FrFormat[0], cycle.FrFormatAbove100, cycle.FrFormatAbove1000));
    SetValue(panel.Value2LMDEdit, true, Format(frequencyFormat, kHz), TValueEdit::Lime);
    SetLabel(panel.Value2LabLMDLabel, true, &ViewText::FrequencyTitle);
    SetLabel(panel.Value2LabUnitLMDLabel, true, &ViewText::FrequencyUnit);
    const double phase =
        measure::PhaseDifference(cycle.Phase[cycle.ReferenceChannel], cycle.Phase[c]);
    SetValue(panel.Value3LMDEdit, true, Format(settings.PhFormat[0], phase), TValueEdit::Lime);
    SetLabel(panel.Value3LabLMDLabel, true, &ViewText::PhaseTitle);
    SetLabel(panel.Value3LabUnitLMDLabel, true, &ViewText::PhaseUnit);
}

void ShowDisabledChannel(TKsn48AdcChannelFrame& panel)
{
    for (TValueEdit* edit : {panel.Value1LMDEdit, panel.Value2LMDEdit, panel.Value3LMDEdit}) {
        edit->setEnabled(false);
        edit->setText(ViewText::ValuePlaceholder);
    }
    for (QLabel* label :
         {panel.Value1LabLMDLabel, panel.Value2LabLMDLabel, panel.Value3LabLMDLabel,
          panel.Value1LabUnitLMDLabel, panel.Value2LabUnitLMDLabel, panel.Value3LabUnitLMDLabel}) {
        label->setEnabled(false);
    }
}

}  // namespace

void ShowMeasurementStarted(MeasurementView& view, measure::MeasurementSettings& settings)
{
    ShowStartButtonRunning(view.StartButton());
    for (TKsn48AdcChannelFrame* panel : view.ChannelFrames()) {
        if (panel == nullptr) {
            continue;
        }
        panel->Value1LMDEdit->clear();
        panel->Value2LMDEdit->clear();
        panel->Value3LMDEdit->clear();
        panel->Value1LMDEdit->SetFontColor(TValueEdit::Lime);
        panel->SetUpdateIndicator(TIndicatorState::IndicatorOff);
    }
    const TAdcGroupParsPanel& group = view.AcquisitionControls();
    settings.DataFormat =
        static_cast<std::uint8_t>(std::max(0, group.DataFormatLMDComboBox->currentIndex()));
    settings.CurrentSource =
        static_cast<std::uint8_t>(std::max(0, group.CurrentValueLMDComboBox->currentIndex()));
    const SettingsRecord& record = view.Settings();
    settings.Method = measure::CalcMethodFromText(record.CalcMethod);
    settings.Amplitude = measure::AmplitudeTypeFromText(record.AmplitudeType);
    settings.MaxAcquisitionTime = record.MaxAcquisitionTime;
}

measure::AdcChoice ReadAdcChoice(const MeasurementView& view)
{
    measure::AdcChoice choice;
    const TChannelFrames& panels = view.ChannelFrames();
    for (std::size_t c = 0; c < panels.size(); ++c) {
        const TKsn48AdcChannelFrame* panel = panels[c];
        choice.ChannelTicked[c] = panel != nullptr && panel->ChannelNumberLMDCheckBox->isChecked();
    }
    choice.RateIndex = view.AcquisitionControls().AdcRateComboBox->currentIndex();
    choice.ReferenceChannel = view.Settings().ReferenceChannel;
    return choice;
}

void ShowResults(MeasurementView& view, measure::MeasurementCycle& cycle)
{
    const SettingsRecord& settings = view.Settings();
    cycle.ReferenceChannel = settings.ReferenceChannel < measure::MeasurementChannelCount
                                 ? settings.ReferenceChannel
                                 : cycle.ReferenceChannel;
    cycle.PhaseCorrection =
        view.AcquisitionControls().PhaseCorrectionFilterMultimeterLMDCheckBox->isChecked();
    const TChannelFrames& panels = view.ChannelFrames();
    for (TKsn48AdcChannelFrame* panel : panels) {
        if (panel != nullptr) {
            panel->SetUpdateIndicator(TIndicatorState::IndicatorOff);
        }
    }
    for (std::size_t c = 0; c < panels.size(); ++c) {
        TKsn48AdcChannelFrame* panel = panels[c];
        if (panel == nullptr) {
            continue;
        }
        const std::int32_t status = cycle.StatusOf(c);
        if (cycle.Handle().Channel[c].ChannelEnabled == 0) {
            ShowDisabledChannel(*panel);
        } else if (status == KSN48_STATUS_VALID) {
            ShowValidChannel(*panel, settings, cycle, c);
        } else if (status == KSN48_STATUS_SHORT || status == KSN48_STATUS_OPEN) {
            SetValue(panel->Value1LMDEdit, true,
                     status == KSN48_STATUS_SHORT ? MeasureText::ShortCircuitMark
                                                  : MeasureText::OpenCircuitMark,
                     MarkRed);
            ShowVoltageTitle(*panel);
            DashFrequencyAndPhase(*panel);
        }
        // Any other status leaves the panel as it was.
    }
}

void ShowChannelLeds(MeasurementView& view, const measure::MeasurementCycle& cycle)
{
    std::size_t i = 0;
    for (TKsn48AdcChannelFrame* panel : view.ChannelFrames()) {
        if (panel == nullptr) {
            continue;
        }
        if (!panel->ChannelNumberLMDCheckBox->isChecked()) {
            panel->SetUpdateIndicator(TIndicatorState::IndicatorOff);
            continue;
        }
        const std::int32_t status =
            i < cycle.ChannelStatus.size() ? cycle.ChannelStatus[i] : KSN48_STATUS_VALID;
        ++i;
        panel->SetUpdateIndicator(status == KSN48_STATUS_SHORT || status == KSN48_STATUS_OPEN
                                      ? TIndicatorState::IndicatorFault
                                      : TIndicatorState::IndicatorOk);
    }
}

void ShowMeasurementStopped(MeasurementView& view)
{
    ShowStartButtonIdle(view.StartButton());
    // Released by the program, not by the operator: no handler reacts.
    view.ReleaseStartButton();
    view.SetMeasurementIdle(true);
}
