#include "ResultsDisplay.h"

#include "AdcGroupParsPanel.h"
#include "AppTexts.h"
#include "CaptionAboveCheckBox.h"
#include "Ksn48AdcChannelFrame.h"
#include "MainForm.h"
#include "MeasureTexts.h"
#include "NumberText.h"
#include "ResultsFormat.h"
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

constexpr std::int32_t StatusValid = 0;
constexpr std::int32_t StatusShort = 1;
constexpr std::int32_t StatusOpen = 2;
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

void ShowValidChannel(TKsn48AdcChannelFrame& panel, const TMainForm& form,
                      const measure::MeasurementCycle& cycle, std::size_t c)
{
    const SettingsRecord& settings = form.Settings->Record;
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

void ShowMeasurementStarted(TMainForm& form, measure::MeasurementSettings& settings)
{
    form.StartMultimeterLMDSpeedButton->setText(MeasureText::StopCaption);
    form.StartMultimeterLMDSpeedButton->setStyleSheet(MeasureText::StopButtonStyle);
    for (TKsn48AdcChannelFrame* panel : form.ChannelFrames) {
        if (panel == nullptr) {
            continue;
        }
        panel->Value1LMDEdit->clear();
        panel->Value2LMDEdit->clear();
        panel->Value3LMDEdit->clear();
        panel->Value1LMDEdit->SetFontColor(TValueEdit::Lime);
        panel->SetUpdateIndicator(TIndicatorState::IndicatorOff);
    }
    const TAdcGroupParsPanel& group = *form.AdcGroupParsLMDGroupBox;
    settings.DataFormat =
        static_cast<std::uint8_t>(std::max(0, group.DataFormatLMDComboBox->currentIndex()));
    settings.CurrentSource =
        static_cast<std::uint8_t>(std::max(0, group.CurrentValueLMDComboBox->currentIndex()));
    settings.Method = measure::CalcMethodFromText(form.Settings->Record.CalcMethod);
    settings.Amplitude = measure::AmplitudeTypeFromText(form.Settings->Record.AmplitudeType);
    settings.MaxAcquisitionTime = form.Settings->Record.MaxAcquisitionTime;
}

measure::AdcChoice ReadAdcChoice(const TMainForm& form)
{
    measure::AdcChoice choice;
    for (std::size_t c = 0; c < form.ChannelFrames.size(); ++c) {
        const TKsn48AdcChannelFrame* panel = form.ChannelFrames[c];
        choice.ChannelTicked[c] = panel != nullptr && panel->ChannelNumberLMDCheckBox->isChecked();
    }
    choice.RateIndex = form.AdcRateComboBox->currentIndex();
    choice.ReferenceChannel = form.Settings->Record.ReferenceChannel;
    return choice;
}

void ShowResults(TMainForm& form, measure::MeasurementCycle& cycle)
{
    cycle.ReferenceChannel =
        form.Settings->Record.ReferenceChannel < measure::MeasurementChannelCount
            ? form.Settings->Record.ReferenceChannel
            : cycle.ReferenceChannel;
    cycle.PhaseCorrection =
        form.AdcGroupParsLMDGroupBox->PhaseCorrectionFilterMultimeterLMDCheckBox->isChecked();
    for (TKsn48AdcChannelFrame* panel : form.ChannelFrames) {
        if (panel != nullptr) {
            panel->SetUpdateIndicator(TIndicatorState::IndicatorOff);
        }
    }
    std::size_t j = 0;
    for (std::size_t c = 0; c < form.ChannelFrames.size(); ++c) {
        TKsn48AdcChannelFrame* panel = form.ChannelFrames[c];
        const bool enabled = cycle.Handle().Channel[c].ChannelEnabled != 0;
        const std::int32_t status = enabled ? cycle.ChannelStatus[j++] : -1;
        if (panel == nullptr) {
            continue;
        }
        if (!enabled) {
            ShowDisabledChannel(*panel);
        } else if (status == StatusValid) {
            ShowValidChannel(*panel, form, cycle, c);
        } else if (status == StatusShort || status == StatusOpen) {
            SetValue(panel->Value1LMDEdit, true,
                     status == StatusShort ? MeasureText::ShortCircuitMark
                                           : MeasureText::OpenCircuitMark,
                     MarkRed);
            ShowVoltageTitle(*panel);
            DashFrequencyAndPhase(*panel);
        }
        // Any other status leaves the panel as it was.
    }
}

void ShowChannelLeds(TMainForm& form, const measure::MeasurementCycle& cycle)
{
    std::size_t i = 0;
    for (TKsn48AdcChannelFrame* panel : form.ChannelFrames) {
        if (panel == nullptr) {
            continue;
        }
        if (!panel->ChannelNumberLMDCheckBox->isChecked()) {
            panel->SetUpdateIndicator(TIndicatorState::IndicatorOff);
            continue;
        }
        const std::int32_t status =
            i < cycle.ChannelStatus.size() ? cycle.ChannelStatus[i] : StatusValid;
        ++i;
        panel->SetUpdateIndicator(status == StatusShort || status == StatusOpen
                                      ? TIndicatorState::IndicatorFault
                                      : TIndicatorState::IndicatorOk);
    }
}

void ShowMeasurementStopped(TMainForm& form)
{
    QPushButton* button = form.StartMultimeterLMDSpeedButton;
    button->setText(AppTexts::StartCaption);
    button->setStyleSheet(MeasureText::StartButtonStyle);
    // Released by the program, not by the operator: no handler reacts.
    const bool busy = form.Busy;
    form.Busy = true;
    button->setChecked(false);
    form.Busy = busy;
    form.MeasurementIdle = true;
}
