// SPDX-License-Identifier: MIT
#include "engine/tidewell_timer.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace tidewell {

TtidewellTimer::TtidewellTimer(platform::MainLoop& main_loop) : main_loop_(main_loop) {}

TtidewellTimer::~TtidewellTimer() { SetEnabled(false); }

void TtidewellTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  if (enabled)
    Start();
  else
    Stop();
  enabled_ = enabled;
}

void TtidewellTimer::SetInterval(uint32_t interval) {
  if (interval == interval_) return;
  const bool was_enabled = enabled_;
  SetEnabled(false);
  interval_ = interval;
  SetEnabled(was_enabled);
}

void TtidewellTimer::SetOnTimer(TNotifyEvent handler) {
  if (!handler && !onTimer_) return;
  const bool was_enabled = enabled_;
  SetEnabled(false);
  onTimer_ = std::move(handler);
  SetEnabled(was_enabled);
}

void TtidewellTimer::Start() {
  const int interval = static_cast<int>(std::min<uint32_t>(interval_, INT_MAX));
  timer_id_ = main_loop_.StartTimer(interval, [this] { Tick(); });
}

void TtidewellTimer::Stop() {
  main_loop_.StopTimer(timer_id_);
  timer_id_ = 0;
}

void TtidewellTimer::Tick() {
  // Copies, so that a handler which replaces itself or destroys the timer
  // keeps running intact.
  const TNotifyEvent handler = onTimer_;
  if (!handler) return;
  const std::weak_ptr<const bool> alive = alive_;
  try {
    handler(this);
  } catch (...) {
    if (!alive.expired()) SetEnabled(false);
    throw;
  }
}

}  // namespace tidewell
