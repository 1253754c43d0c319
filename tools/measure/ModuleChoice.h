#pragma once

#include "Detection.h"
#include "DeviceInventory.h"

#include <string>
#include <vector>

namespace tool {

// The module a run measures. A crate or slot named on the command line must
// be there; one saved in a settings file is a wish, as it is for the window
// (another crate or module is taken when it is not there).
struct ModuleTarget {
    std::string CrateSerial;  // "" for none
    int Slot = -1;            // 1 .. 16, -1 for none
    bool CrateNamed = false;
    bool SlotNamed = false;
};

// Outcome of a search for the target: the module open on the detector's
// handle, or why not, in the window's words first and the library's after.
struct ModuleChoice {
    device::OpenedModule Module;
    std::vector<std::string> Messages;
    bool Stopped = false;  // the stop flag ended the search

    bool Opened() const noexcept { return Module.Opened(); }
};

// What a scan that failed says: the window's text, then the library's
// reason. Empty when the scan listed and queried every crate.
std::vector<std::string> ScanFailureMessages(const device::ScanReport& report);

// Chooses the target in the inventory of a scan that found module crates:
// the window's rule (the crate with the wanted serial, else the first; in
// it the module in the wanted slot, else its first), then the demands of a
// named crate or slot. Returns the messages of a refusal; empty when the
// selection of the inventory is the target.
std::vector<std::string> ChooseTarget(device::DeviceInventory& inventory,
                                      const device::ScanReport& report, const ModuleTarget& target);

// Scans the crates, chooses the target and opens it: what the window's
// detection does for its first start.
ModuleChoice FindModule(device::Detector& detector, device::DeviceInventory& inventory,
                        const ModuleTarget& target);

}  // namespace tool
