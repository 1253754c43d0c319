#include "ChannelPanels.h"
#include "CaseName.h"

#include "AdcGroupParsPanel.h"
#include "CaptionAboveCheckBox.h"
#include "CaptionAboveRadioButton.h"
#include "Ksn48AdcChannelFrame.h"
#include "Led.h"
#include "TriStateCheckBox.h"
#include "ValueEdit.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include <array>
#include <memory>

namespace {

// The eight panels and the group as the window holds them, after start-up.
class Panels : public ::testing::Test {
protected:
    void SetUp() override
    {
        group = new TAdcGroupParsPanel(&window);
        for (std::size_t i = 0; i < ChannelCount; ++i) {
            auto* frame = new TKsn48AdcChannelFrame(&window, static_cast<std::uint16_t>(i));
            frame->SetValueTitlesAndUnits();
            frame->DisablePanel();
            frame->ResetChannelFrame();
            frame->show();
            frames[i] = frame;
        }
        window.show();
    }

    // The channel boxes as given, then the panels come alive as after a
    // module opened.
    void OpenWith(const std::array<bool, ChannelCount>& checked)
    {
        for (std::size_t i = 0; i < ChannelCount; ++i)
            frames[i]->ChannelNumberLMDCheckBox->setChecked(checked[i]);
        EnableParameterControls(frames, true);
        ShowCommonChannelState(*group->AllChannelsLMDCheckBox, frames);
    }

    // The operator clicks channel i's box; the window hands the change on.
    TChannelHandlerResult ToggleChannel(std::size_t i)
    {
        frames[i]->ChannelNumberLMDCheckBox->toggle();
        return ChannelCheckBoxChanged(frames, *group->AllChannelsLMDCheckBox,
                                      frames[i]->ChannelNumberLMDCheckBox);
    }

    Qt::CheckState AllChannels() const { return group->AllChannelsLMDCheckBox->checkState(); }

