#include "CycleResults.h"

#include "MeasurementCycle.h"
#include "ReadingMarks.h"
#include "ResultsFormat.h"

#include <cmath>

namespace measure {

static_assert(FrameResult::ChannelCount == MeasurementChannelCount);

namespace {

ReadingStatus StatusOf(std::int32_t moduleStatus) noexcept
{
    switch (moduleStatus) {
    case KSN48_STATUS_VALID:
        return ReadingStatus::Ok;
    case KSN48_STATUS_SHORT:
        return ReadingStatus::Short;
    case KSN48_STATUS_OPEN:
        return ReadingStatus::Open;
    default:
        return ReadingStatus::NoSignal;
    }
}

}  // namespace

void FillFrameResult(const MeasurementCycle& cycle, FrameResult& result) noexcept
{
    // The module's status words come in frame order, one per enabled channel.
    std::array<bool, MeasurementChannelCount> enabled{};
    std::array<ReadingStatus, MeasurementChannelCount> status{};
    std::size_t j = 0;
    for (std::size_t c = 0; c < MeasurementChannelCount; ++c) {
        enabled[c] = cycle.Handle().Channel[c].ChannelEnabled != 0;
        status[c] = enabled[c] ? StatusOf(cycle.ChannelStatus[j++]) : ReadingStatus::NoSignal;
    }

    for (std::size_t c = 0; c < MeasurementChannelCount; ++c) {
        ChannelReading& reading = result.Channels[c];
        reading = ChannelReading{};
        reading.Status = status[c];
        if (!enabled[c] || status[c] != ReadingStatus::Ok) {
            continue;
        }
        // The window's rule of what is shown: a dashed field has no value.
        const ReadingMarks marks = MarkReading(cycle, c, cycle.ReferenceChannel);
        if (cycle.OverRange[c]) {
            reading.Status = ReadingStatus::OverRange;
        } else if (!cycle.ToneFound[c]) {
            reading.Status = ReadingStatus::NoTone;
        }
        reading.InBand = cycle.InBand[c];
        reading.Voltage = cycle.Voltage[c];
        if (cycle.Method == CalcMethod::Fft && cycle.ToneFound[c]) {
            const SpectrumFigures& figures = cycle.Figures[c];
            if (figures.Valid) {
                reading.ThdPercent = figures.ThdPercent;
                reading.ThdNPercent = figures.ThdNPercent;
                if (std::isfinite(figures.SnrDb)) {
                    reading.SnrDb = figures.SnrDb;
                }
                const auto finite = [](double value) {
                    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
                };
                reading.SinadDb = finite(figures.SinadDb);
                reading.EnobBits = finite(figures.EnobBits);
                reading.SfdrDbc = finite(figures.SfdrDbc);
                if (reading.SfdrDbc && cycle.SamplesPerChannel > 0) {
                    reading.SfdrHz = figures.SpurCentre * cycle.AdcRate / cycle.SamplesPerChannel;
                }
            }
            if (std::isfinite(cycle.FitSinadDb[c])) {
                reading.FitSinadDb = cycle.FitSinadDb[c];
            }
            if (std::isfinite(cycle.FitEnobBits[c])) {
                reading.FitEnobBits = cycle.FitEnobBits[c];
            }
        }
        const bool uncertain = cycle.Uncertain[c] && reading.Status == ReadingStatus::Ok;
        if (uncertain) {
            reading.VoltageU = cycle.VoltageU[c];
        }
        if (uncertain && !marks.Frequency.Dashed) {
            reading.FrequencyU = cycle.FrequencyU[c];
        }
        const std::size_t reference = cycle.ReferenceChannel;
        if (uncertain && !marks.Phase.Dashed && cycle.Uncertain[reference]) {
            // The reference's own phase is its difference's zero.
            reading.PhaseU = c == reference ? 0.0 : std::hypot(cycle.PhaseU[reference], cycle.PhaseU[c]);
        }
        if (!marks.Frequency.Dashed) {
            reading.Frequency = cycle.Frequency[c];
        }
        if (!marks.Phase.Dashed) {
            reading.Phase = PhaseDifference(cycle.Phase[cycle.ReferenceChannel], cycle.Phase[c]);
        }
    }
}

}  // namespace measure
