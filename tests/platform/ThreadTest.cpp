#include "Thread.h"
#include "WaitLoop.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A thread whose body is a lambda; it sees itself for Synchronize and
// Terminated.
class LambdaThread : public TThread {
public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
    using TThread::Synchronize;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(LambdaThread&)> body_;
};

bool OnGuiThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

TEST(Thread, SynchronizeRunsTheStepOnTheGuiThreadAndWaitsForIt)
{
    std::vector<std::string> order;
    bool stepOnGui = false;
    LambdaThread thread([&](LambdaThread& self) {
        self.Synchronize([&] {
            stepOnGui = OnGuiThread();
            order.push_back("step");
        });
        // The step has finished when Synchronize returns.
        order.push_back("after");
    });
    thread.Start();
    thread.WaitFor();
    EXPECT_TRUE(stepOnGui);
    EXPECT_EQ(order, (std::vector<std::string>{"step", "after"}));
}

TEST(Thread, StepsAreServedByTheWaitLoopAndByWaitFor)
{
    // A thread that synchronizes in a loop until told to stop: the wait loop
    // must serve it, and so must WaitFor while the thread winds down.
    std::atomic<int> steps{0};
    LambdaThread thread([&](LambdaThread& self) {
        while (!self.Terminated()) {
            self.Synchronize([&] { ++steps; });
        }
        for (int i = 0; i < 5; ++i) {
            self.Synchronize([&] { ++steps; });
        }
    });
    thread.Start();
    WaitLoop([&] { return steps.load() >= 20; });
    const int before = steps.load();
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_GE(steps.load(), before + 5);
}

TEST(Thread, AnExceptionOfAStepIsRethrownInTheThread)
{
    std::string caught;
    LambdaThread thread([&](LambdaThread& self) {
        try {
            self.Synchronize([] { throw std::runtime_error("step failed"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
    });
    thread.Start();
    thread.WaitFor();
    EXPECT_EQ(caught, "step failed");
}

TEST(Thread, OnTerminateRunsOnTheGuiThreadAfterExecute)
{
    std::atomic<bool> executeDone{false};
    bool notifiedOnGui = false;
    bool executeWasDone = false;
    LambdaThread thread([&](LambdaThread&) { executeDone = true; });
    thread.OnTerminate = [&](TThread&) {
        notifiedOnGui = OnGuiThread();
        executeWasDone = executeDone.load();
    };
    thread.Start();
    thread.WaitFor();
    EXPECT_TRUE(notifiedOnGui);
    EXPECT_TRUE(executeWasDone);
}

TEST(Thread, AnExceptionEscapingExecuteEndsTheThreadNormally)
{
    bool notified = false;
    LambdaThread thread([](LambdaThread&) { throw std::logic_error("boom"); });
    thread.OnTerminate = [&](TThread&) { notified = true; };
    thread.Start();
    thread.WaitFor();
    EXPECT_TRUE(notified);
    ASSERT_TRUE(thread.FatalException());
    EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::logic_error);
}

TEST(Thread, FreeOnTerminateDeletesTheObjectOnTheGuiThread)
{
    bool notified = false;
    auto* thread = new LambdaThread([](LambdaThread& self) { self.Synchronize([] {}); });
    const auto gone = thread->DestroyedFlag();
    thread->FreeOnTerminate = true;
    thread->OnTerminate = [&](TThread&) { notified = true; };
    thread->Start();
    EXPECT_TRUE(ServeSynchronizeUntil([&] { return gone->load(); }, 10s));
    EXPECT_TRUE(notified);
}

TEST(Thread, DestroyingARunningThreadStopsItAndWaits)
{
    std::atomic<bool> sawTerminated{false};
    {
        LambdaThread thread([&](LambdaThread& self) {
            while (!self.Terminated()) {
                self.Synchronize([] {});
                Sleep(1);
            }
            sawTerminated = true;
        });
        thread.Start();
        WaitLoopStep();
    }
    EXPECT_TRUE(sawTerminated);
}

// A thread blocked where Terminated is not looked at is woken by its
// TerminateRequested, which runs on the thread that asks for the stop.
class BlockedThread : public TThread {
public:
    std::atomic<bool> Requested{false};
    std::atomic<bool> RequestedOnGui{false};

protected:
    void Execute() override
    {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return woken_; });
    }
    void TerminateRequested() noexcept override
    {
        RequestedOnGui = OnGuiThread();
        Requested = true;
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        wake_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
};

TEST(Thread, TerminateLetsABlockedThreadCutItsWaitShort)
{
    BlockedThread thread;
    thread.Start();
    ServeSynchronizeUntil([] { return false; }, 50ms);
    EXPECT_FALSE(thread.Finished());
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Requested);
    EXPECT_TRUE(thread.RequestedOnGui);
    EXPECT_TRUE(thread.Terminated());
}

TEST(Thread, TerminatedIsUsableAsAStopFlag)
{
    // Long loops get the flag itself, as a const atomic.
    std::atomic<int> rounds{0};
    LambdaThread thread([&](LambdaThread& self) {
        const std::atomic<bool>& stop = self.Terminated();
        while (!stop.load()) {
            ++rounds;
            Sleep(1);
        }
    });
    thread.Start();
    WaitLoop([&] { return rounds.load() > 3; });
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
}

TEST(Thread, WaitForOnAnotherThreadReturnsAtTheEnd)
{
    LambdaThread worker([](LambdaThread& self) {
        while (!self.Terminated()) {
            Sleep(1);
        }
    });
    worker.Start();
    std::atomic<bool> waited{false};
    LambdaThread waiter([&](LambdaThread&) {
        worker.WaitFor();
        waited = true;
    });
    waiter.Start();
    worker.Terminate();
    waiter.WaitFor();
    EXPECT_TRUE(waited);
}

TEST(Thread, AThreadThatIsNeverStartedNeedsNoWait)
{
    LambdaThread thread([](LambdaThread&) {});
    EXPECT_FALSE(thread.Started());
    thread.WaitFor();
    EXPECT_FALSE(thread.Finished());
}

}  // namespace
