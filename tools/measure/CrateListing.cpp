#include "CrateListing.h"

#include "CrateTypes.h"
#include "FixedText.h"
#include "ModuleChoice.h"
#include "ToolSupport.h"
#include "ToolOptions.h"
#include "ToolTexts.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace tool {

namespace {

using device::DeviceInventory;
using device::FixedText;

// Where the scan found a module of a crate's slot: module crate and module
// index, or nothing when it did not open.
std::optional<std::pair<std::uint16_t, std::uint16_t>>
ScannedModule(const DeviceInventory& inventory, const std::string& crate, int slot)
{
    const std::uint16_t crates =
        std::min<std::uint16_t>(inventory.ModuleCrateCount, DeviceInventory::MaxCrates);
    for (std::uint16_t j = 0; j < crates; ++j) {
        if (FixedText(inventory.ModuleCrateSerials[j]) != crate) {
            continue;
        }
        const std::uint16_t modules =
            std::min<std::uint16_t>(inventory.ModuleCounts[j], DeviceInventory::MaxSlots);
        for (std::uint16_t m = 0; m < modules; ++m) {
            if (inventory.ModuleSlots[j][m] == slot) {
                return std::make_pair(j, m);
            }
        }
    }
    return std::nullopt;
}

std::string Hex(std::uint16_t id)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(id));
    return text;
}

// A text of the crate system shown on a terminal: control characters as '?'.
std::string Printable(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text;
}

// Rows of cells in columns as wide as their widest cell.
std::string Table(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line.append(widths[i] - row[i].size() + 2, ' ');
            }
        }
        text += line + '\n';
    }
    return text;
}

}  // namespace

std::vector<std::string> ListCrates(device::Detector& detector, const Ksn48Handle& handle,
                                    CrateListing& listing)
{
    DeviceInventory inventory;
    const device::ScanReport report = detector.ScanCrates(inventory);
    if (std::vector<std::string> failure = ScanFailureMessages(report); !failure.empty()) {
        return failure;
    }
    listing = CrateListing{};
    const std::size_t crates =
        std::min<std::size_t>(inventory.CrateCount, DeviceInventory::MaxCrates);
    for (std::size_t i = 0; i < crates; ++i) {
        CrateListing::Crate crate;
        crate.Serial = FixedText(inventory.CrateSerials[i]);
        crate.Type = inventory.CrateTypes[i];
        crate.Model = std::string(device::CrateTypeName(crate.Type));
        for (std::size_t k = 0; k < DeviceInventory::MaxSlots; ++k) {
            const std::uint16_t id = inventory.CrateModuleIds[i][k];
            if (id == 0) {
                continue;
            }
            const int slot = static_cast<int>(k + 1);
            crate.Slots.push_back({slot, id});
            if (id != KSN_MODULE_ID_KSN48) {
                continue;
            }
            CrateListing::Module module;
            module.Crate = crate.Serial;
            module.Slot = slot;
            module.Result = KSN_ERR_NOT_FOUND;
            for (const device::ModuleOpenFailure& failure : report.OpenFailures) {
                if (failure.CrateSerial == crate.Serial && failure.Slot == slot) {
                    module.Result = failure.Result;
                }
            }
            if (const auto scanned = ScannedModule(inventory, crate.Serial, slot)) {
                const auto [j, m] = *scanned;
                module.Serial = FixedText(inventory.ModuleSerials[j][m]);
                // Name and firmware: the module opened as the window opens its choice.
                inventory.SelectedCrate = j;
                inventory.SelectedModule[j] = m;
                const device::OpenedModule opened = detector.OpenSelectedModule(inventory);
                module.Result = opened.Result;
                if (opened.Opened()) {
                    module.Serial = FixedText(handle.ModuleSerial);
                    module.Name = opened.ModuleName;
                    module.Firmware = handle.FirmwareVersion;
                }
            }
            listing.Modules.push_back(std::move(module));
        }
        listing.Crates.push_back(std::move(crate));
    }
    detector.CloseModuleIfOpen();
    return {};
}

