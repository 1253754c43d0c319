#include "Detection.h"

#include "CrateTypes.h"
#include "FixedText.h"

#include <algorithm>

namespace device {

CallFault ClassifyResult(int result) noexcept
{
    switch (result) {
    case KSN_OK:
        return CallFault::None;
    case KSN_ERR_CONNECT:
        return CallFault::NoServer;
    case KSN_ERR_TIMEOUT:
        return CallFault::NoAnswer;
    case KSN_ERR_PROTOCOL:
    case KSN_ERR_VERSION:
        return CallFault::Nonsense;
    case KSN_ERR_CONNECTION_LOST:
        return CallFault::LinkLost;
    case KSN_ERR_BUSY:
        return CallFault::Busy;
    case KSN_ERR_REFUSED:
        return CallFault::Refused;
    case KSN_ERR_NOT_FOUND:
    case KSN_ERR_NOT_MODULE:
        return CallFault::NotFound;
    default:
        return CallFault::Other;
    }
}

bool IsLinkFault(int result) noexcept
{
    const CallFault fault = ClassifyResult(result);
    return fault == CallFault::NoServer || fault == CallFault::NoAnswer ||
           fault == CallFault::Nonsense || fault == CallFault::LinkLost;
}

bool ScanReport::HasUnansweredOpen() const noexcept
{
    return std::any_of(OpenFailures.begin(), OpenFailures.end(),
                       [](const ModuleOpenFailure& f) { return IsLinkFault(f.Result); });
}

namespace {

// KSN48 slots of the listed crates from crate i, slot index k on.
int CountKsn48Slots(const DeviceInventory& inventory, std::size_t i, std::size_t k)
{
    int count = 0;
    for (; i < inventory.CrateCount && i < DeviceInventory::MaxCrates; ++i, k = 0) {
        for (; k < DeviceInventory::MaxSlots; ++k) {
            count += inventory.CrateModuleIds[i][k] == KSN_MODULE_ID_KSN48 ? 1 : 0;
        }
    }
    return count;
}

}  // namespace

Detector::Detector(Ksn48Handle& handle, CrateApi api, const std::atomic<bool>* stop)
    : handle_(handle), api_(api), stop_(stop)
{}

std::optional<CrateQueryFailure> Detector::ListCrates(DeviceInventory& inventory)
{
    for (DeviceInventory::Text& serial : inventory.CrateSerials) {
        serial.fill('\0');
    }
    KsnCrateLink link{};
    api_.Init(&link);
    link.Channel = 0;
    if (const int r = api_.Open(&link); r != KSN_OK) {
        return CrateQueryFailure{{}, CrateCall::Open, r};
    }
    char list[KSN_MAX_CRATES][KSN_SERIAL_SIZE] = {};
    const int r = api_.GetCrates(&link, list);
    api_.Close(&link);
    if (r != KSN_OK) {
        return CrateQueryFailure{{}, CrateCall::GetCrates, r};
    }
    for (std::size_t i = 0; i < DeviceInventory::MaxCrates; ++i) {
        CopySerial(inventory.CrateSerials[i].data(), list[i], KSN_SERIAL_SIZE);
    }
    return std::nullopt;
}

ScanReport Detector::ScanCrates(DeviceInventory& inventory)
{
    ScanReport report;
    if (Stopping()) {
        report.Stopped = true;
        return report;
    }
    report.ListFailure = ListCrates(inventory);
    if (report.ListFailure) {
        return report;
    }

    // Type and slots of every listed crate; the first crate that cannot be
    // queried ends the scan.
    KsnCrateLink link{};
    api_.Init(&link);
    link.Channel = 0;
    inventory.CrateCount = 0;
    for (auto& ids : inventory.CrateModuleIds) {
        ids.fill(0);
    }
    inventory.CrateTypes.fill(0);
    for (std::size_t i = 0; i < DeviceInventory::MaxCrates && inventory.CrateSerials[i][0] != '\0';
         ++i) {
        if (Stopping()) {
            report.Stopped = true;
            return report;
        }
        ++inventory.CrateCount;
        CopySerial(link.CrateSerial, inventory.CrateSerials[i].data(), KSN_SERIAL_SIZE);
        const std::string serial = FixedText(inventory.CrateSerials[i]);
        if (const int r = api_.Open(&link); r != KSN_OK) {
            report.QueryFailure = CrateQueryFailure{serial, CrateCall::Open, r};
            return report;
        }
        KsnCrateInfo info{};
        CrateCall call = CrateCall::GetCrateInfo;
        int r = api_.GetCrateInfo(&link, &info);
        if (r == KSN_OK) {
            call = CrateCall::GetCrateModules;
            r = api_.GetCrateModules(&link, inventory.CrateModuleIds[i].data());
        }
        api_.Close(&link);
        if (r != KSN_OK) {
            report.QueryFailure = CrateQueryFailure{serial, call, r};
            return report;
        }
        inventory.CrateTypes[i] = info.CrateType;
    }

    // Every KSN48 module opened once; those that open make the lists.
    inventory.ModuleCrateCount = 0;
    for (DeviceInventory::Text& serial : inventory.ModuleCrateSerials) {
        serial.fill('\0');
    }
    inventory.ModuleCrateTypes.fill(0);
    for (auto& slots : inventory.ModuleSlots) {
        slots.fill(0);
    }
    inventory.ModuleCounts.fill(0);
    std::size_t j = 0;
    for (std::size_t i = 0; i < inventory.CrateCount; ++i) {
        std::size_t m = 0;
        for (std::size_t k = 0; k < DeviceInventory::MaxSlots; ++k) {
            if (inventory.CrateModuleIds[i][k] != KSN_MODULE_ID_KSN48) {
                continue;
            }
            CloseModuleIfOpen();
            if (Stopping()) {
                report.Stopped = true;
                return report;
            }
            const int slot = static_cast<int>(k + 1);
            const int r = api_.ModuleOpen(&handle_, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT,
                                          inventory.CrateSerials[i].data(), slot);
            if (r != KSN_OK) {
                report.OpenFailures.push_back({FixedText(inventory.CrateSerials[i]), slot, r});
                if (ClassifyResult(r) == CallFault::NoAnswer) {
                    report.ServerSilent = true;
                    report.SlotsNotAsked = CountKsn48Slots(inventory, i, k + 1);
                    break;
                }
                continue;
            }
            inventory.ModuleCrateTypes[j] = inventory.CrateTypes[i];
            CopySerial(inventory.ModuleSerials[j][m].data(), handle_.ModuleSerial,
                       DeviceInventory::Text{}.size());
            inventory.ModuleSlots[j][m] = static_cast<std::uint16_t>(slot);
            ++m;
            ++inventory.ModuleCounts[j];
        }
        if (m > 0) {
            inventory.ModuleCrateSerials[j] = inventory.CrateSerials[i];
            ++j;
        }
        if (report.ServerSilent) {
            break;
        }
    }
    inventory.ModuleCrateCount = static_cast<std::uint16_t>(j);
    CloseModuleIfOpen();
    return report;
}

void Detector::ChooseModule(DeviceInventory& inventory, std::string_view crateSerial,
                            int moduleSlot)
{
    const std::uint16_t count =
        std::min<std::uint16_t>(inventory.ModuleCrateCount, DeviceInventory::MaxCrates);
    std::uint16_t selected = 0;
    for (std::uint16_t j = 0; j < count; ++j) {
        if (FixedText(inventory.ModuleCrateSerials[j]) == crateSerial) {
            selected = j;
            break;
        }
    }
    inventory.SelectedCrate = selected;
    inventory.SelectedModule.fill(0);
    if (count > 0 && FixedText(inventory.ModuleCrateSerials[selected]) == crateSerial) {
        const std::uint16_t modules =
            std::min<std::uint16_t>(inventory.ModuleCounts[selected], DeviceInventory::MaxSlots);
        for (std::uint16_t m = 0; m < modules; ++m) {
            if (static_cast<int>(inventory.ModuleSlots[selected][m]) == moduleSlot) {
                inventory.SelectedModule[selected] = m;
                break;
            }
        }
    }
}

OpenedModule Detector::OpenSelectedModule(const DeviceInventory& inventory)
{
    OpenedModule opened;
    CloseModuleIfOpen();
    if (!inventory.HasSelectedModule()) {
        return opened;  // no choice inside the lists: nothing to open
    }
    const std::uint16_t c = inventory.SelectedCrate;
    const std::uint16_t m = inventory.SelectedModule[c];
    opened.CrateSerial = FixedText(inventory.ModuleCrateSerials[c]);
    opened.Slot = inventory.ModuleSlots[c][m];
    api_.ModuleInit(&handle_);
    opened.Result = api_.ModuleOpen(&handle_, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT,
                                    inventory.ModuleCrateSerials[c].data(), opened.Slot);
    if (opened.Result == KSN_OK) {
        opened.ModuleName = FixedText(handle_.ModuleName);
        opened.CrateType = inventory.ModuleCrateTypes[c];
        opened.CrateTypeName = CrateTypeName(opened.CrateType);
    }
    return opened;
}

bool Detector::ModuleIsOpen() const
{
    return api_.ModuleIsOpened(&handle_) == KSN_OK;
}

void Detector::CloseModuleIfOpen()
{
    if (ModuleIsOpen()) {
        api_.ModuleClose(&handle_);
    }
}

LibraryVersionState CheckLibraryVersion(const std::optional<FileVersion>& version) noexcept
{
    if (!version) {
        return LibraryVersionState::Missing;
    }
    return LibraryVersionCode(version->major, version->minor, version->release) <
                   MinLibraryVersionCode
               ? LibraryVersionState::TooOld
               : LibraryVersionState::Supported;
}

std::optional<LibraryCheck> CheckDeviceLibraries(const std::optional<FileVersion>& ksnapi,
                                                 const std::optional<FileVersion>& ksn48api)
{
    if (const LibraryVersionState state = CheckLibraryVersion(ksnapi);
        state != LibraryVersionState::Supported) {
        return LibraryCheck{DeviceLibrary::Ksnapi, state};
    }
    if (const LibraryVersionState state = CheckLibraryVersion(ksn48api);
        state != LibraryVersionState::Supported) {
        return LibraryCheck{DeviceLibrary::Ksn48api, state};
    }
    return std::nullopt;
}

}  // namespace device
