#pragma once

#include "RunConfiguration.h"
#include "SpectrumFigures.h"

#include <array>
#include <cstdint>

namespace measure {

// The last frame's readings, per physical channel: filled once per frame by
// the cycle and read by everyone who shows, logs or publishes them.
struct FrameReadings {
    // The module's status of each channel in the frame (KSN48_STATUS_*; -1
    // for a channel not enabled or when the conversion gave none).
    std::array<std::int32_t, MeasurementChannelCount> Status = [] {
        std::array<std::int32_t, MeasurementChannelCount> none{};
        none.fill(-1);
        return none;
    }();
    // The channel the frame's phases are shown against (FrameInputs).
    std::uint16_t ReferenceChannel = 0;
    std::array<double, MeasurementChannelCount> Voltage{};
    std::array<double, MeasurementChannelCount> Frequency{};
    std::array<double, MeasurementChannelCount> Phase{};
    // What the readings can be trusted for; all false for a channel without
    // a valid reading in the frame. The values stay as estimated either way.
    // - ToneFound: a tone stands clearly above the channel's noise floor
    //   (ToneStandsOut). Without one the frequency and phase come from a
    //   noise peak and mean nothing. Always true with "sum", which judges
    //   no tone.
    // - InBand: a tone was found and its centre lies in the bins where the
    //   spectral estimate is exact, [15, N/2 - 8] (InExactBand); outside,
    //   voltage, frequency and phase are all off. Always true with "sum".
    // - OverRange: a sample of the channel's frame sits at full scale (the
    //   module clips the input at +-5 V), so the voltage reads low.
    std::array<bool, MeasurementChannelCount> ToneFound{};
    std::array<bool, MeasurementChannelCount> InBand{};
    std::array<bool, MeasurementChannelCount> OverRange{};
    // The distortion and noise figures (MeasurementCycle::ComputeFigures, or
    // the spectrum's channel); not Valid for a channel without them.
    std::array<SpectrumFigures, MeasurementChannelCount> Figures{};
    // The standard uncertainty (k = 1, type A: the noise of this frame, read
    // from the spectrum's noise bins), with "fft" and "fit" only: of Voltage
    // (in its units), Frequency (Hz) and the channel's own Phase (degrees;
    // the difference against the reference takes both channels'). Uncertain
    // is false for a channel without a tone, out of band or over range: it
    // has none.
    std::array<bool, MeasurementChannelCount> Uncertain{};
    std::array<double, MeasurementChannelCount> VoltageU{};
    std::array<double, MeasurementChannelCount> FrequencyU{};
    std::array<double, MeasurementChannelCount> PhaseU{};
    // With "fit": SINAD (dB) and ENOB (bits) a second time, from the fit's
    // residual (noise and distortion); NaN for a channel not fitted.
    std::array<double, MeasurementChannelCount> FitSinadDb{};
    std::array<double, MeasurementChannelCount> FitEnobBits{};

    // Whether channel c read a tone: valid status and, with "fft", a tone
    // above its noise floor. Only then can phases be taken against it.
    bool ReadsTone(std::size_t c) const noexcept
    {
        return c < MeasurementChannelCount && Status[c] == KSN48_STATUS_VALID && ToneFound[c];
    }
};

}  // namespace measure
