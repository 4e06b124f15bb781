// SPDX-License-Identifier: MIT
// Date spellings seen in real feeds, each with the UTC instant it stands
// for. Every one is read the same in every time zone of the machine.
#include <gtest/gtest.h>

#include <string>

#include "engine/tidewell_date.h"
#include "support/scoped_time_zone.h"

namespace tidewell {
namespace {

using testing_support::ScopedTimeZone;

constexpr double kHalfSecond = 0.5 / 86400.0;

struct DateCase {
  const char* text;
  int year, month, day, hour, minute, second;
};

// clang-format off
const DateCase kSpellings[] = {
    // RFC 822 with the zones publishers write.
    {"Fri, 05 Jan 2024 10:00:00 GMT", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 10:00:00 UT", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 10:00:00 UTC", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 10:00:00 Z", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 10:00:00 +0000", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 12:00:00 +0200", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 05:00:00 -0500", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 10:00:00 +02:00", 2024, 1, 5, 8, 0, 0},
    {"Fri, 05 Jan 2024 10:00:00 GMT+0200", 2024, 1, 5, 8, 0, 0},
    {"Fri, 05 Jan 2024 15:30:00 +0530", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 05:00:00 EST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 06:00:00 EDT", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 04:00:00 CST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 05:00:00 CDT", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 03:00:00 MST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 04:00:00 MDT", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 02:00:00 PST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 03:00:00 PDT", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 06:00:00 AST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 01:00:00 AKST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 00:00:00 HST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 06:30:00 NST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 11:00:00 CET", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 12:00:00 CEST", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 11:00:00 MET", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 11:00:00 BST", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 10:00:00 WET", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 11:00:00 WEST", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 12:00:00 EET", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 13:00:00 EEST", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 13:00:00 MSK", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 15:30:00 IST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 18:00:00 SGT", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 18:00:00 HKT", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 19:00:00 JST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 19:00:00 KST", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 20:00:00 AEST", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 21:00:00 AEDT", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jul 2024 22:00:00 NZST", 2024, 7, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 09:00:00 A", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 11:00:00 N", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 12:00:00 +0200 (EST)", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 10:00:00 +0000 (UTC)", 2024, 1, 5, 10, 0, 0},
    // RFC 822 as it is really typed.
    {"fri, 05 jan 2024 10:00:00 gmt", 2024, 1, 5, 10, 0, 0},
    {"FRI, 05 JAN 2024 10:00:00 GMT", 2024, 1, 5, 10, 0, 0},
    {"Friday, 05 January 2024 10:00:00 GMT", 2024, 1, 5, 10, 0, 0},
    {"Tuesday, 04 June 2024 10:00:00 +0000", 2024, 6, 4, 10, 0, 0},
    {"Wed, 04 Sept 2024 10:00:00 GMT", 2024, 9, 4, 10, 0, 0},
    {"Fri 05 Jan 2024 10:00:00 GMT", 2024, 1, 5, 10, 0, 0},
    {"Fri,05 Jan 2024 10:00:00 GMT", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 10:00 GMT", 2024, 1, 5, 10, 0, 0},
    {"Fri, 5 Jan 2024 9:00:00 -0100", 2024, 1, 5, 10, 0, 0},
    {"\xC2\xA0" "Fri, 05 Jan 2024 10:00:00 GMT", 2024, 1, 5, 10, 0, 0},
    {"\tFri, 05 Jan 2024 10:00:00 GMT\t", 2024, 1, 5, 10, 0, 0},
    {"05 Jan 2024 10:00:00 GMT", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 24 10:00:00 GMT", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05 Jan 2024 10:00:00", 2024, 1, 5, 10, 0, 0},
    {"Fri, 05  Jan  2024  10:00:00  GMT", 2024, 1, 5, 10, 0, 0},
    // ISO 8601, with or without a zone.
    {"2024-01-05T10:00:00Z", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05T12:00:00+02:00", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05T05:00:00-05:00", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05T12:00:00+0200", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05T10:00:00.123Z", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05T10:00:00.123456+00:00", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05T10:00Z", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05t10:00:00z", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05T10:00:00", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05T10:00", 2024, 1, 5, 10, 0, 0},
    {" 2024-01-05T10:00:00Z ", 2024, 1, 5, 10, 0, 0},
    // SQL style, read as UTC.
    {"2024-01-05 10:00:00", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05 10:00", 2024, 1, 5, 10, 0, 0},
    {"2024-01-05", 2024, 1, 5, 0, 0, 0},
};
// clang-format on

TEST(FeedDateTableTest, EverySpellingGivesItsUtcInstantInEveryMachineZone) {
  ASSERT_GE(std::size(kSpellings), 60u);
  for (const char* zoneRule : {testing_support::kZoneUtc, testing_support::kZoneCentralEurope,
                               testing_support::kZoneIndia}) {
    ScopedTimeZone zone(zoneRule);
    for (const DateCase& c : kSpellings) {
      TDateTime utc = 0;
      std::string zoneText;
      ASSERT_TRUE(ReadFeedDate(c.text, utc, zoneText)) << c.text;
      EXPECT_NEAR(utc, EncodeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second), kHalfSecond)
          << c.text << " in " << zoneRule;
    }
  }
}

TEST(FeedDateTableTest, ZoneTextsNameTheParserThatReadTheDate) {
  TDateTime utc = 0;
  std::string zoneText;
  ASSERT_TRUE(ReadFeedDate("Fri, 05 Jan 2024 12:00:00 +0200 (EST)", utc, zoneText));
  EXPECT_EQ(zoneText, "**+0200");
  ASSERT_TRUE(ReadFeedDate("Fri, 05 Jul 2024 12:00:00 CEST", utc, zoneText));
  EXPECT_EQ(zoneText, "**CEST");
  ASSERT_TRUE(ReadFeedDate("2024-01-05T10:00:00", utc, zoneText));
  EXPECT_EQ(zoneText, "*");
  ASSERT_TRUE(ReadFeedDate("2024-01-05 10:00", utc, zoneText));
  EXPECT_EQ(zoneText, "***");
}

TEST(FeedDateTableTest, TextsThatAreNoDateAreStillRefused) {
  for (const char* text : {"not a date", "", "Fri, 05 Foo 2024 10:00:00 GMT", "Fri, 05 Jan 2024 10:00:00 XYZ",
                           "Fri, 05 Jan 2024 10:00:00 J", "2024-13-05T10:00:00Z", "Fri, 31 Feb 2024 10:00:00 GMT",
                           "yesterday"}) {
    TDateTime utc = 0;
    std::string zoneText;
    EXPECT_FALSE(ReadFeedDate(text, utc, zoneText)) << text;
  }
}

}  // namespace
}  // namespace tidewell
