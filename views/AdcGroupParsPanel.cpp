#include "AdcGroupParsPanel.h"

#include "AdcRates.h"
#include "TriStateCheckBox.h"
#include "ViewTexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace {

QFont ArialFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// The list labels line their digits up with leading blanks, which needs
// fixed-width digits.
QFont ListFont()
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

QFrame* MakePanel(const QString& name, QWidget* parent)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

QLabel* MakeTitle(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(ArialFont(15, false));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    label->setWordWrap(true);
    return label;
}

// A title breaks only where its text carries a hyphen and a blank
// ("преобра- зований"); otherwise it keeps to one line.
int TitleWidth(const QLabel& title)
{
    const QFontMetrics metrics(title.font());
    int width = 0;
    for (const QString& part : title.text().split(QStringLiteral("- ")))
        width = std::max(width, metrics.horizontalAdvance(part + QLatin1Char('-')));
    return width + 2;
}

template <std::size_t N>
QComboBox* MakeList(const QString& name, const std::array<QString, N>& labels, QWidget* parent)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    list->setFont(ListFont());
    for (const QString& label : labels)
        list->addItem(label);
    list->setMaxVisibleItems(static_cast<int>(N));
    list->setCurrentIndex(-1);  // nothing chosen until the settings are read
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return list;
}

}  // namespace

const std::array<QString, 8> TAdcGroupParsPanel::AdcRateLabels = [] {
    std::array<QString, 8> labels;
    static_assert(labels.size() == device::AdcRateTable.size());
    for (const device::AdcRateEntry& entry : device::AdcRateTable)
        labels.at(static_cast<std::size_t>(entry.Index)) =
            QString::fromUtf8(entry.Label.data(), static_cast<qsizetype>(entry.Label.size()));
    return labels;
}();

