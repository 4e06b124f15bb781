// SPDX-License-Identifier: MIT
#include "engine/model/articles.h"

#include <gtest/gtest.h>

#include "engine/model/feeds.h"
#include "model_test_database.h"
#include "support/raised_message.h"

namespace {

using namespace tidewell;
using model_testing::ModelTestDatabase;
using testing_support::RaisedMessage;

TEST(ArticlesTest, ByFeedReadsTheColumnsAndCountsEnclosures) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  const int32_t id = db.InsertArticle(feed, u"Hello <b>wörld</b> ", u"the body");
  db.Execute("update articles set summary='sum',creator='me',link='http://x/1',readstatus=1,flag=3,rating=4,"
             "articleMD5='MD5-X',guid='gü' where id=" + std::to_string(id));
  db.InsertEnclosure(id, "http://x/a.mp3");
  db.InsertEnclosure(id, "http://x/b.mp3");
  db.InsertKeyword(id, "news", true);
  TArticles articles(&db.Connection(), feed);
  articles.Load("", 0);
  ASSERT_EQ(articles.GetCount(), 1);
  const TArticleProperty& a = *articles.GetItem(0);
  EXPECT_EQ(a.ArticleId, id);
  EXPECT_EQ(a.FeedId, feed);
  EXPECT_EQ(a.Guid, "gü");
  EXPECT_EQ(a.Title, u"Hello wörld");
  EXPECT_EQ(a.Summary, u"sum");
  EXPECT_EQ(a.Creator, u"me");
  EXPECT_EQ(a.Link, "http://x/1");
  EXPECT_EQ(a.ReadStatus, TArticleReadStatus::cmarkAsRead);
  EXPECT_EQ(a.Flag, TArticleFlagType::cFTGreen);
  EXPECT_EQ(a.Rating, 4);
  EXPECT_EQ(a.ArticleMD5, "MD5-X");
  EXPECT_EQ(a.Body, u"the body");
  EXPECT_EQ(a.EnclosureCount, 2);
  EXPECT_EQ(a.KeywordCache.find(u"news") != std::u16string::npos, true) << "filled by the schema's trigger";
  EXPECT_GT(a.Created, 40000.0);
  EXPECT_FALSE(a.Deleted);
}

TEST(ArticlesTest, EmptyTitlesReadFromTheBodyOrAsNoTitle) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  const std::u16string longBody(600, u'x');
  const int32_t fromBody = db.InsertArticle(feed, u"", longBody);
  const int32_t none = db.InsertArticle(feed, u"", u"");
  const int32_t onlyTags = db.InsertArticle(feed, u"<img src='x'>", u"b");
  TArticles articles(&db.Connection(), -1);
  articles.LoadByIds({fromBody, none, onlyTags}, true, 0, 0, "id");
  ASSERT_EQ(articles.GetCount(), 3);
  EXPECT_EQ(articles.GetItem(0)->Title, std::u16string(512, u'x') + u"...");
  EXPECT_EQ(articles.GetItem(1)->Title, u"(no title)");
  EXPECT_EQ(articles.GetItem(2)->Title, u"(no title)");
  EXPECT_TRUE(articles.GetItem(0)->Body.empty()) << "skip-body flag";
}

