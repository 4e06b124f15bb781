// SPDX-License-Identifier: MIT
#include "engine/addresses/feed_address.h"

#include <algorithm>
#include <cctype>

#include "engine/addresses/address_parse.h"
#include "engine/addresses/url_parts.h"
#include "engine/tidewell_utilities.h"

namespace tidewell {
namespace {

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The place of a readable address; empty for one that libcurl cannot read
// (no credentials go there, and it is at no place another address is).
std::string PlaceOf(const TParsedAddress& parsed) {
  if (!parsed.valid) return {};
  return parsed.scheme + "://" + parsed.placeHost + ":" + parsed.port;
}

bool IsUnreserved(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%7E" is "~": an escaped letter, digit, "-", ".", "_" or "~" is the
// character itself. Any other escape means something else than its
// character ("%2F" is no "/") and stays.
std::string DecodeUnreserved(std::string_view text) {
  std::string decoded;
  for (size_t at = 0; at < text.size(); ++at) {
    const int high = text[at] == '%' && at + 2 < text.size() ? HexValue(text[at + 1]) : -1;
    const int low = high >= 0 ? HexValue(text[at + 2]) : -1;
    const char value = static_cast<char>(high * 16 + low);
    if (low >= 0 && IsUnreserved(value)) {
      decoded += value;
      at += 2;
    } else {
      decoded += text[at];
    }
  }
  return decoded;
}

// "/a/./b/../f" is "/a/f": the segments "." and ".." resolved as a
// relative reference's are.
std::string WithoutDotSegments(std::string_view path) {
  std::string output;
  while (!path.empty()) {
    if (path.rfind("../", 0) == 0 || path.rfind("./", 0) == 0) {
      path.remove_prefix(path.find('/') + 1);
    } else if (path.rfind("/./", 0) == 0 || path == "/.") {
      path = path.size() > 2 ? path.substr(2) : "/";
    } else if (path.rfind("/../", 0) == 0 || path == "/..") {
      path = path.size() > 3 ? path.substr(3) : "/";
      const size_t cut = output.rfind('/');
      output.erase(cut == std::string::npos ? 0 : cut);
    } else if (path == "." || path == "..") {
      path = {};
    } else {
      const size_t next = path.find('/', 1);
      output += path.substr(0, next);
      path = next == std::string_view::npos ? std::string_view() : path.substr(next);
    }
  }
  return output;
}

// Path and query as RFC 3986 compares them: unreserved characters
// unescaped, then dot segments of the path resolved; "" is "/".
std::string NormalPathAndQuery(const TParsedAddress& parsed) {
  const std::string decoded = DecodeUnreserved(parsed.path + (parsed.withQuery ? "?" + parsed.query : ""));
  const size_t query = decoded.find('?');
  std::string path = WithoutDotSegments(std::string_view(decoded).substr(0, query));
  if (path.empty() || path.front() != '/') path.insert(0, "/");
  return query == std::string::npos ? path : path + decoded.substr(query);
}

}  // namespace

std::string CredentialsPlace(std::string_view url) { return PlaceOf(ParseAddress(url)); }

bool SamePlace(std::string_view a, std::string_view b) {
  const std::string place = CredentialsPlace(a);
  return !place.empty() && place == CredentialsPlace(b);
}

std::string FeedAddressKey(std::string_view url) {
  const TParsedAddress parsed = ParseAddress(url);
  // Unreadable addresses are apart from every readable one, and from each
  // other unless written alike.
  if (!parsed.valid) return "unread:" + LowerAscii(AddressWithScheme(url));
  return PlaceOf(parsed) + LowerAscii(NormalPathAndQuery(parsed));
}

bool SameFeedAddress(std::string_view a, std::string_view b) { return FeedAddressKey(a) == FeedAddressKey(b); }

namespace {

// Any part of the text is held where it is; a parameter longer than the
// link column would not be taken by the database.
constexpr size_t kLookupTextLength = 100;

std::string LongestAlphanumericRun(std::string_view text) {
  std::string_view longest;
  for (size_t at = 0; at < text.size();) {
    size_t end = at;
    while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end])) != 0) ++end;
    if (end - at > longest.size()) longest = text.substr(at, end - at);
    at = end + 1;
  }
  return std::string(longest);
}

}  // namespace

const char kFeedAddressLookupCondition[] = "(link containing ? or link containing '%')";

std::string FeedAddressLookupText(std::string_view url) {
  const TParsedAddress parsed = ParseAddress(url);
  if (!parsed.valid) return {};
  const std::string pathAndQuery = LowerAscii(NormalPathAndQuery(parsed));
  const size_t query = pathAndQuery.find('?');
  const size_t lastSegment = pathAndQuery.rfind('/', query) + 1;
  // A host has no such text: libidn2 maps other letters to its ASCII ones
  // ("ẞ" is "ss"), so an address without one is looked for in every link.
  return LongestAlphanumericRun(std::string_view(pathAndQuery).substr(lastSegment)).substr(0, kLookupTextLength);
}

TAddressMove DecideAddressMove(TAddressChange change, std::string_view credentialsPlace, std::string_view newAddress,
                               bool withCredentials) {
  if (!withCredentials || SamePlace(credentialsPlace, newAddress)) return TAddressMove::kMove;
  return change == TAddressChange::kPermanentRedirect ? TAddressMove::kStay : TAddressMove::kMoveWithoutCredentials;
}

TFeedAddress FeedAddressForStorage(const std::string& url) {
  RefuseUnescapedUserInfo(url);
  TFeedAddress address;
  address.link = url;
  NormalizeUrl(address.link);
  address.withCredentials = ExtractUrlCredentials(address.link, address.userName, address.password);
  return address;
}

}  // namespace tidewell
