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

}  // namespace

std::string CredentialsPlace(std::string_view url) { return PlaceOf(SplitForComparison(url)); }

bool SamePlace(std::string_view a, std::string_view b) { return CredentialsPlace(a) == CredentialsPlace(b); }

std::string FeedAddressKey(std::string_view url) {
  const TUrlParts parts = SplitForComparison(url);
  const std::string path = parts.path.empty() ? "/" : parts.path;
  return PlaceOf(parts) + LowerAscii(path + parts.document);
}

bool SameFeedAddress(std::string_view a, std::string_view b) { return FeedAddressKey(a) == FeedAddressKey(b); }

TAddressMove DecideAddressMove(TAddressChange change, std::string_view credentialsPlace, std::string_view newAddress,
                               bool withCredentials) {
  if (!withCredentials || SamePlace(credentialsPlace, newAddress)) return TAddressMove::kMove;
  return change == TAddressChange::kPermanentRedirect ? TAddressMove::kStay : TAddressMove::kMoveWithoutCredentials;
}

TFeedAddress FeedAddressForStorage(const std::string& url) {
  TFeedAddress address;
  address.link = url;
  NormalizeUrl(address.link);
  address.withCredentials = ExtractUrlCredentials(address.link, address.userName, address.password);
  return address;
}

}  // namespace tidewell
