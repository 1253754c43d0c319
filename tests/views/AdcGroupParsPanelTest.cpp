#include "AdcGroupParsPanel.h"

#include "TriStateCheckBox.h"
#include "ViewsTestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>

#include <string>
#include <vector>

namespace {

std::vector<QString> Items(const QComboBox& list)
{
    std::vector<QString> items;
    for (int i = 0; i < list.count(); ++i)
        items.push_back(list.itemText(i));
    return items;
}

TEST(AdcGroupPars, ListsHoldTheirFixedLabelsAndNoChoice)
{
    TAdcGroupParsPanel group;
    EXPECT_EQ(group.title(), QStringLiteral("Общие параметры"));
    EXPECT_EQ(group.objectName(), QStringLiteral("AdcGroupParsLMDGroupBox"));

    const std::vector<QString> rates{QStringLiteral("    610.352"), QStringLiteral("    1220.70"),
                                     QStringLiteral("    2441.41"), QStringLiteral("    4882.81"),
                                     QStringLiteral("    9765.63"), QStringLiteral("    19531.0"),
                                     QStringLiteral("    39063.0"), QStringLiteral("    78125.0")};
    EXPECT_EQ(Items(*group.AdcRateComboBox), rates);
    EXPECT_EQ(group.AdcRateComboBox->maxVisibleItems(), 8);
    EXPECT_EQ(Items(*group.CurrentValueLMDComboBox),
              (std::vector<QString>{QStringLiteral("  2.86 мА"), QStringLiteral(" 10.0  мА")}));
    EXPECT_EQ(Items(*group.DataFormatLMDComboBox),
              (std::vector<QString>{QStringLiteral("   20 бит"), QStringLiteral("  24 бита")}));
    for (const QComboBox* list :
         {group.AdcRateComboBox, group.CurrentValueLMDComboBox, group.DataFormatLMDComboBox})
        EXPECT_EQ(list->currentIndex(), -1) << list->objectName().toStdString();
}

// Each named control sits in its named panel and carries its text.
TEST(AdcGroupPars, ControlsByNameInTheirPanels)
{
    TAdcGroupParsPanel group;
    struct Named {
        const char* panel;
        const char* control;
        const char* text;  // nullptr: no text to check
    };
    const std::vector<Named> table{
        {"ChannelCommonParsLMDSimplePanel", "AllChannelsLMDCheckBox", "Все каналы"},
        {"CommonParsLMDSimplePanel", "AdcRateComboBox", nullptr},
        {"CommonParsLMDSimplePanel", "AdcRateLabLMDLabel", "Частота преобра- зований АЦП, Гц"},
        {"CommonParsLMDSimplePanel", "CurrentValueLMDComboBox", nullptr},
        {"CommonParsLMDSimplePanel", "CurrentValueLabLMDLabel", "Источник тока"},
        {"CommonParsLMDSimplePanel", "DataFormatLMDComboBox", nullptr},
        {"CommonParsLMDSimplePanel", "DataFormatLabLMDLabel", "Разрядность данных"},
        {"AcquisitionTimeLMDSimplePanel", "PhaseCorrectionFilterMultimeterLMDCheckBox",
         "Фильтр кор- рекции фазы"},
        {"AcquisitionTimeLMDSimplePanel", "AcquisitionTimeLabLMDLabel", "Время сбора, мс"},
        {"AcquisitionTimeLMDSimplePanel", "AcquisitionTimeLMDLabel", nullptr},
        {"ComputationInfoLMDSimplePanel", "ComputationModeLabLMDLabel", nullptr},
        {"ComputationInfoLMDSimplePanel", "AmplitudeTypeLabLMDLabel", nullptr},
    };
    for (const Named& n : table) {
        SCOPED_TRACE(n.control);
        auto* panel = group.findChild<QFrame*>(QString::fromUtf8(n.panel));
        ASSERT_NE(panel, nullptr);
        auto* control = panel->findChild<QWidget*>(QString::fromUtf8(n.control));
        ASSERT_NE(control, nullptr);
        if (n.text == nullptr)
            continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(control))
            text = label->text();
        if (auto* box = qobject_cast<QCheckBox*>(control))
            text = box->text();
        EXPECT_EQ(text, QString::fromUtf8(n.text));
    }
    EXPECT_FALSE(group.PhaseCorrectionFilterMultimeterLMDCheckBox->isChecked());
    EXPECT_EQ(group.AllChannelsLMDCheckBox->checkState(), Qt::Unchecked);
}

TEST(AdcGroupPars, HiddenPanelsStayHiddenWhenTheGroupShows)
{
    TAdcGroupParsPanel group;
    group.show();
    EXPECT_FALSE(group.AcquisitionTimeLMDSimplePanel->isVisible());
    EXPECT_FALSE(group.ComputationInfoLMDSimplePanel->isVisible());
    EXPECT_TRUE(group.ChannelCommonParsLMDSimplePanel->isVisible());
    EXPECT_TRUE(group.CommonParsLMDSimplePanel->isVisible());
}

// The operator ticks and unticks; only the program shows the mixed state.
TEST(AdcGroupPars, OperatorClicksNeverLeaveTheBoxMixed)
{
    TAdcGroupParsPanel group;
    TTriStateCheckBox& box = *group.AllChannelsLMDCheckBox;
    const std::vector<std::pair<Qt::CheckState, Qt::CheckState>> clicks{
        {Qt::PartiallyChecked, Qt::Checked},
        {Qt::Checked, Qt::Unchecked},
        {Qt::Unchecked, Qt::Checked},
    };
    for (const auto& [before, after] : clicks) {
        box.setCheckState(before);
        box.click();
        EXPECT_EQ(box.checkState(), after) << before;
    }
}

class GroupLayout : public ::testing::TestWithParam<qreal> {};

// The visible panels sit side by side, centred, nothing clipped or overlapping.
TEST_P(GroupLayout, IsClean)
{
    const qreal dpr = GetParam();
    TAdcGroupParsPanel group;
    group.AdcRateComboBox->setCurrentIndex(7);
    group.CurrentValueLMDComboBox->setCurrentIndex(1);
    group.DataFormatLMDComboBox->setCurrentIndex(1);
    group.AllChannelsLMDCheckBox->setCheckState(Qt::PartiallyChecked);
    group.resize(988, group.sizeHint().height());
    group.show();
    viewstest::ExpectLaidOutCleanly(group);

    const QRect left = group.ChannelCommonParsLMDSimplePanel->geometry();
    const QRect right = group.CommonParsLMDSimplePanel->geometry();
    EXPECT_LT(left.right(), right.left());
    EXPECT_NEAR(left.left(), group.width() - right.right(), 4);

    // Titles are whole: the rate title in its two lines, the others in one.
    for (const QLabel* title :
         {group.AdcRateLabLMDLabel, group.CurrentValueLabLMDLabel, group.DataFormatLabLMDLabel}) {
        const int lines = title == group.AdcRateLabLMDLabel ? 2 : 1;
        const int needed = title->heightForWidth(title->width());
        EXPECT_GE(title->height(), needed) << title->objectName().toStdString();
        // Line count, not pixels: fonts differ in leading by a pixel or so.
        const int spacing = title->fontMetrics().lineSpacing();
        EXPECT_EQ((needed + spacing / 2) / spacing, lines) << title->objectName().toStdString();
    }

    viewstest::KeepSnapshot(viewstest::Render(group, dpr),
                            QStringLiteral("adc-group-%1x").arg(dpr));
}

INSTANTIATE_TEST_SUITE_P(Scales, GroupLayout, ::testing::Values(1.0, 2.0));

}  // namespace
