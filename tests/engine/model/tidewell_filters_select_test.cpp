// SPDX-License-Identifier: MIT
// Filters compiled and run against real rows: each operator and data type
// selects exactly the articles it must.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter_fixture.h"
#include "support/scoped_time_zone.h"

namespace filter_testing {
namespace {

// Live articles of ordinary feeds, and all live articles.
const Ids kOrdinaryFeedArticles{1, 2, 3, 4, 7};
const Ids kLiveArticles{1, 2, 3, 4, 5, 7, 8};

Ids Without(Ids ids, std::initializer_list<int32_t> removed) {
  for (int32_t id : removed) ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
  return ids;
}

class FilterSelectTest : public SharedFilterDatabase {};

TEST_F(FilterSelectTest, ApplicationFilterSelectsArticlesWithEnclosuresNotYetDownloaded) {
  std::unique_ptr<TFilter> filter(NewNode(workShop_.get(), 13, "enclosures.download_status", 2, {"0"}));
  EXPECT_EQ(Select(filter.get()), (Ids{1, 3}));
}

TEST_F(FilterSelectTest, TextComparisonsCompareTheWholeValue) {
  EXPECT_EQ(SelectOne(3, "articles.title", 1, {"Banana bread"}), (Ids{2}));
  EXPECT_EQ(SelectOne(3, "articles.title", 1, {"Banana"}), (Ids{}));
  EXPECT_EQ(SelectOne(4, "articles.title", 1, {"Banana bread"}), Without(kLiveArticles, {2}));
  EXPECT_EQ(SelectOne(5, "articles.title", 1, {"Ends"}), (Ids{5, 7, 8}));
  EXPECT_EQ(SelectOne(6, "articles.title", 1, {"Ends with 100%"}), (Ids{5, 7, 8}));
  EXPECT_EQ(SelectOne(7, "articles.title", 1, {"B"}), (Ids{1, 4}));
  EXPECT_EQ(SelectOne(8, "articles.title", 1, {"Banana bread"}), (Ids{1, 2, 4}));
}

TEST_F(FilterSelectTest, TextSearchesIgnoreCaseWhereTheDatabaseDoes) {
  EXPECT_EQ(SelectOne(9, "articles.title", 1, {"AN"}), (Ids{2}));
  EXPECT_EQ(SelectOne(10, "articles.title", 1, {"e"}), (Ids{5}));
  EXPECT_EQ(SelectOne(11, "articles.title", 1, {"Ch"}), (Ids{3}));
  EXPECT_EQ(SelectOne(11, "articles.title", 1, {"ch"}), (Ids{}));
  EXPECT_EQ(SelectOne(12, "articles.title", 1, {"PIE"}), (Ids{1}));
  EXPECT_EQ(SelectOne(12, "articles.title", 1, {"box"}), (Ids{4}));
}

TEST_F(FilterSelectTest, EndsWithTakesWildcardsOfTheValueLiterally) {
  EXPECT_EQ(SelectOne(12, "articles.title", 1, {"%"}), (Ids{7}));
  EXPECT_EQ(SelectOne(12, "articles.title", 1, {"100%"}), (Ids{7}));
  EXPECT_EQ(SelectOne(12, "articles.title", 1, {"_"}), (Ids{}));
  EXPECT_EQ(SelectOne(12, "articles.title", 1, {"e_box"}), (Ids{4}));
  EXPECT_EQ(SelectOne(12, "articles.title", 1, {"e\\box"}), (Ids{}));
}

TEST_F(FilterSelectTest, IntegerComparisons) {
  EXPECT_EQ(SelectOne(3, "articles.rating", 2, {"3"}), (Ids{2}));
  EXPECT_EQ(SelectOne(4, "articles.rating", 2, {"0"}), (Ids{1, 2, 3, 4, 5}));
  EXPECT_EQ(SelectOne(5, "articles.rating", 2, {"3"}), (Ids{3, 5}));
  EXPECT_EQ(SelectOne(6, "articles.rating", 2, {"3"}), (Ids{2, 3, 5}));
  EXPECT_EQ(SelectOne(7, "articles.rating", 2, {"2"}), (Ids{1, 7, 8}));
  EXPECT_EQ(SelectOne(8, "articles.rating", 2, {" 2"}), (Ids{1, 4, 7, 8}));
  EXPECT_EQ(SelectOne(13, "articles.rating", 2, {"1", "5"}), (Ids{1, 3}));
  EXPECT_EQ(SelectOne(14, "articles.rating", 2, {"0", "+5", "-1"}), (Ids{1, 2, 4, 5}));
}

TEST_F(FilterSelectTest, InListsOfTextsAndDatesAreBound) {
  EXPECT_EQ(SelectOne(13, "articles.title", 1, {"Apple pie", "Cherry tart", "it's"}), (Ids{1, 3}));
  EXPECT_EQ(SelectOne(14, "articles.title", 1, {"Apple pie", "Cherry tart"}), Without(kLiveArticles, {1, 3}));
  EXPECT_EQ(SelectOne(13, "articles.created", 3, {"2024-01-10 10:00:00", "2024-03-10T10:00"}), (Ids{1, 3}));
  EXPECT_EQ(SelectOne(14, "articles.created", 3, {"2024-01-01"}), (Ids{1, 2, 3, 4, 7}));
}

TEST_F(FilterSelectTest, AbsoluteDatesCompareWithTheStoredTimes) {
  EXPECT_EQ(SelectOne(3, "articles.created", 3, {"2024-02-10 10:00"}), (Ids{2}));
  EXPECT_EQ(SelectOne(5, "articles.created", 3, {"2024-02-01"}), (Ids{2, 3, 4}));
  EXPECT_EQ(SelectOne(7, "articles.created", 3, {"2024-01-05"}), (Ids{5, 7, 8}));
  EXPECT_EQ(SelectOne(8, "articles.created", 3, {"2023-12-01 00:00:00"}), (Ids{7}));
}

TEST_F(FilterSelectTest, RelativeDatesCountMinutesFromNowInUtc) {
  EXPECT_EQ(SelectOne(6, "articles.created", 3, {"-60"}), (Ids{4}));
  EXPECT_EQ(SelectOne(7, "articles.created", 3, {"-60"}), Without(kLiveArticles, {4}));
  EXPECT_EQ(SelectOne(6, "articles.created", 3, {"-10"}), (Ids{}));
  EXPECT_EQ(SelectOne(7, "articles.created", 3, {"+60"}), kLiveArticles);
  EXPECT_EQ(SelectOne(5, "articles.created", 3, {"+60"}), (Ids{}));
}

TEST_F(FilterSelectTest, RelativeDatesStayInUtcWhateverTheLocalZone) {
  testing_support::ScopedTimeZone india(testing_support::kZoneIndia);
  EXPECT_EQ(SelectOne(6, "articles.created", 3, {"-60"}), (Ids{4}));
  EXPECT_EQ(SelectOne(6, "articles.created", 3, {"-10"}), (Ids{}));
}

TEST_F(FilterSelectTest, BlobSearchesUseTheTextSearchFunctions) {
  EXPECT_EQ(SelectOne(9, "articles.body", 4, {"APPLE"}), (Ids{1}));
  EXPECT_EQ(SelectOne(9, "articles.body", 4, {"100%"}), (Ids{4}));
  EXPECT_EQ(SelectOne(10, "articles.body", 4, {"e"}), (Ids{4, 5}));
  EXPECT_EQ(SelectOne(11, "articles.body", 4, {"fresh"}), (Ids{1}));
  EXPECT_EQ(SelectOne(11, "articles.body", 4, {"apple"}), (Ids{}));
  EXPECT_EQ(SelectOne(12, "articles.body", 4, {"RED"}), (Ids{3}));
  EXPECT_EQ(SelectOne(12, "articles.body", 4, {"Cherries"}), (Ids{}));
}

TEST_F(FilterSelectTest, OpenComparisonUsesTheFieldAsItStands) {
  EXPECT_EQ(SelectOne(15, "articles.rating>4", 2, {}), (Ids{3}));
}

TEST_F(FilterSelectTest, ConditionsOnFeedsLeaveOutDeletedFeedsAndLists) {
  EXPECT_EQ(SelectOne(3, "feeds.title", 1, {"Beta"}), (Ids{3, 4}));
  EXPECT_EQ(SelectOne(4, "feeds.title", 1, {"Beta"}), (Ids{1, 2, 7}));
  EXPECT_EQ(SelectOne(3, "articles.feed_id", 2, {"3"}), (Ids{5}));
}

TEST_F(FilterSelectTest, ConditionsOnWebPagesAndEnclosuresJoinThem) {
  EXPECT_EQ(SelectOne(5, "webpages.id", 2, {"0"}), (Ids{2}));
  EXPECT_EQ(SelectOne(3, "enclosures.download_status", 2, {"3"}), (Ids{3}));
  EXPECT_EQ(SelectOne(14, "enclosures.download_status", 2, {"2"}), (Ids{1, 3, 3}));
}

TEST_F(FilterSelectTest, KeywordComparisonsLookThroughTheArticlesKeywords) {
  EXPECT_EQ(SelectOne(3, "keywords.value_", 1, {"fruit"}), (Ids{1, 3}));
  EXPECT_EQ(SelectOne(13, "Keywords.value_", 1, {"drink", "food"}), (Ids{1, 4}));
  EXPECT_EQ(SelectOne(12, "keywords.value_", 1, {"INK"}), (Ids{4}));

  std::unique_ptr<TFilter> both(NewNode(workShop_.get(), 0, "both"));
  AddChild(both.get(), NewNode(workShop_.get(), 3, "keywords.value_", 1, {"fruit"}));
  TFilter* andNode = AddChild(both.get(), NewNode(workShop_.get(), 2));
  AddChild(andNode, NewNode(workShop_.get(), 3, "keywords.value_", 1, {"food"}));
  EXPECT_EQ(Select(both.get()), (Ids{1}));
}

TEST_F(FilterSelectTest, KeywordComparisonsWithKeywordSortingMatchTheJoinedKeyword) {
  auto root = OneComparison(workShop_.get(), 3, "keywords.value_", 1, {"fruit"});
  EXPECT_EQ(Select(root.get(), 5), (Ids{1, 3}));
}

TEST_F(FilterSelectTest, LogicalNodesJoinTheirSiblings) {
  // rating > 3 OR (title = 'Apple pie' AND rating = 1)
  std::unique_ptr<TFilter> root(NewNode(workShop_.get(), 0, "logic"));
  AddChild(root.get(), NewNode(workShop_.get(), 5, "articles.rating", 2, {"3"}));
  TFilter* orNode = AddChild(root.get(), NewNode(workShop_.get(), 1));
  AddChild(orNode, NewNode(workShop_.get(), 3, "articles.title", 1, {"Apple pie"}));
  TFilter* andNode = AddChild(orNode, NewNode(workShop_.get(), 2));
  AddChild(andNode, NewNode(workShop_.get(), 3, "articles.rating", 2, {"1"}));
  EXPECT_EQ(Select(root.get()), (Ids{1, 3, 5}));

  // A logical node first under the root carries no operator.
  std::unique_ptr<TFilter> leading(NewNode(workShop_.get(), 0, "leading"));
  TFilter* first = AddChild(leading.get(), NewNode(workShop_.get(), 2));
  AddChild(first, NewNode(workShop_.get(), 3, "articles.feed_id", 2, {"2"}));
  EXPECT_EQ(Select(leading.get()), (Ids{3, 4}));
}

TEST_F(FilterSelectTest, CreatedSinceLimitsTheArticles) {
  auto root = OneComparison(workShop_.get(), 4, "articles.title", 1, {"x"});
  EXPECT_EQ(Select(root.get(), 0, UtcNowForTest() - 1.0), (Ids{4}));
}

TEST_F(FilterSelectTest, EmptyFiltersSelectNothing) {
  std::unique_ptr<TFilter> empty(NewNode(workShop_.get(), 0, "empty"));
  EXPECT_EQ(Select(empty.get()), (Ids{}));
  auto noValue = OneComparison(workShop_.get(), 3, "articles.title", 1, {});
  EXPECT_EQ(Select(noValue.get()), (Ids{}));
}

std::vector<std::string> NumbersFrom(int first, int last) {
  std::vector<std::string> numbers;
  for (int n = first; n <= last; ++n) numbers.push_back(std::to_string(n));
  return numbers;
}

std::unique_ptr<TFilter> LongList(TFilterWorkShop* workShop, uint8_t operType, const std::string& field,
                                  uint8_t dataType, const std::vector<std::string>& values) {
  auto root = OneComparison(workShop, operType, field, dataType, {});
  TFilter* node = root->Conditions->GetItem(0);
  for (const std::string& value : values) node->AddValue(kt::Utf8ToWide(value));
  return root;
}

TEST_F(FilterSelectTest, InListsBeyondTheDatabaseLimitAreSplit) {
  std::vector<std::string> ids = NumbersFrom(100, 3200);
  ids.push_back("3");
  auto in = LongList(workShop_.get(), 13, "articles.id", 2, ids);
  EXPECT_EQ(Select(in.get()), (Ids{3}));
  auto notIn = LongList(workShop_.get(), 14, "articles.id", 2, ids);
  EXPECT_EQ(Select(notIn.get()), Without(kLiveArticles, {3}));

  std::vector<std::string> titles = NumbersFrom(1, 1600);
  titles.push_back("Cherry tart");
  auto textIn = LongList(workShop_.get(), 13, "articles.title", 1, titles);
  EXPECT_EQ(Select(textIn.get()), (Ids{3}));
  auto textNotIn = LongList(workShop_.get(), 14, "articles.title", 1, titles);
  EXPECT_EQ(Select(textNotIn.get()), Without(kLiveArticles, {3}));
}

TEST_F(FilterSelectTest, InjectedTextReturnsNoExtraRowsAndChangesNothing) {
  const char* attempts[] = {"x' or '1'='1", "x') or (1=1", "x'; delete from articles; --", "%' or 1=1 --",
                            "' || (select first 1 title from articles) || '"};
  for (const char* attempt : attempts) {
    SCOPED_TRACE(attempt);
    for (uint8_t op : {3, 9, 11, 12, 13}) EXPECT_EQ(SelectOne(op, "articles.title", 1, {attempt}), (Ids{})) << +op;
    for (uint8_t op : {9, 11, 12}) EXPECT_EQ(SelectOne(op, "articles.body", 4, {attempt}), (Ids{})) << +op;
    EXPECT_EQ(SelectOne(3, "keywords.value_", 1, {attempt}), (Ids{}));
  }
  EXPECT_EQ(db_->QueryInt64("select count(*) from articles"), 8);
}

TEST_F(FilterSelectTest, InjectedIntegersAndDatesAreRefused) {
  const char* integers[] = {"1 or 1=1", "0) or (1=1", "1; delete from articles", "1e3", "", "0x10"};
  for (const char* attempt : integers) {
    SCOPED_TRACE(attempt);
    for (uint8_t op : {3, 5, 13, 14}) {
      try {
        SelectOne(op, "articles.rating", 2, {attempt});
        ADD_FAILURE() << "no error for operator " << +op;
      } catch (const kt::Exception& e) {
        EXPECT_STREQ(e.what(), "Filter inpropertly defined");
      }
    }
  }
  const char* dates[] = {"2024-01-01' or '1'='1", "-60 or 1=1", "2024-13-01", "2024-02-30"};
  for (const char* attempt : dates) {
    SCOPED_TRACE(attempt);
    EXPECT_THROW(SelectOne(5, "articles.created", 3, {attempt}), kt::Exception);
  }
  EXPECT_EQ(db_->QueryInt64("select count(*) from articles"), 8);
}

TEST_F(FilterSelectTest, FieldsOtherThanTableAndColumnAreRefused) {
  for (const char* field : {"articles.id=1 or 1", "articles.title;", "articles.", ".title", "articles"}) {
    SCOPED_TRACE(field);
    try {
      SelectOne(3, field, 1, {"x"});
      ADD_FAILURE() << "no error";
    } catch (const kt::Exception& e) {
      EXPECT_STREQ(e.what(), "Filter inpropertly defined");
    }
  }
}

}  // namespace
}  // namespace filter_testing
