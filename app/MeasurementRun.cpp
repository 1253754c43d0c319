#include "MeasurementRun.h"

#include "StateMove.h"
#include "Thread.h"
#include "WaitLoop.h"

#include <utility>

TMeasurementRun::TMeasurementRun(std::atomic<bool>& workerRunning) : workerRunning_(workerRunning)
{
}

TMeasurementRun::~TMeasurementRun()
{
    Abandon();
}

bool TMeasurementRun::Allowed(State from, State to) noexcept
{
    switch (from) {
    case State::Idle:
        return to == State::Starting || to == State::Reopening;
    case State::Reopening:
        return to == State::Starting || to == State::Idle;
    case State::Starting:
        return to == State::Running || to == State::Idle;
    case State::Running:
        return to == State::Stopping || to == State::Ending;
    case State::Stopping:
        return to == State::Idle;
    case State::Ending:
        return to == State::Stopping || to == State::Idle;
    }
    return false;
}

const char* TMeasurementRun::Name(State state) noexcept
{
    switch (state) {
    case State::Idle:
        return "idle";
    case State::Starting:
        return "starting";
    case State::Running:
        return "running";
    case State::Stopping:
        return "stopping";
    case State::Ending:
        return "ending";
    case State::Reopening:
        return "reopening";
    }
    return "?";
}

void TMeasurementRun::Enter(State to)
{
    if (!Allowed(state_, to)) {
        ReportBadMove("measurement run", Name(state_), Name(to));
    }
    state_ = to;
}

bool TMeasurementRun::BeginStart()
{
    if (worker_ || state_ == State::Starting) {
        return false;
    }
    Enter(State::Starting);
    return true;
}

void TMeasurementRun::AbandonStart()
{
    if (state_ == State::Starting) {
        Enter(State::Idle);
    }
}

void TMeasurementRun::Launch(std::unique_ptr<TThread> worker, const std::function<bool()>& stop)
{
    worker_ = std::move(worker);
    Enter(State::Running);
    worker_->FreeOnTerminate = false;
    worker_->OnTerminate = [this](TThread&) { WorkerEnded(); };
    worker_->Start();
    // A close meanwhile releases the worker itself.
    WaitLoop([this, &stop] { return workerRunning_.load() || state_ != State::Running || stop(); });
}

void TMeasurementRun::WorkerEnded()
{
    workerRunning_ = false;
    // A stop that waits for it releases it; otherwise the next stop or
    // start does.
    if (state_ == State::Running) {
        Enter(State::Ending);
    }
}

void TMeasurementRun::ReleaseEnded()
{
    if (!worker_ || state_ != State::Ending) {
        return;
    }
    // Its end notification has run on this thread: the thread's own finished
    // mark comes a moment later, and WaitFor bridges that moment.
    worker_->WaitFor();
    worker_.reset();
    Enter(State::Idle);
}

void TMeasurementRun::Stop()
{
    if (!worker_ || state_ == State::Stopping) {
        return;
    }
    if (worker_->InSynchronize()) {
        // It cannot end before this returns: asked only; the next stop or
        // the close waits for it.
        worker_->Terminate();
        return;
    }
    Enter(State::Stopping);
    WaitLoop([this] { return workerRunning_.load() || worker_->Finished(); });
    StopAndRelease();
}

bool TMeasurementRun::Release()
{
    if (!worker_) {
        return true;
    }
    if (worker_->InSynchronize() || state_ == State::Stopping) {
        return false;  // an outer frame waits for it
    }
    Enter(State::Stopping);
    StopAndRelease();
    return true;
}

void TMeasurementRun::StopAndRelease()
{
    // The stop request cuts short the module call the worker waits in; its
    // own end still takes its pauses, while the window goes on.
    worker_->Terminate();
    WaitLoop([this] { return worker_->Finished(); });
    worker_->WaitFor();
    worker_.reset();
    Enter(State::Idle);
}

void TMeasurementRun::Abandon()
{
    if (!worker_) {
        return;
    }
    worker_->Terminate();
    worker_->WaitFor();
    worker_.reset();
    if (state_ == State::Running) {
        Enter(State::Ending);  // a worker whose end notification did not run
    }
    Enter(State::Idle);
}

bool TMeasurementRun::BeginReopen()
{
    // A second press while the pass is still to come waits for the same
    // pass; a worker that still exists (stopped from inside its own step)
    // leaves the press a plain request for the pass.
    if (state_ == State::Idle) {
        Enter(State::Reopening);
    }
    return state_ == State::Reopening;
}

bool TMeasurementRun::EndReopen()
{
    if (state_ != State::Reopening) {
        return false;
    }
    Enter(State::Idle);
    return true;
}

bool TMeasurementRun::WindingDown() const noexcept
{
    return worker_ && worker_->Terminated() && state_ != State::Ending && !worker_->Finished();
}
