// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_update_scheduler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/db/tidewell_schema_texts.h"
#include "engine/feeds/tidewell_db_schedule_store.h"
#include "support/firebird_test_database.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

using Dates = std::vector<std::optional<TDateTime>>;

constexpr double kSecond = 1.0 / 86400;
constexpr TDateTime kNow = 46000.5;  // a fixed UTC now for the arithmetic

TDateTime SecondsAgo(TDateTime now, double seconds) { return now - seconds * kSecond; }

// Ten article dates, newest first, each `gap` seconds older than the one
// before, the newest `gap` seconds before now.
Dates EvenlySpaced(TDateTime now, double gap, int count = 10) {
  Dates dates;
  for (int i = 1; i <= count; ++i) dates.push_back(SecondsAgo(now, gap * i));
  return dates;
}

int32_t Minutes(const Dates& dates) {
  TDateTime newest = kNow - 365;
  return AdaptiveIntervalMinutes(kNow, dates, newest);
}

TEST(AdaptiveIntervalTest, EvenGapsGiveTheMeanInMinutesOverTheDivisorOfItsRange) {
  struct Case {
    double gap;
    int32_t minutes;
  };
  const Case cases[] = {
      {3600, 30},    // 60 / 2
      {43200, 180},  // 720 / 4
      {7200, 60},    // 120 / 2: not above 7200
      {7201, 40},    // 120.02 / 3
      {36000, 200},  // 600 / 3: not above 36000
      {36001, 150},  // 600.02 / 4
      {3660, 30},    // 30.5: halfway goes to the even 30
      {3780, 32},    // 31.5: halfway goes to the even 32
      {1080, 10},    // 9 is raised to 10
  };
  for (const Case& c : cases) EXPECT_EQ(Minutes(EvenlySpaced(kNow, c.gap)), c.minutes) << "gap " << c.gap;
}

TEST(AdaptiveIntervalTest, OnlyGapsAboveAMinuteCountAndWithoutThemTheResultIsTen) {
  EXPECT_EQ(Minutes(EvenlySpaced(kNow, 60)), 10);
  EXPECT_EQ(Minutes(EvenlySpaced(kNow, 30)), 10);
  EXPECT_EQ(Minutes(EvenlySpaced(kNow, 0)), 10);
  EXPECT_EQ(Minutes(EvenlySpaced(kNow, 60, 1)), 10);
  // The short gaps drop out; the two long ones (now to row 1, row 1 to 2) stay.
  Dates mixed = {SecondsAgo(kNow, 3600), SecondsAgo(kNow, 7200), SecondsAgo(kNow, 7230), SecondsAgo(kNow, 7260)};
  EXPECT_EQ(Minutes(mixed), 30);
}

TEST(AdaptiveIntervalTest, GapsAreTakenBetweenNowAndRowOneThenWithinEachFollowingPair) {
  // Rows 2 to 3 are a day apart, but that gap is never taken.
  const Dates dates = {SecondsAgo(kNow, 3600), SecondsAgo(kNow, 7200), SecondsAgo(kNow, 93600),
                       SecondsAgo(kNow, 97200)};
  EXPECT_EQ(Minutes(dates), 30);
  // The geometric mean of 3600 and 14400 is 7200: 120 / 2.
  EXPECT_EQ(Minutes({SecondsAgo(kNow, 3600), SecondsAgo(kNow, 18000)}), 60);
}

TEST(AdaptiveIntervalTest, MissingDatesEndTheRows) {
  EXPECT_EQ(Minutes({}), 10);
  EXPECT_EQ(Minutes({std::nullopt, SecondsAgo(kNow, 3600)}), 10);
  EXPECT_EQ(Minutes({SecondsAgo(kNow, 43200), std::nullopt, SecondsAgo(kNow, 50000), SecondsAgo(kNow, 50100)}), 180);
}

TEST(AdaptiveIntervalTest, TheNewestDateIsRaisedToTheNewestArticleOnly) {
  TDateTime newest = kNow - 365;
  AdaptiveIntervalMinutes(kNow, EvenlySpaced(kNow, 3600), newest);
  EXPECT_DOUBLE_EQ(newest, SecondsAgo(kNow, 3600));
  newest = kNow;
  AdaptiveIntervalMinutes(kNow, EvenlySpaced(kNow, 3600), newest);
  EXPECT_DOUBLE_EQ(newest, kNow);
}

