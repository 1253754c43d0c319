#pragma once

#include "SettingsView.h"

#include <span>

// The all-channels box and the eight channel boxes: the one rule each way,
// for the settings and for the views.
namespace ChannelGroup {

using CheckState = SettingsView::CheckState;

// The state the channel boxes call for: ticked or unticked when they all
// agree, else mixed.
constexpr CheckState CommonState(std::span<const bool> channels) noexcept
{
    if (channels.empty()) {
        return CheckState::Unchecked;
    }
    for (const bool channel : channels) {
        if (channel != channels.front()) {
            return CheckState::Mixed;
        }
    }
    return channels.front() ? CheckState::Checked : CheckState::Unchecked;
}

// Whether the box ticks every channel; the mixed state counts as unticked.
constexpr bool TicksAll(CheckState state) noexcept
{
    return state == CheckState::Checked;
}

}  // namespace ChannelGroup
