#include "ScpiOptions.h"

#include "ModuleOptions.h"
#include "ServerLog.h"

#include <CLI/CLI.hpp>

namespace scpi {

namespace {

constexpr std::string_view Description =
    "Serves a KSN48 module as a SCPI instrument over a raw TCP socket (port 5025),\n"
    "with the measurement of the KSN48_Vevu window.";

constexpr std::string_view Footer =
    R"(The module: --crate and --slot name it; without them it is picked as the
window picks it (the crate and slot saved in the --settings file, else the
first crate with a KSN48 module and its first module). The setup starts as
the --settings file gives it, or as a fresh window has it; *RST gives the
fresh window's. The crate server is the one on 127.0.0.1, port 11111 or the
port in KSN_CRATE_PORT.

The server listens on 127.0.0.1:5025 unless --listen names another address
(an address other than the loopback lets anyone who reaches it control the
module). Messages end with a newline; one client at a time: a second one gets
one line saying so and is closed. The commands: ksn48-scpi(1).

Examples:
  ksn48-scpi
  ksn48-scpi --crate KSN5-0042 --slot 3 --listen 127.0.0.1:5026
  echo '*IDN?' | nc -q1 127.0.0.1 5025

Exit codes:
  0  ended by SIGINT or SIGTERM
  1  cannot listen, or no setup
  2  usage
  3  no server, crate or module at the start)";

}  // namespace

ParsedServerCommandLine ParseServerCommandLine(int argc, const char* const* argv, std::ostream& out,
                                               std::ostream& err)
{
    CLI::App app{std::string(Description), std::string(ProgramName)};
    app.footer(std::string(Footer));
    app.set_version_flag("--version", std::string(ProgramName) + " " + KSN_TOOL_VERSION);
    app.get_formatter()->column_width(30);

    ServerOptions options;
    tool::ModuleOptionGroup module;
    std::string listen;
    module.Add(app, "A settings file of the window (Ksn48_Vevu.ini) to start the setup from");
    CLI::Option* listenOption =
        app.add_option("--listen", listen, "Address and port to listen on (127.0.0.1:5025)")
            ->type_name("HOST:PORT")
            ->check(
                [](const std::string& text) {
                    ListenAddress address;
                    return ParseListenAddress(text, address)
                               ? std::string()
                               : std::string("an IPv4 address and a port, such as 127.0.0.1:5025");
                },
                "");

    ParsedServerCommandLine parsed;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return parsed;
    } catch (const CLI::CallForVersion&) {
        out << ProgramName << " " << KSN_TOOL_VERSION << '\n';
        return parsed;
    } catch (const CLI::ParseError& e) {
        err << ProgramName << ": " << e.what() << "\n(--help lists the options)\n";
        parsed.ExitCode = ExitUsage;
        return parsed;
    }
    module.Take(options);
    if (listenOption->count() > 0) {
        ParseListenAddress(listen, options.Listen);
        options.ListenGiven = true;
    }
    parsed.Options = options;
    return parsed;
}

tool::ModuleTarget TargetOf(const ServerOptions& options, const std::string& savedCrate,
                            int savedSlot)
{
    tool::ModuleTarget target;
    target.CrateNamed = options.Crate.has_value();
    target.SlotNamed = options.Slot.has_value();
    target.CrateSerial = options.Crate.value_or(savedCrate);
    // A saved slot belongs to the saved crate: a crate named alone takes its
    // first module.
    target.Slot = options.Slot.value_or(target.CrateNamed ? -1 : savedSlot);
    return target;
}

}  // namespace scpi
