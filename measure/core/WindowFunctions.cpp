#include "WindowFunctions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace measure {

const WindowTypeInfo* FindWindowType(int type) noexcept
{
    for (const WindowTypeInfo& info : WindowTable) {
        if (info.Type == type) {
            return &info;
        }
    }
    return nullptr;
}

bool WindowCoefficients::Load(int type) noexcept
{
    *this = WindowCoefficients{};
    const WindowTypeInfo* info = FindWindowType(type);
    if (info == nullptr) {
        return false;
    }
    TermCount = info->TermCount;
    PeakHalfWidth = info->PeakHalfWidth;
    std::copy_n(info->Coefficients.begin(), info->TermCount, Coefficients.begin());
    return true;
}

double WindowSum(const WindowCoefficients& window, std::uint32_t length) noexcept
{
    if (window.TermCount == 0) {
        return 0.0;
    }
    return static_cast<double>(static_cast<long double>(length) *
                               static_cast<long double>(window.Coefficients[0]));
}

double WindowMeanSquare(const WindowCoefficients& window) noexcept
{
    if (window.TermCount == 0) {
        return 0.0;
    }
    const auto a0 = static_cast<long double>(window.Coefficients[0]);
    long double harmonics = 0.0L;
    for (std::size_t k = 1; k < window.TermCount; ++k) {
        const auto a = static_cast<long double>(window.Coefficients[k]);
        harmonics += a * a;
    }
    return static_cast<double>(a0 * a0 + 0.5L * harmonics);
}

bool BuildWindow(WindowCoefficients& coefficients, int type, double* window, std::uint32_t length,
                 const StopFlag* stop) noexcept
{
    if (window == nullptr || !coefficients.Load(type)) {
        coefficients = WindowCoefficients{};
        return false;
    }
    const std::size_t terms = coefficients.TermCount;
    long double a[TableWindowTerms] = {};
    for (std::size_t k = 0; k < terms; ++k) {
        a[k] = static_cast<long double>(coefficients.Coefficients[k]);
    }
    const long double step = 2.0L * std::numbers::pi_v<long double>;
    const long double n = length;

    // The periodic window is symmetric about N/2 (cos(2 pi - x) = cos x):
    // values 0 .. N/2 are computed and mirrored, which also makes the built
    // window exactly symmetric.
    const std::uint64_t last = length / 2;
    for (std::uint64_t begin = 0; begin <= last; begin += WindowBuildBlock) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            return false;
        }
        const std::uint64_t end = std::min<std::uint64_t>(last + 1, begin + WindowBuildBlock);
        for (std::uint64_t i = begin; i < end; ++i) {
            const long double x = static_cast<long double>(i) * step / n;
            // One cosine per sample; the harmonics follow from the product
            // rules c(2k) = 2 c(k)^2 - 1 and c(2k+1) = 2 c(k) c(k+1) - c1.
            long double c[TableWindowTerms];
            c[0] = 1.0L;
            c[1] = static_cast<long double>(std::cos(static_cast<double>(x)));
            for (std::size_t k = 2; k < terms; ++k) {
                const std::size_t h = k / 2;
                c[k] = (k % 2 == 0) ? 2.0L * c[h] * c[h] - 1.0L : 2.0L * c[h] * c[h + 1] - c[1];
            }
            long double w = a[0];
            for (std::size_t k = 1; k < terms; ++k) {
                w += a[k] * c[k];
            }
            window[i] = static_cast<double>(w);
            if (i != 0 && i != length - i) {
                window[length - i] = window[i];
            }
        }
    }
    return true;
}

double WindowedRms(const double* samples, const double* window, std::uint32_t length,
                   double windowSum) noexcept
{
    if (samples == nullptr || window == nullptr || !(windowSum > 0.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    long double s1 = 0.0L;
    long double s2 = 0.0L;
    for (std::uint32_t i = 0; i < length; ++i) {
        const auto x = static_cast<long double>(samples[i]);
        const long double xw = x * static_cast<long double>(window[i]);
        s1 += xw;
        s2 += x * xw;
    }
    const long double mean = s1 / static_cast<long double>(windowSum);
    const long double meanSquare = s2 / static_cast<long double>(windowSum);
    return static_cast<double>(std::sqrt(std::fabs(meanSquare - mean * mean)));
}

}  // namespace measure
