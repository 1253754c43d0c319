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

TChannelHandlerResult Fail(const QString& text, const QString& caption, QMessageBox::Icon icon)
{
    return {std::nullopt, TViewMessage{text, caption, icon}};
}

}  // namespace

TCommonChannelState GetCommonChannelState(const TChannelFrames& frames)
{
    TCommonChannelState common;
    bool first = true;
    for (const TKsn48AdcChannelFrame* frame : frames) {
        if (frame == nullptr)
            continue;
        const bool checked = frame->ChannelNumberLMDCheckBox->isChecked();
        if (first) {
            common.State = checked;
            first = false;
        } else if (checked != common.State) {
            common.Agree = false;
        }
    }
    return common;
}

void ShowCommonChannelState(QCheckBox& allChannels, const TChannelFrames& frames)
{
    const TCommonChannelState common = GetCommonChannelState(frames);
    if (common.Agree)
        allChannels.setCheckState(common.State ? Qt::Checked : Qt::Unchecked);
    else
        allChannels.setCheckState(Qt::PartiallyChecked);
}

void ApplyAllChannelsBox(const QCheckBox& allChannels, const TChannelFrames& frames)
{
    const bool ticked = allChannels.checkState() == Qt::Checked;
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
                    QMessageBox::Information);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        TKsn48AdcChannelFrame* frame = frames[i];
        if (frame == nullptr || frame->ChannelNumberLMDCheckBox != sender)
            continue;
        ShowChannelOnOff(*frame);
        ShowCommonChannelState(allChannels, frames);
        return {static_cast<std::uint16_t>(i), std::nullopt};
    }
    return Fail(ViewText::UnknownCheckBox, ViewText::ChannelCheckBoxUnknownCaption,
                QMessageBox::NoIcon);
}

TChannelHandlerResult ReferenceRadioClicked(const TChannelFrames& frames, QObject* sender)
{
    if (qobject_cast<QRadioButton*>(sender) == nullptr)
        return Fail(ViewText::CannotCastType, ViewText::ReferenceRadioCastCaption,
                    QMessageBox::Information);
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
                QMessageBox::NoIcon);
}
