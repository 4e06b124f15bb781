// SPDX-License-Identifier: MIT
#include "engine/tidewell.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "engine/db/tidewell_db_helper_instance.h"
#include "engine_test_support.h"
#include "support/firebird_test_database.h"
#include "support/temp_folder.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

using testing::ParkedPool;
using testing::ParkedWorker;
using testing::StuckWorker;

TEST(TtidewellConstruction, MakesFivePoolWorkersWithTheTimerOffAndNoConnection) {
  ParkedPool pool;
  Ttidewell engine({false, pool.Factory()});
  EXPECT_EQ(engine.ThreadCount(), 5);
  for (int slot = 0; slot < 5; ++slot) EXPECT_EQ(engine.Worker(slot), pool.workers[slot]);
  EXPECT_FALSE(engine.SmartUpdateActive());
  EXPECT_EQ(engine.TimerInterval(), 3000u);
  EXPECT_FALSE(engine.GetConnected());
  EXPECT_EQ(engine.OwnerId(), 0);
  EXPECT_EQ(engine.GetFeeds()->Options, 5);
  EXPECT_NE(DbHelperInstance(), nullptr);
}

TEST(TtidewellConstruction, ASecondEngineInTheProcessFailsAndTheFirstKeepsItsHelper) {
  ParkedPool pool;
  Ttidewell first({false, pool.Factory()});
  TtidewellDbHelper* helper = DbHelperInstance();
  ParkedPool other;
  try {
    Ttidewell second({false, other.Factory()});
    FAIL() << "a second engine was made";
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "DB helper class already exists !");
  }
  EXPECT_EQ(DbHelperInstance(), helper);
  EXPECT_EQ(other.workers[0], nullptr) << "no worker starts for an engine that cannot exist";
}

TEST(TtidewellConstruction, TheHelperGoesWithItsEngineSoANewEngineCanFollow) {
  {
    ParkedPool pool;
    Ttidewell engine({false, pool.Factory()});
  }
  EXPECT_EQ(DbHelperInstance(), nullptr);
  ParkedPool pool;
  Ttidewell next({false, pool.Factory()});
  EXPECT_NE(DbHelperInstance(), nullptr);
}

TEST(TtidewellConstruction, AtDesignTimeNoWorkerIsMadeAndTheTimerStaysOff) {
  ParkedPool pool;
  Ttidewell engine({true, pool.Factory()});
  EXPECT_EQ(engine.Worker(0), nullptr);
  EXPECT_EQ(pool.workers[0], nullptr);
  engine.SetSmartUpdateActive(true);
  EXPECT_FALSE(engine.SmartUpdateActive());
}

TEST(TtidewellProperties, AMissingDatabaseFileIsRefusedExceptWhileLoading) {
  testing_support::TempFolder folder;
  ParkedPool pool;
  Ttidewell engine({false, pool.Factory()});
  const std::string missing = folder.File("none.fdb");
  try {
    engine.SetDbFilePath(missing);
    FAIL() << "no error";
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "Database file \"" + missing + "\" not found");
  }
  EXPECT_EQ(engine.GetDbFilePath(), "");
  engine.BeginLoading();
  engine.SetDbFilePath(missing);
  engine.EndLoading();
  EXPECT_EQ(engine.GetDbFilePath(), missing);
  // A server's file is the server's to check.
  engine.SetDbFilePath("dbhost:/srv/feeds.fdb");
  EXPECT_EQ(engine.WorkersConnection().DBFileName(), "dbhost:/srv/feeds.fdb");
}

TEST(TtidewellProperties, CredentialsReachAllThreeConnectionsAndReadEmptyWhileLoading) {
  ParkedPool pool;
  Ttidewell engine({false, pool.Factory()});
  engine.SetDbLoginname("reader");
  engine.SetDbPassword("secret");
  EXPECT_EQ(engine.GetDbLoginname(), "reader");
  EXPECT_EQ(engine.GetDbPassword(), "secret");
  engine.BeginLoading();
  EXPECT_EQ(engine.GetDbLoginname(), "");
  EXPECT_EQ(engine.GetDbPassword(), "");
  engine.SetDbLoginname("ignored");
  engine.EndLoading();
  EXPECT_EQ(engine.GetDbLoginname(), "reader");
}

TEST(TtidewellProperties, ConnectedOpensAndClosesTheThreeConnections) {
  testing_support::FirebirdTestDatabase db(16384);
  ParkedPool pool;
  Ttidewell engine({false, pool.Factory()});
  engine.SetDbFilePath(db.Path());
  engine.SetConnected(true);
  EXPECT_TRUE(engine.GetConnected());
  EXPECT_TRUE(engine.MainConnection().Connected());
  EXPECT_TRUE(engine.EngineConnection().Connected());
  EXPECT_TRUE(engine.WorkersConnection().Connected());
  engine.BeginLoading();
  EXPECT_FALSE(engine.GetConnected());
  engine.SetConnected(false);
  engine.EndLoading();
  EXPECT_TRUE(engine.GetConnected()) << "ignored while loading";
  engine.SetConnected(false);
  EXPECT_FALSE(engine.MainConnection().Connected());
  EXPECT_FALSE(engine.EngineConnection().Connected());
  EXPECT_FALSE(engine.WorkersConnection().Connected());
}

