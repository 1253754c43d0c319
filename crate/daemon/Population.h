#pragma once
// What the simulated crate server serves: crates, their slots and the
// KSN48 modules with the signal of every channel.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "RawWord.h"
#include "ksnapi.h"

namespace ksn::sim {

constexpr uint16_t kKsn48ModuleId = 0x3030;
// The counts of the C headers, under the simulator's names.
constexpr int kChannels = KSN48_CHANNEL_COUNT;
constexpr int kSlots = KSN_SLOT_COUNT;
constexpr std::size_t kMaxCrates = 16;

struct Sine {
    double amplitude = 0.0;  // volts
    double frequency = 0.0;  // hertz
    double phase = 0.0;      // degrees
};

struct ChannelSignal {
    std::vector<Sine> sines;
    double dc = 0.0;     // volts
    double noise = 0.0;  // white noise RMS, volts
    uint32_t status = KSN48_STATUS_VALID;
};

struct Ksn48Module {
    std::string serial;
    std::string name = "KSN48";
    uint16_t firmware = 0;
    std::array<ChannelSignal, kChannels> channels{};
};

struct Slot {
    uint16_t moduleId = 0;  // 0 empty, kKsn48ModuleId with ksn48 set, else another module
    std::optional<Ksn48Module> ksn48;
};

struct Crate {
    std::string serial;
    uint8_t type = 0;
    std::array<Slot, kSlots> slots{};  // slots[k] is slot k + 1
};

struct Population {
    std::vector<Crate> crates;
};

// A configuration that cannot be served; what() says where and why.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Population DefaultPopulation();

// Parses the JSON configuration (schema in crate/README.md).
Population ParsePopulation(const std::string& jsonText);

// Applies the keys present in j ("sines", "dc", "noise", "status") to a
// channel; throws ConfigError naming `where` on a bad value.
void ApplyChannelJson(const nlohmann::json& j, ChannelSignal& channel, const std::string& where);

nlohmann::json ChannelToJson(const ChannelSignal& channel);
nlohmann::json PopulationToJson(const Population& population);

const char* StatusName(uint32_t status);

}  // namespace ksn::sim
