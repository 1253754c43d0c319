#include "ResultsDisplay.h"

#include "AdcGroupParsPanel.h"
#include "CaptionAboveCheckBox.h"
#include "Ksn48AdcChannelFrame.h"
#include "MeasureTexts.h"
#include "ReadingMarks.h"
#include "CycleResults.h"
#include "ReadingText.h"
#include "SettingsRecord.h"
#include "StartButton.h"
#include "ValueEdit.h"
#include "ValueField.h"
#include "ViewTexts.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace {

void SetLabel(QLabel* label, bool enabled, const QString* text = nullptr)
{
    label->setEnabled(enabled);
    if (text != nullptr) {
        label->setText(*text);
    }
}

// The hint of a marked or dashed value; empty for a value shown as it is.
const QString& Hint(measure::MarkReason reason)
{
    static const QString none;
    switch (reason) {
    case measure::MarkReason::None:
        break;
    case measure::MarkReason::OverRange:
        return MeasureText::OverRangeHint;
    case measure::MarkReason::NoTone:
        return MeasureText::NoToneHint;
    case measure::MarkReason::BelowBand:
        return MeasureText::BelowBandHint;
    case measure::MarkReason::AboveBand:
        return MeasureText::AboveBandHint;
    case measure::MarkReason::ReferenceOutOfBand:
        return MeasureText::ReferenceOutOfBandHint;
    case measure::MarkReason::ReferenceNoReading:
        return MeasureText::ReferenceNoReadingHint;
    }
    return none;
}

// One value column: its box, title and unit.
struct ValueColumn {
    TValueEdit* Edit;
    QLabel* Title;
    QLabel* Unit;
    const QString& TitleText;
    const QString& UnitText;
};

ValueColumn Frequency(TKsn48AdcChannelFrame& panel)
{
    return {panel.Value2LMDEdit, panel.Value2LabLMDLabel, panel.Value2LabUnitLMDLabel,
            ViewText::FrequencyTitle, ViewText::FrequencyUnit};
}

ValueColumn Phase(TKsn48AdcChannelFrame& panel)
{
    return {panel.Value3LMDEdit, panel.Value3LabLMDLabel, panel.Value3LabUnitLMDLabel,
            ViewText::PhaseTitle, ViewText::PhaseUnit};
}

// A number, lime, or yellow with its hint when the measurement cannot vouch
// for it; the column enabled. An unmarked number's hint is its uncertainty,
// when one is given.
void ShowNumber(const ValueColumn& column, const QString& text, const measure::ValueMark& mark,
                const QString& uncertainty = QString())
{
    ValueField::ShowNumber(*column.Edit, text, mark.Marked(),
                           mark.Reason != measure::MarkReason::None || uncertainty.isEmpty()
                               ? Hint(mark.Reason)
                               : MeasureText::UncertaintyHint.arg(uncertainty, column.UnitText));
    SetLabel(column.Title, true, &column.TitleText);
    SetLabel(column.Unit, true, &column.UnitText);
}

// The placeholder instead of a number, with the hint that says why; the
// column disabled.
void ShowDashes(const ValueColumn& column, measure::MarkReason reason = measure::MarkReason::None)
{
    ValueField::ShowDashes(*column.Edit, Hint(reason));
    SetLabel(column.Title, false, &column.TitleText);
    SetLabel(column.Unit, false, &column.UnitText);
}

// Frequency and phase boxes disabled with dashes, their titles and units too.
void DashFrequencyAndPhase(TKsn48AdcChannelFrame& panel)
{
    ShowDashes(Frequency(panel));
    ShowDashes(Phase(panel));
}

void ShowVoltageTitle(TKsn48AdcChannelFrame& panel)
{
    SetLabel(panel.Value1LabLMDLabel, true, &ViewText::VoltageTitle);
    SetLabel(panel.Value1LabUnitLMDLabel, true, &ViewText::VoltageUnit);
}

// The three values of a channel with a valid status as the log's record has
// them (FillFrameResult), shown by the one formatter, with their marks;
// frequency and phase only with "fft" and when not dashed. Each value's
// uncertainty, where the record has one, is rounded like the value; none
// for a value that has none.
struct ReadingTexts {
    measure::ReadingMarks Marks;
    QString Voltage;
    QString Frequency;
    QString Phase;
    QString VoltageU;
    QString FrequencyU;
    QString PhaseU;
};

