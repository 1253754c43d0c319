#include "RunDescription.h"

#include "FixedText.h"
#include "MeasurementCycle.h"

#include <nlohmann/json.hpp>

namespace mqtt {

namespace {

constexpr double LowCurrentmA = 2.86;
constexpr double HighCurrentmA = 10.0;

}  // namespace

RunDescription DescribeRun(const measure::MeasurementCycle& cycle, std::string crateSerial,
                           std::string crateModel, int slot)
{
    RunDescription run;
    run.CrateSerial = std::move(crateSerial);
    run.CrateModel = std::move(crateModel);
    run.Slot = slot;
    const Ksn48Handle& handle = cycle.Handle();
    run.ModuleSerial = device::FixedText(handle.ModuleSerial);
    run.Firmware = handle.FirmwareVersion;
    const measure::RunConfiguration& config = cycle.Config();
    run.RateHz = config.AdcRate;
    run.Bits = config.Settings.DataFormat == 1 ? 24 : 20;
    run.CurrentmA = config.Settings.CurrentSource == 1 ? HighCurrentmA : LowCurrentmA;
    for (std::size_t c = 0; c < measure::MeasurementChannelCount; ++c) {
        if (handle.Channel[c].ChannelEnabled != 0) {
            run.Channels.push_back(static_cast<int>(c) + 1);
        }
    }
    run.Reference = cycle.Readings().ReferenceChannel + 1;
    run.Method = config.MethodText;
    run.Amplitude = config.Amplitude == measure::AmplitudeType::Rms ? "rms" : "amp";
    run.MaxTimeSeconds = config.Settings.MaxAcquisitionTime;
    run.SamplesPerChannel = config.SamplesPerChannel;
    return run;
}

std::string ConfigJson(const RunDescription& run)
{
    const nlohmann::ordered_json config = {
        {"crate", run.CrateSerial},
        {"crate_model", run.CrateModel},
        {"slot", run.Slot},
        {"module", run.ModuleSerial},
        {"firmware", run.Firmware},
        {"rate_Hz", run.RateHz},
        {"bits", run.Bits},
        {"current_mA", run.CurrentmA},
        {"channels", run.Channels},
        {"reference", run.Reference},
        {"method", run.Method},
        {"amplitude", run.Amplitude},
        {"max_time_s", run.MaxTimeSeconds},
        {"samples_per_channel", run.SamplesPerChannel},
    };
    // Serials come from the module: a byte that is not UTF-8 must not stop the run.
    return config.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace mqtt
