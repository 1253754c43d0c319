#pragma once

#include "ToolOptions.h"

#include <ostream>

namespace tool {

// One run of ksn48-measure for checked options: the setup, the results log,
// the module, the measurement until its end. Messages go to err; returns the
// exit code.
int RunMeasurement(const ToolOptions& options, std::ostream& err);

}  // namespace tool
