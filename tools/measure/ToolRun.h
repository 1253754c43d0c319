#pragma once

#include "MeasureSetup.h"
#include "ModuleChoice.h"
#include "ResultsWriter.h"
#include "ToolOptions.h"
#include "ksn48api.h"

#include <ostream>

namespace tool {

// One run of ksn48-measure for checked options: the setup, the results log,
// the module, the measurement until its end. Messages go to err; returns the
// exit code.
int RunMeasurement(const ToolOptions& options, std::ostream& err);

// The pieces of a run that the verification program shares.

// The columns and number formats of the results log for the options.
measure::ResultsLayout LayoutOf(const ToolOptions& options, const MeasureSetup& setup);
// The module the flags name, else the one the settings saved.
ModuleTarget TargetOf(const ToolOptions& options, const MeasureSetup& setup);
// Names the module open on handle, and warns as the window does of old
// firmware.
void SayOpened(std::ostream& err, const device::OpenedModule& module, const Ksn48Handle& handle);

}  // namespace tool
