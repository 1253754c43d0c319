#include "DetectionRequest.h"

#include "StateMove.h"
#include "Thread.h"
#include "WaitLoop.h"

#include <chrono>
#include <utility>

namespace {

// How long the shutdown waits for the pass before it checks again; the wait
// itself has no bound here, the pass's own I/O timeouts bound it.
constexpr auto ShutdownServeSlice = std::chrono::milliseconds(200);

}  // namespace

bool TDetectionRequest::Allowed(State from, State to) noexcept
{
    switch (from) {
    case State::Idle:
        return to == State::Running || to == State::ReopenDue;
    case State::ReopenDue:
        return to == State::Running;
    case State::Running:
        // A new pass may start while the thread of the last one still winds
        // down after its end notification.
        return to == State::Idle || to == State::Running;
    }
    return false;
}

const char* TDetectionRequest::Name(State state) noexcept
{
    switch (state) {
    case State::Idle:
        return "idle";
    case State::Running:
        return "running";
    case State::ReopenDue:
        return "reopen due";
    }
    return "?";
}

void TDetectionRequest::Enter(State to)
{
    if (!Allowed(state_, to)) {
        ReportBadMove("detection request", Name(state_), Name(to));
    }
    state_ = to;
}

void TDetectionRequest::Launch(std::unique_ptr<TThread> made, const std::atomic<bool>& running,
                               std::function<void(TThread&)> ended)
{
    TThread* thread = made.release();
    thread->FreeOnTerminate = true;
    thread->OnTerminate = [this, ended = std::move(ended)](TThread& over) {
        if (thread_ == &over) {
            thread_ = nullptr;
            Enter(State::Idle);
        }
        ended(over);
    };
    thread_ = thread;
    gone_ = thread->DestroyedFlag();
    Enter(State::Running);
    thread->Start();
    // Also ends when the pass is over before this loop saw it run.
    WaitLoop([this, thread, &running] { return running.load() || thread_ != thread; });
}

void TDetectionRequest::ModuleLost()
{
    if (state_ == State::Idle) {
        Enter(State::ReopenDue);
    }
}

void TDetectionRequest::Terminate()
{
    if (thread_ != nullptr) {
        thread_->Terminate();
    }
}

bool TDetectionRequest::InsideStep() const noexcept
{
    return thread_ != nullptr && thread_->InSynchronize();
}

void TDetectionRequest::WaitForEnd()
{
    Terminate();
    if (!gone_) {
        return;
    }
    const auto gone = gone_;
    while (!ServeSynchronizeUntil([&gone] { return gone->load(); }, ShutdownServeSlice)) {
    }
    gone_.reset();
}
