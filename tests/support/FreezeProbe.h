#pragma once
// Pings the GUI thread every period from a thread of its own and keeps the
// longest time a ping waited before the GUI thread served it: how long the
// window could not have reacted to anything.

#include <chrono>
#include <memory>
#include <thread>

namespace ksn::test {

class FreezeProbe {
public:
    explicit FreezeProbe(std::chrono::milliseconds period = std::chrono::milliseconds(100));
    ~FreezeProbe();
    FreezeProbe(const FreezeProbe&) = delete;
    FreezeProbe& operator=(const FreezeProbe&) = delete;

    // Ends the pinging; a ping still waiting counts with the time it has
    // waited so far.
    void Stop();
    std::chrono::milliseconds LongestGap() const;
    int Served() const;

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread pinger_;
};

}  // namespace ksn::test
