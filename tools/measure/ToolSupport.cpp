#include "ToolSupport.h"

#include "Detection.h"
#include "DetectionMessages.h"
#include "FileVersion.h"
#include "ToolTexts.h"
#include "ksn48api.h"
#include "ksnapi.h"

namespace tool {

namespace {

std::string_view programName = ToolText::ProgramName;

}  // namespace

void SetProgramName(std::string_view name)
{
    programName = name;
}

std::ostream& Say(std::ostream& err)
{
    return err << programName << ": ";
}

void SayLines(std::ostream& err, const std::vector<std::string>& messages)
{
    for (const std::string& message : messages) {
        Say(err) << message << '\n';
    }
    err << std::flush;
}

bool LibrariesUsable(std::vector<std::string>& messages)
{
    // The files the dynamic loader chose, as the window reads them.
    const std::optional<device::LibraryCheck> check = device::CheckDeviceLibraries(
        ReadFileVersion(LoadedFilePath(reinterpret_cast<const void*>(&KSN_Init))),
        ReadFileVersion(LoadedFilePath(reinterpret_cast<const void*>(&KSN48_Init))));
    if (!check) {
        return true;
    }
    messages.push_back(std::string(device::DetectionMessages::LibraryVersion(*check)));
    return check->State != device::LibraryVersionState::Missing;
}

bool LibrariesUsable(std::ostream& err)
{
    std::vector<std::string> messages;
    const bool usable = LibrariesUsable(messages);
    SayLines(err, messages);
    return usable;
}

}  // namespace tool
