#include "ReadingMarks.h"

namespace measure {

namespace {

// Below or above the band, for a reading whose tone is out of it: the band
// is centred on N/4 bins, a quarter of the rate.
MarkReason BandSide(const MeasurementCycle& cycle, std::size_t c)
{
    return cycle.Frequency[c] < cycle.AdcRate / 4.0 ? MarkReason::BelowBand : MarkReason::AboveBand;
}

}  // namespace

ReadingMarks MarkReading(const MeasurementCycle& cycle, std::size_t c, std::size_t reference)
{
    ReadingMarks marks;
    if (cycle.OverRange[c]) {
        marks.Voltage.Reason = MarkReason::OverRange;
    }
    if (cycle.Method != CalcMethod::Fft) {
        marks.Frequency.Dashed = true;
        marks.Phase.Dashed = true;
        return marks;
    }
    if (!cycle.ToneFound[c]) {
        if (marks.Voltage.Reason == MarkReason::None) {
            marks.Voltage.Reason = MarkReason::NoTone;
        }
        marks.Frequency = {MarkReason::NoTone, true};
        marks.Phase = {MarkReason::NoTone, true};
        return marks;
    }
    if (!cycle.InBand[c]) {
        const MarkReason side = BandSide(cycle, c);
        if (marks.Voltage.Reason == MarkReason::None) {
            marks.Voltage.Reason = side;
        }
        marks.Frequency.Reason = side;
        marks.Phase.Reason = side;
    }
    if (reference >= MeasurementChannelCount || !cycle.ReadsTone(reference)) {
        marks.Phase = {MarkReason::ReferenceNoReading, true};
    } else if (marks.Phase.Reason == MarkReason::None && !cycle.InBand[reference]) {
        marks.Phase.Reason = MarkReason::ReferenceOutOfBand;
    }
    return marks;
}

}  // namespace measure
