#pragma once
// Child processes of a test: started with posix_spawn, waited for with a
// time limit, and never left behind.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace ksn::test {

// Spawns path with args and the test's environment, with the given
// variables ("NAME=value") added or replaced. Its stdout goes to *readEnd when given, else
// stays the test's. Throws std::runtime_error when it cannot start.
pid_t Spawn(const std::string& path, const std::vector<std::string>& args, int* readEnd = nullptr,
            const std::vector<std::string>& extraEnvironment = {});

// Runs a program to its end; returns its exit code (-1 when it did not exit
// normally) and what it printed on stdout.
std::pair<int, std::string> RunProgram(const std::string& path,
                                       const std::vector<std::string>& args,
                                       const std::vector<std::string>& extraEnvironment = {});

// A running child that is killed and reaped with the object.
class ChildProcess {
public:
    // readEnd as for Spawn.
    ChildProcess(const std::string& path, const std::vector<std::string>& args,
                 const std::vector<std::string>& extraEnvironment = {}, int* readEnd = nullptr);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // Waits for the end; true when it ended in time, with its exit code in
    // *exitCode (-1 when killed by a signal).
    bool WaitForExit(std::chrono::milliseconds timeout, int* exitCode = nullptr);
    void Kill();

private:
    pid_t pid_ = -1;
    int exitCode_ = -1;
};

}  // namespace ksn::test
