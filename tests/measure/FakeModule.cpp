#include "FakeModule.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>

namespace fake {

namespace {

Module module;
constexpr double Scale = 1e-7;  // volts per code
// Set from another thread, so kept outside the module record.
std::atomic<bool> cancelPending{false};
std::atomic<int> cancelCalls{0};

std::uint32_t EnabledCount(const Ksn48Handle& h)
{
    std::uint32_t n = 0;
    for (const auto& channel : h.Channel) {
        n += channel.ChannelEnabled != 0 ? 1u : 0u;
    }
    return n;
}

// Physical channel at frame position p.
int ChannelAt(const Ksn48Handle& h, std::uint32_t p)
{
    for (int c = 0; c < 8; ++c) {
        if (h.Channel[c].ChannelEnabled != 0 && p-- == 0) {
            return c;
        }
    }
    return -1;
}

std::uint32_t Code(const Ksn48Handle& h, std::uint64_t sampleWord)
{
    const std::uint32_t n = EnabledCount(h);
    const std::uint64_t sample = sampleWord / n;
    const int c = ChannelAt(h, static_cast<std::uint32_t>(sampleWord % n));
    const Tone& tone = module.Tones[static_cast<std::size_t>(c)];
    const double rate = 78125.0 / static_cast<double>(1u << h.RateCode);
    const double t = static_cast<double>(sample) / rate;
    double v = tone.Amplitude * std::cos(2.0 * std::numbers::pi * tone.Frequency * t +
                                         tone.Phase * std::numbers::pi / 180.0);
    // The module's converter clips at the ends of its range.
    v = std::clamp(v, measure::FullScaleLow(h.DataFormat), measure::FullScaleHigh(h.DataFormat));
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v / Scale)));
}

int SetAdc(Ksn48Handle*)
{
    ++module.SetAdcCalls;
    if (module.OnSetAdc) {
        module.OnSetAdc();
    }
    return module.SetAdcResult;
}

int Start(Ksn48Handle* h)
{
    ++module.Starts;
    if (module.StartResult != 0) {
        return module.StartResult;
    }
    h->AcquisitionRunning = 1;
    module.streamed = 0;
    cancelPending = false;
    if (module.OnStart) {
        module.OnStart();
    }
    return 0;
}

int Stop(Ksn48Handle* h)
{
    ++module.Stops;
    // Like the library: the acquisition counts as stopped even when the
    // module did not answer.
    h->AcquisitionRunning = 0;
    return module.StopResult;
}

int Recv(Ksn48Handle* h, std::uint32_t* words, std::uint32_t*, std::uint32_t count, std::uint32_t)
{
    ++module.RecvCalls;
    module.LastBlock = count;
    std::uint32_t due = count;
    if (module.RecvResult) {
        const int result = module.RecvResult(module.RecvCalls, count);
        if (result <= 0) {
            return result;
        }
        due = static_cast<std::uint32_t>(result);
    }
    if (cancelPending) {
        return KSN_ERR_CANCELLED;
    }
    const bool wide = h->DataFormat != 0;
    for (std::uint32_t i = 0; i < due; ++i, ++module.streamed) {
        // 24-bit: the code in the first word of a pair, 0 in the second.
        if (wide && module.streamed % 2 == 1) {
            words[i] = 0;
        } else {
            words[i] = Code(*h, wide ? module.streamed / 2 : module.streamed);
        }
    }
    return static_cast<int>(due);
}

int Process(Ksn48Handle* h, const std::uint32_t* words, double* samples, std::uint32_t* size,
            std::uint32_t flags, std::int32_t status[KSN48_CHANNEL_COUNT])
{
    if (++module.ProcessCalls == 1) {
        module.FirstFlags = flags;
    }
    module.LastFlags = flags;
    if (module.ProcessResult != 0) {
        return module.ProcessResult;
    }
    const std::uint32_t step = h->DataFormat != 0 ? 2 : 1;
    const std::uint32_t out = *size / step;
    for (std::uint32_t i = 0; i < out; ++i) {
        samples[i] = static_cast<double>(static_cast<std::int32_t>(words[i * step])) * Scale;
    }
    const std::uint32_t n = EnabledCount(*h);
    for (std::uint32_t p = 0; p < n; ++p) {
        status[p] = module.Status[p];
    }
    *size = module.ProcessShort ? out - 1 : out;
    return 0;
}

int CancelRecv(Ksn48Handle*)
{
    ++cancelCalls;
    cancelPending = true;
    return 0;
}

}  // namespace

Module& Current()
{
    return module;
}

void Reset()
{
    module = Module{};
    cancelPending = false;
    cancelCalls = 0;
}

int CancelCalls()
{
    return cancelCalls;
}

measure::ModuleApi Api()
{
    measure::ModuleApi api;
    api.SetADC = &SetAdc;
    api.Start = &Start;
    api.Stop = &Stop;
    api.Recv = &Recv;
    api.ProcessData = &Process;
    api.CancelRecv = &CancelRecv;
    return api;
}

}  // namespace fake
