// SPDX-License-Identifier: MIT
// Enclosures, keywords, web pages and links of articles.
#include <gtest/gtest.h>

#include "engine/model/article_keywords.h"
#include "engine/model/article_links.h"
#include "engine/model/article_web_page.h"
#include "engine/model/articles.h"
#include "engine/model/enclosures.h"
#include "engine/model/feeds.h"
#include "model_test_database.h"
#include "support/raised_message.h"

namespace {

using namespace tidewell;
using model_testing::ModelTestDatabase;
using testing_support::RaisedMessage;

const std::string kWrongParent = "Parent class is missing / invalid id / incorrect parent class !";

class ArticleDetailsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    feed_ = db_.InsertFeed("a");
    article_ = db_.InsertArticle(feed_, u"t");
    other_ = db_.InsertArticle(feed_, u"u");
    articles_.LoadByIds({article_, other_}, false, 0, 0, "id");
    ASSERT_EQ(articles_.GetCount(), 2);
  }
  TArticleProperty& Row() { return *articles_.GetItem(0); }

  ModelTestDatabase db_;
  int32_t feed_ = 0;
  int32_t article_ = 0;
  int32_t other_ = 0;
  TArticles articles_{&db_.Connection(), -1};
};

TEST_F(ArticleDetailsTest, EnclosuresOfAnArticleReadEveryColumnWithUrlsDecoded) {
  const int32_t first = db_.InsertEnclosure(article_, "http://x/a.mp3?a=1&amp;b=2&c=&#51;", 2);
  db_.Execute("update enclosures set filelocation='/tmp/a.mp3' where enclosure_id=" + std::to_string(first));
  db_.InsertEnclosure(other_, "http://x/b.mp3");
  TEnclosures& enclosures = *Row().Enclosures;
  enclosures.Load("", 0);
  ASSERT_EQ(enclosures.GetCount(), 1);
  const TEnclosuresProperty& e = *enclosures.GetItem(0);
  EXPECT_EQ(e.EnclosureId, first);
  EXPECT_EQ(e.Url, "http://x/a.mp3?a=1&b=2&c=3") << "a bare & stays";
  EXPECT_EQ(e.Size, 1234);
  EXPECT_EQ(e.MimeType, "audio/mpeg");
  EXPECT_EQ(e.FileLocation, "/tmp/a.mp3");
  EXPECT_EQ(e.DownloadStatus, 2);
  EXPECT_EQ(RaisedMessage([&] { enclosures.GetItem(1); }), "Enclosure index out of bounds");
}

TEST_F(ArticleDetailsTest, EnclosuresOnADatabaseLoadAllByIdsOrByOne) {
  TDynIntArray ids;
  for (int i = 0; i < 5; ++i) ids.push_back(db_.InsertEnclosure(i % 2 ? article_ : other_, "u" + std::to_string(i)));
  TEnclosures enclosures(&db_.Connection(), -1);
  enclosures.LoadById(-1, "", 0, 3);
  EXPECT_EQ(enclosures.GetCount(), 3) << "article id -1: every enclosure, limited by the count";
  enclosures.LoadById(-1, "order by enclosure_id desc", 0, 0);
  ASSERT_EQ(enclosures.GetCount(), 5);
  EXPECT_EQ(enclosures.GetItem(0)->EnclosureId, ids[4]);
  enclosures.LoadByIds({}, "", 0, 0);
  EXPECT_FALSE(enclosures.Loaded);
  enclosures.LoadByIds({ids[3], ids[1]}, "enclosure_id", 0, 0);
  ASSERT_EQ(enclosures.GetCount(), 2);
  EXPECT_EQ(enclosures.GetItem(0)->EnclosureId, ids[1]);
  enclosures.LoadByEnclosureId(ids[2], "", 7, 0);
  ASSERT_EQ(enclosures.GetCount(), 1);
  EXPECT_EQ(enclosures.GetItem(0)->Url, "u2");
  TDynIntArray many(ids);
  while (many.size() < 1501) many.push_back(900000 + static_cast<int32_t>(many.size()));
  enclosures.LoadByIds(many, "", 0, 0);
  EXPECT_EQ(enclosures.GetCount(), 5);
}

