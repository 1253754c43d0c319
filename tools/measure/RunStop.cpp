#include "RunStop.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace tool {

namespace {

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

[[noreturn]] void ThrowSystemError(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// The second signal: the program ends as the signal ends a program.
[[noreturn]] void EndBySignal(int signal)
{
    ::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

}  // namespace

RunStop::RunStop(std::optional<double> durationSeconds)
{
    const sigset_t signals = StopSignals();
    if (pthread_sigmask(SIG_BLOCK, &signals, &oldMask_) != 0) {
        ThrowSystemError("cannot block SIGINT and SIGTERM");
    }
    signalFd_ = ::signalfd(-1, &signals, SFD_CLOEXEC);
    quitFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || quitFd_ < 0) {
        const int error = errno;
        Release();
        errno = error;
        ThrowSystemError("cannot watch for SIGINT and SIGTERM");
    }
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (durationSeconds) {
        deadline = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(*durationSeconds));
    }
    watcher_ = std::thread([this, deadline] { Watch(deadline); });
}

RunStop::~RunStop()
{
    if (watcher_.joinable()) {
        const std::uint64_t one = 1;
        while (::write(quitFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        watcher_.join();
    }
    Release();
}

void RunStop::Release() noexcept
{
    for (int* fd : {&signalFd_, &quitFd_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    // A signal still pending now acts as a second one would.
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
}

void RunStop::Request()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        if (cycle_ != nullptr) {
            cycle_->CancelReceive();
        }
    }
    woken_.notify_all();
}

void RunStop::MarkOutside()
{
    std::lock_guard lock(mutex_);
    fromOutside_ = true;
}

bool RunStop::Rearm()
{
    std::lock_guard lock(mutex_);
    if (fromOutside_) {
        return false;
    }
    stop_ = false;
    return true;
}

void RunStop::Arm(measure::MeasurementCycle* cycle)
{
    std::lock_guard lock(mutex_);
    cycle_ = cycle;
}

bool RunStop::WaitFor(std::chrono::steady_clock::duration time)
{
    std::unique_lock lock(mutex_);
    woken_.wait_for(lock, time, [this] { return stop_.load(); });
    return stop_.load();
}

void RunStop::Watch(std::optional<std::chrono::steady_clock::time_point> deadline)
{
    bool signalled = false;
    for (;;) {
        int timeout = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                MarkOutside();
                Request();
                deadline.reset();
            } else {
                timeout = static_cast<int>(std::min<std::int64_t>(left.count(), 60000));
            }
        }
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {quitFd_, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0) {
            continue;  // EINTR
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        signalfd_siginfo info{};
        if (::read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            continue;
        }
        if (signalled) {
            EndBySignal(static_cast<int>(info.ssi_signo));
        }
        signalled = true;
        MarkOutside();
        Request();
    }
}

}  // namespace tool
