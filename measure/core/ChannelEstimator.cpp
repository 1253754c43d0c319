#include "ChannelEstimator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

namespace measure {

const RunMethod& RunMethodFromText(std::string_view text) noexcept
{
    for (const RunMethod& method : RunMethods) {
        if (method.Text == text) {
            return method;
        }
    }
    return RunMethods[0];
}

CalcMethod CalcMethodFromText(std::string_view text) noexcept
{
    // The shared key's own two values; "fit" is the window's and the tool's.
    const RunMethod& method = RunMethodFromText(text);
    return method.SineFit ? CalcMethod::Sum : method.Estimate;
}

bool IsSineFitText(std::string_view text) noexcept
{
    return RunMethodFromText(text).SineFit;
}

AmplitudeType AmplitudeTypeFromText(std::string_view text) noexcept
{
    return text == AmplitudeTypeRmsText ? AmplitudeType::Rms : AmplitudeType::Amp;
}

SpectrumPeak FindSpectrumPeak(const double* spectrum, std::uint32_t length,
                              std::uint32_t halfWidth) noexcept
{
    SpectrumPeak found;
    const std::uint32_t half = length / 2;
    if (spectrum == nullptr || halfWidth >= half) {
        return found;
    }
    const double* re = spectrum;
    const double* im = spectrum + half;  // bins 1 .. N/2 - 1; bin 0 is real
    found.Bin = halfWidth;
    double largest = halfWidth == 0 ? re[0] * re[0]
                                    : re[halfWidth] * re[halfWidth] + im[halfWidth] * im[halfWidth];
    // Bin H is searched but not summed: the floor, like the band, counts
    // only the bins above H. Four partial sums keep the additions from
    // holding up the search; the bins are still compared in order.
    std::array<double, 4> sums{};
    const auto visit = [&](std::uint32_t k, double& sum) {
        const double m = re[k] * re[k] + im[k] * im[k];
        sum += m;
        if (m > largest) {
            largest = m;
            found.Bin = static_cast<long>(k);
        }
    };
    std::uint32_t k = halfWidth + 1;
    for (; k + 4 <= half; k += 4) {
        visit(k, sums[0]);
        visit(k + 1, sums[1]);
        visit(k + 2, sums[2]);
        visit(k + 3, sums[3]);
    }
    for (; k < half; ++k) {
        visit(k, sums[0]);
    }
    found.PowerAboveH = (sums[0] + sums[1]) + (sums[2] + sums[3]);
    return found;
}

ExactBand ExactBandOf(std::uint32_t length, std::uint32_t halfWidth) noexcept
{
    return {2.0 * halfWidth + 1.0, static_cast<double>(length / 2) - halfWidth - 1.0};
}

bool InExactBand(double centre, std::uint32_t length, std::uint32_t halfWidth) noexcept
{
    const ExactBand band = ExactBandOf(length, halfWidth);
    return centre >= band.Low && centre <= band.High;
}

bool ToneStandsOut(double bandPower, std::uint32_t bandBins, double otherPower,
                   std::uint32_t otherBins, double framePower) noexcept
{
    if (bandBins == 0 || !(bandPower > 0.0) || !(bandPower >= MinimumTonePower * framePower)) {
        return false;
    }
    if (otherBins == 0 || !(otherPower > 0.0)) {
        return true;  // nothing to compare with: no floor to stand above
    }
    return bandPower / bandBins >= ToneToFloorRatio * (otherPower / otherBins);
}

ChannelEstimator::ChannelEstimator(CalcMethod method, AmplitudeType amplitude, std::uint32_t length,
                                   double adcRate, const StopFlag* stop)
    : method_(method), amplitude_(amplitude), length_(length), adcRate_(adcRate), stop_(stop)
{
    if (length == 0) {
        throw std::invalid_argument("ChannelEstimator: frame length is 0");
    }
    if (!(adcRate > 0.0) || !std::isfinite(adcRate)) {
        throw std::invalid_argument("ChannelEstimator: ADC rate " + std::to_string(adcRate) +
                                    " is not a positive number");
    }
    if (method == CalcMethod::Fft) {
        if (!ffft::FFTReal_is_pow2(static_cast<long>(length))) {
            throw std::invalid_argument("ChannelEstimator: frame length " + std::to_string(length) +
                                        " is not a power of two");
        }
        analyzer_ = std::make_unique<SpectrumAnalyzer>(length, stop);
    }
}

bool ChannelEstimator::BuildWindow(double* window)
{
    windowReady_ = false;
    if (window == nullptr) {
        return false;
    }
    if (analyzer_) {
        if (!analyzer_->BuildWindow(window, MeasurementWindowType) || Stopped()) {
            return false;
        }
        windowSum_ = analyzer_->WindowSum();
        windowMeanSquare_ = analyzer_->WindowMeanSquare();
    } else {
        if (!measure::BuildWindow(sumWindow_, MeasurementWindowType, window, length_, stop_) ||
            Stopped()) {
            return false;
        }
        windowSum_ = measure::WindowSum(sumWindow_, length_);
        windowMeanSquare_ = measure::WindowMeanSquare(sumWindow_);
    }
    windowReady_ = true;
    return true;
}

bool ChannelEstimator::ShareWindow(const ChannelEstimator& owner) noexcept
{
    windowReady_ = false;
    if (!owner.windowReady_ || owner.method_ != method_ || owner.length_ != length_) {
        return false;
    }
    if (analyzer_) {
        if (!analyzer_->LoadWindow(MeasurementWindowType)) {
            return false;
        }
    } else {
        sumWindow_ = owner.sumWindow_;
    }
    windowSum_ = owner.windowSum_;
    windowMeanSquare_ = owner.windowMeanSquare_;
    windowReady_ = true;
    return true;
}

ChannelEstimate ChannelEstimator::Estimate(const EstimateBuffers& buffers)
{
    if (!windowReady_ || buffers.Samples == nullptr || buffers.Window == nullptr) {
        return {};
    }
    if (Stopped()) {
        return {EstimateOutcome::Stopped};
    }
    return method_ == CalcMethod::Fft ? EstimateFft(buffers) : EstimateSum(buffers);
}

double ChannelEstimator::ScaleVoltage(double rms) const noexcept
{
    return amplitude_ == AmplitudeType::Rms ? rms : rms * std::numbers::sqrt2;
}

ChannelEstimate ChannelEstimator::EstimateSum(const EstimateBuffers& buffers) const
{
    ChannelEstimate result;
    result.Voltage =
        ScaleVoltage(WindowedRms(buffers.Samples, buffers.Window, length_, windowSum_));
    result.Outcome = EstimateOutcome::Ok;
    return result;
}

ChannelEstimate ChannelEstimator::EstimateFft(const EstimateBuffers& buffers)
{
    if (buffers.Spectrum == nullptr || buffers.Amplitudes == nullptr || buffers.Phases == nullptr) {
        return {};
    }
    SpectrumAnalyzer& analyzer = *analyzer_;
    // Unless the samples carry the window already, it is applied as the
    // transform reads them: the samples stay as they came.
    const bool transformed =
        buffers.Windowed
            ? analyzer.Transform(buffers.Samples, buffers.Spectrum)
            : analyzer.TransformWindowed(buffers.Samples, 1, buffers.Window, buffers.Spectrum);
    if (!transformed) {
        return {};
    }
    if (Stopped()) {
        return {EstimateOutcome::Stopped};
    }
    const std::uint32_t widthBins = analyzer.PeakHalfWidth();
    const long width = widthBins;
    const long half = length_ / 2;
    const double* f = buffers.Spectrum;
    // Squared magnitudes order the bins as the amplitudes do, so only the
    // band around the peak needs its amplitudes, in extended precision.
    const SpectrumPeak found = FindSpectrumPeak(f, length_, widthBins);
    const long peak = found.Bin;
    if (Stopped()) {
        return {EstimateOutcome::Stopped};
    }
    const auto amplitude = [f, half](long k) {
        const auto re = static_cast<long double>(f[k]);
        const auto im = static_cast<long double>(f[half + k]);
        return static_cast<double>(std::sqrt(re * re + im * im) / static_cast<long double>(half));
    };
    if (peak >= 0) {
        for (long k = std::max(peak - width, 1L); k <= peak + width - 1 && k < half; ++k) {
            buffers.Amplitudes[k] = amplitude(k);
        }
    }

    // Power in the band [peak - H, peak + H - 1], bins above H and below N/2.
    long double power = 0.0L;
    long double moment = 0.0L;
    double bandSquares = 0.0;  // the same band in |X_k|^2, for the noise floor
    std::uint32_t bandBins = 0;
    if (peak >= 0) {
        for (long k = peak - width; k <= peak + width - 1; ++k) {
            if (k <= width || k >= half) {
                continue;
            }
            const auto a = static_cast<long double>(buffers.Amplitudes[k]);
            const long double q = a * a * 0.5L;
            power += q;
            moment += static_cast<long double>(k) * q;
            bandSquares += f[k] * f[k] + f[half + k] * f[half + k];
            ++bandBins;
        }
    }
    const long double ratio = power / static_cast<long double>(windowMeanSquare_);
    if (!(ratio > 0.0L) || !std::isfinite(static_cast<double>(ratio))) {
        return {EstimateOutcome::NoSignal};
    }

    ChannelEstimate result;
    const long double centre = moment / power;
    result.PeakCentre = static_cast<double>(centre);
    result.Frequency = static_cast<double>(centre * static_cast<long double>(adcRate_) / length_);
    result.Voltage = ScaleVoltage(static_cast<double>(std::sqrt(ratio)));
    const auto binsAboveH = static_cast<std::uint32_t>(half - width - 1);
    // The frame's whole power: the bins above H, and DC, the bins up to H and
    // the Nyquist bin.
    double framePower = found.PowerAboveH + f[0] * f[0] + f[half] * f[half];
    for (long k = 1; k <= width; ++k) {
        framePower += f[k] * f[k] + f[half + k] * f[half + k];
    }
    result.ToneFound = ToneStandsOut(bandSquares, bandBins, found.PowerAboveH - bandSquares,
                                     binsAboveH - bandBins, framePower);
    result.InBand = result.ToneFound && InExactBand(result.PeakCentre, length_, widthBins);

    // The spectrum's phase falls by 180 degrees per bin over the window's main
    // lobe; interpolate from the bin below the centre.
    const long k0 = static_cast<long>(std::floor(centre));
    // Only the two bins around the centre are read: their phases alone are
    // computed, as the full phase spectrum would give them (P[0] and P[N/2]
    // are 0), which spares an arc tangent per bin in every frame.
    for (const long k : {k0, k0 + 1}) {
        buffers.Phases[k] =
            k > 0 && k < half ? std::atan2(buffers.Spectrum[half + k], buffers.Spectrum[k]) : 0.0;
    }
    const long double toDegrees = 180.0L / std::numbers::pi_v<long double>;
    const long double p0 = static_cast<long double>(buffers.Phases[k0]) * toDegrees;
    const long double p1 = static_cast<long double>(buffers.Phases[k0 + 1]) * toDegrees;
    long double phase = p0 + std::fabs(p1 - p0) * (centre - static_cast<long double>(k0));
    if (phase < -180.0L) {
        phase += 360.0L;
    } else if (phase > 180.0L) {
        phase -= 360.0L;
    }
    result.Phase = static_cast<double>(phase);
    result.Outcome = EstimateOutcome::Ok;
    return result;
}

}  // namespace measure
