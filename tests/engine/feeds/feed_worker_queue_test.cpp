// SPDX-License-Identifier: MIT
// The feed worker's job queue and job loop: what is queued where, what the
// kind and id tests see, which jobs are skipped, and how a stop ends the
// queue.
#include <gtest/gtest.h>

#include "engine/tidewell_date.h"
#include "tests/engine/feeds/feed_worker_fixture.h"
#include "toolkit/exception.h"

namespace tidewell::feed_worker_testing {
namespace {

using Worker = TtidewellWorkerThreadPrAtomRssFeeds;

TEST(FeedWorkerQueue, CountsAndFindsQueuedJobsByKindAndId) {
  platform::MainThread().BindToCurrentThread();
  Worker worker(nullptr, nullptr, nullptr, true, 55000);
  worker.AddFeedJob(5, false);
  worker.AddJob("example.org/a.mp3", 7, TQueueJobTypes::CgetEnclosure, u"/tmp");
  EXPECT_EQ(worker.GetQueueCount(), 2);
  EXPECT_TRUE(worker.IsJobKindQueued(TQueueJobTypes::CgetEnclosure, 0));
  EXPECT_TRUE(worker.IsJobKindQueued(TQueueJobTypes::CfeedOperation, -1));
  EXPECT_FALSE(worker.IsJobKindQueued(TQueueJobTypes::CgetArticle, 0));
  EXPECT_TRUE(worker.IsJobQueued(5, TQueueJobTypes::CfeedOperation, 0));
  EXPECT_FALSE(worker.IsJobQueued(5, TQueueJobTypes::CgetEnclosure, 0));
  EXPECT_FALSE(worker.IsJobQueued(6, TQueueJobTypes::CfeedOperation, 0));
  // A waiting job has no processing thread, so no thread id hides it.
  EXPECT_TRUE(worker.IsJobKindQueued(TQueueJobTypes::CgetEnclosure, 12345));
}

TEST(FeedWorkerQueue, JobWithoutRowIsInvisibleToTheKindTestOnly) {
  platform::MainThread().BindToCurrentThread();
  Worker worker(nullptr, nullptr, nullptr, true, 55000);
  worker.AddJob("http://example.org/x", Worker::kNoRowItemId, TQueueJobTypes::CgetArticle, u"");
  EXPECT_EQ(worker.GetQueueCount(), 1);
  EXPECT_FALSE(worker.IsJobKindQueued(TQueueJobTypes::CgetArticle, 0));
  EXPECT_TRUE(worker.IsJobQueued(Worker::kNoRowItemId, TQueueJobTypes::CgetArticle, 0));
}

TEST(FeedWorkerQueue, EmptyUrlIsRefusedAndTerminatedWorkerTakesNothing) {
  platform::MainThread().BindToCurrentThread();
  Worker worker(nullptr, nullptr, nullptr, true, 55000);
  try {
    worker.AddJob("  ", 1, TQueueJobTypes::CgetArticle, u"");
    FAIL() << "an empty URL was queued";
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid URL !");
  }
  worker.AddFeedJob(3, false);
  worker.Stop();
  worker.AddFeedJob(4, true);
  worker.AddJob("http://example.org/", 5, TQueueJobTypes::CgetArticle, u"");
  EXPECT_EQ(worker.GetQueueCount(), 1);
  EXPECT_FALSE(worker.IsJobKindQueued(TQueueJobTypes::CfeedOperation, 0));
  EXPECT_FALSE(worker.IsJobQueued(3, TQueueJobTypes::CfeedOperation, 0));
}

class FeedWorkerLoop : public FeedWorkerTest {};

TEST_F(FeedWorkerLoop, FeedsThatAreNotFetchedAreTakenReportedAndSkipped) {
  const std::vector<int32_t> feeds = {
      db_.InsertFeed(" ARCHIVE "),
      db_.InsertFeed(Url("/root.xml"), "OSRCROOT"),
      db_.InsertFeed(Url("/comments.xml"), "COMMFEED"),
      db_.InsertFeed("DELMARKED:" + Url("/gone.xml")),
      987654,  // no row at all
  };
  StartWorker();
  for (int32_t id : feeds) worker_->AddFeedJob(id, false);
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == feeds.size(); }));
  ASSERT_EQ(events_.starts.size(), feeds.size());
  for (size_t i = 0; i < feeds.size(); ++i) {
    EXPECT_EQ(events_.starts[i].itemId, feeds[i]) << i;
    EXPECT_EQ(events_.starts[i].jobType, TQueueJobTypes::CfeedOperation) << i;
    EXPECT_EQ(events_.stops[i].itemId, feeds[i]) << i;
  }
  EXPECT_EQ(events_.starts[0].url, " ARCHIVE ");
  EXPECT_EQ(server_.Requests().size(), 0u);
  EXPECT_TRUE(events_.processed.empty());
  EXPECT_EQ(worker_->GetQueueCount(), 0);
  EXPECT_FALSE(worker_->GetWorking());
}

