#pragma once
// Global operator new that counts its calls between Begin and End, on every thread.

namespace counting {
void Begin();
// Stops counting and returns the allocations since Begin.
long End();
} // namespace counting
