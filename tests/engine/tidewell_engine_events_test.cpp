// SPDX-License-Identifier: MIT
#include "engine/tidewell_engine_events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/tidewell_msg.h"
#include "platform/main_loop.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

constexpr int kWaitMs = 10000;

// Stands in for a feed worker: runs one job at a time on a thread of its
// own, is working from the job's start to its end, and hands its events over
// as the feed worker does, turning a handler's failure into OnFatalError.
class WorkerDouble : public TtidewellEventWorker {
 public:
  explicit WorkerDouble(uint32_t thread_id) : threadId(thread_id) {}
  ~WorkerDouble() override { Join(); }

  bool GetWorking() override { return working; }
  TtidewellWorkerEvents& WorkerEvents() override { return events; }

  void RunJob(std::function<void(WorkerDouble&)> job) {
    Join();
    done = false;
    working = true;
    thread_ = std::thread([this, job = std::move(job)] {
      job(*this);
      working = false;
      done = true;
    });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  bool HandOver(const TtidewellWorkerEvents::Fire& fire) {
    return events.HandOver(
        fire, [this] { return stopRequested.load(); },
        [this](const std::string& message) {
          errCat = TErrorCategory::ErrUnknown;
          errMsg = message;
          events.FireFatalError(threadId, errMsg, url, itemId, jobType);
        });
  }

  void FireFeedProcessed() {
    HandOver([this](const TtidewellWorkerHandlers& handlers) {
      if (handlers.OnFeedProcessed)
        handlers.OnFeedProcessed(threadId, 1, url, itemId, u"Feed", 3, TFeedOpType::cUpdate, nullptr, 200, 0,
                                 TErrorCategory::noErrors, "", TDynIntArray{11, 12, 13});
    });
  }

  const uint32_t threadId;
  const std::string url = "http://127.0.0.1/feed.xml";
  const int32_t itemId = 7;
  const TQueueJobTypes jobType = TQueueJobTypes::CfeedOperation;
  std::atomic<bool> working{false};
  std::atomic<bool> done{true};
  std::atomic<bool> stopRequested{false};
  TErrorCategory errCat = TErrorCategory::noErrors;  // written by hand-overs while the job waits
  std::string errMsg;
  TtidewellWorkerEvents events;

 private:
  std::thread thread_;
};

class EngineWithWorkers : public TtidewellEngineEvents {
 public:
  explicit EngineWithWorkers(int count) {
    for (int i = 0; i < count; ++i) workers.push_back(std::make_unique<WorkerDouble>(100 + i));
  }
  ~EngineWithWorkers() override {
    for (auto& worker : workers) worker->Join();
  }

  std::vector<std::unique_ptr<WorkerDouble>> workers;

 protected:
  std::vector<TtidewellEventWorker*> EventWorkers() const override {
    std::vector<TtidewellEventWorker*> list;
    for (const auto& worker : workers) list.push_back(worker.get());
    return list;
  }
};

// What OnFeedProcessed received.
struct FeedProcessedCall {
  int calls = 0;
  bool on_main_thread = false;
  uint32_t threadID = 0;
  std::string url;
  int32_t feedId = 0;
  WideString feedTitle;
  int32_t items = 0;
  int32_t httpRCode = 0;
  TDynIntArray articleIds;
};

TFeedProcessed Recorder(FeedProcessedCall& call) {
  return [&call](uint32_t threadID, int32_t, const std::string& url, int32_t feedId, const WideString& feedTitle,
                 int32_t items, TFeedOpType, void*, int32_t httpRCode, int32_t, TErrorCategory, const std::string&,
                 const TDynIntArray& articleIds) {
    ++call.calls;
    call.on_main_thread = platform::MainThread().IsMainThread();
    call.threadID = threadID;
    call.url = url;
    call.feedId = feedId;
    call.feedTitle = feedTitle;
    call.items = items;
    call.httpRCode = httpRCode;
    call.articleIds = articleIds;
  };
}

bool WaitForJobs(EngineWithWorkers& engine) {
  return platform::MainThread().RunUntil(
      [&] {
        for (auto& worker : engine.workers)
          if (!worker->done) return false;
        return true;
      },
      kWaitMs);
}

class TtidewellEngineEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::MainThread().BindToCurrentThread();
    platform::MainThread().Restart();
  }
};

