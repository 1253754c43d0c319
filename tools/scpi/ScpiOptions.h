#pragma once

#include "ModuleChoice.h"
#include "ScpiServer.h"

#include <optional>
#include <ostream>
#include <string>

namespace scpi {

// Exit codes of ksn48-scpi.
enum ExitCode : int {
    ExitDone = 0,     // ended by a signal
    ExitFailure = 1,  // cannot listen, or the setup cannot be made
    ExitUsage = 2,
    ExitNoDevice = 3,  // no server, crate or module at the start
};

struct ServerOptions {
    std::optional<std::string> Crate;
    std::optional<int> Slot;
    std::optional<std::string> SettingsPath;
    ListenAddress Listen;
    bool ListenGiven = false;
};

struct ParsedServerCommandLine {
    std::optional<ServerOptions> Options;  // empty: end with ExitCode
    int ExitCode = ExitDone;
};

ParsedServerCommandLine ParseServerCommandLine(int argc, const char* const* argv,
                                               std::ostream& out, std::ostream& err);

// The module the options name, else the one the settings saved (the tool's rule).
tool::ModuleTarget TargetOf(const ServerOptions& options, const std::string& savedCrate,
                            int savedSlot);

}  // namespace scpi
