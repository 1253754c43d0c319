// How much of a frame's own time its processing takes: one raw frame per case
// is received from a fast-mode crate server, then the measurement cycle's
// conversion and estimation of every enabled channel run on it several times
// and the best run is set against the frame's acquisition time N / Fs.
// Prints one line per case ending in realtime_ratio=<processing/acquisition>.

#include "AdcRates.h"
#include "CrateServer.h"
#include "MeasurementCycle.h"
#include "QuietCycle.h"

#include <algorithm>
#include <atomic>
#include <utility>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace {

constexpr int Repeats = 5;
constexpr double LargestTime = 1e9;  // seconds: only the frame cap limits N

struct Case {
    std::uint32_t channels;
    int rateIndex;
    double time;
    const char* label;
};

// Returns false when the frame could not be had or processed.
bool RunCase(Ksn48Handle& handle, const Case& c)
{
    ksn::test::QuietHost host("bench_measure");
    measure::MeasurementCycle cycle(host, handle, host.terminated, host.shown);
    const device::AdcRateEntry& rate = *device::FindAdcRate(c.rateIndex);
    if (!ksn::test::ConfigureModule(cycle, handle, rate.RateCode, rate.Frequency, c.channels,
                                    c.time)) {
        return false;
    }
    const double best = ksn::test::BestFrameProcessing(cycle, Repeats);
    if (best < 0.0) {
        return false;
    }
    const double acquisition = cycle.Config().SamplesPerChannel / rate.Frequency;
    std::printf("measure channels=%u rate=%.4f time=%s N=%u processing_s=%.6f acquisition_s=%.3f "
                "realtime_ratio=%.6f\n",
                c.channels, rate.Frequency, c.label, cycle.Config().SamplesPerChannel, best,
                acquisition, best / acquisition);
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
