#include "Ksn48AdcChannelFrame.h"
#include "CaseName.h"

#include "CaptionAboveCheckBox.h"
#include "CaptionAboveRadioButton.h"
#include "Led.h"
#include "ValueEdit.h"
#include "ViewTexts.h"
#include "ViewsTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QEnterEvent>
#include <QLabel>
#include <QPalette>

#include <memory>
#include <string>
#include <vector>

namespace {

const QColor Red(255, 0, 0);
const QColor Green(0, 128, 0);
const QColor Lime(0, 255, 0);

// A panel prepared the way the window prepares each of its eight.
std::unique_ptr<TKsn48AdcChannelFrame> MakeIdlePanel(QWidget* owner, std::uint16_t channel)
{
    auto frame = std::make_unique<TKsn48AdcChannelFrame>(owner, channel);
    frame->SetValueTitlesAndUnits();
    frame->DisablePanel();
    frame->ResetChannelFrame();
    frame->resize(frame->sizeHint());
    frame->show();
    return frame;
}

// A panel as it is once a module is open and its channel is on.
std::unique_ptr<TKsn48AdcChannelFrame> MakeLivePanel(QWidget* owner)
{
    auto frame = MakeIdlePanel(owner, 0);
    frame->Ksn48AdcChannelLMDSimplePanel->setEnabled(true);
    frame->ChannelNumberLMDCheckBox->setEnabled(true);
    frame->ChannelNumberLMDCheckBox->setChecked(true);
    frame->EnableChannelControls();
    return frame;
}

class ChannelCaption : public ::testing::TestWithParam<std::pair<int, const char*>> {};

TEST_P(ChannelCaption, NumbersChannelsFromOne)
{
    const auto& [index, caption] = GetParam();
    TKsn48AdcChannelFrame frame(nullptr, static_cast<std::uint16_t>(index));
    EXPECT_EQ(frame.ChannelNumberLMDCheckBox->text(), QString::fromUtf8(caption));
    EXPECT_EQ(frame.ChannelIndex(), index);
}

INSTANTIATE_TEST_SUITE_P(Panels, ChannelCaption,
                         ::testing::Values(std::pair{0, "Канал 1"}, std::pair{3, "Канал 4"},
                                           std::pair{7, "Канал 8"}));

TEST(ChannelFrame, StartsHiddenUncheckedWithBlankLampAndNoHover)
{
    QWidget owner;
    TKsn48AdcChannelFrame frame(&owner, 2);
    owner.show();
    EXPECT_FALSE(frame.isVisible());
    EXPECT_FALSE(frame.ChannelNumberLMDCheckBox->isChecked());
    EXPECT_TRUE(frame.BasePhaseChannelLMDRadioButton->isEnabled());
    EXPECT_FALSE(frame.BasePhaseChannelLMDRadioButton->isChecked());
    EXPECT_FALSE(frame.FlashLed->Value());
    EXPECT_EQ(frame.FlashLed->TrueColor(), frame.FlashLed->FalseColor());
    EXPECT_EQ(frame.HoverSelect(), 0);
    EXPECT_EQ(frame.Value1LMDEdit->text(), ViewText::ValueStored);
}

// The controls exist under their names, in their declared order, with
// their hints, and the panel's frame is raised.
TEST(ChannelFrame, ControlsByNameInOrder)
{
    TKsn48AdcChannelFrame frame(nullptr, 0);
    const std::vector<std::string> order{"ChannelNumberLMDCheckBox",
                                         "Value1LabUnitLMDLabel",
                                         "Value2LabUnitLMDLabel",
                                         "Value2LMDEdit",
                                         "Value1LMDEdit",
                                         "FlashLed",
                                         "Value3LMDEdit",
                                         "Value3LabUnitLMDLabel",
                                         "BasePhaseChannelLMDRadioButton",
                                         "Value1LabLMDLabel",
                                         "Value2LabLMDLabel",
                                         "Value3LabLMDLabel"};
    auto* panel = frame.findChild<QFrame*>(QStringLiteral("Ksn48AdcChannelLMDSimplePanel"));
    ASSERT_EQ(panel, frame.Ksn48AdcChannelLMDSimplePanel);
    EXPECT_EQ(panel->frameShadow(), QFrame::Raised);
    std::vector<std::string> names;
    for (const QObject* child : panel->children())
        if (child->isWidgetType())
            names.push_back(child->objectName().toStdString());
    EXPECT_EQ(names, order);

    EXPECT_EQ(frame.ChannelNumberLMDCheckBox->toolTip(),
              QStringLiteral("Управление активностью канала"));
    EXPECT_EQ(frame.BasePhaseChannelLMDRadioButton->toolTip(),
              QStringLiteral("Опорный канал для рассчёта сдвига фаз"));
    EXPECT_EQ(frame.FlashLed->toolTip(), QStringLiteral("Признак обновления канала"));
    EXPECT_EQ(frame.BasePhaseChannelLMDRadioButton->text(), QStringLiteral("Опорный канал фазы"));
}

TEST(ChannelFrame, ValueFieldsLook)
{
    TKsn48AdcChannelFrame frame(nullptr, 0);
    for (TValueEdit* edit : {frame.Value1LMDEdit, frame.Value2LMDEdit, frame.Value3LMDEdit}) {
        SCOPED_TRACE(edit->objectName().toStdString());
        EXPECT_TRUE(edit->isReadOnly());
        EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        EXPECT_EQ(edit->contextMenuPolicy(), Qt::NoContextMenu);
        EXPECT_EQ(edit->font().family(), QStringLiteral("Courier New"));
        EXPECT_EQ(edit->font().pixelSize(), 27);
        EXPECT_TRUE(edit->font().bold());
        const QPalette& look = edit->palette();
        EXPECT_EQ(look.color(QPalette::Active, QPalette::Base), QColor(Qt::black));
        EXPECT_EQ(look.color(QPalette::Active, QPalette::Text), Lime);
        EXPECT_EQ(look.color(QPalette::Disabled, QPalette::Text), Lime);
        EXPECT_EQ(look.color(QPalette::Active, QPalette::Highlight), QColor(Qt::white));
        EXPECT_EQ(look.color(QPalette::Active, QPalette::HighlightedText), Green);
    }
    EXPECT_EQ(frame.Value1LabLMDLabel->font().pixelSize(), 16);
    EXPECT_EQ(frame.Value1LabUnitLMDLabel->font().pixelSize(), 15);
    EXPECT_EQ(frame.ChannelNumberLMDCheckBox->font().pixelSize(), 17);
    EXPECT_TRUE(frame.ChannelNumberLMDCheckBox->font().bold());
}

// A red or yellow mark written by the results display goes back to lime
// placeholders without hints.
TEST(ChannelFrame, ResetRestoresPlaceholdersInLime)
{
    TKsn48AdcChannelFrame frame(nullptr, 0);
    frame.ChannelNumberLMDCheckBox->setChecked(true);
    frame.Value1LMDEdit->SetFontColor(Red);
    frame.Value1LMDEdit->setText(QStringLiteral("ОБРЫВ!!!"));
    // A yellow reading with its hint goes too.
    frame.Value3LMDEdit->SetFontColor(TValueEdit::Warning);
    frame.Value3LMDEdit->setToolTip(QStringLiteral("hint"));
    frame.SetUpdateIndicator(TIndicatorState::IndicatorFault);

    frame.ResetChannelFrame();

    EXPECT_FALSE(frame.ChannelNumberLMDCheckBox->isChecked());
    for (TValueEdit* edit : {frame.Value1LMDEdit, frame.Value2LMDEdit, frame.Value3LMDEdit}) {
        EXPECT_EQ(edit->text(), QStringLiteral("--------"));
        EXPECT_EQ(edit->FontColor(), Lime);
        EXPECT_TRUE(edit->toolTip().isEmpty());
    }
    EXPECT_FALSE(frame.FlashLed->Value());
    EXPECT_EQ(frame.FlashLed->TrueColor(), frame.FlashLed->FalseColor());
}

struct IndicatorCase {
    TIndicatorState state;
    bool value;
    bool blank;
};

void PrintTo(const IndicatorCase& c, std::ostream* os)
{
    *os << static_cast<int>(c.state);
}

class Indicator : public ::testing::TestWithParam<IndicatorCase> {};

TEST_P(Indicator, SetsColoursAndValue)
{
    const IndicatorCase& c = GetParam();
    TKsn48AdcChannelFrame frame(nullptr, 0);
    frame.SetUpdateIndicator(c.state);
    EXPECT_EQ(frame.FlashLed->Value(), c.value);
    if (c.blank) {
        const QColor background = frame.palette().color(QPalette::Window);
        EXPECT_EQ(frame.FlashLed->TrueColor(), background);
        EXPECT_EQ(frame.FlashLed->FalseColor(), background);
    } else {
        EXPECT_EQ(frame.FlashLed->TrueColor(), Red);
        EXPECT_EQ(frame.FlashLed->FalseColor(), Green);
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, Indicator,
    ::testing::Values(IndicatorCase{TIndicatorState::IndicatorOk, false, false},
                      IndicatorCase{TIndicatorState::IndicatorFault, true, false},
                      IndicatorCase{TIndicatorState::IndicatorOff, false, true}));

TEST(ChannelFrame, UnknownIndicatorStateChangesNothing)
{
    TKsn48AdcChannelFrame frame(nullptr, 0);
    frame.SetUpdateIndicator(TIndicatorState::IndicatorFault);
    frame.SetUpdateIndicator(static_cast<TIndicatorState>(7));
    EXPECT_TRUE(frame.FlashLed->Value());
    EXPECT_EQ(frame.FlashLed->TrueColor(), Red);
    EXPECT_EQ(frame.FlashLed->FalseColor(), Green);
}

// Visible states of a panel: which controls are live and what the lamp shows.
struct PanelStateCase : ksn::test::NamedCase {
    bool checked;         // the channel's check box
    const char* voltage;  // last voltage text
    bool voltageLive;
    bool othersLive;  // frequency and phase columns
    char lamp;        // 'b' blank, 'g' green, 'r' red
};

class PanelState : public ::testing::TestWithParam<PanelStateCase> {};

TEST_P(PanelState, FollowsCheckBoxAndVoltage)
{
    const PanelStateCase& c = GetParam();
    QWidget owner;
    auto frame = MakeIdlePanel(&owner, 0);
    owner.show();
    frame->Value1LMDEdit->setText(QString::fromUtf8(c.voltage));
    frame->ChannelNumberLMDCheckBox->setChecked(c.checked);
    frame->Ksn48AdcChannelLMDSimplePanel->setEnabled(true);
    frame->ChannelNumberLMDCheckBox->setEnabled(true);
    if (c.checked)
        frame->EnableChannelControls();
    else
        frame->DisableChannelControls();

    EXPECT_TRUE(frame->ChannelNumberLMDCheckBox->isEnabled());
    EXPECT_EQ(frame->BasePhaseChannelLMDRadioButton->isEnabled(), c.voltageLive);
    for (QWidget* w : std::initializer_list<QWidget*>{
             frame->Value1LMDEdit, frame->Value1LabLMDLabel, frame->Value1LabUnitLMDLabel})
        EXPECT_EQ(w->isEnabled(), c.voltageLive) << w->objectName().toStdString();
    for (QWidget* w : std::initializer_list<QWidget*>{
             frame->Value2LMDEdit, frame->Value2LabLMDLabel, frame->Value2LabUnitLMDLabel,
             frame->Value3LMDEdit, frame->Value3LabLMDLabel, frame->Value3LabUnitLMDLabel,
             frame->FlashLed})
        EXPECT_EQ(w->isEnabled(), c.othersLive) << w->objectName().toStdString();

    // What the operator sees in the middle of the lamp.
    const QColor background = viewstest::PixelAt(viewstest::Render(*frame, 1.0), QPoint(6, 6));
    const QPoint centre = frame->FlashLed->mapTo(frame.get(), frame->FlashLed->rect().center());
    const QColor seen = viewstest::PixelAt(viewstest::Render(*frame, 1.0), centre);
    switch (c.lamp) {
    case 'b':
        EXPECT_EQ(seen.rgb(), background.rgb());
        break;
    case 'g':
        EXPECT_GT(seen.green(), seen.red() + 60);
        break;
    case 'r':
        EXPECT_GT(seen.red(), seen.green() + 60);
        break;
    default:
        FAIL();
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, PanelState,
    ::testing::Values(PanelStateCase{{"off"}, false, "707.11", false, false, 'b'},
                      PanelStateCase{{"on_not_measured"}, true, "--------", true, true, 'b'},
                      PanelStateCase{{"on_emptied"}, true, "", true, true, 'b'},
                      PanelStateCase{{"on_value"}, true, "707.11", true, true, 'g'},
                      PanelStateCase{{"on_open_circuit"}, true, "ОБРЫВ!!!", true, false, 'r'}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ChannelFrame, IdlePanelIsAllGreyWithPlaceholders)
{
    QWidget owner;
    auto frame = MakeIdlePanel(&owner, 5);
    owner.show();
    for (QWidget* control : frame->Ksn48AdcChannelLMDSimplePanel->findChildren<QWidget*>())
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_FALSE(frame->ChannelNumberLMDCheckBox->isChecked());
    EXPECT_EQ(frame->Value2LMDEdit->text(), QStringLiteral("--------"));
    EXPECT_EQ(frame->Value1LabUnitLMDLabel->text(), QStringLiteral("мВ"));
}

// Pointing at a value field while the application is active highlights a
// value, never a hyphen placeholder; leaving it drops the highlight.
struct HoverCase : ksn::test::NamedCase {
    bool hoverSelect;
    const char* text;
    bool selectedOnEnter;
};

class HoverSelect : public ::testing::TestWithParam<HoverCase> {};

void PointerEnters(QWidget& widget)
{
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), widget.mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(&widget, &enter);
}

void PointerLeaves(QWidget& widget)
{
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&widget, &leave);
}

TEST_P(HoverSelect, HighlightsOnlyValues)
{
    const HoverCase& c = GetParam();
    QWidget owner;
    auto frame = MakeLivePanel(&owner);
    owner.show();
    TValueEdit& edit = *frame->Value2LMDEdit;
    edit.setText(QString::fromUtf8(c.text));
    frame->SetHoverSelect(c.hoverSelect);
    EXPECT_EQ(frame->HoverSelect(), c.hoverSelect ? 1 : 0);
    EXPECT_EQ(edit.FocusOnMouseAbove(), c.hoverSelect);

    PointerEnters(edit);
    EXPECT_EQ(owner.focusWidget() == &edit, c.hoverSelect);
    EXPECT_EQ(edit.hasSelectedText(), c.selectedOnEnter);
    if (c.selectedOnEnter) {
        EXPECT_EQ(edit.selectedText(), edit.text());
    }
    PointerLeaves(edit);
    EXPECT_FALSE(edit.hasSelectedText());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HoverSelect,
    ::testing::Values(HoverCase{{"active_value"}, true, "1.00000", true},
                      HoverCase{{"active_negative_phase"}, true, "-179.000", true},
                      HoverCase{{"active_placeholder"}, true, "--------", false},
                      HoverCase{{"inactive_value"}, false, "1.00000", false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ChannelFrame, ValueChangingUnderPointerStaysHighlighted)
{
    QWidget owner;
    auto frame = MakeLivePanel(&owner);
    owner.show();
    TValueEdit& edit = *frame->Value1LMDEdit;
    edit.setText(QStringLiteral("707.11"));
    frame->SetHoverSelect(true);
    PointerEnters(edit);

    edit.setText(QStringLiteral("707.12"));
    EXPECT_EQ(edit.selectedText(), QStringLiteral("707.12"));
    // A placeholder written under the pointer is not highlighted.
    edit.setText(QStringLiteral("--------"));
    EXPECT_FALSE(edit.hasSelectedText());

    PointerLeaves(edit);
    edit.setText(QStringLiteral("707.13"));
    EXPECT_FALSE(edit.hasSelectedText());
}

// The field has no context menu of its own, but a highlighted value still
// goes to the clipboard with the keyboard.
TEST(ChannelFrame, HighlightedValueCopiesWithTheKeyboard)
{
    QWidget owner;
    auto frame = MakeLivePanel(&owner);
    owner.show();
    TValueEdit& edit = *frame->Value3LMDEdit;
    edit.setText(QStringLiteral("-12.345"));
    frame->SetHoverSelect(true);
    PointerEnters(edit);
    QApplication::clipboard()->clear();

    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    QApplication::sendEvent(&edit, &copy);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("-12.345"));
    EXPECT_EQ(edit.text(), QStringLiteral("-12.345"));
}

TEST(ChannelFrame, HandlersIgnoreSendersThatAreNotValueFields)
{
    TKsn48AdcChannelFrame frame(nullptr, 0);
    frame.SetHoverSelect(true);
    QLabel stranger;
    frame.ValueLMDEditMouseEnter(&stranger);
    frame.ValueLMDEditChange(nullptr);
    frame.ValueLMDEditMouseExit(frame.ChannelNumberLMDCheckBox);
    EXPECT_FALSE(frame.Value1LMDEdit->hasSelectedText());
}

class FrameLayout : public ::testing::TestWithParam<qreal> {};

// Nothing clipped or overlapping, the longest texts fit their fields, and a
// picture is kept for a look by eye.
TEST_P(FrameLayout, IsClean)
{
    const qreal dpr = GetParam();
    QWidget owner;
    auto frame = MakeIdlePanel(&owner, 7);
    owner.resize(frame->size());
    owner.show();
    frame->Ksn48AdcChannelLMDSimplePanel->setEnabled(true);
    frame->ChannelNumberLMDCheckBox->setEnabled(true);
    frame->ChannelNumberLMDCheckBox->setChecked(true);
    frame->BasePhaseChannelLMDRadioButton->setChecked(true);
    frame->Value1LMDEdit->setText(QStringLiteral("-4999.99"));
    frame->Value2LMDEdit->setText(QStringLiteral("39.06250"));
    frame->Value3LMDEdit->setText(QStringLiteral("-179.000"));
    frame->EnableChannelControls();

    viewstest::ExpectLaidOutCleanly(*frame);
    // Eight strips one below the other fit the window's 988 x 554 channel area.
    EXPECT_LE(frame->width(), 988);
    EXPECT_LE(8 * frame->height() + 2, 554);
    const QFontMetrics digits = frame->Value1LMDEdit->fontMetrics();
    const QRect room = frame->Value1LMDEdit->contentsRect();
    EXPECT_LE(digits.height(), room.height());
    for (const QString& text :
         {ViewText::ValueStored, QStringLiteral("ОБРЫВ!!!"), QStringLiteral("-4999.99")})
        EXPECT_LE(digits.horizontalAdvance(text), room.width()) << text.toStdString();
    viewstest::KeepSnapshot(viewstest::Render(*frame, dpr),
                            QStringLiteral("channel-frame-%1x").arg(dpr));
}

INSTANTIATE_TEST_SUITE_P(Scales, FrameLayout, ::testing::Values(1.0, 2.0));

// Stacked strips line up column by column whatever the digit of their caption.
TEST(ChannelFrame, EightStripsLineUp)
{
    QWidget owner;
    std::vector<std::unique_ptr<TKsn48AdcChannelFrame>> frames;
    for (std::uint16_t i = 0; i < 8; ++i)
        frames.push_back(MakeIdlePanel(&owner, i));
    owner.show();
    for (const auto& frame : frames) {
        SCOPED_TRACE(frame->ChannelNumberLMDCheckBox->text().toStdString());
        EXPECT_EQ(frame->width(), frames[0]->width());
        for (const char* name : {"BasePhaseChannelLMDRadioButton", "Value1LMDEdit", "Value2LMDEdit",
                                 "Value3LMDEdit", "FlashLed"}) {
            const auto* mine = frame->findChild<QWidget*>(QLatin1String(name));
            const auto* first = frames[0]->findChild<QWidget*>(QLatin1String(name));
            ASSERT_NE(mine, nullptr);
            EXPECT_EQ(mine->geometry(), first->geometry()) << name;
        }
    }
}

}  // namespace
