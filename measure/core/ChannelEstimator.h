#pragma once

#include "SpectrumAnalyzer.h"
#include "WindowFunctions.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace measure {

// Texts of the settings "АЦП. Метод расчёта" and "АЦП. Тип амплитуды".
inline constexpr std::string_view CalcMethodSumText = "sum";
inline constexpr std::string_view CalcMethodFftText = "fft";
// The precision method: the "fft" estimate refined by a sine fit. Not a value
// of the shared settings key, whose two values stay as they are; the window
// keeps it in a section of its own, the tool takes it from --method.
inline constexpr std::string_view CalcMethodFitText = "fit";
inline constexpr std::string_view AmplitudeTypeRmsText = "rms";
inline constexpr std::string_view AmplitudeTypeAmpText = "amp";
inline constexpr std::array<std::string_view, 2> AmplitudeTypeTexts = {AmplitudeTypeRmsText,
                                                                       AmplitudeTypeAmpText};

// Shown when the "fft" method finds no power around the peak.
inline constexpr std::string_view NoSignalMessage =
    "Опаньки!!! Судя по всему на вход модуля не был подан сигнал!!!";

enum class CalcMethod { Sum, Fft };
enum class AmplitudeType { Rms, Amp };

// A method a run can be given: its text, the estimate it runs and whether
// the sine fit then refines every channel's estimate.
struct RunMethod {
    std::string_view Text;
    CalcMethod Estimate;
    bool SineFit;
};
// Every method, the first the one an unknown text runs as. A new method is a
// row here (and its step in the cycle).
inline constexpr std::array<RunMethod, 3> RunMethods = {{
    {CalcMethodSumText, CalcMethod::Sum, false},
    {CalcMethodFftText, CalcMethod::Fft, false},
    {CalcMethodFitText, CalcMethod::Fft, true},
}};
// Every method's text, for front ends that offer a choice.
inline constexpr std::array<std::string_view, RunMethods.size()> CalcMethodTexts = [] {
    std::array<std::string_view, RunMethods.size()> texts{};
    for (std::size_t i = 0; i < RunMethods.size(); ++i) {
        texts[i] = RunMethods[i].Text;
    }
    return texts;
}();
// The method text names; any other text runs as "sum".
const RunMethod& RunMethodFromText(std::string_view text) noexcept;

// "fft" selects the spectral method; any other text runs as "sum".
CalcMethod CalcMethodFromText(std::string_view text) noexcept;
// Whether text names the precision method ("fit"), which runs the "fft"
// estimate and then the sine fit.
bool IsSineFitText(std::string_view text) noexcept;
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
    // What an Ok "fft" reading can be trusted for (the "sum" method judges
    // neither and leaves both true):
    // a tone stands clearly above the channel's noise floor (ToneStandsOut);
    // without one, frequency and phase come from a noise peak and mean nothing.
    bool ToneFound = true;
    // the centre of the peak lies in the bins where the estimate is exact
    // (InExactBand); outside them all three values are off.
    bool InBand = true;
    double PeakCentre = 0.0;  // b, in bins ("fft" only)
};

// The bin of largest power |X_k|^2 in [H, N/2) of a packed spectrum of
// length N (the layout of the transform: real parts of bins 0 .. N/2, then
// the negated imaginary parts of bins 1 .. N/2 - 1), scanning upwards and
// replacing the candidate only on a strictly greater power, so ties go to the
// lower bin; bins below H, where the window's DC leakage lies, are never
// peaks. Bin -1 when the range is empty. Also gives the power of every bin
// above H, for the noise floor.
struct SpectrumPeak {
    long Bin = -1;
    double PowerAboveH = 0.0;  // sum of |X_k|^2 over H < k < N/2
};
SpectrumPeak FindSpectrumPeak(const double* spectrum, std::uint32_t length,
                              std::uint32_t halfWidth) noexcept;

// Whether the estimate is exact for a peak centred at b bins in a frame of
// length N with half-width H: 2H + 1 <= b <= N/2 - H - 1, [15, N/2 - 8] for
// the measurement window. The band summed around the peak bin p,
// [p - H, p + H - 1], then lies wholly above the window's DC leakage (bins up
// to H) and below N/2; outside, part of the tone's main lobe is cut off or
// mixed with its image below DC or above N/2.
bool InExactBand(double centre, std::uint32_t length, std::uint32_t halfWidth) noexcept;
// The limits of that band, in bins: [2H + 1, N/2 - H - 1].
struct ExactBand {
    double Low = 0.0;
    double High = 0.0;
};
ExactBand ExactBandOf(std::uint32_t length, std::uint32_t halfWidth) noexcept;

// The no-tone rule, on powers |X_k|^2 of the windowed spectrum. A tone's
// power sits in the few bins of the window's main lobe, noise spreads evenly
// over all bins. The peak is a tone when both hold:
// - the band around it holds, per bin, at least ToneToFloorRatio (10 dB)
//   times the mean power per bin of all other bins above H: the channel's
//   own noise floor, which also takes in any other tones and harmonics.
//   White noise alone gives 2 to 4 here, 6.3 at most in thousands of frames
//   of any length; a tone clearly above the noise gives hundreds and more.
//   A band that covers every bin above H leaves no floor to compare with
//   and counts as a tone.
// - the band holds at least MinimumTonePower (an amplitude of 1e-9, far below
//   the converter's resolution of 2^-23 of full scale) of the frame's whole
//   power, DC included. Below that, what stands out is the rounding of the
//   window and the transform, which is not white: a DC-only frame shows it.
inline constexpr double ToneToFloorRatio = 10.0;
inline constexpr double MinimumTonePower = 1e-18;
bool ToneStandsOut(double bandPower, std::uint32_t bandBins, double otherPower,
                   std::uint32_t otherBins, double framePower) noexcept;

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
    // Takes the window that owner built (same method and length) without
    // building it again: another estimator of the same run that reads the
    // same window buffer. false when owner has no window or does not match.
    bool ShareWindow(const ChannelEstimator& owner) noexcept;

    ChannelEstimate Estimate(const EstimateBuffers& buffers);

    CalcMethod Method() const noexcept { return method_; }
    AmplitudeType Amplitude() const noexcept { return amplitude_; }
    std::uint32_t Length() const noexcept { return length_; }
    double AdcRate() const noexcept { return adcRate_; }
    double WindowSum() const noexcept { return windowSum_; }
    double WindowMeanSquare() const noexcept { return windowMeanSquare_; }
    // Present for "fft" only.
    SpectrumAnalyzer* Analyzer() noexcept { return analyzer_.get(); }
    bool WindowReady() const noexcept { return windowReady_; }

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