std::string ListingText(const CrateListing& listing)
{
    std::string text;
    if (listing.Crates.empty()) {
        text += "No crates.\n";
    } else {
        std::vector<std::vector<std::string>> rows{{"CRATE", "TYPE", "MODEL", "SLOTS"}};
        for (const CrateListing::Crate& crate : listing.Crates) {
            std::string slots;
            for (const CrateListing::Slot& slot : crate.Slots) {
                if (!slots.empty()) {
                    slots += ' ';
                }
                slots += std::to_string(slot.Number);
                slots += ':';
                slots += Hex(slot.ModuleId);
            }
            rows.push_back({Printable(crate.Serial), std::to_string(crate.Type), crate.Model,
                            slots.empty() ? "-" : slots});
        }
        text += Table(rows);
    }
    text += '\n';
    if (listing.Modules.empty()) {
        text += "No KSN48 module.\n";
        return text;
    }
    std::vector<std::vector<std::string>> rows{{"CRATE", "SLOT", "SERIAL", "NAME", "FIRMWARE"}};
    for (const CrateListing::Module& module : listing.Modules) {
        std::vector<std::string> row{Printable(module.Crate), std::to_string(module.Slot),
                                     module.Serial.empty() ? "-" : Printable(module.Serial)};
        if (module.Result != KSN_OK) {
            row.push_back("-");
            row.push_back(std::string("- (cannot be opened: ") + KSN_ErrorName(module.Result) +
                          ")");
        } else {
            row.push_back(Printable(module.Name));
            row.push_back(
                std::to_string(module.Firmware) +
                (device::FirmwareSupported(module.Firmware)
                     ? ""
                     : " (needs " + std::to_string(device::MinFirmwareVersion) + " or later)"));
        }
        rows.push_back(std::move(row));
    }
    text += Table(rows);
    return text;
}

std::string ListingJson(const CrateListing& listing)
{
    using Json = nlohmann::ordered_json;
    Json crates = Json::array();
    for (const CrateListing::Crate& crate : listing.Crates) {
        Json slots = Json::array();
        for (const CrateListing::Slot& slot : crate.Slots) {
            slots.push_back({{"slot", slot.Number}, {"module_id", slot.ModuleId}});
        }
        crates.push_back({{"serial", crate.Serial},
                          {"type", crate.Type},
                          {"model", crate.Model},
                          {"slots", std::move(slots)}});
    }
    Json modules = Json::array();
    for (const CrateListing::Module& module : listing.Modules) {
        Json entry = {{"crate", module.Crate}, {"slot", module.Slot}};
        const bool opened = module.Result == KSN_OK;
        entry["serial"] = module.Serial.empty() ? Json(nullptr) : Json(module.Serial);
        entry["name"] = opened ? Json(module.Name) : Json(nullptr);
        entry["firmware"] = opened ? Json(module.Firmware) : Json(nullptr);
        if (!opened) {
            entry["error"] = KSN_ErrorName(module.Result);
        }
        modules.push_back(std::move(entry));
    }
    const Json document = {{"crates", std::move(crates)}, {"modules", std::move(modules)}};
    // Texts of the crate system need not be UTF-8.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

int RunList(bool json, std::ostream& out, std::ostream& err)
{
    if (!LibrariesUsable(err)) {
        return ExitNoDevice;
    }
    Ksn48Handle handle{};
    device::Detector detector(handle);
    CrateListing listing;
    if (const std::vector<std::string> failure = ListCrates(detector, handle, listing);
        !failure.empty()) {
        SayLines(err, failure);
        return ExitNoDevice;
    }
    out << (json ? ListingJson(listing) : ListingText(listing)) << std::flush;
    if (!out) {
        Say(err) << "cannot write the list to standard output\n";
        return ExitRunFailure;
    }
    return ExitDone;
}

}  // namespace tool
