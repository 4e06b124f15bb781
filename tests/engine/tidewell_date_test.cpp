// SPDX-License-Identifier: MIT
#include "engine/tidewell_date.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/scoped_time_zone.h"

namespace tidewell {
namespace {

using testing_support::ScopedTimeZone;

constexpr double kOneSecond = 1.0 / 86400.0;

// Runs the parser and answers the message of the ETWInvalidDate it raised.
template <typename Parse>
std::string FailureOf(Parse parse) {
  try {
    parse();
  } catch (const ETWInvalidDate& error) {
    return error.Message();
  }
  return "(no failure)";
}

std::string IsoFailure(const std::string& text) {
  double offset;
  std::string zone;
  return FailureOf([&] { ParseISO8601Date(text, offset, zone); });
}

std::string RfcFailure(const std::string& text) {
  double offset;
  std::string zone;
  return FailureOf([&] { ParseRFC822Date(text, offset, zone); });
}

TEST(DateEncodingTest, CountsDaysFromTheEndOf1899) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDateTime(2050, 1, 1), 54789.0);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
  EXPECT_NEAR(EncodeDateTime(2024, 1, 5, 18), 45296.75, 1e-9);
  EXPECT_EQ(FailureOf([] { EncodeDateTime(2023, 2, 29); }), "Invalid argument to date encode");
  EXPECT_EQ(FailureOf([] { EncodeDateTime(2024, 1, 5, 24); }), "Invalid argument to date encode");
}

TEST(DateEncodingTest, DecodeReturnsTheEncodedParts) {
  for (const TDateParts& parts : {TDateParts{2024, 2, 29, 23, 59, 58, 999}, TDateParts{1, 1, 1, 0, 0, 0, 0},
                                  TDateParts{9999, 12, 31, 12, 30, 0, 0}, TDateParts{1850, 7, 14, 6, 0, 0, 0}}) {
    const TDateTime value =
        EncodeDateTime(parts.year, parts.month, parts.day, parts.hour, parts.minute, parts.second, parts.millisecond);
    const TDateParts back = DecodeDateTime(value);
    EXPECT_EQ(std::tie(back.year, back.month, back.day, back.hour, back.minute, back.second, back.millisecond),
              std::tie(parts.year, parts.month, parts.day, parts.hour, parts.minute, parts.second, parts.millisecond))
        << value;
  }
}

TEST(DateEncodingTest, LeapYearsFollowTheGregorianRule) {
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
}

TEST(CleanDateTextTest, KeepsDateCharactersAndTurnsNoBreakSpacesIntoBlanks) {
  EXPECT_EQ(CleanDateText("  Fri, 05 Jan 2024 10:00:00 (EST) "), "Fri, 05 Jan 2024 10:00:00 EST");
  EXPECT_EQ(CleanDateText("05\xA0Jan"), "05 Jan");
  EXPECT_EQ(CleanDateText("05\xC2\xA0Jan"), "05 Jan");  // UTF-8 no-break space
  EXPECT_EQ(CleanDateText("a\\b*c#\"d"), "a\\bcd");
  EXPECT_EQ(CleanDateText("()[]"), "");
}

TEST(Iso8601DateTest, ReadsDatesTimesAndZones) {
  double offset = -1;
  std::string zone;
  EXPECT_EQ(ParseISO8601Date("2024-02-29T10:00:00Z", offset, zone), EncodeDateTime(2024, 2, 29, 10));
  EXPECT_EQ(offset, 0.0);
  EXPECT_EQ(zone, "*Z");
  EXPECT_EQ(ParseISO8601Date("2024-01-05T10:00Z", offset, zone), EncodeDateTime(2024, 1, 5, 10));
  EXPECT_EQ(ParseISO8601Date("2024-01-05T10:00:00+01:00", offset, zone), EncodeDateTime(2024, 1, 5, 10));
  EXPECT_DOUBLE_EQ(offset, 1.0 / 24);
  EXPECT_EQ(zone, "*+01:00");
  EXPECT_EQ(ParseISO8601Date("2024-01-05T10:00:00.123456-05:30", offset, zone), EncodeDateTime(2024, 1, 5, 10));
  EXPECT_DOUBLE_EQ(offset, -5.5 / 24);
  EXPECT_EQ(ParseISO8601Date("2024-01-05t10:20:30z", offset, zone), EncodeDateTime(2024, 1, 5, 10, 20, 30));
  EXPECT_EQ(ParseISO8601Date("2024-01-05T", offset, zone), EncodeDateTime(2024, 1, 5));
  EXPECT_EQ(zone, "*");
}

