#pragma once

#include "ChannelEstimator.h"
#include "ksn48api.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace measure {

// The module's channels, the one count every array of the cycle is sized by.
inline constexpr std::size_t MeasurementChannelCount = KSN48_CHANNEL_COUNT;

// The operator's choices taken over when a run starts.
struct MeasurementSettings {
    std::uint8_t DataFormat = 0;     // 0 = 20-bit, 1 = 24-bit
    std::uint8_t CurrentSource = 0;  // 0 = 2.86 mA, 1 = 10 mA
    // Texts of "АЦП. Метод расчёта" and "АЦП. Тип амплитуды" as the settings
    // hold them; read once per run, when the frame is sized.
    std::string CalcMethod;
    std::string AmplitudeType;
    double MaxAcquisitionTime = 0.0;  // seconds
};

// What the ADC configuration reads from the window.
struct AdcChoice {
    std::array<bool, MeasurementChannelCount> ChannelTicked{};
    int RateIndex = -1;                  // index into the ADC rate table
    std::uint16_t ReferenceChannel = 0;  // the settings' reference channel, 0 .. 7
};

// The crate and module named in the data-rate refusal; set before the run.
struct ModuleNames {
    std::uint8_t CrateTypeCode = 0;
    std::string CrateTypeName;
    std::string ModuleName;
};

// The window's live choices that a running measurement follows, taken once
// per frame just before the frame is shown (MeasurementHost::ReadFrameInputs).
struct FrameInputs {
    // The channel the shown phases are taken against, from this frame on; a
    // channel beyond the module's keeps the one before.
    std::uint16_t ReferenceChannel = 0;
    // The conversion's phase correction, from the next frame on (a run's
    // first frame is always corrected).
    bool PhaseCorrection = true;
};

// A run's configuration, fixed once the module's ADC is configured and the
// frame sized (MeasurementCycle::ConfigureAdc, or Configure for a run set up
// by hand).
struct RunConfiguration {
    ModuleNames Module;
    // The settings as taken at the start; CalcMethod then holds the method's
    // own text (MethodText).
    MeasurementSettings Settings;
    // The method as resolved from Settings.CalcMethod (RunMethodFromText):
    // the estimate, whether the sine fit refines it ("fit"), and its text.
    CalcMethod Method = CalcMethod::Fft;
    bool SineFit = false;
    std::string_view MethodText = CalcMethodFftText;
    // "rms" keeps the RMS and any other text gives the peak amplitude.
    AmplitudeType Amplitude = AmplitudeType::Rms;
    double AdcRate = 0.0;
    std::uint32_t ActiveChannelCount = 0;
    // Each physical channel's position in the module's frame order, -1 for a
    // channel not enabled. The one map from frame order to channels.
    std::array<std::int16_t, MeasurementChannelCount> FramePosition = [] {
        std::array<std::int16_t, MeasurementChannelCount> none{};
        none.fill(-1);
        return none;
    }();
    // The reference channel chosen at the start; the frames' own follow the
    // window (FrameReadings::ReferenceChannel).
    std::uint16_t ReferenceChannel = 0;
    std::uint32_t SamplesPerChannel = 0;
    std::uint32_t FrameSampleCount = 0;
    std::uint32_t ReceiveBlockSize = 0;

    bool Enabled(std::size_t c) const noexcept
    {
        return c < MeasurementChannelCount && FramePosition[c] >= 0;
    }
};

}  // namespace measure
