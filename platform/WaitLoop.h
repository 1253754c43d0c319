#pragma once

#include <chrono>
#include <functional>

// The window's way of waiting for a thread: sleep for one polling period,
// then process pending window messages (threads' Synchronize steps among
// them), then test again. The sleep ends early when a thread hands over a
// step, so a thread that synchronizes often is not slowed to one step per
// period.
inline constexpr std::chrono::milliseconds WaitLoopPeriod{50};

// One round: sleep (at most one period) and process pending messages.
void WaitLoopStep();

// Runs rounds until done() holds; done() is tested before the first round.
void WaitLoop(const std::function<bool()>& done);

// A blocking call the window's thread has to make (a module library call
// that may wait for a server): made on a thread of its own while the window
// keeps processing its messages and the threads' Synchronize steps, so that
// it is never frozen for longer than a round. Returns the call's result.
// Off the window's thread the call is simply made.
int CallWhileServing(const std::function<int()>& call);

// Sleeps ms milliseconds on the calling thread (the pauses of a thread).
void Sleep(unsigned ms);
