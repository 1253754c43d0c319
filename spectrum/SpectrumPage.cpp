#include "SpectrumPage.h"

#include "MeasureTexts.h"
#include "NumberText.h"
#include "ResultsDisplay.h"
#include "SpectrumChart.h"
#include "SpectrumTexts.h"
#include "ValueEdit.h"
#include "ViewTexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMetaObject>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int SidePanelWidth = 410;
const QColor MarkRed(255, 0, 0);

// The figures' digits: percent with three decimals ("1.000"), decibels with one.
constexpr const char* PercentFormat = "0.000";
constexpr const char* DecibelFormat = "0.0";
// Bits with two decimals, the spur's frequency in kHz with three.
constexpr const char* BitsFormat = "0.00";
constexpr const char* SpurFrequencyFormat = "0.000";

QString Fixed(const char* pattern, double value)
{
    return QString::fromStdString(NumberText::FormatFloat(pattern, value));
}

QString Unbounded(const char* pattern, double value)
{
    if (std::isinf(value)) {
        return value > 0 ? SpectrumText::Infinite : QStringLiteral("-") + SpectrumText::Infinite;
    }
    return Fixed(pattern, value);
}

QString Decibels(double value)
{
    return Unbounded(DecibelFormat, value);
}

void SetValue(TValueEdit* edit, const QString& text, const QColor& colour,
              const QString& hint = QString())
{
    edit->setEnabled(true);
    edit->SetFontColor(colour);
    edit->setText(text);
    edit->setToolTip(hint);
}

void SetDashes(TValueEdit* edit, const QString& hint = QString())
{
    edit->setEnabled(false);
    edit->SetFontColor(TValueEdit::Lime);
    edit->setText(ViewText::ValuePlaceholder);
    edit->setToolTip(hint);
}

void SetMarked(TValueEdit* edit, const QString& text, const measure::ValueMark& mark)
{
    if (mark.Dashed) {
        SetDashes(edit, MarkHint(mark.Reason));
        return;
    }
    SetValue(edit, text, mark.Marked() ? TValueEdit::Warning : TValueEdit::Lime,
             MarkHint(mark.Reason));
}

// A row of the results: title, value, unit.
TValueEdit* AddRow(QGridLayout* grid, int row, const QString& title, const QString& unit,
                   const QString& name)
{
    auto* titleLabel = new QLabel(title);
    auto* edit = new TValueEdit;
    edit->setObjectName(name);
    edit->setText(ViewText::ValuePlaceholder);
    edit->setMinimumWidth(edit->sizeHint().width());
    auto* unitLabel = new QLabel(unit);
    unitLabel->setMinimumWidth(unitLabel->sizeHint().width());
    grid->addWidget(titleLabel, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(unitLabel, row, 2);
    return edit;
}

}  // namespace

