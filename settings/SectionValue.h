#pragma once

#include "IniFile.h"

#include <optional>
#include <string>
#include <string_view>

// A value of one of the window's own sections (Latin keys, not shared with
// other installations) as it is taken: blanks and tabs around it off, ""
// when the key is missing.
std::string ReadSectionValue(const IniFile& file, std::string_view section, std::string_view key);

// A switch of such a section: "1" is on, "0" or nothing is off; any other
// value is no switch (nullopt), and SwitchProblem says why.
std::optional<bool> ReadSwitch(std::string_view value);
std::string SwitchProblem(std::string_view value);
