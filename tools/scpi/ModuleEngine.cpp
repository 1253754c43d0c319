#include "ModuleEngine.h"

#include "CycleResults.h"
#include "DetectionMessages.h"
#include "FixedText.h"
#include "MeasurementCycle.h"
#include "MeasurementTexts.h"
#include "ServerLog.h"

#include <chrono>
#include <cstdio>

namespace scpi {

namespace {

using Clock = std::chrono::steady_clock;
// A lost module is looked for again this often, as the tool does.
constexpr auto ReconnectPeriod = std::chrono::seconds(1);
// How often a wait asks whether its client is still there.
constexpr auto CancelPoll = std::chrono::milliseconds(20);

std::string Describe(const device::OpenedModule& module)
{
    return "slot " + std::to_string(module.Slot) + " of crate " + module.CrateSerial;
}

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines) {
        out.append(out.empty() ? "" : "; ").append(line);
    }
    return out;
}

}  // namespace

// The cycle's host: no window; its steps run in place on the worker. The
// pauses of the window's start are kept, the one that paces its LEDs is
// not: after a frame the run waits for the next request instead.
class ModuleEngine::Host : public measure::MeasurementHost {
public:
    Host(ModuleEngine& engine, const tool::MeasureSetup& setup) : engine_(engine), setup_(setup) {}

    std::atomic<bool> MessageShown{false};

    bool Refused() const noexcept { return refused_; }
    const std::string& Message() const noexcept { return message_; }

    void Synchronize(const std::function<void()>& step) override { step(); }

    void Pause(unsigned ms) override
    {
        configuring_ = false;
        if (resultsShown_) {
            return;
        }
        std::unique_lock lock(engine_.mutex_);
        engine_.changed_.wait_for(lock, std::chrono::milliseconds(ms),
                                  [this] { return engine_.runStop_.load() || engine_.quit_.load(); });
    }

    void ShowMeasurementStarted(measure::MeasurementSettings& settings) override
    {
        settings = setup_.Settings;
    }

    measure::AdcChoice ReadAdcChoice() override
    {
        configuring_ = true;
        return setup_.Choice;
    }

    void ReadFrameInputs(measure::FrameInputs& inputs) override
    {
        // The window's phase correction box is hidden and never ticked.
        inputs.PhaseCorrection = false;
    }

    void ShowResults(const measure::MeasurementCycle& cycle) override
    {
        configuring_ = false;
        resultsShown_ = true;
        FrameReading reading;
        measure::FillFrameResult(cycle, reading.Result);
        reading.Result.Time = std::chrono::system_clock::now();
        for (std::size_t c = 0; c < measure::FrameResult::ChannelCount; ++c) {
            reading.Acquired[c] = cycle.Handle().Channel[c].ChannelEnabled != 0;
            if (reading.Acquired[c] && cycle.StatusOf(c) == KSN48_STATUS_VALID) {
                reading.Marks[c] = measure::MarkReading(cycle, c);
            }
        }
        const std::lock_guard lock(engine_.mutex_);
        if (engine_.runStop_.load()) {
            return;  // measured with a setup that has gone, or aborted
        }
        reading.Sequence = ++engine_.published_;
        reading.Result.Frame = reading.Sequence;
        engine_.latest_ = std::move(reading);
        engine_.changed_.notify_all();
    }

    void ShowChannelLeds(const measure::MeasurementCycle&) override
    {
        std::unique_lock lock(engine_.mutex_);
        engine_.changed_.wait(lock, [this] {
            return engine_.quit_.load() || engine_.runStop_.load() || engine_.WantedLocked();
        });
        if (engine_.quit_.load()) {
            engine_.runStop_ = true;
        }
    }

    void ShowMeasurementStopped() override {}

    void ShowThreadMessage(std::string_view text) override
    {
        if (MessageShown.exchange(true)) {
            return;
        }
        // A library call that failed while configuring is a failure, not a refusal.
        refused_ = configuring_ && text != MeasurementText::SetAdcBad &&
                   text != MeasurementText::StopBad;
        message_ = std::string(text);
    }

private:
    ModuleEngine& engine_;
    const tool::MeasureSetup& setup_;
    bool configuring_ = false;
    bool resultsShown_ = false;
    bool refused_ = false;
    std::string message_;
};