TSpectrumPage::TSpectrumPage(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    SpectrumChart = new TSpectrumChart(this);
    layout->addWidget(SpectrumChart, 1);

    // The side column scrolls when the page is lower than its figures: the
    // chart keeps its height whatever the window's.
    auto* sideBox = new QScrollArea(this);
    sideBox->setObjectName(QStringLiteral("SideLMDScrollBox"));
    sideBox->setFixedWidth(SidePanelWidth);
    sideBox->setFrameShape(QFrame::NoFrame);
    sideBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sideBox->setWidgetResizable(true);
    auto* side = new QWidget(sideBox);
    auto* column = new QVBoxLayout(side);
    column->setContentsMargins(0, 0, 0, 0);

    ChannelLMDGroupBox = new QGroupBox(SpectrumText::ChannelGroup, side);
    ChannelLMDGroupBox->setObjectName(QStringLiteral("ChannelLMDGroupBox"));
    auto* choice = new QVBoxLayout(ChannelLMDGroupBox);
    ChannelLMDComboBox = new QComboBox(ChannelLMDGroupBox);
    ChannelLMDComboBox->setObjectName(QStringLiteral("ChannelLMDComboBox"));
    choice->addWidget(ChannelLMDComboBox);
    LogFrequencyLMDCheckBox = new QCheckBox(SpectrumText::LogAxis, ChannelLMDGroupBox);
    LogFrequencyLMDCheckBox->setObjectName(QStringLiteral("LogFrequencyLMDCheckBox"));
    choice->addWidget(LogFrequencyLMDCheckBox);
    MaxHoldLMDCheckBox = new QCheckBox(SpectrumText::MaxHold, ChannelLMDGroupBox);
    MaxHoldLMDCheckBox->setObjectName(QStringLiteral("MaxHoldLMDCheckBox"));
    choice->addWidget(MaxHoldLMDCheckBox);
    ResetMaxHoldLMDButton = new QPushButton(SpectrumText::ResetMaxHold, ChannelLMDGroupBox);
    ResetMaxHoldLMDButton->setObjectName(QStringLiteral("ResetMaxHoldLMDButton"));
    ResetMaxHoldLMDButton->setEnabled(false);
    choice->addWidget(ResetMaxHoldLMDButton);
    column->addWidget(ChannelLMDGroupBox);

    ResultsLMDGroupBox = new QGroupBox(SpectrumText::ResultsGroup, side);
    ResultsLMDGroupBox->setObjectName(QStringLiteral("ResultsLMDGroupBox"));
    auto* grid = new QGridLayout(ResultsLMDGroupBox);
    VoltageLMDEdit = AddRow(grid, 0, SpectrumText::VoltageTitle, SpectrumText::VoltageUnit,
                            QStringLiteral("VoltageLMDEdit"));
    FrequencyLMDEdit = AddRow(grid, 1, SpectrumText::FrequencyTitle, SpectrumText::FrequencyUnit,
                              QStringLiteral("FrequencyLMDEdit"));
    PhaseLMDEdit = AddRow(grid, 2, SpectrumText::PhaseTitle, SpectrumText::PhaseUnit,
                          QStringLiteral("PhaseLMDEdit"));
    ThdLMDEdit = AddRow(grid, 3, SpectrumText::ThdTitle, SpectrumText::PercentUnit,
                        QStringLiteral("ThdLMDEdit"));
    ThdNLMDEdit = AddRow(grid, 4, SpectrumText::ThdNTitle, SpectrumText::PercentUnit,
                         QStringLiteral("ThdNLMDEdit"));
    SnrLMDEdit = AddRow(grid, 5, SpectrumText::SnrTitle, SpectrumText::DecibelUnit,
                        QStringLiteral("SnrLMDEdit"));
    NoiseFloorLMDEdit = AddRow(grid, 6, SpectrumText::NoiseFloorTitle, SpectrumText::NoiseFloorUnit,
                               QStringLiteral("NoiseFloorLMDEdit"));
    SinadLMDEdit = AddRow(grid, 7, SpectrumText::SinadTitle, SpectrumText::DecibelUnit,
                          QStringLiteral("SinadLMDEdit"));
    EnobLMDEdit = AddRow(grid, 8, SpectrumText::EnobTitle, SpectrumText::BitsUnit,
                         QStringLiteral("EnobLMDEdit"));
    SfdrLMDEdit = AddRow(grid, 9, SpectrumText::SfdrTitle, SpectrumText::DecibelCarrierUnit,
                         QStringLiteral("SfdrLMDEdit"));
    SpurFrequencyLMDEdit = AddRow(grid, 10, SpectrumText::SpurFrequencyTitle,
                                  SpectrumText::FrequencyUnit,
                                  QStringLiteral("SpurFrequencyLMDEdit"));
    FitSinadLMDEdit = AddRow(grid, 11, SpectrumText::FitSinadTitle, SpectrumText::DecibelUnit,
                             QStringLiteral("FitSinadLMDEdit"));
    FitEnobLMDEdit = AddRow(grid, 12, SpectrumText::FitEnobTitle, SpectrumText::BitsUnit,
                            QStringLiteral("FitEnobLMDEdit"));
    column->addWidget(ResultsLMDGroupBox);

    UncertaintyLMDGroupBox = new QGroupBox(SpectrumText::UncertaintyGroup, side);
    UncertaintyLMDGroupBox->setObjectName(QStringLiteral("UncertaintyLMDGroupBox"));
    auto* uncertainty = new QGridLayout(UncertaintyLMDGroupBox);
    VoltageULMDEdit = AddRow(uncertainty, 0, SpectrumText::VoltageTitle,
                             SpectrumText::VoltageUnit, QStringLiteral("VoltageULMDEdit"));
    FrequencyULMDEdit = AddRow(uncertainty, 1, SpectrumText::FrequencyTitle,
                               SpectrumText::FrequencyUnit, QStringLiteral("FrequencyULMDEdit"));
    PhaseULMDEdit = AddRow(uncertainty, 2, SpectrumText::PhaseTitle, SpectrumText::PhaseUnit,
                           QStringLiteral("PhaseULMDEdit"));
    column->addWidget(UncertaintyLMDGroupBox);
    column->addStretch(1);
    sideBox->setWidget(side);
    layout->addWidget(sideBox);

    connect(MaxHoldLMDCheckBox, &QCheckBox::toggled, this,
            [this](bool on) { ResetMaxHoldLMDButton->setEnabled(on); });
    connect(ResetMaxHoldLMDButton, &QPushButton::clicked, this, [this] { resetMaxHold_ = true; });
    pending_.Reserve();
    SetChannels(channels_);
    ClearValues();
    SpectrumChart->ShowNothing(QString());
}

