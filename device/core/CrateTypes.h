#pragma once

#include <cstdint>
#include <string_view>

namespace device {

// Model name of a crate by the type code it reports; "UNKNOWN" for any code
// not in the table.
std::string_view CrateTypeName(std::uint8_t code) noexcept;

// The most data a crate of this type carries, in Кбайт/с (1 Кбайт = 1000 bytes).
double CrateRateLimit(std::uint8_t code) noexcept;

// Only the first model's link is slower: its limit is lower, and the window
// says so in the crate's status hint and keeps that hint up longer.
inline constexpr std::uint8_t SlowLinkCrateCode = 21;

constexpr bool IsSlowLinkCrate(std::uint8_t code) noexcept
{
    return code == SlowLinkCrateCode;
}

inline constexpr std::string_view UnknownCrateTypeName = "UNKNOWN";

}  // namespace device
