#include "SineFit.h"

#include "ChannelEstimator.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace measure {

namespace {

constexpr double Pi = std::numbers::pi;

double BinPower(const double* re, const double* im, long k) noexcept
{
    return re[k] * re[k] + im[k] * im[k];
}

// Bins [First, Last] left out of the noise.
struct Band {
    long First = 0;
    long Last = -1;
};

// A side tone from its spectral reading, moved from the first sample to the
// frame's centre.
SideTone SideToneOf(const SpectralTone& tone, std::uint32_t length) noexcept
{
    SideTone side;
    side.Omega = 2.0 * Pi * tone.Centre / length;
    const double amplitude = tone.Rms * std::numbers::sqrt2;
    // The reading is the negated phase at n = 0; at the centre the phase has
    // advanced by Omega (N - 1) / 2.
    const double phase = -tone.Phase + side.Omega * 0.5 * (length - 1.0);
    side.Re = amplitude * std::cos(phase);
    side.Im = amplitude * std::sin(phase);
    return side;
}

// Per-sample sums of one channel at the pass's frequency.
struct ChannelSums {
    double Sc = 0.0;   // sum x cos
    double Ss = 0.0;   // sum x sin
    double S1 = 0.0;   // sum x
    double Stc = 0.0;  // sum t x cos
    double Sts = 0.0;  // sum t x sin
    double Srr = 0.0;  // sum of the squared residual of the previous pass's model
};

// The sums the model's basis makes with itself; by the centred time's
// symmetry sum(cos sin), sum(sin), sum(t cos), sum(t cos^2), sum(t sin^2)
// and sum(t^2 cos sin) vanish.
struct BasisSums {
    double C2 = 0.0;    // cos^2
    double S2 = 0.0;    // sin^2
    double C1 = 0.0;    // cos
    double Tsc = 0.0;   // t sin cos
    double Ts = 0.0;    // t sin
    double T2c2 = 0.0;  // t^2 cos^2
    double T2s2 = 0.0;  // t^2 sin^2
};

// Samples between exact cos/sin seeds; the rotation in between drifts by a
// few ulps per sample at most.
constexpr std::uint32_t SeedBlock = 64;

}  // namespace

SpectralTone ReadSpectralTone(const double* spectrum, const SpectrumScale& scale,
                              long peak) noexcept
{
    SpectralTone tone;
    const long half = scale.Length / 2;
    const long width = scale.HalfWidth;
    if (spectrum == nullptr || !(scale.WindowMeanSquare > 0.0) || peak - width <= width ||
        peak + width - 1 >= half) {
        return tone;
    }
    const double* re = spectrum;
    const double* im = spectrum + half;
    long double power = 0.0L;
    long double moment = 0.0L;
    for (long k = peak - width; k <= peak + width - 1; ++k) {
        const auto q = static_cast<long double>(BinPower(re, im, k));
        power += q;
        moment += static_cast<long double>(k) * q;
    }
    if (!(power > 0.0L)) {
        return tone;
    }
    const long double centre = moment / power;
    const double n = scale.Length;
    // |X_k|^2 to the squared RMS, as the specified estimate scales its band.
    tone.Rms = std::sqrt(static_cast<double>(power) * 2.0 / (n * n * scale.WindowMeanSquare));
    tone.Centre = static_cast<double>(centre);
    const long k0 = static_cast<long>(std::floor(centre));
    const double p0 = k0 > 0 && k0 < half ? std::atan2(im[k0], re[k0]) : 0.0;
    // The phase falls by pi per bin over the main lobe.
    tone.Phase = p0 + Pi * static_cast<double>(centre - static_cast<long double>(k0));
    tone.Valid = std::isfinite(tone.Rms) && std::isfinite(tone.Phase);
    return tone;
}

