#pragma once

#include <string_view>

namespace measure {

// The phase shown for a channel: the reference's phase minus the channel's,
// wrapped once into [-180, 180] (exactly -180 and 180 stay).
double PhaseDifference(double referencePhase, double channelPhase) noexcept;

// The format of a frequency of kHz kilohertz: frFormat, except that above
// 1000 kHz the shorter of above1000 and frFormat is used and above 100 kHz the
// shorter of above100 and frFormat (equal length keeps frFormat).
std::string_view FrequencyFormat(double kHz, std::string_view frFormat, std::string_view above100,
                                 std::string_view above1000) noexcept;

}  // namespace measure
