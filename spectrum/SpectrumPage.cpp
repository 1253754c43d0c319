#include "SpectrumPage.h"

#include "MeasureTexts.h"
#include "NumberText.h"
#include "ResultsDisplay.h"
#include "SpectrumChart.h"
#include "SpectrumTexts.h"
#include "ValueEdit.h"
#include "ValueField.h"
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

#include <array>
#include <cmath>
#include <vector>

namespace {

constexpr int SidePanelWidth = 410;

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

// A row of figures: its field, title and unit; the field's object name is
// the member's.
struct FigureRow {
    TValueEdit* TSpectrumPage::*Edit;
    const char* Name;
    const QString& Title;
    const QString& Unit;
};

// The group "Результаты", top to bottom.
const std::array<FigureRow, 13>& ResultRows()
{
    using T = TSpectrumPage;
    using namespace SpectrumText;
    static const std::array<FigureRow, 13> rows{{
        {&T::VoltageLMDEdit, "VoltageLMDEdit", VoltageTitle, VoltageUnit},
        {&T::FrequencyLMDEdit, "FrequencyLMDEdit", FrequencyTitle, FrequencyUnit},
        {&T::PhaseLMDEdit, "PhaseLMDEdit", PhaseTitle, PhaseUnit},
        {&T::ThdLMDEdit, "ThdLMDEdit", ThdTitle, PercentUnit},
        {&T::ThdNLMDEdit, "ThdNLMDEdit", ThdNTitle, PercentUnit},
        {&T::SnrLMDEdit, "SnrLMDEdit", SnrTitle, DecibelUnit},
        {&T::NoiseFloorLMDEdit, "NoiseFloorLMDEdit", NoiseFloorTitle, NoiseFloorUnit},
        {&T::SinadLMDEdit, "SinadLMDEdit", SinadTitle, DecibelUnit},
        {&T::EnobLMDEdit, "EnobLMDEdit", EnobTitle, BitsUnit},
        {&T::SfdrLMDEdit, "SfdrLMDEdit", SfdrTitle, DecibelCarrierUnit},
        {&T::SpurFrequencyLMDEdit, "SpurFrequencyLMDEdit", SpurFrequencyTitle, FrequencyUnit},
        {&T::FitSinadLMDEdit, "FitSinadLMDEdit", FitSinadTitle, DecibelUnit},
        {&T::FitEnobLMDEdit, "FitEnobLMDEdit", FitEnobTitle, BitsUnit},
    }};
    return rows;
}

// The group of the readings' uncertainties.
const std::array<FigureRow, 3>& UncertaintyRows()
{
    using T = TSpectrumPage;
    using namespace SpectrumText;
    static const std::array<FigureRow, 3> rows{{
        {&T::VoltageULMDEdit, "VoltageULMDEdit", VoltageTitle, VoltageUnit},
        {&T::FrequencyULMDEdit, "FrequencyULMDEdit", FrequencyTitle, FrequencyUnit},
        {&T::PhaseULMDEdit, "PhaseULMDEdit", PhaseTitle, PhaseUnit},
    }};
    return rows;
}

// Each row: title, value, unit.
template <std::size_t N>
void AddRows(TSpectrumPage& page, QGridLayout* grid, const std::array<FigureRow, N>& rows)
{
    for (std::size_t r = 0; r < N; ++r) {
        const FigureRow& row = rows[r];
        const int line = static_cast<int>(r);
        auto* titleLabel = new QLabel(row.Title);
        auto* edit = new TValueEdit;
        edit->setObjectName(QString::fromLatin1(row.Name));
        edit->setText(ViewText::ValuePlaceholder);
        edit->setMinimumWidth(edit->sizeHint().width());
        auto* unitLabel = new QLabel(row.Unit);
        unitLabel->setMinimumWidth(unitLabel->sizeHint().width());
        grid->addWidget(titleLabel, line, 0);
        grid->addWidget(edit, line, 1);
        grid->addWidget(unitLabel, line, 2);
        page.*row.Edit = edit;
    }
}

// Every field of the page.
std::vector<TValueEdit*> ValueEdits(const TSpectrumPage& page)
{
    std::vector<TValueEdit*> edits;
    for (const FigureRow& row : ResultRows()) {
        edits.push_back(page.*row.Edit);
    }
    for (const FigureRow& row : UncertaintyRows()) {
        edits.push_back(page.*row.Edit);
    }
    return edits;
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
    AddRows(*this, new QGridLayout(ResultsLMDGroupBox), ResultRows());
    column->addWidget(ResultsLMDGroupBox);

    UncertaintyLMDGroupBox = new QGroupBox(SpectrumText::UncertaintyGroup, side);
    UncertaintyLMDGroupBox->setObjectName(QStringLiteral("UncertaintyLMDGroupBox"));
    AddRows(*this, new QGridLayout(UncertaintyLMDGroupBox), UncertaintyRows());
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
    for (TValueEdit* edit : ValueEdits(*this)) {
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
    for (TValueEdit* edit : ValueEdits(*this)) {
        ValueField::ShowDashes(*edit);
    }
}

void TSpectrumPage::ShowReading(const SpectrumReading& reading, const measure::SpectrumFrame& frame)
{
    ClearValues();
    const int shown = reading.Channel + 1;
    if (reading.Status == KSN48_STATUS_SHORT || reading.Status == KSN48_STATUS_OPEN) {
        ValueField::ShowCircuitMark(*VoltageLMDEdit, reading.Status == KSN48_STATUS_SHORT
                                                         ? MeasureText::ShortCircuitMark
                                                         : MeasureText::OpenCircuitMark);
        SpectrumChart->ShowNothing(SpectrumText::NoReading.arg(shown));
        return;
    }
    if (reading.Status != KSN48_STATUS_VALID) {
        SpectrumChart->ShowNothing(reading.Channel >= 0 ? SpectrumText::NoReading.arg(shown)
                                                        : QString());
        return;
    }
    ValueField::ShowMarked(*VoltageLMDEdit, reading.Voltage, reading.Marks.Voltage,
                           MarkHint(reading.Marks.Voltage.Reason));
    ShowUncertainties(reading);
    if (!reading.Spectral) {
        SpectrumChart->ShowNothing(SpectrumText::NoSpectrumSum);
        return;
    }
    ValueField::ShowMarked(*FrequencyLMDEdit, reading.Frequency, reading.Marks.Frequency,
                           MarkHint(reading.Marks.Frequency.Reason));
    ValueField::ShowMarked(*PhaseLMDEdit, reading.Phase, reading.Marks.Phase,
                           MarkHint(reading.Marks.Phase.Reason));

    const measure::SpectrumFigures& figures = frame.Figures;
    if (frame.Valid && figures.Valid && reading.ToneFound) {
        // Out of the exact band the figures, like the readings, are marked.
        const measure::ValueMark mark = reading.Marks.Frequency;
        const bool marked = mark.Marked();
        const QString& hint = MarkHint(mark.Reason);
        ValueField::ShowNumber(*ThdLMDEdit, Fixed(PercentFormat, figures.ThdPercent), marked, hint);
        ValueField::ShowNumber(*ThdNLMDEdit, Fixed(PercentFormat, figures.ThdNPercent), marked,
                               hint);
        ValueField::ShowNumber(*SnrLMDEdit, Decibels(figures.SnrDb), marked, hint);
        ValueField::ShowNumber(*NoiseFloorLMDEdit, Decibels(figures.NoiseFloorDbv), marked, hint);
        ShowConverterFigures(reading, frame);
    } else if (frame.Valid) {
        ValueField::ShowDashes(*ThdLMDEdit, SpectrumText::NoToneFiguresHint);
        ValueField::ShowDashes(*ThdNLMDEdit, SpectrumText::NoToneFiguresHint);
        ValueField::ShowDashes(*SnrLMDEdit, SpectrumText::NoToneFiguresHint);
        for (TValueEdit* edit : {SinadLMDEdit, EnobLMDEdit, SfdrLMDEdit, SpurFrequencyLMDEdit,
                                 FitSinadLMDEdit, FitEnobLMDEdit}) {
            ValueField::ShowDashes(*edit, SpectrumText::NoToneFiguresHint);
        }
        ValueField::ShowNumber(*NoiseFloorLMDEdit,
                               Decibels(figures.Valid ? figures.NoiseFloorDbv : 0.0), true,
                               SpectrumText::NoToneFiguresHint);
        if (!figures.Valid) {
            ValueField::ShowDashes(*NoiseFloorLMDEdit, SpectrumText::NoToneFiguresHint);
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
    const bool marked = mark.Marked();
    const QString& hint = MarkHint(mark.Reason);
    ValueField::ShowNumber(*SinadLMDEdit, Decibels(figures.SinadDb), marked, hint);
    ValueField::ShowNumber(*EnobLMDEdit, Unbounded(BitsFormat, figures.EnobBits), marked, hint);
    ValueField::ShowNumber(*SfdrLMDEdit, Decibels(figures.SfdrDbc), marked, hint);
    if (std::isfinite(figures.SfdrDbc)) {
        ValueField::ShowNumber(
            *SpurFrequencyLMDEdit,
            Fixed(SpurFrequencyFormat, figures.SpurCentre * frame.BinWidth / 1000.0), marked, hint);
    }
    if (!reading.SineFit) {
        ValueField::ShowDashes(*FitSinadLMDEdit, SpectrumText::FitOnlyHint);
        ValueField::ShowDashes(*FitEnobLMDEdit, SpectrumText::FitOnlyHint);
        return;
    }
    // NaN for a channel the fit did not take.
    if (!std::isnan(reading.FitSinadDb)) {
        ValueField::ShowNumber(*FitSinadLMDEdit, Decibels(reading.FitSinadDb), marked, hint);
    }
    if (!std::isnan(reading.FitEnobBits)) {
        ValueField::ShowNumber(*FitEnobLMDEdit, Unbounded(BitsFormat, reading.FitEnobBits), marked,
                               hint);
    }
}

void TSpectrumPage::ShowUncertainties(const SpectrumReading& reading)
{
    const auto show = [](TValueEdit* edit, const QString& text) {
        if (text.isEmpty()) {
            ValueField::ShowDashes(*edit, SpectrumText::NoUncertaintyHint);
        } else {
            ValueField::ShowNumber(*edit, QStringLiteral("± ") + text, false);
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
