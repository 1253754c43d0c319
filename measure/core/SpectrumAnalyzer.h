#pragma once

#include "WindowFunctions.h"
#include "ffft/FFTReal.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace measure {

// Windowed spectrum of one channel's frame for the "fft" method. One per
// measurement run, owned by the thread that runs it; its tables are built
// once, and nothing here allocates per frame.
class SpectrumAnalyzer {
public:
    // length 0 gives no engine; any other length must be a power of two
    // (std::invalid_argument otherwise).
    SpectrumAnalyzer(std::uint32_t length, const StopFlag* stop);

    // false for 0 or a length that is not a power of two (the analyzer stays
    // as it was); a new length gets a new engine with the same stop flag.
    bool SetLength(std::uint32_t length);

    std::uint32_t Length() const noexcept { return length_; }
    std::uint32_t PeakHalfWidth() const noexcept { return window_.PeakHalfWidth; }
    std::uint16_t TermCount() const noexcept { return window_.TermCount; }
    const WindowCoefficients& Coefficients() const noexcept { return window_; }
    double WindowSum() const noexcept { return measure::WindowSum(window_, length_); }
    double WindowMeanSquare() const noexcept { return measure::WindowMeanSquare(window_); }

    // Fills the window fields for type and writes Length() values; false when
    // stopped between blocks or for an unknown type.
    bool BuildWindow(double* window, int type) noexcept;
    // Fills the window fields for type without writing any window values,
    // for an analyzer that reads a window another one built; false for an
    // unknown type.
    bool LoadWindow(int type) noexcept { return window_.Load(type); }

    // samples[i] *= window[i] in place.
    void ApplyWindow(double* samples, const double* window) const noexcept;

    // Forward transform into spectrum (N values, packed layout of FFTReal).
    // false without transforming when a buffer is missing or there is no engine.
    bool Transform(const double* samples, double* spectrum);

    // The transform of window[i] * samples[i * stride], the same values as
    // ApplyWindow() on a copy and then Transform(), in one pass over the
    // samples, which stay as they are. false without transforming when a
    // buffer is missing, the stride is 0, the output overlaps an input, or
    // there is no engine.
    bool TransformWindowed(const double* samples, std::size_t stride, const double* window,
                           double* spectrum);

private:
    const StopFlag* stop_ = nullptr;
    std::uint32_t length_ = 0;
    WindowCoefficients window_;
    std::unique_ptr<ffft::FFTReal> engine_;
};

}  // namespace measure
