#include "DetectionMessages.h"

namespace device::DetectionMessages {

namespace {

// Why a call failed, worded for a question to the server about a crate and
// for the open of a module.
struct Reason {
    CallFault Fault;
    std::string_view Crate;
    std::string_view Module;
};

constexpr Reason Reasons[] = {
    {CallFault::NoServer, "сервер крейтов недоступен", "сервер крейтов недоступен"},
    {CallFault::NoAnswer, "сервер крейтов не отвечает", "модуль не отвечает"},
    {CallFault::Nonsense, "ответ сервера крейтов не имеет смысла",
     "ответ на открытие модуля не имеет смысла"},
    {CallFault::LinkLost, "сервер крейтов разорвал связь", "сервер крейтов разорвал связь"},
    {CallFault::Busy, "крейт занят", "модуль занят другой программой"},
    {CallFault::Refused, "сервер крейтов отказал в запросе", "модуль отказался открыться"},
    {CallFault::NotFound, "крейт не найден", "в слоте нет модуля KSN48"},
};

std::string CrateReason(int result)
{
    for (const Reason& reason : Reasons) {
        if (reason.Fault == ClassifyResult(result)) {
            return std::string(reason.Crate);
        }
    }
    return "ошибка библиотеки крейтов (код " + std::to_string(result) + ")";
}

std::string ModuleReason(int result)
{
    for (const Reason& reason : Reasons) {
        if (reason.Fault == ClassifyResult(result)) {
            return std::string(reason.Module);
        }
    }
    return "ошибка библиотеки модуля (код " + std::to_string(result) + ")";
}

std::string ModuleLine(std::string_view start, const ModuleOpenFailure& failure)
{
    return std::string(start) + " в слоте " + std::to_string(failure.Slot) + " KSN крейта '" +
           failure.CrateSerial + "': " + ModuleReason(failure.Result) + "!";
}

}  // namespace

std::string_view LibraryVersion(const LibraryCheck& check) noexcept
{
    const bool crate = check.Library == DeviceLibrary::Ksnapi;
    if (check.State == LibraryVersionState::Missing) {
        return crate ? KsnapiVersionMissing : Ksn48apiVersionMissing;
    }
    return crate ? KsnapiVersionTooOld : Ksn48apiVersionTooOld;
}

std::string NoModuleCrate()
{
    return std::string(NoModuleCratePrefix) + std::string(ModuleTypeName) + "!";
}

std::string CrateQuery(const CrateQueryFailure& failure)
{
    return "Не могу получить сведения о KSN крейте '" + failure.CrateSerial +
           "': " + CrateReason(failure.Result) + "!";
}

std::string CrateList(const CrateQueryFailure& failure)
{
    if (ClassifyResult(failure.Result) == CallFault::NoServer) {
        return std::string(NoCrate);
    }
    return "Не могу получить список KSN крейтов: " + CrateReason(failure.Result) + "!";
}

std::string ScanOpenFailures(const std::vector<ModuleOpenFailure>& failures, int slotsNotAsked)
{
    std::string text;
    for (const ModuleOpenFailure& failure : failures) {
        if (!text.empty()) {
            text += '\n';
        }
        text += ModuleLine("Не могу открыть модуль KSN48", failure);
    }
    if (slotsNotAsked > 0) {
        text += "\nОстальные модули KSN48 не опрошены: сервер крейтов не отвечает!";
    }
    return text;
}

std::string ChosenModule(const ModuleOpenFailure& failure)
{
    return ModuleLine("Не могу открыть выбранный модуль KSN48", failure);
}

}  // namespace device::DetectionMessages
