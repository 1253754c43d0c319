#pragma once

#include "ToolOptions.h"
#include "ksn48api.h"

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace verify {

inline constexpr std::size_t ChannelCount = KSN48_CHANNEL_COUNT;

// The signal the calibrator applies to one channel: A * sin(2 pi f t + phase),
// with the expanded uncertainties (k = 2) of its certificate.
struct ReferenceSignal {
    double AmplitudeV = 0.0;  // peak
    double FrequencyHz = 0.0;
    double PhaseDeg = 0.0;
    double AmplitudeUPercent = 0.0;
    double FrequencyUPpm = 0.0;
    double PhaseUDeg = 0.0;  // between the calibrator's outputs

    double RmsV() const;
};

// The tolerances of the plan; a figure without one is not decided.
struct Tolerances {
    std::optional<double> GainPercent;       // |voltage error| in %
    std::optional<double> FrequencyPpm;      // |frequency error| in ppm
    std::optional<double> PhaseMatchDeg;     // |phase against the reference channel - nominal|
    std::optional<double> GainMatchPercent;  // |gain error - that of the reference channel|
    std::optional<double> ThdMaxPercent;
    std::optional<double> SnrMinDb;
    std::optional<double> EnobMinBits;
    std::optional<double> CrosstalkMaxDb;  // level in an idle channel against the tone
};

// One measuring point: the acquisition the module is verified with.
struct PlanPoint {
    int RateIndex = -1;  // of the ADC rate table
    double RateHz = 0.0;
    std::uint8_t DataFormat = 0;     // 0 = 20-bit, 1 = 24-bit
    std::uint8_t CurrentSource = 0;  // 0 = 2.86 mA, 1 = 10 mA
    tool::ChannelSet Channels{};     // acquired channels (physical 0 .. 7)
    std::string Method = "fft";
    std::optional<double> MaxTime;  // seconds; the setup's when empty
    std::uint64_t Frames = 0;

    // Whether the method reads frequency, phase and the spectrum ("fft" and
    // "fit"; "sum" reads the voltage only).
    bool ReadsSpectrum() const;
};

struct Calibrator {
    std::string Model;
    std::string Serial;
    std::string Certificate;

    // "model, serial, certificate" of what is given.
    std::string Describe() const;
};

struct Plan {
    std::string Path;
    std::string Title;
    std::string Operator;
    std::string Station;
    Calibrator Source;
    std::optional<std::string> Crate;
    std::optional<int> Slot;
    // Per physical channel: the signal applied, none for an idle channel.
    std::array<std::optional<ReferenceSignal>, ChannelCount> Reference;
    int ReferenceChannel = 0;  // physical, 0 .. 7
    std::vector<PlanPoint> Points;
    Tolerances Limits;
};

// A plan that cannot be used: the file, the field (a JSON path such as
// "points[1].rate_Hz") and what is wrong with it.
class PlanError : public std::runtime_error {
public:
    PlanError(const std::string& file, const std::string& field, const std::string& problem);
    const std::string& Field() const noexcept { return field_; }

private:
    std::string field_;
};

// The plan in text, read from the file named fileName. Throws PlanError.
Plan ParsePlan(const std::string& text, const std::string& fileName);
// Reads and parses the file. Throws PlanError (an unreadable file is the
// field "").
Plan ReadPlan(const std::string& path, std::string* text = nullptr);

}  // namespace verify
