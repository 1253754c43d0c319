#pragma once

#include "SpectrumAnalyzer.h"
#include "WindowFunctions.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace measure {

// Texts of the settings "АЦП. Метод расчёта" and "АЦП. Тип амплитуды".
inline constexpr std::string_view CalcMethodSumText = "sum";
inline constexpr std::string_view CalcMethodFftText = "fft";
inline constexpr std::string_view AmplitudeTypeRmsText = "rms";
inline constexpr std::string_view AmplitudeTypeAmpText = "amp";

// Shown when the "fft" method finds no power around the peak.
inline constexpr std::string_view NoSignalMessage =
    "Опаньки!!! Судя по всему на вход модуля не был подан сигнал!!!";

enum class CalcMethod { Sum, Fft };
enum class AmplitudeType { Rms, Amp };

// "fft" selects the spectral method; any other text runs as "sum".
CalcMethod CalcMethodFromText(std::string_view text) noexcept;
// "rms" keeps the RMS; any other text gives the peak amplitude.
AmplitudeType AmplitudeTypeFromText(std::string_view text) noexcept;

enum class EstimateOutcome {
    Ok,
    NoSignal,      // "fft": no power in the band around the peak (NoSignalMessage)
    Stopped,       // the stop flag was seen; the results are to be discarded
    InvalidInput,  // missing buffer or window not built
};

struct ChannelEstimate {
    EstimateOutcome Outcome = EstimateOutcome::InvalidInput;
    double Voltage = 0.0;    // volts, RMS or peak amplitude
    double Frequency = 0.0;  // hertz ("fft" only)
    double Phase = 0.0;      // degrees in [-180, 180], the negated phase of the tone ("fft" only)
};

// Buffers of one run, allocated by the caller once. The "sum" method needs
// Samples and Window only.
struct EstimateBuffers {
    double* Samples = nullptr;       // N samples of the channel; only read
    const double* Window = nullptr;  // N window values from BuildWindow()
    double* Spectrum = nullptr;      // N values
    double* Amplitudes = nullptr;    // N/2 + 1 values; "fft" writes the band around the peak
    double* Phases = nullptr;        // N/2 + 1 values; "fft" writes the two bins around the centre
    // "fft": Samples already hold window[i] * sample[i] (windowed while the
    // frame was split into channels), so the transform takes them as they are.
    bool Windowed = false;
};

// The estimate of one channel's frame: voltage, and for "fft" frequency and
// phase, or the no-signal failure. Set up once per run (the analyzer and its
// tables are made here); Estimate() then allocates nothing.
class ChannelEstimator {
public:
    // Throws std::invalid_argument for length 0, a length that is not a power
    // of two with "fft", or an ADC rate that is not a positive number.
    ChannelEstimator(CalcMethod method, AmplitudeType amplitude, std::uint32_t length,
                     double adcRate, const StopFlag* stop);

    // Builds the measurement window (type 7) of Length() values into window
    // and derives its constants. false when stopped or window is missing.
    bool BuildWindow(double* window);

    ChannelEstimate Estimate(const EstimateBuffers& buffers);

    CalcMethod Method() const noexcept { return method_; }
    AmplitudeType Amplitude() const noexcept { return amplitude_; }
    std::uint32_t Length() const noexcept { return length_; }
    double AdcRate() const noexcept { return adcRate_; }
    double WindowSum() const noexcept { return windowSum_; }
    double WindowMeanSquare() const noexcept { return windowMeanSquare_; }
    // Present for "fft" only.
    SpectrumAnalyzer* Analyzer() noexcept { return analyzer_.get(); }

private:
    bool Stopped() const noexcept
    {
        return stop_ != nullptr && stop_->load(std::memory_order_relaxed);
    }
    ChannelEstimate EstimateSum(const EstimateBuffers& buffers) const;
    ChannelEstimate EstimateFft(const EstimateBuffers& buffers);
    double ScaleVoltage(double rms) const noexcept;

    CalcMethod method_;
    AmplitudeType amplitude_;
    std::uint32_t length_;
    double adcRate_;
    const StopFlag* stop_;
    std::unique_ptr<SpectrumAnalyzer> analyzer_;
    WindowCoefficients sumWindow_;
    bool windowReady_ = false;
    double windowSum_ = 0.0;
    double windowMeanSquare_ = 0.0;
};

}  // namespace measure
