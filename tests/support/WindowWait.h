#pragma once
// The wait of the window tests: the window's messages and the threads'
// Synchronize steps are served while it waits, as in the window's own wait
// loop. Every caller says how long it allows.

#include "WaitLoop.h"

#include <chrono>
#include <functional>

namespace ksn::test {

// Serves the window until done() holds; false when the limit passes first.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        WaitLoopStep();
    }
    return true;
}

}  // namespace ksn::test
