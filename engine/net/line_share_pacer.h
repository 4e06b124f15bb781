// SPDX-License-Identifier: MIT
// Lets transfers that run at the same time (the five workers' downloads)
// share the line with each other and with the main thread: a transfer
// pauses briefly now and then, but only while another one runs, and at
// most once per kTransferPerPause of transfer, so the pauses never cost
// more than a few percent of a transfer at any line speed.
#pragma once

#include <atomic>
#include <chrono>

namespace tidewell {

class TLineSharePacer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kPause{5};
  static constexpr std::chrono::milliseconds kTransferPerPause{100};

  // Counts a transfer as running for the pacer's lifetime.
  TLineSharePacer();
  ~TLineSharePacer();
  TLineSharePacer(const TLineSharePacer&) = delete;
  TLineSharePacer& operator=(const TLineSharePacer&) = delete;

  // After each received block: pauses when it is time to.
  void OnBlock();
  // Whether a block received at now should be followed by a pause, given
  // the transfers running; when so, the next pause is due a full
  // kTransferPerPause after this one ends.
  bool PauseDue(Clock::time_point now, int runningTransfers);

  static int RunningTransfers() { return running_.load(); }

 private:
  Clock::time_point lastPause_;
  static std::atomic<int> running_;
};

}  // namespace tidewell
