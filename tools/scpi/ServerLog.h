#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace scpi {

inline constexpr std::string_view ProgramName = "ksn48-scpi";

// One line "ksn48-scpi: text" on log, whole, whichever thread says it.
void Say(std::ostream& log, std::string_view text);
// Each message as a line of its own.
void SayLines(std::ostream& log, const std::vector<std::string>& messages);

}  // namespace scpi
