#pragma once

#include <array>
#include <cstdint>

namespace measure {

// The highest harmonic the distortion figures take in.
inline constexpr std::uint32_t HighestHarmonic = 10;

// How the bins of a packed spectrum (the transform's layout: real parts of
// bins 0 .. N/2, then the negated imaginary parts of bins 1 .. N/2 - 1) turn
// into volts: the frame length N, the window's half-width H in bins (its main
// lobe reaches H bins to either side of a tone), the sum of its N values and
// the mean of its squared values.
struct SpectrumScale {
    std::uint32_t Length = 0;
    std::uint32_t HalfWidth = 0;
    double WindowSum = 0.0;
    double WindowMeanSquare = 0.0;
};

// Distortion and noise of one channel's frame, read from the windowed
// spectrum the estimate used, around the tone the estimate found at `centre`
// bins (c below).
//
// The bins. Each bin k holds the power v_k^2 = 2 |X_k|^2 / (N^2 * ms) (ms the
// window's mean square): a tone's v_k^2 summed over its main lobe is its RMS
// squared, and white noise of variance s^2 gives s^2 / (N/2) per bin.
// - DC: bins 0 .. H (the window spreads DC over its main lobe) and the
//   Nyquist bin N/2 belong to nothing; only bins H < k < N/2 count.
// - The fundamental: bins with |k - round(c)| <= H, the whole main lobe of a
//   tone centred anywhere within half a bin of round(c). V1^2 is their sum.
// - Harmonic m = 2 .. 10, only when m * c < N/2 (below Nyquist; one beyond is
//   folded back somewhere else and counts as noise): bins with
//   |k - round(m * c)| <= H, V_m^2 their sum. A bin that would fall into two
//   bands (only for tones below the exact band, c < 2H + 1) goes to the lower.
// - Noise: every other counted bin. Its mean power per bin p, times N/2
//   bins, is the noise power P_N of the whole band 0 .. Fs/2 (noise under the
//   tone's and harmonics' bands is taken to be like the rest).
//
// The figures:
// - THD (%)   = 100 * sqrt(sum V_m^2) / V1;
// - THD+N (%) = 100 * sqrt(sum V_m^2 + P_N) / V1;
// - SNR (dB)  = 10 * log10(V1^2 / P_N), +infinity when no noise was seen;
// - the noise floor (dBV per bin) = 10 * log10(p * ms / a0^2), the level in
//   volts RMS at which the noise lies in the plotted spectrum, whose bins are
//   scaled so that a tone's peak reads its RMS (SpectrumLevelScale).
// With the measurement window (7 terms, H = 7) a pure tone reads a THD far
// below 1e-5 %: its side lobes outside the main lobe lie under -160 dB.
struct SpectrumFigures {
    // A fundamental with power was there; otherwise every figure is 0.
    bool Valid = false;
    double Fundamental = 0.0;  // V1, volts RMS
    // V_m, volts RMS, index m = 2 .. 10; 0 for a harmonic not counted.
    std::array<double, HighestHarmonic + 1> Harmonics{};
    std::uint32_t HarmonicCount = 0;  // harmonics below Nyquist taken in
    double ThdPercent = 0.0;
    double ThdNPercent = 0.0;
    double SnrDb = 0.0;
    double NoiseFloorDbv = 0.0;
    std::uint32_t NoiseBins = 0;  // the bins the noise was taken from
    // The converter's figures of IEEE 1241, NAD = sqrt(sum V_m^2 + P_N) the
    // RMS of noise and distortion:
    // - SINAD (dB) = 20 * log10(V1 / NAD), +infinity without either;
    // - ENOB (bits) = log2(10 V / (NAD * sqrt 12)), for the +-5 V range;
    // - SFDR (dBc) = 20 * log10(V1 / Vs), Vs the largest spur: the band
    //   [p - H, p + H] around the strongest counted bin p outside the
    //   fundamental's band (a harmonic or any other tone, or the noise's
    //   highest peak), at SpurCentre bins (its power-weighted centre).
    double SinadDb = 0.0;
    double EnobBits = 0.0;
    double SfdrDbc = 0.0;
    double SpurCentre = 0.0;
};

// The figures of the spectrum around a tone centred at `centre` bins; no
// figure (Valid false) for a missing spectrum, a scale without a window, a
// centre outside (H, N/2) or a fundamental without power. Reads the spectrum
// once, allocates nothing.
SpectrumFigures ComputeSpectrumFigures(const double* spectrum, const SpectrumScale& scale,
                                       double centre) noexcept;

// The factor that turns |X_k|^2 of a windowed spectrum into the squared RMS a
// tone centred on bin k reads at its peak: 2 / (sum of the window)^2; the DC
// bin takes half of it.
double SpectrumLevelScale(const SpectrumScale& scale) noexcept;

}  // namespace measure
