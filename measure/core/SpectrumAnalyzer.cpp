#include "SpectrumAnalyzer.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace measure {

SpectrumAnalyzer::SpectrumAnalyzer(std::uint32_t length, const StopFlag* stop) : stop_(stop)
{
    if (length != 0) {
        engine_ = std::make_unique<ffft::FFTReal>(static_cast<long>(length), stop_);
        length_ = length;
    }
}

bool SpectrumAnalyzer::SetLength(std::uint32_t length)
{
    if (length == 0 || !ffft::FFTReal_is_pow2(static_cast<long>(length))) {
        return false;
    }
    if (length != length_ || !engine_) {
        // Keep the stop flag: a stop request must still end a long transform.
        engine_ = std::make_unique<ffft::FFTReal>(static_cast<long>(length), stop_);
        length_ = length;
    }
    return true;
}

bool SpectrumAnalyzer::BuildWindow(double* window, int type) noexcept
{
    return measure::BuildWindow(window_, type, window, length_, stop_);
}

void SpectrumAnalyzer::ApplyWindow(double* samples, const double* window) const noexcept
{
    if (samples == nullptr || window == nullptr) {
        return;
    }
    for (std::uint32_t i = 0; i < length_; ++i) {
        samples[i] = window[i] * samples[i];
    }
}

bool SpectrumAnalyzer::Transform(const double* samples, double* spectrum)
{
    if (samples == nullptr || spectrum == nullptr || length_ == 0 || !engine_ ||
        samples == spectrum) {
        return false;
    }
    engine_->forward_transform(samples, spectrum);
    return true;
}

bool SpectrumAnalyzer::TransformWindowed(const double* samples, std::size_t stride,
                                         const double* window, double* spectrum)
{
    if (samples == nullptr || window == nullptr || spectrum == nullptr || stride == 0 ||
        stride > static_cast<std::size_t>(std::numeric_limits<long>::max()) || length_ == 0 ||
        !engine_) {
        return false;
    }
    try {
        engine_->forward_transform(samples, static_cast<long>(stride), window, spectrum);
    } catch (const std::invalid_argument&) {
        return false;
    }
    return true;
}

bool SpectrumAnalyzer::AmplitudeSpectrum(const double* spectrum, double* amplitudes) const noexcept
{
    if (spectrum == nullptr || amplitudes == nullptr || length_ == 0 || !engine_) {
        return false;
    }
    const std::uint32_t half = length_ / 2;
    amplitudes[0] = static_cast<double>(static_cast<long double>(spectrum[0]) / length_);
    const long double scale = half;
    for (std::uint32_t k = 1; k < half; ++k) {
        const auto re = static_cast<long double>(spectrum[k]);
        const auto im = static_cast<long double>(spectrum[half + k]);
        amplitudes[k] = static_cast<double>(std::sqrt(re * re + im * im) / scale);
    }
    if (half > 0) {
        amplitudes[half] = 0.0;
    }
    return true;
}

bool SpectrumAnalyzer::PhaseSpectrum(const double* spectrum, double* phases) const noexcept
{
    if (spectrum == nullptr || phases == nullptr || length_ == 0 || !engine_) {
        return false;
    }
    const std::uint32_t half = length_ / 2;
    phases[0] = 0.0;
    for (std::uint32_t k = 1; k < half; ++k) {
        phases[k] = std::atan2(spectrum[half + k], spectrum[k]);
    }
    // Nothing defines the Nyquist phase; the phase interpolation may read it.
    phases[half] = 0.0;
    return true;
}

long SpectrumAnalyzer::FindPeak(const double* amplitudes) const noexcept
{
    if (amplitudes == nullptr) {
        return -1;
    }
    const long begin = window_.PeakHalfWidth;
    const long end = length_ / 2;
    long peak = -1;
    for (long k = begin; k < end; ++k) {
        if (peak < 0 || amplitudes[k] > amplitudes[peak]) {
            peak = k;
        }
    }
    return peak;
}

}  // namespace measure
