// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_update_scheduler.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <ctime>
#include <string>
#include <utility>

#include "engine/settings/tidewell_globvars.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "toolkit/exception.h"

namespace tidewell {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr int32_t kShortestInterval = 10;
constexpr int64_t kCountedGap = 60;
constexpr int64_t kCommentFeedSkipDays = 22;
constexpr int kNewestArticles = 10;

TDateTime MinutesToDays(double minutes) { return minutes / 1 / 60 / 24; }

// The local clock's offset from UTC now, in seconds.
long CurrentUtcOffset() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_gmtoff;
}

// The engine's one clock, so that the scheduler and the update timer agree
// on what "now" is.
TDateTime SystemLocalNow() { return Now(); }

TDateTime SystemLocalTimeToUTC(TDateTime local) { return local - CurrentUtcOffset() / kSecondsPerDay; }

bool IsErrorCode(int32_t code) { return code == 404 || code == 500 || code == 302 || code == 999; }

TtidewellScheduleStore::SqlLines IntervalSql(int32_t feedId) {
  return {"select update_interval from feeds " + FormatText(" where feed_id=%d", feedId)};
}

TtidewellScheduleStore::SqlLines NewestArticlesSql(int32_t feedId) {
  // The paging suffix that would close the text is empty on this database.
  return {"select " + FormatText(" FIRST(%d) SKIP(%d) ", kNewestArticles, 0) + " modified", "from articles ",
          FormatText("where feed_id=%d", feedId), "order by modified desc"};
}

TtidewellScheduleStore::SqlLines UpdateSql() {
  return {"update feeds set next_feedupdate=?,last_feedupdate=?,skipfeed=coalesce(?,skipfeed) where feed_id=?"};
}

// The geometric mean of the gaps, in seconds. The product's root is inexact
// in the last bits; rounding it to a millionth of a second keeps equal gaps
// on the right side of the divisor thresholds (7200 s must not read as above
// 7200).
double GeometricMean(const std::vector<int64_t>& gaps) {
  double product = 1;
  for (int64_t gap : gaps) product *= static_cast<double>(gap);
  const double mean = std::pow(product, 1.0 / static_cast<double>(gaps.size()));
  return std::round(mean * 1e6) / 1e6;
}

// Halfway values go to the even neighbour.
double RoundHalfToEven(double value) {
  const double below = std::floor(value);
  const double fraction = value - below;
  if (fraction > 0.5) return below + 1;
  if (fraction < 0.5) return below;
  return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

int32_t MinutesFromMean(double mean) {
  double minutes = mean / 60;
  if (mean > 36000)
    minutes /= 4;
  else if (mean > 7200)
    minutes /= 3;
  else
    minutes /= 2;
  const double rounded = std::min(RoundHalfToEven(minutes), static_cast<double>(INT32_MAX));
  return std::max(static_cast<int32_t>(rounded), kShortestInterval);
}

// Gaps between now and the newest row, then between the rows of each
// following pair; a gap of 0 counts as 1.
std::vector<int64_t> ArticleGaps(TDateTime nowUtc, const std::vector<TDateTime>& dates, TDateTime& newest) {
  auto gap = [](TDateTime a, TDateTime b) { return std::max<int64_t>(WholeSecondsBetween(a, b), 1); };
  std::vector<int64_t> gaps{gap(nowUtc, dates[0])};
  for (size_t row = 0; row < dates.size();) {
    newest = std::max(newest, dates[row]);
    ++row;
    if (row < dates.size()) {
      gaps.push_back(gap(dates[row - 1], dates[row]));
      ++row;
    }
  }
  return gaps;
}

}  // namespace

TtidewellScheduleClock SystemScheduleClock() { return {SystemLocalNow, SystemLocalTimeToUTC}; }

int64_t WholeSecondsBetween(TDateTime a, TDateTime b) {
  // Through whole milliseconds: a span of 7201 s between stored date-times
  // may come out as 7200.99999 s, which must not truncate to 7200.
  const double milliseconds = std::round(std::fabs(a - b) * kSecondsPerDay * 1000);
  return static_cast<int64_t>(std::min(milliseconds, 9.0e18) / 1000);
}