void TSpectrumPage::SetChannels(const std::array<bool, measure::MeasurementChannelCount>& ticked)
{
    if (ticked == channels_ && ChannelLMDComboBox->count() > 0) {
        return;
    }
    channels_ = ticked;
    const QVariant kept = ChannelLMDComboBox->currentData();
    ChannelLMDComboBox->clear();
    for (std::size_t c = 0; c < ticked.size(); ++c) {
        if (ticked[c]) {
            ChannelLMDComboBox->addItem(SpectrumText::ChannelItem.arg(c + 1), static_cast<int>(c));
        }
    }
    if (ChannelLMDComboBox->count() == 0) {
        ChannelLMDComboBox->addItem(SpectrumText::NoChannel, -1);
    }
    const int index = kept.isValid() ? ChannelLMDComboBox->findData(kept) : -1;
    ChannelLMDComboBox->setCurrentIndex(index >= 0 ? index : 0);
}

void TSpectrumPage::SetPageEnabled(bool enabled)
{
    setEnabled(enabled);
    for (QWidget* control : findChildren<QWidget*>()) {
        control->setEnabled(enabled);
    }
    ResetMaxHoldLMDButton->setEnabled(enabled && MaxHoldLMDCheckBox->isChecked());
    for (TValueEdit* edit :
         {VoltageLMDEdit, FrequencyLMDEdit, PhaseLMDEdit, ThdLMDEdit, ThdNLMDEdit, SnrLMDEdit,
          NoiseFloorLMDEdit, SinadLMDEdit, EnobLMDEdit, SfdrLMDEdit, SpurFrequencyLMDEdit,
          FitSinadLMDEdit, FitEnobLMDEdit, VoltageULMDEdit, FrequencyULMDEdit, PhaseULMDEdit}) {
        edit->setEnabled(enabled && edit->text() != ViewText::ValuePlaceholder);
    }
}

measure::SpectrumRequest TSpectrumPage::Request()
{
    measure::SpectrumRequest request;
    const QVariant channel = ChannelLMDComboBox->currentData();
    request.Channel = channel.isValid() ? channel.toInt() : -1;
    request.Columns = SpectrumChart->PlotColumns();
    request.Axis = LogFrequencyLMDCheckBox->isChecked() ? measure::FrequencyAxis::Logarithmic
                                                        : measure::FrequencyAxis::Linear;
    request.MaxHold = MaxHoldLMDCheckBox->isChecked();
    request.ResetMaxHold = resetMaxHold_;
    resetMaxHold_ = false;
    return request;
}