TEST(Iso8601DateTest, LongFractionsKeepTheirZoneAndZoneTextsFitTheirColumn) {
  double offset = 0;
  std::string zone;
  EXPECT_EQ(ParseISO8601Date("2024-01-05T10:00:00.123456789+02:00", offset, zone), EncodeDateTime(2024, 1, 5, 10));
  EXPECT_DOUBLE_EQ(offset, 2.0 / 24);
  ParseISO8601Date("2024-01-05T10:00:00Zulu-time-of-the-navy-fleet", offset, zone);
  EXPECT_EQ(zone, "*ZULU-TIME-OF-THE-NA");
  EXPECT_EQ(zone.size(), 20u);
}

TEST(Iso8601DateTest, ReadsOffsetsWithoutColonOrMinutes) {
  double offset = 0;
  std::string zone;
  ParseISO8601Date("2024-01-05T10:00:00+0530", offset, zone);
  EXPECT_DOUBLE_EQ(offset, 5.5 / 24);
  EXPECT_EQ(zone, "*+0530");
  ParseISO8601Date("2024-01-05T10:00:00+01", offset, zone);
  EXPECT_DOUBLE_EQ(offset, 1.0 / 24);
  ParseISO8601Date("2024-01-05T10:00:00-0800", offset, zone);
  EXPECT_DOUBLE_EQ(offset, -8.0 / 24);
  ParseISO8601Date("2024-01-05T10:00:00GMT", offset, zone);
  EXPECT_EQ(offset, 0.0);
  EXPECT_EQ(zone, "*GMT");
}

TEST(Iso8601DateTest, ReadsALeapSecondAsTheLastSecondOfItsMinute) {
  double offset;
  std::string zone;
  EXPECT_EQ(ParseISO8601Date("2016-12-31T23:59:60Z", offset, zone), EncodeDateTime(2016, 12, 31, 23, 59, 59));
}

TEST(Iso8601DateTest, RefusesImpossibleOrIncompleteDates) {
  EXPECT_EQ(IsoFailure("2024-02-30T10:00:00Z"), "Invalid day ! 2024-02-30T10:00:00Z");
  EXPECT_EQ(IsoFailure("2023-02-29T10:00:00Z"), "Invalid day ! 2023-02-29T10:00:00Z");
  EXPECT_EQ(IsoFailure("2024-04-31T10:00:00Z"), "Invalid day ! 2024-04-31T10:00:00Z");
  EXPECT_EQ(IsoFailure("2024-01-05"), "Invalid year ! 2024-01-05");
  EXPECT_EQ(IsoFailure("2024-13-05T10:00Z"), "Invalid month ! 2024-13-05T10:00Z");
  EXPECT_EQ(IsoFailure("2024-01-05T24:00Z"), "Invalid hour ! 2024-01-05T24:00Z");
  EXPECT_EQ(IsoFailure("2024-01-05T10:60Z"), "Invalid hour ! 2024-01-05T10:60Z");
  EXPECT_EQ(IsoFailure("2024-01-05T10:00:61Z"), "Invalid second ! 2024-01-05T10:00:61Z");
  EXPECT_EQ(IsoFailure("2024-01-05T10:00:00+25:00"), "Incorrect time offset !");
  EXPECT_EQ(IsoFailure("2024-01-05T10:00:00+1"), "Incorrect time offset !");
  EXPECT_EQ(IsoFailure(""), "Invalid year ! ");
}

TEST(Iso8601DateTest, ADateWithoutZoneIsUtc) {
  double offset = 1;
  std::string zone;
  EXPECT_EQ(ParseISO8601Date("2024-01-05T10:00", offset, zone), EncodeDateTime(2024, 1, 5, 10));
  EXPECT_EQ(zone, "*");
  EXPECT_EQ(offset, 0.0);
  EXPECT_EQ(ParseISO8601Date("2024-01-05T10:00:30.25", offset, zone), EncodeDateTime(2024, 1, 5, 10, 0, 30));
  EXPECT_EQ(zone, "*");
}