TAdcGroupParsPanel::TAdcGroupParsPanel(QWidget* parent) : QGroupBox(ViewText::AdcGroupTitle, parent)
{
    setObjectName(QStringLiteral("AdcGroupParsLMDGroupBox"));
    setFont(ArialFont(15, true));

    ChannelCommonParsLMDSimplePanel =
        MakePanel(QStringLiteral("ChannelCommonParsLMDSimplePanel"), this);
    AllChannelsLMDCheckBox =
        new TTriStateCheckBox(ViewText::AllChannelsCaption, ChannelCommonParsLMDSimplePanel);
    AllChannelsLMDCheckBox->setObjectName(QStringLiteral("AllChannelsLMDCheckBox"));
    AllChannelsLMDCheckBox->setFont(ArialFont(16, true));
    AllChannelsLMDCheckBox->setCheckState(Qt::Unchecked);
    auto* channelLayout = new QVBoxLayout(ChannelCommonParsLMDSimplePanel);
    channelLayout->setContentsMargins(10, 6, 10, 6);
    channelLayout->addWidget(AllChannelsLMDCheckBox, 0, Qt::AlignCenter);

    CommonParsLMDSimplePanel = MakePanel(QStringLiteral("CommonParsLMDSimplePanel"), this);
    QWidget* common = CommonParsLMDSimplePanel;
    AdcRateLabLMDLabel =
        MakeTitle(QStringLiteral("AdcRateLabLMDLabel"), ViewText::AdcRateTitle, common);
    AdcRateComboBox = MakeList(QStringLiteral("AdcRateComboBox"), AdcRateLabels, common);
    CurrentValueLabLMDLabel =
        MakeTitle(QStringLiteral("CurrentValueLabLMDLabel"), ViewText::CurrentSourceTitle, common);
    CurrentValueLMDComboBox =
        MakeList(QStringLiteral("CurrentValueLMDComboBox"), ViewText::CurrentSourceLabels, common);
    DataFormatLabLMDLabel =
        MakeTitle(QStringLiteral("DataFormatLabLMDLabel"), ViewText::DataFormatTitle, common);
    DataFormatLMDComboBox =
        MakeList(QStringLiteral("DataFormatLMDComboBox"), ViewText::DataFormatLabels, common);
    auto* commonLayout = new QGridLayout(common);
    commonLayout->setContentsMargins(10, 4, 10, 6);
    commonLayout->setHorizontalSpacing(16);
    commonLayout->setVerticalSpacing(3);
    const std::array<QLabel*, 3> titles{AdcRateLabLMDLabel, CurrentValueLabLMDLabel,
                                        DataFormatLabLMDLabel};
    const std::array<QComboBox*, 3> lists{AdcRateComboBox, CurrentValueLMDComboBox,
                                          DataFormatLMDComboBox};
    for (std::size_t k = 0; k < titles.size(); ++k) {
        titles[k]->setFixedWidth(std::max(lists[k]->sizeHint().width(), TitleWidth(*titles[k])));
        commonLayout->addWidget(titles[k], 0, static_cast<int>(k));
        commonLayout->addWidget(lists[k], 1, static_cast<int>(k));
    }

    AcquisitionTimeLMDSimplePanel =
        MakePanel(QStringLiteral("AcquisitionTimeLMDSimplePanel"), this);
    PhaseCorrectionFilterMultimeterLMDCheckBox =
        new QCheckBox(ViewText::PhaseCorrectionCaption, AcquisitionTimeLMDSimplePanel);
    PhaseCorrectionFilterMultimeterLMDCheckBox->setObjectName(
        QStringLiteral("PhaseCorrectionFilterMultimeterLMDCheckBox"));
    PhaseCorrectionFilterMultimeterLMDCheckBox->setChecked(false);
    AcquisitionTimeLabLMDLabel =
        MakeTitle(QStringLiteral("AcquisitionTimeLabLMDLabel"), ViewText::AcquisitionTimeTitle,
                  AcquisitionTimeLMDSimplePanel);
    AcquisitionTimeLMDLabel = new QLabel(AcquisitionTimeLMDSimplePanel);
    AcquisitionTimeLMDLabel->setObjectName(QStringLiteral("AcquisitionTimeLMDLabel"));
    auto* timeLayout = new QVBoxLayout(AcquisitionTimeLMDSimplePanel);
    timeLayout->addWidget(PhaseCorrectionFilterMultimeterLMDCheckBox);
    timeLayout->addWidget(AcquisitionTimeLabLMDLabel);
    timeLayout->addWidget(AcquisitionTimeLMDLabel);

    ComputationInfoLMDSimplePanel =
        MakePanel(QStringLiteral("ComputationInfoLMDSimplePanel"), this);
    ComputationModeLabLMDLabel = new QLabel(ComputationInfoLMDSimplePanel);
    ComputationModeLabLMDLabel->setObjectName(QStringLiteral("ComputationModeLabLMDLabel"));
    AmplitudeTypeLabLMDLabel = new QLabel(ComputationInfoLMDSimplePanel);
    AmplitudeTypeLabLMDLabel->setObjectName(QStringLiteral("AmplitudeTypeLabLMDLabel"));
    auto* infoLayout = new QVBoxLayout(ComputationInfoLMDSimplePanel);
    infoLayout->addWidget(ComputationModeLabLMDLabel);
    infoLayout->addWidget(AmplitudeTypeLabLMDLabel);

    // The visible panels stay centred: the hidden ones take no room.
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 8, 6);
    row->setSpacing(10);
    row->addStretch(1);
    row->addWidget(ChannelCommonParsLMDSimplePanel);
    row->addWidget(CommonParsLMDSimplePanel);
    row->addWidget(AcquisitionTimeLMDSimplePanel);
    row->addWidget(ComputationInfoLMDSimplePanel);
    row->addStretch(1);

    AcquisitionTimeLMDSimplePanel->hide();
    ComputationInfoLMDSimplePanel->hide();
}
