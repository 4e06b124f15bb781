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

// One of the two hemispheres is in daylight time on any day of the year, so
// the standard bias is always looked up in one of them.
TEST(TimeZoneInfoTest, SeasonalZonesReportTheirStandardBiasAndTheBiasOfTheCurrentSeason) {
  struct Case {
    const char* zone;
    int32_t standardBias;
  };
  int daylightSeen = 0;
  for (const Case& c : {Case{testing_support::kZoneCentralEurope, -60}, Case{"AEST-10AEDT,M10.1.0,M4.1.0/3", -600}}) {
    ScopedTimeZone zone(c.zone);
    const TimeZoneInfo info = CurrentTimeZoneInfo();
    ASSERT_TRUE(info.state == TimeZoneState::kStandard || info.state == TimeZoneState::kDaylight) << c.zone;
    EXPECT_EQ(info.baseBias, c.standardBias) << c.zone;
    EXPECT_EQ(TotalBias(info), info.state == TimeZoneState::kDaylight ? c.standardBias - 60 : c.standardBias)
        << c.zone;
    if (info.state == TimeZoneState::kDaylight) ++daylightSeen;
  }
  EXPECT_GE(daylightSeen, 1);
}

}  // namespace
}  // namespace platform
