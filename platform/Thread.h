#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

// A worker thread in the shape the program's design relies on: a run method
// (Execute), a cooperative stop request (Terminate / Terminated), Synchronize
// to run a step on the GUI thread, an end notification on the GUI thread
// (OnTerminate) and a wait for the end.
//
// Life of a thread: Start() -> Execute() -> OnTerminate (on the GUI thread,
// the thread waits for it) -> finished. With FreeOnTerminate the GUI thread
// deletes the object after OnTerminate has run; nobody may touch it then.
//
// The GUI thread is the thread of the QCoreApplication object.
class TThread {
public:
    using NotifyEvent = std::function<void(TThread&)>;

    TThread();
    // Requests termination and waits for the end (serving the thread's
    // Synchronize calls when called on the GUI thread).
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts Execute on a new thread; a second call does nothing.
    void Start();

    // Sets Terminated, then lets the thread cut short a call it may be
    // blocked in (TerminateRequested).
    void Terminate() noexcept
    {
        terminated_.store(true);
        TerminateRequested();
    }
    // Converts to bool; long loops pass it on as their stop flag.
    const std::atomic<bool>& Terminated() const noexcept { return terminated_; }

    // Blocks until the thread has ended and its OnTerminate has run. On the
    // GUI thread the Synchronize calls of every thread keep being served
    // meanwhile. Not for FreeOnTerminate threads (the object may be gone).
    void WaitFor();

    bool Started() const noexcept { return started_; }
    // True once Execute has returned and OnTerminate has run.
    bool Finished() const noexcept { return finished_.load(); }
    // True while a Synchronize step of this thread runs on the GUI thread.
    bool InSynchronize() const noexcept { return inSynchronize_.load(); }
    // Becomes true when the object has been destroyed: lets the owner of a
    // FreeOnTerminate thread wait for it to be gone.
    std::shared_ptr<const std::atomic<bool>> DestroyedFlag() const { return destroyed_; }
    // The exception that escaped Execute, if any.
    std::exception_ptr FatalException() const { return fatal_; }

    // Read on the GUI thread when the thread ends; may be set right after
    // Start() from the GUI thread.
    bool FreeOnTerminate = false;
    NotifyEvent OnTerminate;

protected:
    virtual void Execute() = 0;

    // Runs in Terminate, on the terminating thread, after Terminated is set:
    // a thread that blocks in a call another thread can cut short (a receive
    // from the module) cuts it short here. Must be thread-safe; nothing by
    // default.
    virtual void TerminateRequested() noexcept {}

    // Runs step on the GUI thread and returns when it is done; an exception
    // thrown by the step is rethrown here. On the GUI thread itself the step
    // simply runs.
    void Synchronize(const std::function<void()>& step);

private:
    void Run();

    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> inSynchronize_{false};
    bool started_ = false;
    bool freeAfterEnd_ = false;
    std::exception_ptr fatal_;
    std::shared_ptr<std::atomic<bool>> destroyed_ = std::make_shared<std::atomic<bool>>(false);
};

// True on the thread of the QCoreApplication object.
bool IsGuiThread();

// GUI thread: runs the Synchronize steps that are waiting, and the end
// notifications of finished threads. Does nothing elsewhere.
void ServeSynchronizeQueue();

// GUI thread: serves Synchronize steps until done() holds or timeout passes,
// without processing other window messages. Returns done().
bool ServeSynchronizeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Waits until a Synchronize step is queued or timeout passes.
void WaitForSynchronizeRequest(std::chrono::milliseconds timeout);
