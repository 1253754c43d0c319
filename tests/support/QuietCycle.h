#pragma once
// The measurement cycle run by hand, for tests and benchmarks that feed it
// frames of their own: a host that shows nothing, the configuration of a run
// over the first channels, and a stand-in module that hands over a frame
// made in the process.

#include "MeasurementCycle.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>
#include <vector>

namespace ksn::test {

// Steps run in place, pauses take no time, nothing is shown, and the hidden
// phase correction box stays unticked. A message marks the run's message as
// shown and, for a program that names itself, goes to stderr.
class QuietHost : public measure::MeasurementHost {
public:
    explicit QuietHost(const char* program = nullptr) : program_(program) {}

    void Synchronize(const std::function<void()>& step) override { step(); }
    void Pause(unsigned) override {}
    void ShowMeasurementStarted(measure::MeasurementSettings&) override {}
    measure::AdcChoice ReadAdcChoice() override { return {}; }
    void ReadFrameInputs(measure::FrameInputs& inputs) override { inputs.PhaseCorrection = false; }
    void ShowResults(const measure::MeasurementCycle&) override {}
    void ShowChannelLeds(const measure::MeasurementCycle&) override {}
    void ShowMeasurementStopped() override {}
    void ShowThreadMessage(std::string_view text) override
    {
        if (program_ != nullptr) {
            std::fprintf(stderr, "%s: %.*s\n", program_, static_cast<int>(text.size()),
                         text.data());
        }
        shown = true;
    }

    std::atomic<bool> terminated{false};
    std::atomic<bool> shown{false};

private:
    const char* program_;
};

// A run of method over the module's first `channels` channels at rate (Hz),
// "rms", frames of up to maxTime seconds, the reference channel 1; the
// channels are enabled in handle as well.
inline measure::RunConfiguration FirstChannels(Ksn48Handle& handle, std::uint32_t channels,
                                               double rate, std::string_view method, double maxTime)
{
    measure::RunConfiguration config;
    for (std::uint32_t k = 0; k < measure::MeasurementChannelCount; ++k) {
        handle.Channel[k].ChannelEnabled = k < channels ? 1 : 0;
        config.FramePosition[k] = k < channels ? static_cast<std::int16_t>(k) : std::int16_t{-1};
    }
    config.ActiveChannelCount = channels;
    config.AdcRate = rate;
    config.ReferenceChannel = 0;
    config.Settings.CalcMethod = std::string(method);
    config.Settings.AmplitudeType = "rms";
    config.Settings.MaxAcquisitionTime = maxTime;
    return config;
}

// A "fft" run of the module's first `channels` channels as FirstChannels
// gives it, 20-bit, the module's ADC set through its library at the rate of
// rateCode (rate Hz); false when the module refuses.
inline bool ConfigureModule(measure::MeasurementCycle& cycle, Ksn48Handle& handle,
                            std::uint8_t rateCode, double rate, std::uint32_t channels,
                            double maxTime)
{
    handle.RateCode = rateCode;
    handle.DataFormat = 0;
    cycle.Configure(FirstChannels(handle, channels, rate, "fft", maxTime), false);
    return KSN48_SetADC(&handle) == 0;
}

// One frame received and then processed `repeats` times by the configured
// cycle: the best processing time in seconds, or a negative one when the
// frame could not be had or processed.
inline double BestFrameProcessing(measure::MeasurementCycle& cycle, int repeats)
{
    if (!cycle.PrepareBuffers() || !cycle.AcquireFrame(cycle.RcvBuffer(), cycle.WordsPerFrame())) {
        return -1.0;
    }
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        if (!cycle.ProcessFrame()) {
            return -1.0;
        }
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// The frame the stand-in module hands over, interleaved as converted
// samples; every channel's status valid.
inline std::vector<double>& StandInFrame()
{
    static std::vector<double> frame;
    return frame;
}

inline measure::ModuleApi StandInModuleApi()
{
    measure::ModuleApi api;
    api.SetADC = [](Ksn48Handle*) { return 0; };
    api.ProcessData = [](Ksn48Handle*, const std::uint32_t*, double* destination,
                         std::uint32_t* size, std::uint32_t,
                         std::int32_t status[KSN48_CHANNEL_COUNT]) {
        const std::vector<double>& frame = StandInFrame();
        std::copy(frame.begin(), frame.end(), destination);
        *size = static_cast<std::uint32_t>(frame.size());
        std::fill_n(status, KSN48_CHANNEL_COUNT, KSN48_STATUS_VALID);
        return 0;
    };
    return api;
}

}  // namespace ksn::test
