#include "ServerLog.h"

#include <mutex>

namespace scpi {

namespace {
std::mutex logMutex;
}

void Say(std::ostream& log, std::string_view text)
{
    const std::lock_guard lock(logMutex);
    log << ProgramName << ": " << text << '\n' << std::flush;
}

void SayLines(std::ostream& log, const std::vector<std::string>& messages)
{
    for (const std::string& message : messages) {
        Say(log, message);
    }
}

}  // namespace scpi
