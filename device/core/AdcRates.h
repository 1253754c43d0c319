#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "RawWord.h"

namespace device {

// One entry of the ADC rate list: the list index the operator picks, the rate
// code written to the module and its conversion frequency.
struct AdcRateEntry {
    int Index;
    std::uint8_t RateCode;
    double Frequency;
    std::string_view Label;  // fixed list text, not computed from Frequency
};

inline constexpr std::array<AdcRateEntry, 8> AdcRateTable = {{
    {0, 7, ksn::raw::SampleRate(7), "    610.352"},
    {1, 6, ksn::raw::SampleRate(6), "    1220.70"},
    {2, 5, ksn::raw::SampleRate(5), "    2441.41"},
    {3, 4, ksn::raw::SampleRate(4), "    4882.81"},
    {4, 3, ksn::raw::SampleRate(3), "    9765.63"},
    {5, 2, ksn::raw::SampleRate(2), "    19531.0"},
    {6, 1, ksn::raw::SampleRate(1), "    39063.0"},
    {7, 0, ksn::raw::SampleRate(0), "    78125.0"},
}};

// The entry of a list index; nullptr outside 0 .. 7.
const AdcRateEntry* FindAdcRate(int index) noexcept;

}  // namespace device