FrameNoise ReadFrameNoise(const double* spectrum, const SpectrumScale& scale,
                          double centre) noexcept
{
    FrameNoise noise;
    const long half = scale.Length / 2;
    const long width = scale.HalfWidth;
    if (spectrum == nullptr || half <= 2 * width + 2 || !(scale.WindowMeanSquare > 0.0) ||
        !std::isfinite(centre)) {
        return noise;
    }
    const double* re = spectrum;
    const double* im = spectrum + half;
    const long first = width + 1;
    const long last = half - 1;

    // The fundamental and harmonics 2 .. 10 below Nyquist, then tones found.
    constexpr std::size_t MaxBands = HighestHarmonic + MaxSideTones;
    std::array<Band, MaxBands> bands{};
    std::size_t bandCount = 0;
    const auto bandAround = [&](long middle) {
        return Band{std::max(middle - width, first), std::min(middle + width, last)};
    };
    bands[bandCount++] = bandAround(std::lround(centre));
    for (std::uint32_t m = 2; m <= HighestHarmonic; ++m) {
        const double at = m * centre;
        if (!(at < static_cast<double>(half))) {
            break;
        }
        bands[bandCount++] = bandAround(std::lround(at));
    }
    const std::size_t harmonicBands = bandCount;

    // The counted bins outside every band, in rising runs: the bands sorted
    // and merged into a copy, then visit(first, last) for each gap.
    const auto forEachGap = [&](auto&& visit) {
        std::array<Band, MaxBands> sorted{};
        std::copy_n(bands.begin(), bandCount, sorted.begin());
        std::sort(sorted.begin(), sorted.begin() + static_cast<long>(bandCount),
                  [](const Band& x, const Band& y) { return x.First < y.First; });
        long next = first;
        for (std::size_t b = 0; b < bandCount; ++b) {
            if (sorted[b].First > sorted[b].Last) {
                continue;
            }
            if (sorted[b].First > next) {
                visit(next, sorted[b].First - 1);
            }
            next = std::max(next, sorted[b].Last + 1);
        }
        if (next <= last) {
            visit(next, last);
        }
    };
    const auto floorOf = [&](std::uint32_t& bins) {
        double sum = 0.0;
        long count = 0;
        forEachGap([&](long from, long to) {
            for (long k = from; k <= to; ++k) {
                sum += BinPower(re, im, k);
            }
            count += to - from + 1;
        });
        bins = static_cast<std::uint32_t>(count);
        return count > 0 ? sum / static_cast<double>(count) : 0.0;
    };
    std::uint32_t bins = 0;
    const double roughFloor = floorOf(bins);

    // Other tones: peaks of the main lobe far above the floor, not in a band.
    std::uint32_t toneCount = 0;
    const double threshold = SideToneToFloorRatio * roughFloor;
    const auto overlaps = [&](Band band) {
        for (std::size_t b = 0; b < bandCount; ++b) {
            if (band.First <= bands[b].Last && band.Last >= bands[b].First) {
                return true;
            }
        }
        return false;
    };
    // Candidates first (the bands may not change while the gaps are walked).
    std::array<long, MaxSideTones> candidates{};
    std::size_t candidateCount = 0;
    forEachGap([&](long from, long to) {
        for (long k = std::max(from, first + 1); k <= std::min(to, last - 1); ++k) {
            const double m = BinPower(re, im, k);
            if (m > threshold && candidateCount < MaxSideTones && m >= BinPower(re, im, k - 1) &&
                m >= BinPower(re, im, k + 1)) {
                candidates[candidateCount++] = k;
                k += width;
            }
        }
    });
    for (std::size_t i = 0; i < candidateCount && bandCount < MaxBands; ++i) {
        // A peak whose lobe runs into a band is that band's tone's flank.
        const Band band = bandAround(candidates[i]);
        if (!overlaps(band)) {
            bands[bandCount++] = band;
        }
    }
    noise.Variance = floorOf(bins) / (scale.Length * scale.WindowMeanSquare);
    noise.NoiseBins = bins;
    noise.Valid = bins > 0;

    // The side tones: harmonics that stand above the floor, and the others;
    // none below SideToneFloor of the fundamental, where the window's side
    // lobes and the rounding lie.
    const double floor = noise.Variance * scale.Length * scale.WindowMeanSquare;
    double fundamental = 0.0;
    for (long k = bands[0].First; k <= bands[0].Last; ++k) {
        fundamental += BinPower(re, im, k);
    }
    for (std::size_t b = 1; b < bandCount && toneCount < MaxSideTones; ++b) {
        long peak = bands[b].First;
        double largest = -1.0;
        double sum = 0.0;
        for (long k = bands[b].First; k <= bands[b].Last; ++k) {
            const double m = BinPower(re, im, k);
            sum += m;
            if (m > largest) {
                largest = m;
                peak = k;
            }
        }
        const long binsInBand = bands[b].Last - bands[b].First + 1;
        if (!(sum >= SideToneFloor * fundamental) ||
            (b < harmonicBands &&
             !(binsInBand > 0 && sum / static_cast<double>(binsInBand) >= ToneToFloorRatio * floor))) {
            continue;
        }
        const SpectralTone tone = ReadSpectralTone(spectrum, scale, peak);
        if (tone.Valid) {
            noise.Tones[toneCount++] = SideToneOf(tone, scale.Length);
        }
    }
    noise.ToneCount = toneCount;
    return noise;
}

