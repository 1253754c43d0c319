#include "Thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

// One queue of steps for the GUI thread, shared by all threads. A step is
// either a Synchronize call (its thread waits for done) or an end-of-thread
// task nobody waits for.
struct QueuedStep {
    std::function<void()> step;
    std::exception_ptr error;
    bool done = false;
};

struct SyncQueue {
    std::mutex mutex;
    std::condition_variable changed;  // queue grew, a step finished or a thread ended
    std::deque<std::shared_ptr<QueuedStep>> steps;
};

SyncQueue& Queue()
{
    static SyncQueue queue;
    return queue;
}

void PostDrain()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr) {
        QMetaObject::invokeMethod(app, [] { ServeSynchronizeQueue(); }, Qt::QueuedConnection);
    }
}

std::shared_ptr<QueuedStep> Enqueue(std::function<void()> step)
{
    auto queued = std::make_shared<QueuedStep>();
    queued->step = std::move(step);
    SyncQueue& q = Queue();
    {
        std::lock_guard lock(q.mutex);
        q.steps.push_back(queued);
    }
    q.changed.notify_all();
    PostDrain();
    return queued;
}

}  // namespace

bool IsGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && app->thread() == QThread::currentThread();
}

void ServeSynchronizeQueue()
{
    if (!IsGuiThread()) {
        return;
    }
    SyncQueue& q = Queue();
    for (;;) {
        std::shared_ptr<QueuedStep> next;
        {
            std::lock_guard lock(q.mutex);
            if (q.steps.empty()) {
                return;
            }
            next = q.steps.front();
            q.steps.pop_front();
        }
        try {
            next->step();
        } catch (...) {
            next->error = std::current_exception();
        }
        {
            std::lock_guard lock(q.mutex);
            next->done = true;
        }
        q.changed.notify_all();
    }
}

void WaitForSynchronizeRequest(std::chrono::milliseconds timeout)
{
    SyncQueue& q = Queue();
    std::unique_lock lock(q.mutex);
    q.changed.wait_for(lock, timeout, [&] { return !q.steps.empty(); });
}

bool ServeSynchronizeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    SyncQueue& q = Queue();
    for (;;) {
        ServeSynchronizeQueue();
        if (done()) {
            return true;
        }
        std::unique_lock lock(q.mutex);
        // Woken by a new step or by a thread's end (both signalled under the
        // mutex, so the predicate sees them).
        if (!q.changed.wait_until(lock, deadline, [&] { return !q.steps.empty() || done(); })) {
            lock.unlock();
            return done();
        }
    }
}

TThread::TThread() = default;

TThread::~TThread()
{
    if (thread_.joinable()) {
        Terminate();
        WaitFor();
        thread_.join();
    }
    destroyed_->store(true);
}

void TThread::Start()
{
    if (started_) {
        return;
    }
    started_ = true;
    thread_ = std::thread([this] { Run(); });
}

void TThread::Run()
{
    try {
        Execute();
    } catch (...) {
        fatal_ = std::current_exception();
    }
    try {
        Synchronize([this] {
            if (OnTerminate) {
                OnTerminate(*this);
            }
            freeAfterEnd_ = FreeOnTerminate;
        });
    } catch (...) {
        // An end notification that throws must not keep the thread alive.
    }
    const bool freeAfterEnd = freeAfterEnd_;
    SyncQueue& q = Queue();
    {
        std::lock_guard lock(q.mutex);
        finished_.store(true);
    }
    q.changed.notify_all();
    if (freeAfterEnd) {
        // The destructor joins this thread, which is past its last use of
        // the object by then.
        Enqueue([this] { delete this; });
    }
}

void TThread::Synchronize(const std::function<void()>& step)
{
    if (IsGuiThread()) {
        step();
        return;
    }
    if (QCoreApplication::instance() == nullptr) {
        throw std::logic_error("Synchronize without an application object");
    }
    auto queued = Enqueue([this, &step] {
        inSynchronize_.store(true);
        struct Reset {
            std::atomic<bool>& flag;
            ~Reset() { flag.store(false); }
        } reset{inSynchronize_};
        step();
    });
    SyncQueue& q = Queue();
    {
        std::unique_lock lock(q.mutex);
        q.changed.wait(lock, [&] { return queued->done; });
    }
    if (queued->error) {
        std::rethrow_exception(queued->error);
    }
}

void TThread::WaitFor()
{
    if (!started_) {
        return;
    }
    if (IsGuiThread()) {
        // Long timeouts in a loop: the wait ends by the thread's end, not by time.
        while (!ServeSynchronizeUntil([this] { return Finished(); }, std::chrono::hours(1))) {
        }
        return;
    }
    SyncQueue& q = Queue();
    std::unique_lock lock(q.mutex);
    q.changed.wait(lock, [this] { return finished_.load(); });
}
