#include "SpectrumFigures.h"

#include "SineFit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace measure {

namespace {

// A band of bins [First, Last], both inside (H, N/2); empty when First > Last.
struct BinRange {
    long First = 1;
    long Last = 0;
};

double BandPower(const double* re, const double* im, BinRange range) noexcept
{
    double sum = 0.0;
    for (long k = range.First; k <= range.Last; ++k) {
        sum += re[k] * re[k] + im[k] * im[k];
    }
    return sum;
}

}  // namespace

double SpectrumLevelScale(const SpectrumScale& scale) noexcept
{
    if (!(scale.WindowSum > 0.0)) {
        return 0.0;
    }
    return 2.0 / (scale.WindowSum * scale.WindowSum);
}

SpectrumFigures ComputeSpectrumFigures(const double* spectrum, const SpectrumScale& scale,
                                       double centre) noexcept
{
    SpectrumFigures figures;
    const long half = scale.Length / 2;
    const long width = scale.HalfWidth;
    if (spectrum == nullptr || half <= width + 1 || !(scale.WindowMeanSquare > 0.0) ||
        !(scale.WindowSum > 0.0) || !(centre > static_cast<double>(width)) ||
        !(centre < static_cast<double>(half))) {
        return figures;
    }
    const double* re = spectrum;
    const double* im = spectrum + half;
    const long first = width + 1;  // the lowest bin counted
    const long last = half - 1;    // the highest
    const auto band = [&](double at, long floor) {
        const auto middle = static_cast<long>(std::lround(at));
        BinRange range;
        range.First = std::max({middle - width, first, floor});
        range.Last = std::min(middle + width, last);
        return range;
    };

    // The bands in rising order: fundamental, then harmonics 2, 3, ...; each
    // begins after the one below, so no bin counts twice.
    std::array<BinRange, HighestHarmonic> bands{};
    std::size_t bandCount = 0;
    bands[bandCount++] = band(centre, first);
    for (std::uint32_t m = 2; m <= HighestHarmonic; ++m) {
        const double at = m * centre;
        if (!(at < static_cast<double>(half))) {
            break;
        }
        const BinRange& below = bands[bandCount - 1];
        bands[bandCount++] = band(at, std::max(below.Last + 1, below.First));
    }

    // |X_k|^2 to the squared RMS it stands for (Parseval over the window).
    const double n = scale.Length;
    const double toPower = 2.0 / (n * n * scale.WindowMeanSquare);
    const double fundamental = BandPower(re, im, bands[0]) * toPower;
    if (!(fundamental > 0.0) || !std::isfinite(fundamental)) {
        return figures;
    }
    double harmonics = 0.0;
    for (std::size_t b = 1; b < bandCount; ++b) {
        const double v2 = BandPower(re, im, bands[b]) * toPower;
        figures.Harmonics[b + 1] = std::sqrt(v2);
        harmonics += v2;
    }
    figures.HarmonicCount = static_cast<std::uint32_t>(bandCount - 1);

    // The noise: the gaps between the bands and above the last one.
    double noise = 0.0;
    long noiseBins = 0;
    long next = first;
    for (std::size_t b = 0; b < bandCount; ++b) {
        const BinRange& range = bands[b];
        if (range.First > range.Last) {
            continue;
        }
        noise += BandPower(re, im, {next, range.First - 1});
        noiseBins += std::max(0L, range.First - next);
        next = std::max(next, range.Last + 1);
    }
    noise += BandPower(re, im, {next, last});
    noiseBins += std::max(0L, last - next + 1);
    noise *= toPower;

    // The largest spur: the strongest bin outside the fundamental's band.
    long spur = -1;
    double strongest = -1.0;
    for (long k = first; k <= last; ++k) {
        if (k >= bands[0].First && k <= bands[0].Last) {
            continue;
        }
        const double m = re[k] * re[k] + im[k] * im[k];
        if (m > strongest) {
            strongest = m;
            spur = k;
        }
    }
    double spurPower = 0.0;
    if (spur >= 0) {
        double moment = 0.0;
        double sum = 0.0;
        for (long k = std::max(spur - width, first); k <= std::min(spur + width, last); ++k) {
            if (k >= bands[0].First && k <= bands[0].Last) {
                continue;
            }
            const double m = re[k] * re[k] + im[k] * im[k];
            sum += m;
            moment += static_cast<double>(k) * m;
        }
        spurPower = sum * toPower;
        figures.SpurCentre = sum > 0.0 ? moment / sum : static_cast<double>(spur);
    }
    const double infinity = std::numeric_limits<double>::infinity();
    figures.SfdrDbc = spurPower > 0.0 ? 10.0 * std::log10(fundamental / spurPower) : infinity;

    figures.Valid = true;
    figures.Fundamental = std::sqrt(fundamental);
    figures.NoiseBins = static_cast<std::uint32_t>(noiseBins);
    figures.ThdPercent = 100.0 * std::sqrt(harmonics / fundamental);
    if (noiseBins > 0) {
        const double perBin = noise / static_cast<double>(noiseBins);
        const double noiseTotal = perBin * static_cast<double>(half);
        figures.ThdNPercent = 100.0 * std::sqrt((harmonics + noiseTotal) / fundamental);
        figures.SnrDb = noiseTotal > 0.0 ? 10.0 * std::log10(fundamental / noiseTotal)
                                         : std::numeric_limits<double>::infinity();
        // The same mean power on the plot's scale, |X_k|^2 * 2 / (N a0)^2.
        const double a0 = scale.WindowSum / n;
        const double level = perBin * scale.WindowMeanSquare / (a0 * a0);
        figures.NoiseFloorDbv =
            level > 0.0 ? 10.0 * std::log10(level) : -std::numeric_limits<double>::infinity();
        const double nad = harmonics + noiseTotal;
        figures.SinadDb = nad > 0.0 ? 10.0 * std::log10(fundamental / nad) : infinity;
        figures.EnobBits = EffectiveBits(std::sqrt(nad));
    } else {
        // Every bin belongs to a tone: nothing tells the noise.
        figures.ThdNPercent = figures.ThdPercent;
        figures.SnrDb = std::numeric_limits<double>::infinity();
        figures.NoiseFloorDbv = -std::numeric_limits<double>::infinity();
        figures.SinadDb = harmonics > 0.0 ? 10.0 * std::log10(fundamental / harmonics) : infinity;
        figures.EnobBits = EffectiveBits(std::sqrt(harmonics));
    }
    return figures;
}

}  // namespace measure
