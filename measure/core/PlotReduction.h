#pragma once

#include <cstddef>
#include <cstdint>

namespace measure {

enum class FrequencyAxis : std::uint8_t { Linear, Logarithmic };

struct PlotPoint {
    double X = 0.0;  // hertz
    double Y = 0.0;
};

// Bins [first, last) of values, one value per bin of binWidth hertz, drawn
// over `columns` pixel columns of a linear or logarithmic frequency axis from
// first to last bin. Each column keeps the smallest and the largest value of
// its bins, in the order they come, both at the frequency of its first bin;
// a column of one bin keeps that bin, a column without bins nothing. So a
// trace of a million bins becomes at most 2 x columns points and no peak or
// dip is lost. The logarithmic axis needs first >= 1.
//
// Writes at most 2 x columns points into out and returns how many; 0 for an
// empty range, no columns or a logarithmic axis from bin 0. Allocates nothing.
std::size_t ReduceToColumns(const double* values, std::uint32_t first, std::uint32_t last,
                            std::uint32_t columns, FrequencyAxis axis, double binWidth,
                            PlotPoint* out) noexcept;

// The first bin of column j of `columns` over bins [first, last): for the
// linear axis first + j (last - first) / columns, for the logarithmic one
// ceil(first (last / first)^(j / columns)), never below the bin of column
// j - 1. Column `columns` begins at last.
std::uint32_t ColumnStart(std::uint32_t j, std::uint32_t first, std::uint32_t last,
                          std::uint32_t columns, FrequencyAxis axis) noexcept;

}  // namespace measure
