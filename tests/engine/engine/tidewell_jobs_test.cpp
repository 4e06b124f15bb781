// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/tidewell.h"
#include "engine_test_support.h"
#include "platform/main_loop.h"
#include "support/test_http_server.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

using testing::EngineOnDatabase;
using testing::ParkedPool;
using Ids = std::vector<int32_t>;

TEST(TtidewellDistributeJobs, EveryWorkerGetsItsShareAndTheFirstOnesTheRest) {
  struct Case {
    int32_t jobs, workers;
    std::vector<int32_t> counts;
  } cases[] = {
      {7, 5, {2, 2, 1, 1, 1}}, {3, 5, {1, 1, 1, 0, 0}}, {10, 5, {2, 2, 2, 2, 2}},
      {0, 5, {0, 0, 0, 0, 0}}, {4, 1, {4}},             {5, 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> counts{99};
    Ttidewell::DistributeJobs(c.jobs, c.workers, counts);
    EXPECT_EQ(counts, c.counts) << c.jobs << " jobs over " << c.workers;
  }
}

class JobDistributionTest : public ::testing::Test {
 protected:
  void Preload(int slot, int jobs) {
    for (int n = 0; n < jobs; ++n) pool.workers[slot]->AddFeedJob(900 + slot * 10 + n, false);
  }
  // The feed jobs that the engine queued.
  Ids NewIds(int slot) {
    Ids ids;
    for (const auto& job : pool.workers[slot]->Jobs())
      if (job.kind == TQueueJobTypes::CfeedOperation && job.itemId < 900) ids.push_back(job.itemId);
    return ids;
  }
  ParkedPool pool;
  EngineOnDatabase db{{false, pool.Factory()}};
  Ttidewell& engine = db.Engine();
};

TEST_F(JobDistributionTest, FeedsGoToTheShortestQueuesFirstInContiguousShares) {
  Preload(0, 3);
  Preload(2, 2);
  Preload(4, 1);
  engine.UpdateFeeds({1, 2, 3, 4, 5, 6, 7}, false);
  EXPECT_EQ(NewIds(1), (Ids{1, 2}));
  EXPECT_EQ(NewIds(3), (Ids{3, 4}));
  EXPECT_EQ(NewIds(4), (Ids{5}));
  EXPECT_EQ(NewIds(2), (Ids{6}));
  EXPECT_EQ(NewIds(0), (Ids{7}));
  EXPECT_EQ(engine.QueuedJobCount(), 13);
}

TEST_F(JobDistributionTest, AtFrontPutsTheFeedAheadOfQueuedJobs) {
  for (int slot = 0; slot < 5; ++slot) Preload(slot, 1);
  engine.UpdateFeeds({5}, true);
  EXPECT_EQ(pool.workers[0]->ItemIds(), (Ids{5, 900}));
}

TEST_F(JobDistributionTest, WorkersHoldingEnclosureJobsAreAvoidedAndWorkerZeroTakesAllWhenNoneIsFree) {
  pool.workers[1]->AddJob("http://example.org/a.mp3", 1, TQueueJobTypes::CgetEnclosure, u"");
  engine.UpdateFeeds({1, 2, 3, 4}, false);
  EXPECT_EQ(NewIds(1), Ids{});
  EXPECT_EQ(NewIds(0), (Ids{1}));
  for (int slot : {0, 2, 3, 4}) pool.workers[slot]->AddJob("http://example.org/b.mp3", 2, TQueueJobTypes::CgetEnclosure, u"");
  engine.UpdateFeeds({11, 12, 13}, false);
  EXPECT_EQ(NewIds(0), (Ids{1, 11, 12, 13}));
}

TEST_F(JobDistributionTest, FeedUpdatesNeedAConnectionAndAnEmptyListDoesNothing) {
  engine.UpdateFeeds({}, false);
  EXPECT_EQ(engine.QueuedJobCount(), 0);
  engine.SetConnected(false);
  try {
    engine.UpdateFeeds({1}, false);
    FAIL() << "no error";
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "No active connection");
  }
  EXPECT_EQ(engine.QueuedJobCount(), 0);
}

