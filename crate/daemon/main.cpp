// ksn-crated: the simulated crate server.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>

#include "Population.h"
#include "Server.h"

namespace {

constexpr const char* kUsage =
    "Usage: ksn-crated [--port N] [--config FILE] [--fast] [--control] [--max-clients N] [--help]\n"
    "Simulated KSN crate server on 127.0.0.1.\n"
    "  --port N         TCP port (default 11111; 0 picks a free one)\n"
    "  --config FILE    crates, modules and signals as JSON (default: built-in population)\n"
    "  --fast           no real-time pacing: data as fast as it can be made\n"
    "  --control        accept control requests that change signals, inject faults or drop\n"
    "                   clients (ksn-cratectl); without it only \"list\" is answered\n"
    "  --max-clients N  connections served at once, 1..4096 (default 256); more are refused\n"
    "  --help           this text\n"
    "Prints \"ksn-crated: listening on 127.0.0.1:PORT\" once it accepts clients.\n"
    "SIGTERM or SIGINT ends it.\n";

int g_wakeWrite = -1;

void OnSignal(int)
{
    const char c = 1;
    const ssize_t ignored = write(g_wakeWrite, &c, 1);
    static_cast<void>(ignored);
}

int Usage(const std::string& problem)
{
    std::cerr << "ksn-crated: " << problem << "\n" << kUsage;
    return 2;
}

// A decimal number from lo to hi, the whole text.
std::optional<long> WholeNumber(const char* text, long lo, long hi)
{
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || n < lo || n > hi) {
        return std::nullopt;
    }
    return n;
}

}  // namespace

int main(int argc, char** argv)
{
    ksn::sim::ServerOptions options;
    std::string configPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--fast") {
            options.fast = true;
        } else if (arg == "--control") {
            options.control = true;
        } else if (arg == "--max-clients" && i + 1 < argc) {
            const std::optional<long> n = WholeNumber(argv[++i], 1, 4096);
            if (!n) {
                return Usage(std::string("bad client count \"") + argv[i] + "\"");
            }
            options.maxClients = static_cast<std::size_t>(*n);
        } else if (arg == "--port" && i + 1 < argc) {
            const std::optional<long> port = WholeNumber(argv[++i], 0, 65535);
            if (!port) {
                return Usage(std::string("bad port \"") + argv[i] + "\"");
            }
            options.port = static_cast<uint16_t>(*port);
        } else if (arg == "--config" && i + 1 < argc) {
            configPath = argv[++i];
        } else {
            return Usage("unknown or incomplete argument \"" + arg + "\"");
        }
    }

    ksn::sim::Population population;
    if (configPath.empty()) {
        population = ksn::sim::DefaultPopulation();
    } else {
        std::ifstream in(configPath);
        if (!in) {
            std::cerr << "ksn-crated: cannot read " << configPath << ": " << std::strerror(errno)
                      << "\n";
            return 2;
        }
        std::ostringstream text;
        text << in.rdbuf();
        try {
            population = ksn::sim::ParsePopulation(text.str());
        } catch (const ksn::sim::ConfigError& e) {
            std::cerr << "ksn-crated: " << configPath << ": " << e.what() << "\n";
            return 2;
        }
    }

    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("ksn-crated: pipe");
        return 1;
    }
    g_wakeWrite = wake[1];
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        ksn::sim::Server server(std::move(population), options);
        server.Listen();
        std::cout << "ksn-crated: listening on 127.0.0.1:" << server.Port()
                  << (options.fast ? " (fast)" : "") << (options.control ? " (control)" : "")
                  << std::endl;
        server.Run(wake[0]);
    } catch (const std::exception& e) {
        std::cerr << "ksn-crated: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
