// SPDX-License-Identifier: MIT
// Small text helpers of the feed worker: ASCII case, blanks, the HTTP date
// of conditional requests, and the URL pieces that the file cache keys on.
#pragma once

#include <string>

#include "engine/tidewell_struct.h"

namespace tidewell {

std::string UpperCaseAscii(std::string text);
std::string LowerCaseAscii(std::string text);
// Without leading and trailing blanks and control characters.
std::string TrimBlanks(const std::string& text);
// A UTC date-time as an RFC 1123 date: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHttpDate(TDateTime utc);
// %-escapes decoded; a "%" without two hexadecimal digits stays as it is.
std::string PercentDecode(const std::string& text);
// The host a URL is fetched from (ParseAddress: lower case, an international
// name in its lookup form), without user info and port; "" when libcurl
// cannot read the URL.
std::string UrlHostLower(const std::string& url);

}  // namespace tidewell