TEST(AdaptiveIntervalTest, WholeSecondsSurviveTheDayFractions) {
  for (double base : {45000.123456789, 46000.987654321, 38000.5}) {
    EXPECT_EQ(WholeSecondsBetween(base, base - 7201 * kSecond), 7201) << base;
    EXPECT_EQ(WholeSecondsBetween(base - 7201 * kSecond, base), 7201) << base;
    EXPECT_EQ(WholeSecondsBetween(base, base - 59.6 * kSecond), 59) << base;
  }
}

// --- On a real database, in two time zones ---

TDateTime UtcNow() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return 25569.0 + std::chrono::duration<double>(since_epoch).count() / 86400;
}

const TableDefinition& Table(const std::string& name) {
  for (const auto& table : SchemaTables())
    if (name == table.name) return table;
  throw kt::Exception("no table " + name);
}

// The worker's store, noting the statements it runs.
class RecordingStore : public TtidewellDbScheduleStore {
 public:
  using TtidewellDbScheduleStore::TtidewellDbScheduleStore;

  std::optional<int32_t> SelectFirstInteger(const SqlLines& sql) override {
    statements.push_back(sql);
    return TtidewellDbScheduleStore::SelectFirstInteger(sql);
  }
  std::vector<std::optional<TDateTime>> SelectDates(const SqlLines& sql) override {
    statements.push_back(sql);
    return TtidewellDbScheduleStore::SelectDates(sql);
  }
  void UpdateSchedule(const SqlLines& sql, TDateTime next, TDateTime last, std::optional<int32_t> skip,
                      int32_t feedId) override {
    statements.push_back(sql);
    TtidewellDbScheduleStore::UpdateSchedule(sql, next, last, skip, feedId);
  }

  std::vector<SqlLines> statements;
};

struct Schedule {
  TDateTime next = 0;
  TDateTime last = 0;
  int32_t skipFeed = 0;
};

constexpr int32_t kFeed = 5;

class UpdateSchedulerTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    if (zone != nullptr) old_zone_ = zone;
    ::setenv("TZ", GetParam(), 1);
    ::tzset();
    db_ = std::make_unique<testing_support::FirebirdTestDatabase>();
    db_->Execute(CreateTableSql(Table("Feeds")));
    db_->Execute(CreateTableSql(Table("Articles")));
    transaction_ = std::make_unique<TTranWrapper>(&db_->Connection());
    query_ = std::make_unique<TQueryWrapper>();
    query_->SetTransaction(transaction_.get());
    store_ = std::make_unique<RecordingStore>(*transaction_, *query_);
    scheduler_ = std::make_unique<TtidewellUpdateScheduler>(*store_);
  }
  void TearDown() override {
    scheduler_.reset();
    store_.reset();
    query_.reset();
    transaction_.reset();
    db_.reset();
    if (old_zone_)
      ::setenv("TZ", old_zone_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

  void AddFeed(int32_t feedId, int32_t updateInterval, const std::string& type, int32_t skipFeed = 0) {
    db_->Execute("insert into feeds (feed_id, update_interval, type_, skipfeed) values (" + std::to_string(feedId) +
                 ", " + std::to_string(updateInterval) + ", '" + type + "', " + std::to_string(skipFeed) + ")");
  }

  void AddArticles(int32_t feedId, const Dates& dates) {
    TTranWrapper transaction(&db_->Connection());
    TQueryWrapper insert;
    insert.SetTransaction(&transaction);
    transaction.StartTransaction();
    insert.SQL.Add("insert into articles (id, feed_id, modified) values (?, ?, ?)");
    for (const auto& date : dates) {
      insert.Params(0).SetInteger(next_article_++);
      insert.Params(1).SetInteger(feedId);
      if (date)
        insert.Params(2).SetDateTime(*date);
      else
        insert.Params(2).SetNull();
      insert.ExecQuery();
    }
    transaction.Commit();
  }

  Schedule ReadSchedule(int32_t feedId) {
    TTranWrapper transaction(&db_->Connection());
    TQueryWrapper select;
    select.SetTransaction(&transaction);
    transaction.StartTransaction();
    select.SQL.Add("select next_feedupdate, last_feedupdate, skipfeed from feeds where feed_id=?");
    select.Params(0).SetInteger(feedId);
    select.ExecQuery();
    EXPECT_FALSE(select.Eof()) << "no feed " << feedId;
    Schedule schedule;
    if (!select.Eof())
      schedule = {select.FieldByName("NEXT_FEEDUPDATE").AsDateTime(),
                  select.FieldByName("LAST_FEEDUPDATE").AsDateTime(), select.FieldByName("SKIPFEED").AsInteger()};
    select.Close();
    transaction.Commit();
    return schedule;
  }

  // Minutes from the stored last update to the stored next one, after
  // checking that the last update is UTC now.
  double ScheduledMinutes(int32_t feedId) {
    const Schedule schedule = ReadSchedule(feedId);
    EXPECT_NEAR(schedule.last, UtcNow(), 120 * kSecond) << "last update is not UTC now in " << GetParam();
    return (schedule.next - schedule.last) * 24 * 60;
  }

  bool InTransaction() const { return transaction_->InTransaction(); }

  std::optional<std::string> old_zone_;
  std::unique_ptr<testing_support::FirebirdTestDatabase> db_;
  std::unique_ptr<TTranWrapper> transaction_;
  std::unique_ptr<TQueryWrapper> query_;
  std::unique_ptr<RecordingStore> store_;
  std::unique_ptr<TtidewellUpdateScheduler> scheduler_;
  int32_t next_article_ = 1;
};

TEST_P(UpdateSchedulerTest, AdaptiveFeedsAreDueAfterTheIntervalTheirArticlesSuggest) {
  struct Case {
    double gap;
    double minutes;
  };
  const Case cases[] = {{3600, 30}, {43200, 180}, {7200, 60}, {7201, 40}, {60, 10}, {20, 10}};
  int32_t feed = kFeed;
  for (const Case& c : cases) {
    AddFeed(feed, 0, "");
    AddArticles(feed, EvenlySpaced(UtcNow(), c.gap));
    scheduler_->ScheduleNextUpdate(feed, true, 200);
    EXPECT_NEAR(ScheduledMinutes(feed), c.minutes, 0.001) << "gap " << c.gap;
    ++feed;
  }
  EXPECT_FALSE(InTransaction());
}

TEST_P(UpdateSchedulerTest, RunsItsStatementsWordForWord) {
  AddFeed(kFeed, 0, "");
  scheduler_->ScheduleNextUpdate(kFeed, true, 200);
  using Lines = TtidewellScheduleStore::SqlLines;
  const std::vector<Lines> expected = {
      {"select update_interval from feeds  where feed_id=5"},
      {"select  FIRST(10) SKIP(0)  modified", "from articles ", "where feed_id=5", "order by modified desc"},
      {"update feeds set next_feedupdate=?,last_feedupdate=?,skipfeed=coalesce(?,skipfeed) where feed_id=?"}};
  EXPECT_EQ(store_->statements, expected);
}

TEST_P(UpdateSchedulerTest, AnAdaptiveIntervalIsCappedAtOneDay) {
  AddFeed(kFeed, 0, "");
  AddArticles(kFeed, EvenlySpaced(UtcNow(), 10 * 86400.0));
  scheduler_->ScheduleNextUpdate(kFeed, true, 304);
  EXPECT_NEAR(ScheduledMinutes(kFeed), 24 * 60, 0.001);
}

TEST_P(UpdateSchedulerTest, ArticlesWithoutDatesGiveTenMinutes) {
  AddFeed(kFeed, 0, "");
  AddArticles(kFeed, {std::nullopt, std::nullopt});
  scheduler_->ScheduleNextUpdate(kFeed, true, 200);
  EXPECT_NEAR(ScheduledMinutes(kFeed), 10, 0.001);
}

TEST_P(UpdateSchedulerTest, ErrorAnswersRetryAfterTheRetryIntervalWhateverTheFeedsInterval) {
  AddFeed(kFeed, 30, "");
  for (int32_t code : {404, 500, 302, 999}) {
    scheduler_->ScheduleNextUpdate(kFeed, true, code);
    EXPECT_NEAR(ScheduledMinutes(kFeed), 45, 0.001) << code;
  }
  for (int32_t code : {200, 304, 403}) {
    scheduler_->ScheduleNextUpdate(kFeed, true, code);
    EXPECT_NEAR(ScheduledMinutes(kFeed), 30, 0.001) << code;
  }
}

TEST_P(UpdateSchedulerTest, WithoutUseIntervalTheFeedIsScheduledAdaptively) {
  AddFeed(kFeed, 30, "");
  AddArticles(kFeed, EvenlySpaced(UtcNow(), 43200));
  scheduler_->ScheduleNextUpdate(kFeed, false, 200);
  EXPECT_NEAR(ScheduledMinutes(kFeed), 180, 0.001);
}

TEST_P(UpdateSchedulerTest, IntervalOneIsDueAtOnceOnlyWithTheSecondsSetting) {
  AddFeed(kFeed, 1, "");
  scheduler_->ScheduleNextUpdate(kFeed, true, 200);
  EXPECT_NEAR(ScheduledMinutes(kFeed), 1, 0.001);
  scheduler_->Options().secondsSetting = 20;
  scheduler_->ScheduleNextUpdate(kFeed, true, 200);
  EXPECT_NEAR(ScheduledMinutes(kFeed), 0, 0.001);
}

TEST_P(UpdateSchedulerTest, ACommentFeedSilentFor22WholeDaysIsSkipped) {
  scheduler_->Options().commentFeed = true;
  AddFeed(kFeed, 0, "COMMFEED");
  AddArticles(kFeed, {SecondsAgo(UtcNow(), 21 * 86400.0 + 23 * 3600)});
  scheduler_->ScheduleNextUpdate(kFeed, true, 200);
  EXPECT_EQ(ReadSchedule(kFeed).skipFeed, 0);

  AddFeed(kFeed + 1, 0, "COMMFEED");
  AddArticles(kFeed + 1, {SecondsAgo(UtcNow(), 22 * 86400.0 + 60)});
  scheduler_->ScheduleNextUpdate(kFeed + 1, true, 200);
  EXPECT_EQ(ReadSchedule(kFeed + 1).skipFeed, 1);
  EXPECT_NEAR(ScheduledMinutes(kFeed + 1), 24 * 60, 0.001);
}

TEST_P(UpdateSchedulerTest, SkipFeedIsOtherwiseLeftAsItIs) {
  // A regular feed long silent.
  AddFeed(kFeed, 0, "");
  AddArticles(kFeed, {SecondsAgo(UtcNow(), 30 * 86400.0)});
  scheduler_->ScheduleNextUpdate(kFeed, true, 200);
  EXPECT_EQ(ReadSchedule(kFeed).skipFeed, 0);

  scheduler_->Options().commentFeed = true;
  // A skipped comment feed with a fresh comment stays skipped.
  AddFeed(kFeed + 1, 0, "COMMFEED", 1);
  AddArticles(kFeed + 1, {SecondsAgo(UtcNow(), 3600)});
  scheduler_->ScheduleNextUpdate(kFeed + 1, true, 200);
  EXPECT_EQ(ReadSchedule(kFeed + 1).skipFeed, 1);
  // A comment feed with a fixed interval never looks at its articles.
  AddFeed(kFeed + 2, 30, "COMMFEED");
  AddArticles(kFeed + 2, {SecondsAgo(UtcNow(), 30 * 86400.0)});
  scheduler_->ScheduleNextUpdate(kFeed + 2, true, 200);
  EXPECT_EQ(ReadSchedule(kFeed + 2).skipFeed, 0);
}

TEST_P(UpdateSchedulerTest, FeedIdsBelowOneAreIgnored) {
  AddFeed(kFeed, 30, "");
  const Schedule before = ReadSchedule(kFeed);
  scheduler_->ScheduleNextUpdate(0, true, 200);
  scheduler_->ScheduleNextUpdate(-1, true, 404);
  EXPECT_FALSE(InTransaction());
  EXPECT_DOUBLE_EQ(ReadSchedule(kFeed).next, before.next);
}

TEST_P(UpdateSchedulerTest, AStopDuringSchedulingRollsBackAndPassesTheAbortOn) {
  AddFeed(kFeed, 0, "");
  AddArticles(kFeed, EvenlySpaced(UtcNow(), 3600));
  const Schedule before = ReadSchedule(kFeed);
  scheduler_->Options().stopRequested = [] { return true; };
  EXPECT_THROW(scheduler_->ScheduleNextUpdate(kFeed, true, 200), kt::EAbort);
  EXPECT_FALSE(InTransaction());
  EXPECT_DOUBLE_EQ(ReadSchedule(kFeed).next, before.next);
}

INSTANTIATE_TEST_SUITE_P(TwoTimeZones, UpdateSchedulerTest, ::testing::Values("America/New_York", "Asia/Kolkata"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.index == 0 ? "NewYork" : "Kolkata");
                         });

}  // namespace
}  // namespace tidewell