TEST(ZoneToOffsetTest, ReadsNamedZonesSignedNumbersAndMilitaryLetters) {
  const struct {
    const char* zone;
    double hours;
  } cases[] = {{"", 0},       {"GMT", 0},      {"UT", 0},      {"Z", 0},        {"EST", -5},   {"EDT", -4},
               {"CST", -6},   {"CDT", -5},     {"MST", -7},    {"MDT", -6},     {"PST", -8},   {"PDT", -7},
               {"M", -12},    {"A", -1},       {"N", 1},       {"Y", 12},       {"+0530", 5.5}, {"-0530", -5.5},
               {"+0100", 1},  {"GMT+0200", 2}, {" est ", -5},  {"+05:30", 5.5}, {"-03", -3},   {"0100", 1},
               {"+530", 5.5}, {"GMT+1", 0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ZoneToOffset(c.zone), c.hours / 24) << '"' << c.zone << '"';
}

TEST(ZoneToOffsetTest, UnknownZoneNamesRaiseTheConversionError) {
  EXPECT_DOUBLE_EQ(ZoneToOffset("CEST"), 2.0 / 24);
  EXPECT_DOUBLE_EQ(ZoneToOffset("IST"), 5.5 / 24);
  EXPECT_DOUBLE_EQ(ZoneToOffset("K"), -10.0 / 24);
  EXPECT_EQ(FailureOf([] { ZoneToOffset("XYZ"); }), "'XYZ' is not a valid integer value");
  EXPECT_EQ(FailureOf([] { ZoneToOffset("J"); }), "'J' is not a valid integer value");
  EXPECT_EQ(FailureOf([] { ZoneToOffset("+05x0"); }), "'+05X0' is not a valid integer value");
}

TEST(Rfc822DateTest, SplitsTheParts) {
  int day, month, millisecond, second, minute, hour, year;
  std::string zone;
  SplitRFC822Date("Fri, 05 Jan 24 10:20:30 EST", day, month, zone, millisecond, second, minute, hour, year);
  EXPECT_EQ(std::tie(day, month, year, hour, minute, second, millisecond), std::make_tuple(5, 1, 2024, 10, 20, 30, 0));
  EXPECT_EQ(zone, "EST");
  SplitRFC822Date("5 Dec 2023 7:05 +0000", day, month, zone, millisecond, second, minute, hour, year);
  EXPECT_EQ(std::tie(day, month, year, hour, minute, second), std::make_tuple(5, 12, 2023, 7, 5, 0));
  EXPECT_EQ(zone, "+0000");
}

TEST(Rfc822DateTest, TwoDigitYearsBelowFiftyAreThisCentury) {
  int day, month, millisecond, second, minute, hour, year;
  std::string zone;
  for (const auto& [text, expected] : {std::pair{"01 Jan 00 00:00 GMT", 2000}, std::pair{"01 Jan 49 00:00 GMT", 2049},
                                       std::pair{"01 Jan 50 00:00 GMT", 1950}, std::pair{"01 Jan 99 00:00 GMT", 1999},
                                       std::pair{"01 Jan 1999 00:00 GMT", 1999}}) {
    SplitRFC822Date(text, day, month, zone, millisecond, second, minute, hour, year);
    EXPECT_EQ(year, expected) << text;
  }
}

TEST(Rfc822DateTest, ParsesTheDateAsWrittenWithItsZone) {
  double offset = 0;
  std::string zone;
  EXPECT_EQ(ParseRFC822Date(" Fri, 05 Jan 24 10:00:00 EST ", offset, zone), EncodeDateTime(2024, 1, 5, 10));
  EXPECT_DOUBLE_EQ(offset, -5.0 / 24);
  EXPECT_EQ(zone, "**EST");
  EXPECT_EQ(ParseRFC822Date("Sat, 06 Jan 2024 23:59:59 +0530", offset, zone),
            EncodeDateTime(2024, 1, 6, 23, 59, 59));
  EXPECT_DOUBLE_EQ(offset, 5.5 / 24);
  EXPECT_EQ(zone, "**+0530");
  EXPECT_EQ(ParseRFC822Date("Sat,  06 Jan  2024 10:00:00", offset, zone), EncodeDateTime(2024, 1, 6, 10));
  EXPECT_EQ(zone, "**");
  EXPECT_EQ(offset, 0.0);
}

TEST(Rfc822DateTest, RefusesUnknownMonthsNumbersAndZones) {
  EXPECT_EQ(RfcFailure("Fri, 05 Jnu 2024 10:00:00 GMT"), "Invalid RFC822 date !");
  EXPECT_EQ(RfcFailure("Fri, 05 Januar 2024 10:00:00 GMT"), "Invalid RFC822 date !");
  EXPECT_EQ(RfcFailure("Fri, 05 Jan 2024 10:00:00 CEZT"), "'CEZT' is not a valid integer value");
  EXPECT_EQ(RfcFailure("Fri, xx Jan 2024 10:00:00 GMT"), "'xx' is not a valid integer value");
  EXPECT_EQ(RfcFailure("Fri, 31 Feb 2024 10:00:00 GMT"), "Invalid argument to date encode");
  EXPECT_EQ(RfcFailure("Fri, 05 Jan 2024"), "'' is not a valid integer value");
  EXPECT_EQ(RfcFailure(""), "'' is not a valid integer value");
}

TEST(SqlDateTest, ReadsDateAndMinutesButNotSeconds) {
  EXPECT_EQ(ParseSqlDate("2024-01-05 10:30:45"), EncodeDateTime(2024, 1, 5, 10, 30));
  EXPECT_EQ(ParseSqlDate(" 2024-01-05 10:30 "), EncodeDateTime(2024, 1, 5, 10, 30));
  EXPECT_EQ(ParseSqlDate("2024-01-05"), EncodeDateTime(2024, 1, 5));
}

TEST(SqlDateTest, RefusesOtherShapes) {
  for (const char* text : {"24-01-05", "2024-1-05", "2024-01-5", "2024-01-05 1:30", "2024-02-30", "2024-01-05 25:00",
                           "abcd-01-05", "2024-01-05T10:30", "", "2024-01-05 10:"}) {
    EXPECT_EQ(FailureOf([&] { ParseSqlDate(text); }), "Invalid date") << text;
  }
}

TEST(NormalizeToUtcTest, ShiftsOnlyDatesWithAZoneText) {
  EXPECT_EQ(NormalizeToUTC("*+01:00", 1.0 / 24, 1.5), 1.5 - 1.0 / 24);
  EXPECT_EQ(NormalizeToUTC("**EST", -5.0 / 24, 1.5), 1.5 + 5.0 / 24);
  EXPECT_EQ(NormalizeToUTC("X", 1.0 / 24, 1.5), 1.5);
  EXPECT_EQ(NormalizeToUTC("", 1.0 / 24, 1.5), 1.5);
}

TEST(NormalizeToUtcTest, ParsedDatesGiveTheSameInstantInEveryZone) {
  for (const char* zoneRule : {testing_support::kZoneUtc, testing_support::kZoneCentralEurope}) {
    ScopedTimeZone zone(zoneRule);
    double offset;
    std::string zoneText;
    const TDateTime iso = ParseISO8601Date("2024-01-05T11:00:00+01:00", offset, zoneText);
    EXPECT_NEAR(NormalizeToUTC(zoneText, offset, iso), EncodeDateTime(2024, 1, 5, 10), 1e-9) << zoneRule;
    const TDateTime rfc = ParseRFC822Date("Fri, 05 Jan 2024 05:00:00 EST", offset, zoneText);
    EXPECT_NEAR(NormalizeToUTC(zoneText, offset, rfc), EncodeDateTime(2024, 1, 5, 10), 1e-9) << zoneRule;
  }
}

TEST(LocalTimeTest, ConvertsWithTheBiasInForceNow) {
  const TDateTime local = EncodeDateTime(2024, 7, 1, 12);
  const struct {
    const char* zone;
    double hoursAheadOfUtc;
  } cases[] = {{testing_support::kZoneUtc, 0},
               {testing_support::kZoneIndia, 5.5},
               {testing_support::kZoneAlwaysDaylight, 2}};
  for (const auto& c : cases) {
    ScopedTimeZone zone(c.zone);
    EXPECT_NEAR(LocalTimeToUTC(local), local - c.hoursAheadOfUtc / 24, kOneSecond / 100) << c.zone;
    EXPECT_NEAR(UTCToLocalTime(LocalTimeToUTC(local)), local, kOneSecond / 100) << c.zone;
  }
}

TEST(LocalTimeTest, NowInUtcDoesNotDependOnTheZone) {
  TDateTime utcNow[2];
  const char* zones[2] = {testing_support::kZoneIndia, testing_support::kZoneAlwaysDaylight};
  for (int i = 0; i < 2; ++i) {
    ScopedTimeZone zone(zones[i]);
    utcNow[i] = LocalTimeToUTC(Now());
  }
  EXPECT_NEAR(utcNow[0], utcNow[1], 60 * kOneSecond);
}

TEST(DateAgeGroupTest, GroupsByDayAndByWholeWeeks) {
  // Wednesday 2024-01-17; its week began on Monday 2024-01-15.
  const TDateTime reference = EncodeDateTime(2024, 1, 17, 9);
  const struct {
    TDateTime value;
    int group;
  } cases[] = {
      {EncodeDateTime(2024, 1, 17, 23), 1}, {EncodeDateTime(2024, 1, 20), 1}, {EncodeDateTime(2024, 1, 16, 23), 2},
      {EncodeDateTime(2024, 1, 15), 3},     {EncodeDateTime(2024, 1, 14), 4}, {EncodeDateTime(2024, 1, 8), 4},
      {EncodeDateTime(2024, 1, 7), 5},      {EncodeDateTime(2024, 1, 1), 5},  {EncodeDateTime(2023, 12, 25), 6},
      {EncodeDateTime(2023, 12, 18), 7},    {EncodeDateTime(2023, 12, 17), 8}, {EncodeDateTime(2000, 1, 1), 8},
  };
  for (const auto& c : cases) EXPECT_EQ(DateAgeGroup(c.value, reference), c.group) << DecodeDateTime(c.value).day;
  // On a Monday the day before is group 2, whatever the week.
  EXPECT_EQ(DateAgeGroup(EncodeDateTime(2024, 1, 14), EncodeDateTime(2024, 1, 15)), 2);
}

}  // namespace
}  // namespace tidewell
