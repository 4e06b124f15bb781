// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_worker_text.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "engine/addresses/address_parse.h"
#include "engine/tidewell_date.h"

namespace tidewell {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UpperCaseAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string LowerCaseAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string TrimBlanks(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

std::string FormatHttpDate(TDateTime utc) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const TDateParts parts = DecodeDateTime(utc);
  // Day 0 (1899-12-30) was a Saturday.
  const long long day = static_cast<long long>(std::floor(utc));
  const int weekday = static_cast<int>(((day + 6) % 7 + 7) % 7);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[weekday], parts.day,
                kMonths[(parts.month + 11) % 12], parts.year, parts.hour, parts.minute, parts.second);
  return text;
}

std::string PercentDecode(const std::string& text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string UrlHostLower(const std::string& url) {
  // The host the address is fetched from, as libcurl reads it.
  const TParsedAddress parsed = ParseAddress(url);
  return parsed.valid ? parsed.placeHost : std::string();
}

}  // namespace tidewell
