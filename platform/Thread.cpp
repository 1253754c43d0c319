#include "Thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

// One queue of steps for the GUI thread, shared by all threads, linked
// through the entries themselves. A Synchronize entry lives on the stack of
// its caller, which waits until it is done, so queuing it allocates nothing;
// an end-of-thread task nobody waits for is the one entry on the heap.
struct QueuedStep {
    QueuedStep* next = nullptr;
    const std::function<void()>* step = nullptr;  // the caller's step
    std::atomic<bool>* inSynchronize = nullptr;   // of the calling thread
    std::exception_ptr error;
    bool done = false;
    std::function<void()> task;  // the end-of-thread task (heap entries only)
};

struct SyncQueue {
    std::mutex mutex;
    std::condition_variable changed;  // queue grew, a step finished or a thread ended
    QueuedStep* head = nullptr;
    QueuedStep* tail = nullptr;
};

SyncQueue& Queue()
{
    static SyncQueue queue;
    return queue;
}

// Waking the GUI thread out of its event loop. A posted event is the only
// wake-up that also works inside modal loops; the events come from a few
// static slots so that a wake-up allocates nothing, and at most one waits
// at a time (a wake-up that is still pending serves later steps too).
std::atomic<bool> wakePending{false};

const QEvent::Type WakeEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class WakeEvent final : public QEvent {
public:
    WakeEvent() : QEvent(WakeEventType) {}
    // A wake-up discarded unhandled (its receiver went) must not block later ones.
    ~WakeEvent() override
    {
        if (!handled) {
            wakePending.store(false);
        }
    }

    bool handled = false;

    static void* operator new(std::size_t size)
    {
        for (Slot& slot : freeSlots) {
            bool expected = false;
            if (size <= sizeof slot.storage && slot.used.compare_exchange_strong(expected, true)) {
                return slot.storage;
            }
        }
        return ::operator new(size);
    }

    static void operator delete(void* p) noexcept
    {
        for (Slot& slot : freeSlots) {
            if (p == static_cast<void*>(slot.storage)) {
                slot.used.store(false);
                return;
            }
        }
        ::operator delete(p);
    }

private:
    struct Slot {
        alignas(std::max_align_t) unsigned char storage[64];
        std::atomic<bool> used;
    };
    static Slot freeSlots[4];
};

WakeEvent::Slot WakeEvent::freeSlots[4] = {};

// Receives the wake-ups on the GUI thread; made there, owned by the application.
class WakeTarget final : public QObject {
public:
    using QObject::QObject;
    ~WakeTarget() override
    {
        WakeTarget* self = this;
        current.compare_exchange_strong(self, nullptr);
    }
    bool event(QEvent* e) override
    {
        if (e->type() != WakeEventType) {
            return QObject::event(e);
        }
        // Cleared before serving: a step queued from now on posts anew.
        static_cast<WakeEvent*>(e)->handled = true;
        wakePending.store(false);
        ServeSynchronizeQueue();
        return true;
    }
    static inline std::atomic<WakeTarget*> current{nullptr};
};

// GUI thread: makes the wake-up receiver if there is none.
void EnsureWakeTarget()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && WakeTarget::current.load() == nullptr) {
        WakeTarget::current.store(new WakeTarget(app));
    }
}

void PostDrain()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    WakeTarget* target = WakeTarget::current.load();
    if (target == nullptr) {
        // No receiver yet (no thread was started on the GUI thread): make
        // it there; this wake-up allocates, later ones do not.
        QMetaObject::invokeMethod(
            app,
            [] {
                EnsureWakeTarget();
                ServeSynchronizeQueue();
            },
            Qt::QueuedConnection);
        return;
    }
    if (!wakePending.exchange(true)) {
        QCoreApplication::postEvent(target, new WakeEvent);
    }
}

// Links entry at the end of the queue and wakes the GUI thread.
void Enqueue(QueuedStep& entry)
{
    SyncQueue& q = Queue();
    {
        std::lock_guard lock(q.mutex);
        entry.next = nullptr;
        if (q.tail != nullptr) {
            q.tail->next = &entry;
        } else {
            q.head = &entry;
        }
        q.tail = &entry;
    }
    q.changed.notify_all();
    PostDrain();
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
    EnsureWakeTarget();
    SyncQueue& q = Queue();
    for (;;) {
        QueuedStep* next = nullptr;
        {
            std::lock_guard lock(q.mutex);
            next = q.head;
            if (next == nullptr) {
                return;
            }
            q.head = next->next;
            if (q.head == nullptr) {
                q.tail = nullptr;
            }
        }
        if (next->step == nullptr) {
            // An end-of-thread task: nobody waits for it.
            std::unique_ptr<QueuedStep> owned(next);
            try {
                owned->task();
            } catch (...) {
            }
            continue;
        }
        try {
            struct Reset {
                std::atomic<bool>* flag;
                ~Reset()
                {
                    if (flag != nullptr) {
                        flag->store(false);
                    }
                }
            } reset{next->inSynchronize};
            if (next->inSynchronize != nullptr) {
                next->inSynchronize->store(true);
            }
            (*next->step)();
        } catch (...) {
            next->error = std::current_exception();
        }
        {
            // The caller may return and drop the entry as soon as the
            // mutex is released: no access to it after this block.
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
    q.changed.wait_for(lock, timeout, [&] { return q.head != nullptr; });
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
        if (!q.changed.wait_until(lock, deadline, [&] { return q.head != nullptr || done(); })) {
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
    if (IsGuiThread()) {
        EnsureWakeTarget();
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
        auto task = std::make_unique<QueuedStep>();
        task->task = [this] { delete this; };
        Enqueue(*task.release());
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
    // The entry lives here until the GUI thread has run it: this call
    // returns only then.
    QueuedStep entry;
    entry.step = &step;
    entry.inSynchronize = &inSynchronize_;
    Enqueue(entry);
    SyncQueue& q = Queue();
    {
        std::unique_lock lock(q.mutex);
        q.changed.wait(lock, [&] { return entry.done; });
    }
    if (entry.error) {
        std::rethrow_exception(entry.error);
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
