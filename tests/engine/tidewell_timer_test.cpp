// SPDX-License-Identifier: MIT
#include "engine/tidewell_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>

#include "platform/main_loop.h"
#include "platform/system.h"

namespace tidewell {
namespace {

constexpr int kWaitMs = 10000;
constexpr uint32_t kLongInterval = 100000;

TEST(TtidewellTimerTest, TicksOnTheMainThreadWithTheTimerAsSenderUntilSwitchedOff) {
  platform::MainLoop loop;
  TtidewellTimer timer(loop);
  int ticks = 0;
  bool always_main = true;
  TtidewellTimer* sender_seen = nullptr;
  timer.SetInterval(5);
  timer.SetOnTimer([&](TtidewellTimer* sender) {
    sender_seen = sender;
    always_main = always_main && loop.IsMainThread();
    if (++ticks == 3) sender->SetEnabled(false);
  });
  timer.SetEnabled(true);
  EXPECT_TRUE(loop.RunUntil([&] { return !timer.Enabled(); }, kWaitMs));
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(sender_seen, &timer);
  EXPECT_TRUE(always_main);
  EXPECT_EQ(loop.MsUntilNextTimer(), -1);
}

TEST(TtidewellTimerTest, SwitchingOnTwiceStartsOneTimerAndOneSwitchOffStopsIt) {
  platform::MainLoop loop;
  TtidewellTimer timer(loop);
  timer.SetInterval(kLongInterval);
  timer.SetEnabled(true);
  timer.SetEnabled(true);
  EXPECT_GE(loop.MsUntilNextTimer(), 0);
  timer.SetEnabled(false);
  EXPECT_EQ(loop.MsUntilNextTimer(), -1);
}

TEST(TtidewellTimerTest, SettingTheCurrentIntervalDoesNotRestartARunningTimer) {
  platform::MainLoop loop;
  TtidewellTimer timer(loop);
  timer.SetInterval(kLongInterval);
  timer.SetEnabled(true);
  platform::SleepMs(50);
  timer.SetInterval(kLongInterval);
  // A restart would have put the next tick a whole interval away again.
  EXPECT_LE(loop.MsUntilNextTimer(), static_cast<int>(kLongInterval) - 50);
}

TEST(TtidewellTimerTest, ANewIntervalRestartsARunningTimerAndLeavesAStoppedOneOff) {
  platform::MainLoop loop;
  TtidewellTimer timer(loop);
  timer.SetInterval(1000);
  timer.SetEnabled(true);
  timer.SetInterval(kLongInterval);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_GT(loop.MsUntilNextTimer(), 1000);

  timer.SetEnabled(false);
  timer.SetInterval(2000);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(loop.MsUntilNextTimer(), -1);
}

TEST(TtidewellTimerTest, ANewHandlerRestartsTheCountAndKeepsTheState) {
  platform::MainLoop loop;
  TtidewellTimer timer(loop);
  timer.SetInterval(kLongInterval);
  timer.SetEnabled(true);
  platform::SleepMs(200);
  int calls = 0;
  const auto changed = std::chrono::steady_clock::now();
  timer.SetOnTimer([&](TtidewellTimer*) { ++calls; });
  EXPECT_TRUE(timer.Enabled());
  const int left = loop.MsUntilNextTimer();
  // A whole interval from the change on, however long this thread waited
  // for the processor meanwhile; without the restart at most the interval
  // less the 200 ms slept before the change.
  const auto sinceChange =
      std::chrono::ceil<std::chrono::milliseconds>(std::chrono::steady_clock::now() - changed).count();
  EXPECT_GE(left + 1, static_cast<int>(kLongInterval) - static_cast<int>(sinceChange));
  timer.SetEnabled(false);
  timer.SetOnTimer(nullptr);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(timer.OnTimer());
}

TEST(TtidewellTimerTest, AFailingHandlerSwitchesTheTimerOffAndPassesTheFailureOn) {
  platform::MainLoop loop;
  TtidewellTimer timer(loop);
  timer.SetInterval(1);
  timer.SetOnTimer([](TtidewellTimer*) { throw std::runtime_error("tick failed"); });
  timer.SetEnabled(true);
  bool passed_on = false;
  try {
    loop.RunUntil([] { return false; }, kWaitMs);
  } catch (const std::runtime_error& error) {
    passed_on = std::string(error.what()) == "tick failed";
  }
  EXPECT_TRUE(passed_on);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(loop.MsUntilNextTimer(), -1);
}

TEST(TtidewellTimerTest, AHandlerMayDestroyItsTimerEvenWhenItFailsAfterwards) {
  platform::MainLoop loop;
  auto timer = std::make_unique<TtidewellTimer>(loop);
  timer->SetInterval(1);
  timer->SetOnTimer([&](TtidewellTimer*) {
    timer.reset();
    throw std::runtime_error("gone");
  });
  timer->SetEnabled(true);
  EXPECT_THROW(loop.RunUntil([] { return false; }, kWaitMs), std::runtime_error);
  EXPECT_EQ(timer, nullptr);
  EXPECT_EQ(loop.MsUntilNextTimer(), -1);
}

TEST(TtidewellTimerTest, DestructionSwitchesTheTimerOff) {
  platform::MainLoop loop;
  {
    TtidewellTimer timer(loop);
    timer.SetEnabled(true);
    EXPECT_GE(loop.MsUntilNextTimer(), 0);
  }
  EXPECT_EQ(loop.MsUntilNextTimer(), -1);
}

}  // namespace
}  // namespace tidewell
