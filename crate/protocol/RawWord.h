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
// channel in channel order. The status values are KSN48_STATUS_VALID, _SHORT
// and _OPEN of ksn48api.h.
//
// The simulator encodes words with Encode20 / Encode24; KSN48_ProcessData
// decodes them with DecodeFrame.

#include <cmath>
#include <cstdint>

#include "ksn48api.h"

namespace ksn::raw {

constexpr double kFullScaleVolts = 5.0;
constexpr uint32_t kFormatBit = 1U << 31U;
constexpr uint32_t kLowPartBit = 1U << 30U;
constexpr unsigned kChannelShift = 27;
constexpr unsigned kStatusShift = 25;
constexpr uint32_t kReservedMask20 = 0x01F00000U;
constexpr uint32_t kReservedMask24 = 0x01FFF000U;

static_assert(KSN48_STATUS_VALID == 0 && KSN48_STATUS_SHORT == 1 && KSN48_STATUS_OPEN == 2,
              "the status field carries the channel status values as they are");

constexpr int32_t kMax20 = (1 << 19) - 1;
constexpr int32_t kMax24 = (1 << 23) - 1;

// The sample clock: rate code c (0 .. kMaxRateCode) converts 78125 / 2^c
// times a second on every enabled channel.
constexpr double kBaseSampleRate = 78125.0;
constexpr uint8_t kMaxRateCode = 7;

constexpr double SampleRate(uint8_t rateCode)
{
    return kBaseSampleRate / static_cast<double>(1U << rateCode);
}

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

// Checks a frame of raw words against the configuration they must follow and
// converts it into volts. mask: the enabled channels (bit c = channel c, not
// 0); is24: two words per sample. samples: the samples to convert (words:
// samples, or 2 x samples for 24-bit data), from the start of an
// acquisition. Every word must carry the tag its position calls for (format
// bit, part, channel, zero reserved bits, a status value); otherwise the
// result is false, and the volts written are not to be used. On success
// status receives one value per enabled channel, in channel order: 0, or
// the status of the channel's last word that reported a fault.
inline bool DecodeFrame(const uint32_t* words, uint32_t samples, uint8_t mask, bool is24,
                        double* volts, int32_t* status)
{
    unsigned enabled[KSN48_CHANNEL_COUNT];
    unsigned n = 0;
    for (unsigned c = 0; c < KSN48_CHANNEL_COUNT; ++c) {
        if (mask & (1U << c)) {
            enabled[n++] = c;
        }
    }
    if (n == 0 || samples == 0) {
        return false;
    }
    const uint32_t out = samples;
    // Every word is checked against the tag its position calls for: one mask
    // and compare per word covers format, part, channel and reserved bits. The
    // checks are gathered over a whole block and the verdict is taken at the
    // end, which keeps the loop free of branches.
    constexpr uint32_t kChannelMask = 7U << kChannelShift;
    constexpr uint32_t kStatusMask = 3U << kStatusShift;
    constexpr uint32_t kCheck20 = kFormatBit | kLowPartBit | kChannelMask | kReservedMask20;
    constexpr uint32_t kCheck24 = kFormatBit | kLowPartBit | kChannelMask | kReservedMask24;
    // Both status bits set is no status.
    constexpr uint32_t kStatusBoth = 1U << (kStatusShift + 1U);
    const double scale = ToVolts(1, is24);  // a power of two times 5: exact products
    // The tag pattern repeats every n samples; a block of several periods
    // gives the inner loop enough length to run in vector registers.
    constexpr unsigned kMaxBlock = 8U * KSN48_CHANNEL_COUNT;
    const unsigned block = 8U * n;
    uint32_t tag[kMaxBlock];
    uint32_t anyStatus[kMaxBlock] = {};
    for (unsigned j = 0; j < block; ++j) {
        tag[j] = enabled[j % n] << kChannelShift;
    }
    uint32_t bad = 0;
    const uint32_t whole = out - out % block;
    if (!is24) {
        for (uint32_t base = 0; base < out; base += block) {
            const unsigned len = base < whole ? block : out - base;
            const uint32_t* w = words + base;
            double* x = volts + base;
            for (unsigned j = 0; j < len; ++j) {
                const uint32_t v = w[j];
                bad |= (v & kCheck20) ^ tag[j];
                bad |= v & (v << 1U) & kStatusBoth;
                anyStatus[j] |= v & kStatusMask;
                x[j] = static_cast<double>(SignExtend(v & 0xFFFFFU, 20)) * scale;
            }
        }
    } else {
        constexpr uint32_t kHigh = kFormatBit;
        constexpr uint32_t kLow = kFormatBit | kLowPartBit;
        for (uint32_t base = 0; base < out; base += block) {
            const unsigned len = base < whole ? block : out - base;
            const uint32_t* w = words + 2U * base;
            double* x = volts + base;
            for (unsigned j = 0; j < len; ++j) {
                const uint32_t hi = w[2U * j];
                const uint32_t lo = w[2U * j + 1U];
                bad |= (hi & kCheck24) ^ (tag[j] | kHigh);
                bad |= (lo & kCheck24) ^ (tag[j] | kLow);
                bad |= (hi ^ lo) & kStatusMask;  // both parts carry one status
                bad |= hi & (hi << 1U) & kStatusBoth;
                anyStatus[j] |= hi & kStatusMask;
                const uint32_t bits = ((hi & 0xFFFU) << 12U) | (lo & 0xFFFU);
                x[j] = static_cast<double>(SignExtend(bits, 24)) * scale;
            }
        }
    }
    if (bad != 0) {
        return false;
    }
    // A fault anywhere in the frame marks the channel's frame; the last
    // fault seen tells which. Only channels with a fault are searched.
    uint32_t faulty[KSN48_CHANNEL_COUNT] = {};
    for (unsigned j = 0; j < block; ++j) {
        faulty[j % n] |= anyStatus[j];
    }
    const uint32_t stride = is24 ? 2U : 1U;
    for (unsigned k = 0; k < n; ++k) {
        status[k] = KSN48_STATUS_VALID;
        if (faulty[k] == 0) {
            continue;
        }
        // The channel's last sample: in the last tick, or in the one before
        // when the last tick is cut short (faulty means it has one at all).
        uint32_t i = (out - 1U) / n * n + k;
        if (i >= out) {
            i -= n;
        }
        for (;;) {
            const uint32_t st = StatusOf(words[stride * i]);
            if (st != KSN48_STATUS_VALID) {
                status[k] = static_cast<int32_t>(st);
                break;
            }
            if (i < n) {
                break;
            }
            i -= n;
        }
    }
    return true;
}

}  // namespace ksn::raw
