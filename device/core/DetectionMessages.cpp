#include "DetectionMessages.h"

namespace device::DetectionMessages {

namespace {

// Why a call failed, worded for a question to the server about a crate or
// for the open of a module.
std::string CrateReason(int result)
{
    switch (ClassifyResult(result)) {
    case CallFault::NoServer:
        return "сервер крейтов недоступен";
    case CallFault::NoAnswer:
        return "сервер крейтов не отвечает";
    case CallFault::Nonsense:
        return "ответ сервера крейтов не имеет смысла";
    case CallFault::LinkLost:
        return "сервер крейтов разорвал связь";
    case CallFault::Busy:
        return "крейт занят";
    case CallFault::Refused:
        return "сервер крейтов отказал в запросе";
    case CallFault::NotFound:
        return "крейт не найден";
    case CallFault::None:
    case CallFault::Other:
        break;
    }
    return "ошибка библиотеки крейтов (код " + std::to_string(result) + ")";
}

std::string ModuleReason(int result)
{
    switch (ClassifyResult(result)) {
    case CallFault::NoServer:
        return "сервер крейтов недоступен";
    case CallFault::NoAnswer:
        return "модуль не отвечает";
    case CallFault::Nonsense:
        return "ответ на открытие модуля не имеет смысла";
    case CallFault::LinkLost:
        return "сервер крейтов разорвал связь";
    case CallFault::Busy:
        return "модуль занят другой программой";
    case CallFault::Refused:
        return "модуль отказался открыться";
    case CallFault::NotFound:
        return "в слоте нет модуля KSN48";
    case CallFault::None:
    case CallFault::Other:
        break;
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

std::string ScanOpenFailures(const std::vector<ModuleOpenFailure>& failures)
{
    std::string text;
    for (const ModuleOpenFailure& failure : failures) {
        if (!text.empty()) {
            text += '\n';
        }
        text += ModuleLine("Не могу открыть модуль KSN48", failure);
    }
    return text;
}

std::string ChosenModule(const ModuleOpenFailure& failure)
{
    return ModuleLine("Не могу открыть выбранный модуль KSN48", failure);
}

}  // namespace device::DetectionMessages
