#include "Ksn48AdcChannelFrame.h"

#include "CaptionAboveCheckBox.h"
#include "CaptionAboveRadioButton.h"
#include "Led.h"
#include "ValueEdit.h"
#include "ViewTexts.h"
#include "ksn48api.h"

#include <QGridLayout>
#include <QLabel>
#include <QPalette>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace {

const QColor LedRed{255, 0, 0};
const QColor LedGreen{0, 128, 0};

QFont ArialFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void MakeTextBlack(QWidget& widget)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
    widget.setPalette(palette);
}

QLabel* MakeLabel(const QString& text, int pixelSize, Qt::Alignment alignment, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(ArialFont(pixelSize, false));
    label->setAlignment(alignment);
    MakeTextBlack(*label);
    return label;
}

}  // namespace

TKsn48AdcChannelFrame::TKsn48AdcChannelFrame(QWidget* owner, std::uint16_t channelIndex)
    : QFrame(owner), channelIndex_(channelIndex)
{
    // Created in the order the controls are declared.
    Ksn48AdcChannelLMDSimplePanel = new QFrame(this);
    Ksn48AdcChannelLMDSimplePanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Ksn48AdcChannelLMDSimplePanel->setLineWidth(2);
    QWidget* panel = Ksn48AdcChannelLMDSimplePanel;

    ChannelNumberLMDCheckBox = new TCaptionAboveCheckBox(ViewText::ChannelCaptionStored, panel);
    ChannelNumberLMDCheckBox->setFont(ArialFont(17, true));
    ChannelNumberLMDCheckBox->setToolTip(ViewText::ChannelCheckBoxHint);
    MakeTextBlack(*ChannelNumberLMDCheckBox);

    const Qt::Alignment unitAlign = Qt::AlignLeft | Qt::AlignVCenter;
    Value1LabUnitLMDLabel = MakeLabel(ViewText::FrequencyUnit, 15, unitAlign, panel);
    Value2LabUnitLMDLabel = MakeLabel(ViewText::FrequencyUnit, 15, unitAlign, panel);
    Value2LMDEdit = new TValueEdit(panel);
    Value1LMDEdit = new TValueEdit(panel);
    FlashLed = new TLed(panel);
    FlashLed->setToolTip(ViewText::UpdateLedHint);
    Value3LMDEdit = new TValueEdit(panel);
    Value3LabUnitLMDLabel = MakeLabel(ViewText::PhaseUnit, 15, unitAlign, panel);

    BasePhaseChannelLMDRadioButton =
        new TCaptionAboveRadioButton(ViewText::ReferenceRadioCaption, panel);
    BasePhaseChannelLMDRadioButton->setFont(ArialFont(14, false));
    BasePhaseChannelLMDRadioButton->setToolTip(ViewText::ReferenceRadioHint);
    MakeTextBlack(*BasePhaseChannelLMDRadioButton);

    const Qt::Alignment titleAlign = Qt::AlignHCenter | Qt::AlignBottom;
    Value1LabLMDLabel = MakeLabel(ViewText::VoltageTitle, 16, titleAlign, panel);
    Value2LabLMDLabel = MakeLabel(ViewText::FrequencyTitle, 16, titleAlign, panel);
    Value3LabLMDLabel = MakeLabel(ViewText::PhaseTitle, 16, titleAlign, panel);

    setObjectName(QStringLiteral("Ksn48AdcChannel%1Frame").arg(channelIndex));
    Ksn48AdcChannelLMDSimplePanel->setObjectName(QStringLiteral("Ksn48AdcChannelLMDSimplePanel"));
    ChannelNumberLMDCheckBox->setObjectName(QStringLiteral("ChannelNumberLMDCheckBox"));
    Value1LabUnitLMDLabel->setObjectName(QStringLiteral("Value1LabUnitLMDLabel"));
    Value2LabUnitLMDLabel->setObjectName(QStringLiteral("Value2LabUnitLMDLabel"));
    Value2LMDEdit->setObjectName(QStringLiteral("Value2LMDEdit"));
    Value1LMDEdit->setObjectName(QStringLiteral("Value1LMDEdit"));
    FlashLed->setObjectName(QStringLiteral("FlashLed"));
    Value3LMDEdit->setObjectName(QStringLiteral("Value3LMDEdit"));
    Value3LabUnitLMDLabel->setObjectName(QStringLiteral("Value3LabUnitLMDLabel"));
    BasePhaseChannelLMDRadioButton->setObjectName(QStringLiteral("BasePhaseChannelLMDRadioButton"));
    Value1LabLMDLabel->setObjectName(QStringLiteral("Value1LabLMDLabel"));
    Value2LabLMDLabel->setObjectName(QStringLiteral("Value2LabLMDLabel"));
    Value3LabLMDLabel->setObjectName(QStringLiteral("Value3LabLMDLabel"));

    BuildLayout();

    for (TValueEdit* edit : {Value1LMDEdit, Value2LMDEdit, Value3LMDEdit}) {
        edit->setText(ViewText::ValueStored);
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { ValueLMDEditChange(edit); });
        connect(edit, &TValueEdit::MouseEnter, this,
                [this, edit] { ValueLMDEditMouseEnter(edit); });
        connect(edit, &TValueEdit::MouseExit, this, [this, edit] { ValueLMDEditMouseExit(edit); });
    }

    // The caption column is as wide as the widest of the eight captions, so the
    // strips line up whatever the digit widths of the font.
    int captionWidth = 0;
    for (int number = 1; number <= KSN48_CHANNEL_COUNT; ++number) {
        ChannelNumberLMDCheckBox->setText(ViewText::ChannelCaptionPrefix + QString::number(number));
        captionWidth = std::max(captionWidth, ChannelNumberLMDCheckBox->sizeHint().width());
    }
    ChannelNumberLMDCheckBox->setMinimumWidth(captionWidth);
    ChannelNumberLMDCheckBox->setText(ViewText::ChannelCaptionPrefix +
                                      QString::number(channelIndex_ + 1));
    ChannelNumberLMDCheckBox->setChecked(false);
    BasePhaseChannelLMDRadioButton->setEnabled(true);
    BasePhaseChannelLMDRadioButton->setChecked(false);
    // Blank lamp until the first result.
    SetUpdateIndicator(TIndicatorState::IndicatorOff);
    FlashLed->SetValue(false);
    hoverSelect_ = 0;

    setTabOrder(ChannelNumberLMDCheckBox, BasePhaseChannelLMDRadioButton);
    setTabOrder(BasePhaseChannelLMDRadioButton, Value1LMDEdit);
    setTabOrder(Value1LMDEdit, Value2LMDEdit);
    setTabOrder(Value2LMDEdit, Value3LMDEdit);

    hide();
}

