// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_store.h"

#include <gtest/gtest.h>

#include <string>

#include "feed_test_worker.h"
#include "engine/model/feed_property.h"
#include "engine/settings/tidewell_globvars.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

using feeds_testing::FeedTestWorker;

class FeedStoreTest : public ::testing::Test {
 protected:
  FeedStoreTest() : job_(FeedTestWorker::MakeJob("http://store.example/rss", 200, "")), store_(worker_.context, *job_) {
    worker_.url = "http://store.example/rss";
    feed_ = worker_.db.InsertFeed("http://store.example/rss");
    article_ = worker_.db.InsertArticle(feed_, u"A");
    worker_.ResetJob();
  }

  // Articles of the feed, created one minute apart (oldest first).
  void AddArticles(int count, int flagged) {
    for (int i = 0; i < count; ++i) {
      const int32_t id = worker_.db.InsertArticle(feed_, u"N" + std::u16string(1, u'a' + (i % 26)));
      worker_.db.Execute("update articles set created=dateadd(" + std::to_string(i) +
                         " minute to timestamp '2024-01-01 00:00:00'), flag=" + (i < flagged ? "1" : "0") +
                         " where id=" + std::to_string(id));
    }
  }

  FeedTestWorker worker_;
  std::unique_ptr<TtidewellTrdJobPropClass> job_;
  TtidewellFeedStore store_;
  int32_t feed_ = 0;
  int32_t article_ = 0;
};

TEST_F(FeedStoreTest, EnclosureUrlsUpTo8191CharactersAreStoredOnce) {
  worker_.transaction.StartTransaction();
  const std::string longest = "http://e.example/" + std::string(8191 - 17, 'a');
  EXPECT_TRUE(store_.AddEnclosures(article_, {{"audio/mpeg", 10, longest}, {"audio/mpeg", 10, "   "}}).empty());
  EXPECT_TRUE(store_.AddEnclosures(article_, {{"audio/mpeg", 10, longest}}).empty());
  const std::vector<std::string> failures = store_.AddEnclosures(article_, {{"audio/mpeg", 10, longest + "b"}});
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].rfind("Enclosure url length >8191 (8192 characters): http://e.example/aaa", 0), 0u)
      << failures[0];
  worker_.transaction.Commit();
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from enclosures"), 1);
  EXPECT_EQ(worker_.db.QueryInt64("select char_length(url_) from enclosures"), 8191);
  EXPECT_EQ(worker_.db.QueryInt64("select download_status from enclosures"), 0);
}

TEST_F(FeedStoreTest, PruningRemovesTheOldestUnflaggedArticlesBeyondTheArchive) {
  worker_.db.Execute("delete from articles");
  AddArticles(110, 5);  // 105 unflagged
  const int32_t oldestUnflagged = static_cast<int32_t>(
      worker_.db.QueryInt64("select first 1 id from articles where flag=0 order by created asc"));
  worker_.articleIds[0] = oldestUnflagged;
  worker_.articleIds[1] = oldestUnflagged + 50;
  worker_.articleIdCount = 2;
  EXPECT_EQ(store_.PruneArchive(feed_, 100), 5);
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from articles where deleted=0 and flag=0"), 100);
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from articles where deleted=0 and flag=1"), 5);
  ASSERT_EQ(worker_.idsBeforeDelete.size(), 1u);
  EXPECT_EQ(worker_.idsBeforeDelete[0].size(), 5u);
  EXPECT_EQ(worker_.articleIds[0], -oldestUnflagged);
  EXPECT_EQ(worker_.articleIds[1], oldestUnflagged + 50);
  EXPECT_FALSE(worker_.transaction.InTransaction());
  EXPECT_EQ(store_.PruneArchive(feed_, 0), 0);
}

// Links and pruning after a document share one transaction: a failed
// pruning undoes only itself, the links stored before it stay.
TEST_F(FeedStoreTest, AFailedPruningKeepsTheLinksStoredBeforeItInItsTransaction) {
  AddArticles(10, 0);
  worker_.context.OnNotArticleIdsBeforeDelete = [](uint32_t, int32_t, const TDynIntArray&) {
    throw kt::Exception("handler failed");
  };
  worker_.transaction.StartTransaction();
  store_.AddArticleLinks({{u"http://l.example/kept", article_}});
  EXPECT_THROW(store_.PruneArchive(feed_, 5), kt::Exception);
  EXPECT_FALSE(worker_.transaction.InTransaction());
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from articles_links"), 1);
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from articles where deleted=0"), 11);
}

TEST_F(FeedStoreTest, ArticleLinksAreStoredOncePerArticle) {
  TArticleLinkPairs pairs = {{u"http://l.example/a", article_}, {u"http://l.example/a", article_},
                             {u"  ", article_}, {u"http://l.example/b", 0}};
  store_.AddArticleLinks(pairs);
  store_.AddArticleLinks(pairs);
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from articles_links"), 1);
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from links"), 1);
}

