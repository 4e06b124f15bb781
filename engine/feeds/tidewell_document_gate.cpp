// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_document_gate.h"

namespace tidewell {

void TDocumentGate::Enter() {
  std::unique_lock<std::mutex> hold(lock_);
  ++waiting_;
  freed_.wait(hold, [this] { return free_ > 0; });
  --waiting_;
  --free_;
}

void TDocumentGate::Leave() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++free_;
  }
  freed_.notify_one();
}

int TDocumentGate::Waiting() const {
  std::lock_guard<std::mutex> hold(lock_);
  return waiting_;
}

void TDocumentTurn::Enter() {
  if (held_ || !gate_) return;
  gate_->Enter();
  held_ = true;
}

void TDocumentTurn::Leave() {
  if (!held_) return;
  held_ = false;
  gate_->Leave();
}

}  // namespace tidewell