ModuleEngine::ModuleEngine(tool::ModuleTarget target, std::ostream& log)
    : target_(std::move(target)), log_(log),
      detector_(handle_, device::LibraryCrateApi(), &quit_)
{}

ModuleEngine::~ModuleEngine()
{
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
        StopRunLocked();
        changed_.notify_all();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    detector_.CloseModuleIfOpen();
}

std::vector<std::string> ModuleEngine::Open()
{
    const tool::ModuleChoice choice = tool::FindModule(detector_, inventory_, target_);
    if (!choice.Opened()) {
        return choice.Messages.empty() ? std::vector<std::string>{"stopped"} : choice.Messages;
    }
    module_ = choice.Module;
    {
        const std::lock_guard lock(mutex_);
        open_ = true;
        identity_ = {true, device::FixedText(handle_.ModuleSerial), handle_.FirmwareVersion};
    }
    SayOpened();
    return {};
}

void ModuleEngine::SayOpened()
{
    Say(log_, module_.ModuleName + " '" + device::FixedText(handle_.ModuleSerial) +
                  "' (firmware " + std::to_string(handle_.FirmwareVersion) + ") in " +
                  Describe(module_) + " (" + std::string(module_.CrateTypeName) + ")");
    // The window's warning of old firmware; the module still measures.
    if (!device::FirmwareSupported(handle_.FirmwareVersion)) {
        Say(log_, device::DetectionMessages::FirmwareTooOld);
    }
}

void ModuleEngine::Start()
{
    worker_ = std::thread([this] { Work(); });
}

ModuleIdentity ModuleEngine::Identity()
{
    const std::lock_guard lock(mutex_);
    return identity_;
}

void ModuleEngine::Configure(const tool::MeasureSetup& setup)
{
    const std::lock_guard lock(mutex_);
    setup_ = setup;
    ++setupVersion_;
    parked_ = false;
    latest_.reset();
    StopRunLocked();
    changed_.notify_all();
}

std::uint64_t ModuleEngine::Initiate()
{
    const std::lock_guard lock(mutex_);
    const std::uint64_t done = std::max(published_, failed_);
    if (requested_ <= done) {
        requested_ = done + 1;
    }
    parked_ = false;
    if (!open_) {
        FailRequestsLocked(Errors::HardwareMissing, lostReason_);
    }
    changed_.notify_all();
    return requested_;
}

void ModuleEngine::SetContinuous(bool on)
{
    const std::lock_guard lock(mutex_);
    continuous_ = on;
    if (on) {
        parked_ = false;
        if (!open_) {
            faults_.push_back({Errors::HardwareMissing, lostReason_});
        }
    }
    changed_.notify_all();
}

void ModuleEngine::Abort()
{
    const std::lock_guard lock(mutex_);
    failed_ = std::max(failed_, requested_);
    StopRunLocked();
    changed_.notify_all();
}

bool ModuleEngine::Pending()
{
    const std::lock_guard lock(mutex_);
    return requested_ > std::max(published_, failed_);
}

std::uint64_t ModuleEngine::NextSequence()
{
    const std::lock_guard lock(mutex_);
    return published_ + 1;
}

WaitOutcome ModuleEngine::WaitFor(std::uint64_t sequence, const std::function<bool()>& cancelled)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (published_ >= sequence) {
            return WaitOutcome::Frame;
        }
        if (failed_ >= sequence) {
            return WaitOutcome::Failed;
        }
        changed_.wait_for(lock, CancelPoll);
        if (published_ < sequence && failed_ < sequence && cancelled) {
            lock.unlock();
            const bool gone = cancelled();
            lock.lock();
            if (gone) {
                return WaitOutcome::Cancelled;
            }
        }
    }
}

std::optional<FrameReading> ModuleEngine::Latest()
{
    const std::lock_guard lock(mutex_);
    return latest_;
}

std::vector<EngineFault> ModuleEngine::TakeFaults()
{
    const std::lock_guard lock(mutex_);
    std::vector<EngineFault> faults;
    faults.swap(faults_);
    return faults;
}

bool ModuleEngine::WantedLocked() const
{
    return (continuous_ && !parked_) || requested_ > std::max(published_, failed_);
}

