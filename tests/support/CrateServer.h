#pragma once
// A ksn-crated of a test's own: started on a free loopback port, stopped
// with the object. The libraries of this process are pointed at it through
// KSN_CRATE_PORT.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ksn::test {

class CrateServer {
public:
    // configJson: the server's JSON configuration; empty for the built-in
    // population. fast: no real-time pacing. options: more arguments of
    // ksn-crated (by default --control, so that Ctl can inject faults).
    // Throws std::runtime_error when the server does not come up.
    explicit CrateServer(const std::string& configJson = {}, bool fast = true,
                         std::vector<std::string> options = {"--control"});
    ~CrateServer();
    CrateServer(const CrateServer&) = delete;
    CrateServer& operator=(const CrateServer&) = delete;

    uint16_t Port() const { return port_; }
    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // SIGSTOP and SIGCONT: a server that stops answering, with its
    // connections and its port still open. Suspend returns once the server
    // has stopped.
    void Suspend();
    void Resume();
    // SIGKILL: the server dies without closing anything itself.
    void Kill();
    // SIGTERM and wait; returns the exit status (or -1 if it had to be killed).
    int Stop();
    // Starts it again on the same port (stopping it first if it runs).
    void Restart();

    // Runs ksn-cratectl --port <port> args...; returns its exit code and
    // puts what it printed on stdout into *output.
    int Ctl(const std::vector<std::string>& args, std::string* output = nullptr) const;

    static std::string DaemonPath();
    static std::string CtlPath();
    // Directory with libksnapi.so and libksn48api.so carrying another file
    // version: "none", "1.32.14", "1.32.15" or "2.0.0".
    static std::string VersionVariantDir(const std::string& variant);
    // Directory of the regular libraries (file version 1.33.0.0).
    static std::string LibraryDir();

private:
    void Launch(uint16_t port);
    void Reap(int timeoutMs, int* status);

    pid_t pid_ = -1;
    int out_ = -1;  // read end of the server's stdout
    uint16_t port_ = 0;
    bool fast_ = true;
    std::vector<std::string> options_;
    std::string configPath_;
    bool hadPortVariable_ = false;
    std::string oldPortVariable_;
};

}  // namespace ksn::test
