// SPDX-License-Identifier: MIT
// Win32-style events: manual- or auto-reset flags that threads wait on, alone
// or several at once. All events share one process-wide guard so that a wait
// for all of several events sees them in one consistent state. Only setting an
// event that somebody waits for wakes the waiting threads: the containers set
// their events on every operation, and waking every parked thread each time
// cost more than the operations themselves.
#pragma once

#include <chrono>
#include <vector>

namespace platform {

enum class WaitResult { Signaled, Timeout };

class Event {
 public:
  Event(bool manual_reset, bool initially_set);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until the event is set, at most timeout_ms (negative: no limit).
  // An auto-reset event is reset by the wait that sees it set.
  WaitResult WaitFor(int timeout_ms);

  // Waits until every one of the events is set at the same moment.
  static WaitResult WaitForAll(const std::vector<Event*>& events, int timeout_ms);

 private:
  friend class WaitRegistration;

  bool manual_reset_;
  bool set_;
  int waiters_ = 0;  // threads inside a wait that includes this event
};

}  // namespace platform
