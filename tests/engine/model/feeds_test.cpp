// SPDX-License-Identifier: MIT
#include "engine/model/feeds.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/db/activity.h"
#include "engine/model/articles.h"
#include "engine/model/model_support.h"
#include "engine/settings/value_scrambling.h"
#include "model_test_database.h"
#include "support/raised_message.h"

namespace {

using namespace tidewell;
using model_testing::ModelTestDatabase;
using testing_support::RaisedMessage;

std::vector<int32_t> LoadedIds(const TFeeds& feeds) {
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < feeds.GetCount(); ++i) ids.push_back(feeds.GetItem(i)->FeedId);
  return ids;
}

TEST(FeedsTest, ExcludedTypesFollowTheOptionBits) {
  ModelTestDatabase db;
  TFeeds feeds(&db.Connection());
  EXPECT_EQ(feeds.GetExcludedTypes(), "'OPML','COMMFEED','OSRCROOT','OSRC'");
  feeds.Options = TFeeds::kAdmitCommentFeeds | TFeeds::kAdmitSearchResults;
  EXPECT_EQ(feeds.GetExcludedTypes(), "'OPML','OSRCROOT'");
}

TEST(FeedsTest, LoadReadsEveryColumnOfAFeed) {
  ModelTestDatabase db;
  const int32_t id = db.InsertFeed("http://example.org/rss");
  db.Execute("update feeds set title='Ünïcode',homepage='http://example.org/',httpGetTime=2500,update_interval=60,"
             "archivesize=100,feedrating=3,keywordSeparator=',',lastHTTPCode=304,rtlEnabled=1,OPMLdescr='d',"
             "language_='en',description='Beschreibung',priority=7,username_='u',password_='" +
             ScrambleText("secret") + "' where feed_id=" + std::to_string(id));
  TFeeds feeds(&db.Connection());
  feeds.LoadById(id, "", 0, 0);
  ASSERT_TRUE(feeds.Loaded);
  ASSERT_EQ(feeds.GetCount(), 1);
  const TFeedProperty& f = *feeds.GetItem(0);
  EXPECT_EQ(f.FeedId, id);
  EXPECT_EQ(f.Title, u"Ünïcode");
  EXPECT_EQ(f.Link, "http://example.org/rss");
  EXPECT_EQ(f.Homepage, "http://example.org/");
  EXPECT_DOUBLE_EQ(f.FetchSeconds, 2.5);
  EXPECT_EQ(f.UpdateInterval, 60);
  EXPECT_EQ(f.ArchiveSize, 100);
  EXPECT_EQ(f.FeedRating, 3);
  EXPECT_EQ(f.KeywordSeparator, ",");
  EXPECT_EQ(f.LastStatusCode, 304);
  EXPECT_EQ(f.RtlEnabled, 1);
  EXPECT_EQ(f.OpmlDescr, u"d");
  EXPECT_EQ(f.Language, "en");
  EXPECT_EQ(f.Description, u"Beschreibung");
  EXPECT_EQ(f.Priority, 7);
  EXPECT_EQ(f.UserName, "u");
  EXPECT_EQ(f.GetPassword(), "secret");
  EXPECT_EQ(f.FeedModified, -1.0);
  EXPECT_EQ(f.PageLastModified, -1.0);
  EXPECT_FALSE(f.SkipFeed);
  EXPECT_EQ(f.Articles->Id, id);
  EXPECT_EQ(f.Owner, &feeds);
}

TEST(FeedsTest, KindsAreLeftOutUnlessAdmittedAndOpmlOnlyWithTheMarker) {
  ModelTestDatabase db;
  const int32_t plain = db.InsertFeed("a");
  const int32_t opml = db.InsertFeed("b", "OPML");
  const int32_t comments = db.InsertFeed("c", "COMMFEED");
  const int32_t root = db.InsertFeed("d", "OSRCROOT");
  const int32_t result = db.InsertFeed("e", "OSRC", root);
  const TDynIntArray all = {plain, opml, comments, root, result};
  TFeeds feeds(&db.Connection());
  feeds.LoadFeeds(all, "feed_id", 0, 0);
  EXPECT_EQ(LoadedIds(feeds), std::vector<int32_t>({plain}));
  feeds.Options = TFeeds::kAdmitCommentFeeds | TFeeds::kAdmitSearchResults;
  feeds.LoadFeeds(all, "feed_id", 0, 0);
  EXPECT_EQ(LoadedIds(feeds), std::vector<int32_t>({plain, comments, result}));
  feeds.TypeFilter = "OSRCROOT";
  feeds.LoadFeeds(all, "feed_id", 0, 0);
  EXPECT_EQ(LoadedIds(feeds), std::vector<int32_t>({root}));
  EXPECT_TRUE(feeds.GetItem(0)->IsSearchRoot);
  feeds.TypeFilter = "x' or '1'='1";
  feeds.LoadFeeds(all, "feed_id", 0, 0);
  EXPECT_EQ(feeds.GetCount(), 0) << "a quote in the filter stays inside the literal";
  feeds.TypeFilter = "OSRCROOT";
  // The marker alone admits every kind and adds no ORDER BY.
  feeds.LoadFeeds(all, "[AllowOPML]", 0, 0);
  EXPECT_EQ(feeds.GetCount(), 5);
  // The marker is case-sensitive: another spelling stays in the ORDER BY.
  EXPECT_THROW(feeds.LoadFeeds(all, "feed_id desc[allowopml]", 0, 0), EFirebirdError);
  EXPECT_FALSE(feeds.Transaction->InTransaction());
  feeds.LoadFeeds(all, "[AllowOPML]feed_id desc", 0, 2);
  EXPECT_EQ(LoadedIds(feeds), std::vector<int32_t>({result, root}));
}

