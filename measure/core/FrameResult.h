#pragma once

#include "ksn48api.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace measure {

// What the results log says of one channel in one frame.
enum class ReadingStatus : std::uint8_t {
    Ok,         // a reading
    Short,      // the module reports a short circuit at the input
    Open,       // the module reports an open circuit at the input
    NoSignal,   // the module gave no usable data for the channel (any other status)
    NoTone,     // a reading without a tone standing above the channel's noise
    OverRange,  // a reading whose input reached the module's full scale
    Lost,       // no frame: the link to the module was lost
};

// "ok", "short", "open", "nosignal", "notone", "overrange", "lost".
std::string_view ReadingStatusText(ReadingStatus status) noexcept;

// One channel's reading in a frame, in the run's units. A value that does not
// exist (frequency and phase with "sum", anything of a shorted channel, a
// phase without a valid reference) is empty.
struct ChannelReading {
    ReadingStatus Status = ReadingStatus::Lost;
    // The estimated peak lies inside the band where the method is exact.
    bool InBand = true;
    std::optional<double> Voltage;    // volts, RMS or peak amplitude as the run computes it
    std::optional<double> Frequency;  // hertz
    std::optional<double> Phase;      // degrees against the reference, as the window shows it
    // The spectrum's distortion and noise figures (SpectrumFigures), when the
    // run computes them: only for a reading with "fft" and a tone found.
    std::optional<double> ThdPercent;
    std::optional<double> ThdNPercent;
    std::optional<double> SnrDb;  // empty also when no noise was seen (infinite)
    // The converter's figures (IEEE 1241) from the same spectrum, with the
    // same rule; each empty where it would be infinite.
    std::optional<double> SinadDb;
    std::optional<double> EnobBits;
    std::optional<double> SfdrDbc;
    std::optional<double> SfdrHz;  // the largest spur's frequency
    // With "fit": SINAD and ENOB from the fit's residual.
    std::optional<double> FitSinadDb;
    std::optional<double> FitEnobBits;
    // The standard uncertainty (k = 1, type A: this frame's noise) of each
    // value shown, in its units: of Voltage, Frequency, and of Phase, the
    // difference against the reference. Empty with "sum", and for a reading
    // without a tone, out of band or over range.
    std::optional<double> VoltageU;
    std::optional<double> FrequencyU;
    std::optional<double> PhaseU;
};

// One frame's results, the record the results writer takes.
struct FrameResult {
    static constexpr std::size_t ChannelCount = KSN48_CHANNEL_COUNT;

    std::chrono::system_clock::time_point Time;         // when the frame's results were ready
    std::uint64_t Frame = 0;                            // counted from 1 in a run
    std::array<ChannelReading, ChannelCount> Channels;  // by physical channel, 0 .. 7
};

}  // namespace measure
