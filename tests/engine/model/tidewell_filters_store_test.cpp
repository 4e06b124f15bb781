// SPDX-License-Identifier: MIT
// Saving, deleting, auto-saving and copying filter trees, and the feeds a
// filter selects.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "filter_fixture.h"

namespace filter_testing {
namespace {

constexpr int32_t kUser = 5;

class FilterStoreTest : public ::testing::Test {
 protected:
  FilterStoreTest() {
    CreateFilterSchema(db_);
    workShop_.UserId = kUser;
  }

  std::string Text(const std::string& sql) {
    TTranWrapper transaction(&db_.Connection());
    transaction.StartTransaction();
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    query.SQL.Add(sql);
    query.ExecQuery();
    std::string text = query.Eof() ? "" : query.Fields(0).AsString();
    query.Close();
    transaction.Commit();
    return text;
  }
  int64_t Int(const std::string& sql) { return db_.QueryInt64(sql); }
  int64_t FilterRows() { return Int("select count(*) from sqlfilters"); }
  int64_t ValueRows() { return Int("select count(*) from sqlfiltervalues"); }
  std::string Row(int32_t id) {
    return Text("select parent_node||'|'||field||'|'||operType||'|'||datatype||'|'||folderid||'|'||weight||'|'||"
                "userid from sqlfilters where id=" +
                std::to_string(id));
  }
  std::string Values(int32_t id) {
    return Text("select list(value_, ',') from (select value_ from sqlfiltervalues where node_id=" +
                std::to_string(id) + " order by value_)");
  }

  // root "Sample" -> [title = 'x', OR[rating IN (1,2)], container[flag = 1]]
  std::unique_ptr<TFilter> SampleTree() {
    std::unique_ptr<TFilter> root(NewNode(&workShop_, 0, "Sample"));
    root->FolderId = 7;
    root->SetWeight(3);
    AddChild(root.get(), NewNode(&workShop_, 3, "articles.title", 1, {"x"}));
    TFilter* orNode = AddChild(root.get(), NewNode(&workShop_, 1));
    AddChild(orNode, NewNode(&workShop_, 13, "articles.rating", 2, {"1", "2"}));
    TFilter* container = AddChild(root.get(), NewNode(&workShop_, 0));
    AddChild(container, NewNode(&workShop_, 3, "articles.flag", 2, {"1"}));
    return root;
  }
  TFilter* Child(TFilter* node, int index) { return node->Conditions->GetItem(index); }

