// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "engine/tidewell.h"
#include "engine_test_support.h"

namespace tidewell {
namespace {

using testing::EngineOnDatabase;
using testing::ParkedPool;

class EngineFilterTest : public ::testing::Test {
 protected:
  EngineFilterTest() {
    alpha = engine.AddFeed(u"Alpha", "http://alpha.example/feed", u"");
    beta = engine.AddFeed(u"Beta", "http://beta.example/feed", u"");
    for (int id : {1, 2}) AddArticle(id, alpha);
    AddArticle(3, beta);
  }
  void AddArticle(int id, int32_t feedId) {
    db.Execute("insert into articles (id, feed_id, title) values (" + std::to_string(id) + ", " +
               std::to_string(feedId) + ", 'a" + std::to_string(id) + "')");
  }
  // A root with one comparison "articles.feed_id = feedId".
  std::unique_ptr<TFilter> FeedFilter(int32_t feedId) {
    std::unique_ptr<TFilter> root = engine.NewFilter();
    root->SetField(u"feed");
    auto* child = new TFilter(nullptr, true, false);
    child->OperType = 3;
    child->SetField(u"articles.feed_id");
    child->SetDataType(2);
    child->AddValue(kt::Utf8ToWide(std::to_string(feedId)));
    child->Parent = root.get();
    root->Conditions->Add(child);
    return root;
  }
  std::set<int32_t> LoadedIds(TArticlesByFilter& list) {
    std::set<int32_t> ids;
    for (int32_t i = 0; i < list.GetCount(); ++i) ids.insert(list.GetItem(i)->ArticleId);
    return ids;
  }

  ParkedPool pool;
  EngineOnDatabase db{{false, pool.Factory()}};
  Ttidewell& engine = db.Engine();
  int32_t alpha = 0, beta = 0;
};

TEST_F(EngineFilterTest, ArticlesByFilterAreLoadedIntoANewListAndTheFilterIsLeftAsItWas) {
  std::unique_ptr<TFilter> filter = FeedFilter(alpha);
  std::unique_ptr<TArticlesByFilter> list;
  engine.GetArticlesByFilter(list, filter.get(), {}, 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(LoadedIds(*list), (std::set<int32_t>{1, 2}));
  EXPECT_EQ(filter->Conditions->Count(), 1);
  EXPECT_EQ(filter->WorkShop, engine.GetFilterWorkShop());
  engine.GetArticlesByFilter(list, FeedFilter(beta).get(), {}, 7);
  EXPECT_EQ(LoadedIds(*list), (std::set<int32_t>{3}));
  EXPECT_EQ(engine.GetFilterWorkShop()->UserId, 0) << "another owner's load leaves the engine's workshop alone";
}

TEST_F(EngineFilterTest, OwnerIdReachesTheFoldersToo) {
  engine.SetOwnerId(9);
  EXPECT_EQ(engine.GetFolders()->UserId, 9);
  EXPECT_EQ(engine.GetFilterWorkShop()->UserId, 9);
}

}  // namespace
}  // namespace tidewell
