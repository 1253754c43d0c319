#pragma once

#include "SpectrumFigures.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace measure {

// A tone of a frame besides the one measured (a harmonic, hum, a second
// tone), as the windowed spectrum reads it, referred to the frame's centre:
// y(t) = Re * cos(Omega * t) - Im * sin(Omega * t), t = n - (N - 1) / 2
// samples, Omega in radians per sample.
struct SideTone {
    double Omega = 0.0;
    double Re = 0.0;
    double Im = 0.0;
};

// Side tones kept per channel; more are rare and left to the noise.
inline constexpr std::size_t MaxSideTones = 24;
// A bin of a tone other than the fundamental and its harmonics stands this
// far above the first guess of the floor: white noise reaches it in a bin
// with a chance of e^-20.
inline constexpr double SideToneToFloorRatio = 20.0;

// The weakest side tone taken out, against the fundamental's power: the
// measurement window's side lobes lie 20 dB below it.
inline constexpr double SideToneFloor = 1e-14;

// What a channel's windowed spectrum tells of its frame beyond the
// estimate: the white noise's variance per sample, read from the bins that
// belong to no tone (outside DC, the fundamental, harmonics 2 .. 10 and any
// other tone standing out), and the side tones that the sine fit takes out.
struct FrameNoise {
    bool Valid = false;
    double Variance = 0.0;  // V^2 per sample
    std::uint32_t NoiseBins = 0;
    std::uint32_t ToneCount = 0;
    std::array<SideTone, MaxSideTones> Tones{};
};

// A tone read from the windowed spectrum the way the specified estimate
// reads its fundamental: the band [p - H, p + H - 1] around the peak bin p,
// its power-weighted centre, and the phase interpolated from the two bins
// around the centre. Valid false when the band leaves (H, N/2).
struct SpectralTone {
    bool Valid = false;
    double Rms = 0.0;     // volts
    double Centre = 0.0;  // bins
    double Phase = 0.0;   // radians: a cos(2 pi c n / N + phi) reads -phi
};
SpectralTone ReadSpectralTone(const double* spectrum, const SpectrumScale& scale,
                              long peak) noexcept;

// The noise and side tones of one channel's spectrum around its fundamental
// at `centre` bins; not Valid for a missing spectrum or a scale without a
// window. Reads the spectrum twice, allocates nothing.
FrameNoise ReadFrameNoise(const double* spectrum, const SpectrumScale& scale,
                          double centre) noexcept;

// One channel of a sine fit: its raw samples (every Stride-th value), the
// weight of its noise and the side tones to take out; the fit writes the
// rest.
struct FitChannel {
    const double* Samples = nullptr;
    std::size_t Stride = 1;
    double Variance = 0.0;  // noise variance per sample, V^2; weighs the channel
    const FrameNoise* Noise = nullptr;
    // Results: Amplitude * cos(Omega * t + PhaseCentre) + Offset, t from the
    // frame's centre, and the mean square of what the fit leaves (noise and
    // distortion).
    double Amplitude = 0.0;    // volts, peak
    double PhaseCentre = 0.0;  // radians
    double Offset = 0.0;       // volts
    double ResidualMeanSquare = 0.0;
};

// The largest step the fit accepts from the spectral estimate, in bins: a
// step beyond it means the fit has lost the tone.
inline constexpr double MaxFitStepBins = 0.5;
// Gauss-Newton passes over the samples; the spectral estimate is close
// enough that the second only confirms the first.
inline constexpr int FitPasses = 2;

// The four-parameter sine fit of channels that carry one tone, with one
// frequency for all of them (each its own amplitude, phase and offset),
// refined from omega (radians per sample) by Gauss-Newton on N samples.
// Each channel's side tones are taken out of its sums in closed form, so a
// harmonic or a second tone leaks nothing into the fit. false (channels and
// omega as they were) when the fit cannot be made or runs away.
// Allocates nothing.
bool FitSharedTone(FitChannel* channels, std::size_t count, std::uint32_t length,
                   double& omega) noexcept;

// The sums of cos(a t) and t sin(a t) over t = n - (N - 1) / 2, n = 0 .. N-1:
// sin(N a / 2) / sin(a / 2) and minus its derivative. For tests.
double CentredDirichlet(double a, std::uint32_t length) noexcept;
double CentredDirichletSlope(double a, std::uint32_t length) noexcept;

// Standard uncertainties (k = 1, type A: the frame's noise only) of a tone's
// readings over N samples with white noise of `variance` per sample and a
// peak amplitude `amplitude`.
struct ReadingSpread {
    double Rms = 0.0;    // volts, of the RMS value
    double Omega = 0.0;  // radians per sample
    double Phase = 0.0;  // radians, of the phase the method reports
};
// The Cramer-Rao bound of the four-parameter model with the phase at the
// frame's centre: var(rms) = s^2 / N, var(omega) = 24 s^2 / (A^2 N (N^2 - 1)),
// var(phi) = 2 s^2 / (A^2 N). What the sine fit reaches.
ReadingSpread CramerRaoSpread(double amplitude, double variance, std::uint32_t length) noexcept;

// The specified estimate's own spread, the bound times factors of its
// window: the voltage's follows from the window alone, sqrt(N sum w^4 /
// (sum w^2)^2) (the band's power is a w^2-weighted sum of the samples); the
// frequency's and the centre phase's were measured by bench_precision over
// integer, half and random bins, N = 1024 .. 65536, 20 .. 100 dB (19 500
// frames; the single cases lie within +-15 % of them). The phase is taken at the
// first sample, so the frequency's error enters it with (N - 1) / 2 samples:
// var = var(centre phase) + ((N - 1) / 2)^2 var(omega).
inline constexpr double FftFrequencySpreadFactor = 5.07;
inline constexpr double FftCentrePhaseSpreadFactor = 1.89;
double FftVoltageSpreadFactor(const double* window, std::uint32_t length) noexcept;
ReadingSpread FftSpread(double amplitude, double variance, std::uint32_t length,
                        double voltageFactor) noexcept;

// IEEE 1241's effective number of bits for the module's +-5 V range from the
// RMS of noise and distortion: log2(FSR / (NAD sqrt 12)), FSR = 10 V.
inline constexpr double FullScaleRange = 10.0;
double EffectiveBits(double nadRms) noexcept;

}  // namespace measure
