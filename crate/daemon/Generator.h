#pragma once
// Signal synthesis for one KSN48 module. Every sine runs on a 64-bit phase
// accumulator advanced by one shared sample clock, so any frequency and
// phase is honoured and the channels stay coherent. Sample n is a pure
// function of n (noise included), so any stretch of the stream can be
// produced again identically.

#include <array>
#include <cstdint>
#include <vector>

#include "Population.h"

namespace ksn::sim {

class Generator {
public:
    Generator() = default;
    Generator(const std::array<ChannelSignal, kChannels>& channels, double sampleRate,
              uint64_t seed);

    // Volts of channel ch (0..7) at sample index n.
    double Sample(unsigned ch, uint64_t n) const;
    uint32_t Status(unsigned ch) const { return status_[ch]; }

    // Raw words of the stream positions [first, first + count): samples of
    // the channels in mask (bit c = channel c), in channel order per tick.
    void Words(uint8_t mask, bool is24, uint64_t first, uint32_t count, uint32_t* out) const;

private:
    struct Tone {
        double amplitude;
        uint64_t increment;
        uint64_t phase0;
    };
    std::array<std::vector<Tone>, kChannels> tones_{};
    std::array<double, kChannels> dc_{};
    std::array<double, kChannels> noise_{};
    std::array<uint32_t, kChannels> status_{};
    uint64_t seed_ = 0;
};

}  // namespace ksn::sim