TEST(ArticlesTest, DeletedArticlesAreLeftOutAndIdListsMayBeLong) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  TDynIntArray ids;
  for (int i = 0; i < 1600; ++i) ids.push_back(db.InsertArticle(feed, u"t" + kt::Utf8ToWide(std::to_string(i))));
  db.Execute("update articles set deleted=1 where id=" + std::to_string(ids[1]));
  TArticles articles(&db.Connection(), feed);
  articles.LoadByIds({}, false, 0, 0, "");
  EXPECT_FALSE(articles.Loaded);
  articles.LoadByArticleId(ids[1], false, 0, 0, "");
  EXPECT_EQ(articles.GetCount(), 0);
  for (size_t size : {size_t{1500}, size_t{1501}, size_t{1600}}) {
    articles.LoadByIds(TDynIntArray(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(size)), true, 0, 0, "id");
    EXPECT_EQ(static_cast<size_t>(articles.GetCount()), size - 1) << size;
  }
  TDynIntArray many(ids);
  while (many.size() < 10000) many.push_back(1000000 + static_cast<int32_t>(many.size()));
  articles.LoadByIds(many, true, 100, 10, "id desc");
  ASSERT_EQ(articles.GetCount(), 10);
  EXPECT_EQ(articles.GetItem(0)->ArticleId, ids[1599 - 100]);
  articles.LoadById(feed, "id", 0, 3);
  ASSERT_EQ(articles.GetCount(), 3);
  EXPECT_EQ(articles.GetItem(1)->ArticleId, ids[2]);
}

TEST(ArticlesTest, PageReadsOnlyTheColumnsTheMaskKeeps) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  const int32_t live = db.InsertArticle(feed, u"<i>raw</i>", u"body");
  const int32_t gone = db.InsertArticle(feed, u"", u"");
  db.Execute("update articles set deleted=2,guid='G',rating=5 where id=" + std::to_string(gone));
  db.InsertEnclosure(live, "http://x/a.mp3");
  TArticles articles(&db.Connection(), feed);
  articles.LoadPage(feed, 0, 0, 0, "id", true);
  ASSERT_EQ(articles.GetCount(), 2);
  EXPECT_EQ(articles.GetItem(0)->Title, u"<i>raw</i>") << "taken as stored";
  EXPECT_EQ(articles.GetItem(0)->Body, u"body");
  EXPECT_EQ(articles.GetItem(0)->EnclosureCount, 1);
  EXPECT_TRUE(articles.GetItem(1)->Deleted);
  EXPECT_EQ(articles.GetItem(1)->Title, u"");
  EXPECT_EQ(articles.GetItem(1)->Guid, "G");
  EXPECT_EQ(articles.GetItem(1)->Rating, 5);
  articles.LoadPage(feed, 0, 0, 0, "id", false);
  ASSERT_EQ(articles.GetCount(), 1);
  articles.LoadPage(feed, TArticles::kProcessorPageMask, 0, 1000, "id desc", true);
  ASSERT_EQ(articles.GetCount(), 2);
  const TArticleProperty& first = *articles.GetItem(0);
  EXPECT_EQ(first.ArticleId, gone);
  EXPECT_EQ(first.Guid, "G");
  EXPECT_EQ(first.Rating, 5);
  EXPECT_TRUE(first.Title.empty());
  EXPECT_TRUE(articles.GetItem(1)->Body.empty());
  EXPECT_EQ(articles.GetItem(1)->EnclosureCount, 0);
}

TEST(ArticlesTest, ParentsOwnersAndIndexesAreChecked) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  db.InsertArticle(feed, u"t");
  TFeeds feeds(&db.Connection());
  const std::string wrongParent = "Parent class is missing / invalid id / incorrect parent class !";
  EXPECT_EQ(RaisedMessage([&] { TArticles a(static_cast<TParentClass*>(&feeds), 1); }), wrongParent);
  EXPECT_EQ(RaisedMessage([&] { TArticles a(static_cast<TParentClass*>(nullptr), 1); }), wrongParent);
  EXPECT_EQ(RaisedMessage([&] { TArticleProperty row(&feeds, 1); }), wrongParent);
  TArticles articles(&db.Connection(), feed);
  articles.Load("", 0);
  EXPECT_EQ(RaisedMessage([&] { articles.GetItem(1); }), "Article index out of bounds");
  EXPECT_EQ(RaisedMessage([&] { articles.GetItem(-1); }), "Article index out of bounds");
  TArticles nested(articles.GetItem(0), feed);
  nested.Load("", 0);
  EXPECT_EQ(nested.GetCount(), 1);
}

}  // namespace
