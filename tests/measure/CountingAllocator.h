#pragma once
// Global operator new that counts its calls between Begin and End, on every
// thread or on one thread only.

#include <thread>

namespace counting {
void Begin();
// Counts only the allocations made on the given thread.
void BeginOnThread(std::thread::id thread);
// Stops counting and returns the allocations since Begin.
long End();
}  // namespace counting
