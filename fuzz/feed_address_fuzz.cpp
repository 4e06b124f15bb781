// SPDX-License-Identifier: MIT
// libFuzzer target for the address functions. The input is an address as a
// list, a feed or the listener may give it. Checks: nothing raises but
// RequestUrl (which says it does); the address handed to a request names
// the place its credentials are looked up by, holds no user-info and has
// the same key; the address shown holds no user-info libcurl would read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/addresses/address_parse.h"
#include "engine/addresses/feed_address.h"
#include "engine/addresses/url_parts.h"
#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tidewell;
  const std::string url = fuzzing::TextOf(data, size);
  std::string key, place, shown, requested;
  try {
    key = FeedAddressKey(url);
    place = CredentialsPlace(url);
    FeedAddressLookupText(url);
    shown = UrlWithoutCredentials(url);
    std::string rest = url, user, password;
    ExtractUrlCredentials(rest, user, password);
    TUrlParts::Split(url);
    UserInfoNeedsEscaping(url);
  } catch (...) {
    fuzzing::Broken();
  }
  if (ParseAddress(shown).withUserInfo && !UserInfoNeedsEscaping(shown)) fuzzing::Broken();
  try {
    requested = RequestUrl(url);
  } catch (const std::exception&) {
    return 0;
  }
  const TParsedAddress sent = ParseAddress(requested);
  if (!sent.valid || sent.withUserInfo) fuzzing::Broken();
  if (CredentialsPlace(requested) != place || FeedAddressKey(requested) != key) fuzzing::Broken();
  return 0;
}
