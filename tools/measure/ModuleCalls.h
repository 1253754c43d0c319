#pragma once

#include "MeasurementCycle.h"

#include <optional>

namespace tool {

// A module library call that failed, and its result.
struct CallFailure {
    const char* Call = nullptr;  // "KSN48_Recv", ...
    int Result = 0;
};

// The module library's calls for the measurement cycle, the cancel of a
// receive among them. Each notes the first call of a run that fails (a
// receive cut short by a stop is not a failure), for the line under the
// window's message that names the library's reason. One run at a time per
// process: the calls are plain functions, so the note lives beside them.
measure::ModuleApi NotingModuleApi();

std::optional<CallFailure> FirstCallFailure();
// Before each run of the cycle.
void ForgetCallFailure();

}  // namespace tool
