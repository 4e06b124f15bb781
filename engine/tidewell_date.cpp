// SPDX-License-Identifier: MIT
#include "engine/tidewell_date.h"

#include <time.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "engine/tidewell_msg.h"
#include "platform/time_zone.h"

namespace tidewell {
namespace {

constexpr double kMillisecondsPerDay = 86400000.0;
constexpr size_t kMaxZoneTextLength = 20;

std::atomic<int64_t> clockShiftSeconds{0};

[[noreturn]] void Fail(const std::string& message) { throw ETWInvalidDate(message); }

// Days since 0000-03-01 based era arithmetic (proleptic Gregorian).
constexpr int64_t CivilDayNumber(int year, int month, int day) {
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra + 60;
}

void CivilFromDayNumber(int64_t number, int& year, int& month, int& day) {
  number -= 60;
  const int64_t era = (number >= 0 ? number : number - 146096) / 146097;
  const int64_t dayOfEra = number - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

// The day number of 1899-12-30, day 0 of date-times.
constexpr int64_t kDateTimeEpoch = CivilDayNumber(1899, 12, 30);

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  return std::string(text);
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A run of exactly `count` digits at `position`; -1 when there is none.
int ReadFixedDigits(std::string_view text, size_t position, size_t count) {
  if (position + count > text.size()) return -1;
  int value = 0;
  for (size_t i = position; i < position + count; ++i) {
    if (!IsDigit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// A signed decimal integer filling the whole text; false when it is not one
// or does not fit 32 bits.
bool TryReadInteger(std::string_view text, int& value) {
  size_t position = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) position = 1;
  if (position == text.size()) return false;
  int64_t magnitude = 0;
  for (; position < text.size(); ++position) {
    if (!IsDigit(text[position])) return false;
    magnitude = magnitude * 10 + (text[position] - '0');
    if (magnitude > 2147483648LL) return false;
  }
  if (!negative && magnitude > 2147483647LL) return false;
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return true;
}

int ReadInteger(std::string_view text) {
  int value = 0;
  if (!TryReadInteger(text, value)) Fail("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

// Takes the text before the first `separator` out of `rest`; without one the
// whole rest is taken. Blanks that follow are skipped.
std::string TakeBefore(std::string& rest, char separator) {
  const size_t found = rest.find(separator);
  std::string taken = rest.substr(0, found);
  rest = found == std::string::npos ? std::string() : TrimLeft(std::string_view(rest).substr(found + 1));
  return taken;
}

double BiasInMinutes() {
  const platform::TimeZoneInfo info = platform::CurrentTimeZoneInfo();
  switch (info.state) {
    case platform::TimeZoneState::kUnknown:
      return info.baseBias;
    case platform::TimeZoneState::kStandard:
      return info.baseBias + info.standardBias;
    case platform::TimeZoneState::kDaylight:
      return info.baseBias + info.daylightBias;
    default:
      throw kt::Exception(FormatText("Unknown timezone ! (Bias %d)", static_cast<int64_t>(info.baseBias)));
  }
}

// ---- ISO 8601 -------------------------------------------------------------

struct IsoDate {
  int year, month, day;
};

IsoDate ReadIsoDate(std::string_view datePart, const std::string& text) {
  const int year = ReadFixedDigits(datePart, 0, 4);
  if (year < 1) Fail("Invalid year ! " + text);
  const int month = ReadFixedDigits(datePart, 5, 2);
  if (month < 1 || month > 12) Fail("Invalid month ! " + text);
  const int day = ReadFixedDigits(datePart, 8, 2);
  if (day < 1 || day > DaysInMonth(year, month)) Fail("Invalid day ! " + text);
  return {year, month, day};
}

// "+hh", "+hhmm" or "+hh:mm" (or "-"): the offset as a fraction of a day.
double ReadSignedIsoOffset(std::string_view zone) {
  const double sign = zone[0] == '-' ? -1.0 : 1.0;
  const std::string_view digits = zone.substr(1);
  int hours = ReadFixedDigits(digits, 0, 2);
  int minutes = 0;
  if (digits.size() == 4) minutes = ReadFixedDigits(digits, 2, 2);
  else if (digits.size() == 5 && digits[2] == ':') minutes = ReadFixedDigits(digits, 3, 2);
  else if (digits.size() != 2) hours = -1;
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) Fail("Incorrect time offset !");
  return sign * (hours / 24.0 + minutes / 1440.0);
}

double ReadIsoOffset(const std::string& zone) {
  const std::string trimmed = Trim(zone);
  if (!trimmed.empty() && (trimmed[0] == '+' || trimmed[0] == '-')) return ReadSignedIsoOffset(trimmed);
  return 0.0;  // "Z" and anything unknown count as UTC
}

// ---- RFC 822 --------------------------------------------------------------

// Month names in any case, abbreviated or in full ("Sept" too).
int MonthOfName(const std::string& name) {
  static const char* const kMonths[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                        "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
  const std::string upper = Upper(name);
  for (int month = 0; month < 12; ++month) {
    const std::string_view full = kMonths[month];
    if (upper == full || upper == full.substr(0, 3)) return month + 1;
  }
  if (upper == "SEPT") return 9;
  Fail("Invalid RFC822 date !");
}

bool IsWeekdayName(const std::string& word) {
  static const char* const kWeekdays[] = {"MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY", "SUNDAY"};
  const std::string upper = Upper(word);
  for (const char* weekday : kWeekdays) {
    const std::string_view full = weekday;
    if (upper == full || upper == full.substr(0, 3)) return true;
  }
  return false;
}

// The weekday is optional and written in any case, in full, with or without
// its comma, and sometimes without a blank after the comma.
std::string WithoutWeekday(const std::string& text) {
  const size_t end = text.find_first_of(" ,");
  if (end == std::string::npos || !IsWeekdayName(text.substr(0, end))) return text;
  size_t next = end;
  if (text[next] == ' ' && text.find_first_not_of(' ', next) != std::string::npos &&
      text[text.find_first_not_of(' ', next)] == ',')
    next = text.find_first_not_of(' ', next);
  if (text[next] == ',') ++next;
  return Trim(std::string_view(text).substr(next));
}

// Comments in parentheses ("+0200 (CEST)") say nothing the offset does not.
std::string WithoutComments(const std::string& text) {
  std::string kept;
  int depth = 0;
  for (char c : text) {
    if (c == '(') ++depth;
    else if (c == ')' && depth > 0) --depth;
    else if (depth == 0) kept += c;
  }
  return kept;
}

int ExpandYear(int year) {
  if (year < 0) return year;
  if (year < 50) return year + 2000;
  if (year < 100) return year + 1900;
  return year < 1000 ? year + 2000 : year;
}

// The hours of a signed zone part: "+hhmm" or "+hmm" as a number, "+hh"
// and "+hh:mm" as written; nothing for other lengths.
double SignedZoneHours(const std::string& part) {
  if (part.size() == 4 || part.size() == 5) {
    const int n = ReadInteger(part);
    return n / 100 + (n % 100) / 60.0;
  }
  const double sign = part[0] == '-' ? -1.0 : 1.0;
  if (part.size() == 3) return sign * ReadInteger(part.substr(1));
  if (part.size() == 6 && part[3] == ':')
    return sign * (ReadInteger(part.substr(1, 2)) + ReadInteger(part.substr(4, 2)) / 60.0);
  return 0.0;
}

// Zone abbreviations found in feeds. Where one name stands for several zones
// the most common reading wins: CST is North American Central, IST India,
// BST British Summer Time, AST Atlantic.
double NamedZoneHours(const std::string& rest, double computed) {
  static const struct {
    const char* name;
    double hours;
  } kZones[] = {
      {"PST", -8},    {"MST", -7},   {"PDT", -7},   {"CST", -6},   {"MDT", -6},   {"EST", -5},   {"CDT", -5},
      {"EDT", -4},    {"AST", -4},   {"ADT", -3},   {"NST", -3.5}, {"NDT", -2.5}, {"AKST", -9},  {"AKDT", -8},
      {"HST", -10},   {"BRT", -3},   {"ART", -3},   {"WET", 0},    {"BST", 1},    {"WEST", 1},   {"CET", 1},
      {"MET", 1},     {"CEST", 2},   {"MEST", 2},   {"EET", 2},    {"SAST", 2},   {"EEST", 3},   {"MSK", 3},
      {"MSD", 4},     {"PKT", 5},    {"IST", 5.5},  {"ICT", 7},    {"WIB", 7},    {"SGT", 8},    {"HKT", 8},
      {"AWST", 8},    {"JST", 9},    {"KST", 9},    {"ACST", 9.5}, {"ACDT", 10.5}, {"AEST", 10}, {"AEDT", 11},
      {"NZST", 12},   {"NZDT", 13}};
  if (rest.empty() || rest == "GMT" || rest == "UT" || rest == "UTC" || rest == "Z") return computed;
  for (const auto& zone : kZones)
    if (rest == zone.name) return zone.hours;
  // Military letters as RFC 822 lists them: A to I and K to M west (-1 to
  // -12), N to Y east (+1 to +12); J names no zone.
  if (rest.size() == 1 && rest[0] >= 'A' && rest[0] <= 'Y' && rest[0] != 'J') {
    const char letter = rest[0];
    if (letter <= 'I') return -(letter - 'A' + 1);
    if (letter <= 'M') return -(letter - 'K' + 10);
    return letter - 'N' + 1;
  }
  const int n = ReadInteger(rest);
  return n / 100 + (n % 100) / 60.0;
}

// ---- SQL style ------------------------------------------------------------

int ReadSqlNumber(std::string_view digits, int low, int high) {
  int value = 0;
  if (digits.empty() || digits.size() > 4 || !TryReadInteger(digits, value) || !IsDigit(digits[0]) ||
      value < low || value > high)
    Fail("Invalid date");
  return value;
}

int64_t DayNumberOf(TDateTime value) { return static_cast<int64_t>(std::trunc(value)); }

int64_t WeekStartOf(int64_t dayNumber) {
  const int64_t mondayBased = ((dayNumber + 5) % 7 + 7) % 7;  // day 0 was a Saturday
  return dayNumber - mondayBased;
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999)
    Fail("Invalid argument to date encode");
  const double days = static_cast<double>(CivilDayNumber(year, month, day) - kDateTimeEpoch);
  const double time = ((hour * 60.0 + minute) * 60.0 + second + millisecond / 1000.0) * 1000.0 / kMillisecondsPerDay;
  // Before 1899-12-30 the time still counts forward within the day.
  return days < 0 ? days - time : days + time;
}

TDateParts DecodeDateTime(TDateTime value) {
  TDateParts parts;
  const double whole = std::trunc(value);
  CivilFromDayNumber(static_cast<int64_t>(whole) + kDateTimeEpoch, parts.year, parts.month, parts.day);
  int64_t milliseconds = std::llround(std::fabs(value - whole) * kMillisecondsPerDay);
  if (milliseconds >= 86400000) milliseconds = 86399999;
  parts.millisecond = static_cast<int>(milliseconds % 1000);
  parts.second = static_cast<int>(milliseconds / 1000 % 60);
  parts.minute = static_cast<int>(milliseconds / 60000 % 60);
  parts.hour = static_cast<int>(milliseconds / 3600000);
  return parts;
}

TDateTime Now() {
  // No tzset here: it rewrites process-wide globals under other threads.
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  now.tv_sec += static_cast<time_t>(clockShiftSeconds.load(std::memory_order_relaxed));
  struct tm local {};
  ::localtime_r(&now.tv_sec, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec > 59 ? 59 : local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
}

void TEST_ShiftClock(int64_t seconds) { clockShiftSeconds.store(seconds, std::memory_order_relaxed); }

TDateTime LocalTimeToUTC(TDateTime value) { return value + BiasInMinutes() / 60.0 / 24.0; }

TDateTime UTCToLocalTime(TDateTime value) { return value - BiasInMinutes() / 60.0 / 24.0; }

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

TDateTime NormalizeToUTC(const std::string& zoneText, double offset, TDateTime value) {
  return zoneText.empty() || zoneText == "X" ? value : value - offset;
}

std::string CleanDateText(const std::string& text) {
  std::string cleaned;
  for (char c : Trim(text)) {
    const unsigned char code = static_cast<unsigned char>(c);
    if (code == 160) cleaned += ' ';
    else if (c == ' ' || (code >= 43 && code <= 58) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '\\')
      cleaned += c;
  }
  return cleaned;
}

TDateTime ParseISO8601Date(const std::string& text, double& offset, std::string& zoneText) {
  offset = 0.0;
  zoneText = "*";
  const std::string cleaned = Upper(CleanDateText(text));
  const size_t t = cleaned.find('T');
  const std::string datePart = t == std::string::npos ? std::string() : cleaned.substr(0, t);
  // Fraction digits of any length may stand before the zone, so the time
  // part is not cut; the zone text is, to fit the stored zone column.
  const std::string timePart = t == std::string::npos ? std::string() : cleaned.substr(t + 1);
  const IsoDate date = ReadIsoDate(datePart, text);
  if (timePart.empty() || timePart == "Z") return EncodeDateTime(date.year, date.month, date.day);

  const int hour = ReadFixedDigits(timePart, 0, 2);
  if (hour < 0 || hour > 23) Fail("Invalid hour ! " + text);
  const int minute = ReadFixedDigits(timePart, 3, 2);
  if (minute < 0 || minute > 59) Fail("Invalid hour ! " + text);
  size_t position = 5;
  // Publishers leave out the seconds and the zone; a date without a zone is
  // read as UTC (zone text "*").
  if (position >= timePart.size()) return EncodeDateTime(date.year, date.month, date.day, hour, minute);
  int second = 0;
  if (timePart[position] == ':') {
    second = ReadFixedDigits(timePart, position + 1, 2);
    if (second == 60) second = 59;  // a leap second stays within its minute
    if (second < 0 || second > 59) Fail("Invalid second ! " + text);
    position += 3;
    if (position < timePart.size() && timePart[position] == '.')
      for (++position; position < timePart.size() && IsDigit(timePart[position]);) ++position;
  }
  if (position >= timePart.size()) return EncodeDateTime(date.year, date.month, date.day, hour, minute, second);
  const std::string zone = timePart.substr(position, kMaxZoneTextLength - 1);
  zoneText = "*" + zone;
  offset = ReadIsoOffset(zone);
  return EncodeDateTime(date.year, date.month, date.day, hour, minute, second);
}

double ZoneToOffset(const std::string& zoneText) {
  std::string zone = Upper(CleanDateText(zoneText));
  size_t sign = zone.find('+');
  if (sign == std::string::npos) sign = zone.find('-');
  double hours = 0.0;
  if (sign != std::string::npos) {
    hours = SignedZoneHours(zone.substr(sign));
    zone.erase(sign);
  }
  return NamedZoneHours(Trim(zone), hours) / 24.0;
}

void SplitRFC822Date(const std::string& text, int& day, int& month, std::string& zoneText, int& millisecond,
                     int& second, int& minute, int& hour, int& year) {
  day = month = millisecond = second = minute = hour = year = 0;
  zoneText.clear();
  std::string rest = WithoutWeekday(Trim(CleanDateText(WithoutComments(text))));
  day = ReadInteger(TakeBefore(rest, ' '));
  month = MonthOfName(TakeBefore(rest, ' '));
  year = ExpandYear(ReadInteger(TakeBefore(rest, ' ')));
  hour = ReadInteger(TakeBefore(rest, ':'));
  const bool withSeconds = rest.find(':') != std::string::npos;
  minute = ReadInteger(TakeBefore(rest, withSeconds ? ':' : ' '));
  if (withSeconds) second = ReadInteger(TakeBefore(rest, ' '));
  zoneText = Trim(rest);
}

TDateTime ParseRFC822Date(const std::string& text, double& offset, std::string& zoneText) {
  int day, month, millisecond, second, minute, hour, year;
  std::string zone;
  SplitRFC822Date(Trim(text), day, month, zone, millisecond, second, minute, hour, year);
  const TDateTime value = EncodeDateTime(year, month, day, hour, minute, second, millisecond);
  zoneText = "**" + Trim(CleanDateText(zone));
  offset = ZoneToOffset(zone);
  return value;
}

TDateTime ParseSqlDate(const std::string& text) {
  const std::string trimmed = Trim(text);
  if (trimmed.find('-') != 4) Fail("Invalid date");
  const int year = ReadSqlNumber(std::string_view(trimmed).substr(0, 4), 1, 9999);
  std::string rest = trimmed.substr(5);
  if (rest.find('-') != 2) Fail("Invalid date");
  const int month = ReadSqlNumber(std::string_view(rest).substr(0, 2), 1, 12);
  rest = rest.substr(3);
  const size_t blank = rest.find(' ');
  if (blank == std::string::npos && rest.size() != 2) Fail("Invalid date");
  const int day = ReadSqlNumber(std::string_view(rest).substr(0, blank), 1, DaysInMonth(year, month));
  if (blank == std::string::npos) return EncodeDateTime(year, month, day);
  const std::string time = Trim(std::string_view(rest).substr(blank + 1));
  if (time.find(':') != 2) Fail("Invalid date");
  const int hour = ReadSqlNumber(std::string_view(time).substr(0, 2), 0, 23);
  const std::string_view afterHour = std::string_view(time).substr(3);
  const int minute = ReadSqlNumber(afterHour.substr(0, afterHour.find(':')), 0, 59);
  return EncodeDateTime(year, month, day, hour, minute);
}

bool ReadFeedDate(const std::string& text, TDateTime& utc, std::string& zoneText) {
  double offset = 0;
  std::string zone;
  const std::string cleaned = Trim(CleanDateText(text));
  if (cleaned.empty()) return false;
  try {
    if (cleaned.find('-') != 4) {
      const TDateTime value = ParseRFC822Date(text, offset, zone);
      utc = NormalizeToUTC(zone, offset, value);
      zoneText = zone;
      return true;
    }
  } catch (const kt::Exception&) {
  }
  try {
    const TDateTime value = ParseISO8601Date(text, offset, zone);
    utc = NormalizeToUTC(zone, offset, value);
    zoneText = zone;
    return true;
  } catch (const kt::Exception&) {
  }
  try {
    utc = ParseSqlDate(cleaned);
    zoneText = "***";
    return true;
  } catch (const kt::Exception&) {
    return false;
  }
}

int DateAgeGroup(TDateTime value, TDateTime reference) {
  const int64_t day = DayNumberOf(value);
  const int64_t today = DayNumberOf(reference);
  if (day >= today) return 1;
  if (day == today - 1) return 2;
  const int64_t weeks = (WeekStartOf(today) - WeekStartOf(day)) / 7;
  if (weeks <= 4) return static_cast<int>(3 + weeks);
  return 8;
}

}  // namespace tidewell
