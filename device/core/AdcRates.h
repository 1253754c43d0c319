#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace device {

// One entry of the ADC rate list: the list index the operator picks, the rate
// code written to the module and the conversion frequency 78125 / 2^code Hz.
struct AdcRateEntry {
    int Index;
    std::uint8_t RateCode;
    double Frequency;
    std::string_view Label;  // fixed list text, not computed from Frequency
};

inline constexpr std::array<AdcRateEntry, 8> AdcRateTable = {{
    {0, 7, 610.3515625, "    610.352"},
    {1, 6, 1220.703125, "    1220.70"},
    {2, 5, 2441.40625, "    2441.41"},
    {3, 4, 4882.8125, "    4882.81"},
    {4, 3, 9765.625, "    9765.63"},
    {5, 2, 19531.25, "    19531.0"},
    {6, 1, 39062.5, "    39063.0"},
    {7, 0, 78125.0, "    78125.0"},
}};

// The entry of a list index; nullptr outside 0 .. 7.
const AdcRateEntry* FindAdcRate(int index) noexcept;

}  // namespace device
