#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TThread;

// The window's measurement run: the worker thread from its start request to
// its release, and a start that waits for the lost module to be opened
// again. Every move of the state goes through Enter, which knows the moves
// allowed (Allowed); the window asks the state instead of keeping flags.
//
//   Idle       no worker; a start measures
//   Starting   the start is asked for (WM_START_MAIN_THREAD), the worker not
//              yet launched
//   Running    the worker runs (its cycle, or its wait for the stop once the
//              cycle has ended); it may have been asked to stop from inside
//              one of its own steps, when nobody could wait for it
//   Stopping   asked to stop, and a wait for its end is under way (a second
//              stop then does nothing)
//   Ending     the worker's end notification has run; the thread object is
//              still to be released
//   Reopening  the start waits for the pass that opens the lost module again
//
// Lives on the window's thread; waits only through the window's wait loop,
// so the window's messages and the threads' steps are served meanwhile.
class TMeasurementRun {
public:
    enum class State : std::uint8_t { Idle, Starting, Running, Stopping, Ending, Reopening };

    // workerRunning: the window's MainThreadRunning, which the worker sets
    // when it runs; the run clears it when the worker ends.
    explicit TMeasurementRun(std::atomic<bool>& workerRunning);
    // Stops the worker and waits for it.
    ~TMeasurementRun();
    TMeasurementRun(const TMeasurementRun&) = delete;
    TMeasurementRun& operator=(const TMeasurementRun&) = delete;

    static bool Allowed(State from, State to) noexcept;
    static const char* Name(State state) noexcept;

    State Current() const noexcept { return state_; }
    TThread* Worker() const noexcept { return worker_.get(); }

    // A start: Idle (or Reopening) -> Starting; false when a worker still
    // exists or a start is already asked for.
    bool BeginStart();
    // The start request is over without a worker (none could be made, the
    // window closes): Starting -> Idle.
    void AbandonStart();
    // Starts the worker made for the request: Starting -> Running. Returns
    // once the worker runs, has ended, or stop() holds.
    void Launch(std::unique_ptr<TThread> worker, const std::function<bool()>& stop);

    // A worker that has ended goes: Ending -> Idle. Other states stay.
    void ReleaseEnded();
    // Asks the worker to stop and waits for its end, then releases it. From
    // inside one of the worker's own steps it is only asked (it cannot end
    // before the step returns); while another wait for it is under way,
    // nothing happens.
    void Stop();
    // As Stop, for the close: false when the worker must still be waited for
    // later (from inside its own step, or inside another stop's wait).
    bool Release();
    // Ends the worker without serving the window (the window's destructor).
    void Abandon();

    // The module was lost: a start waits for the pass that opens it again
    // (Idle -> Reopening); true when it does. EndReopen: that pass has ended
    // or could not be made (Reopening -> Idle); true when the run was
    // waiting for it.
    bool BeginReopen();
    bool EndReopen();

    // A worker stopped from inside its own step that has not ended yet: a
    // detection pass must wait for it before it uses the module handle.
    bool WindingDown() const noexcept;

private:
    void Enter(State to);
    void WorkerEnded();
    // Terminate, the wait for the end, the release.
    void StopAndRelease();

    std::atomic<bool>& workerRunning_;
    std::unique_ptr<TThread> worker_;
    State state_ = State::Idle;
};
