#include "SectionValue.h"

std::string ReadSectionValue(const IniFile& file, std::string_view section, std::string_view key)
{
    const std::string text = file.ReadString(section, key, "");
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::optional<bool> ReadSwitch(std::string_view value)
{
    if (value == "1") {
        return true;
    }
    if (value.empty() || value == "0") {
        return false;
    }
    return std::nullopt;
}

std::string SwitchProblem(std::string_view value)
{
    std::string text = "'";
    text.append(value);
    text.append("' is not 0 or 1");
    return text;
}
