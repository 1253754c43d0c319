#pragma once

#include "FrameResult.h"
#include "MeasurementTexts.h"

#include <string>
#include <string_view>

namespace measure {

// The number formats a reading is shown with: the settings' voltage,
// frequency and phase formats, and the two shorter frequency formats above
// 100 and above 1000 kHz (FrequencyFormat).
struct ReadingFormats {
    std::string_view Voltage;
    std::string_view Frequency;
    std::string_view Phase;
    std::string_view FrequencyAbove100 = MeasurementText::FrequencyFormatAbove100;
    std::string_view FrequencyAbove1000 = MeasurementText::FrequencyFormatAbove1000;
};

// A value of a reading as shown, and the uncertainty shown beside it.
enum class ShownValue { Voltage, Frequency, Phase, VoltageU, FrequencyU, PhaseU };

// The text of one value of a reading as the channel panels, the spectrum
// page and the log's display mode show it: the number in mV, kHz or degrees
// by its format (an uncertainty rounded like its value, a frequency's by the
// format its frequency takes), the short or open mark in place of a shorted
// or open channel's voltage, and the placeholder for any other value the
// reading does not have. Throws std::invalid_argument for a format the
// number text refuses.
std::string ShowReading(const ReadingFormats& formats, const ChannelReading& reading,
                        ShownValue value);
// The same into [first, last) without allocating: returns the end of the
// text, or nullptr when it does not fit or the format is refused.
char* ShowReadingTo(char* first, char* last, const ReadingFormats& formats,
                    const ChannelReading& reading, ShownValue value) noexcept;

}  // namespace measure
