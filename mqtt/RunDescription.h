#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace measure {
class MeasurementCycle;
}

namespace mqtt {

// The acquisition parameters of a run, as the retained config message holds
// them.
struct RunDescription {
    std::string CrateSerial;
    std::string CrateModel;
    int Slot = 0;
    std::string ModuleSerial;
    int Firmware = 0;
    double RateHz = 0.0;
    int Bits = 20;
    double CurrentmA = 0.0;
    std::vector<int> Channels;  // 1-based
    int Reference = 1;          // 1-based
    std::string Method;         // "fft", "sum" or "fit"
    std::string Amplitude;      // "rms" or "amp"
    double MaxTimeSeconds = 0.0;
    std::uint32_t SamplesPerChannel = 0;
};

// The run of a configured cycle (after its ADC configuration), in the crate
// and slot given.
RunDescription DescribeRun(const measure::MeasurementCycle& cycle, std::string crateSerial,
                           std::string crateModel, int slot);

// One JSON object: crate, crate_model, slot, module, firmware, rate_Hz, bits,
// current_mA, channels, reference, method, amplitude, max_time_s,
// samples_per_channel.
std::string ConfigJson(const RunDescription& run);

}  // namespace mqtt