    QWidget window;
    TAdcGroupParsPanel* group = nullptr;
    TChannelFrames frames{};
};

struct CommonCase : ksn::test::NamedCase {
    std::array<bool, ChannelCount> checked;
    bool agree;
    bool state;
    Qt::CheckState shown;
};

class CommonState : public Panels, public ::testing::WithParamInterface<CommonCase> {};

TEST_P(CommonState, ShowsAgreementOfTheEightBoxes)
{
    const CommonCase& c = GetParam();
    OpenWith(c.checked);
    const TCommonChannelState common = GetCommonChannelState(frames);
    EXPECT_EQ(common.Agree, c.agree);
    if (c.agree) {
        EXPECT_EQ(common.State, c.state);
    }
    EXPECT_EQ(AllChannels(), c.shown);
    EXPECT_EQ(group->AllChannelsLMDCheckBox->IsTicked(), c.shown == Qt::Checked);
}

constexpr bool T = true;
constexpr bool F = false;

INSTANTIATE_TEST_SUITE_P(
    Cases, CommonState,
    ::testing::Values(
        CommonCase{{"all_on"}, {T, T, T, T, T, T, T, T}, T, T, Qt::Checked},
        CommonCase{{"all_off"}, {F, F, F, F, F, F, F, F}, T, F, Qt::Unchecked},
        CommonCase{{"first_differs"}, {F, T, T, T, T, T, T, T}, F, F, Qt::PartiallyChecked},
        CommonCase{{"last_differs"}, {T, T, T, T, T, T, T, F}, F, T, Qt::PartiallyChecked},
        CommonCase{{"six_on"}, {T, T, T, T, T, T, F, F}, F, T, Qt::PartiallyChecked}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(Panels, AllChannelsBoxFollowsSingleChannelChanges)
{
    OpenWith({T, T, T, T, T, T, F, F});
    ASSERT_EQ(AllChannels(), Qt::PartiallyChecked);

    TChannelHandlerResult result = ToggleChannel(6);
    ASSERT_TRUE(result.Channel.has_value());
    EXPECT_EQ(*result.Channel, 6);
    EXPECT_FALSE(result.Message.has_value());
    EXPECT_EQ(AllChannels(), Qt::PartiallyChecked);
    EXPECT_TRUE(frames[6]->Value1LMDEdit->isEnabled());

    ToggleChannel(7);
    EXPECT_EQ(AllChannels(), Qt::Checked);

    for (std::size_t i = 0; i < ChannelCount; ++i) {
        ToggleChannel(i);
        EXPECT_FALSE(frames[i]->Value1LMDEdit->isEnabled());
        EXPECT_FALSE(frames[i]->BasePhaseChannelLMDRadioButton->isEnabled());
        EXPECT_EQ(AllChannels(), i + 1 < ChannelCount ? Qt::PartiallyChecked : Qt::Unchecked);
    }
}

TEST_F(Panels, CheckingAnOpenCircuitChannelShowsOnlyItsVoltageAndARedLamp)
{
    OpenWith({F, F, F, F, F, F, F, F});
    frames[3]->Value1LMDEdit->setText(QStringLiteral("ОБРЫВ!!!"));
    ToggleChannel(3);
    EXPECT_TRUE(frames[3]->Value1LMDEdit->isEnabled());
    EXPECT_FALSE(frames[3]->Value2LMDEdit->isEnabled());
    EXPECT_FALSE(frames[3]->Value3LMDEdit->isEnabled());
    EXPECT_TRUE(frames[3]->FlashLed->Value());
    EXPECT_EQ(frames[3]->FlashLed->ShownColor(), QColor(255, 0, 0));
}

struct ApplyCase : ksn::test::NamedCase {
    Qt::CheckState box;
    bool channelsOn;
};

class ApplyAll : public Panels, public ::testing::WithParamInterface<ApplyCase> {};

TEST_P(ApplyAll, SetsEveryChannel)
{
    const ApplyCase& c = GetParam();
    OpenWith({T, F, T, F, T, F, T, F});
    group->AllChannelsLMDCheckBox->setCheckState(c.box);
    ApplyAllChannelsBox(*group->AllChannelsLMDCheckBox, frames);
    for (TKsn48AdcChannelFrame* frame : frames) {
        EXPECT_EQ(frame->ChannelNumberLMDCheckBox->isChecked(), c.channelsOn);
        EXPECT_TRUE(frame->ChannelNumberLMDCheckBox->isEnabled());
        EXPECT_EQ(frame->Value1LMDEdit->isEnabled(), c.channelsOn);
        EXPECT_EQ(frame->BasePhaseChannelLMDRadioButton->isEnabled(), c.channelsOn);
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, ApplyAll,
    ::testing::Values(ApplyCase{{"ticked"}, Qt::Checked, true},
                      ApplyCase{{"unticked"}, Qt::Unchecked, false},
                      ApplyCase{{"mixed_counts_as_unticked"}, Qt::PartiallyChecked, false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(Panels, OperatorClickOnMixedBoxTicksAllChannels)
{
    OpenWith({T, F, F, F, F, F, F, T});
    ASSERT_EQ(AllChannels(), Qt::PartiallyChecked);
    group->AllChannelsLMDCheckBox->click();
    ApplyAllChannelsBox(*group->AllChannelsLMDCheckBox, frames);
    EXPECT_EQ(AllChannels(), Qt::Checked);
    EXPECT_EQ(GetCommonChannelState(frames).Agree, true);
    EXPECT_EQ(GetCommonChannelState(frames).State, true);
}

TEST_F(Panels, ReferenceRadioButtonsExcludeEachOther)
{
    OpenWith({T, T, T, T, T, T, T, T});
    frames[4]->BasePhaseChannelLMDRadioButton->setChecked(true);

    frames[2]->BasePhaseChannelLMDRadioButton->click();
    const TChannelHandlerResult result =
        ReferenceRadioClicked(frames, frames[2]->BasePhaseChannelLMDRadioButton);
    ASSERT_TRUE(result.Channel.has_value());
    EXPECT_EQ(*result.Channel, 2);
    for (std::size_t i = 0; i < ChannelCount; ++i)
        EXPECT_EQ(frames[i]->BasePhaseChannelLMDRadioButton->isChecked(), i == 2) << i;

    // A second click on the reference keeps it the reference.
    frames[2]->BasePhaseChannelLMDRadioButton->click();
    EXPECT_TRUE(frames[2]->BasePhaseChannelLMDRadioButton->isChecked());
    EXPECT_EQ(*ReferenceRadioClicked(frames, frames[2]->BasePhaseChannelLMDRadioButton).Channel, 2);
}

// Senders the handlers cannot place get their message and change nothing.
TEST_F(Panels, UnplaceableSendersGetTheirMessages)
{
    OpenWith({T, F, T, F, T, F, T, F});
    frames[0]->BasePhaseChannelLMDRadioButton->setChecked(true);
    QLabel label;
    QCheckBox strayBox;
    QRadioButton strayRadio;

    struct Case {
        TChannelHandlerResult result;
        const char* text;
        const char* caption;
        MessageIcon icon;
    };
    const std::array<Case, 6> cases{{
        {ChannelCheckBoxChanged(frames, *group->AllChannelsLMDCheckBox, &label),
         "Не могу привести тип!", "Ошибка EnaChannelLMDCheckBoxChange()!!!",
         MessageIcon::Information},
        {ChannelCheckBoxChanged(frames, *group->AllChannelsLMDCheckBox, nullptr),
         "Не могу привести тип!", "Ошибка EnaChannelLMDCheckBoxChange()!!!",
         MessageIcon::Information},
        {ChannelCheckBoxChanged(frames, *group->AllChannelsLMDCheckBox, &strayBox),
         "Не могу опознать управляюшщий элемент типа TLMDCheckBox!",
         "Ошибка EnaChannelLMDCheckBoxChange()!", MessageIcon::None},
        {ReferenceRadioClicked(frames, &label), "Не могу привести тип!",
         "Ошибка BasePhaseChannelLMDRadioButtonClick()!!!", MessageIcon::Information},
        {ReferenceRadioClicked(frames, frames[1]->ChannelNumberLMDCheckBox),
         "Не могу привести тип!", "Ошибка BasePhaseChannelLMDRadioButtonClick()!!!",
         MessageIcon::Information},
        {ReferenceRadioClicked(frames, &strayRadio),
         "Не могу опознать управляюшщий элемент типа TLMDRadioButton!",
         "Ошибка BasePhaseChannelLMDRadioButtonClick()!", MessageIcon::None},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        EXPECT_FALSE(c.result.Channel.has_value());
        ASSERT_TRUE(c.result.Message.has_value());
        EXPECT_EQ(c.result.Message->Text, QString::fromUtf8(c.text));
        EXPECT_EQ(c.result.Message->Caption, QString::fromUtf8(c.caption));
        EXPECT_EQ(c.result.Message->Icon, c.icon);
    }
    EXPECT_TRUE(frames[0]->BasePhaseChannelLMDRadioButton->isChecked());
    EXPECT_EQ(AllChannels(), Qt::PartiallyChecked);
}

TEST_F(Panels, EnableParameterControlsBringsPanelsOnOrOffByTheirBoxes)
{
    for (std::size_t i = 0; i < ChannelCount; ++i)
        frames[i]->ChannelNumberLMDCheckBox->setChecked(i % 3 == 0);
    EnableParameterControls(frames, true);
    for (std::size_t i = 0; i < ChannelCount; ++i) {
        SCOPED_TRACE(i);
        const bool on = i % 3 == 0;
        EXPECT_TRUE(frames[i]->Ksn48AdcChannelLMDSimplePanel->isEnabled());
        EXPECT_TRUE(frames[i]->ChannelNumberLMDCheckBox->isEnabled());
        EXPECT_EQ(frames[i]->BasePhaseChannelLMDRadioButton->isEnabled(), on);
        EXPECT_EQ(frames[i]->Value3LMDEdit->isEnabled(), on);
        EXPECT_EQ(frames[i]->Value3LabUnitLMDLabel->isEnabled(), on);
    }
    EnableParameterControls(frames, false);
    for (TKsn48AdcChannelFrame* frame : frames)
        EXPECT_FALSE(frame->ChannelNumberLMDCheckBox->isEnabled());
}

TEST_F(Panels, ClearForDetectionResetsRateAllChannelsAndEveryPanel)
{
    OpenWith({T, T, T, T, T, T, T, T});
    group->AdcRateComboBox->setCurrentIndex(7);
    for (TKsn48AdcChannelFrame* frame : frames) {
        frame->Value1LMDEdit->SetFontColor(QColor(255, 0, 0));
        frame->Value1LMDEdit->setText(QStringLiteral("КЗ!!!"));
        frame->SetUpdateIndicator(TIndicatorState::IndicatorFault);
    }

    ClearForDetection(*group, frames);

    EXPECT_EQ(AllChannels(), Qt::Unchecked);
    EXPECT_EQ(group->AdcRateComboBox->currentIndex(), -1);
    for (TKsn48AdcChannelFrame* frame : frames) {
        EXPECT_FALSE(frame->ChannelNumberLMDCheckBox->isChecked());
        EXPECT_EQ(frame->Value1LMDEdit->text(), QStringLiteral("--------"));
        EXPECT_EQ(frame->Value1LMDEdit->FontColor(), QColor(0, 255, 0));
        EXPECT_FALSE(frame->FlashLed->Value());
        EXPECT_EQ(frame->FlashLed->TrueColor(), frame->FlashLed->FalseColor());
    }
}

TEST_F(Panels, HoverSelectReachesEveryPanel)
{
    SetHoverSelect(frames, true);
    for (TKsn48AdcChannelFrame* frame : frames)
        EXPECT_EQ(frame->HoverSelect(), 1);
    SetHoverSelect(frames, false);
    for (TKsn48AdcChannelFrame* frame : frames)
        EXPECT_EQ(frame->HoverSelect(), 0);
}

}  // namespace