TEST(FeedsTest, AFeedMarkedDeletedIsNeverLoaded) {
  ModelTestDatabase db;
  const int32_t id = db.InsertFeed("DELMARKED:http://example.org/rss");
  TFeeds feeds(&db.Connection());
  feeds.LoadFeeds({id}, "[AllowOPML]", 0, 0);
  EXPECT_EQ(feeds.GetCount(), 0);
  EXPECT_TRUE(feeds.Loaded);
}

TEST(FeedsTest, EmptyIdListLoadsNothingAndLeavesLoadedAlone) {
  ModelTestDatabase db;
  TFeeds feeds(&db.Connection());
  feeds.LoadFeeds({}, "", 0, 0);
  EXPECT_FALSE(feeds.Loaded);
  EXPECT_EQ(feeds.GetCount(), 0);
}

TEST(FeedsTest, LongIdListsGiveTheSameRowsAsOneList) {
  ModelTestDatabase db;
  TDynIntArray ids;
  for (int i = 0; i < 1600; ++i) ids.push_back(db.InsertFeed("http://example.org/" + std::to_string(i)));
  TFeeds feeds(&db.Connection());
  for (size_t size : {size_t{1}, size_t{1500}, size_t{1501}, size_t{1600}}) {
    const TDynIntArray part(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(size));
    feeds.LoadFeeds(part, "feed_id desc", 0, 0);
    ASSERT_EQ(static_cast<size_t>(feeds.GetCount()), size) << size;
    EXPECT_EQ(feeds.GetItem(0)->FeedId, part.back()) << size;
  }
  // 10,000 ids, most of them of no feed.
  TDynIntArray many(ids);
  for (int32_t i = 0; many.size() < 10000; ++i) many.push_back(100000 + i);
  feeds.LoadFeeds(many, "feed_id", 10, 5);
  ASSERT_EQ(feeds.GetCount(), 5);
  EXPECT_EQ(feeds.GetItem(0)->FeedId, ids[10]);
}

// A worker loads its feeds one by one: each load reads its own feed's row,
// and the select is prepared once, not once per feed.
TEST(FeedsTest, FeedAfterFeedEachLoadReadsItsOwnRowFromOnePreparedSelect) {
  ModelTestDatabase db;
  const int32_t first = db.InsertFeed("http://one.example/rss");
  const int32_t second = db.InsertFeed("http://two.example/rss");
  TFeeds feeds(&db.Connection());
  feeds.LoadById(first, "[AllowOPML]", 0, 0);
  const db::Activity before = db::CurrentActivity();
  for (int32_t id : {second, first, second}) {
    feeds.LoadById(id, "[AllowOPML]", 0, 0);
    ASSERT_EQ(LoadedIds(feeds), std::vector<int32_t>({id}));
    EXPECT_EQ(feeds.GetItem(0)->Link, id == first ? "http://one.example/rss" : "http://two.example/rss");
  }
  EXPECT_EQ((db::CurrentActivity() - before).prepares, 0u);
}

TEST(FeedsTest, SkippedFeedReadsIntervalMinusTwoUnlessSearchRoot) {
  ModelTestDatabase db;
  const int32_t skipped = db.InsertFeed("a");
  const int32_t root = db.InsertFeed("b", "OSRCROOT");
  db.Execute("update feeds set skipFeed=1,update_interval=30");
  TFeeds feeds(&db.Connection());
  feeds.Options = TFeeds::kAdmitSearchRoots;
  feeds.LoadFeeds({skipped, root}, "feed_id", 0, 0);
  ASSERT_EQ(feeds.GetCount(), 2);
  EXPECT_EQ(feeds.GetItem(0)->UpdateInterval, -2);
  EXPECT_EQ(feeds.GetItem(1)->UpdateInterval, 30);
}

