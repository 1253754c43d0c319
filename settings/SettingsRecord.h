#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The settings the rest of the program reads. The selections of the lists and
// check boxes are held by those controls, not here.
struct SettingsRecord {
    static constexpr std::size_t RangeCount = 1;

    std::string CalcMethod;
    std::string AmplitudeType;
    double MaxAcquisitionTime = 0.0;                 // seconds
    std::array<double, RangeCount> RangeTable{5.0};  // volts
    std::array<std::uint16_t, RangeCount> AcDigits{};
    std::array<std::uint16_t, RangeCount> FrDigits{};
    std::array<std::uint16_t, RangeCount> PhDigits{};
    std::array<std::string, RangeCount> AcFormat;
    std::array<std::string, RangeCount> FrFormat;
    std::array<std::string, RangeCount> PhFormat;
    std::uint16_t ReferenceChannel = 0;  // 0 to 7
    // The window's section [Precision] (PrecisionSection.h), never a shared
    // key: the runs use the precision method ("fit") instead of CalcMethod;
    // the value fields' hints show each reading's uncertainty.
    bool SineFit = false;
    bool UncertaintyHints = false;
};