void TSpectrumPage::ShowSpectrumStarted()
{
    drawPending_ = false;
    ClearValues();
    SpectrumChart->ShowNothing(QString());
}

void TSpectrumPage::ShowSpectrumStopped()
{
    // The last frame stays in view; one still waiting is drawn.
    DrawPending();
}

void TSpectrumPage::ShowSpectrumFrame(const SpectrumReading& reading,
                                      const measure::SpectrumFrame& frame)
{
    // Only a copy here: the worker waits for this step.
    pendingReading_ = reading;
    pending_.CopyFrom(frame);
    if (!drawPending_) {
        drawPending_ = true;
        QMetaObject::invokeMethod(
            this, [this] { DrawPending(); }, Qt::QueuedConnection);
    }
}

void TSpectrumPage::DrawPending()
{
    if (!drawPending_) {
        return;
    }
    drawPending_ = false;
    ShowReading(pendingReading_, pending_);
    ++framesDrawn_;
}

void TSpectrumPage::ClearValues()
{
    for (TValueEdit* edit :
         {VoltageLMDEdit, FrequencyLMDEdit, PhaseLMDEdit, ThdLMDEdit, ThdNLMDEdit, SnrLMDEdit,
          NoiseFloorLMDEdit, SinadLMDEdit, EnobLMDEdit, SfdrLMDEdit, SpurFrequencyLMDEdit,
          FitSinadLMDEdit, FitEnobLMDEdit, VoltageULMDEdit, FrequencyULMDEdit, PhaseULMDEdit}) {
        SetDashes(edit);
    }
}

void TSpectrumPage::ShowReading(const SpectrumReading& reading, const measure::SpectrumFrame& frame)
{
    ClearValues();
    const int shown = reading.Channel + 1;
    if (reading.Status == KSN48_STATUS_SHORT || reading.Status == KSN48_STATUS_OPEN) {
        SetValue(VoltageLMDEdit,
                 reading.Status == KSN48_STATUS_SHORT ? MeasureText::ShortCircuitMark
                                                      : MeasureText::OpenCircuitMark,
                 MarkRed);
        SpectrumChart->ShowNothing(SpectrumText::NoReading.arg(shown));
        return;
    }
    if (reading.Status != KSN48_STATUS_VALID) {
        SpectrumChart->ShowNothing(reading.Channel >= 0 ? SpectrumText::NoReading.arg(shown)
                                                        : QString());
        return;
    }
    SetMarked(VoltageLMDEdit, reading.Voltage, reading.Marks.Voltage);
    ShowUncertainties(reading);
    if (!reading.Spectral) {
        SpectrumChart->ShowNothing(SpectrumText::NoSpectrumSum);
        return;
    }
    SetMarked(FrequencyLMDEdit, reading.Frequency, reading.Marks.Frequency);
    SetMarked(PhaseLMDEdit, reading.Phase, reading.Marks.Phase);

    const measure::SpectrumFigures& figures = frame.Figures;
    if (frame.Valid && figures.Valid && reading.ToneFound) {
        // Out of the exact band the figures, like the readings, are marked.
        const measure::ValueMark mark = reading.Marks.Frequency;
        const QColor colour = mark.Marked() ? TValueEdit::Warning : TValueEdit::Lime;
        const QString& hint = MarkHint(mark.Reason);
        SetValue(ThdLMDEdit, Fixed(PercentFormat, figures.ThdPercent), colour, hint);
        SetValue(ThdNLMDEdit, Fixed(PercentFormat, figures.ThdNPercent), colour, hint);
        SetValue(SnrLMDEdit, Decibels(figures.SnrDb), colour, hint);
        SetValue(NoiseFloorLMDEdit, Decibels(figures.NoiseFloorDbv), colour, hint);
        ShowConverterFigures(reading, frame);
    } else if (frame.Valid) {
        SetDashes(ThdLMDEdit, SpectrumText::NoToneFiguresHint);
        SetDashes(ThdNLMDEdit, SpectrumText::NoToneFiguresHint);
        SetDashes(SnrLMDEdit, SpectrumText::NoToneFiguresHint);
        for (TValueEdit* edit : {SinadLMDEdit, EnobLMDEdit, SfdrLMDEdit, SpurFrequencyLMDEdit,
                                 FitSinadLMDEdit, FitEnobLMDEdit}) {
            SetDashes(edit, SpectrumText::NoToneFiguresHint);
        }
        SetValue(NoiseFloorLMDEdit, Decibels(figures.Valid ? figures.NoiseFloorDbv : 0.0),
                 TValueEdit::Warning, SpectrumText::NoToneFiguresHint);
        if (!figures.Valid) {
            SetDashes(NoiseFloorLMDEdit, SpectrumText::NoToneFiguresHint);
        }
    }
    if (!frame.Valid) {
        SpectrumChart->ShowNothing(SpectrumText::NoReading.arg(shown));
        return;
    }
    const QString title =
        SpectrumText::PlotTitle.arg(shown).arg(frame.Length).arg(Fixed("0.000", frame.BinWidth));
    const QString peak = reading.ToneFound && !reading.Marks.Frequency.Dashed
                             ? SpectrumText::PeakLabel.arg(reading.Voltage, reading.Frequency)
                             : QString();
    SpectrumChart->ShowFrame(frame, title, peak);
}

