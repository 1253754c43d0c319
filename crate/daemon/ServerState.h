#pragma once
// What every part of the crate server shares: the population, the options,
// and per KSN48 module its owner and the faults set at run time.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Population.h"

namespace ksn::sim {

struct ServerOptions {
    uint16_t port = 11111;  // 0: any free port
    bool fast = false;      // no real-time pacing
    bool control = false;   // accept control requests that change anything
    std::size_t maxClients = 256;
    uint32_t requestTimeoutMs = 10000;
};

class Session;

// Faults and ownership of one KSN48 module, guarded by ServerState::mutex.
struct ModuleState {
    Session* owner = nullptr;
    bool refuse = false;
    bool stall = false;
    int64_t limit = -1;       // words per receive at most; -1 no limit
    uint64_t generation = 0;  // bumped on every signal change
};

struct ServerState {
    ServerState(Population p, ServerOptions o)
        : population(std::move(p)), options(o), modules(population.crates.size())
    {}

    ModuleState& StateOf(std::size_t crate, std::size_t slot) { return modules[crate][slot]; }
    // The index of the crate with this serial, or crates.size().
    std::size_t FindCrate(const std::string& serial) const;

    Population population;  // signals change under mutex
    const ServerOptions options;
    std::mutex mutex;
    std::vector<std::array<ModuleState, kSlots>> modules;
    std::atomic<uint64_t> nextSeed{1};
};

}  // namespace ksn::sim
