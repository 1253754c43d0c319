#include "ModuleChoice.h"

#include "DetectionMessages.h"
#include "FixedText.h"

#include <algorithm>

namespace tool {

namespace {

namespace messages = device::DetectionMessages;
using device::DeviceInventory;
using device::FixedText;

std::string_view CallName(device::CrateCall call)
{
    switch (call) {
    case device::CrateCall::Open:
        return "KSN_Open";
    case device::CrateCall::GetCrates:
        return "KSN_GetCrates";
    case device::CrateCall::GetCrateInfo:
        return "KSN_GetCrateInfo";
    case device::CrateCall::GetCrateModules:
        return "KSN_GetCrateModules";
    }
    return "KSN_Open";
}

std::string SlotDetail(const std::string& crate, int slot, int result)
{
    return "crate " + crate + ", slot " + std::to_string(slot) + ": " + KSN_ErrorName(result);
}

// Index of a listed crate, or CrateCount when it is not listed.
std::size_t ListedCrate(const DeviceInventory& inventory, std::string_view serial)
{
    const std::size_t count =
        std::min<std::size_t>(inventory.CrateCount, DeviceInventory::MaxCrates);
    for (std::size_t i = 0; i < count; ++i) {
        if (FixedText(inventory.CrateSerials[i]) == serial) {
            return i;
        }
    }
    return count;
}

// Why a slot of a crate gave no module: its open failed during the scan,
// it holds another module, or nothing.
int SlotResult(const DeviceInventory& inventory, const device::ScanReport& report,
               const std::string& crate, int slot)
{
    for (const device::ModuleOpenFailure& failure : report.OpenFailures) {
        if (failure.CrateSerial == crate && failure.Slot == slot) {
            return failure.Result;
        }
    }
    const std::size_t i = ListedCrate(inventory, crate);
    if (i < inventory.CrateCount && slot >= 1 && slot <= DeviceInventory::MaxSlots &&
        inventory.CrateModuleIds[i][static_cast<std::size_t>(slot - 1)] != 0) {
        return KSN_ERR_NOT_MODULE;
    }
    return KSN_ERR_NOT_FOUND;
}

// Why a named crate is not among the module crates.
std::vector<std::string> CrateDetails(const DeviceInventory& inventory,
                                      const device::ScanReport& report, const std::string& crate)
{
    std::vector<std::string> details;
    if (ListedCrate(inventory, crate) >= inventory.CrateCount) {
        details.push_back("crate " + crate + ": " + KSN_ErrorName(KSN_ERR_NOT_FOUND));
        return details;
    }
    for (const device::ModuleOpenFailure& failure : report.OpenFailures) {
        if (failure.CrateSerial == crate) {
            details.push_back(SlotDetail(crate, failure.Slot, failure.Result));
        }
    }
    if (details.empty()) {
        details.push_back("crate " + crate + ": " + KSN_ErrorName(KSN_ERR_NOT_MODULE));
    }
    return details;
}

}  // namespace

std::vector<std::string> ScanFailureMessages(const device::ScanReport& report)
{
    if (const std::optional<device::CrateQueryFailure>& list = report.ListFailure) {
        const std::string call =
            std::string(CallName(list->Call)) + ": " + KSN_ErrorName(list->Result);
        std::string why;
        switch (device::ClassifyResult(list->Result)) {
        case device::CallFault::NoServer:
            why = "no crate server answers on 127.0.0.1";
            break;
        case device::CallFault::NoAnswer:
            why = "the crate server does not answer";
            break;
        default:
            why = "the crate server gives no crate list";
            break;
        }
        return {std::string(messages::NoCrate), why + " (" + call + ")"};
    }
    if (const std::optional<device::CrateQueryFailure>& query = report.QueryFailure) {
        return {messages::CrateQuery(*query), "crate " + query->CrateSerial + ": " +
                                                  std::string(CallName(query->Call)) + ": " +
                                                  KSN_ErrorName(query->Result)};
    }
    return {};
}

std::vector<std::string> ChooseTarget(DeviceInventory& inventory, const device::ScanReport& report,
                                      const ModuleTarget& target)
{
    device::Detector::ChooseModule(inventory, target.CrateSerial, target.Slot);
    if (!inventory.HasSelectedModule()) {
        return {std::string(messages::NoModuleCrate())};
    }
    const std::uint16_t c = inventory.SelectedCrate;
    const std::string crate = FixedText(inventory.ModuleCrateSerials[c]);
    if (target.CrateNamed && crate != target.CrateSerial) {
        std::vector<std::string> refusal{std::string(messages::CrateOpenFailed)};
        const std::vector<std::string> details =
            CrateDetails(inventory, report, target.CrateSerial);
        refusal.insert(refusal.end(), details.begin(), details.end());
        return refusal;
    }
    if (target.SlotNamed) {
        // A slot of its own applies to whichever crate was chosen.
        device::Detector::ChooseModule(inventory, crate, target.Slot);
        if (inventory.ModuleSlots[c][inventory.SelectedModule[c]] != target.Slot) {
            return {
                std::string(messages::ModuleOpenFailed),
                SlotDetail(crate, target.Slot, SlotResult(inventory, report, crate, target.Slot))};
        }
    }
    return {};
}

ModuleChoice FindModule(device::Detector& detector, DeviceInventory& inventory,
                        const ModuleTarget& target)
{
    ModuleChoice choice;
    const device::ScanReport report = detector.ScanCrates(inventory);
    if (report.Stopped) {
        choice.Stopped = true;
        return choice;
    }
    choice.Messages = ScanFailureMessages(report);
    if (!choice.Messages.empty()) {
        return choice;
    }
    if (inventory.ModuleCrateCount == 0) {
        // Modules that did not answer are not modules that are absent.
        choice.Messages = {report.HasUnansweredOpen()
                               ? messages::ScanOpenFailures(report.OpenFailures)
                               : messages::NoModuleCrate()};
        return choice;
    }
    choice.Messages = ChooseTarget(inventory, report, target);
    if (!choice.Messages.empty()) {
        return choice;
    }
    choice.Module = detector.OpenSelectedModule(inventory);
    if (!choice.Opened()) {
        choice.Messages = {
            std::string(messages::ModuleOpenFailed),
            SlotDetail(choice.Module.CrateSerial, choice.Module.Slot, choice.Module.Result)};
    }
    return choice;
}

}  // namespace tool
