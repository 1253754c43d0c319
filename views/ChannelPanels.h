#pragma once

// The panel side of the window's handlers for the eight channel panels and
// the all-channels box, as plain functions over the panels so that the
// window's handlers stay thin (busy flag, stopping the worker, showing the
// message). They change controls whose change signals reach the window's
// handlers, so call them with the window's busy flag held.

#include "ChannelGroup.h"
#include "MessageIcon.h"
#include "ksn48api.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

class QCheckBox;
class QObject;
class TAdcGroupParsPanel;
class TKsn48AdcChannelFrame;

inline constexpr std::size_t ChannelCount = KSN48_CHANNEL_COUNT;

// Indexed by channel number 0 to 7; an entry may be null while the window
// is still being built.
using TChannelFrames = std::array<TKsn48AdcChannelFrame*, ChannelCount>;

struct TCommonChannelState {
    bool Agree = true;   // all channel check boxes are alike
    bool State = false;  // channel 0's check box
};

// A message box the window shows for a handler that could not do its work.
struct TViewMessage {
    QString Text;
    QString Caption;
    MessageIcon Icon = MessageIcon::None;
};

// Outcome of a channel handler: the channel it acted on, or the message to show.
struct TChannelHandlerResult {
    std::optional<std::uint16_t> Channel;
    std::optional<TViewMessage> Message;
};

// Which channels the operator has ticked, by channel number: the one reading
// of the panels' channel boxes. A missing panel (or channel number) is not
// ticked.
using TChannelTicks = std::array<bool, ChannelCount>;
bool ChannelTicked(const TChannelFrames& frames, std::size_t channel);
TChannelTicks TickedChannels(const TChannelFrames& frames);

TCommonChannelState GetCommonChannelState(const TChannelFrames& frames);

// The all-channels box's state in the settings' terms, and back.
ChannelGroup::CheckState GroupState(const QCheckBox& allChannels);
void SetGroupState(QCheckBox& allChannels, ChannelGroup::CheckState state);

// Brings the all-channels box in line with the channel boxes: ticked or
// unticked when they agree, mixed when they do not.
void ShowCommonChannelState(QCheckBox& allChannels, const TChannelFrames& frames);

// Every channel box takes the all-channels box (mixed counts as unticked)
// and its panel is shown on or off accordingly.
void ApplyAllChannelsBox(const QCheckBox& allChannels, const TChannelFrames& frames);

// After a module opens (enable = true): every panel, its inner panel and its
// check box come alive, the rest follows the check box. With false every
// panel goes grey.
void EnableParameterControls(const TChannelFrames& frames, bool enable);

void ResetChannelFrames(const TChannelFrames& frames);
void SetHoverSelect(const TChannelFrames& frames, bool on);

// The views' part of "Обнаружить": all-channels box unticked, no rate
// chosen, every panel back to "not measured".
void ClearForDetection(TAdcGroupParsPanel& group, const TChannelFrames& frames);

// A channel check box changed: shows its panel on or off and brings the
// all-channels box in line. The window stops the measurement first.
TChannelHandlerResult ChannelCheckBoxChanged(const TChannelFrames& frames, QCheckBox& allChannels,
                                             QObject* sender);

// A reference radio button was clicked: when it is checked, the buttons of
// all other panels are unchecked (they sit in different panels and do not
// exclude each other). The channel found becomes the window's reference
// channel. A running measurement goes on.
TChannelHandlerResult ReferenceRadioClicked(const TChannelFrames& frames, QObject* sender);
