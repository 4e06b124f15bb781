// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "engine/model/articles.h"
#include "engine/model/custom_tag_attributes.h"
#include "engine/model/custom_tag_base.h"
#include "engine/model/custom_tag_property.h"
#include "engine/model/feeds.h"
#include "model_test_database.h"
#include "support/raised_message.h"

namespace {

using namespace tidewell;
using model_testing::ModelTestDatabase;
using testing_support::RaisedMessage;

TEST(CustomTagsTest, FeedTagsAndTheirAttributesComeFromTheFeedTables) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  const int32_t bare = db.InsertFeed("b");
  const int32_t article = db.InsertArticle(feed, u"t");
  const int32_t tag = db.InsertCustomTag("feeds", feed, "itunes:owner", "Zoë", "role", "host");
  // The same row id in the article tables must not leak into the feed's.
  db.Execute("insert into articles_customfields_attr(articles_customfield_id,attrb_id,attr_value) values(" +
             std::to_string(tag) + ",1,'wrong')");
  db.InsertCustomTag("articles", article, "media:rating", "adult", "scheme", "urn:simple");
  TFeeds feeds(&db.Connection());
  feeds.LoadFeeds({feed, bare}, "feed_id", 0, 0);
  TFeedCustomTags& tags = *feeds.GetItem(0)->FeedCustomTags;
  tags.Load("", 0, 0);
  ASSERT_EQ(tags.GetCount(), 1);
  auto* row = dynamic_cast<TCustomTagProperty*>(tags.GetItem(0));
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->RowId, tag);
  EXPECT_EQ(row->Name, "itunes:owner");
  EXPECT_EQ(row->Value, u"Zoë");
  EXPECT_EQ(row->Attributes->AttrTable, "feeds_customfields_attr");
  EXPECT_EQ(row->Attributes->GetCount(), 0) << "attributes load on demand";
  row->Attributes->Load("", 0);
  ASSERT_EQ(row->Attributes->GetCount(), 1);
  EXPECT_EQ(row->Attributes->GetItem(0)->Name, "role");
  EXPECT_EQ(row->Attributes->GetItem(0)->Value, u"host");
  TFeedCustomTags& none = *feeds.GetItem(1)->FeedCustomTags;
  none.Load("", 0, 0);
  EXPECT_TRUE(none.Loaded);
  EXPECT_EQ(none.GetCount(), 0);
  EXPECT_EQ(RaisedMessage([&] { tags.GetItem(1); }), "Feed index out of bounds !");
  EXPECT_EQ(RaisedMessage([&] { row->Attributes->GetItem(-1); }), "Feed index out of bounds !");
}

TEST(CustomTagsTest, ArticleTagsJoinTheirAttributesOnTheArticleColumn) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  const int32_t article = db.InsertArticle(feed, u"t");
  db.InsertCustomTag("articles", article, "media:rating", "adult", "scheme", "urn:simple");
  db.InsertCustomTag("articles", article, "dc:rights", "cc", "lang", "en");
  TArticles articles(&db.Connection(), feed);
  articles.Load("", 0);
  TArticleCustomTags& tags = *articles.GetItem(0)->CustomTags;
  tags.Load("b.customfield_tag", 0, 0);
  ASSERT_EQ(tags.GetCount(), 2);
  EXPECT_EQ(tags.GetItem(0)->Name, "dc:rights");
  tags.Load("b.customfield_tag", 1, 1);
  ASSERT_EQ(tags.GetCount(), 1);
  EXPECT_EQ(tags.GetItem(0)->Name, "media:rating");
  auto& attributes = *static_cast<TCustomTagProperty*>(tags.GetItem(0))->Attributes;
  EXPECT_EQ(attributes.AttrTable, "articles_customfields_attr");
  attributes.Load("", 0);
  ASSERT_EQ(attributes.GetCount(), 1);
  EXPECT_EQ(attributes.GetItem(0)->Value, u"urn:simple");
}

TEST(CustomTagsTest, ParentsMustBeTagCollectionsOrFeedAndArticleRows) {
  ModelTestDatabase db;
  TFeeds feeds(&db.Connection());
  const std::string wrong = "Parent class is missing / invalid id / incorrect parent class !";
  EXPECT_EQ(RaisedMessage([&] { TFeedCustomTags t(&feeds, 1); }), wrong);
  EXPECT_EQ(RaisedMessage([&] { TArticleCustomTags t(nullptr, 1); }), wrong);
  const int32_t feed = db.InsertFeed("a");
  feeds.LoadById(feed, "", 0, 0);
  TFeedCustomTags& tags = *feeds.GetItem(0)->FeedCustomTags;
  TArticleCustomTags nested(&tags, feed);
  EXPECT_EQ(nested.Query, feeds.Query);
  EXPECT_EQ(RaisedMessage([&] { TCustomTagAttributes a(feeds.GetItem(0), 1, "feeds_customfields_attr"); }), wrong);
  TCustomTagAttributes attributes(&tags, 1, "feeds_customfields_attr");
  EXPECT_EQ(RaisedMessage([&] { TCustomTagAttributes a(&attributes, 1, "feeds_customfields_attr"); }), wrong);
}

}  // namespace