TEST_F(FeedWorkerLoop, JobWithoutRowIsDroppedUnpreparedAndUndownloaded) {
  Serve("/page", 200, "text/html", "<html></html>");
  StartWorker();
  worker_->AddJob(Url("/page"), Worker::kNoRowItemId, TQueueJobTypes::CgetArticle, u"");
  ASSERT_TRUE(WaitUntil([&] { return worker_->GetQueueCount() == 0; }));
  Settle();
  EXPECT_TRUE(events_.starts.empty());
  // Its end is reported like that of every other job.
  ASSERT_EQ(events_.stops.size(), 1u);
  EXPECT_EQ(events_.stops[0].itemId, Worker::kNoRowItemId);
  EXPECT_TRUE(events_.webPages.empty());
  EXPECT_EQ(server_.Requests().size(), 0u);
}

TEST_F(FeedWorkerLoop, RunningJobIsSeenByTheKindTestUnlessItsThreadIsIgnored) {
  const int32_t article = db_.InsertArticle(db_.InsertFeed(Url("/feed.xml")), u"A");
  const int32_t enclosure = db_.InsertEnclosure(article, Url("/a.mp3"));
  Serve("/a.mp3", 200, "audio/mpeg", std::string(100, 'a'));
  bool seen = false, hiddenFromItsThread = true, idSeen = false;
  StartWorker([&](TtidewellWorkerHandlers& h) {
    h.OnStartWorking = [&](uint32_t thread, int32_t, const std::string&, int32_t queued, TQueueJobTypes) {
      EXPECT_EQ(queued, 1);
      seen = worker_->IsJobKindQueued(TQueueJobTypes::CgetEnclosure, 0);
      hiddenFromItsThread = !worker_->IsJobKindQueued(TQueueJobTypes::CgetEnclosure, static_cast<int32_t>(thread));
      idSeen = worker_->IsJobQueued(enclosure, TQueueJobTypes::CgetEnclosure, -1);
      events_.starts.push_back({thread, 0, "", queued, TQueueJobTypes::CgetEnclosure});
    };
  });
  worker_->AddJob(Url("/a.mp3"), enclosure, TQueueJobTypes::CgetEnclosure, kt::Utf8ToWide(folder_.Path()));
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  EXPECT_TRUE(seen);
  EXPECT_TRUE(hiddenFromItsThread);
  EXPECT_TRUE(idSeen);
  EXPECT_FALSE(worker_->IsJobKindQueued(TQueueJobTypes::CgetEnclosure, 0));
}

TEST_F(FeedWorkerLoop, StopDuringAJobDropsTheRestOfTheQueueWithoutEvents) {
  const int32_t feed = db_.InsertFeed(Url("/feed.xml"));
  std::vector<int32_t> articles;
  for (int i = 0; i < 3; ++i) articles.push_back(db_.InsertArticle(feed, u"A"));
  server_.Handle("/slow", [](const testing_support::RecordedRequest&, testing_support::HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nContent-Type: text/html\r\n\r\n");
    for (int i = 0; i < 100 && c.SendSlowly(std::string(1000, 'x'), 1000, 50); ++i) {
    }
  });
  StartWorker([&](TtidewellWorkerHandlers& h) {
    h.OnStartWorking = [&](uint32_t t, int32_t id, const std::string& url, int32_t n, TQueueJobTypes kind) {
      events_.starts.push_back({t, id, url, n, kind});
      worker_->RequestStop();
    };
  });
  for (int32_t article : articles) worker_->AddJob(Url("/slow"), article, TQueueJobTypes::CgetArticle, u"");
  ASSERT_TRUE(WaitUntil([&] { return worker_->GetQueueCount() == 0; }));
  Settle();
  EXPECT_EQ(events_.starts.size(), 1u);
  EXPECT_TRUE(events_.stops.empty());
  EXPECT_TRUE(events_.webPages.empty());
  EXPECT_EQ(db_.QueryInt64("select count(*) from webpages"), 0);
}

TEST_F(FeedWorkerLoop, StoredFeedIsRequestedWithItsValidatorsAndCredentials) {
  const int32_t feed = db_.InsertFeed(Url("/feed.xml"));
  db_.Execute("update feeds set etag='\"v1\"', username_='reader' where feed_id=" + std::to_string(feed));
  db_.ExecuteWithDateTime("update feeds set page_lastmodified=? where feed_id=" + std::to_string(feed),
                          EncodeDateTime(1994, 11, 6, 8, 49, 37));
  Serve("/feed.xml", 304, "", "");
  StartWorker();
  worker_->AddFeedJob(feed, false);
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  ASSERT_EQ(server_.Requests().size(), 1u);
  const testing_support::RecordedRequest request = server_.Requests()[0];
  EXPECT_EQ(request.Header("If-Modified-Since"), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(request.Header("If-None-Match"), "\"v1\"");
  EXPECT_EQ(events_.starts[0].url, Url("/feed.xml"));
  EXPECT_EQ(worker_->updateParses.load(), 1);
  EXPECT_EQ(worker_->insertParses.load(), 0);
}

}  // namespace
}  // namespace tidewell::feed_worker_testing
