// SPDX-License-Identifier: MIT
#include "engine/net/line_share_pacer.h"

#include <thread>

namespace tidewell {

std::atomic<int> TLineSharePacer::running_{0};

TLineSharePacer::TLineSharePacer() : lastPause_(Clock::now()) { ++running_; }

TLineSharePacer::~TLineSharePacer() { --running_; }

void TLineSharePacer::OnBlock() {
  if (PauseDue(Clock::now(), RunningTransfers())) std::this_thread::sleep_for(kPause);
}

bool TLineSharePacer::PauseDue(Clock::time_point now, int runningTransfers) {
  if (runningTransfers < 2 || now - lastPause_ < kTransferPerPause) return false;
  lastPause_ = now + kPause;
  return true;
}

}  // namespace tidewell
