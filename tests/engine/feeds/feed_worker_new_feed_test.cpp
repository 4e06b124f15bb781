// SPDX-License-Identifier: MIT
// Feeds added by URL: what an HTML answer leads to (autodiscovery, or a feed
// after all), and how failed answers are reported.
#include <gtest/gtest.h>

#include "tests/engine/feeds/feed_worker_fixture.h"

namespace tidewell::feed_worker_testing {
namespace {

using Worker = TtidewellWorkerThreadPrAtomRssFeeds;

class NewFeed : public FeedWorkerTest {
 protected:
  void Add(const std::string& path) { worker_->AddJob(Url(path), 0, TQueueJobTypes::CfeedOperation, u""); }
  bool WaitForJobs(size_t count) {
    return WaitUntil([&] { return events_.stops.size() == count; });
  }
};

TEST_F(NewFeed, NotFoundIsReportedWithTheHttpErrorFollowedBySemicolon) {
  Serve("/missing.xml", 404, "text/plain", "nothing here");
  StartWorker();
  Add("/missing.xml");
  ASSERT_TRUE(WaitForJobs(1));
  ASSERT_EQ(events_.processed.size(), 1u);
  const FeedProcessedEvent& e = events_.processed[0];
  EXPECT_EQ(e.errCat, TErrorCategory::ErrUnknown);
  EXPECT_EQ(e.operation, TFeedOpType::cInsert);
  EXPECT_EQ(e.httpCode, 404);
  ASSERT_FALSE(e.errMsg.empty());
  EXPECT_NE(e.errMsg.find("404"), std::string::npos) << e.errMsg;
  EXPECT_EQ(e.errMsg.back(), ';') << e.errMsg;
  EXPECT_EQ(worker_->insertParses.load(), 0);
}

TEST_F(NewFeed, TransferFailureWithoutHttpAnswerIsReportedNotSwallowed) {
  StartWorker();
  worker_->AddJob("http:///feed.xml", 0, TQueueJobTypes::CfeedOperation, u"");
  ASSERT_TRUE(WaitForJobs(1));
  ASSERT_EQ(events_.processed.size(), 1u);
  EXPECT_EQ(events_.processed[0].errCat, TErrorCategory::ErrUnknown);
  EXPECT_NE(events_.processed[0].errMsg.find("Host name is empty"), std::string::npos)
      << events_.processed[0].errMsg;
}

TEST_F(NewFeed, HtmlPageWithoutFeedLinksIsReportedWithItsUrl) {
  Serve("/page.html", 200, "text/html; charset=utf-8", "<html><body>Hello</body></html>");
  StartWorker();
  Add("/page.html");
  ASSERT_TRUE(WaitForJobs(1));
  ASSERT_EQ(events_.processed.size(), 1u);
  EXPECT_EQ(events_.processed[0].errCat, TErrorCategory::ErrUnknown);
  EXPECT_EQ(events_.processed[0].errMsg, "No RSS URLs found !\r\n" + Url("/page.html"));
  EXPECT_EQ(worker_->discoveries.load(), 1);
  EXPECT_TRUE(events_.discovered.empty());
}

TEST_F(NewFeed, HtmlPageAnnouncingFeedsHandsTheirLinksToTheApplication) {
  Serve("/page.html", 200, "text/html", "<html><head></head></html>");
  StartWorker();
  worker_->discoverable = {"http://example.org/rss.xml", "http://example.org/atom.xml"};
  Add("/page.html");
  ASSERT_TRUE(WaitForJobs(1));
  ASSERT_EQ(events_.discovered.size(), 1u);
  EXPECT_EQ(events_.discovered[0], worker_->discoverable);
  EXPECT_TRUE(events_.processed.empty());
  EXPECT_EQ(worker_->insertParses.load(), 0);
}

TEST_F(NewFeed, FeedLinksOfARealPageAreResolvedAgainstItsUrl) {
  Serve("/blog/", 200, "text/html",
        "<html><head><link rel=\"alternate\" type=\"application/rss+xml\" title=\"Posts\" href=\"feed.xml\">"
        "</head><body>Hello</body></html>");
  StartWorker();
  worker_->realDiscovery = true;
  Add("/blog/");
  ASSERT_TRUE(WaitForJobs(1));
  ASSERT_EQ(events_.discovered.size(), 1u);
  EXPECT_EQ(events_.discovered[0], TStrings{Url("/blog/feed.xml")});
  EXPECT_TRUE(events_.processed.empty());
}

TEST_F(NewFeed, FeedMarkerOnlyInsideAnHtmlCommentStillRunsAutodiscovery) {
  Serve("/commented.html", 200, "text/html", "<html><!-- old: <rss version=\"2.0\"> --><body/></html>");
  Serve("/real.html", 200, "text/html", "<!-- served as html -->\n<rss version=\"2.0\"><channel/></rss>");
  Serve("/named.XML", 200, "text/html", "<html><body>no marker</body></html>");
  StartWorker();
  Add("/commented.html");
  ASSERT_TRUE(WaitForJobs(1));
  EXPECT_EQ(worker_->discoveries.load(), 1);
  EXPECT_EQ(worker_->insertParses.load(), 0);
  Add("/real.html");
  ASSERT_TRUE(WaitForJobs(2));
  EXPECT_EQ(worker_->discoveries.load(), 1);
  EXPECT_EQ(worker_->insertParses.load(), 1);
  // A URL that names an XML document is parsed whatever its content type.
  Add("/named.XML");
  ASSERT_TRUE(WaitForJobs(3));
  EXPECT_EQ(worker_->discoveries.load(), 1);
  EXPECT_EQ(worker_->insertParses.load(), 2);
}

TEST(LooksLikeFeed, FindsFeedMarkersOutsideHtmlComments) {
  struct Case {
    const char* text;
    bool feed;
  } cases[] = {
      {"<rss version=\"2.0\">", true},
      {"  \r\n<RSS>", true},
      {"<feed xmlns=\"http://www.w3.org/2005/Atom\">", true},
      {"<rdf:RDF>", true},
      {"<html><!-- <rss  --></html>", false},
      {"<html><!-- <rss  --><rss version", true},
      {"<!-- a --> <rss version", true},
      {"<!-- a ---> <!-- <feed> ", false},
      {"<html><rssfeed></html>", false},
      {"<r\nss >", true},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(Worker::LooksLikeFeed(c.text), c.feed) << c.text;
  EXPECT_FALSE(Worker::LooksLikeFeed(std::string(4096, ' ') + "x" + std::string(4096, 'y') + "<rss "));
}

TEST(LooksLikeFeed, CommentScannersReportOneBasedPositions) {
  const std::string text = "ab<!--cd-->ef";
  EXPECT_EQ(Worker::FindCommentStartBefore(text, 8), 3);
  EXPECT_EQ(Worker::FindCommentStartBefore(text, 3), 0);
  EXPECT_EQ(Worker::FindCommentEndBefore(text, 13), 9);
  EXPECT_EQ(Worker::FindCommentEndBefore(text, 8), 0);
  EXPECT_EQ(Worker::FindCommentEndBefore("x---y", 5), 2);
  EXPECT_EQ(Worker::FindCommentEndBefore(text, 100), 9);
}

TEST(ExtractLastPathPart, TakesTheLastFolderName) {
  EXPECT_EQ(Worker::ExtractLastPathPart(" /cache/example.org/ "), "example.org");
  EXPECT_EQ(Worker::ExtractLastPathPart("C:\\cache\\host\\"), "host");
  EXPECT_EQ(Worker::ExtractLastPathPart("plain"), "plain");
  EXPECT_EQ(Worker::ExtractLastPathPart("/"), "");
}

}  // namespace
}  // namespace tidewell::feed_worker_testing
