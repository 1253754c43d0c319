#pragma once

#include <QFrame>

#include <cstdint>

class QLabel;
class TCaptionAboveCheckBox;
class TCaptionAboveRadioButton;
class TLed;
class TValueEdit;

// States of a panel's update indicator.
enum class TIndicatorState : int {
    IndicatorOk,     // green
    IndicatorFault,  // red
    IndicatorOff,    // blank, the colour of the panel
};

// Display and control strip of one ADC channel: switch it on or off, pick it
// as the phase reference, and see its last voltage, frequency and phase with
// a lamp that flashes once per new result. The panel computes nothing; the
// window and the results display write into it. Runs on the GUI thread only.
class TKsn48AdcChannelFrame : public QFrame {
    Q_OBJECT

public:
    // The panel is created hidden; its owner shows it once it is placed.
    TKsn48AdcChannelFrame(QWidget* owner, std::uint16_t channelIndex);

    std::uint16_t ChannelIndex() const { return channelIndex_; }
    std::int32_t HoverSelect() const { return hoverSelect_; }

    // The channel is on: its reference radio and voltage column come alive;
    // frequency and phase only when the voltage does not report an open circuit.
    void EnableChannelControls();
    // The channel is off: everything but the check box goes grey, lamp blank.
    void DisableChannelControls();
    // The whole strip, the check box included, goes grey.
    void DisablePanel();
    // Any value outside TIndicatorState changes nothing.
    void SetUpdateIndicator(TIndicatorState state);
    // While on, pointing at a value field focuses it and highlights its value.
    void SetHoverSelect(bool on);
    // Back to "not measured": unchecked, lime placeholders, blank lamp.
    void ResetChannelFrame();
    // The working titles and units of the three values, all enabled.
    void SetValueTitlesAndUnits();

    // Handlers of the three value fields; a sender that is not an edit field
    // is ignored.
    void ValueLMDEditChange(QObject* sender);
    void ValueLMDEditMouseEnter(QObject* sender);
    void ValueLMDEditMouseExit(QObject* sender);

    // Controls in their declaration order.
    QFrame* Ksn48AdcChannelLMDSimplePanel;
    TCaptionAboveCheckBox* ChannelNumberLMDCheckBox;
    QLabel* Value1LabUnitLMDLabel;
    QLabel* Value2LabUnitLMDLabel;
    TValueEdit* Value2LMDEdit;
    TValueEdit* Value1LMDEdit;
    TLed* FlashLed;
    TValueEdit* Value3LMDEdit;
    QLabel* Value3LabUnitLMDLabel;
    TCaptionAboveRadioButton* BasePhaseChannelLMDRadioButton;
    QLabel* Value1LabLMDLabel;
    QLabel* Value2LabLMDLabel;
    QLabel* Value3LabLMDLabel;

private:
    void BuildLayout();
    void SetFrequencyAndPhaseEnabled(bool enabled);

    std::uint16_t channelIndex_;
    std::int32_t hoverSelect_ = 0;
};
