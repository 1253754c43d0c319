#pragma once

#include "FrameResult.h"

namespace measure {

class MeasurementCycle;

// The results of the cycle's last shown frame as the log's record, by
// physical channel: the status the module reported, and the values as the
// window shows them (voltage; frequency and phase with "fft"; the phase
// against the reference channel, only while the reference has a valid
// reading in the frame), and the figures the cycle computed for a channel
// with a tone. Fills Channels only; the caller stamps Time and Frame.
// Call it where the window's display would run (MeasurementHost::ShowResults).
void FillFrameResult(const MeasurementCycle& cycle, FrameResult& result) noexcept;

}  // namespace measure