TEST(FeedsTest, IndexOutOfRangeRaisesTheFeedMessage) {
  ModelTestDatabase db;
  const int32_t id = db.InsertFeed("a");
  TFeeds feeds(&db.Connection());
  feeds.LoadById(id, "", 0, 0);
  EXPECT_EQ(feeds.GetItem(feeds.GetCount() - 1)->FeedId, id);
  EXPECT_EQ(RaisedMessage([&] { feeds.GetItem(-1); }), "Feed index out of bounds !");
  EXPECT_EQ(RaisedMessage([&] { feeds.GetItem(1); }), "Feed index out of bounds !");
}

TEST(FeedsTest, FeedRowNeedsAFeedCollectionAsOwner) {
  ModelTestDatabase db;
  TArticles articles(&db.Connection(), 1);
  EXPECT_EQ(RaisedMessage([&] { TFeedProperty row(nullptr, 1); }),
            "Parent class is missing / invalid id / incorrect parent class !");
  EXPECT_EQ(RaisedMessage([&] { TFeedProperty row(&articles, 1); }),
            "Parent class is missing / invalid id / incorrect parent class !");
}

class UpdateIntervalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    id_ = db_.InsertFeed("http://example.org/rss");
    feeds_.LoadById(id_, "", 0, 0);
    ASSERT_EQ(feeds_.GetCount(), 1);
  }
  TFeedProperty& Row() { return *feeds_.GetItem(0); }
  double Stored(const std::string& column) {
    return std::stod(db_.QueryText("select cast(" + column + " as double precision) from feeds where feed_id=" +
                                   std::to_string(id_)));
  }
  // The stored next update, in minutes after the time given.
  double NextMinutesAfter(TDateTime base) {
    return (db_.QueryDateTime("select next_feedupdate from feeds where feed_id=" + std::to_string(id_)) - base) * 1440.0;
  }
  void SetLastUpdate(TDateTime value) {
    db_.ExecuteWithDateTime("update feeds set last_feedupdate=? where feed_id=" + std::to_string(id_), value);
  }

  ModelTestDatabase db_;
  TFeeds feeds_{&db_.Connection()};
  int32_t id_ = 0;
};

TEST_F(UpdateIntervalTest, SkipStoresZeroTheSkipFlagAndTwoMinutesBeforeTheBase) {
  int calls = 0;
  Row().Tag = 42;
  Row().OnChange = [&](TBaseProperty* sender, int32_t tag, int32_t code) {
    EXPECT_EQ(sender, &Row());
    EXPECT_EQ(tag, 42);
    EXPECT_EQ(code, 1001);
    ++calls;
  };
  const TDateTime before = model::UtcNow();
  Row().SetUpdateInterval(-2);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Row().UpdateInterval, -2);
  EXPECT_EQ(Stored("update_interval"), 0);
  EXPECT_EQ(Stored("skipFeed"), 1);
  EXPECT_NEAR(NextMinutesAfter(before), -2.0, 0.1);
  Row().SetUpdateInterval(0);
  EXPECT_EQ(Stored("skipFeed"), 0);
  EXPECT_NEAR(NextMinutesAfter(before), 0.0, 0.1);
  Row().SetUpdateInterval(0);
  EXPECT_EQ(calls, 2) << "an unchanged value does nothing";
}

TEST_F(UpdateIntervalTest, LastUpdateElevenMinutesAwayBecomesTheBase) {
  const TDateTime now = model::UtcNow();
  SetLastUpdate(now - 10.0 / 1440.0);
  Row().SetUpdateInterval(60);
  EXPECT_NEAR(NextMinutesAfter(now), 60.0, 0.5) << "10 minutes: the base is now";
  SetLastUpdate(now - 11.0 / 1440.0);
  Row().SetUpdateInterval(120);
  EXPECT_NEAR(NextMinutesAfter(now), 109.0, 0.5) << "11 minutes: the stored time is the base";
  SetLastUpdate(now + 12.0 / 1440.0);
  Row().SetUpdateInterval(30);
  EXPECT_NEAR(NextMinutesAfter(now), 42.0, 0.5) << "either direction";
}

TEST_F(UpdateIntervalTest, InvalidValuesAndAnOpenStatementChangeNothing) {
  EXPECT_EQ(RaisedMessage([&] { Row().SetUpdateInterval(-1); }), "Invalid update interval");
  EXPECT_EQ(RaisedMessage([&] { Row().SetUpdateInterval(20001); }), "Invalid update interval");
  feeds_.Transaction->StartTransaction();
  feeds_.Query->SQL.Add("select feed_id from feeds");
  ExecQueryTimed(feeds_.Query, true);
  EXPECT_EQ(RaisedMessage([&] { Row().SetUpdateInterval(5); }), "Can't perform operation, query open ?");
  SafeCloseQuery(feeds_.Query);
  feeds_.Transaction->Commit();
  EXPECT_EQ(Row().UpdateInterval, 0);
  EXPECT_EQ(Stored("update_interval"), 0);
  Row().SetUpdateInterval(20000);
  EXPECT_EQ(Stored("update_interval"), 20000);
}

}  // namespace
