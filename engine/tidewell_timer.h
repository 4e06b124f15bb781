// SPDX-License-Identifier: MIT
// A small timer whose ticks run on the main thread, through the main loop's
// timers: the engine's update timer.
//
// Thread use: the main thread only; OnTimer never runs while another handler
// of the main thread runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/main_loop.h"

namespace tidewell {

class TtidewellTimer {
 public:
  using TNotifyEvent = std::function<void(TtidewellTimer* sender)>;

  // Off, with an interval of 0 and no handler. The loop must outlive the
  // timer.
  explicit TtidewellTimer(platform::MainLoop& main_loop = platform::MainThread());
  // Switches the timer off.
  ~TtidewellTimer();
  TtidewellTimer(const TtidewellTimer&) = delete;
  TtidewellTimer& operator=(const TtidewellTimer&) = delete;

  bool Enabled() const { return enabled_; }
  // Only a change acts: switching on starts a fresh period of Interval ms.
  void SetEnabled(bool enabled);

  // Milliseconds between ticks; 0 ticks as soon as the loop can.
  uint32_t Interval() const { return interval_; }
  // Only a change acts: a running timer restarts its count with the new
  // interval; a stopped one stays stopped.
  void SetInterval(uint32_t interval);

  // Empty when unassigned.
  const TNotifyEvent& OnTimer() const { return onTimer_; }
  // Handlers cannot be compared, so every assignment counts as a change
  // except an empty handler over an empty one: a running timer restarts its
  // count.
  void SetOnTimer(TNotifyEvent handler);

 private:
  void Tick();
  void Start();
  void Stop();

  platform::MainLoop& main_loop_;
  bool enabled_ = false;
  uint32_t interval_ = 0;
  TNotifyEvent onTimer_;
  platform::MainLoop::TimerId timer_id_ = 0;
  // Lets a tick tell whether its handler destroyed the timer.
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

}  // namespace tidewell
