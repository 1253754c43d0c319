#include "MeasurementRun.h"

#include "CaseName.h"
#include "Thread.h"
#include "WaitLoop.h"

#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace {

using State = TMeasurementRun::State;

// A worker in the shape of the window's: it says it runs, may run one step
// on the window's thread, then waits for its stop.
class FakeWorker : public TThread {
public:
    FakeWorker(std::atomic<bool>& running, std::function<void()> step)
        : running_(running), step_(std::move(step))
    {}
    ~FakeWorker() override
    {
        Terminate();
        WaitFor();
    }

protected:
    void Execute() override
    {
        running_ = true;
        if (step_) {
            Synchronize(step_);
        }
        while (!Terminated()) {
            Sleep(5);
        }
    }

private:
    std::atomic<bool>& running_;
    std::function<void()> step_;
};

struct Fixture {
    std::atomic<bool> workerRunning{false};
    TMeasurementRun run{workerRunning};
    std::vector<State> seen;

    void Launch(std::function<void()> step = {})
    {
        ASSERT_TRUE(run.BeginStart());
        run.Launch(std::make_unique<FakeWorker>(workerRunning, std::move(step)),
                   [] { return false; });
    }
    void WaitForEnding()
    {
        WaitLoop([this] { return run.Current() == State::Ending; });
    }
};

// --- the table of moves ---

TEST(MeasurementRun, AllowsExactlyTheMovesOfItsDiagram)
{
    const std::set<std::pair<State, State>> allowed = {
        {State::Idle, State::Starting},      {State::Idle, State::Reopening},
        {State::Reopening, State::Starting}, {State::Reopening, State::Idle},
        {State::Starting, State::Running},   {State::Starting, State::Idle},
        {State::Running, State::Stopping},   {State::Running, State::Ending},
        {State::Stopping, State::Idle},      {State::Ending, State::Stopping},
        {State::Ending, State::Idle},
    };
    const State all[] = {State::Idle,     State::Starting, State::Running,
                         State::Stopping, State::Ending,   State::Reopening};
    for (State from : all) {
        for (State to : all) {
            EXPECT_EQ(TMeasurementRun::Allowed(from, to), allowed.count({from, to}) == 1)
                << TMeasurementRun::Name(from) << " -> " << TMeasurementRun::Name(to);
        }
    }
}

// --- paths through it, with a real thread ---

struct PathCase : ksn::test::NamedCase {
    std::function<void(Fixture&)> steps;
    State final;
    bool workerLeft;
};

class MeasurementRunPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(MeasurementRunPaths, EndsInItsStateWithTheWorkerReleasedOrNot)
{
    Fixture f;
    GetParam().steps(f);
    EXPECT_EQ(f.run.Current(), GetParam().final) << "in " << TMeasurementRun::Name(f.run.Current());
    EXPECT_EQ(f.run.Worker() != nullptr, GetParam().workerLeft);
    if (!GetParam().workerLeft) {
        EXPECT_FALSE(f.workerRunning.load()) << "the window's flag outlived the worker";
    }
}

const PathCase Paths[] = {
    {{"StartRunsTheWorker"},
     [](Fixture& f) {
         f.Launch();
         EXPECT_TRUE(f.workerRunning.load()) << "Launch returned before the worker ran";
         EXPECT_FALSE(f.run.BeginStart()) << "a second start while the worker exists";
         EXPECT_FALSE(f.run.BeginReopen()) << "a reopening start while the worker exists";
     },
     State::Running,
     true},
    {{"StopWaitsForTheEndAndReleases"},
     [](Fixture& f) {
         f.Launch();
         f.run.Stop();
     },
     State::Idle,
     false},
    {{"AStopFromInsideTheWorkersStepOnlyAsksIt"},
     [](Fixture& f) {
         State inStep = State::Idle;
         f.Launch([&f, &inStep] {
             f.run.Stop();
             EXPECT_FALSE(f.run.Release()) << "the close cannot wait for it from inside its step";
             inStep = f.run.Current();
         });
         f.WaitForEnding();
         EXPECT_EQ(inStep, State::Running);
         ASSERT_NE(f.run.Worker(), nullptr);
         EXPECT_TRUE(f.run.Worker()->Terminated());
     },
     State::Ending,
     true},
    {{"AnEndedWorkerGoesAtTheNextStart"},
     [](Fixture& f) {
         f.Launch([&f] { f.run.Stop(); });
         f.WaitForEnding();
         EXPECT_FALSE(f.run.WindingDown());
         f.run.ReleaseEnded();
     },
     State::Idle,
     false},
    {{"AStopInsideAnotherStopsWaitDoesNothing"},
     [](Fixture& f) {
         f.Launch();
         State nested = State::Idle;
         TThread* seenWorker = nullptr;
         const QObject context;
         QTimer::singleShot(0, &context, [&] {
             f.run.Stop();
             nested = f.run.Current();
             seenWorker = f.run.Worker();
         });
         // The worker is slow to stop only in its own loop: the timer fires
         // during the outer stop's wait.
         f.run.Stop();
         EXPECT_EQ(nested, State::Stopping);
         EXPECT_NE(seenWorker, nullptr) << "the nested stop released the worker under the outer";
     },
     State::Idle,
     false},
    {{"TheCloseReleasesARunningWorker"},
     [](Fixture& f) {
         f.Launch();
         EXPECT_TRUE(f.run.Release());
     },
     State::Idle,
     false},
    {{"AStartWithoutAWorkerIsAbandoned"},
     [](Fixture& f) {
         ASSERT_TRUE(f.run.BeginStart());
         EXPECT_FALSE(f.run.BeginStart());
         f.run.AbandonStart();
     },
     State::Idle,
     false},
    {{"AReopeningStartWaitsForThePass"},
     [](Fixture& f) {
         EXPECT_TRUE(f.run.BeginReopen());
         EXPECT_TRUE(f.run.BeginReopen()) << "a second press waits for the same pass";
         EXPECT_TRUE(f.run.EndReopen());
         EXPECT_FALSE(f.run.EndReopen()) << "a pass that no start waits for";
     },
     State::Idle,
     false},
    {{"AStartDuringReopeningMeasures"},
     [](Fixture& f) {
         f.run.BeginReopen();
         f.Launch();
         EXPECT_FALSE(f.run.EndReopen());
     },
     State::Running,
     true},
    {{"AbandonEndsTheWorkerWithoutAStop"},
     [](Fixture& f) {
         f.Launch();
         f.run.Abandon();
     },
     State::Idle,
     false},
};

INSTANTIATE_TEST_SUITE_P(Table, MeasurementRunPaths, ::testing::ValuesIn(Paths),
                         ksn::test::CaseName<PathCase>);

}  // namespace