// Workers sharing one attachment run their requests one after the other:
// each feed worker has its own, which follows the engine's connections.
TEST(TtidewellProperties, EachFeedWorkerHasItsOwnAttachmentThatFollowsTheEngine) {
  testing_support::FirebirdTestDatabase db(16384);
  Ttidewell engine({false, {}});
  engine.SetDbFilePath(db.Path());
  engine.SetConnected(true);
  std::vector<TDbConnWrapper*> attachments;
  for (int slot = 0; engine.Worker(slot) != nullptr; ++slot) {
    TDbConnWrapper* attachment = engine.Worker(slot)->OwnConnection();
    ASSERT_NE(attachment, nullptr) << "worker " << slot;
    EXPECT_TRUE(attachment->Connected());
    EXPECT_EQ(attachment->DBFileName(), db.Path());
    EXPECT_NE(attachment, &engine.WorkersConnection());
    for (TDbConnWrapper* other : attachments) EXPECT_NE(attachment->Attachment(), other->Attachment());
    attachments.push_back(attachment);
  }
  EXPECT_EQ(attachments.size(), 5u);
  engine.SetConnected(false);
  for (TDbConnWrapper* attachment : attachments) EXPECT_FALSE(attachment->Connected());
}

TEST(TtidewellProperties, TheConnectionsStayWhileAWorkerHasWork) {
  testing_support::FirebirdTestDatabase db(16384);
  ParkedPool pool;
  Ttidewell engine({false, pool.Factory()});
  engine.SetDbFilePath(db.Path());
  engine.SetConnected(true);
  pool.workers[3]->AddFeedJob(1, false);
  try {
    engine.SetConnected(false);
    FAIL() << "disconnected under a queued job";
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "All threads must finish their job first");
  }
  EXPECT_TRUE(engine.WorkersConnection().Connected());
  EXPECT_TRUE(engine.MainConnection().Connected());
}

TEST(TtidewellProperties, OwnerIdReachesTheFilterWorkShop) {
  ParkedPool pool;
  Ttidewell engine({false, pool.Factory()});
  engine.SetOwnerId(42);
  EXPECT_EQ(engine.OwnerId(), 42);
  EXPECT_EQ(engine.GetFilterWorkShop()->UserId, 42);
}

TEST(TtidewellShutDown, AsksEveryWorkerFirstThenStopsThemFromTheLast) {
  ParkedPool pool;
  Ttidewell engine({false, pool.Factory()});
  std::vector<std::pair<int32_t, int32_t>> progress;
  std::vector<bool> allAskedAtFirstReport;
  engine.StopThreads(true, [&](int32_t count, int32_t ordinal) {
    progress.emplace_back(count, ordinal);
    if (progress.size() == 1)
      for (ParkedWorker* worker : pool.workers) allAskedAtFirstReport.push_back(worker->stopRequested);
  });
  EXPECT_EQ(progress, (std::vector<std::pair<int32_t, int32_t>>{{5, 1}, {5, 2}, {5, 3}, {5, 4}, {5, 5}}));
  EXPECT_EQ(allAskedAtFirstReport, std::vector<bool>(5, true));
  EXPECT_EQ(engine.ThreadCount(), -1);
  EXPECT_EQ(engine.Worker(0), nullptr);
  EXPECT_TRUE(DbHelperInstance()->StopFlag());
  // A second shut-down finds nothing to do.
  engine.StopThreads(true, [&](int32_t, int32_t) { ADD_FAILURE() << "stopped twice"; });
}

// What this engine gives up on at shut-down is never freed, by design; the
// sanitizers' suppressions name this function to tell that leak from others.
[[gnu::noinline]] std::unique_ptr<Ttidewell> EngineThatLeavesItsStuckWorkerBehind(TtidewellOptions options) {
  return std::make_unique<Ttidewell>(std::move(options));
}

TEST(TtidewellShutDown, AWorkerThatOutlivesTheTimeOutIsDetachedNotFreed) {
  auto release = std::make_shared<platform::Event>(true, false);
  StuckWorker* stuck = nullptr;
  TtidewellOptions options;
  options.stopTimeoutMs = 100;
  options.workerFactory = [&](Ttidewell&, int slot) -> std::unique_ptr<TtidewellPoolWorker> {
    if (slot != 2) return std::make_unique<ParkedWorker>();
    auto worker = std::make_unique<StuckWorker>(release);
    stuck = worker.get();
    return worker;
  };
  {
    std::unique_ptr<Ttidewell> engine = EngineThatLeavesItsStuckWorkerBehind(std::move(options));
    engine->StopThreads(true);
    EXPECT_EQ(engine->ThreadCount(), -1);
    EXPECT_TRUE(stuck->stopped);
  }
  // The engine is gone; the detached worker is still intact and may end.
  EXPECT_TRUE(stuck->stopped);
  EXPECT_EQ(DbHelperInstance(), nullptr) << "a new engine may be made";
  release->Set();
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

TEST(TtidewellShutDown, JobsOfferedWhileThePoolIsTakenApartOrGoneAreNotQueued) {
  testing_support::FirebirdTestDatabase db(16384);
  testing::ParkedPool pool;
  Ttidewell engine({false, pool.Factory()});
  engine.SetDbFilePath(db.Path());
  engine.SetConnected(true);
  std::vector<int32_t> queuedDuringStop;
  engine.StopThreads(false, [&](int32_t, int32_t ordinal) {
    engine.UpdateFeeds({ordinal}, false);
    engine.DownloadEnclosures({ordinal}, u"");
    queuedDuringStop.push_back(pool.workers[0]->GetQueueCount());
  });
  EXPECT_EQ(queuedDuringStop, std::vector<int32_t>(5, 0));
  EXPECT_EQ(engine.ThreadCount(), -1);
  engine.UpdateFeeds({1}, false);
  EXPECT_EQ(engine.QueuedJobCount(), 0);
}

}  // namespace
}  // namespace tidewell
