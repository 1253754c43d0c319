#pragma once

#include "Detection.h"
#include "DeviceInventory.h"
#include "InstrumentEngine.h"
#include "ModuleChoice.h"
#include "ksn48api.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <thread>

namespace scpi {

// The instrument's engine on the module: the tool's search for the module,
// its measurement cycle on a thread of its own, and its reconnect after a
// lost link. A run of the cycle stays configured between frames and waits
// for the next request after each (the module is stopped meanwhile), so a
// reading costs its acquisition and processing and no new configuration.
//
// One mutex guards the state the server's thread and the worker share;
// the worker alone calls the module library, except for the cancel of a
// receive, which is made under the mutex while the run is armed.
class ModuleEngine : public InstrumentEngine {
public:
    ModuleEngine(tool::ModuleTarget target, std::ostream& log);
    ~ModuleEngine() override;
    ModuleEngine(const ModuleEngine&) = delete;
    ModuleEngine& operator=(const ModuleEngine&) = delete;

    // Finds and opens the module on the caller's thread, before Start: the
    // messages of the window and the library when it cannot.
    std::vector<std::string> Open();
    // The module found, for the start's line.
    const device::OpenedModule& Module() const noexcept { return module_; }
    // Starts the worker.
    void Start();

    ModuleIdentity Identity() override;
    void Configure(const tool::MeasureSetup& setup) override;
    std::uint64_t Initiate() override;
    void SetContinuous(bool on) override;
    void Abort() override;
    bool Pending() override;
    std::uint64_t NextSequence() override;
    WaitOutcome WaitFor(std::uint64_t sequence, const std::function<bool()>& cancelled) override;
    std::optional<FrameReading> Latest() override;
    std::vector<EngineFault> TakeFaults() override;

private:
    class Host;

    void Work();
    void RunCycle(const tool::MeasureSetup& setup, std::uint64_t version);
    // Looks for the lost module once; true when it is open again.
    bool Reopen();
    // Under the lock: whether a frame is wanted now.
    bool WantedLocked() const;
    // Under the lock: the requests so far end in failure.
    void FailRequestsLocked(ScpiError error, const std::string& detail);
    // Under the lock: ends the frame under way.
    void StopRunLocked();
    void SayOpened();

    tool::ModuleTarget target_;
    std::ostream& log_;
    Ksn48Handle handle_{};
    std::atomic<bool> quit_{false};
    device::Detector detector_;
    device::DeviceInventory inventory_;
    device::OpenedModule module_;  // the worker's (and Open's before Start)
    std::thread worker_;

    std::mutex mutex_;
    std::condition_variable changed_;
    tool::MeasureSetup setup_;
    std::uint64_t setupVersion_ = 0;
    // A setup that was refused or failed is not run again by itself (INIT
    // tries it again); frames resume with the next setup.
    std::uint64_t parkedVersion_ = 0;
    bool parked_ = false;
    bool continuous_ = false;
    std::uint64_t requested_ = 0;  // the highest sequence asked for
    std::uint64_t published_ = 0;  // the sequence of the last frame measured
    std::uint64_t failed_ = 0;     // requests up to this one failed
    std::optional<FrameReading> latest_;
    std::vector<EngineFault> faults_;
    bool open_ = false;
    std::string lostReason_;
    std::string reopenSaid_;
    ModuleIdentity identity_;
    // The run's stop flag, and the cycle whose receive a stop cuts short.
    std::atomic<bool> runStop_{false};
    measure::MeasurementCycle* armed_ = nullptr;
};

}  // namespace scpi
