#include "Process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ksn::test {

pid_t Spawn(const std::string& path, const std::vector<std::string>& args, int* readEnd,
            const std::vector<std::string>& extraEnvironment)
{
    int fds[2] = {-1, -1};
    if (readEnd && pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (readEnd) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // The test's environment, less the variables given anew.
    const auto overridden = [&extraEnvironment](const char* entry) {
        const char* equals = std::strchr(entry, '=');
        const std::size_t length =
            equals != nullptr ? static_cast<std::size_t>(equals - entry) : std::strlen(entry);
        for (const auto& e : extraEnvironment) {
            if (e.size() > length && e.compare(0, length, entry, length) == 0 && e[length] == '=') {
                return true;
            }
        }
        return false;
    };
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        if (!overridden(*e)) {
            envp.push_back(*e);
        }
    }
    for (const auto& e : extraEnvironment) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (readEnd) {
        close(fds[1]);
        *readEnd = fds[0];
    }
    if (r != 0) {
        if (readEnd) {
            close(fds[0]);
        }
        throw std::runtime_error("cannot start " + path + ": " + std::strerror(r));
    }
    return pid;
}

std::pair<int, std::string> RunProgram(const std::string& path,
                                       const std::vector<std::string>& args,
                                       const std::vector<std::string>& extraEnvironment)
{
    int out = -1;
    const pid_t pid = Spawn(path, args, &out, extraEnvironment);
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(out, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(out);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnvironment, int* readEnd)
    : pid_(Spawn(path, args, readEnd, extraEnvironment))
{}

ChildProcess::~ChildProcess()
{
    Kill();
}

bool ChildProcess::Running()
{
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return false;
    }
    return true;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout, int* exitCode)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (exitCode != nullptr) {
        *exitCode = exitCode_;
    }
    return true;
}

void ChildProcess::Kill()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

}  // namespace ksn::test
