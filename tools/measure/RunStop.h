#pragma once

#include "MeasurementCycle.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include <signal.h>

namespace tool {

// How a run is ended from outside: SIGINT or SIGTERM, or the end of its
// duration. Either sets the run's stop flag and cuts short the receive the
// measurement waits in, so the run ends at once instead of after the
// receive's timeout. A second signal ends the program at once.
//
// The two signals are taken by a thread of this object (they are blocked in
// every other thread), so nothing runs in a signal handler: the receive is
// cancelled under a lock that also keeps the handle from being opened or
// closed meanwhile (see Arm).
class RunStop {
public:
    // Blocks SIGINT and SIGTERM in the calling thread, which every thread
    // made after it inherits: make it before any other thread.
    explicit RunStop(std::optional<double> durationSeconds);
    ~RunStop();
    RunStop(const RunStop&) = delete;
    RunStop& operator=(const RunStop&) = delete;

    // The run's stop flag, for the measurement cycle and the detection.
    std::atomic<bool>& Flag() noexcept { return stop_; }
    bool Requested() const noexcept { return stop_.load(); }
    // Ends the run from inside (the frames wanted are done, the log failed).
    void Request();
    // Clears a request from inside, for the next run of a program that makes
    // several; false (and the flag stays) after a signal or the duration.
    bool Rearm();

    // While cycle runs on an open module, a stop also cancels its receive.
    // Disarm (nullptr) before the module is closed or opened again.
    void Arm(measure::MeasurementCycle* cycle);

    // Sleeps until the time has passed or a stop is requested; true when a
    // stop was requested.
    bool WaitFor(std::chrono::steady_clock::duration time);

private:
    void Watch(std::optional<std::chrono::steady_clock::time_point> deadline);
    void MarkOutside();
    // Closes the descriptors and restores the signal mask.
    void Release() noexcept;

    std::atomic<bool> stop_{false};
    // A signal or the duration asked for the stop.
    bool fromOutside_ = false;
    std::mutex mutex_;
    std::condition_variable woken_;
    measure::MeasurementCycle* cycle_ = nullptr;
    sigset_t oldMask_{};
    int signalFd_ = -1;
    int quitFd_ = -1;
    std::thread watcher_;
};

}  // namespace tool
