#pragma once

#include "IniFile.h"

#include <string>
#include <string_view>

// The window's precision choices: a section of the settings file of its own
// with Latin keys. The shared key "АЦП. Метод расчёта" keeps its two values,
// so a file stays readable by every installation; this section only says
// whether the window's runs use the precision method instead, and whether
// the value fields' hints carry each reading's uncertainty. The window writes
// it when the operator ticks its menu items; the settings writers leave it
// as it stands.
//
//   [Precision]
//   Method=fit                fit: the precision method (the sine fit);
//                             settings, empty or missing: the method of
//                             "АЦП. Метод расчёта"
//   Uncertainty=1             0 or 1; missing: 0. 1: the hints show the
//                             uncertainty (the fit shows it either way)
namespace PrecisionSettingsNames {
inline constexpr std::string_view Section = "Precision";
inline constexpr std::string_view Method = "Method";
inline constexpr std::string_view Uncertainty = "Uncertainty";
inline constexpr std::string_view MethodFit = "fit";
inline constexpr std::string_view MethodSettings = "settings";
}  // namespace PrecisionSettingsNames

struct PrecisionSection {
    bool SineFit = false;
    bool Uncertainty = false;
    // The first key holding a value it cannot take, and what is wrong with
    // it; both empty for a good section. A bad key reads as missing.
    std::string BadKey;
    std::string Problem;
};

PrecisionSection ReadPrecisionSection(const IniFile& file);
// Both keys into file's pending writes; the caller updates the file.
void WritePrecisionSection(IniFile& file, bool sineFit, bool uncertainty);
