// SPDX-License-Identifier: MIT
#include "engine/feed_address.h"

#include <cctype>

#include "engine/tidewell_utilities.h"
#include "engine/url_parts.h"

namespace tidewell {
namespace {

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string TrimmedBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

// The address split as it is compared: an address without a scheme is the
// http one that AddFeed stores for it.
TUrlParts SplitForComparison(std::string_view url) {
  std::string text = TrimmedBlanks(url);
  TUrlParts parts = TUrlParts::Split(text);
  if (parts.protocol.empty()) parts = TUrlParts::Split("http://" + text);
  return parts;
}

std::string PlaceOf(const TUrlParts& parts) {
  const std::string scheme = LowerAscii(parts.protocol);
  std::string port = parts.port;
  if (scheme == "http" && port == "80") port.clear();
  if (scheme == "https" && port == "443") port.clear();
  if (port.empty()) port = scheme == "https" ? "443" : scheme == "http" ? "80" : "";
  return scheme + "://" + LowerAscii(parts.host) + ":" + port;
}

// "%2f" and "%2F" are one character.
std::string WithUpperEscapes(std::string text) {
  const auto hex = [&](size_t at) { return std::isxdigit(static_cast<unsigned char>(text[at])) != 0; };
  for (size_t at = 0; at + 2 < text.size(); ++at) {
    if (text[at] != '%' || !hex(at + 1) || !hex(at + 2)) continue;
    for (size_t digit = at + 1; digit <= at + 2; ++digit)
      text[digit] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[digit])));
    at += 2;
  }
  return text;
}

}  // namespace

std::string CredentialsPlace(std::string_view url) { return PlaceOf(SplitForComparison(url)); }

bool SamePlace(std::string_view a, std::string_view b) { return CredentialsPlace(a) == CredentialsPlace(b); }

std::string FeedAddressKey(std::string_view url) {
  const TUrlParts parts = SplitForComparison(url);
  const std::string path = parts.path.empty() ? "/" : parts.path;
  return PlaceOf(parts) + WithUpperEscapes(path + parts.document);
}

bool SameFeedAddress(std::string_view a, std::string_view b) { return FeedAddressKey(a) == FeedAddressKey(b); }

TFeedAddress FeedAddressForStorage(const std::string& url) {
  TFeedAddress address;
  address.link = url;
  NormalizeUrl(address.link);
  address.withCredentials = ExtractUrlCredentials(address.link, address.userName, address.password);
  return address;
}

}  // namespace tidewell
