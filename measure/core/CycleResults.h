#pragma once

#include "FrameResult.h"

namespace measure {

class MeasurementCycle;

// The results of the cycle's last shown frame as the log's record, by
// physical channel: the status (the module's; for a valid one `overrange`
// when the input reached full scale, else `notone` when no tone stands above
// the noise), whether the reading lies in the exact band, the values as the
// window shows them (the voltage, and with "fft" the frequency and the phase
// against the reference channel, each only where the window shows a number:
// no frequency or phase without a tone, no phase while the reference reads no
// tone), and the figures the cycle computed for a channel with a tone. Fills
// Channels only; the caller stamps Time and Frame.
// Call it where the window's display would run (MeasurementHost::ShowResults).
void FillFrameResult(const MeasurementCycle& cycle, FrameResult& result) noexcept;

}  // namespace measure
