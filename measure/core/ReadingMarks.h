#pragma once

#include "MeasurementCycle.h"

#include <cstddef>

namespace measure {

// Why a shown value is marked.
enum class MarkReason {
    None,
    OverRange,           // the input reached full scale: the voltage reads low
    NoTone,              // no tone stands above the noise: the values are of noise
    BelowBand,           // the tone lies too close to 0 Hz for an exact estimate
    AboveBand,           // the tone lies too close to half the ADC rate
    ReferenceOutOfBand,  // the reference's tone lies outside the exact band
    ReferenceNoReading,  // the reference reads no tone (short, open, silent, off)
};

// How one value of a reading is shown: as estimated (Reason None), as
// estimated but marked as one the method cannot vouch for, or not at all
// (Dashed: the placeholder instead of the number).
struct ValueMark {
    MarkReason Reason = MarkReason::None;
    bool Dashed = false;

    bool Marked() const noexcept { return Reason != MarkReason::None && !Dashed; }
};

struct ReadingMarks {
    ValueMark Voltage;
    ValueMark Frequency;
    ValueMark Phase;
};

// The marks of physical channel c, whose status in the frame is valid, with
// phases taken against the frame's reference channel:
// - voltage: marked over range, else with no tone, else out of band;
// - frequency: dashed with no tone, else marked out of band;
// - phase: dashed with no tone or when the reference reads no tone, else
//   marked when the channel's or the reference's tone is out of band.
// The "sum" method gives neither frequency nor phase: both dashed, with no
// reason; its voltage is marked over range only.
ReadingMarks MarkReading(const RunConfiguration& config, const FrameReadings& readings,
                         std::size_t c);
// The same of the cycle's last frame.
inline ReadingMarks MarkReading(const MeasurementCycle& cycle, std::size_t c)
{
    return MarkReading(cycle.Config(), cycle.Readings(), c);
}

}  // namespace measure
