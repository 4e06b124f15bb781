// SPDX-License-Identifier: MIT
// Small services of the operating system: thread ids and priorities, ticks,
// sleeping, the executable's folder.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The kernel's id of the calling thread.
uint32_t CurrentThreadId();
// Raises the calling thread's own nice value by steps (at most to 19), so it
// yields the processor to the other threads; any thread may do this without
// privileges. False when the system refused.
bool LowerCurrentThreadPriority(int steps);
// Milliseconds of a monotonic clock; wraps like a 32-bit tick counter.
uint32_t TickCount();
void SleepMs(int milliseconds);
// Gives up the rest of the calling thread's time slice.
void YieldThread();
// The folder of the running executable, with a trailing '/'.
std::string ExecutableFolder();

}  // namespace platform