TEST_F(ArticleDetailsTest, KeywordsReadUserDefinedFirstThenInCodePointOrder) {
  db_.InsertKeyword(article_, "äpfel", false);
  db_.InsertKeyword(article_, "zebra", false);
  db_.InsertKeyword(article_, "mine", true);
  db_.InsertKeyword(other_, "elsewhere", true);
  TArticleKeyWords& keywords = *Row().KeyWords;
  EXPECT_EQ(keywords.Id, article_);
  keywords.Load("ignored", 1);
  db_.InsertKeyword(article_, "apple", false);
  keywords.Load("", 0);
  ASSERT_EQ(keywords.GetCount(), 4);
  EXPECT_EQ(keywords.GetItem(0)->Value, u"mine");
  EXPECT_TRUE(keywords.GetItem(0)->IsUserDefined);
  EXPECT_EQ(keywords.GetItem(1)->Value, u"apple");
  EXPECT_EQ(keywords.GetItem(2)->Value, u"zebra");
  EXPECT_EQ(keywords.GetItem(3)->Value, u"äpfel") << "the UTF8 collation orders by code point";
  EXPECT_FALSE(keywords.GetItem(3)->IsUserDefined);
  TFeeds feeds(&db_.Connection());
  EXPECT_EQ(RaisedMessage([&] { TArticleKeyWords k(&feeds); }), kWrongParent);
  TArticleKeyWords standalone(&db_.Connection(), other_);
  standalone.Load("", 0);
  EXPECT_EQ(standalone.GetCount(), 1);
}

TEST_F(ArticleDetailsTest, WebPageComesInAStreamAtItsStart) {
  const std::string page = std::string("<html>\0binary\xff", 14);
  db_.InsertWebPage(article_, page);
  TArticleWebPage& webPage = *Row().WebPage;
  webPage.Load("", 0);
  ASSERT_EQ(webPage.GetCount(), 1);
  kt::TMemoryStream& content = *webPage.GetItem(0)->Content;
  EXPECT_EQ(content.Position(), 0);
  EXPECT_EQ(content.Size(), 14);
  std::string read(14, '\0');
  content.Read(read.data(), 14);
  EXPECT_EQ(read, page);
  EXPECT_EQ(webPage.GetItem(0)->Owner, nullptr);
  EXPECT_EQ(RaisedMessage([&] { webPage.GetItem(1); }), "Invalid item index");
}

TEST_F(ArticleDetailsTest, LinksOfAnArticleAfterOneCount) {
  TArticleLinks& links = *Row().Links;
  links.Load("", 0);
  EXPECT_TRUE(links.Loaded);
  EXPECT_EQ(links.GetCount(), 0);
  const int32_t second = db_.InsertLink(article_, "http://x/2");
  const int32_t first = db_.InsertLink(article_, "http://x/1");
  db_.InsertLink(other_, "http://x/3");
  links.Load("b.link", 0);
  ASSERT_EQ(links.GetCount(), 2);
  EXPECT_EQ(links.GetItem(0)->LinkId, first);
  EXPECT_EQ(links.GetItem(0)->Link, "http://x/1");
  EXPECT_EQ(links.GetItem(1)->LinkId, second);
  EXPECT_EQ(RaisedMessage([&] { links.GetItem(2); }), "Link index out of bound");
  EXPECT_EQ(RaisedMessage([&] { TArticleLinks l(articles_.GetItem(0)->Enclosures.get(), 1); }), kWrongParent);
  EXPECT_EQ(RaisedMessage([&] { TArticleLinksProperty p(&articles_, 1); }), kWrongParent);
  EXPECT_EQ(RaisedMessage([&] { TArticleLinksProperty p(nullptr, 1); }), kWrongParent);
}

}  // namespace
