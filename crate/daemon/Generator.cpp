#include "Generator.h"

#include <cmath>
#include <numbers>

namespace ksn::sim {

namespace {

constexpr unsigned kTableBits = 14;
constexpr std::size_t kTableSize = std::size_t{1} << kTableBits;

// One period of sin with one extra point for interpolation; linear
// interpolation between 2^14 points errs by < 2e-8 of the amplitude, well
// under a 24-bit step.
const std::array<double, kTableSize + 1>& SineTable()
{
    static const auto table = [] {
        std::array<double, kTableSize + 1> t{};
        for (std::size_t i = 0; i <= kTableSize; ++i) {
            t[i] = std::sin(2.0 * std::numbers::pi * static_cast<double>(i) / kTableSize);
        }
        return t;
    }();
    return table;
}

double SinOfPhase(uint64_t phase)
{
    const auto& t = SineTable();
    const auto index = static_cast<std::size_t>(phase >> (64U - kTableBits));
    const double frac = static_cast<double>(phase << kTableBits >> 11U) * 0x1.0p-53;
    return t[index] + (t[index + 1] - t[index]) * frac;
}

// Fraction of a turn as a 64-bit phase.
uint64_t TurnToPhase(long double turns)
{
    const long double scaled = std::ldexp(turns - std::floor(turns), 64);
    // A fraction just below 1 can round up to a whole turn, which is phase 0.
    return scaled >= std::ldexp(1.0L, 64) ? 0 : static_cast<uint64_t>(scaled);
}

uint64_t SplitMix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27U)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31U);
}

}  // namespace

Generator::Generator(const std::array<ChannelSignal, kChannels>& channels, double sampleRate,
                     uint64_t seed)
    : seed_(seed)
{
    for (std::size_t c = 0; c < kChannels; ++c) {
        const ChannelSignal& ch = channels[c];
        for (const Sine& s : ch.sines) {
            const long double perSample = static_cast<long double>(s.frequency) / sampleRate;
            tones_[c].push_back({s.amplitude, TurnToPhase(perSample),
                                 TurnToPhase(static_cast<long double>(s.phase) / 360.0L)});
        }
        dc_[c] = ch.dc;
        noise_[c] = ch.noise;
        status_[c] = ch.status;
    }
}

double Generator::Sample(unsigned ch, uint64_t n) const
{
    double v = dc_[ch];
    for (const Tone& t : tones_[ch]) {
        v += t.amplitude * SinOfPhase(t.phase0 + t.increment * n);
    }
    if (noise_[ch] > 0.0) {
        // Counter-based Gaussian noise (Box-Muller on two hashed uniforms).
        const uint64_t key = seed_ ^ (n * kChannels + ch);
        const double u1 = (static_cast<double>(SplitMix(key) >> 11U) + 1.0) * 0x1.0p-53;
        const double u2 = static_cast<double>(SplitMix(~key) >> 11U) * 0x1.0p-53;
        v += noise_[ch] * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
    }
    return v;
}

void Generator::Words(uint8_t mask, bool is24, uint64_t first, uint32_t count, uint32_t* out) const
{
    unsigned enabled[kChannels];
    unsigned n = 0;
    for (unsigned c = 0; c < kChannels; ++c) {
        if (mask & (1U << c)) {
            enabled[n++] = c;
        }
    }
    if (n == 0) {
        return;
    }
    const unsigned perSample = is24 ? 2U : 1U;
    const uint64_t perTick = uint64_t{n} * perSample;
    uint64_t tick = first / perTick;
    const auto within = static_cast<unsigned>(first % perTick);
    unsigned slot = within / perSample;
    unsigned skip = within % perSample;  // the stream may start inside a 24-bit pair
    uint32_t left = count;
    uint32_t pair[2];
    while (left > 0) {
        for (; slot < n && left > 0; ++slot) {
            const unsigned ch = enabled[slot];
            const uint32_t st = status_[ch];
            int32_t code = 0;
            if (st == KSN48_STATUS_OPEN) {
                code = is24 ? raw::kMax24 : raw::kMax20;  // an open input sits at the rail
            } else if (st == KSN48_STATUS_VALID) {
                code = raw::ToCode(Sample(ch, tick), is24);
            }
            if (!is24) {
                *out++ = raw::Encode20(ch, st, code);
                --left;
                continue;
            }
            raw::Encode24(ch, st, code, pair);
            for (unsigned part = skip; part < 2 && left > 0; ++part) {
                *out++ = pair[part];
                --left;
            }
            skip = 0;
        }
        slot = 0;
        ++tick;
    }
}

}  // namespace ksn::sim
