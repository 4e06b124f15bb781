// SPDX-License-Identifier: MIT
#include "platform/time_zone.h"

#include <gtest/gtest.h>

#include "support/scoped_time_zone.h"

namespace platform {
namespace {

using testing_support::ScopedTimeZone;

int32_t TotalBias(const TimeZoneInfo& info) {
  return info.baseBias + (info.state == TimeZoneState::kDaylight ? info.daylightBias : info.standardBias);
}

TEST(TimeZoneInfoTest, ZonesWithoutDaylightSavingReportStandardTime) {
  {
    ScopedTimeZone zone(testing_support::kZoneUtc);
    const TimeZoneInfo info = CurrentTimeZoneInfo();
    EXPECT_EQ(info.state, TimeZoneState::kStandard);
    EXPECT_EQ(TotalBias(info), 0);
  }
  ScopedTimeZone zone(testing_support::kZoneIndia);
  const TimeZoneInfo info = CurrentTimeZoneInfo();
  EXPECT_EQ(info.state, TimeZoneState::kStandard);
  EXPECT_EQ(info.baseBias, -330);
  EXPECT_EQ(TotalBias(info), -330);
}

TEST(TimeZoneInfoTest, DaylightTimeAddsItsBiasToTheStandardOne) {
  ScopedTimeZone zone(testing_support::kZoneAlwaysDaylight);
  const TimeZoneInfo info = CurrentTimeZoneInfo();
  EXPECT_EQ(info.state, TimeZoneState::kDaylight);
  EXPECT_EQ(info.baseBias, -60);
  EXPECT_EQ(info.daylightBias, -60);
  EXPECT_EQ(TotalBias(info), -120);
}

TEST(TimeZoneInfoTest, SeasonalZoneReportsTheBiasOfItsCurrentSeason) {
  ScopedTimeZone zone(testing_support::kZoneCentralEurope);
  const TimeZoneInfo info = CurrentTimeZoneInfo();
  ASSERT_TRUE(info.state == TimeZoneState::kStandard || info.state == TimeZoneState::kDaylight);
  EXPECT_EQ(TotalBias(info), info.state == TimeZoneState::kDaylight ? -120 : -60);
}

}  // namespace
}  // namespace platform