TEST_F(FeedStoreTest, CommentParentNeedsAnActiveTransaction) {
  EXPECT_THROW(store_.GetCommentParentId(feed_), kt::Exception);
  worker_.db.Execute("update articles set commentfeed_id=99 where id=" + std::to_string(article_));
  worker_.transaction.StartTransaction();
  EXPECT_EQ(store_.GetCommentParentId(99), article_);
  EXPECT_EQ(store_.GetCommentParentId(98), 0);
  worker_.transaction.Commit();
}

TEST_F(FeedStoreTest, CommentFeedsAreNotMadeWhileSwitchedOff) {
  worker_.transaction.StartTransaction();
  EXPECT_EQ(store_.GetCommentFeed(feed_, article_, "http://c.example/comments"), 0);
  worker_.transaction.Commit();
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from feeds"), 1);
}

TEST_F(FeedStoreTest, ArticleIdListGrowsBy255) {
  worker_.articleIds.assign(255, 0);
  worker_.articleIdCount = 0;
  for (int32_t id = 1; id <= 256; ++id) store_.AppendArticleId(id);
  EXPECT_EQ(worker_.articleIdCount, 256);
  EXPECT_EQ(worker_.articleIds.size(), 510u);
  EXPECT_EQ(worker_.articleIds[255], 256);
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

class CommentFeedTest : public FeedStoreTest {
 protected:
  CommentFeedTest() { GlobalVars->TEST_SetCommentFeedsEnabled(true); }
  ~CommentFeedTest() override { GlobalVars->TEST_SetCommentFeedsEnabled(false); }
};

TEST_F(CommentFeedTest, CommentLinkMakesOneCommentFeedWithTheFeedsSettings) {
  worker_.db.Execute("update feeds set archivesize=7, language_='de', update_interval=60, username_='u'");
  worker_.transaction.StartTransaction();
  const int32_t comments = store_.GetCommentFeed(feed_, article_, " comments/1?&amp;x=1 ");
  EXPECT_GE(comments, 1);
  EXPECT_EQ(store_.GetCommentFeed(feed_, article_, "http://store.example/comments/1?&x=1"), comments);
  worker_.transaction.Commit();
  EXPECT_EQ(worker_.commentFeedsCreated, 1);
  EXPECT_EQ(worker_.commentFeedId, comments);
  EXPECT_EQ(worker_.parentArticleId, article_);
  const std::string where = " from feeds where feed_id=" + std::to_string(comments);
  EXPECT_EQ(worker_.db.QueryText("select type_" + where), "COMMFEED");
  EXPECT_EQ(worker_.db.QueryText("select link" + where), "http://store.example/comments/1?&x=1");
  EXPECT_EQ(worker_.db.QueryInt64("select archivesize" + where), 7);
  EXPECT_EQ(worker_.db.QueryText("select language_" + where), "de");
  EXPECT_EQ(worker_.db.QueryInt64("select update_interval" + where), 60);
  EXPECT_EQ(worker_.db.QueryText("select username_" + where), "u");

  // The feed's credentials belong to its place: a comment feed at another
  // (here https on the same host) gets its settings, not them.
  worker_.transaction.StartTransaction();
  const int32_t elsewhere = store_.GetCommentFeed(feed_, article_, "https://store.example/comments/2");
  worker_.transaction.Commit();
  const std::string away = " from feeds where feed_id=" + std::to_string(elsewhere);
  EXPECT_EQ(worker_.db.QueryText("select language_" + away), "de");
  EXPECT_EQ(worker_.db.QueryText("select username_" + away), "");
}

TEST_F(CommentFeedTest, TheFeedsOwnUrlAndCommentFeedsThemselvesMakeNoCommentFeed) {
  worker_.transaction.StartTransaction();
  EXPECT_EQ(store_.GetCommentFeed(feed_, article_, "HTTP://STORE.EXAMPLE/RSS"), 0);
  EXPECT_EQ(store_.GetCommentFeed(feed_, article_, "mailto:x@y"), 0);
  worker_.commentFeed = true;
  EXPECT_EQ(store_.GetCommentFeed(feed_, article_, "http://c.example/comments"), 0);
  worker_.transaction.Commit();
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from feeds"), 1);
}

TEST_F(CommentFeedTest, RssItemsStoreTheirCommentFeed) {
  worker_.Insert("<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:wfw=\"http://wellformedweb.org/CommentAPI/\">"
                 "<channel><title>C</title><item><guid>c1</guid><title>With comments</title>"
                 "<wfw:commentRss>http://c.example/c1/feed</wfw:commentRss></item></channel></rss>",
                 "http://c.example/rss");
  ASSERT_GE(worker_.itemId, 1) << worker_.errorText;
  const int64_t comments = worker_.db.QueryInt64("select feed_id from feeds where type_='COMMFEED'");
  EXPECT_GE(comments, 1);
  EXPECT_EQ(worker_.db.QueryInt64("select commentfeed_id from articles where guid='c1'"), comments);
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

TEST_F(FeedStoreTest, LinksLongerThanTheirColumnAreLeftOut) {
  const std::u16string longUrl = u"http://l.example/" + std::u16string(1500, u'a');
  store_.AddArticleLinks({{longUrl, article_}, {u"http://l.example/short", article_}});
  EXPECT_EQ(worker_.db.QueryInt64("select count(*) from articles_links"), 1);
}

}  // namespace
}  // namespace tidewell