TEST_F(JobDistributionTest, EnclosuresStayOnTheUpperHalfOfThePoolShortestQueueFirst) {
  for (int id = 1; id <= 4; ++id) {
    const std::string url = id == 2 ? "  " : "http://example.org/" + std::to_string(id) + ".mp3";
    db.Execute("insert into enclosures (enclosure_id, article_id, url_) values (" + std::to_string(id) + ", 1, '" +
               url + "')");
  }
  Preload(4, 1);
  engine.DownloadEnclosures({1, 2, 3, 4}, u"/downloads/");
  const auto jobs3 = pool.workers[3]->Jobs();
  ASSERT_EQ(jobs3.size(), 2u);
  EXPECT_EQ(jobs3[0].kind, TQueueJobTypes::CgetEnclosure);
  EXPECT_EQ(jobs3[0].folder, u"/downloads/");
  // The downloads are dealt in turn, and each worker's share goes to the
  // head of its queue whole, in order (no article rows here: by their ids).
  EXPECT_EQ(pool.workers[3]->ItemIds(), (Ids{1, 4}));
  EXPECT_EQ(jobs3[1].url, "http://example.org/4.mp3");
  EXPECT_EQ(pool.workers[4]->ItemIds(), (Ids{3, 940}));
  for (int slot : {0, 1, 2}) EXPECT_EQ(pool.workers[slot]->GetQueueCount(), 0);
  EXPECT_TRUE(engine.IsJobQueued(TQueueJobTypes::CgetEnclosure, -1));
  EXPECT_FALSE(engine.IsJobQueued(TQueueJobTypes::CgetOpmlData, -1));
}

TEST_F(JobDistributionTest, EnclosuresWithoutAUrlQueueNothing) {
  db.Execute("insert into enclosures (enclosure_id, article_id, url_) values (1, 1, '')");
  engine.DownloadEnclosures({1, 99}, u"");
  EXPECT_EQ(engine.QueuedJobCount(), 0);
}

TEST(FrontRequestTest, UpdatingAFeedThatWaitsInAQueueMovesItToTheFront) {
  using testing_support::HttpConnection;
  using testing_support::RecordedRequest;
  using testing_support::TestHttpServer;
  testing_support::TestHttpServer server;
  // Every request is held until the test releases its feed: a worker stays
  // in the job it fetches, so the queues hold still while they are read.
  std::mutex releasedLock;
  std::set<std::string> released;
  auto isReleased = [&](const std::string& target) {
    std::lock_guard<std::mutex> lock(releasedLock);
    return released.count(target) > 0 || released.count("*") > 0;
  };
  auto release = [&](const std::string& target) {
    std::lock_guard<std::mutex> lock(releasedLock);
    released.insert(target);
  };
  server.Handle("/feed.xml", [&](const RecordedRequest& request, HttpConnection& c) {
    while (!isReleased(request.target) && c.Wait(10)) {
    }
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}},
                                    "<rss version=\"2.0\"><channel><title>t</title></channel></rss>"));
  });
  auto targets = [&](size_t from, size_t to) {
    std::set<std::string> found;
    const std::vector<RecordedRequest> requests = server.Requests();
    for (size_t i = from; i < to && i < requests.size(); ++i) found.insert(requests[i].target);
    return found;
  };
  EngineOnDatabase db;
  Ttidewell& engine = db.Engine();
  TDynIntArray ids;
  for (int n = 0; n < 40; ++n) ids.push_back(engine.AddFeed(u"", server.Url("/feed.xml?n=" + std::to_string(n)), u""));
  engine.UpdateFeeds(ids, false);
  // Every worker fetches its first feed and holds seven more; the last feed
  // waits at the back of the last worker's queue.
  ASSERT_TRUE(platform::MainThread().RunUntil([&] { return server.RequestCount("/feed.xml") == 5; }, 30000));
  engine.UpdateFeed(ids.back());
  EXPECT_EQ(engine.QueuedJobCount(), 40);
  // Each worker ends its first job and asks for the head of its queue, where
  // it is held again: those five are the fronts of the queues.
  for (const std::string& target : targets(0, 5)) release(target);
  ASSERT_TRUE(platform::MainThread().RunUntil([&] { return server.RequestCount("/feed.xml") == 10; }, 30000));
  const std::set<std::string> fronts = targets(5, 10);
  EXPECT_EQ(fronts.count("/feed.xml?n=39"), 1u) << "the next job of its worker";
  release("*");
  ASSERT_TRUE(platform::MainThread().RunUntil([&] { return engine.QueuedJobCount() == 0; }, 60000));
  std::vector<std::string> order;
  for (const RecordedRequest& request : server.Requests()) order.push_back(request.target);
  EXPECT_EQ(order.size(), 40u);
  EXPECT_EQ(std::count(order.begin(), order.end(), "/feed.xml?n=39"), 1);
}

