#pragma once

#include <array>
#include <cstdint>

#include "ksnapi.h"

namespace device {

// Crates and KSN48 modules found by the last search. Counts and indices are
// 16-bit; texts are zero-terminated in 16 bytes. Entries beyond the counts
// are left over from earlier searches and are never read.
struct DeviceInventory {
    static constexpr int MaxCrates = KSN_MAX_CRATES;
    static constexpr int MaxSlots = KSN_SLOT_COUNT;
    static constexpr std::uint16_t NoCrate = 0xFFFF;
    using Text = std::array<char, 16>;

    // Every listed crate.
    std::uint16_t CrateCount = 0;
    std::array<Text, MaxCrates> CrateSerials{};
    std::array<std::uint8_t, MaxCrates> CrateTypes{};
    std::array<std::array<std::uint16_t, MaxSlots>, MaxCrates> CrateModuleIds{};
    // The crates with at least one KSN48 module that opened, in listing order.
    std::uint16_t ModuleCrateCount = 0;
    std::array<Text, MaxCrates> ModuleCrateSerials{};
    std::array<std::uint8_t, MaxCrates> ModuleCrateTypes{};
    std::array<std::array<std::uint16_t, MaxSlots>, MaxCrates> ModuleSlots{};
    std::array<std::array<Text, MaxSlots>, MaxCrates> ModuleSerials{};
    std::array<std::uint16_t, MaxCrates> ModuleCounts{};
    // The choice: a module crate and, per module crate, one of its modules.
    std::uint16_t SelectedCrate = NoCrate;
    std::array<std::uint16_t, MaxCrates> SelectedModule{};

    // The selected module crate, when the choice lies inside the lists.
    bool HasSelectedCrate() const noexcept
    {
        return SelectedCrate < ModuleCrateCount && SelectedCrate < MaxCrates;
    }
    // The selected module of the selected crate, when it lies inside the lists.
    bool HasSelectedModule() const noexcept
    {
        return HasSelectedCrate() && SelectedModule[SelectedCrate] < ModuleCounts[SelectedCrate] &&
               SelectedModule[SelectedCrate] < MaxSlots;
    }
};

}  // namespace device
