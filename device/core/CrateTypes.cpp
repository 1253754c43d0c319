#include "CrateTypes.h"

#include <array>
#include <utility>

namespace device {

namespace {

constexpr std::array<std::pair<std::uint8_t, std::string_view>, 6> CrateTypeTable = {{
    {21, "KSN-P1"},
    {10, "KSN-P2"},
    {30, "KSN-P3"},
    {31, "KSN-P4"},
    {40, "KSN-P5"},
    {41, "KSN-P6"},
}};

constexpr double SlowLinkRateLimit = 800.0;
constexpr double RateLimit = 2000.0;

}  // namespace

std::string_view CrateTypeName(std::uint8_t code) noexcept
{
    for (const auto& [tableCode, name] : CrateTypeTable) {
        if (tableCode == code) {
            return name;
        }
    }
    return UnknownCrateTypeName;
}

double CrateRateLimit(std::uint8_t code) noexcept
{
    return IsSlowLinkCrate(code) ? SlowLinkRateLimit : RateLimit;
}

}  // namespace device
