#pragma once

#include "CrateApi.h"
#include "DeviceInventory.h"
#include "FileVersion.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Finding crates and KSN48 modules, choosing one and opening it: the rules
// of a detection pass without any window, for the window's detection thread
// and for any other front end. Nothing here keeps state between calls but
// the module handle and the inventory the caller owns.
namespace device {

// A detection request. The numbers are those the window posts.
enum DetectionMode : int {
    ModeModuleChanged = 1,  // another module of the selected crate was chosen
    ModeCrateChanged = 2,   // another crate was chosen
    ModeFullDetection = 3,  // search every crate
};

// The window's module state. The numbers are those it stores; only
// ModuleOpen means that a module is open and identified.
enum ModuleStateCode : std::uint8_t {
    ModuleNone = 0,
    ModuleFound = 1,  // found and opened by the search
    ModuleOpen = 2,
};

// What went wrong in a library call, as far as its result tells.
enum class CallFault {
    None,
    NoServer,  // the crate server cannot be reached
    NoAnswer,  // no reply in the time allowed
    Nonsense,  // a reply that makes no sense (malformed, another protocol)
    LinkLost,  // the server broke the connection
    Busy,      // the module is open by another client
    Refused,   // the server refused the request
    NotFound,  // no such crate or slot, or no KSN48 module in the slot
    Other,
};

CallFault ClassifyResult(int result) noexcept;

// The call failed for want of a sensible answer (no server, no reply in time,
// a broken link, a malformed reply), not because the other side refused or
// lacks what was asked for: trying again later may succeed.
bool IsLinkFault(int result) noexcept;

// The crate library calls a listing or a crate query makes.
enum class CrateCall { Open, GetCrates, GetCrateInfo, GetCrateModules };

struct CrateQueryFailure {
    std::string CrateSerial;  // empty: the server itself (the crate list)
    CrateCall Call = CrateCall::Open;
    int Result = 0;
};

struct ModuleOpenFailure {
    std::string CrateSerial;
    int Slot = 0;  // 1 .. 16
    int Result = 0;
};

// Outcome of a crate scan.
struct ScanReport {
    // The crate list could not be had (KSN_Open or KSN_GetCrates failed).
    std::optional<CrateQueryFailure> ListFailure;
    // A listed crate could not be opened or queried; the scan ended there.
    std::optional<CrateQueryFailure> QueryFailure;
    // KSN48 slots whose module did not open: they are not in the lists.
    std::vector<ModuleOpenFailure> OpenFailures;
    // An open got no answer in its time: the server was not asked again, and
    // this many KSN48 slots after it were left unopened (not in the lists).
    bool ServerSilent = false;
    int SlotsNotAsked = 0;
    // The stop flag ended the scan before its end.
    bool Stopped = false;

    bool Succeeded() const noexcept { return !ListFailure && !QueryFailure && !Stopped; }
    // Some module failed to open for want of a sensible answer (no reply, a
    // broken link, a malformed reply), not because it refused or is absent.
    bool HasUnansweredOpen() const noexcept;
};

// A module opened by OpenSelectedModule.
struct OpenedModule {
    int Result = KSN_ERR_INVALID_ARGUMENT;  // 0 when it opened
    std::string CrateSerial;
    int Slot = 0;
    std::string ModuleName;
    std::uint8_t CrateType = 0;
    std::string_view CrateTypeName;

    bool Opened() const noexcept { return Result == KSN_OK; }
};

// The library calls of detection on one module handle. Every call blocks
// for as long as the library does; a stop flag, when given, is looked at
// between calls, so that a scan ends soon after it is set.
class Detector {
public:
    explicit Detector(Ksn48Handle& handle, CrateApi api = LibraryCrateApi(),
                      const std::atomic<bool>* stop = nullptr);

    // The crate list into inventory.CrateSerials (zeroed first): KSN_Init,
    // KSN_Open, KSN_GetCrates, KSN_Close. nullopt on success.
    std::optional<CrateQueryFailure> ListCrates(DeviceInventory& inventory);

    // Lists the crates, queries each for its type and slots, and opens every
    // KSN48 module once to read its serial; fills everything of inventory
    // but the choice. An open that gets no answer in its time ends the
    // opens: a server that left one call unanswered is not made to time
    // out again for every module after it (ScanReport::ServerSilent). The
    // handle is closed at the end.
    ScanReport ScanCrates(DeviceInventory& inventory);

    // The wanted module crate and module, as the window picks them after a
    // search: the first module crate whose serial equals crateSerial (exact
    // text), else the first; in that crate the first module in moduleSlot,
    // but only when the crate is the wanted one, else its first module.
    // Every other crate's choice goes back to its first module.
    static void ChooseModule(DeviceInventory& inventory, std::string_view crateSerial,
                             int moduleSlot);

    // Closes the handle if open, prepares it and opens the selected module
    // of the selected crate. A choice outside the lists opens nothing.
    OpenedModule OpenSelectedModule(const DeviceInventory& inventory);

    void CloseModuleIfOpen();
    bool ModuleIsOpen() const;

private:
    bool Stopping() const noexcept { return stop_ != nullptr && stop_->load(); }

    Ksn48Handle& handle_;
    CrateApi api_;
    const std::atomic<bool>* stop_;
};

// --- versions ---

// The oldest library file version that is fully supported: 1.32.15.
inline constexpr std::uint32_t MinLibraryVersionCode = 0x01200F;

// (major << 16) | (minor << 8) | release; the build number is ignored.
constexpr std::uint32_t LibraryVersionCode(std::uint16_t major, std::uint16_t minor,
                                           std::uint16_t release) noexcept
{
    return (static_cast<std::uint32_t>(major) << 16) | (static_cast<std::uint32_t>(minor) << 8) |
           static_cast<std::uint32_t>(release);
}

enum class DeviceLibrary { Ksnapi, Ksn48api };
enum class LibraryVersionState { Supported, Missing, TooOld };

LibraryVersionState CheckLibraryVersion(const std::optional<FileVersion>& version) noexcept;

struct LibraryCheck {
    DeviceLibrary Library = DeviceLibrary::Ksnapi;
    LibraryVersionState State = LibraryVersionState::Supported;
};

// The crate library first, then the module library; the first one that is
// not supported ends the check. nullopt when both are supported.
std::optional<LibraryCheck> CheckDeviceLibraries(const std::optional<FileVersion>& ksnapi,
                                                 const std::optional<FileVersion>& ksn48api);

// Modules with older firmware work, but the window warns.
inline constexpr std::uint16_t MinFirmwareVersion = 9;

constexpr bool FirmwareSupported(std::uint16_t version) noexcept
{
    return version >= MinFirmwareVersion;
}

}  // namespace device
