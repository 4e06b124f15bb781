// SPDX-License-Identifier: MIT
#include "platform/event.h"

#include <condition_variable>
#include <mutex>
#include <span>

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

// Counts the calling thread among the waiters of each event while it waits.
class WaitRegistration {
 public:
  explicit WaitRegistration(std::span<Event* const> events) : events_(events) {
    for (Event* event : events_) ++event->waiters_;
  }
  ~WaitRegistration() {
    for (Event* event : events_) --event->waiters_;
  }
  WaitRegistration(const WaitRegistration&) = delete;
  WaitRegistration& operator=(const WaitRegistration&) = delete;

 private:
  std::span<Event* const> events_;
};

Event::Event(bool manual_reset, bool initially_set) : manual_reset_(manual_reset), set_(initially_set) {}

void Event::Set() {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(Guard());
    wake = !set_ && waiters_ > 0;
    set_ = true;
  }
  if (wake) Changed().notify_all();
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
  Event* const self = this;
  const WaitRegistration registration({&self, 1});
  const WaitResult result = WaitUntilReady(lock, timeout_ms, [this] { return set_; });
  if (result == WaitResult::Signaled && !manual_reset_) set_ = false;
  return result;
}

WaitResult Event::WaitForAll(const std::vector<Event*>& events, int timeout_ms) {
  std::unique_lock<std::mutex> lock(Guard());
  const WaitRegistration registration(events);
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
