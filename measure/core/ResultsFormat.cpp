#include "ResultsFormat.h"

namespace measure {

double PhaseDifference(double referencePhase, double channelPhase) noexcept
{
    double d = referencePhase - channelPhase;
    if (d < -180.0) {
        d += 360.0;
    } else if (d > 180.0) {
        d -= 360.0;
    }
    return d;
}

std::string_view FrequencyFormat(double kHz, std::string_view frFormat, std::string_view above100,
                                 std::string_view above1000) noexcept
{
    const auto shorter = [frFormat](std::string_view fixed) {
        return fixed.size() < frFormat.size() ? fixed : frFormat;
    };
    if (kHz > 1000.0) {
        return shorter(above1000);
    }
    if (kHz > 100.0) {
        return shorter(above100);
    }
    return frFormat;
}

}  // namespace measure
