// SPDX-License-Identifier: MIT
// The wall clock set a day ahead, then put right: feeds fetched meanwhile
// must not wait a day for their next update. The engine's own clock is
// shifted, and the engine's workers fetch from a local HTTP server into a
// real database.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/tidewell.h"
#include "engine/tidewell_date.h"
#include "support/engine_fixture.h"

namespace tidewell {
namespace {

constexpr int64_t kDay = 86400;
constexpr double kMinute = 1.0 / 1440;

class ClockPutRightTest : public testing::EngineFixture {
 protected:
  ClockPutRightTest() {
    engine.SetOnSmrtUpdateTimer([this](int32_t count) { ticks.push_back(count); });
    ServeDocument("/feed.xml", "application/rss+xml",
                  "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Radio</title>"
                  "<link>http://example.org/</link><item><title>One</title><guid>one</guid></item></channel></rss>");
  }
  ~ClockPutRightTest() override { TEST_ShiftClock(0); }

  // A feed with a fixed interval, fetched once at the clock's current time.
  int32_t FetchedFeed(const std::string& path, int minutes) {
    const int32_t feedId = engine.AddFeed(u"", server.Url(path), u"");
    db.Execute("update feeds set update_interval=" + std::to_string(minutes) +
               " where feed_id=" + std::to_string(feedId));
    Pass(feedId);
    return feedId;
  }
  // Minutes from the engine's "now" to the feed's next update.
  double MinutesUntilDue(int32_t feedId) {
    const double next = NextUpdate(feedId);
    return (next - LocalTimeToUTC(Now())) / kMinute;
  }
  double NextUpdate(int32_t feedId) {
    TTranWrapper transaction(&engine.MainConnection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    query.SQL.Add("select next_feedupdate from feeds where feed_id=" + std::to_string(feedId));
    query.ExecQuery();
    const double next = query.Fields(0).AsDateTime();
    query.Close();
    transaction.Commit();
    return next;
  }
  // The items of the jobs ended, sorted.
  std::vector<int32_t> EndedItems() const {
    std::vector<int32_t> ids;
    for (const testing::EndedJob& job : ended) ids.push_back(job.itemId);
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  std::vector<int32_t> ticks;
};

TEST_F(ClockPutRightTest, AFeedScheduledWhileTheClockWasADayAheadIsDueWithinItsInterval) {
  // Fetched at the right time: due in 30 minutes, and a failing feed with a
  // short interval keeps its 45-minute pause.
  const int32_t onTime = FetchedFeed("/feed.xml", 30);
  const int32_t failing = FetchedFeed("/gone.xml", 10);
  EXPECT_NEAR(MinutesUntilDue(failing), 45, 1);
  const double failingNext = NextUpdate(failing);

  TEST_ShiftClock(kDay);
  const int32_t ahead = FetchedFeed("/feed.xml?ahead", 30);
  EXPECT_NEAR(MinutesUntilDue(ahead), 30, 1);
  TEST_ShiftClock(0);
  EXPECT_NEAR(MinutesUntilDue(ahead), 1440 + 30, 1);

  engine.SmartUpdateTimer();
  EXPECT_EQ(ticks, std::vector<int32_t>{0});
  EXPECT_NEAR(MinutesUntilDue(ahead), 30, 1);
  EXPECT_NEAR(MinutesUntilDue(onTime), 30, 1);
  EXPECT_NEAR(NextUpdate(failing), failingNext, 1.0 / 86400);

  // Half an hour later both feeds with the 30-minute interval are fetched.
  TEST_ShiftClock(31 * 60);
  ended.clear();
  engine.SmartUpdateTimer();
  ASSERT_EQ(ticks.size(), 2u);
  ASSERT_EQ(ticks[1], 2);
  ASSERT_TRUE(RunUntil([&] { return ended.size() >= 2 && engine.QueuedJobCount() == 0; }));
  EXPECT_EQ(EndedItems(), (std::vector<int32_t>{onTime, ahead}));
  EXPECT_NEAR(NextUpdate(failing), failingNext, 1.0 / 86400);
}

}  // namespace
}  // namespace tidewell
