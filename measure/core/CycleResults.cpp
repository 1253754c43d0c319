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
    const RunConfiguration& config = cycle.Config();
    const FrameReadings& readings = cycle.Readings();
    for (std::size_t c = 0; c < MeasurementChannelCount; ++c) {
        ChannelReading& reading = result.Channels[c];
        reading = ChannelReading{};
        reading.Status = StatusOf(readings.Status[c]);
        if (!config.Enabled(c) || reading.Status != ReadingStatus::Ok) {
            continue;
        }
        // The window's rule of what is shown: a dashed field has no value.
        const ReadingMarks marks = MarkReading(config, readings, c);
        if (readings.OverRange[c]) {
            reading.Status = ReadingStatus::OverRange;
        } else if (!readings.ToneFound[c]) {
            reading.Status = ReadingStatus::NoTone;
        }
        reading.InBand = readings.InBand[c];
        reading.Voltage = readings.Voltage[c];
        if (config.Method == CalcMethod::Fft && readings.ToneFound[c]) {
            const SpectrumFigures& figures = readings.Figures[c];
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
                if (reading.SfdrDbc && config.SamplesPerChannel > 0) {
                    reading.SfdrHz = figures.SpurCentre * config.AdcRate / config.SamplesPerChannel;
                }
            }
            if (std::isfinite(readings.FitSinadDb[c])) {
                reading.FitSinadDb = readings.FitSinadDb[c];
            }
            if (std::isfinite(readings.FitEnobBits[c])) {
                reading.FitEnobBits = readings.FitEnobBits[c];
            }
        }
        const bool uncertain = readings.Uncertain[c] && reading.Status == ReadingStatus::Ok;
        if (uncertain) {
            reading.VoltageU = readings.VoltageU[c];
        }
        if (uncertain && !marks.Frequency.Dashed) {
            reading.FrequencyU = readings.FrequencyU[c];
        }
        const std::size_t reference = readings.ReferenceChannel;
        if (uncertain && !marks.Phase.Dashed && readings.Uncertain[reference]) {
            // The reference's own phase is its difference's zero.
            reading.PhaseU =
                c == reference ? 0.0 : std::hypot(readings.PhaseU[reference], readings.PhaseU[c]);
        }
        if (!marks.Frequency.Dashed) {
            reading.Frequency = readings.Frequency[c];
        }
        if (!marks.Phase.Dashed) {
            reading.Phase =
                PhaseDifference(readings.Phase[readings.ReferenceChannel], readings.Phase[c]);
        }
    }
}

}  // namespace measure
