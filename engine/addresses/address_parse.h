// SPDX-License-Identifier: MIT
// An address read by the parser that connects: libcurl's URL API, with the
// flags the HTTP exchange's curl handle reads its URL with. Where the
// authority ends, which host and port it names and what user-info it holds
// is decided here once, for the request, the credentials' place and the
// address key alike, so that they cannot disagree.
#pragma once

#include <string>
#include <string_view>

namespace tidewell {

struct TParsedAddress {
  bool valid = false;
  std::string error;  // why libcurl refuses it, when not valid
  std::string scheme;  // lower case
  bool withUserInfo = false;
  std::string user;      // decoded as UTF-8; as written where that makes no text or a control character
  std::string password;  // the same
  std::string host;      // as libcurl connects to it: escapes decoded, IPv6 written short
  std::string placeHost;  // the host's one spelling (CanonicalHostName), IPv6 zone included
  std::string zone;      // an IPv6 literal's zone, without "%25"
  std::string port;      // decimal; the scheme's own when none is written; empty when unknown
  std::string writtenPort;  // decimal, as far as the address writes one
  std::string path;      // "/" at least; "." and ".." segments resolved as libcurl resolves them
  std::string query;     // without "?"
  bool withQuery = false;
};

// The address as libcurl reads it when it is handed to a request, its host
// made one spelling; not valid where libcurl refuses it, or its host
// (CanonicalHostName). An address without "scheme://" is read as the "http://" one that is stored
// for it (a text starting with "/" is a path and no address).
TParsedAddress ParseAddress(std::string_view url);

// The address trimmed, with "http://" in front when it has no scheme: the
// text ParseAddress reads.
std::string AddressWithScheme(std::string_view url);

}  // namespace tidewell
