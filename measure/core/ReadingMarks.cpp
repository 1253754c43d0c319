#include "ReadingMarks.h"

namespace measure {

namespace {

// Below or above the band, for a reading whose tone is out of it: the band
// is centred on N/4 bins, a quarter of the rate.
MarkReason BandSide(const RunConfiguration& config, const FrameReadings& readings, std::size_t c)
{
    return readings.Frequency[c] < config.AdcRate / 4.0 ? MarkReason::BelowBand
                                                        : MarkReason::AboveBand;
}

}  // namespace

ReadingMarks MarkReading(const RunConfiguration& config, const FrameReadings& readings,
                         std::size_t c)
{
    const std::size_t reference = readings.ReferenceChannel;
    ReadingMarks marks;
    if (readings.OverRange[c]) {
        marks.Voltage.Reason = MarkReason::OverRange;
    }
    if (config.Method != CalcMethod::Fft) {
        marks.Frequency.Dashed = true;
        marks.Phase.Dashed = true;
        return marks;
    }
    if (!readings.ToneFound[c]) {
        if (marks.Voltage.Reason == MarkReason::None) {
            marks.Voltage.Reason = MarkReason::NoTone;
        }
        marks.Frequency = {MarkReason::NoTone, true};
        marks.Phase = {MarkReason::NoTone, true};
        return marks;
    }
    if (!readings.InBand[c]) {
        const MarkReason side = BandSide(config, readings, c);
        if (marks.Voltage.Reason == MarkReason::None) {
            marks.Voltage.Reason = side;
        }
        marks.Frequency.Reason = side;
        marks.Phase.Reason = side;
    }
    if (reference >= MeasurementChannelCount || !readings.ReadsTone(reference)) {
        marks.Phase = {MarkReason::ReferenceNoReading, true};
    } else if (marks.Phase.Reason == MarkReason::None && !readings.InBand[reference]) {
        marks.Phase.Reason = MarkReason::ReferenceOutOfBand;
    }
    return marks;
}

}  // namespace measure
