#pragma once
// A module library of the test's own for the window-free measurement cycle:
// sines on the enabled channels, clipped to the converter's range and
// encoded so that its conversion gives them back in volts, with every call's
// result and each receive's count under the test's control.

#include "MeasurementCycle.h"

#include <array>
#include <cstdint>
#include <functional>

namespace fake {

struct Tone {
    double Amplitude = 0.0;  // volts
    double Frequency = 0.0;  // hertz
    double Phase = 0.0;      // degrees, of A cos(2 pi f t + phase)
};

struct Module {
    std::array<Tone, 8> Tones{};
    std::array<std::int32_t, 8> Status{};  // per enabled channel, frame order
    int SetAdcResult = 0;
    int StartResult = 0;
    int StopResult = 0;
    int ProcessResult = 0;
    bool ProcessShort = false;  // reports one sample fewer than due
    // When set, decides the result of a receive of block words (call counts from 1).
    std::function<int(int call, std::uint32_t block)> RecvResult;
    // When set, runs in every successful start.
    std::function<void()> OnStart;
    // When set, runs in every KSN48_SetADC.
    std::function<void()> OnSetAdc;

    int SetAdcCalls = 0;
    int Starts = 0;
    int Stops = 0;
    int RecvCalls = 0;
    std::uint32_t LastBlock = 0;
    std::uint32_t LastFlags = 0;
    std::uint32_t FirstFlags = 0;
    int ProcessCalls = 0;

    std::uint64_t streamed = 0;  // words since the last start
};

// The module the functions of Api() act on.
Module& Current();
void Reset();
measure::ModuleApi Api();

// Cancels of the receive (from any thread) since the last Reset; like the
// library's, a cancel holds until the next start and every receive until
// then returns KSN_ERR_CANCELLED.
int CancelCalls();

}  // namespace fake
