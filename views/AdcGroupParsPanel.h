#pragma once

#include <QGroupBox>
#include <QString>

#include <array>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class TTriStateCheckBox;

// The group "Общие параметры": the all-channels box, the ADC rate list, the
// sensor current and data width lists, and two panels that exist for the
// settings and the results display but are never shown. The lists only hold
// the operator's choice; the window stops a running measurement on a change
// and the measurement reads them when it starts.
class TAdcGroupParsPanel : public QGroupBox {
    Q_OBJECT

public:
    explicit TAdcGroupParsPanel(QWidget* parent = nullptr);

    // Labels of the rate list by rate index, four leading blanks included,
    // as the device core's ADC rate table has them.
    static const std::array<QString, 8> AdcRateLabels;

    QFrame* ChannelCommonParsLMDSimplePanel;
    TTriStateCheckBox* AllChannelsLMDCheckBox;

    QFrame* CommonParsLMDSimplePanel;
    QLabel* AdcRateLabLMDLabel;
    QComboBox* AdcRateComboBox;
    QLabel* CurrentValueLabLMDLabel;
    QComboBox* CurrentValueLMDComboBox;
    QLabel* DataFormatLabLMDLabel;
    QComboBox* DataFormatLMDComboBox;

    // Hidden for good.
    QFrame* AcquisitionTimeLMDSimplePanel;
    QCheckBox* PhaseCorrectionFilterMultimeterLMDCheckBox;
    QLabel* AcquisitionTimeLabLMDLabel;
    QLabel* AcquisitionTimeLMDLabel;
    QFrame* ComputationInfoLMDSimplePanel;
    QLabel* ComputationModeLabLMDLabel;
    QLabel* AmplitudeTypeLabLMDLabel;
};
