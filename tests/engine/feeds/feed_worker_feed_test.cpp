// SPDX-License-Identifier: MIT
// Feed jobs end to end: the worker fetches the document and the feed
// processor stores it, on a real database.
#include <gtest/gtest.h>

#include "tests/engine/feeds/feed_worker_fixture.h"
#include "toolkit/exception.h"

namespace tidewell::feed_worker_testing {
namespace {

const char kRss[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<rss version=\"2.0\"><channel><title>Tide tables</title><link>http://example.org/</link>"
    "<description>d</description>"
    "<item><title>First</title><link>http://example.org/1</link><guid>g1</guid></item>"
    "<item><title>Second</title><link>http://example.org/2</link><guid>g2</guid></item>"
    "</channel></rss>";

class FeedJob : public FeedWorkerTest {
 protected:
  int32_t Count(const std::string& sql) { return static_cast<int32_t>(db_.QueryInt64(sql)); }
};

TEST_F(FeedJob, StoredFeedDocumentIsStoredAndReported) {
  const int32_t feed = db_.InsertFeed(Url("/tides.xml"));
  Serve("/tides.xml", 200, "application/rss+xml", kRss);
  StartWorker();
  worker_->AddFeedJob(feed, false);
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  ASSERT_EQ(events_.processed.size(), 1u);
  const FeedProcessedEvent& e = events_.processed[0];
  EXPECT_EQ(e.errCat, TErrorCategory::noErrors) << e.errMsg;
  EXPECT_EQ(e.feedId, feed);
  EXPECT_EQ(e.operation, TFeedOpType::cUpdate);
  EXPECT_EQ(e.httpCode, 200);
  EXPECT_EQ(Count("select count(*) from articles where feed_id=" + std::to_string(feed)), 2);
  EXPECT_EQ(Count("select lastHTTPCode from feeds where feed_id=" + std::to_string(feed)), 200);
}

TEST_F(FeedJob, NewFeedAddedByUrlGetsItsOwnRow) {
  Serve("/new.xml", 200, "text/xml", kRss);
  StartWorker();
  worker_->AddJob(Url("/new.xml"), 0, TQueueJobTypes::CfeedOperation, u"");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  ASSERT_EQ(events_.processed.size(), 1u);
  const FeedProcessedEvent& e = events_.processed[0];
  EXPECT_EQ(e.errCat, TErrorCategory::noErrors) << e.errMsg;
  EXPECT_EQ(e.operation, TFeedOpType::cInsert);
  ASSERT_GE(e.feedId, 1);
  EXPECT_EQ(db_.QueryText("select link from feeds where feed_id=" + std::to_string(e.feedId)), Url("/new.xml"));
  EXPECT_EQ(Count("select count(*) from articles where feed_id=" + std::to_string(e.feedId)), 2);
}

TEST_F(FeedJob, UnchangedFeedIsReportedAsNeedingNoUpdateAndRescheduled) {
  const int32_t feed = db_.InsertFeed(Url("/same.xml"));
  // A 304 answers the copy that the request named.
  db_.Execute("update feeds set etag='\"v1\"' where feed_id=" + std::to_string(feed));
  Serve("/same.xml", 304, "", "");
  std::vector<int32_t> unchanged;
  StartWorker([&](TtidewellWorkerHandlers& h) {
    h.OnNoNeedForUpdate = [&](int32_t feedId, const WideString&) { unchanged.push_back(feedId); };
  });
  const double before = db_.QueryDateTime("select next_feedupdate from feeds where feed_id=" + std::to_string(feed));
  worker_->AddFeedJob(feed, true);
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  EXPECT_EQ(unchanged, std::vector<int32_t>{feed});
  EXPECT_TRUE(events_.processed.empty());
  EXPECT_EQ(Count("select lastHTTPCode from feeds where feed_id=" + std::to_string(feed)), 304);
  EXPECT_NE(db_.QueryDateTime("select next_feedupdate from feeds where feed_id=" + std::to_string(feed)), before);
}

TEST_F(FeedJob, FailingApplicationHandlerBecomesAFatalErrorAndTheWorkerGoesOn) {
  const int32_t feed = db_.InsertFeed(Url("/tides.xml"));
  Serve("/tides.xml", 200, "application/rss+xml", kRss);
  StartWorker([&](TtidewellWorkerHandlers& h) {
    h.OnStartWorking = [](uint32_t, int32_t, const std::string&, int32_t, TQueueJobTypes) {
      throw kt::Exception("handler broke");
    };
  });
  worker_->AddFeedJob(feed, false);
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  ASSERT_GE(events_.fatalErrors.size(), 1u);
  EXPECT_EQ(events_.fatalErrors[0], "handler broke");
  ASSERT_EQ(events_.processed.size(), 1u);
  EXPECT_EQ(events_.processed[0].errCat, TErrorCategory::noErrors) << events_.processed[0].errMsg;
}

}  // namespace
}  // namespace tidewell::feed_worker_testing

namespace tidewell::feed_worker_testing {
namespace {

TEST_F(FeedWorkerTest, TheAnswersCharsetDecidesHowTheDocumentIsRead) {
  Serve("/latin.xml", 200, "text/xml; charset=ISO-8859-1",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><title>Caf\xE9</title>"
        "<item><guid>g</guid><title>\x93Quoted\x94</title></item></channel></rss>");
  StartWorker();
  worker_->AddJob(Url("/latin.xml"), 0, TQueueJobTypes::CfeedOperation, u"");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  ASSERT_EQ(events_.processed.size(), 1u);
  ASSERT_GE(events_.processed[0].feedId, 1) << events_.processed[0].errMsg;
  EXPECT_EQ(db_.QueryText("select title from feeds"), "Caf\xC3\xA9");
  EXPECT_EQ(db_.QueryText("select title from articles"), "\xE2\x80\x9CQuoted\xE2\x80\x9D");
}

}  // namespace
}  // namespace tidewell::feed_worker_testing
