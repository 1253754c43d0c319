#include "SimulatedModule.h"

#include <bit>
#include <chrono>
#include <cmath>

#include "RawWord.h"

namespace ksn::sim {

void SimulatedModule::Configure(uint8_t mask, uint8_t rateCode, bool is24)
{
    mask_ = mask;
    rateCode_ = rateCode;
    is24_ = is24;
    configured_ = true;
}

void SimulatedModule::Start(const std::array<ChannelSignal, kChannels>& channels,
                            uint64_t generation, uint64_t seed)
{
    Renew(channels, generation, seed);
    running_ = true;
    position_ = 0;
    started_ = proto::Clock::now();
}

void SimulatedModule::Reset()
{
    running_ = false;
    configured_ = false;
}

void SimulatedModule::Renew(const std::array<ChannelSignal, kChannels>& channels,
                            uint64_t generation, uint64_t seed)
{
    generator_ = Generator(channels, Rate(), seed);
    generation_ = generation;
}

double SimulatedModule::Rate() const
{
    return raw::SampleRate(rateCode_);
}

uint64_t SimulatedModule::WordsPerTick() const
{
    return static_cast<uint64_t>(std::popcount(mask_)) * (is24_ ? 2U : 1U);
}

proto::Clock::time_point SimulatedModule::ReadyAt(uint64_t words) const
{
    // Real time: a word is there once its sample tick has passed.
    const uint64_t perTick = WordsPerTick();
    const uint64_t needTicks = (position_ + words + perTick - 1) / perTick;
    return started_ + std::chrono::duration_cast<proto::Clock::duration>(
                          std::chrono::duration<double>(static_cast<double>(needTicks) / Rate()));
}

uint64_t SimulatedModule::Available(proto::Clock::time_point now) const
{
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const auto ticks = static_cast<uint64_t>(std::floor(elapsed * Rate()));
    const uint64_t sampled = ticks * WordsPerTick();
    return sampled > position_ ? sampled - position_ : 0;
}

void SimulatedModule::Deliver(uint32_t n, std::vector<uint32_t>& words)
{
    words.resize(n);
    generator_.Words(mask_, is24_, position_, n, words.data());
    position_ += n;
}

}  // namespace ksn::sim
