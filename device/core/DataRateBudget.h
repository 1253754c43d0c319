#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace device {

// Bytes per sample and channel on the crate link.
constexpr double BytesPerSample20Bit = 4.0;

// Кбайт/с that n enabled channels at fs Hz produce; dataFormat 0 is 20-bit
// data, any other value 24-bit (twice the bytes).
double ModuleDataRate(std::uint32_t channelCount, double fs, std::uint8_t dataFormat) noexcept;

struct DataRateCheck {
    bool Passed = false;
    double Rate = 0.0;    // Кбайт/с the setting produces
    double Limit = 0.0;   // Кбайт/с the crate accepts
    std::string Message;  // the refusal shown to the operator; empty when passed
};

// Whether the crate can carry the data of the chosen setting; a rate equal to
// the limit passes.
DataRateCheck CheckDataRate(std::uint32_t channelCount, double fs, std::uint8_t dataFormat,
                            std::uint8_t crateCode, std::string_view crateName,
                            std::string_view moduleName);

}  // namespace device
