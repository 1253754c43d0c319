#include "ReadingText.h"

#include "NumberText.h"
#include "ResultsFormat.h"

#include <algorithm>
#include <optional>

namespace measure {

namespace {

constexpr double MilliPerUnit = 1000.0;
constexpr double KiloPerUnit = 0.001;

// A value as shown: a fixed text (mark, placeholder), or a number by a format.
struct Shown {
    std::string_view Text;
    std::string_view Pattern;
    double Number = 0.0;
    bool IsNumber = false;
};

Shown Fixed(std::string_view text)
{
    return {text, {}, 0.0, false};
}

Shown Choose(const ReadingFormats& formats, const ChannelReading& reading, ShownValue value)
{
    const bool shorted = reading.Status == ReadingStatus::Short;
    if (shorted || reading.Status == ReadingStatus::Open) {
        if (value == ShownValue::Voltage) {
            return Fixed(shorted ? MeasurementText::ShortCircuitMark
                                 : MeasurementText::OpenCircuitMark);
        }
        return Fixed(MeasurementText::ValuePlaceholder);
    }
    const auto number = [](const std::optional<double>& v, std::string_view pattern,
                           double scale) -> Shown {
        if (!v) {
            return Fixed(MeasurementText::ValuePlaceholder);
        }
        return {{}, pattern, *v * scale, true};
    };
    const double kHz = reading.Frequency ? *reading.Frequency * KiloPerUnit : 0.0;
    const std::string_view frequencyFormat = FrequencyFormat(
        kHz, formats.Frequency, formats.FrequencyAbove100, formats.FrequencyAbove1000);
    switch (value) {
    case ShownValue::Voltage:
        return number(reading.Voltage, formats.Voltage, MilliPerUnit);
    case ShownValue::Frequency:
        return number(reading.Frequency, frequencyFormat, KiloPerUnit);
    case ShownValue::Phase:
        return number(reading.Phase, formats.Phase, 1.0);
    case ShownValue::VoltageU:
        return number(reading.VoltageU, formats.Voltage, MilliPerUnit);
    case ShownValue::FrequencyU:
        return number(reading.FrequencyU, frequencyFormat, KiloPerUnit);
    case ShownValue::PhaseU:
        return number(reading.PhaseU, formats.Phase, 1.0);
    }
    return Fixed(MeasurementText::ValuePlaceholder);
}

}  // namespace

std::string ShowReading(const ReadingFormats& formats, const ChannelReading& reading,
                        ShownValue value)
{
    const Shown shown = Choose(formats, reading, value);
    if (!shown.IsNumber) {
        return std::string(shown.Text);
    }
    return NumberText::FormatFloat(shown.Pattern, shown.Number);
}

char* ShowReadingTo(char* first, char* last, const ReadingFormats& formats,
                    const ChannelReading& reading, ShownValue value) noexcept
{
    const Shown shown = Choose(formats, reading, value);
    if (!shown.IsNumber) {
        if (static_cast<std::size_t>(last - first) < shown.Text.size()) {
            return nullptr;
        }
        return std::copy(shown.Text.begin(), shown.Text.end(), first);
    }
    try {
        return NumberText::FormatFloatTo(first, last, shown.Pattern, shown.Number);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace measure