ReadingTexts FormatReading(const SettingsRecord& settings, const measure::MeasurementCycle& cycle,
                           const measure::ChannelReading& reading, std::size_t c)
{
    ReadingTexts texts;
    texts.Marks = measure::MarkReading(cycle, c);
    const measure::ReadingFormats formats{settings.AcFormat[0], settings.FrFormat[0],
                                          settings.PhFormat[0]};
    const auto show = [&](measure::ShownValue value) {
        return QString::fromStdString(measure::ShowReading(formats, reading, value));
    };
    texts.Voltage = show(measure::ShownValue::Voltage);
    if (reading.VoltageU) {
        texts.VoltageU = show(measure::ShownValue::VoltageU);
    }
    if (reading.Frequency) {
        texts.Frequency = show(measure::ShownValue::Frequency);
        if (reading.FrequencyU) {
            texts.FrequencyU = show(measure::ShownValue::FrequencyU);
        }
    }
    if (reading.Phase) {
        texts.Phase = show(measure::ShownValue::Phase);
        if (reading.PhaseU) {
            texts.PhaseU = show(measure::ShownValue::PhaseU);
        }
    }
    return texts;
}

void ShowValidChannel(TKsn48AdcChannelFrame& panel, const SettingsRecord& settings,
                      const measure::MeasurementCycle& cycle,
                      const measure::ChannelReading& reading, std::size_t c)
{
    const ReadingTexts texts = FormatReading(settings, cycle, reading, c);
    const measure::ReadingMarks& marks = texts.Marks;
    // The hints carry the uncertainty only when the window's own section
    // asks for it: a run of the precision method, or the uncertainty key.
    const bool hints = cycle.Config().SineFit || settings.UncertaintyHints;
    const QString none;
    ShowNumber({panel.Value1LMDEdit, panel.Value1LabLMDLabel, panel.Value1LabUnitLMDLabel,
                ViewText::VoltageTitle, ViewText::VoltageUnit},
               texts.Voltage, marks.Voltage, hints ? texts.VoltageU : none);
    if (cycle.Config().Method != measure::CalcMethod::Fft) {
        DashFrequencyAndPhase(panel);
        return;
    }
    if (marks.Frequency.Dashed) {
        ShowDashes(Frequency(panel), marks.Frequency.Reason);
    } else {
        ShowNumber(Frequency(panel), texts.Frequency, marks.Frequency,
                   hints ? texts.FrequencyU : none);
    }
    if (marks.Phase.Dashed) {
        ShowDashes(Phase(panel), marks.Phase.Reason);
    } else {
        ShowNumber(Phase(panel), texts.Phase, marks.Phase, hints ? texts.PhaseU : none);
    }
}

void ShowDisabledChannel(TKsn48AdcChannelFrame& panel)
{
    for (TValueEdit* edit : {panel.Value1LMDEdit, panel.Value2LMDEdit, panel.Value3LMDEdit}) {
        edit->setEnabled(false);
        edit->setText(ViewText::ValuePlaceholder);
        edit->setToolTip(QString());
    }
    for (QLabel* label :
         {panel.Value1LabLMDLabel, panel.Value2LabLMDLabel, panel.Value3LabLMDLabel,
          panel.Value1LabUnitLMDLabel, panel.Value2LabUnitLMDLabel, panel.Value3LabUnitLMDLabel}) {
        label->setEnabled(false);
    }
}

}  // namespace

const QString& MarkHint(measure::MarkReason reason)
{
    return Hint(reason);
}

void ShowMeasurementStarted(MeasurementView& view, measure::MeasurementSettings& settings,
                            bool clearPanels)
{
    ShowStartButtonRunning(view.StartButton());
    for (TKsn48AdcChannelFrame* panel : view.ChannelFrames()) {
        if (panel == nullptr || !clearPanels) {
            continue;
        }
        // All three lime: the frequency and phase boxes may have been
        // marked yellow by the last run.
        for (TValueEdit* edit :
             {panel->Value1LMDEdit, panel->Value2LMDEdit, panel->Value3LMDEdit}) {
            edit->clear();
            edit->SetFontColor(TValueEdit::Lime);
            edit->setToolTip(QString());
        }
        panel->SetUpdateIndicator(TIndicatorState::IndicatorOff);
    }
    const TAdcGroupParsPanel& group = view.AcquisitionControls();
    settings.DataFormat =
        static_cast<std::uint8_t>(std::max(0, group.DataFormatLMDComboBox->currentIndex()));
    settings.CurrentSource =
        static_cast<std::uint8_t>(std::max(0, group.CurrentValueLMDComboBox->currentIndex()));
    const SettingsRecord& record = view.Settings();
    // The window's own section may choose the precision method; the shared
    // key keeps its value either way.
    settings.CalcMethod =
        record.SineFit ? std::string(measure::CalcMethodFitText) : record.CalcMethod;
    settings.AmplitudeType = record.AmplitudeType;
    settings.MaxAcquisitionTime = record.MaxAcquisitionTime;
}

measure::AdcChoice ReadAdcChoice(const MeasurementView& view)
{
    measure::AdcChoice choice;
    choice.ChannelTicked = TickedChannels(view.ChannelFrames());
    choice.RateIndex = view.AcquisitionControls().AdcRateComboBox->currentIndex();
    choice.ReferenceChannel = view.Settings().ReferenceChannel;
    return choice;
}

