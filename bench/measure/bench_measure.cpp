// How much of a frame's own time its processing takes: one raw frame per case
// is received from a fast-mode crate server, then the measurement cycle's
// conversion and estimation of every enabled channel run on it several times
// and the best run is set against the frame's acquisition time N / Fs.
// Prints one line per case ending in realtime_ratio=<processing/acquisition>.

#include "AdcRates.h"
#include "CrateServer.h"
#include "MeasurementCycle.h"

#include <algorithm>
#include <atomic>
#include <utility>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Repeats = 5;
constexpr double LargestTime = 1e9;  // seconds: only the frame cap limits N

// The cycle's steps run in place; nothing is shown.
class BenchHost : public measure::MeasurementHost {
public:
    void Synchronize(const std::function<void()>& step) override { step(); }
    void Pause(unsigned) override {}
    void ShowMeasurementStarted(measure::MeasurementSettings&) override {}
    measure::AdcChoice ReadAdcChoice() override { return {}; }
    void ShowResults(measure::MeasurementCycle&) override {}
    void ShowChannelLeds(const measure::MeasurementCycle&) override {}
    void ShowMeasurementStopped() override {}
    void ShowThreadMessage(std::string_view text) override
    {
        std::fprintf(stderr, "bench_measure: %.*s\n", static_cast<int>(text.size()), text.data());
        shown = true;
    }
    std::atomic<bool> terminated{false};
    std::atomic<bool> shown{false};
};

struct Case {
    std::uint32_t channels;
    int rateIndex;
    double time;
    const char* label;
};

// Returns false when the frame could not be had or processed.
bool RunCase(Ksn48Handle& handle, const Case& c)
{
    BenchHost host;
    measure::MeasurementCycle cycle(host, handle, host.terminated, host.shown);
    const device::AdcRateEntry& rate = *device::FindAdcRate(c.rateIndex);
    for (std::uint32_t k = 0; k < 8; ++k) {
        handle.Channel[k].ChannelEnabled = k < c.channels ? 1 : 0;
        cycle.FramePosition[k] = k < c.channels ? static_cast<std::int16_t>(k) : std::int16_t{-1};
    }
    handle.RateCode = rate.RateCode;
    handle.DataFormat = 0;
    cycle.ActiveChannelCount = c.channels;
    cycle.AdcRate = rate.Frequency;
    cycle.Settings.CalcMethod = "fft";
    cycle.Settings.AmplitudeType = "rms";
    cycle.Settings.MaxAcquisitionTime = c.time;
    cycle.PhaseCorrection = false;
    cycle.SizeFrame();
    if (KSN48_SetADC(&handle) != 0 || !cycle.PrepareBuffers() ||
        !cycle.AcquireFrame(cycle.RcvBuffer(), cycle.WordsPerFrame())) {
        return false;
    }
    double best = 1e300;
    for (int r = 0; r < Repeats; ++r) {
        const auto start = Clock::now();
        if (!cycle.ProcessFrame()) {
            return false;
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    const double acquisition = cycle.SamplesPerChannel / rate.Frequency;
    std::printf("measure channels=%u rate=%.4f time=%s N=%u processing_s=%.6f acquisition_s=%.3f "
                "realtime_ratio=%.6f\n",
                c.channels, rate.Frequency, c.label, cycle.SamplesPerChannel, best, acquisition,
                best / acquisition);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main()
{
    ksn::test::CrateServer server;  // fast mode, own port
    Ksn48Handle handle;
    KSN48_Init(&handle);
    if (KSN48_Open(&handle, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, "KSN5-0042", 3) != 0) {
        std::fprintf(stderr, "bench_measure: cannot open the module\n");
        return 1;
    }
    int failed = 0;
    for (const std::uint32_t channels : {1u, 8u}) {
        for (int rate = 0; rate < 8; ++rate) {
            for (const auto& [time, label] : {std::pair{0.75, "0.75"}, std::pair{10.0, "10"}}) {
                failed += RunCase(handle, {channels, rate, time, label}) ? 0 : 1;
            }
        }
        failed += RunCase(handle, {channels, 7, LargestTime, "largest"}) ? 0 : 1;
    }
    KSN48_Close(&handle);
    return failed == 0 ? 0 : 1;
}
