// SPDX-License-Identifier: MIT
#include "engine/tidewell_worker_events.h"

#include <exception>

namespace tidewell {

TtidewellWorkerEvents::TtidewellWorkerEvents(platform::MainLoop& main_loop) : main_loop_(main_loop) {}

void TtidewellWorkerEvents::Change(const Edit& edit) {
  std::lock_guard<std::mutex> lock(mutex_);
  edit(handlers_);
}

TtidewellWorkerHandlers TtidewellWorkerEvents::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handlers_;
}

bool TtidewellWorkerEvents::HandOver(const Fire& fire, const StopRequested& stop_requested, const Failure& on_failure) {
  bool fired = false;
  main_loop_.Synchronize([&] {
    if (stop_requested && stop_requested()) return;
    fired = true;
    std::string failure;
    try {
      fire(Snapshot());
      return;
    } catch (...) {
      failure = CurrentExceptionMessage();
    }
    if (on_failure) on_failure(failure);
  });
  return fired;
}

void TtidewellWorkerEvents::FireFatalError(uint32_t threadId, const std::string& errMsg, const std::string& url,
                                           int32_t itemId, TQueueJobTypes jobType) const {
  const TFatalError handler = Snapshot().OnFatalError;
  if (!handler) return;
  try {
    handler(threadId, errMsg, url, itemId, jobType);
  } catch (...) {
  }
}

std::string CurrentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "Unknown exception";
  }
}

}  // namespace tidewell
