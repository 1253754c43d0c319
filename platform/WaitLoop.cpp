#include "WaitLoop.h"

#include "Thread.h"

#include <QCoreApplication>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// How long the window's thread waits for the call before it looks at its
// messages again.
constexpr std::chrono::milliseconds CallServeSlice{10};

}  // namespace

void WaitLoopStep()
{
    WaitForSynchronizeRequest(WaitLoopPeriod);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    ServeSynchronizeQueue();
}

void WaitLoop(const std::function<bool()>& done)
{
    while (!done()) {
        WaitLoopStep();
    }
}

int CallWhileServing(const std::function<int()>& call)
{
    if (!IsGuiThread()) {
        return call();
    }
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    int result = 0;
    std::exception_ptr error;
    std::thread caller([&] {
        int r = 0;
        std::exception_ptr e;
        try {
            r = call();
        } catch (...) {
            e = std::current_exception();
        }
        std::lock_guard lock(mutex);
        result = r;
        error = e;
        done = true;
        ended.notify_all();
    });
    for (;;) {
        {
            std::unique_lock lock(mutex);
            if (ended.wait_for(lock, CallServeSlice, [&] { return done; })) {
                break;
            }
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        ServeSynchronizeQueue();
    }
    caller.join();
    if (error) {
        std::rethrow_exception(error);
    }
    return result;
}

void Sleep(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
