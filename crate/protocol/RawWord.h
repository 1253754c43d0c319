#pragma once
// Raw data words of a KSN48 acquisition, as ksn-crated streams them and
// KSN48_ProcessData decodes them. One 32-bit word:
//
//   bit  31      format: 0 = 20-bit sample, 1 = part of a 24-bit sample
//   bit  30      24-bit only: 0 = high part, 1 = low part (high comes first)
//   bits 29..27  physical channel 0..7
//   bits 26..25  sensor status: 0 ok, 1 short circuit, 2 open circuit
//   bits 24..20  zero
//   bits 19..0   20-bit: the sample, two's complement
//                24-bit: bits 11..0 carry 12 bits of the sample (bits 19..12 zero)
//
// Full scale is +-5 V: volts = code * 5 / 2^19 (20-bit) or code * 5 / 2^23 (24-bit).
// Words follow the sample clock: for each tick, one sample of every enabled
// channel in channel order.

#include <cmath>
#include <cstdint>

namespace ksn::raw {

constexpr double kFullScaleVolts = 5.0;
constexpr uint32_t kFormatBit = 1U << 31U;
constexpr uint32_t kLowPartBit = 1U << 30U;
constexpr unsigned kChannelShift = 27;
constexpr unsigned kStatusShift = 25;
constexpr uint32_t kReservedMask20 = 0x01F00000U;
constexpr uint32_t kReservedMask24 = 0x01FFF000U;

enum SensorStatus : uint32_t { StatusOk = 0, StatusShort = 1, StatusOpen = 2 };

constexpr int32_t kMax20 = (1 << 19) - 1;
constexpr int32_t kMax24 = (1 << 23) - 1;

// Volts to the nearest code, clipped to the range.
inline int32_t ToCode(double volts, bool is24)
{
    const int32_t max = is24 ? kMax24 : kMax20;
    const double x = volts * ((static_cast<double>(max) + 1.0) / kFullScaleVolts);
    if (!(x < max)) {  // also catches NaN
        return std::isnan(x) ? 0 : max;
    }
    if (x <= -max - 1) {
        return -max - 1;
    }
    // Round half away from zero without a library call.
    return x >= 0 ? static_cast<int32_t>(x + 0.5) : -static_cast<int32_t>(-x + 0.5);
}

inline double ToVolts(int32_t code, bool is24)
{
    return static_cast<double>(code) * kFullScaleVolts / (is24 ? 8388608.0 : 524288.0);
}

inline uint32_t Tag(unsigned channel, uint32_t status)
{
    return (static_cast<uint32_t>(channel & 7U) << kChannelShift) | ((status & 3U) << kStatusShift);
}

inline uint32_t Encode20(unsigned channel, uint32_t status, int32_t code)
{
    return Tag(channel, status) | (static_cast<uint32_t>(code) & 0xFFFFFU);
}

// Writes the two words of a 24-bit sample.
inline void Encode24(unsigned channel, uint32_t status, int32_t code, uint32_t* out)
{
    const uint32_t bits = static_cast<uint32_t>(code) & 0xFFFFFFU;
    out[0] = kFormatBit | Tag(channel, status) | (bits >> 12U);
    out[1] = kFormatBit | kLowPartBit | Tag(channel, status) | (bits & 0xFFFU);
}

inline unsigned ChannelOf(uint32_t word)
{
    return (word >> kChannelShift) & 7U;
}

inline uint32_t StatusOf(uint32_t word)
{
    return (word >> kStatusShift) & 3U;
}

inline int32_t SignExtend(uint32_t bits, unsigned width)
{
    const uint32_t sign = 1U << (width - 1U);
    return static_cast<int32_t>((bits ^ sign)) - static_cast<int32_t>(sign);
}

}  // namespace ksn::raw
