#pragma once

#include "FrameResult.h"
#include "SpectrumTap.h"
#include "VerifyPlan.h"

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace verify {

// Exit codes of ksn48-verify: those of ksn48-measure, and two verdicts.
enum ExitCode : int {
    ExitPass = 0,
    ExitRunFailure = 1,  // during the run: module, link, output
    ExitUsage = 2,       // command line or plan
    ExitNoDevice = 3,    // no server, crate or module
    ExitRefused = 4,     // a point's configuration refused
    ExitFail = 5,        // a decision FAIL
    ExitIndeterminate = 6,  // no FAIL, but a decision INDETERMINATE
};

// What the command line adds to the plan.
struct VerifyOptions {
    std::string PlanPath;
    std::string OutDir;
    std::optional<std::string> Crate;
    std::optional<int> Slot;
    std::optional<std::string> SettingsPath;
    std::optional<std::string> Operator;
    std::optional<std::string> Station;
    std::optional<std::string> Calibrator;
};

// The module verified and the software that verified it.
struct ModuleInfo {
    std::string Serial;
    std::string Name;
    unsigned Firmware = 0;
    std::string CrateSerial;
    std::string CrateModel;
    int Slot = 0;
    std::string CrateLibraryVersion;   // of libksnapi.so as loaded
    std::string ModuleLibraryVersion;  // of libksn48api.so as loaded
};

// The frames of one point as measured.
struct PointData {
    PlanPoint Point;
    std::string CsvFile;  // name in the output folder
    std::uint32_t SamplesPerChannel = 0;
    std::vector<measure::FrameResult> Frames;
    // One spectrum per acquired channel, from the frames in turn.
    std::array<std::optional<measure::SpectrumFrame>, ChannelCount> Spectra;
};

struct RunOutcome {
    int ExitCode = ExitPass;  // of the measurement; the verdict comes after
    ModuleInfo Module;
    std::vector<PointData> Points;
};

// Opens the module (chosen as ksn48-measure chooses it), checks that the
// crate can carry every point, then measures the points one after another,
// each point's frames into its CSV file in outDir. Progress and messages go
// to err.
RunOutcome MeasurePlan(const Plan& plan, const VerifyOptions& options, std::ostream& err);

// The frames a point measures: the plan's, and at least one per acquired
// channel, since each frame gives one channel's spectrum.
std::uint64_t FramesOfPoint(const PlanPoint& point);

}  // namespace verify
