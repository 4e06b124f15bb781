// SPDX-License-Identifier: MIT
// When a feed is due again after a job: a fixed interval, a retry after an
// error answer, or an adaptive interval from how often the feed publishes.
//
// Thread use: one scheduler per worker, used on the worker's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/feeds/tidewell_schedule_store.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

// The clock the scheduler reads; both functions work in day-based
// date-times.
struct TtidewellScheduleClock {
  // The current local time.
  std::function<TDateTime()> LocalNow;
  // A local time converted to UTC with the current bias.
  std::function<TDateTime(TDateTime)> LocalTimeToUTC;
};

// The operating system's clock and time zone.
TtidewellScheduleClock SystemScheduleClock();

struct TtidewellScheduleOptions {
  // The job's feed is a comment feed: one that stopped publishing gets
  // skipped by timed updates.
  bool commentFeed = false;
  // Minutes until a feed that answered with an error is tried again.
  int32_t errorRetryInterval = 45;
  // Above 0, a feed with interval 1 is due at once; when not given, the
  // global seconds setting counts.
  std::optional<int32_t> secondsSetting;
  // Whether the worker is stopping; the adaptive interval then raises EAbort.
  std::function<bool()> stopRequested;
};

class TtidewellUpdateScheduler {
 public:
  // The store must outlive the scheduler.
  explicit TtidewellUpdateScheduler(TtidewellScheduleStore& store,
                                    TtidewellScheduleClock clock = SystemScheduleClock());

  TtidewellScheduleOptions& Options() { return options_; }

  // Writes the feed's next and last update (UTC) and, for a comment feed
  // whose newest article is 22 or more whole days old, skipfeed 1, in a
  // transaction of its own. HttpCode 404, 500, 302 and 999 (a transfer
  // failure) retry after the error retry interval; otherwise the feed's
  // update_interval counts (read only with UseInterval), adaptive below 1
  // and at most one day. Nothing happens for FeedId below 1. A failure rolls
  // the transaction back and passes on.
  void ScheduleNextUpdate(int32_t FeedId, bool UseInterval, int32_t HttpCode);

  // Minutes (10 or more) from the gaps between the feed's ten newest
  // articles. NewestDate becomes the newest article date (UTC), but no
  // earlier than a year ago. Raises EAbort when the worker is stopping.
  int32_t ComputeAdaptiveInterval(int32_t FeedId, TDateTime& NewestDate);

 private:
  TDateTime NowUtc() const;
  TDateTime NextUpdate(int32_t FeedId, bool UseInterval, int32_t HttpCode, TDateTime now, TDateTime& newest);
  int32_t ReadInterval(int32_t FeedId);
  std::optional<int32_t> SkipValue(TDateTime now, TDateTime newest) const;
  int32_t SecondsSetting() const;
  void RollbackQuietly();

  TtidewellScheduleStore& store_;
  TtidewellScheduleClock clock_;
  TtidewellScheduleOptions options_;
};

// The adaptive interval in minutes from UTC now and the article dates
// (newest first, as stored); NewestDate is raised to the latest date seen.
// Dates after a missing one are not looked at.
int32_t AdaptiveIntervalMinutes(TDateTime nowUtc, const std::vector<std::optional<TDateTime>>& dates,
                                TDateTime& NewestDate);

// The whole seconds between two date-times, as an absolute value.
int64_t WholeSecondsBetween(TDateTime a, TDateTime b);

}  // namespace tidewell