void ReadFrameInputs(const MeasurementView& view, measure::FrameInputs& inputs)
{
    const SettingsRecord& settings = view.Settings();
    if (settings.ReferenceChannel < measure::MeasurementChannelCount) {
        inputs.ReferenceChannel = settings.ReferenceChannel;
    }
    inputs.PhaseCorrection =
        view.AcquisitionControls().PhaseCorrectionFilterMultimeterLMDCheckBox->isChecked();
}

void ShowResults(MeasurementView& view, const measure::MeasurementCycle& cycle)
{
    const SettingsRecord& settings = view.Settings();
    measure::FrameResult frame;
    measure::FillFrameResult(cycle, frame);
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
        if (!cycle.Config().Enabled(c)) {
            ShowDisabledChannel(*panel);
        } else if (status == KSN48_STATUS_VALID) {
            ShowValidChannel(*panel, settings, cycle, frame.Channels[c], c);
        } else if (status == KSN48_STATUS_SHORT || status == KSN48_STATUS_OPEN) {
            ValueField::ShowCircuitMark(*panel->Value1LMDEdit, status == KSN48_STATUS_SHORT
                                                                   ? MeasureText::ShortCircuitMark
                                                                   : MeasureText::OpenCircuitMark);
            ShowVoltageTitle(*panel);
            DashFrequencyAndPhase(*panel);
        }
        // Any other status leaves the panel as it was.
    }
}

void ShowChannelLeds(MeasurementView& view, const measure::MeasurementCycle& cycle)
{
    const TChannelFrames& panels = view.ChannelFrames();
    for (std::size_t c = 0; c < panels.size(); ++c) {
        TKsn48AdcChannelFrame* panel = panels[c];
        if (panel == nullptr) {
            continue;
        }
        if (!panel->ChannelNumberLMDCheckBox->isChecked()) {
            panel->SetUpdateIndicator(TIndicatorState::IndicatorOff);
            continue;
        }
        const std::int32_t status = cycle.StatusOf(c);
        panel->SetUpdateIndicator(status == KSN48_STATUS_SHORT || status == KSN48_STATUS_OPEN
                                      ? TIndicatorState::IndicatorFault
                                      : TIndicatorState::IndicatorOk);
    }
}

void ShowSpectrumStarted(MeasurementView& view, SpectrumView& spectrum, measure::SpectrumTap& tap)
{
    spectrum.SetChannels(TickedChannels(view.ChannelFrames()));
    spectrum.ShowSpectrumStarted();
    tap.SetRequest(spectrum.Request());
}

void ShowSpectrumResults(MeasurementView& view, SpectrumView& spectrum,
                         const measure::MeasurementCycle& cycle)
{
    measure::SpectrumTap* tap = cycle.Spectrum();
    const measure::RunConfiguration& config = cycle.Config();
    const measure::FrameReadings& readings = cycle.Readings();
    SpectrumReading reading;
    reading.Spectral = config.Method == measure::CalcMethod::Fft;
    if (tap != nullptr) {
        reading.Channel = tap->Request().Channel;
    }
    const auto c = static_cast<std::size_t>(reading.Channel);
    if (reading.Channel >= 0 && c < measure::MeasurementChannelCount) {
        reading.Status = cycle.StatusOf(c);
        if (reading.Status == KSN48_STATUS_VALID) {
            measure::FrameResult frame;
            measure::FillFrameResult(cycle, frame);
            ReadingTexts texts = FormatReading(view.Settings(), cycle, frame.Channels[c], c);
            reading.Marks = texts.Marks;
            reading.Voltage = std::move(texts.Voltage);
            reading.Frequency = std::move(texts.Frequency);
            reading.Phase = std::move(texts.Phase);
            reading.VoltageU = std::move(texts.VoltageU);
            reading.FrequencyU = std::move(texts.FrequencyU);
            reading.PhaseU = std::move(texts.PhaseU);
            reading.SineFit = config.SineFit;
            reading.FitSinadDb = readings.FitSinadDb[c];
            reading.FitEnobBits = readings.FitEnobBits[c];
            reading.ToneFound = readings.ToneFound[c];
            reading.InBand = readings.InBand[c];
            reading.VoltageVolts = readings.Voltage[c];
            reading.FrequencyHz = readings.Frequency[c];
        }
    }
    static const measure::SpectrumFrame none;
    spectrum.ShowSpectrumFrame(reading, tap != nullptr ? tap->Frame() : none);
    if (tap != nullptr) {
        tap->SetRequest(spectrum.Request());
    }
}

void ShowMeasurementStopped(MeasurementView& view)
{
    ShowStartButtonIdle(view.StartButton());
    // Released by the program, not by the operator: no handler reacts.
    view.ReleaseStartButton();
    view.SetMeasurementIdle(true);
}
