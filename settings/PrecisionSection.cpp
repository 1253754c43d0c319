#include "PrecisionSection.h"

#include "SectionValue.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

PrecisionSection ReadPrecisionSection(const IniFile& file)
{
    namespace Names = PrecisionSettingsNames;
    PrecisionSection section;
    const auto bad = [&](std::string_view key, std::string problem) {
        if (section.BadKey.empty()) {
            section.BadKey = key;
            section.Problem = std::move(problem);
        }
    };
    const std::string method = ReadSectionValue(file, Names::Section, Names::Method);
    const std::string methodName = Lower(method);
    if (methodName == Names::MethodFit) {
        section.SineFit = true;
    } else if (!methodName.empty() && methodName != Names::MethodSettings) {
        bad(Names::Method, "'" + method + "' is not " + std::string(Names::MethodFit) + " or " +
                               std::string(Names::MethodSettings));
    }
    const std::string uncertainty = ReadSectionValue(file, Names::Section, Names::Uncertainty);
    if (const std::optional<bool> on = ReadSwitch(uncertainty)) {
        section.Uncertainty = *on;
    } else {
        bad(Names::Uncertainty, SwitchProblem(uncertainty));
    }
    return section;
}

void WritePrecisionSection(IniFile& file, bool sineFit, bool uncertainty)
{
    namespace Names = PrecisionSettingsNames;
    file.WriteString(Names::Section, Names::Method,
                     sineFit ? Names::MethodFit : Names::MethodSettings);
    file.WriteString(Names::Section, Names::Uncertainty, uncertainty ? "1" : "0");
}
