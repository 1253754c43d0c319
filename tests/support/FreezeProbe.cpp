#include "FreezeProbe.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace ksn::test {

using Clock = std::chrono::steady_clock;

struct FreezeProbe::State {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::deque<Clock::time_point> waiting;  // pings sent, not yet served
    Clock::duration longest{};
    int served = 0;
};

FreezeProbe::FreezeProbe(std::chrono::milliseconds period) : state_(std::make_shared<State>())
{
    pinger_ = std::thread([state = state_, period] {
        std::unique_lock lock(state->mutex);
        while (!state->stop) {
            const Clock::time_point sent = Clock::now();
            state->waiting.push_back(sent);
            // The state outlives the probe while pings are on their way.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [state, sent] {
                    std::lock_guard served(state->mutex);
                    state->longest = std::max(state->longest, Clock::now() - sent);
                    const auto found =
                        std::find(state->waiting.begin(), state->waiting.end(), sent);
                    if (found != state->waiting.end()) {
                        state->waiting.erase(found);
                    }
                    ++state->served;
                },
                Qt::QueuedConnection);
            state->wake.wait_for(lock, period, [&] { return state->stop; });
        }
    });
}

FreezeProbe::~FreezeProbe()
{
    Stop();
}

void FreezeProbe::Stop()
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stop) {
            return;
        }
        state_->stop = true;
        if (!state_->waiting.empty()) {
            state_->longest = std::max(state_->longest, Clock::now() - state_->waiting.front());
        }
        state_->waiting.clear();
    }
    state_->wake.notify_all();
    pinger_.join();
}

std::chrono::milliseconds FreezeProbe::LongestGap() const
{
    std::lock_guard lock(state_->mutex);
    Clock::duration longest = state_->longest;
    if (!state_->stop && !state_->waiting.empty()) {
        longest = std::max(longest, Clock::now() - state_->waiting.front());
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
}

int FreezeProbe::Served() const
{
    std::lock_guard lock(state_->mutex);
    return state_->served;
}

}  // namespace ksn::test
