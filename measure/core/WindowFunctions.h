#pragma once

#include "ffft/FFTReal.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace measure {

using StopFlag = ffft::StopFlag;

constexpr std::size_t MaxWindowTerms = 32;
constexpr std::size_t TableWindowTerms = 9;

// Window samples are built in blocks of this size with a stop check before each.
constexpr std::uint32_t WindowBuildBlock = 0x40000;

// The window the measurement uses for both methods.
constexpr int MeasurementWindowType = 7;

// One cosine-sum window: w[i] = sum a_k cos(k x), x = 2 pi i / N (periodic
// form, minimum at i = 0), searched and summed over PeakHalfWidth bins around a
// spectral peak.
struct WindowTypeInfo {
    int Type;
    const char* Name;
    std::uint16_t TermCount;
    std::uint32_t PeakHalfWidth;
    std::array<double, TableWindowTerms> Coefficients;
};

// The coefficients exactly as the measurement uses them; everything else about
// a window (sum, mean square) is derived from here.
inline constexpr std::array<WindowTypeInfo, 8> WindowTable = {{
    {1, "Hann", 2, 15, {0.5, -0.5}},
    {2, "Hamming", 2, 15, {0.54, -0.46}},
    {3, "Blackman", 3, 15, {0.42, -0.5, 0.08}},
    {4,
     "Nuttall 3-term minimum sidelobe",
     3,
     15,
     {0.4243800934609435, -0.4973406350967378, 0.07827927144231873}},
    {5,
     "Nuttall 4-term minimum sidelobe",
     4,
     4,
     {0.3635819267707608, -0.4891774371450171, 0.1365995139786921, -0.01064112210553003}},
    {6,
     "5-term minimum sidelobe",
     5,
     5,
     {0.3232153788877343, -0.471492143957626, 0.1755341299601972, -0.02849699010614994,
      0.001261357088292677}},
    {7,
     "7-term minimum sidelobe",
     7,
     7,
     {0.2712203605850388, -0.4334446123274422, 0.2180041228929303, -0.06578534329560609,
      0.01076186730534183, -0.0007700127105808265, 0.00001368088305992921}},
    {8,
     "9-term minimum sidelobe",
     9,
     9,
     {0.2384331152777942, -0.400554534864382, 0.2358242530472107, -0.09527918858383112,
      0.02537395516617152, -0.004152432907505835, 0.000368560416329818, -0.0000138435559391703,
      0.0000001161808358932861}},
}};

// nullptr for a type outside the table (0, 9 and up).
const WindowTypeInfo* FindWindowType(int type) noexcept;

// The window fields a builder fills: K, H and a0 .. a(K-1), the rest zero.
// All zero before a window is built.
struct WindowCoefficients {
    std::uint16_t TermCount = 0;
    std::uint32_t PeakHalfWidth = 0;
    std::array<double, MaxWindowTerms> Coefficients{};

    // Loads type from the table; an unknown type clears the fields and
    // returns false.
    bool Load(int type) noexcept;
};

// Sum of the N window values: N * a0.
double WindowSum(const WindowCoefficients& window, std::uint32_t length) noexcept;
// Mean of the squared window values: a0^2 + (a1^2 + ... + a(K-1)^2) / 2.
double WindowMeanSquare(const WindowCoefficients& window) noexcept;

// Fills the coefficient fields for type and writes w[0 .. length-1]. Returns
// false, with the window incomplete, when the stop flag is seen between
// blocks; false, with the fields cleared and the window untouched, for a type
// outside the table or a missing buffer.
bool BuildWindow(WindowCoefficients& coefficients, int type, double* window, std::uint32_t length,
                 const StopFlag* stop) noexcept;

// The "sum" method: the window-weighted RMS of the samples without their DC
// part, in volts. windowSum is WindowSum() of the window used; NaN when it is
// not positive.
double WindowedRms(const double* samples, const double* window, std::uint32_t length,
                   double windowSum) noexcept;

}  // namespace measure
