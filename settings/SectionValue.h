#pragma once

#include "IniFile.h"

#include <string>
#include <string_view>

// A value of one of the window's own sections (Latin keys, not shared with
// other installations) as it is taken: blanks and tabs around it off, ""
// when the key is missing.
std::string ReadSectionValue(const IniFile& file, std::string_view section, std::string_view key);
