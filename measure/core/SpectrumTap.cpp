#include "SpectrumTap.h"

#include "ChannelEstimator.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace measure {

namespace {

constexpr std::size_t TracePoints = 2 * static_cast<std::size_t>(MaxPlotColumns);

double ToDbv(double squaredRms) noexcept
{
    if (!(squaredRms > 0.0)) {
        return LowestPlotDbv;
    }
    return std::max(LowestPlotDbv, 10.0 * std::log10(squaredRms));
}

void ToDecibels(std::vector<PlotPoint>& points, double& lowest, double& highest) noexcept
{
    for (PlotPoint& point : points) {
        point.Y = ToDbv(point.Y);
        lowest = std::min(lowest, point.Y);
        highest = std::max(highest, point.Y);
    }
}

}  // namespace

void SpectrumFrame::Reserve()
{
    Trace.reserve(TracePoints);
    MaxTrace.reserve(TracePoints);
}

void SpectrumFrame::CopyFrom(const SpectrumFrame& other)
{
    Valid = other.Valid;
    Channel = other.Channel;
    Length = other.Length;
    BinWidth = other.BinWidth;
    Nyquist = other.Nyquist;
    Axis = other.Axis;
    ExactLow = other.ExactLow;
    ExactHigh = other.ExactHigh;
    PeakFrequency = other.PeakFrequency;
    PeakLevelDbv = other.PeakLevelDbv;
    LowestDbv = other.LowestDbv;
    HighestDbv = other.HighestDbv;
    Figures = other.Figures;
    // assign() keeps the capacity: no allocation once reserved.
    Trace.assign(other.Trace.begin(), other.Trace.end());
    MaxTrace.assign(other.MaxTrace.begin(), other.MaxTrace.end());
}

bool SpectrumTap::Allocate(std::uint32_t length) noexcept
{
    Free();
    const std::size_t bins = static_cast<std::size_t>(length / 2) + 1;
    levels_.reset(new (std::nothrow) double[bins]);
    maxLevels_.reset(new (std::nothrow) double[bins]);
    if (!levels_ || !maxLevels_) {
        Free();
        return false;
    }
    try {
        frame_.Reserve();
    } catch (...) {
        Free();
        return false;
    }
    length_ = length;
    maxValid_ = false;
    frame_.Valid = false;
    return true;
}

void SpectrumTap::Free() noexcept
{
    levels_.reset();
    maxLevels_.reset();
    length_ = 0;
    maxValid_ = false;
    frame_.Valid = false;
}

void SpectrumTap::SetRequest(const SpectrumRequest& request) noexcept
{
    // A maximum of another channel, axis or width means nothing for this one.
    if (request.ResetMaxHold || !request.MaxHold || request.Channel != request_.Channel ||
        request.Axis != request_.Axis) {
        maxValid_ = false;
    }
    request_ = request;
    request_.Columns = std::min(request.Columns, MaxPlotColumns);
    request_.ResetMaxHold = false;
}

void SpectrumTap::Capture(const double* spectrum, const SpectrumScale& scale, double adcRate,
                          const SpectrumFigures& figures) noexcept
{
    frame_.Valid = false;
    const std::uint32_t half = scale.Length / 2;
    if (!Allocated() || spectrum == nullptr || scale.Length != length_ || half < 2 ||
        !(adcRate > 0.0)) {
        return;
    }
    const double toLevel = SpectrumLevelScale(scale);
    const double* re = spectrum;
    const double* im = spectrum + half;
    double* levels = levels_.get();
    // DC and Nyquist are real and stand for themselves, not for a pair of
    // bins: half the factor.
    levels[0] = re[0] * re[0] * toLevel * 0.5;
    levels[half] = re[half] * re[half] * toLevel * 0.5;
    std::uint32_t peak = scale.HalfWidth < half ? scale.HalfWidth : 1;
    for (std::uint32_t k = 1; k < half; ++k) {
        levels[k] = (re[k] * re[k] + im[k] * im[k]) * toLevel;
    }
    for (std::uint32_t k = peak + 1; k < half; ++k) {
        if (levels[k] > levels[peak]) {
            peak = k;
        }
    }

    const double binWidth = adcRate / scale.Length;
    const std::uint32_t first = request_.Axis == FrequencyAxis::Logarithmic ? 1 : 0;
    const std::uint32_t last = half + 1;
    const std::uint32_t columns = std::max<std::uint32_t>(request_.Columns, 1);
    frame_.Trace.resize(2 * static_cast<std::size_t>(columns));
    frame_.Trace.resize(ReduceToColumns(levels, first, last, columns, request_.Axis, binWidth,
                                        frame_.Trace.data()));
    frame_.MaxTrace.clear();
    if (request_.MaxHold) {
        double* held = maxLevels_.get();
        if (!maxValid_) {
            std::copy_n(levels, last, held);
            maxValid_ = true;
        } else {
            for (std::uint32_t k = 0; k < last; ++k) {
                held[k] = std::max(held[k], levels[k]);
            }
        }
        frame_.MaxTrace.resize(2 * static_cast<std::size_t>(columns));
        frame_.MaxTrace.resize(ReduceToColumns(held, first, last, columns, request_.Axis, binWidth,
                                               frame_.MaxTrace.data()));
    }

    frame_.HighestDbv = LowestPlotDbv;
    frame_.LowestDbv = -LowestPlotDbv;
    ToDecibels(frame_.Trace, frame_.LowestDbv, frame_.HighestDbv);
    ToDecibels(frame_.MaxTrace, frame_.LowestDbv, frame_.HighestDbv);

    frame_.Channel = request_.Channel;
    frame_.Length = scale.Length;
    frame_.BinWidth = binWidth;
    frame_.Nyquist = adcRate / 2.0;
    frame_.Axis = request_.Axis;
    const ExactBand band = ExactBandOf(scale.Length, scale.HalfWidth);
    frame_.ExactLow = band.Low * binWidth;
    frame_.ExactHigh = band.High * binWidth;
    frame_.PeakFrequency = peak * binWidth;
    frame_.PeakLevelDbv = ToDbv(levels[peak]);
    frame_.Figures = figures;
    frame_.Valid = true;
}

}  // namespace measure