  testing_support::FirebirdTestDatabase db_{kSchemaPageSize};
  TFilterWorkShop workShop_{&db_.Connection()};
};

void ExpectRaises(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no error, expected " << message;
  } catch (const kt::Exception& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

TEST_F(FilterStoreTest, SavingStoresEveryNodeButContainersAndAssignsIds) {
  auto root = SampleTree();
  workShop_.SaveFilter(root.get(), nullptr);
  TFilter* title = Child(root.get(), 0);
  TFilter* orNode = Child(root.get(), 1);
  TFilter* rating = Child(orNode, 0);
  TFilter* container = Child(root.get(), 2);
  TFilter* flag = Child(container, 0);
  ASSERT_GT(root->Id, 0);
  EXPECT_EQ(container->Id, 0);
  const std::string rootId = std::to_string(root->Id);
  EXPECT_EQ(Row(root->Id), "0|Sample|0|1|7|3|5");
  EXPECT_EQ(Row(title->Id), rootId + "|articles.title|3|1|0|0|5");
  EXPECT_EQ(Row(orNode->Id), rootId + "||1|1|0|0|5");
  EXPECT_EQ(Row(rating->Id), std::to_string(orNode->Id) + "|articles.rating|13|2|0|0|5");
  EXPECT_EQ(Row(flag->Id), rootId + "|articles.flag|3|2|0|0|5");
  EXPECT_EQ(FilterRows(), 5);
  EXPECT_EQ(Values(title->Id), "x");
  EXPECT_EQ(Values(rating->Id), "1,2");
  EXPECT_EQ(Int("select count(*) from sqlfiltervalues where userid=5"), 4);
}

TEST_F(FilterStoreTest, SavingTwiceKeepsTheRootIdAndReplacesTheChildRows) {
  auto root = SampleTree();
  workShop_.SaveFilter(root.get(), nullptr);
  const int32_t rootId = root->Id;
  const int32_t oldTitleId = Child(root.get(), 0)->Id;
  Child(root.get(), 0)->Values[0]->Value = u"changed";
  root->SetField(u"Renamed");
  workShop_.SaveFilter(root.get(), nullptr);
  EXPECT_EQ(root->Id, rootId);
  EXPECT_EQ(FilterRows(), 5);
  EXPECT_EQ(ValueRows(), 4);
  EXPECT_EQ(Int("select count(*) from sqlfilters where id=" + std::to_string(oldTitleId)), 0);
  EXPECT_EQ(Values(Child(root.get(), 0)->Id), "changed");
  EXPECT_EQ(Text("select field from sqlfilters where id=" + std::to_string(rootId)), "Renamed");
}

TEST_F(FilterStoreTest, UnnamedRootIsSavedAsNoname) {
  std::unique_ptr<TFilter> root(NewNode(&workShop_, 0));
  workShop_.SaveFilter(root.get(), nullptr);
  EXPECT_EQ(root->GetField(), u"noname");
  EXPECT_EQ(Text("select field from sqlfilters"), "noname");
}

TEST_F(FilterStoreTest, OnlyWellDefinedRootsAreSaved) {
  ExpectRaises([&] { workShop_.SaveFilter(nullptr, nullptr); }, "Filter not assigned");
  auto root = SampleTree();
  ExpectRaises([&] { workShop_.SaveFilter(Child(root.get(), 0), nullptr); },
               "You can only save rootnode ! (tidewell_Filters.pas, line 1208)");
  std::unique_ptr<TFilter> comparison(NewNode(&workShop_, 13, "enclosures.download_status", 2, {"0"}));
  ExpectRaises([&] { workShop_.SaveFilter(comparison.get(), nullptr); }, "Filter inpropertly defined");
  EXPECT_EQ(FilterRows(), 0);
}

TEST_F(FilterStoreTest, FailedSaveLeavesTheStoredFilterAndTheIdsAsTheyWere) {
  auto root = SampleTree();
  workShop_.SaveFilter(root.get(), nullptr);
  const int32_t titleId = Child(root.get(), 0)->Id;
  const std::string before = Row(titleId);
  TFilter* bad = AddChild(Child(root.get(), 1), NewNode(&workShop_, 3, "", 1, {"no field"}));
  ExpectRaises([&] { workShop_.SaveFilter(root.get(), nullptr); }, "Filter inpropertly defined");
  EXPECT_EQ(FilterRows(), 5);
  EXPECT_EQ(ValueRows(), 4);
  EXPECT_EQ(Row(titleId), before);
  EXPECT_EQ(Child(root.get(), 0)->Id, titleId);

  // Mended, the tree replaces its stored rows rather than adding to them.
  bad->SetField(u"articles.title");
  workShop_.SaveFilter(root.get(), nullptr);
  EXPECT_EQ(FilterRows(), 6);
  EXPECT_EQ(ValueRows(), 5);
}

TEST_F(FilterStoreTest, RootWhoseRowVanishedFailsTheUpdate) {
  auto root = SampleTree();
  workShop_.SaveFilter(root.get(), nullptr);
  db_.Execute("delete from sqlfilters where id=" + std::to_string(root->Id));
  ExpectRaises([&] { workShop_.SaveFilter(root.get(), nullptr); },
               "Rootnode update failed ! (tidewell_Filters.pas, line 1275)");
  EXPECT_EQ(FilterRows(), 4);
}

TEST_F(FilterStoreTest, SaveInTheCallersTransactionIsCommittedByTheCaller) {
  auto root = SampleTree();
  TTranWrapper transaction(&db_.Connection());
  transaction.StartTransaction();
  workShop_.SaveFilter(root.get(), &transaction);
  EXPECT_TRUE(transaction.InTransaction());
  EXPECT_EQ(FilterRows(), 0);
  transaction.Rollback();
  EXPECT_EQ(FilterRows(), 0);
  EXPECT_GT(root->Id, 0);  // the ids received stay
}

TEST_F(FilterStoreTest, DeletingRemovesNodesValuesAndFilterVariables) {
  auto root = SampleTree();
  workShop_.SaveFilter(root.get(), nullptr);
  const std::string rootId = std::to_string(root->Id);
  db_.Execute("insert into variables(itemId,type_,userid) values(" + rootId + ",'filter',5)");
  db_.Execute("insert into variables(itemId,type_,userid) values(" + rootId + ",'folder',5)");

  workShop_.DeleteFilter(root.get(), true, nullptr);
  EXPECT_EQ(FilterRows(), 1);
  EXPECT_EQ(ValueRows(), 0);
  EXPECT_EQ(Int("select count(*) from variables where itemId=" + rootId), 2);

  workShop_.DeleteFilter(root.get(), false, nullptr);
  EXPECT_EQ(FilterRows(), 0);
  EXPECT_EQ(Int("select count(*) from variables where type_='folder'"), 1);
  EXPECT_EQ(Int("select count(*) from variables where type_='filter'"), 0);
}

TEST_F(FilterStoreTest, DeletingTouchesOnlyTheOwnersRows) {
  auto root = SampleTree();
  workShop_.SaveFilter(root.get(), nullptr);
  TFilterWorkShop other(&db_.Connection());
  other.UserId = 6;
  other.DeleteFilter(root.get(), false, nullptr);
  EXPECT_EQ(FilterRows(), 5);
  EXPECT_EQ(ValueRows(), 4);
}

TEST_F(FilterStoreTest, AutoSaveWritesTheColumnsOfSavedNodesAtOnce) {
  std::unique_ptr<TFilter> root(new TFilter(&workShop_, true, true));
  root->SetField(u"Before save");  // not stored yet: nothing to write
  workShop_.SaveFilter(root.get(), nullptr);
  const std::string id = std::to_string(root->Id);
  root->SetField(u"Auto");
  root->SetField(u"");  // an empty name is not written
  root->SetDataType(4);
  root->SetWeight(9);
  EXPECT_EQ(Text("select field||'|'||datatype||'|'||weight from sqlfilters where id=" + id), "Auto|4|9");
  EXPECT_EQ(root->GetField(), u"");

  root->AutoSave = false;
  root->SetWeight(2);
  EXPECT_EQ(Int("select weight from sqlfilters where id=" + id), 9);
}

TEST_F(FilterStoreTest, AutoSaveFailureLeavesTheNodeUnchanged) {
  std::unique_ptr<TFilter> root(new TFilter(&workShop_, true, true));
  workShop_.SaveFilter(root.get(), nullptr);
  TTranWrapper blocker(&db_.Connection());
  blocker.StartTransaction();
  TQueryWrapper lockRow;
  lockRow.SetTransaction(&blocker);
  lockRow.SQL.Add("update sqlfilters set weight=1 where id=" + std::to_string(root->Id));
  lockRow.ExecQuery();
  EXPECT_THROW(root->SetWeight(9), tidewell::EFirebirdError);
  EXPECT_EQ(root->GetWeight(), 0);
  blocker.Rollback();
  root->SetWeight(9);
  EXPECT_EQ(Int("select weight from sqlfilters where id=" + std::to_string(root->Id)), 9);
}

TEST_F(FilterStoreTest, ConcurrentSavesOnOneConnectionKeepTreesApart) {
  constexpr int kThreads = 4;
  constexpr int kFiltersEach = 5;
  std::vector<std::thread> threads;
  std::vector<std::vector<std::unique_ptr<TFilter>>> saved(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TFilterWorkShop workShop(&db_.Connection());
      workShop.UserId = kUser;
      for (int i = 0; i < kFiltersEach; ++i) {
        auto root = OneComparison(&workShop, 3, "articles.feed_id", 2, {"1"});
        workShop.SaveFilter(root.get(), nullptr);
        root->WorkShop = nullptr;
        root->Conditions->GetItem(0)->WorkShop = nullptr;
        saved[t].push_back(std::move(root));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(FilterRows(), kThreads * kFiltersEach * 2);
  for (const auto& filters : saved) {
    for (const auto& root : filters) {
      const int32_t child = root->Conditions->GetItem(0)->Id;
      EXPECT_EQ(Int("select parent_node from sqlfilters where id=" + std::to_string(child)), root->Id);
    }
  }
}

TEST_F(FilterStoreTest, CloneCopiesTheTree) {
  auto source = SampleTree();
  workShop_.SaveFilter(source.get(), nullptr);
  TFilter* clone = workShop_.CloneFilter(source.get(), nullptr, true);
  EXPECT_EQ(clone->GetField(), u"Sample");
  EXPECT_EQ(clone->GetWeight(), 3);
  EXPECT_EQ(clone->Id, source->Id);
  EXPECT_EQ(clone->WorkShop, &workShop_);
  EXPECT_FALSE(clone->AutoSave);
  ASSERT_EQ(clone->Conditions->Count(), 3);
  TFilter* orCopy = Child(clone, 1);
  EXPECT_EQ(orCopy->Parent, clone);
  EXPECT_EQ(orCopy->Id, Child(source.get(), 1)->Id);
  TFilter* ratingCopy = Child(orCopy, 0);
  EXPECT_EQ(ratingCopy->Parent, orCopy);
  EXPECT_EQ(ratingCopy->Id, 0);  // ids are kept on the first level only
  EXPECT_EQ(ratingCopy->GetField(), u"articles.rating");
  EXPECT_EQ(ratingCopy->OperType, 13);
  EXPECT_EQ(ratingCopy->GetDataType(), 2);
  ASSERT_EQ(ratingCopy->GetValueCount(), 2);
  EXPECT_EQ(ratingCopy->GetValue(1)->Value, u"2");
  EXPECT_NE(ratingCopy, Child(Child(source.get(), 1), 0));

  TFilter* fresh = workShop_.CloneFilter(source.get(), nullptr, false);
  EXPECT_EQ(fresh->Id, 0);
  EXPECT_EQ(Child(fresh, 0)->Id, 0);

  std::unique_ptr<TFilter> target(NewNode(&workShop_, 0, "Target"));
  EXPECT_EQ(workShop_.CloneFilter(source.get(), target.get(), false), target.get());
  EXPECT_EQ(target->GetField(), u"Target");
  EXPECT_EQ(target->Conditions->Count(), 3);

  TFilterWorkShop::FreeFilter(clone);
  EXPECT_EQ(clone, nullptr);
  TFilterWorkShop::FreeFilter(clone);
  TFilterWorkShop::FreeFilter(fresh);
}

TEST_F(FilterStoreTest, EndsWithMatchesAccentedLettersInAnyCase) {
  db_.Execute("insert into articles(id,feed_id,title) values(1,1,'Café Noël')");
  db_.Execute("insert into articles(id,feed_id,title) values(2,1,'Cafe Noel')");
  auto root = OneComparison(&workShop_, 12, "articles.title", 1, {"noël"});
  EXPECT_EQ(SelectedIds(db_, workShop_, root.get()), (Ids{1}));
  auto blob = OneComparison(&workShop_, 9, "articles.body", 4, {"Ü"});
  db_.Execute("update articles set body='Crème brûlée' where id=2");
  EXPECT_EQ(SelectedIds(db_, workShop_, blob.get()), (Ids{}));
  auto grave = OneComparison(&workShop_, 9, "articles.body", 4, {"È"});
  EXPECT_EQ(SelectedIds(db_, workShop_, grave.get()), (Ids{2}));
}

// ---- Feeds a filter selects --------------------------------------------------

TEST_F(FilterStoreTest, OneFeedComparisonGivesItsId) {
  tidewell::TDynIntArray ids;
  auto articles = OneComparison(&workShop_, 3, "Articles.Feed_Id", 2, {"5"});
  EXPECT_TRUE(workShop_.GetFeedIDs(articles.get(), ids));
  EXPECT_EQ(ids, (tidewell::TDynIntArray{5}));
  auto feeds = OneComparison(&workShop_, 13, "feeds.feed_id", 2, {"0"});
  EXPECT_FALSE(workShop_.GetFeedIDs(feeds.get(), ids));
  EXPECT_TRUE(ids.empty());
  auto other = OneComparison(&workShop_, 3, "articles.rating", 2, {"5"});
  EXPECT_FALSE(workShop_.GetFeedIDs(other.get(), ids));
  EXPECT_TRUE(ids.empty());
  EXPECT_FALSE(workShop_.GetFeedIDs(nullptr, ids));
}

TEST_F(FilterStoreTest, SeveralFeedComparisonsCountOnlyBesideAnAndNode) {
  std::unique_ptr<TFilter> root(NewNode(&workShop_, 0, "feeds"));
  for (int id = 1; id <= 12; ++id)
    AddChild(root.get(), NewNode(&workShop_, 3, "feeds.feed_id", 2, {std::to_string(id).c_str()}));
  tidewell::TDynIntArray ids;
  EXPECT_FALSE(workShop_.GetFeedIDs(root.get(), ids));
  EXPECT_TRUE(ids.empty());

  AddChild(root.get(), NewNode(&workShop_, 2));
  EXPECT_TRUE(workShop_.GetFeedIDs(root.get(), ids));
  ASSERT_EQ(ids.size(), 21u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(ids[i], i + 1);
  for (size_t i = 12; i < ids.size(); ++i) EXPECT_EQ(ids[i], -1);
}

TEST_F(FilterStoreTest, FeedIdsThatAreNoNumbersAreRefused) {
  auto root = OneComparison(&workShop_, 3, "articles.feed_id", 2, {"1 or 1=1"});
  tidewell::TDynIntArray ids;
  ExpectRaises([&] { workShop_.GetFeedIDs(root.get(), ids); }, "Filter inpropertly defined");
}

TEST_F(FilterStoreTest, MapFeedLinksCollectsTheLinksOfEachFilter) {
  db_.Execute("insert into feeds(feed_id,link) values(1,'http://a.example/feed')");
  db_.Execute("insert into feeds(feed_id,link) values(2,'http://b.example/feed')");
  auto single = OneComparison(&workShop_, 3, "articles.feed_id", 2, {"1"});
  std::unique_ptr<TFilter> both(NewNode(&workShop_, 0, "both"));
  AddChild(both.get(), NewNode(&workShop_, 3, "feeds.feed_id", 2, {"1"}));
  AddChild(both.get(), NewNode(&workShop_, 3, "feeds.feed_id", 2, {"2"}));
  AddChild(both.get(), NewNode(&workShop_, 2));
  auto none = OneComparison(&workShop_, 3, "articles.rating", 2, {"1"});
  auto missing = OneComparison(&workShop_, 3, "articles.feed_id", 2, {"9"});

  tidewell::TFilterLinkList list{{"stale", single.get()}};
  workShop_.MapFeedLinks({single.get(), both.get(), none.get(), missing.get()}, list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].filter, single.get());
  EXPECT_EQ(list[0].text, "http://a.example/feed%==-");
  EXPECT_EQ(list[1].filter, both.get());
  EXPECT_EQ(list[1].text, "http://a.example/feed%==-http://b.example/feed%==-");
}

}  // namespace
}  // namespace filter_testing
