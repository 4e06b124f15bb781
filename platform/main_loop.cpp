// SPDX-License-Identifier: MIT
#include "platform/main_loop.h"

#include <exception>

namespace platform {

using Clock = std::chrono::steady_clock;

struct MainLoop::Handover {
  Call fn;
  bool waited_for = false;
  bool done = false;
  std::exception_ptr error;
};

MainLoop::MainLoop() : main_thread_(std::this_thread::get_id()) {}

void MainLoop::BindToCurrentThread() {
  std::lock_guard<std::mutex> lock(mutex_);
  main_thread_ = std::this_thread::get_id();
}

bool MainLoop::IsMainThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return main_thread_ == std::this_thread::get_id();
}

bool MainLoop::Synchronize(Call fn) {
  if (IsMainThread()) {
    if (ShuttingDown()) return false;
    fn();
    return true;
  }
  auto handover = std::make_shared<Handover>();
  handover->fn = std::move(fn);
  handover->waited_for = true;
  if (!Enqueue(handover)) return false;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return handover->done; });
  // The exception moves to this thread alone, so it is freed here and not
  // by whichever thread drops the hand-over last.
  std::exception_ptr error = std::move(handover->error);
  lock.unlock();
  if (error) std::rethrow_exception(error);
  return true;
}

bool MainLoop::Post(Call fn) {
  auto handover = std::make_shared<Handover>();
  handover->fn = std::move(fn);
  return Enqueue(handover);
}

bool MainLoop::Enqueue(std::shared_ptr<Handover> handover) {
  Call wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutting_down_) return false;
    queue_.push_back(std::move(handover));
    wake = wakeup_;
  }
  changed_.notify_all();
  if (wake) wake();
  return true;
}

MainLoop::TimerId MainLoop::StartTimer(int interval_ms, Call tick) {
  Call wake;
  TimerId id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto interval = std::chrono::milliseconds(interval_ms > 0 ? interval_ms : 1);
    id = next_timer_id_++;
    timers_[id] = Timer{interval, Clock::now() + interval, std::make_shared<Call>(std::move(tick))};
    wake = wakeup_;
  }
  changed_.notify_all();
  // A GUI that sleeps until the next due timer must learn of an earlier one.
  if (wake) wake();
  return id;
}

void MainLoop::StopTimer(TimerId id) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.erase(id);
}

bool MainLoop::TimerActive(TimerId id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.count(id) != 0;
}

bool MainLoop::RunOneQueued() {
  std::shared_ptr<Handover> handover;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) return false;
    handover = std::move(queue_.front());
    queue_.pop_front();
  }
  std::exception_ptr error;
  try {
    handover->fn();
  } catch (...) {
    error = std::current_exception();
  }
  if (handover->waited_for) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      handover->error = std::move(error);
      handover->done = true;
    }
    changed_.notify_all();
  } else if (error) {
    std::rethrow_exception(error);
  }
  return true;
}

bool MainLoop::RunOneDueTimer() {
  std::shared_ptr<Call> tick;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = Clock::now();
    for (auto& [id, timer] : timers_) {
      if (timer.due > now) continue;
      timer.due = now + timer.interval;
      tick = timer.tick;
      break;
    }
  }
  if (!tick) return false;
  (*tick)();
  return true;
}

int MainLoop::Pump() {
  int ran = 0;
  size_t waiting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting = queue_.size();
  }
  // Only what was queued on entry: a hand-over that queues another must not
  // keep this pump from returning.
  for (size_t i = 0; i < waiting && RunOneQueued(); ++i) ++ran;
  size_t timers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    timers = timers_.size();
  }
  for (size_t i = 0; i < timers && RunOneDueTimer(); ++i) ++ran;
  return ran;
}

bool MainLoop::RunUntil(const std::function<bool()>& done, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (timeout_ms >= 0 && Clock::now() >= deadline) return false;
    if (Pump() > 0) continue;
    int wait = 10;
    if (timeout_ms >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(wait, left)));
    }
    WaitForWork(wait);
  }
  return true;
}

void MainLoop::WaitForWork(int timeout_ms) {
  const int until_timer = MsUntilNextTimer();
  if (until_timer >= 0 && (timeout_ms < 0 || until_timer < timeout_ms)) timeout_ms = until_timer;
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [this] { return !queue_.empty(); };
  if (timeout_ms < 0)
    changed_.wait(lock, ready);
  else
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
}

int MainLoop::MsUntilNextTimer() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (timers_.empty()) return -1;
  auto next = Clock::time_point::max();
  for (const auto& [id, timer] : timers_) next = std::min(next, timer.due);
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
  return static_cast<int>(std::max<int64_t>(0, left));
}

void MainLoop::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutting_down_ = true;
  }
  // Everything accepted before the refusal still runs, so no worker stays
  // blocked in Synchronize. A failing posted call does not stop the others.
  for (;;) {
    try {
      if (!RunOneQueued()) break;
    } catch (...) {
    }
  }
}

bool MainLoop::ShuttingDown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutting_down_;
}

void MainLoop::Restart() {
  std::lock_guard<std::mutex> lock(mutex_);
  shutting_down_ = false;
}

void MainLoop::SetWakeup(Call wake) {
  std::lock_guard<std::mutex> lock(mutex_);
  wakeup_ = std::move(wake);
}

MainLoop& MainThread() {
  static MainLoop loop;
  return loop;
}

}  // namespace platform