double CentredDirichlet(double a, std::uint32_t length) noexcept
{
    const double s = std::sin(0.5 * a);
    if (std::fabs(s) < 1e-300) {
        return length;
    }
    return std::sin(0.5 * length * a) / s;
}

double CentredDirichletSlope(double a, std::uint32_t length) noexcept
{
    // d/da of sin(N a / 2) / sin(a / 2); the sum of t sin(a t) is its negative.
    const double s = std::sin(0.5 * a);
    if (std::fabs(s) < 1e-300) {
        return 0.0;
    }
    const double n = length;
    return (0.5 * n * std::cos(0.5 * n * a) * s - 0.5 * std::sin(0.5 * n * a) * std::cos(0.5 * a)) /
           (s * s);
}

bool FitSharedTone(FitChannel* channels, std::size_t count, std::uint32_t length,
                   double& omega) noexcept
{
    constexpr std::size_t MaxChannels = 8;
    if (channels == nullptr || count == 0 || count > MaxChannels || length < 8 ||
        !(omega > 0.0) || !(omega < Pi)) {
        return false;
    }
    const double n = length;
    const double middle = 0.5 * (n - 1.0);
    const double maxStep = 2.0 * Pi * MaxFitStepBins / n;
    double w = omega;
    std::array<double, MaxChannels> a{};
    std::array<double, MaxChannels> b{};
    std::array<double, MaxChannels> d{};
    std::array<double, MaxChannels> residual{};
    bool haveModel = false;

    for (int pass = 0; pass < FitPasses; ++pass) {
        std::array<ChannelSums, MaxChannels> sums{};
        BasisSums basis;
        const double cw = std::cos(w);
        const double sw = std::sin(w);
        for (std::uint32_t start = 0; start < length; start += SeedBlock) {
            const std::uint32_t end = std::min(length, start + SeedBlock);
            double c = std::cos(w * (start - middle));
            double s = std::sin(w * (start - middle));
            for (std::uint32_t i = start; i < end; ++i) {
                const double t = i - middle;
                basis.C2 += c * c;
                basis.S2 += s * s;
                basis.C1 += c;
                basis.Tsc += t * s * c;
                basis.Ts += t * s;
                basis.T2c2 += t * t * c * c;
                basis.T2s2 += t * t * s * s;
                for (std::size_t j = 0; j < count; ++j) {
                    const double x = channels[j].Samples[i * channels[j].Stride];
                    ChannelSums& sum = sums[j];
                    sum.Sc += x * c;
                    sum.Ss += x * s;
                    sum.S1 += x;
                    sum.Stc += t * x * c;
                    sum.Sts += t * x * s;
                    if (haveModel) {
                        const double r = x - (a[j] * c + b[j] * s + d[j]);
                        sum.Srr += r * r;
                    }
                }
                const double nc = c * cw - s * sw;
                s = s * cw + c * sw;
                c = nc;
            }
        }
        if (haveModel) {
            for (std::size_t j = 0; j < count; ++j) {
                residual[j] = sums[j].Srr / n;
            }
        }

        // Each channel's side tones out of its sums, in closed form.
        for (std::size_t j = 0; j < count; ++j) {
            const FrameNoise* noise = channels[j].Noise;
            if (noise == nullptr) {
                continue;
            }
            ChannelSums& sum = sums[j];
            for (std::uint32_t k = 0; k < noise->ToneCount; ++k) {
                const SideTone& tone = noise->Tones[k];
                const double pPlus = CentredDirichlet(tone.Omega + w, length);
                const double pMinus = CentredDirichlet(tone.Omega - w, length);
                const double qPlus = CentredDirichletSlope(tone.Omega + w, length);
                const double qMinus = CentredDirichletSlope(tone.Omega - w, length);
                sum.Sc -= 0.5 * tone.Re * (pPlus + pMinus);
                sum.Ss -= 0.5 * tone.Im * (pPlus - pMinus);
                sum.S1 -= tone.Re * CentredDirichlet(tone.Omega, length);
                sum.Stc -= 0.5 * tone.Im * (qPlus + qMinus);
                sum.Sts -= -0.5 * tone.Re * (qPlus - qMinus);
            }
        }

        // The linear parameters at w, then one Gauss-Newton step in w with
        // them eliminated (the Schur complement of each channel's block).
        const double det = basis.C2 * n - basis.C1 * basis.C1;
        if (!(det > 0.0) || !(basis.S2 > 0.0)) {
            return false;
        }
        std::array<double, MaxChannels> ua{};
        std::array<double, MaxChannels> ub{};
        std::array<double, MaxChannels> ud{};
        double numerator = 0.0;
        double denominator = 0.0;
        for (std::size_t j = 0; j < count; ++j) {
            const ChannelSums& sum = sums[j];
            const double aj = (n * sum.Sc - basis.C1 * sum.S1) / det;
            const double dj = (basis.C2 * sum.S1 - basis.C1 * sum.Sc) / det;
            const double bj = sum.Ss / basis.S2;
            // The frequency column against the cos, sin and offset columns.
            const double gc = -aj * basis.Tsc;
            const double gs = bj * basis.Tsc;
            const double g1 = -aj * basis.Ts;
            const double gg = bj * bj * basis.T2c2 + aj * aj * basis.T2s2;
            const double gr = bj * sum.Stc - aj * sum.Sts - (bj * bj - aj * aj) * basis.Tsc +
                              aj * dj * basis.Ts;
            ua[j] = (n * gc - basis.C1 * g1) / det;
            ud[j] = (basis.C2 * g1 - basis.C1 * gc) / det;
            ub[j] = gs / basis.S2;
            const double reduced = gg - (gc * ua[j] + gs * ub[j] + g1 * ud[j]);
            const double weight = 1.0 / std::max(channels[j].Variance,
                                                 std::numeric_limits<double>::min() * 1e16);
            numerator += weight * gr;
            denominator += weight * reduced;
            a[j] = aj;
            b[j] = bj;
            d[j] = dj;
        }
        if (!(denominator > 0.0)) {
            return false;
        }
        const double step = numerator / denominator;
        if (!std::isfinite(step) || std::fabs(step) > maxStep) {
            return false;
        }
        w += step;
        for (std::size_t j = 0; j < count; ++j) {
            a[j] -= ua[j] * step;
            b[j] -= ub[j] * step;
            d[j] -= ud[j] * step;
        }
        haveModel = true;
        if (std::fabs(w - omega) > maxStep || !(w > 0.0) || !(w < Pi)) {
            return false;
        }
    }

    omega = w;
    for (std::size_t j = 0; j < count; ++j) {
        FitChannel& channel = channels[j];
        // a cos + b sin = A cos(w t - atan2(b, a)).
        channel.Amplitude = std::hypot(a[j], b[j]);
        channel.PhaseCentre = -std::atan2(b[j], a[j]);
        channel.Offset = d[j];
        channel.ResidualMeanSquare = residual[j];
    }
    return true;
}

