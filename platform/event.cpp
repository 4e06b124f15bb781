// SPDX-License-Identifier: MIT
#include "platform/event.h"

#include <condition_variable>
#include <mutex>

namespace platform {
namespace {

std::mutex& Guard() {
  static std::mutex guard;
  return guard;
}

std::condition_variable& Changed() {
  static std::condition_variable changed;
  return changed;
}

template <typename Ready>
WaitResult WaitUntilReady(std::unique_lock<std::mutex>& lock, int timeout_ms, Ready ready) {
  if (timeout_ms < 0) {
    Changed().wait(lock, ready);
    return WaitResult::Signaled;
  }
  return Changed().wait_for(lock, std::chrono::milliseconds(timeout_ms), ready) ? WaitResult::Signaled
                                                                                 : WaitResult::Timeout;
}

}  // namespace

Event::Event(bool manual_reset, bool initially_set) : manual_reset_(manual_reset), set_(initially_set) {}

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(Guard());
    set_ = true;
  }
  Changed().notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(Guard());
  set_ = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(Guard());
  return set_;
}

WaitResult Event::WaitFor(int timeout_ms) {
  std::unique_lock<std::mutex> lock(Guard());
  const WaitResult result = WaitUntilReady(lock, timeout_ms, [this] { return set_; });
  if (result == WaitResult::Signaled && !manual_reset_) set_ = false;
  return result;
}

WaitResult Event::WaitForAll(const std::vector<Event*>& events, int timeout_ms) {
  std::unique_lock<std::mutex> lock(Guard());
  const WaitResult result = WaitUntilReady(lock, timeout_ms, [&events] {
    for (const Event* event : events)
      if (!event->set_) return false;
    return true;
  });
  if (result == WaitResult::Signaled)
    for (Event* event : events)
      if (!event->manual_reset_) event->set_ = false;
  return result;
}

}  // namespace platform
