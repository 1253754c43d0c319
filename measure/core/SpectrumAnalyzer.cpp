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

}  // namespace measure
