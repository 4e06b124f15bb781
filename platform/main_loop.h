// SPDX-License-Identifier: MIT
// The main thread's loop: hand-overs from workers (synchronize, post) and
// timers whose ticks run on the main thread. The loop does not own a thread:
// whoever owns the main thread drives it, a test or headless program with
// Pump/RunUntil, the application from its GUI event loop through the wake-up
// hook.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

class MainLoop {
 public:
  using Call = std::function<void()>;
  using TimerId = uint32_t;

  // The loop's main thread is the constructing one until rebound.
  MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  void BindToCurrentThread();
  bool IsMainThread() const;

  // Runs fn on the main thread and blocks the caller until it has run; on the
  // main thread itself fn runs at once. An exception of fn is rethrown in the
  // caller. Returns false without running fn once a shut-down was asked for.
  bool Synchronize(Call fn);
  // Queues fn for the main thread and returns; false once shutting down.
  bool Post(Call fn);

  // A periodic timer; the first tick comes interval_ms after the start.
  TimerId StartTimer(int interval_ms, Call tick);
  void StopTimer(TimerId id);
  bool TimerActive(TimerId id) const;

  // REQUIRES: the main thread. Runs the hand-overs queued now and the timers
  // due now; returns how many ran. An exception of a posted call or a tick
  // passes to the caller; what is still queued stays for the next pump.
  int Pump();
  // REQUIRES: the main thread. Pumps until done() holds or timeout_ms passed
  // (negative: no limit); returns done().
  bool RunUntil(const std::function<bool()>& done, int timeout_ms);
  // REQUIRES: the main thread. Sleeps until a hand-over arrives, a timer is
  // due or timeout_ms passed.
  void WaitForWork(int timeout_ms);
  // Milliseconds until the next timer is due; -1 without timers.
  int MsUntilNextTimer() const;

  // REQUIRES: the main thread. Refuses further hand-overs, then runs those
  // already accepted so that no waiting worker is left blocked.
  void Shutdown();
  bool ShuttingDown() const;
  // Allows hand-overs again (a new run of the application or a test).
  void Restart();

  // Called on the handing-over thread whenever a call is queued, and on the
  // starting thread whenever a timer is started; the GUI uses it to schedule
  // a pump on its own event loop, and then sleeps until MsUntilNextTimer.
  void SetWakeup(Call wake);

 private:
  struct Handover;
  struct Timer {
    std::chrono::milliseconds interval;
    std::chrono::steady_clock::time_point due;
    std::shared_ptr<Call> tick;
  };

  bool Enqueue(std::shared_ptr<Handover> handover);
  bool RunOneQueued();
  bool RunOneDueTimer();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::thread::id main_thread_;
  // State below is protected by mutex_.
  std::deque<std::shared_ptr<Handover>> queue_;
  std::map<TimerId, Timer> timers_;
  TimerId next_timer_id_ = 1;
  bool shutting_down_ = false;
  Call wakeup_;
};

// The process-wide loop that the engine hands its events to.
MainLoop& MainThread();

}  // namespace platform
