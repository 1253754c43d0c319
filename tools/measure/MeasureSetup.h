#pragma once

#include "MeasurementCycle.h"
#include "ToolOptions.h"

#include <stdexcept>
#include <string>

namespace tool {

// One run's setup, in the terms the measurement cycle takes it from its host.
struct MeasureSetup {
    measure::MeasurementSettings Settings;  // data width, current, method, amplitude, time
    measure::AdcChoice Choice;              // channels, rate index, reference
    // The display's number formats (voltage, frequency, phase).
    std::string AcFormat;
    std::string FrFormat;
    std::string PhFormat;
    // The module the window would pick: the saved crate serial ("" none) and
    // slot (-1 none).
    std::string CrateSerial;
    int ModuleSlot = -1;
};

// A settings file that cannot be read.
class SetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The setup a settings file of the window gives, read by the window's own
// reader and keys: the window started on this file would measure the same.
// Throws SetupError.
MeasureSetup ReadSetup(const std::string& settingsPath);

// The setup of a window without a settings file: the default file, made and
// read as the window makes and reads it (in a scratch folder that goes
// again). Throws SetupError.
MeasureSetup DefaultSetup();

// Each option given replaces one value of the setup.
void ApplyOptions(const ToolOptions& options, MeasureSetup& setup);

}  // namespace tool
