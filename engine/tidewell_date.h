// SPDX-License-Identifier: MIT
// Dates found in feeds turned into date-time values and zone offsets, the
// conversions between local time and UTC, and the age groups of article
// lists. Plain functions without state, safe on any thread.
//
// Date-times count days since 1899-12-30 (the fraction is the time of day);
// a zone offset is a signed fraction of a day (hours / 24). Every parse
// failure raises ETWInvalidDate, whatever the text holds.
#pragma once

#include <cstdint>
#include <string>

#include "engine/tidewell_struct.h"
#include "toolkit/exception.h"

namespace tidewell {

class ETWInvalidDate : public kt::Exception {
 public:
  using kt::Exception::Exception;
};

// --- Composing and splitting date-times -----------------------------------

// The date-time of the given parts; raises ETWInvalidDate "Invalid argument
// to date encode" for an impossible date or time (years 1 to 9999).
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
struct TDateParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
// The parts of a date-time (milliseconds rounded).
TDateParts DecodeDateTime(TDateTime value);
// The local wall-clock time now. Every part of the engine that asks for the
// time reads it here.
TDateTime Now();
// Tests only: moves the clock that Now() reads by the given seconds (0
// puts it right), as a user setting the system clock would.
void TEST_ShiftClock(int64_t seconds);

// --- Local time and UTC ---------------------------------------------------

// Shift by the zone's bias in force now (daylight saving included), as the
// system reports it. Raise "Unknown timezone ! (Bias %d)" when the system
// gives no valid zone state.
TDateTime LocalTimeToUTC(TDateTime value);
TDateTime UTCToLocalTime(TDateTime value);

bool IsLeapYear(int year);

// value - offset when the zone text is neither empty nor "X"; else value.
TDateTime NormalizeToUTC(const std::string& zoneText, double offset, TDateTime value);

// --- Parsers --------------------------------------------------------------

// Trimmed, then every no-break space (byte 160) turned into a blank and every
// character but blanks, "+,-./0123456789:", ASCII letters and "\" removed.
std::string CleanDateText(const std::string& text);

// W3C/ISO 8601 ("2024-01-05T10:00:00+01:00"). offset receives the zone's
// offset, zoneText "*" followed by the zone as written; seconds and zone may
// be left out (no zone: offset 0, zoneText "*").
TDateTime ParseISO8601Date(const std::string& text, double& offset, std::string& zoneText);

// The offset (fraction of a day) of an RFC 822 zone: a named zone ("EST",
// "GMT", "CEST", "JST" and the other common abbreviations, military
// letters), a signed "+hhmm", or a plain number. Other names raise the
// integer conversion error.
double ZoneToOffset(const std::string& zoneText);

// The parts of an RFC 822 date ("Fri, 05 Jan 2024 10:00:00 EST"); two-digit
// years 00-49 are 20xx and 50-99 19xx. Weekday and month names are read in
// any case, abbreviated or in full; the weekday and its comma may be left
// out; comments in parentheses are dropped. No range checks on the parts.
void SplitRFC822Date(const std::string& text, int& day, int& month, std::string& zoneText, int& millisecond,
                     int& second, int& minute, int& hour, int& year);

// An RFC 822 date as written (not shifted); zoneText is "**" + the zone.
TDateTime ParseRFC822Date(const std::string& text, double& offset, std::string& zoneText);

// "yyyy-mm-dd" or "yyyy-mm-dd hh:mm[:ss]" (seconds not read); raises
// "Invalid date".
TDateTime ParseSqlDate(const std::string& text);

// A date text of a feed document in UTC, trying in turn RFC 822 (unless
// the first "-" is the fifth character), ISO 8601 (no zone reads as UTC)
// and SQL style (read as UTC, zone text "***"), so that a stored date never
// depends on the machine's zone. False, with utc and zoneText untouched,
// when no parser reads the text.
bool ReadFeedDate(const std::string& text, TDateTime& utc, std::string& zoneText);

// --- Article list groups --------------------------------------------------

// 1 same day or later, 2 the day before, 3 earlier in the same week, 4 to 7
// one to four weeks before, 8 older. Weeks start on Monday.
int DateAgeGroup(TDateTime value, TDateTime reference);

}  // namespace tidewell
