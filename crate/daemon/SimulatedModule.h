#pragma once
// The acquisition of one KSN48 module as a session runs it: its
// configuration, its sample clock and the position of the stream.

#include <array>
#include <cstdint>
#include <vector>

#include "Generator.h"
#include "Population.h"
#include "Transport.h"

namespace ksn::sim {

class SimulatedModule {
public:
    bool Configured() const { return configured_; }
    bool Running() const { return running_; }

    void Configure(uint8_t mask, uint8_t rateCode, bool is24);
    // Starts the stream at position 0 with a new signal from channels.
    void Start(const std::array<ChannelSignal, kChannels>& channels, uint64_t generation,
               uint64_t seed);
    void Stop() { running_ = false; }
    // Closed: neither configured nor running.
    void Reset();

    // A signal changed at run time: same clock, new signal.
    bool Follows(uint64_t generation) const { return generation == generation_; }
    void Renew(const std::array<ChannelSignal, kChannels>& channels, uint64_t generation,
               uint64_t seed);

    // When the next words of the stream have all been sampled.
    proto::Clock::time_point ReadyAt(uint64_t words) const;
    // Words sampled by now and not yet delivered.
    uint64_t Available(proto::Clock::time_point now) const;
    // The next n words of the stream into words.
    void Deliver(uint32_t n, std::vector<uint32_t>& words);

private:
    double Rate() const;
    uint64_t WordsPerTick() const;

    bool configured_ = false;
    bool running_ = false;
    uint8_t mask_ = 0;
    uint8_t rateCode_ = 0;
    bool is24_ = false;
    uint64_t position_ = 0;  // words delivered since Start
    proto::Clock::time_point started_{};
    Generator generator_;
    uint64_t generation_ = 0;
};

}  // namespace ksn::sim
