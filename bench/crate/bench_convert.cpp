// The module library's conversion of raw words into volts on one second of
// the fastest rate, per channel count and data format; words are checked as
// in a real frame (all valid). Reports words per second.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "CrateServer.h"
#include "RawWord.h"
#include "ksn48api.h"

namespace {

constexpr uint32_t kTicks = 78125;  // one second at the fastest rate

// One module for the whole run: the conversion follows its applied configuration.
Ksn48Handle& Module()
{
    static std::unique_ptr<ksn::test::CrateServer> server;
    static Ksn48Handle handle;
    if (!server) {
        server = std::make_unique<ksn::test::CrateServer>();
        KSN48_Init(&handle);
        if (KSN48_Open(&handle, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, "KSN5-0042", 3) !=
            KSN_OK) {
            std::fprintf(stderr, "bench_convert: cannot open the module\n");
            std::exit(1);
        }
    }
    return handle;
}

void Convert(benchmark::State& state)
{
    const auto channels = static_cast<uint32_t>(state.range(0));
    const bool is24 = state.range(1) != 0;
    Ksn48Handle& h = Module();
    for (uint32_t c = 0; c < 8; ++c) {
        h.Channel[c].ChannelEnabled = c < channels ? 1 : 0;
    }
    h.RateCode = 0;
    h.DataFormat = is24 ? 1 : 0;
    if (KSN48_SetADC(&h) != KSN_OK) {
        state.SkipWithError("KSN48_SetADC failed");
        return;
    }
    const uint32_t samples = kTicks * channels;
    std::vector<uint32_t> words(is24 ? 2U * samples : samples);
    for (uint32_t i = 0; i < samples; ++i) {
        const int32_t code = static_cast<int32_t>(i * 7919U % 1000000U) - 500000;
        if (is24) {
            ksn::raw::Encode24(i % channels, KSN48_STATUS_VALID, code, &words[2U * i]);
        } else {
            words[i] = ksn::raw::Encode20(i % channels, KSN48_STATUS_VALID, code);
        }
    }
    std::vector<double> volts(samples);
    int32_t status[KSN48_CHANNEL_COUNT];
    for (auto _ : state) {
        uint32_t size = static_cast<uint32_t>(words.size());
        if (KSN48_ProcessData(&h, words.data(), volts.data(), &size, KSN48_FLAG_CONVERT, status) !=
            KSN_OK) {
            state.SkipWithError("KSN48_ProcessData failed");
            return;
        }
        benchmark::DoNotOptimize(volts.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(words.size()));
}

BENCHMARK(Convert)
    ->ArgNames({"channels", "24bit"})
    ->ArgsProduct({{1, 6, 8}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
