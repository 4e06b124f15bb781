// SPDX-License-Identifier: MIT
#include "engine/model/base_class.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/model/articles.h"
#include "engine/model/enclosures.h"
#include "engine/model/feeds.h"
#include "model_test_database.h"
#include "support/raised_message.h"

namespace {

using namespace tidewell;
using model_testing::ModelTestDatabase;
using testing_support::RaisedMessage;

TEST(BaseClassTest, EmptyResultLeavesNoRowsAndSetsLoaded) {
  ModelTestDatabase db;
  TArticles articles(&db.Connection(), 5);
  EXPECT_FALSE(articles.Loaded);
  articles.Load("", 0);
  EXPECT_TRUE(articles.Loaded);
  EXPECT_EQ(articles.GetCount(), 0);
  EXPECT_FALSE(articles.Transaction->InTransaction());
  articles.Clear();
  EXPECT_FALSE(articles.Loaded);
}

TEST(BaseClassTest, ParentRelationsLendTheStatementAndTransaction) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  const int32_t article = db.InsertArticle(feed, u"t");
  TFeeds feeds(&db.Connection());
  EXPECT_EQ(feeds.Parent, nullptr);
  EXPECT_EQ(feeds.Database, &db.Connection());
  feeds.LoadById(feed, "", 0, 0);
  TArticles& articles = *feeds.GetItem(0)->Articles;
  EXPECT_EQ(articles.Query, feeds.Query);
  EXPECT_EQ(articles.Transaction, feeds.Transaction);
  EXPECT_EQ(articles.Database, nullptr);
  articles.Load("", 0);
  ASSERT_EQ(articles.GetCount(), 1);
  TEnclosures& enclosures = *articles.GetItem(0)->Enclosures;
  EXPECT_EQ(enclosures.Query, feeds.Query);
  EXPECT_EQ(enclosures.Id, article);
  EXPECT_EQ(RaisedMessage([] { TEnclosures orphan(static_cast<TParentClass*>(nullptr), 1); }), "Parent class not assigned !");
  TArticles outside(&db.Connection(), feed);
  TArticleProperty lonely(&outside, 1);
  lonely.Owner = nullptr;
  EXPECT_EQ(RaisedMessage([&] { TEnclosures child(&lonely, 1); }), "Current class relationship not supported !");
}

TEST(BaseClassTest, DestroyingAChildKeepsTheParentsStatement) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  db.InsertArticle(feed, u"t");
  TArticles articles(&db.Connection(), feed);
  articles.Load("", 0);
  { TEnclosures child(articles.GetItem(0), 1); }
  articles.GetItem(0)->Enclosures.reset();
  articles.Load("", 0);
  EXPECT_EQ(articles.GetCount(), 1);
}

TEST(BaseClassTest, IdleCheckCoversTheWholeStatementChain) {
  ModelTestDatabase db;
  const int32_t feed = db.InsertFeed("a");
  db.InsertArticle(feed, u"t");
  TFeeds feeds(&db.Connection());
  feeds.LoadById(feed, "", 0, 0);
  TArticles& articles = *feeds.GetItem(0)->Articles;
  articles.Load("", 0);
  TEnclosures& enclosures = *articles.GetItem(0)->Enclosures;
  feeds.Executing = true;
  EXPECT_EQ(RaisedMessage([&] { enclosures.Load("", 0); }), "Can't perform execSQL operation. Query active ? {TEnclosures}");
  EXPECT_EQ(RaisedMessage([&] { feeds.Close(); }), "Can't perform execSQL operation. Query active ? {TFeeds}");
  feeds.Executing = false;
  EXPECT_FALSE(feeds.Transaction->InTransaction()) << "the failed load rolled back";
  enclosures.Load("", 0);
  EXPECT_TRUE(enclosures.Loaded);
}

// A collection whose rows run a hook as they are read.
class HookedCollection : public TBaseClass {
 public:
  using TBaseClass::TBaseClass;
  std::function<void(int32_t rowNumber)> onRow;
  void LoadById(int32_t, const std::string&, int32_t, int32_t) override {
    LoadRequest request;
    request.lines = {"select article_id from enclosures order by enclosure_id"};
    RunLoad(request, [this](TQueryWrapper&) {
      Items.push_back(std::make_unique<TBaseProperty>(this));
      if (onRow) onRow(GetCount());
    });
  }
};

TEST(BaseClassTest, CancelFromAnotherThreadStopsBeforeTheNextRowAndStillCommits) {
  ModelTestDatabase db;
  for (int i = 0; i < 20; ++i) db.InsertEnclosure(1, "u");
  HookedCollection collection(&db.Connection());
  collection.onRow = [&](int32_t row) {
    if (row == 3) std::thread([&] { collection.Cancel = true; }).join();
  };
  collection.Load("", 0);
  EXPECT_EQ(collection.GetCount(), 3);
  EXPECT_TRUE(collection.Loaded);
  EXPECT_FALSE(collection.Transaction->InTransaction());
  EXPECT_TRUE(collection.Cancel);
  collection.onRow = nullptr;
  collection.Load("", 0);
  EXPECT_EQ(collection.GetCount(), 20) << "a load clears Cancel first";
}

TEST(BaseClassTest, FailedOrAbortedLoadKeepsRowsReadAndLeavesTheCollectionUsable) {
  ModelTestDatabase db;
  for (int i = 0; i < 5; ++i) db.InsertEnclosure(1, "u");
  HookedCollection collection(&db.Connection());
  collection.onRow = [](int32_t row) {
    if (row == 2) throw kt::Exception("row failure");
  };
  EXPECT_THROW(collection.Load("", 0), kt::Exception);
  EXPECT_EQ(collection.GetCount(), 2);
  EXPECT_FALSE(collection.Loaded);
  EXPECT_FALSE(collection.Executing);
  EXPECT_FALSE(collection.Transaction->InTransaction());
  collection.onRow = [](int32_t row) {
    if (row == 4) throw kt::EAbort();
  };
  EXPECT_THROW(collection.Load("", 0), kt::EAbort) << "only some loads swallow an abort";
  collection.onRow = nullptr;
  collection.Load("", 0);
  EXPECT_EQ(collection.GetCount(), 5);
}

}  // namespace