void TKsn48AdcChannelFrame::BuildLayout()
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(Ksn48AdcChannelLMDSimplePanel);

    // check box | radio | title over value, unit beside it (x3) | lamp
    auto* grid = new QGridLayout(Ksn48AdcChannelLMDSimplePanel);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(1);

    grid->addWidget(ChannelNumberLMDCheckBox, 0, 0, 2, 1, Qt::AlignCenter);
    grid->addWidget(BasePhaseChannelLMDRadioButton, 0, 1, 2, 1, Qt::AlignCenter);
    grid->setColumnMinimumWidth(2, 4);

    const std::array<QLabel*, 3> titles{Value1LabLMDLabel, Value2LabLMDLabel, Value3LabLMDLabel};
    const std::array<TValueEdit*, 3> edits{Value1LMDEdit, Value2LMDEdit, Value3LMDEdit};
    const std::array<QLabel*, 3> units{Value1LabUnitLMDLabel, Value2LabUnitLMDLabel,
                                       Value3LabUnitLMDLabel};
    const int unitWidth =
        QFontMetrics(Value1LabUnitLMDLabel->font()).horizontalAdvance(ViewText::PhaseUnit) + 4;
    for (int k = 0; k < 3; ++k) {
        const int column = 3 + 2 * k;
        grid->addWidget(titles[static_cast<std::size_t>(k)], 0, column);
        auto* edit = edits[static_cast<std::size_t>(k)];
        edit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        grid->addWidget(edit, 1, column);
        auto* unit = units[static_cast<std::size_t>(k)];
        unit->setMinimumWidth(unitWidth);
        grid->addWidget(unit, 1, column + 1);
    }
    grid->addWidget(FlashLed, 0, 9, 2, 1, Qt::AlignCenter);
}

void TKsn48AdcChannelFrame::SetFrequencyAndPhaseEnabled(bool enabled)
{
    for (QWidget* control : std::initializer_list<QWidget*>{
             Value2LMDEdit, Value2LabLMDLabel, Value2LabUnitLMDLabel, Value3LMDEdit,
             Value3LabLMDLabel, Value3LabUnitLMDLabel, FlashLed}) {
        control->setEnabled(enabled);
    }
}

void TKsn48AdcChannelFrame::EnableChannelControls()
{
    for (QWidget* control :
         std::initializer_list<QWidget*>{BasePhaseChannelLMDRadioButton, Value1LMDEdit,
                                         Value1LabLMDLabel, Value1LabUnitLMDLabel}) {
        control->setEnabled(true);
    }
    const QString voltage = Value1LMDEdit->text();
    if (voltage.contains(ViewText::OpenCircuitMarker)) {
        SetFrequencyAndPhaseEnabled(false);
        SetUpdateIndicator(TIndicatorState::IndicatorFault);
        return;
    }
    SetFrequencyAndPhaseEnabled(true);
    const bool notMeasured = voltage.isEmpty() || voltage.contains(ViewText::NotMeasuredMarker);
    SetUpdateIndicator(notMeasured ? TIndicatorState::IndicatorOff : TIndicatorState::IndicatorOk);
}

