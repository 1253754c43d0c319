#pragma once

#include "PlotReduction.h"
#include "SpectrumFigures.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace measure {

// The most pixel columns a plot is reduced to.
inline constexpr std::uint32_t MaxPlotColumns = 4096;

// What the spectrum display asks of the frames to come; taken over between
// frames (while the worker waits for the window's thread).
struct SpectrumRequest {
    int Channel = -1;  // physical channel to plot, -1 for none
    std::uint32_t Columns = 0;
    FrequencyAxis Axis = FrequencyAxis::Linear;
    bool MaxHold = false;
    // The maximum trace starts again from the next frame.
    bool ResetMaxHold = false;
};

// One frame's spectrum of the chosen channel, reduced for the plot, in dBV
// RMS (a tone's peak reads its RMS; see SpectrumLevelScale).
struct SpectrumFrame {
    // The chosen channel had a reading in this frame.
    bool Valid = false;
    int Channel = -1;
    std::uint32_t Length = 0;  // N
    double BinWidth = 0.0;     // hertz per bin
    double Nyquist = 0.0;      // hertz
    FrequencyAxis Axis = FrequencyAxis::Linear;
    // The band where the estimate is exact, in hertz (InExactBand).
    double ExactLow = 0.0;
    double ExactHigh = 0.0;
    // The largest bin of the plotted range and its level.
    double PeakFrequency = 0.0;
    double PeakLevelDbv = 0.0;
    // Lowest and highest level of the traces, dBV.
    double LowestDbv = 0.0;
    double HighestDbv = 0.0;
    SpectrumFigures Figures;
    std::vector<PlotPoint> Trace;
    // Empty unless the maximum trace is asked for.
    std::vector<PlotPoint> MaxTrace;

    // Room for the largest plot, so that copying frames allocates nothing.
    void Reserve();
    // Copies other into this one, using the room already made.
    void CopyFrom(const SpectrumFrame& other);
};

// The lowest level a trace shows, dBV: an empty bin would read -infinity.
inline constexpr double LowestPlotDbv = -300.0;

// Captures the plot of one channel's spectrum from the estimate of each frame
// on the thread that estimated it: its levels, the maximum over frames when
// asked for, and the reduction to the plot's columns. Buffers are made once
// per run (Allocate), so a frame allocates nothing.
class SpectrumTap {
public:
    // false when the buffers cannot be had.
    bool Allocate(std::uint32_t length) noexcept;
    void Free() noexcept;
    bool Allocated() const noexcept { return levels_ != nullptr; }

    // Between frames: what to capture next.
    void SetRequest(const SpectrumRequest& request) noexcept;
    const SpectrumRequest& Request() const noexcept { return request_; }

    // Before each frame's estimate: nothing captured yet.
    void BeginFrame() noexcept { frame_.Valid = false; }

    // From the estimate of the chosen channel: the packed spectrum of the
    // frame, its scale, the ADC rate and the figures already computed.
    void Capture(const double* spectrum, const SpectrumScale& scale, double adcRate,
                 const SpectrumFigures& figures) noexcept;

    const SpectrumFrame& Frame() const noexcept { return frame_; }

private:
    SpectrumRequest request_;
    bool maxValid_ = false;
    std::uint32_t length_ = 0;
    std::unique_ptr<double[]> levels_;
    std::unique_ptr<double[]> maxLevels_;
    SpectrumFrame frame_;
};

}  // namespace measure
