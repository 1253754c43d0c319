#pragma once

#include "Detection.h"

#include <string>
#include <string_view>
#include <vector>

// What a detection pass tells the operator when something fails, in UTF-8,
// one place each; the window and any other front end show the same texts.
namespace device::DetectionMessages {

inline constexpr std::string_view KsnapiVersionMissing =
    "Опаньки!!! Не могу определить версию библиотеки Ksnapi.dll!!!";
inline constexpr std::string_view Ksn48apiVersionMissing =
    "Опаньки!!! Не могу определить версию библиотеки Ksn48api.dll!!!";
inline constexpr std::string_view KsnapiVersionTooOld =
    "Версия библиотеки Ksnapi.dll должна быть не ниже 1.32.15!!!";
inline constexpr std::string_view Ksn48apiVersionTooOld =
    "Версия библиотеки Ksn48api.dll должна быть не ниже 1.32.15!!!";

inline constexpr std::string_view NoCrate = "Не могу найти ни одного KSN крейта!";
inline constexpr std::string_view NoModuleCratePrefix =
    "Не могу найти ни одного KSN крейта, где бы был установлен модуль ";
inline constexpr std::string_view ModuleTypeName = "KSN48";
inline constexpr std::string_view ModuleOpenFailed =
    "Не могу проинициализировать модуль в указанном слоте!";
inline constexpr std::string_view CrateOpenFailed =
    "Не могу проинициализировать KSN крейт с модулями в указанном слоте!";
// The hint of a module whose firmware is older than MinFirmwareVersion.
inline constexpr std::string_view FirmwareTooOld =
    "Версия микропрограммы модуля должна быть не ниже 9.\nОбновите микропрограмму модуля!!!";
inline constexpr std::string_view Unrecoverable =
    "Опаньки!!! Поймали неустранимое исключение!!!\nСрочно сообщите разработчику!";

// The message of a library that is missing its version or is too old.
std::string_view LibraryVersion(const LibraryCheck& check) noexcept;

// "Не могу найти ни одного KSN крейта, где бы был установлен модуль KSN48!"
std::string NoModuleCrate();

// A listed crate that could not be opened or queried.
std::string CrateQuery(const CrateQueryFailure& failure);

// The crate list that could not be had: the design's NoCrate for a server
// that cannot be reached; one that was reached but did not answer, answered
// nonsense or broke the link is named as such.
std::string CrateList(const CrateQueryFailure& failure);

// KSN48 modules that did not open during the scan, one line each; then, when
// slotsNotAsked > 0, a line that the server was not asked about the others.
std::string ScanOpenFailures(const std::vector<ModuleOpenFailure>& failures,
                             int slotsNotAsked = 0);

// The module chosen after the search that did not open.
std::string ChosenModule(const ModuleOpenFailure& failure);

}  // namespace device::DetectionMessages
