#include "CrateServer.h"

#include "Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <unistd.h>

namespace ksn::test {

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 5000;

// Reads from fd until a newline or the deadline; false on timeout or EOF.
bool ReadLine(int fd, std::string& line, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    line.clear();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n <= 0) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        line += c;
    }
}

}  // namespace

std::string CrateServer::DaemonPath()
{
    return KSN_CRATED_PATH;
}

std::string CrateServer::CtlPath()
{
    return KSN_CRATECTL_PATH;
}

std::string CrateServer::LibraryDir()
{
    return KSN_LIBRARY_DIR;
}

std::string CrateServer::VersionVariantDir(const std::string& variant)
{
    return LibraryDir() + "/ksn-version-" + variant;
}

CrateServer::CrateServer(const std::string& configJson, bool fast, std::vector<std::string> options)
    : fast_(fast), options_(std::move(options))
{
    if (!configJson.empty()) {
        char name[] = "/tmp/ksn-crated-config-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) {
            throw std::runtime_error("cannot create a config file");
        }
        const ssize_t n = write(fd, configJson.data(), configJson.size());
        close(fd);
        configPath_ = name;
        if (n != static_cast<ssize_t>(configJson.size())) {
            unlink(name);
            throw std::runtime_error("cannot write the config file");
        }
    }
    if (const char* old = std::getenv("KSN_CRATE_PORT")) {
        hadPortVariable_ = true;
        oldPortVariable_ = old;
    }
    try {
        Launch(0);
    } catch (...) {
        if (!configPath_.empty()) {
            unlink(configPath_.c_str());
        }
        throw;
    }
    setenv("KSN_CRATE_PORT", std::to_string(port_).c_str(), 1);
}

CrateServer::~CrateServer()
{
    Stop();
    if (!configPath_.empty()) {
        unlink(configPath_.c_str());
    }
    if (hadPortVariable_) {
        setenv("KSN_CRATE_PORT", oldPortVariable_.c_str(), 1);
    } else {
        unsetenv("KSN_CRATE_PORT");
    }
}

void CrateServer::Launch(uint16_t port)
{
    std::vector<std::string> args = {"--port", std::to_string(port)};
    if (fast_) {
        args.push_back("--fast");
    }
    if (!configPath_.empty()) {
        args.push_back("--config");
        args.push_back(configPath_);
    }
    args.insert(args.end(), options_.begin(), options_.end());
    // The port of a server just killed can take a moment to come free.
    for (int attempt = 0;; ++attempt) {
        pid_ = Spawn(DaemonPath(), args, &out_);
        std::string line;
        const bool up = ReadLine(out_, line, kStartTimeoutMs);
        const auto colon = line.rfind(':');
        if (up && colon != std::string::npos) {
            port_ = static_cast<uint16_t>(std::strtoul(line.c_str() + colon + 1, nullptr, 10));
            return;
        }
        int status = 0;
        Reap(kStopTimeoutMs, &status);
        if (attempt >= 50 || port == 0) {
            throw std::runtime_error("ksn-crated did not start (" + line + ")");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void CrateServer::Reap(int timeoutMs, int* status)
{
    if (pid_ <= 0) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t r = waitpid(pid_, status, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, status, 0);
            *status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    if (out_ >= 0) {
        close(out_);
        out_ = -1;
    }
}

void CrateServer::Suspend()
{
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGSTOP);
    // The signal takes a moment: nothing the caller sends next may still be
    // answered.
    int status = 0;
    while (waitpid(pid_, &status, WUNTRACED) < 0 && errno == EINTR) {
    }
}

void CrateServer::Resume()
{
    if (pid_ > 0) {
        kill(pid_, SIGCONT);
    }
}

void CrateServer::Kill()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        Reap(kStopTimeoutMs, &status);
    }
}

int CrateServer::Stop()
{
    if (pid_ <= 0) {
        return -1;
    }
    Resume();  // a stopped server would not see the request to end
    kill(pid_, SIGTERM);
    int status = 0;
    Reap(kStopTimeoutMs, &status);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void CrateServer::Restart()
{
    Stop();
    Launch(port_);
}

int CrateServer::Ctl(const std::vector<std::string>& args, std::string* output) const
{
    std::vector<std::string> all = {"--port", std::to_string(port_)};
    all.insert(all.end(), args.begin(), args.end());
    auto [code, text] = RunProgram(CtlPath(), all);
    if (output) {
        *output = std::move(text);
    }
    return code;
}

}  // namespace ksn::test