void TKsn48AdcChannelFrame::DisableChannelControls()
{
    for (QWidget* control : std::initializer_list<QWidget*>{
             BasePhaseChannelLMDRadioButton, Value1LMDEdit, Value2LMDEdit, Value3LMDEdit,
             Value1LabLMDLabel, Value2LabLMDLabel, Value3LabLMDLabel, Value1LabUnitLMDLabel,
             Value2LabUnitLMDLabel, Value3LabUnitLMDLabel, FlashLed}) {
        control->setEnabled(false);
    }
    SetUpdateIndicator(TIndicatorState::IndicatorOff);
}

void TKsn48AdcChannelFrame::DisablePanel()
{
    Ksn48AdcChannelLMDSimplePanel->setEnabled(false);
    // Each control explicitly, so that enabling the panel again later brings
    // back only what its owner enables.
    for (QWidget* control : Ksn48AdcChannelLMDSimplePanel->findChildren<QWidget*>())
        control->setEnabled(false);
}

void TKsn48AdcChannelFrame::SetUpdateIndicator(TIndicatorState state)
{
    switch (state) {
    case TIndicatorState::IndicatorOk:
    case TIndicatorState::IndicatorFault:
        FlashLed->SetTrueColor(LedRed);
        FlashLed->SetFalseColor(LedGreen);
        FlashLed->SetValue(state == TIndicatorState::IndicatorFault);
        return;
    case TIndicatorState::IndicatorOff: {
        // The panel's own background, whatever state the lamp is in: the lamp
        // disappears into it.
        const QColor blank = FlashLed->palette().color(QPalette::Active, QPalette::Window);
        FlashLed->SetTrueColor(blank);
        FlashLed->SetFalseColor(blank);
        FlashLed->SetValue(false);
        return;
    }
    }
}

void TKsn48AdcChannelFrame::SetHoverSelect(bool on)
{
    hoverSelect_ = on ? 1 : 0;
    for (TValueEdit* edit : {Value1LMDEdit, Value2LMDEdit, Value3LMDEdit})
        edit->SetFocusOnMouseAbove(on);
}

void TKsn48AdcChannelFrame::ResetChannelFrame()
{
    ChannelNumberLMDCheckBox->setChecked(false);
    for (TValueEdit* edit : {Value1LMDEdit, Value2LMDEdit, Value3LMDEdit}) {
        edit->SetFontColor(TValueEdit::Lime);
        edit->setText(ViewText::ValuePlaceholder);
        edit->setToolTip(QString());  // a hint belongs to the value it explained
    }
    SetUpdateIndicator(TIndicatorState::IndicatorOff);
}

void TKsn48AdcChannelFrame::SetValueTitlesAndUnits()
{
    Value1LabLMDLabel->setText(ViewText::VoltageTitle);
    Value1LabUnitLMDLabel->setText(ViewText::VoltageUnit);
    Value2LabLMDLabel->setText(ViewText::FrequencyTitle);
    Value2LabUnitLMDLabel->setText(ViewText::FrequencyUnit);
    Value3LabLMDLabel->setText(ViewText::PhaseTitle);
    Value3LabUnitLMDLabel->setText(ViewText::PhaseUnit);
    for (QWidget* control : std::initializer_list<QWidget*>{
             Value1LMDEdit, Value2LMDEdit, Value3LMDEdit, Value1LabLMDLabel, Value2LabLMDLabel,
             Value3LabLMDLabel, Value1LabUnitLMDLabel, Value2LabUnitLMDLabel,
             Value3LabUnitLMDLabel}) {
        control->setEnabled(true);
    }
}

void TKsn48AdcChannelFrame::ValueLMDEditChange(QObject* sender)
{
    auto* edit = qobject_cast<TValueEdit*>(sender);
    if (edit == nullptr || hoverSelect_ != 1 || !edit->PointerAbove())
        return;
    // A value that changes under the pointer stays highlighted, but a
    // placeholder never is.
    if (edit->text().contains(ViewText::PlaceholderMarker))
        return;
    edit->selectAll();
}

void TKsn48AdcChannelFrame::ValueLMDEditMouseEnter(QObject* sender)
{
    auto* edit = qobject_cast<TValueEdit*>(sender);
    if (edit == nullptr || hoverSelect_ != 1)
        return;
    if (edit->text().contains(ViewText::PlaceholderMarker))
        return;
    edit->selectAll();
}

void TKsn48AdcChannelFrame::ValueLMDEditMouseExit(QObject* sender)
{
    auto* edit = qobject_cast<TValueEdit*>(sender);
    if (edit == nullptr || hoverSelect_ != 1)
        return;
    edit->deselect();
}
