#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TThread;

// The window's side of the detection pass: the pass thread while it runs,
// and whether the next start must first have the lost module opened again
// by a pass. Whether a pass is asked for stays in the design's flags
// (InitRequestDone, InitThreadRunning).
//
//   Idle       no pass runs; the module is as the last pass left it
//   Running    a pass runs (its thread frees itself at its end)
//   ReopenDue  no pass runs, and a run lost the module (or a pass could not
//              open it again): the next start asks for a pass first
//
// Any pass that starts opens the window's module, so it leaves ReopenDue.
class TDetectionRequest {
public:
    enum class State : std::uint8_t { Idle, Running, ReopenDue };

    TDetectionRequest() = default;
    TDetectionRequest(const TDetectionRequest&) = delete;
    TDetectionRequest& operator=(const TDetectionRequest&) = delete;

    static bool Allowed(State from, State to) noexcept;
    static const char* Name(State state) noexcept;

    State Current() const noexcept { return state_; }
    bool ReopenDue() const noexcept { return state_ == State::ReopenDue; }
    // The pass while it runs.
    TThread* Thread() const noexcept { return thread_; }

    // Starts the pass made for a request: -> Running. The pass frees its
    // thread object; ended runs on the window's thread at its end. Returns
    // once running holds (the pass's InitThreadRunning) or the pass is over.
    void Launch(std::unique_ptr<TThread> made, const std::atomic<bool>& running,
                std::function<void(TThread&)> ended);
    // A run lost the module, or the pass that was to open it again left it
    // shut: Idle -> ReopenDue. A pass under way opens it anyway.
    void ModuleLost();

    // Asks the pass to skip what it has left.
    void Terminate();
    // Whether the pass runs one of its steps on the window's thread now (it
    // cannot end before the step returns).
    bool InsideStep() const noexcept;
    // Asks the pass to end and waits until its thread object is gone, its
    // steps served meanwhile.
    void WaitForEnd();

private:
    void Enter(State to);

    TThread* thread_ = nullptr;
    std::shared_ptr<const std::atomic<bool>> gone_;
    State state_ = State::Idle;
};