ReadingSpread CramerRaoSpread(double amplitude, double variance, std::uint32_t length) noexcept
{
    ReadingSpread spread;
    const double n = length;
    if (!(amplitude > 0.0) || !(variance >= 0.0) || length < 2) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan, nan};
    }
    const double a2 = amplitude * amplitude;
    spread.Rms = std::sqrt(variance / n);
    spread.Omega = std::sqrt(24.0 * variance / (a2 * n * (n * n - 1.0)));
    spread.Phase = std::sqrt(2.0 * variance / (a2 * n));
    return spread;
}

double FftVoltageSpreadFactor(const double* window, std::uint32_t length) noexcept
{
    if (window == nullptr || length == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    long double s2 = 0.0L;
    long double s4 = 0.0L;
    for (std::uint32_t i = 0; i < length; ++i) {
        const long double w2 = static_cast<long double>(window[i]) * window[i];
        s2 += w2;
        s4 += w2 * w2;
    }
    return static_cast<double>(std::sqrt(static_cast<long double>(length) * s4 / (s2 * s2)));
}

ReadingSpread FftSpread(double amplitude, double variance, std::uint32_t length,
                        double voltageFactor) noexcept
{
    ReadingSpread spread = CramerRaoSpread(amplitude, variance, length);
    const double shift = 0.5 * (static_cast<double>(length) - 1.0);
    spread.Rms *= voltageFactor;
    spread.Omega *= FftFrequencySpreadFactor;
    const double centre = FftCentrePhaseSpreadFactor * spread.Phase;
    spread.Phase = std::sqrt(centre * centre + shift * shift * spread.Omega * spread.Omega);
    return spread;
}

double EffectiveBits(double nadRms) noexcept
{
    if (!(nadRms > 0.0)) {
        return std::numeric_limits<double>::infinity();
    }
    return std::log2(FullScaleRange / (nadRms * std::sqrt(12.0)));
}

}  // namespace measure