class SmartUpdateTimerTest : public JobDistributionTest {
 protected:
  void SetUp() override {
    engine.SetOnSmrtUpdateTimer([this](int32_t count) { ticks.push_back(count); });
    engine.SetOnFatalError([this](uint32_t, const std::string& message, const std::string& url, int32_t itemId,
                                  TQueueJobTypes kind) {
      errors.push_back(message);
      EXPECT_EQ(url, "");
      EXPECT_EQ(itemId, -1);
      EXPECT_EQ(kind, TQueueJobTypes::CNoJob);
    });
  }
  int32_t AddDueFeed(const std::string& link, int priority) {
    const int32_t id = engine.AddFeed(u"t", link, u"");
    db.Execute("update feeds set next_feedupdate='2001-01-01', priority=" + std::to_string(priority) +
               " where feed_id=" + std::to_string(id));
    return id;
  }
  Ids AllNewIds() {
    Ids ids;
    for (int slot = 0; slot < 5; ++slot)
      for (int32_t id : NewIds(slot)) ids.push_back(id);
    return ids;
  }
  std::vector<int32_t> ticks;
  std::vector<std::string> errors;
};

TEST_F(SmartUpdateTimerTest, ATickQueuesTheDueFeedsAndSettlesOnAMinute) {
  const int32_t low = AddDueFeed("http://example.org/low", 0);
  const int32_t high = AddDueFeed("http://example.org/high", 5);
  const int32_t skipped = AddDueFeed("http://example.org/skipped", 0);
  db.Execute("update feeds set skipfeed=1 where feed_id=" + std::to_string(skipped));
  const int32_t archive = AddDueFeed("http://example.org/archive", 0);
  db.Execute("update feeds set type_='ARCHIVE' where feed_id=" + std::to_string(archive));
  const int32_t later = AddDueFeed("http://example.org/later", 0);
  db.Execute("update feeds set next_feedupdate='2049-01-01' where feed_id=" + std::to_string(later));
  engine.SmartUpdateTimer();
  EXPECT_EQ(ticks, (std::vector<int32_t>{2}));
  EXPECT_EQ(AllNewIds(), (Ids{high, low})) << "higher priority first";
  EXPECT_EQ(engine.TimerInterval(), 60000u);
  EXPECT_TRUE(engine.SmartUpdateActive());
  EXPECT_EQ(errors, std::vector<std::string>{});
}

TEST_F(SmartUpdateTimerTest, ATickWhileAFeedJobIsQueuedSelectsNothing) {
  AddDueFeed("http://example.org/due", 0);
  pool.workers[2]->AddFeedJob(950, false);
  engine.SmartUpdateTimer();
  EXPECT_EQ(ticks, std::vector<int32_t>{});
  EXPECT_EQ(engine.QueuedJobCount(), 1);
}

TEST_F(SmartUpdateTimerTest, AnEnclosureJobDoesNotHoldTheTickBack) {
  const int32_t id = AddDueFeed("http://example.org/due", 0);
  pool.workers[4]->AddJob("http://example.org/a.mp3", 1, TQueueJobTypes::CgetEnclosure, u"");
  engine.SmartUpdateTimer();
  EXPECT_EQ(ticks, (std::vector<int32_t>{1}));
  EXPECT_EQ(NewIds(0), (Ids{id}));
}

TEST_F(SmartUpdateTimerTest, AnErrorIsReportedAndTheNextTickComesInTwoMinutes) {
  engine.SetConnected(false);
  engine.SmartUpdateTimer();
  EXPECT_EQ(errors, std::vector<std::string>{"Error in update timer: \r\n\r\nNo active connection"});
  EXPECT_EQ(engine.TimerInterval(), 120000u);
  EXPECT_TRUE(engine.SmartUpdateActive());
  engine.SetSmartUpdateActive(false);
  EXPECT_EQ(engine.TimerInterval(), 1000u);
}

TEST_F(SmartUpdateTimerTest, TheTimerTicksOnTheMainLoopOnceSwitchedOn) {
  const int32_t id = AddDueFeed("http://example.org/due", 0);
  engine.SetSmartUpdateActive(true);
  ASSERT_TRUE(platform::MainThread().RunUntil([&] { return !ticks.empty(); }, 20000));
  EXPECT_EQ(AllNewIds(), (Ids{id}));
  engine.SetSmartUpdateActive(false);
}

}  // namespace
}  // namespace tidewell