int32_t AdaptiveIntervalMinutes(TDateTime nowUtc, const std::vector<std::optional<TDateTime>>& dates,
                                TDateTime& NewestDate) {
  std::vector<TDateTime> known;
  for (const auto& date : dates) {
    if (!date) break;
    known.push_back(*date);
  }
  if (known.empty()) return kShortestInterval;
  std::vector<int64_t> counted;
  for (int64_t gap : ArticleGaps(nowUtc, known, NewestDate))
    if (gap > kCountedGap) counted.push_back(gap);
  if (counted.empty()) return kShortestInterval;
  return MinutesFromMean(GeometricMean(counted));
}

TtidewellUpdateScheduler::TtidewellUpdateScheduler(TtidewellScheduleStore& store, TtidewellScheduleClock clock)
    : store_(store), clock_(std::move(clock)) {}

TDateTime TtidewellUpdateScheduler::NowUtc() const { return clock_.LocalTimeToUTC(clock_.LocalNow()); }

void TtidewellUpdateScheduler::ScheduleNextUpdate(int32_t FeedId, bool UseInterval, int32_t HttpCode) {
  if (FeedId < 1) return;
  const TDateTime now = NowUtc();
  TDateTime newest = now;
  store_.StartTransaction();
  try {
    const TDateTime next = NextUpdate(FeedId, UseInterval, HttpCode, now, newest);
    store_.UpdateSchedule(UpdateSql(), next, now, SkipValue(now, newest), FeedId);
    store_.Commit();
  } catch (...) {
    RollbackQuietly();
    throw;
  }
}

TDateTime TtidewellUpdateScheduler::NextUpdate(int32_t FeedId, bool UseInterval, int32_t HttpCode, TDateTime now,
                                               TDateTime& newest) {
  if (IsErrorCode(HttpCode)) return now + MinutesToDays(options_.errorRetryInterval);
  const int32_t interval = UseInterval ? ReadInterval(FeedId) : 0;
  if (interval < 1) {
    const TDateTime next = now + MinutesToDays(ComputeAdaptiveInterval(FeedId, newest));
    return std::min(next, now + 1);
  }
  if (interval == 1 && SecondsSetting() > 0) return now;
  return now + MinutesToDays(interval);
}

int32_t TtidewellUpdateScheduler::SecondsSetting() const {
  if (options_.secondsSetting) return *options_.secondsSetting;
  return GlobalVars != nullptr ? GlobalVars->GetSecondsSetting() : 0;
}

int32_t TtidewellUpdateScheduler::ReadInterval(int32_t FeedId) {
  return store_.SelectFirstInteger(IntervalSql(FeedId)).value_or(0);
}

// Against UTC now, like the stored dates, so that the outcome does not
// depend on the machine's time zone.
std::optional<int32_t> TtidewellUpdateScheduler::SkipValue(TDateTime now, TDateTime newest) const {
  if (!options_.commentFeed) return std::nullopt;
  const int64_t days = WholeSecondsBetween(now, newest) / static_cast<int64_t>(kSecondsPerDay);
  if (days >= kCommentFeedSkipDays) return 1;
  return std::nullopt;
}

int32_t TtidewellUpdateScheduler::ComputeAdaptiveInterval(int32_t FeedId, TDateTime& NewestDate) {
  NewestDate = clock_.LocalTimeToUTC(clock_.LocalNow() - 365);
  if (options_.stopRequested && options_.stopRequested()) throw kt::EAbort();
  const auto dates = store_.SelectDates(NewestArticlesSql(FeedId));
  return AdaptiveIntervalMinutes(NowUtc(), dates, NewestDate);
}

void TtidewellUpdateScheduler::RollbackQuietly() {
  try {
    store_.Rollback();
  } catch (...) {
    // The failure being passed on says more than the rollback's own.
  }
}

}  // namespace tidewell
