// SPDX-License-Identifier: MIT
// SIGTERM, SIGINT and SIGHUP (unless ignored, as under nohup) close the
// application as its "Close" button does, in every state: a thread of its
// own waits for them, so they are seen even while the main thread is not in
// its event loop. When the orderly close has not ended the process within
// the grace period, the process ends at once.
#pragma once

#include <functional>

namespace larkspur {

constexpr int kStopGraceSeconds = 20;

// Blocks the stop signals in the calling thread, and so in every thread
// started from it later, and starts the watching thread. requestClose runs
// on the watching thread at the first signal; it must only hand the request
// over (it may not touch widgets).
// REQUIRES: called once, before any other thread starts.
void WatchStopSignals(std::function<void()> requestClose);

}  // namespace larkspur
