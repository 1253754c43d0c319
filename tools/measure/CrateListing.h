#pragma once

#include "Detection.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tool {

// What `ksn48-measure --list` reports: every crate the server lists and
// every KSN48 module in them.
struct CrateListing {
    struct Slot {
        int Number = 0;  // 1 .. 16
        std::uint16_t ModuleId = 0;
    };
    struct Crate {
        std::string Serial;
        std::uint8_t Type = 0;
        std::string Model;        // the crate type's model name
        std::vector<Slot> Slots;  // the occupied ones
    };
    struct Module {
        std::string Crate;
        int Slot = 0;
        int Result = 0;  // of its open: KSN_OK, or why it could not be opened
        std::string Serial;
        std::string Name;
        std::uint16_t Firmware = 0;
    };
    std::vector<Crate> Crates;
    std::vector<Module> Modules;
};

// Finds the crates and modules as the window's detection does, then opens
// each module once more for its name and firmware. Fills listing and
// returns nothing, or returns what the failed scan says.
std::vector<std::string> ListCrates(device::Detector& detector, const Ksn48Handle& handle,
                                    CrateListing& listing);

// Two tables for a reader.
std::string ListingText(const CrateListing& listing);
// One JSON document: {"crates": [...], "modules": [...]}.
std::string ListingJson(const CrateListing& listing);

// `--list [--json]`: the listing on out; exit code.
int RunList(bool json, std::ostream& out, std::ostream& err);

}  // namespace tool
