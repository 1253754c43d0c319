#include "PlotReduction.h"

#include <algorithm>
#include <cmath>

namespace measure {

std::uint32_t ColumnStart(std::uint32_t j, std::uint32_t first, std::uint32_t last,
                          std::uint32_t columns, FrequencyAxis axis) noexcept
{
    if (columns == 0 || j >= columns || last <= first) {
        return last;
    }
    if (j == 0) {
        return first;
    }
    const std::uint64_t span = last - first;
    if (axis == FrequencyAxis::Linear || first == 0) {
        return static_cast<std::uint32_t>(first + span * j / columns);
    }
    const double ratio = static_cast<double>(last) / first;
    const double at = first * std::pow(ratio, static_cast<double>(j) / columns);
    const double start = std::ceil(at);
    return static_cast<std::uint32_t>(
        std::clamp(start, static_cast<double>(first), static_cast<double>(last)));
}

std::size_t ReduceToColumns(const double* values, std::uint32_t first, std::uint32_t last,
                            std::uint32_t columns, FrequencyAxis axis, double binWidth,
                            PlotPoint* out) noexcept
{
    if (values == nullptr || out == nullptr || columns == 0 || last <= first ||
        (axis == FrequencyAxis::Logarithmic && first == 0)) {
        return 0;
    }
    std::size_t count = 0;
    std::uint32_t begin = first;
    for (std::uint32_t j = 0; j < columns && begin < last; ++j) {
        const std::uint32_t end = std::max(begin, ColumnStart(j + 1, first, last, columns, axis));
        if (end == begin) {
            continue;  // a column narrower than a bin: the bin lies further on
        }
        const double x = begin * binWidth;
        if (end - begin == 1) {
            out[count++] = {x, values[begin]};
            begin = end;
            continue;
        }
        std::uint32_t low = begin;
        std::uint32_t high = begin;
        for (std::uint32_t k = begin + 1; k < end; ++k) {
            if (values[k] < values[low]) {
                low = k;
            }
            if (values[k] > values[high]) {
                high = k;
            }
        }
        if (low == high) {
            out[count++] = {x, values[low]};
        } else if (low < high) {
            out[count++] = {x, values[low]};
            out[count++] = {x, values[high]};
        } else {
            out[count++] = {x, values[high]};
            out[count++] = {x, values[low]};
        }
        begin = end;
    }
    return count;
}

}  // namespace measure
