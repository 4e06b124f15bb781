// SPDX-License-Identifier: MIT
// The deletion cascade of articles and feeds, checked table by table.
#include <gtest/gtest.h>

#include "engine/model/articles.h"
#include "engine/model/feeds.h"
#include "model_test_database.h"

namespace {

using namespace tidewell;
using model_testing::ModelTestDatabase;

// One article with everything that can hang on it.
struct ArticleSetup {
  int32_t id = 0;
  int32_t downloaded = 0;  // enclosure id, when one was downloaded
  int32_t pending = 0;
  int32_t link = 0;
  int32_t tag = 0;
};

class DeleteArticlesTest : public ::testing::Test {
 protected:
  ArticleSetup AddArticle(int32_t feed, bool withDownload) {
    ArticleSetup a;
    a.id = db_.InsertArticle(feed, u"title", u"body");
    a.pending = db_.InsertEnclosure(a.id, "http://x/p" + std::to_string(a.id));
    if (withDownload) a.downloaded = db_.InsertEnclosure(a.id, "http://x/d" + std::to_string(a.id), 2);
    a.link = db_.InsertLink(a.id, "http://x/l" + std::to_string(a.id));
    db_.InsertKeyword(a.id, "k" + std::to_string(a.id), false);
    db_.InsertWebPage(a.id, "<html/>");
    a.tag = db_.InsertCustomTag("articles", a.id, "media:rating", "adult", "scheme", "urn:x");
    return a;
  }
  int64_t Count(const std::string& table, const std::string& where) {
    return db_.QueryInt64("select count(*) from " + table + " where " + where);
  }
  std::string Of(int32_t id) { return std::to_string(id); }
  // Runs the deletion in one transaction of its own and commits.
  void Delete(const TDynIntArray& ids, int32_t feed, bool purge) {
    TTranWrapper transaction(&db_.Connection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    TArticles::DeleteArticles(&query, ids, feed, purge);
    transaction.Commit();
  }
  void DeleteFeed(int32_t feed, bool markOnly) {
    TTranWrapper transaction(&db_.Connection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    TFeeds::DeleteFeed(&query, feed, markOnly);
    transaction.Commit();
  }
  void ExpectDetailsGone(const ArticleSetup& a) {
    EXPECT_EQ(Count("enclosures", "enclosure_id=" + Of(a.pending)), 0);
    EXPECT_EQ(Count("articles_links", "article_id=" + Of(a.id)), 0);
    EXPECT_EQ(Count("links", "link_id=" + Of(a.link)), 0);
    EXPECT_EQ(Count("article_keywords", "article_id=" + Of(a.id)), 0);
    EXPECT_EQ(Count("webpages", "article_id=" + Of(a.id)), 0);
  }

  ModelTestDatabase db_;
};

TEST_F(DeleteArticlesTest, BlankingByIdsKeepsStubsOfDownloadsAndSparesOthers) {
  const int32_t feed = db_.InsertFeed("a");
  const ArticleSetup plain = AddArticle(feed, false);
  const ArticleSetup stub = AddArticle(feed, true);
  const ArticleSetup untouched = AddArticle(feed, true);
  Delete({plain.id, stub.id}, -1, false);

  ExpectDetailsGone(plain);
  ExpectDetailsGone(stub);
  EXPECT_EQ(Count("articles", "id=" + Of(plain.id) + " and deleted=1 and title='' and body='' and syncmodified is not null"), 1);
  EXPECT_EQ(Count("articles", "id=" + Of(plain.id) + " and summary='1234 http://x/p" + Of(plain.id) + "'||ascii_char(10)"), 1)
      << "a deletion unheard keeps the addresses of the files it removes";
  EXPECT_EQ(Count("articles_customfields", "article_id=" + Of(plain.id)), 0);
  EXPECT_EQ(Count("articles_customfields_attr", "articles_customfield_id=" + Of(plain.tag)), 0);

  EXPECT_EQ(Count("articles", "id=" + Of(stub.id) + " and deleted=2 and title='title'"), 1);
  EXPECT_EQ(Count("enclosures", "enclosure_id=" + Of(stub.downloaded)), 1);
  EXPECT_EQ(Count("articles_customfields", "article_id=" + Of(stub.id)), 1) << "a stub keeps its custom fields";
  EXPECT_EQ(Count("articles_customfields_attr", "articles_customfield_id=" + Of(stub.tag)), 1);

  EXPECT_EQ(Count("articles", "id=" + Of(untouched.id) + " and deleted=0"), 1);
  EXPECT_EQ(Count("enclosures", "article_id=" + Of(untouched.id)), 2);
  EXPECT_EQ(Count("articles_links", "article_id=" + Of(untouched.id)), 1);
  EXPECT_EQ(Count("article_keywords", "article_id=" + Of(untouched.id)), 1);
  EXPECT_EQ(Count("webpages", "article_id=" + Of(untouched.id)), 1);
  EXPECT_EQ(Count("articles_customfields", "article_id=" + Of(untouched.id)), 1);
  EXPECT_EQ(Count("buffer", "1=1"), 0);
}

TEST_F(DeleteArticlesTest, PurgingAFeedRemovesItsArticlesButStubsAndItsCommentFeeds) {
  const int32_t feed = db_.InsertFeed("a");
  const int32_t other = db_.InsertFeed("b");
  const ArticleSetup plain = AddArticle(feed, false);
  const ArticleSetup stub = AddArticle(feed, true);
  const ArticleSetup elsewhere = AddArticle(other, false);
  const int32_t comments = db_.InsertFeed("http://x/comments", "COMMFEED");
  const ArticleSetup comment = AddArticle(comments, false);
  db_.Execute("update articles set commentfeed_id=" + Of(comments) + " where id=" + Of(plain.id));
  db_.InsertCustomTag("feeds", comments, "itunes:owner", "o", "a", "b");

  Delete({}, feed, true);

  EXPECT_EQ(Count("articles", "id=" + Of(plain.id)), 0);
  ExpectDetailsGone(plain);
  EXPECT_EQ(Count("articles", "id=" + Of(stub.id) + " and deleted=2 and commentfeed_id=0"), 1);
  EXPECT_EQ(Count("articles", "id=" + Of(elsewhere.id) + " and deleted=0"), 1);
  EXPECT_EQ(Count("feeds", "feed_id=" + Of(comments)), 0) << "the comment feed is deleted wholly";
  EXPECT_EQ(Count("articles", "id=" + Of(comment.id)), 0);
  ExpectDetailsGone(comment);
  EXPECT_EQ(Count("feeds_customfields", "feed_id=" + Of(comments)), 0);
  EXPECT_EQ(Count("feeds_customfields_attr", "1=1"), 0);
  EXPECT_EQ(Count("buffer", "1=1"), 0);
}

TEST_F(DeleteArticlesTest, PurgingByIdsAndEmptyListsAndIdsOfNoArticle) {
  const int32_t feed = db_.InsertFeed("a");
  const ArticleSetup plain = AddArticle(feed, false);
  const ArticleSetup stub = AddArticle(feed, true);
  Delete({}, -1, true);
  Delete({0, -5, 999999}, -1, true);
  EXPECT_EQ(Count("articles", "1=1"), 2);
  Delete({plain.id, stub.id}, -1, true);
  EXPECT_EQ(Count("articles", "id=" + Of(plain.id)), 0);
  EXPECT_EQ(Count("articles", "id=" + Of(stub.id) + " and deleted=2"), 1);
}

TEST_F(DeleteArticlesTest, LongIdListsAreDeletedLikeShortOnes) {
  const int32_t feed = db_.InsertFeed("a");
  db_.Execute("execute block as declare i int = 0; begin while (i < 3100) do begin "
              "insert into articles(feed_id,title) values(" + Of(feed) + ",'t'); i = i + 1; end end");
  TDynIntArray ids;
  {
    TTranWrapper transaction(&db_.Connection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    query.SQL.Add("select id from articles order by id");
    query.ExecQuery();
    for (; !query.Eof(); query.Next()) ids.push_back(query.Fields(0).AsInteger());
    query.Close();
    transaction.Commit();
  }
  ASSERT_EQ(ids.size(), 3100u);
  auto slice = [&](size_t from, size_t to) {
    return TDynIntArray(ids.begin() + static_cast<std::ptrdiff_t>(from), ids.begin() + static_cast<std::ptrdiff_t>(to));
  };
  Delete(slice(0, 1500), -1, true);
  EXPECT_EQ(Count("articles", "1=1"), 1600);
  Delete(slice(1500, 3001), -1, true);
  EXPECT_EQ(Count("articles", "1=1"), 99);
  Delete(slice(3001, 3002), -1, true);
  EXPECT_EQ(Count("articles", "1=1"), 98);
  TDynIntArray many = slice(3002, 3100);
  while (many.size() < 10000) many.push_back(5000000 + static_cast<int32_t>(many.size()));
  Delete(many, -1, false);
  EXPECT_EQ(Count("articles", "deleted=1"), 98);
  EXPECT_EQ(Count("buffer", "1=1"), 0);
}

TEST_F(DeleteArticlesTest, CallersRollbackUndoesTheWholeDeletion) {
  const int32_t feed = db_.InsertFeed("a");
  const ArticleSetup plain = AddArticle(feed, false);
  TTranWrapper transaction(&db_.Connection());
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  transaction.StartTransaction();
  TArticles::DeleteArticles(&query, {plain.id}, -1, true);
  transaction.Rollback();
  EXPECT_EQ(Count("articles", "id=" + Of(plain.id)), 1);
  EXPECT_EQ(Count("enclosures", "article_id=" + Of(plain.id)), 1);
  EXPECT_EQ(Count("buffer", "1=1"), 0);
}

TEST_F(DeleteArticlesTest, MarkingAFeedDeletedKeepsItsRowAndFlagsItsArticles) {
  const int32_t feed = db_.InsertFeed("http://x/rss");
  const ArticleSetup a = AddArticle(feed, false);
  db_.Execute("update feeds set description='d',OPMLdescr='o' where feed_id=" + Of(feed));
  DeleteFeed(feed, true);
  EXPECT_EQ(db_.QueryText("select link from feeds where feed_id=" + Of(feed)), "DELMARKED:http://x/rss");
  EXPECT_EQ(Count("feeds", "feed_id=" + Of(feed) + " and skipfeed=1 and description='' and OPMLdescr=''"), 1);
  EXPECT_DOUBLE_EQ(db_.QueryDateTime("select next_feedupdate from feeds where feed_id=" + Of(feed)), 54789.0);
  EXPECT_EQ(Count("articles", "id=" + Of(a.id) + " and deleted=1 and syncmodified is not null"), 1);
  EXPECT_EQ(Count("enclosures", "article_id=" + Of(a.id)), 1) << "marking leaves the details";
}

TEST_F(DeleteArticlesTest, DeletingASearchRootTakesItsResultsFirst) {
  const int32_t root = db_.InsertFeed("r", "OSRCROOT");
  const int32_t first = db_.InsertFeed("s1", "OSRC", root);
  const int32_t second = db_.InsertFeed("s2", "osrc", root);
  const int32_t stranger = db_.InsertFeed("s3", "OSRC", 12345);
  db_.Execute("insert into feed_namespaces(feed_id,nameSpaceIdf,nameSpaceVal) values(" + Of(first) + ",'a','b')");
  AddArticle(first, false);
  DeleteFeed(root, true);
  EXPECT_EQ(Count("feeds", "link like 'DELMARKED:%'"), 2) << "results are found by their exact type";
  DeleteFeed(root, false);
  EXPECT_EQ(Count("feeds", "feed_id in (" + Of(root) + "," + Of(first) + ")"), 0);
  EXPECT_EQ(Count("feeds", "feed_id in (" + Of(second) + "," + Of(stranger) + ")"), 2);
  EXPECT_EQ(Count("articles", "1=1"), 0);
  EXPECT_EQ(Count("feed_namespaces", "1=1"), 0);
}

}  // namespace
