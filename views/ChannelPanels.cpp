#include "ChannelPanels.h"

#include "AdcGroupParsPanel.h"
#include "CaptionAboveCheckBox.h"
#include "CaptionAboveRadioButton.h"
#include "Ksn48AdcChannelFrame.h"
#include "TriStateCheckBox.h"
#include "ViewTexts.h"

#include <QComboBox>

namespace {

void ShowChannelOnOff(TKsn48AdcChannelFrame& frame)
{
    if (frame.ChannelNumberLMDCheckBox->isChecked())
        frame.EnableChannelControls();
    else
        frame.DisableChannelControls();
}

TChannelHandlerResult Fail(const QString& text, const QString& caption, MessageIcon icon)
{
    return {std::nullopt, TViewMessage{text, caption, icon}};
}

}  // namespace

namespace {

// The channel boxes of the panels that exist, in channel order.
std::array<bool, ChannelCount> ChannelBoxes(const TChannelFrames& frames, std::size_t& count)
{
    std::array<bool, ChannelCount> boxes{};
    count = 0;
    for (std::size_t c = 0; c < frames.size(); ++c) {
        if (frames[c] != nullptr)
            boxes[count++] = ChannelTicked(frames, c);
    }
    return boxes;
}

ChannelGroup::CheckState CommonState(const TChannelFrames& frames)
{
    std::size_t count = 0;
    const std::array<bool, ChannelCount> boxes = ChannelBoxes(frames, count);
    return ChannelGroup::CommonState(std::span<const bool>(boxes.data(), count));
}

}  // namespace

bool ChannelTicked(const TChannelFrames& frames, std::size_t channel)
{
    return channel < frames.size() && frames[channel] != nullptr &&
           frames[channel]->ChannelNumberLMDCheckBox->isChecked();
}

TChannelTicks TickedChannels(const TChannelFrames& frames)
{
    TChannelTicks ticked{};
    for (std::size_t c = 0; c < ticked.size(); ++c) {
        ticked[c] = ChannelTicked(frames, c);
    }
    return ticked;
}

TCommonChannelState GetCommonChannelState(const TChannelFrames& frames)
{
    std::size_t count = 0;
    const std::array<bool, ChannelCount> boxes = ChannelBoxes(frames, count);
    return {CommonState(frames) != ChannelGroup::CheckState::Mixed, count > 0 && boxes[0]};
}

ChannelGroup::CheckState GroupState(const QCheckBox& allChannels)
{
    switch (allChannels.checkState()) {
    case Qt::Checked:
        return ChannelGroup::CheckState::Checked;
    case Qt::PartiallyChecked:
        return ChannelGroup::CheckState::Mixed;
    case Qt::Unchecked:
        break;
    }
    return ChannelGroup::CheckState::Unchecked;
}

void SetGroupState(QCheckBox& allChannels, ChannelGroup::CheckState state)
{
    switch (state) {
    case ChannelGroup::CheckState::Checked:
        allChannels.setCheckState(Qt::Checked);
        return;
    case ChannelGroup::CheckState::Mixed:
        allChannels.setCheckState(Qt::PartiallyChecked);
        return;
    case ChannelGroup::CheckState::Unchecked:
        break;
    }
    allChannels.setCheckState(Qt::Unchecked);
}

void ShowCommonChannelState(QCheckBox& allChannels, const TChannelFrames& frames)
{
    SetGroupState(allChannels, CommonState(frames));
}

void ApplyAllChannelsBox(const QCheckBox& allChannels, const TChannelFrames& frames)
{
    const bool ticked = ChannelGroup::TicksAll(GroupState(allChannels));
    for (TKsn48AdcChannelFrame* frame : frames) {
        if (frame == nullptr)
            continue;
        frame->ChannelNumberLMDCheckBox->setChecked(ticked);
        ShowChannelOnOff(*frame);
    }
}

void EnableParameterControls(const TChannelFrames& frames, bool enable)
{
    for (TKsn48AdcChannelFrame* frame : frames) {
        if (frame == nullptr)
            continue;
        if (!enable) {
            frame->DisablePanel();
            continue;
        }
        frame->setEnabled(true);
        frame->Ksn48AdcChannelLMDSimplePanel->setEnabled(true);
        frame->ChannelNumberLMDCheckBox->setEnabled(true);
        ShowChannelOnOff(*frame);
    }
}

void ResetChannelFrames(const TChannelFrames& frames)
{
    for (TKsn48AdcChannelFrame* frame : frames)
        if (frame != nullptr)
            frame->ResetChannelFrame();
}

void SetHoverSelect(const TChannelFrames& frames, bool on)
{
    for (TKsn48AdcChannelFrame* frame : frames)
        if (frame != nullptr)
            frame->SetHoverSelect(on);
}

void ClearForDetection(TAdcGroupParsPanel& group, const TChannelFrames& frames)
{
    group.AllChannelsLMDCheckBox->setCheckState(Qt::Unchecked);
    group.AdcRateComboBox->setCurrentIndex(-1);
    ResetChannelFrames(frames);
}

TChannelHandlerResult ChannelCheckBoxChanged(const TChannelFrames& frames, QCheckBox& allChannels,
                                             QObject* sender)
{
    if (qobject_cast<QCheckBox*>(sender) == nullptr)
        return Fail(ViewText::CannotCastType, ViewText::ChannelCheckBoxCastCaption,
                    MessageIcon::Information);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        TKsn48AdcChannelFrame* frame = frames[i];
        if (frame == nullptr || frame->ChannelNumberLMDCheckBox != sender)
            continue;
        ShowChannelOnOff(*frame);
        ShowCommonChannelState(allChannels, frames);
        return {static_cast<std::uint16_t>(i), std::nullopt};
    }
    return Fail(ViewText::UnknownCheckBox, ViewText::ChannelCheckBoxUnknownCaption,
                MessageIcon::None);
}

TChannelHandlerResult ReferenceRadioClicked(const TChannelFrames& frames, QObject* sender)
{
    if (qobject_cast<QRadioButton*>(sender) == nullptr)
        return Fail(ViewText::CannotCastType, ViewText::ReferenceRadioCastCaption,
                    MessageIcon::Information);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        TKsn48AdcChannelFrame* frame = frames[i];
        if (frame == nullptr || frame->BasePhaseChannelLMDRadioButton != sender)
            continue;
        if (frame->BasePhaseChannelLMDRadioButton->isChecked()) {
            for (TKsn48AdcChannelFrame* other : frames)
                if (other != nullptr && other != frame)
                    other->BasePhaseChannelLMDRadioButton->setChecked(false);
        }
        return {static_cast<std::uint16_t>(i), std::nullopt};
    }
    return Fail(ViewText::UnknownRadioButton, ViewText::ReferenceRadioUnknownCaption,
                MessageIcon::None);
}
