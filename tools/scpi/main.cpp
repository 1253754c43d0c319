// ksn48-scpi: a KSN48 module as a SCPI instrument on a raw TCP socket.
#include "ModuleEngine.h"
#include "ScpiInstrument.h"
#include "ScpiOptions.h"
#include "ScpiServer.h"
#include "ServerLog.h"
#include "ToolSupport.h"

#include <csignal>
#include <iostream>
#include <optional>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace scpi;
    std::signal(SIGPIPE, SIG_IGN);
    const ParsedServerCommandLine parsed = ParseServerCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.Options) {
        return parsed.ExitCode;
    }
    const ServerOptions& options = *parsed.Options;

    std::vector<std::string> messages;
    const bool usable = tool::LibrariesUsable(messages);
    SayLines(std::cerr, messages);
    if (!usable) {
        return ExitNoDevice;
    }

    tool::MeasureSetup defaults;
    tool::MeasureSetup start;
    try {
        defaults = tool::DefaultSetup();
        start = options.SettingsPath ? tool::ReadSetup(*options.SettingsPath) : defaults;
    } catch (const tool::SetupError& e) {
        Say(std::cerr, e.what());
        return options.SettingsPath ? ExitUsage : ExitFailure;
    }

    // SIGINT and SIGTERM end the server through its poll; blocked before any
    // thread starts, so that none of them takes the signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int stopFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (stopFd < 0) {
        Say(std::cerr, "cannot take the signals");
        return ExitFailure;
    }

    ModuleEngine engine(TargetOf(options, start.CrateSerial, start.ModuleSlot), std::cerr);
    std::optional<ScpiInstrument> instrument;
    std::optional<ScpiServer> server;
    try {
        instrument.emplace(engine, defaults, start, KSN_TOOL_VERSION);
        server.emplace(*instrument, options.Listen, std::cerr);
    } catch (const std::exception& e) {
        Say(std::cerr, e.what());
        return ExitFailure;
    }
    const std::vector<std::string> refusal = engine.Open();
    if (!refusal.empty()) {
        SayLines(std::cerr, refusal);
        return ExitNoDevice;
    }
    engine.Start();
    if (!server->Loopback()) {
        Say(std::cerr, "listening on " + server->Bound() +
                           ", not only the loopback: whoever reaches it controls the module");
    }
    // The one line on standard output: where it listens (the port the
    // system picked for :0).
    std::cout << ProgramName << ": listening on " << server->Bound() << std::endl;
    try {
        server->Serve(stopFd);
    } catch (const std::exception& e) {
        Say(std::cerr, e.what());
        return ExitFailure;
    }
    Say(std::cerr, "stopped");
    return ExitDone;
}