void TSpectrumPage::ShowConverterFigures(const SpectrumReading& reading,
                                         const measure::SpectrumFrame& frame)
{
    // Marked like THD: out of the exact band none of them holds.
    const measure::SpectrumFigures& figures = frame.Figures;
    const measure::ValueMark mark = reading.Marks.Frequency;
    const QColor colour = mark.Marked() ? TValueEdit::Warning : TValueEdit::Lime;
    const QString& hint = MarkHint(mark.Reason);
    SetValue(SinadLMDEdit, Decibels(figures.SinadDb), colour, hint);
    SetValue(EnobLMDEdit, Unbounded(BitsFormat, figures.EnobBits), colour, hint);
    SetValue(SfdrLMDEdit, Decibels(figures.SfdrDbc), colour, hint);
    if (std::isfinite(figures.SfdrDbc)) {
        SetValue(SpurFrequencyLMDEdit,
                 Fixed(SpurFrequencyFormat, figures.SpurCentre * frame.BinWidth / 1000.0), colour,
                 hint);
    }
    if (!reading.SineFit) {
        SetDashes(FitSinadLMDEdit, SpectrumText::FitOnlyHint);
        SetDashes(FitEnobLMDEdit, SpectrumText::FitOnlyHint);
        return;
    }
    // NaN for a channel the fit did not take.
    if (!std::isnan(reading.FitSinadDb)) {
        SetValue(FitSinadLMDEdit, Decibels(reading.FitSinadDb), colour, hint);
    }
    if (!std::isnan(reading.FitEnobBits)) {
        SetValue(FitEnobLMDEdit, Unbounded(BitsFormat, reading.FitEnobBits), colour, hint);
    }
}

void TSpectrumPage::ShowUncertainties(const SpectrumReading& reading)
{
    const auto show = [](TValueEdit* edit, const QString& text) {
        if (text.isEmpty()) {
            SetDashes(edit, SpectrumText::NoUncertaintyHint);
        } else {
            SetValue(edit, QStringLiteral("± ") + text, TValueEdit::Lime);
        }
    };
    show(VoltageULMDEdit, reading.VoltageU);
    show(FrequencyULMDEdit, reading.FrequencyU);
    show(PhaseULMDEdit, reading.PhaseU);
}

SpectrumView* MakeSpectrumPage(QWidget* parent)
{
    return new TSpectrumPage(parent);
}
