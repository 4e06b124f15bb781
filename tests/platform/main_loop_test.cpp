// SPDX-License-Identifier: MIT
#include "platform/main_loop.h"

#include <gtest/gtest.h>

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace platform {
namespace {

TEST(MainLoopTest, SynchronizeFromFiveThreadsRunsEveryCallOnceOnTheMainThread) {
  MainLoop loop;
  const auto main_id = std::this_thread::get_id();
  constexpr int kThreads = 5;
  constexpr int kCallsEach = 200;
  std::vector<int> runs(kThreads * kCallsEach, 0);
  std::atomic<int> off_main{0};
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < kCallsEach; ++i) {
        EXPECT_TRUE(loop.Synchronize([&, t, i] {
          if (std::this_thread::get_id() != main_id) ++off_main;
          ++runs[t * kCallsEach + i];
        }));
      }
      ++finished;
    });
  }
  EXPECT_TRUE(loop.RunUntil([&] { return finished == kThreads; }, 30000));
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(off_main, 0);
  for (int count : runs) EXPECT_EQ(count, 1);
}

TEST(MainLoopTest, SynchronizeRethrowsTheCallsExceptionInTheWorker) {
  MainLoop loop;
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      loop.Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& error) {
      caught = std::string(error.what()) == "boom";
    }
  });
  EXPECT_TRUE(loop.RunUntil([&] { return caught.load(); }, 10000));
  worker.join();
}

TEST(MainLoopTest, ShutdownRunsAcceptedCallsAndRefusesLaterOnes) {
  MainLoop loop;
  constexpr int kThreads = 5;
  std::atomic<int> accepted{0};
  std::atomic<int> refused{0};
  std::atomic<int> ran{0};
  std::atomic<int> waiting{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&] {
      ++waiting;
      for (int i = 0; i < 50; ++i) {
        if (loop.Synchronize([&] { ++ran; }))
          ++accepted;
        else
          ++refused;
      }
    });
  }
  // Let the workers block in Synchronize before the loop stops.
  while (waiting < kThreads) std::this_thread::yield();
  loop.Pump();
  loop.Shutdown();
  for (auto& worker : workers) worker.join();  // no deadlock: every worker returns
  EXPECT_EQ(accepted + refused, kThreads * 50);
  EXPECT_EQ(ran, accepted);
  EXPECT_FALSE(loop.Post([] {}));
}

TEST(MainLoopTest, SynchronizeOnTheMainThreadRunsAtOnce) {
  MainLoop loop;
  int ran = 0;
  EXPECT_TRUE(loop.Synchronize([&] { ++ran; }));
  EXPECT_EQ(ran, 1);
}

TEST(MainLoopTest, TimersTickOnTheMainThreadUntilStopped) {
  MainLoop loop;
  int ticks = 0;
  const auto id = loop.StartTimer(5, [&] { ++ticks; });
  EXPECT_TRUE(loop.RunUntil([&] { return ticks >= 3; }, 10000));
  loop.StopTimer(id);
  EXPECT_FALSE(loop.TimerActive(id));
  const int seen = ticks;
  loop.RunUntil([] { return false; }, 30);
  EXPECT_EQ(ticks, seen);
}

// A GUI pumps only when woken or when the next timer is due: a timer started
// meanwhile must wake it, or its first tick waits for the next hand-over.
TEST(MainLoopTest, WakeupHookRunsForAQueuedCallAndForAStartedTimerNotForAStoppedOne) {
  MainLoop loop;
  int wakes = 0;
  loop.SetWakeup([&] { ++wakes; });
  const auto id = loop.StartTimer(60000, [] {});
  EXPECT_EQ(wakes, 1);
  EXPECT_GT(loop.MsUntilNextTimer(), 1000);
  loop.Post([] {});
  EXPECT_EQ(wakes, 2);
  loop.StopTimer(id);
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(loop.MsUntilNextTimer(), -1);
  loop.SetWakeup(nullptr);
  loop.Pump();
}

TEST(MainLoopTest, PostedCallsRunInOrderAndAnExceptionReachesThePump) {
  MainLoop loop;
  std::vector<int> order;
  std::thread worker([&] {
    loop.Post([&] { order.push_back(1); });
    loop.Post([] { throw std::runtime_error("posted"); });
    loop.Post([&] { order.push_back(2); });
  });
  worker.join();
  EXPECT_THROW(loop.Pump(), std::runtime_error);
  loop.Pump();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(EventTest, WaitForAllNeedsEveryEventSet) {
  Event a(true, true);
  Event b(true, false);
  EXPECT_EQ(Event::WaitForAll({&a, &b}, 20), WaitResult::Timeout);
  std::thread setter([&] { b.Set(); });
  EXPECT_EQ(Event::WaitForAll({&a, &b}, 5000), WaitResult::Signaled);
  setter.join();
  Event automatic(false, true);
  EXPECT_EQ(automatic.WaitFor(0), WaitResult::Signaled);
  EXPECT_EQ(automatic.WaitFor(0), WaitResult::Timeout);
}

// A field of /proc/self/task/<tid>/status ("State", "voluntary_ctxt_switches").
std::string TaskStatusField(pid_t tid, const std::string& field) {
  std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return line.substr(line.find_first_not_of(" \t", field.size() + 1));
  return {};
}

// Returns once the thread sleeps (parked in its wait), so that what follows
// happens while it waits.
void AwaitAsleep(pid_t tid) {
  for (int i = 0; i < 100000 && TaskStatusField(tid, "State").rfind("S", 0) != 0; ++i) std::this_thread::yield();
}

TEST(EventTest, SettingAnEventWakesOnlyThoseWaitingForIt) {
  Event parked(false, false);
  Event other(true, false);
  std::atomic<pid_t> waiterTid{0};
  std::thread waiter([&] {
    waiterTid = gettid();
    EXPECT_EQ(parked.WaitFor(-1), WaitResult::Signaled);
  });
  while (waiterTid == 0) std::this_thread::yield();
  AwaitAsleep(waiterTid);
  const long switchesBefore = std::stol(TaskStatusField(waiterTid, "voluntary_ctxt_switches"));
  for (int i = 0; i < 20; ++i) {
    other.Set();
    other.Reset();
    AwaitAsleep(waiterTid);
  }
  const long switchesAfter = std::stol(TaskStatusField(waiterTid, "voluntary_ctxt_switches"));
  // Each set of an event it does not wait for woke the waiter once.
  EXPECT_LT(switchesAfter - switchesBefore, 5);
  parked.Set();
  waiter.join();
}

}  // namespace
}  // namespace platform