// One handler that fits every event type.
const auto kAnyHandler = [](auto&&...) { return false; };

struct SetterCase {
  const char* name;
  std::function<void(TtidewellEngineEvents&)> set;
  std::function<bool(const TtidewellEngineEvents&)> stored;
  std::function<bool(const TtidewellWorkerHandlers&)> copied;
};

// clang-format off
#define WORKER_EVENT(event)                                                     \
  SetterCase{#event,                                                            \
             [](TtidewellEngineEvents& e) { e.Set##event(kAnyHandler); },      \
             [](const TtidewellEngineEvents& e) { return bool(e.event()); },   \
             [](const TtidewellWorkerHandlers& h) { return bool(h.event); }}
// clang-format on

std::vector<SetterCase> WorkerEventSetters() {
  return {WORKER_EVENT(OnHttpAuthenticate),
          WORKER_EVENT(OnDownloading),
          WORKER_EVENT(OnStartWorking),
          WORKER_EVENT(OnStopWorking),
          WORKER_EVENT(OnNoNeedForUpdate),
          WORKER_EVENT(OnArticleWebPageDownLoaded),
          WORKER_EVENT(OnEnclosureDownloaded),
          WORKER_EVENT(OnFeedAutoDiscovery),
          WORKER_EVENT(OnFeedProcessed),
          WORKER_EVENT(OnRawDataDownloaded),
          WORKER_EVENT(OnNotArticleIdsBeforeDelete),
          WORKER_EVENT(OnHttpReqBegin),
          WORKER_EVENT(OnHttpReqEnd),
          WORKER_EVENT(OnFeedsAddToOpml),
          WORKER_EVENT(OnFeedsDeleteFromOpml),
          WORKER_EVENT(OnNeedToRefreshFolders),
          WORKER_EVENT(OnDeleteFeed),
          WORKER_EVENT(OnCacheTriggerURLRemapSubItemDownload),
          WORKER_EVENT(OnFatalError),
          WORKER_EVENT(OnNewCommentFeedCreated)};
}

TEST_F(TtidewellEngineEventsTest, EverySetterRefusesWhileAnyWorkerWorksAndChangesNothing) {
  EngineWithWorkers engine(3);
  engine.workers[1]->working = true;
  EXPECT_TRUE(engine.AnyThreadWorking());
  for (const SetterCase& setter : WorkerEventSetters()) {
    try {
      setter.set(engine);
      ADD_FAILURE() << setter.name << " was accepted while a worker works";
    } catch (const kt::Exception& error) {
      EXPECT_EQ(error.Message(), "All threads must finish their job first") << setter.name;
    }
    EXPECT_FALSE(setter.stored(engine)) << setter.name;
    for (auto& worker : engine.workers) EXPECT_FALSE(setter.copied(worker->events.Snapshot())) << setter.name;
  }
}

TEST_F(TtidewellEngineEventsTest, EverySetterStoresTheHandlerAndCopiesItIntoEveryWorker) {
  EngineWithWorkers engine(3);
  EXPECT_FALSE(engine.AnyThreadWorking());
  for (const SetterCase& setter : WorkerEventSetters()) {
    setter.set(engine);
    EXPECT_TRUE(setter.stored(engine)) << setter.name;
    for (auto& worker : engine.workers) EXPECT_TRUE(setter.copied(worker->events.Snapshot())) << setter.name;
  }
}

TEST_F(TtidewellEngineEventsTest, HandlersRunOnTheMainThreadAndTheirAnswersReachTheWorker) {
  EngineWithWorkers engine(2);
  std::atomic<int> off_main{0};
  auto note_thread = [&] {
    if (!platform::MainThread().IsMainThread()) ++off_main;
  };
  engine.SetOnDownloading(
      [&](uint32_t, int32_t, int32_t, const std::string&, int32_t, int32_t, TQueueJobTypes, bool& terminateDownload) {
        note_thread();
        terminateDownload = true;
      });
  engine.SetOnHttpAuthenticate([&](uint32_t, TFeedOpType, const std::string&, int32_t, TQueueJobTypes,
                                   std::string& username, std::string& password) {
    note_thread();
    username = "reader";
    password = "secret";
  });
  engine.SetOnDeleteFeed([&](int32_t, int32_t, bool) {
    note_thread();
    return false;
  });
  struct Answers {
    bool terminate = false;
    std::string username, password;
    bool deleteAllowed = true;
  };
  std::vector<Answers> answers(engine.workers.size());
  for (size_t i = 0; i < engine.workers.size(); ++i) {
    engine.workers[i]->RunJob([&answers, i](WorkerDouble& worker) {
      Answers& mine = answers[i];
      worker.HandOver([&](const TtidewellWorkerHandlers& h) {
        h.OnDownloading(worker.threadId, 10, 100, worker.url, 0, worker.itemId, worker.jobType, mine.terminate);
        h.OnHttpAuthenticate(worker.threadId, TFeedOpType::cUpdate, worker.url, worker.itemId, worker.jobType,
                             mine.username, mine.password);
        mine.deleteAllowed = h.OnDeleteFeed(static_cast<int32_t>(worker.threadId), worker.itemId, true);
      });
    });
  }
  ASSERT_TRUE(WaitForJobs(engine));
  EXPECT_EQ(off_main, 0);
  for (const Answers& mine : answers) {
    EXPECT_TRUE(mine.terminate);
    EXPECT_EQ(mine.username, "reader");
    EXPECT_EQ(mine.password, "secret");
    EXPECT_FALSE(mine.deleteAllowed);
  }
}

TEST_F(TtidewellEngineEventsTest, AnEmptyHandlerReachesTheWorkersSoTheOldOneIsNoLongerCalled) {
  EngineWithWorkers engine(2);
  int old_calls = 0;
  engine.SetOnStartWorking([&](uint32_t, int32_t, const std::string&, int32_t, TQueueJobTypes) { ++old_calls; });
  FeedProcessedCall old_feed;
  engine.SetOnFeedProcessed(Recorder(old_feed));

  engine.SetOnStartWorking(nullptr);
  engine.SetOnFeedProcessed(nullptr);
  for (auto& worker : engine.workers) {
    EXPECT_FALSE(worker->events.Snapshot().OnStartWorking);
    EXPECT_FALSE(worker->events.Snapshot().OnFeedProcessed);
    worker->RunJob([](WorkerDouble& w) {
      w.HandOver([&](const TtidewellWorkerHandlers& h) {
        if (h.OnStartWorking) h.OnStartWorking(w.threadId, w.itemId, w.url, 1, w.jobType);
      });
      w.FireFeedProcessed();
    });
  }
  ASSERT_TRUE(WaitForJobs(engine));
  EXPECT_EQ(old_calls, 0);
  EXPECT_EQ(old_feed.calls, 0);
}

TEST_F(TtidewellEngineEventsTest, WorkersHoldTheRelayWhichPassesAllParametersOnTheMainThread) {
  EngineWithWorkers engine(1);
  FeedProcessedCall call;
  engine.SetOnFeedProcessed(Recorder(call));
  WorkerDouble& worker = *engine.workers[0];
  worker.RunJob([](WorkerDouble& w) { w.FireFeedProcessed(); });
  ASSERT_TRUE(WaitForJobs(engine));
  EXPECT_EQ(call.calls, 1);
  EXPECT_TRUE(call.on_main_thread);
  EXPECT_EQ(call.threadID, worker.threadId);
  EXPECT_EQ(call.url, worker.url);
  EXPECT_EQ(call.feedId, worker.itemId);
  EXPECT_EQ(call.feedTitle, u"Feed");
  EXPECT_EQ(call.items, 3);
  EXPECT_EQ(call.httpRCode, 200);
  EXPECT_EQ(call.articleIds, (TDynIntArray{11, 12, 13}));
}

TEST_F(TtidewellEngineEventsTest, FeedProcessedSetAfterAJobWasTakenReachesTheNewHandlerOnceWorkersAreIdle) {
  EngineWithWorkers engine(1);
  FeedProcessedCall first, second;
  engine.SetOnFeedProcessed(Recorder(first));
  WorkerDouble& worker = *engine.workers[0];
  // The relay the worker held when its job began.
  const TFeedProcessed relay_at_start = worker.events.Snapshot().OnFeedProcessed;
  std::promise<void> go;
  std::shared_future<void> go_signal = go.get_future().share();
  worker.RunJob([go_signal](WorkerDouble& w) {
    go_signal.wait();
    w.FireFeedProcessed();
  });
  EXPECT_THROW(engine.SetOnFeedProcessed(Recorder(second)), kt::Exception);
  go.set_value();
  ASSERT_TRUE(WaitForJobs(engine));
  EXPECT_EQ(first.calls, 1);

  engine.SetOnFeedProcessed(Recorder(second));
  std::thread old_holder([&] {
    relay_at_start(worker.threadId, 0, "http://127.0.0.1/other.xml", 8, u"Other", 0, TFeedOpType::cInsert, nullptr, 304,
                   0, TErrorCategory::noErrors, "", TDynIntArray{});
  });
  EXPECT_TRUE(platform::MainThread().RunUntil([&] { return second.calls == 1; }, kWaitMs));
  old_holder.join();
  EXPECT_EQ(first.calls, 1);
  EXPECT_TRUE(second.on_main_thread);
  EXPECT_EQ(second.feedId, 8);
}

TEST_F(TtidewellEngineEventsTest, AHandlersFailureIsReportedAsFatalErrorWithErrUnknown) {
  EngineWithWorkers engine(1);
  struct FatalCall {
    int calls = 0;
    bool on_main_thread = false;
    uint32_t threadId = 0;
    std::string errMsg, url;
    int32_t itemId = 0;
    TQueueJobTypes jobType = TQueueJobTypes::CNoJob;
  } fatal;
  engine.SetOnFatalError([&](uint32_t threadId, const std::string& errMsg, const std::string& url, int32_t itemId,
                             TQueueJobTypes jobType) {
    fatal = {fatal.calls + 1, platform::MainThread().IsMainThread(), threadId, errMsg, url, itemId, jobType};
  });
  engine.SetOnStopWorking(
      [](uint32_t, int32_t, const std::string&, int32_t, TQueueJobTypes) { throw kt::Exception("handler broke"); });
  std::atomic<bool> reached_worker{false};
  bool fired = false;
  WorkerDouble& worker = *engine.workers[0];
  worker.RunJob([&](WorkerDouble& w) {
    try {
      fired = w.HandOver(
          [&](const TtidewellWorkerHandlers& h) { h.OnStopWorking(w.threadId, w.itemId, w.url, 0, w.jobType); });
    } catch (...) {
      reached_worker = true;
    }
  });
  ASSERT_TRUE(WaitForJobs(engine));
  EXPECT_FALSE(reached_worker);
  EXPECT_TRUE(fired);
  EXPECT_EQ(worker.errCat, TErrorCategory::ErrUnknown);
  EXPECT_EQ(worker.errMsg, "handler broke");
  EXPECT_EQ(fatal.calls, 1);
  EXPECT_TRUE(fatal.on_main_thread);
  EXPECT_EQ(fatal.threadId, worker.threadId);
  EXPECT_EQ(fatal.errMsg, "handler broke");
  EXPECT_EQ(fatal.url, worker.url);
  EXPECT_EQ(fatal.itemId, worker.itemId);
  EXPECT_EQ(fatal.jobType, TQueueJobTypes::CfeedOperation);
}

TEST_F(TtidewellEngineEventsTest, AFailingFatalErrorHandlerIsSwallowed) {
  EngineWithWorkers engine(1);
  engine.SetOnFatalError([](uint32_t, const std::string&, const std::string&, int32_t, TQueueJobTypes) {
    throw std::runtime_error("fatal handler broke too");
  });
  engine.SetOnNoNeedForUpdate([](int32_t, const WideString&) { throw std::runtime_error("handler broke"); });
  std::atomic<bool> reached_worker{false};
  engine.workers[0]->RunJob([&](WorkerDouble& w) {
    try {
      w.HandOver([&](const TtidewellWorkerHandlers& h) { h.OnNoNeedForUpdate(w.itemId, u"Feed"); });
    } catch (...) {
      reached_worker = true;
    }
  });
  ASSERT_TRUE(WaitForJobs(engine));
  EXPECT_FALSE(reached_worker);
  EXPECT_EQ(engine.workers[0]->errMsg, "handler broke");
}

TEST_F(TtidewellEngineEventsTest, NothingIsHandedOverOnceAStopIsRequested) {
  EngineWithWorkers engine(1);
  int calls = 0;
  engine.SetOnNoNeedForUpdate([&](int32_t, const WideString&) { ++calls; });
  bool fired = true;
  engine.workers[0]->stopRequested = true;
  engine.workers[0]->RunJob([&](WorkerDouble& w) {
    fired = w.HandOver([&](const TtidewellWorkerHandlers& h) { h.OnNoNeedForUpdate(w.itemId, u"Feed"); });
  });
  ASSERT_TRUE(WaitForJobs(engine));
  EXPECT_FALSE(fired);
  EXPECT_EQ(calls, 0);
}

TEST_F(TtidewellEngineEventsTest, NothingIsHandedOverWhileTheMainLoopShutsDown) {
  platform::MainLoop loop;
  TtidewellWorkerEvents events(loop);
  int calls = 0;
  events.Change(
      [&](TtidewellWorkerHandlers& h) { h.OnNoNeedForUpdate = [&](int32_t, const WideString&) { ++calls; }; });
  loop.Shutdown();
  bool fired = true;
  std::thread worker([&] {
    fired = events.HandOver([](const TtidewellWorkerHandlers& h) { h.OnNoNeedForUpdate(1, u""); }, nullptr, nullptr);
  });
  worker.join();
  EXPECT_FALSE(fired);
  EXPECT_EQ(calls, 0);
}

TEST_F(TtidewellEngineEventsTest, AWorkerMadeLaterReceivesEveryHandlerWithTheRelay) {
  EngineWithWorkers engine(0);
  for (const SetterCase& setter : WorkerEventSetters()) setter.set(engine);
  FeedProcessedCall call;
  engine.SetOnFeedProcessed(Recorder(call));
  engine.workers.push_back(std::make_unique<WorkerDouble>(200));
  engine.CopyHandlersTo(*engine.workers[0]);
  const TtidewellWorkerHandlers copies = engine.workers[0]->events.Snapshot();
  for (const SetterCase& setter : WorkerEventSetters()) EXPECT_TRUE(setter.copied(copies)) << setter.name;
  engine.workers[0]->RunJob([](WorkerDouble& w) { w.FireFeedProcessed(); });
  ASSERT_TRUE(WaitForJobs(engine));
  EXPECT_EQ(call.calls, 1);
}

}  // namespace
}  // namespace tidewell
