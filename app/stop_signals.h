// SPDX-License-Identifier: MIT
// SIGTERM, SIGINT and SIGHUP (unless ignored, as under nohup) close the
// application as its "Close" button does, in every state: a thread of its
// own waits for them, so they are seen even while the main thread is not in
// its event loop. When the orderly close has not ended the process
// kCutWaitsAfterMs after the signal, the waits that hold it are ended (a
// database server that answers nothing); when it has not ended within the
// grace period, the process ends at once.
#pragma once

#include <functional>

namespace larkspur {

constexpr int kCutWaitsAfterMs = 1500;
constexpr int kStopGraceMs = 4500;

// Blocks the stop signals in the calling thread, and so in every thread
// started from it later, and starts the watching thread. requestClose runs
// on the watching thread at the first signal; it must only hand the request
// over (it may not touch widgets).
// REQUIRES: called once, before any other thread starts.
void WatchStopSignals(std::function<void()> requestClose, std::function<void()> cutWaits);

}  // namespace larkspur