void ModuleEngine::FailRequestsLocked(ScpiError error, const std::string& detail)
{
    if (requested_ > std::max(published_, failed_) || continuous_) {
        faults_.push_back({error, detail});
    }
    failed_ = std::max(failed_, requested_);
    changed_.notify_all();
}

void ModuleEngine::StopRunLocked()
{
    runStop_ = true;
    if (armed_ != nullptr) {
        armed_->CancelReceive();
    }
}

void ModuleEngine::Work()
{
    for (;;) {
        tool::MeasureSetup setup;
        std::uint64_t version = 0;
        {
            std::unique_lock lock(mutex_);
            if (quit_) {
                return;
            }
            if (!open_) {
                FailRequestsLocked(Errors::HardwareMissing, lostReason_);
                lock.unlock();
                const Clock::time_point attempt = Clock::now();
                if (Reopen()) {
                    continue;
                }
                lock.lock();
                changed_.wait_until(lock, attempt + ReconnectPeriod, [this] { return quit_.load(); });
                continue;
            }
            changed_.wait(lock, [this] { return quit_.load() || WantedLocked(); });
            if (quit_) {
                return;
            }
            setup = setup_;
            version = setupVersion_;
            runStop_ = false;
        }
        RunCycle(setup, version);
    }
}

void ModuleEngine::RunCycle(const tool::MeasureSetup& setup, std::uint64_t version)
{
    Host host(*this, setup);
    measure::MeasurementCycle cycle(host, handle_, runStop_, host.MessageShown);
    cycle.SetModuleNames(
        {module_.CrateType, std::string(module_.CrateTypeName), module_.ModuleName});
    {
        const std::lock_guard lock(mutex_);
        armed_ = &cycle;
    }
    std::string escaped;
    try {
        cycle.RunMultimeter();
    } catch (const std::exception& e) {
        escaped = e.what();
    }
    const std::lock_guard lock(mutex_);
    armed_ = nullptr;
    if (!escaped.empty()) {
        FailRequestsLocked(Errors::ExecutionError, escaped);
        parked_ = version == setupVersion_;
        return;
    }
    if (!host.MessageShown) {
        return;  // stopped: a new setup, an abort, the end
    }
    std::string detail = host.Message();
    if (cycle.FirstFailedCall() != nullptr) {
        detail += std::string(" (") + cycle.FirstFailedCall() + ": " +
                  KSN_ErrorName(cycle.FirstFailure()) + ")";
    }
    if (host.Refused()) {
        FailRequestsLocked(Errors::SettingsConflict, detail);
    } else if (cycle.LinkLost()) {
        open_ = false;
        lostReason_ = "the link to " + Describe(module_) + " is lost: " + detail;
        FailRequestsLocked(Errors::HardwareMissing, lostReason_);
        Say(log_, lostReason_ + "; trying again every second");
    } else {
        FailRequestsLocked(cycle.FirstFailedCall() != nullptr ? Errors::HardwareError
                                                              : Errors::ExecutionError,
                           detail);
    }
    // Not again by itself with the same setup.
    parked_ = version == setupVersion_;
}

bool ModuleEngine::Reopen()
{
    detector_.CloseModuleIfOpen();
    const tool::ModuleTarget same{module_.CrateSerial, module_.Slot, true, true};
    const tool::ModuleChoice choice = tool::FindModule(detector_, inventory_, same);
    if (!choice.Opened()) {
        const std::string reason = JoinLines(choice.Messages);
        const std::lock_guard lock(mutex_);
        // Why it is not back, each time the reason changes.
        if (reason != reopenSaid_ && !reason.empty()) {
            reopenSaid_ = reason;
            lostReason_ = "the module in " + Describe(module_) + " is not back: " + reason;
            Say(log_, lostReason_);
        }
        return false;
    }
    module_ = choice.Module;
    const std::string serial = device::FixedText(handle_.ModuleSerial);
    {
        const std::lock_guard lock(mutex_);
        open_ = true;
        lostReason_.clear();
        reopenSaid_.clear();
        identity_ = {true, serial, handle_.FirmwareVersion};
        parked_ = false;
    }
    Say(log_, Describe(module_) + " is back");
    SayOpened();
    return true;
}

}  // namespace scpi
