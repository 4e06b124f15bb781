// SPDX-License-Identifier: MIT
#include "engine/addresses/address_parse.h"

#include <curl/curl.h>

#include <arpa/inet.h>

#include <algorithm>
#include <memory>

#include "engine/addresses/host_name.h"
#include "engine/utf8_text.h"

namespace tidewell {
namespace {

using TUrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// The flags libcurl reads CURLOPT_URL with.
constexpr unsigned int kConnectFlags = CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME;

bool GetPart(CURLU* handle, CURLUPart part, std::string& value, unsigned int flags = 0) {
  char* text = nullptr;
  if (curl_url_get(handle, part, &text, flags) != CURLUE_OK) return false;
  value = text;
  curl_free(text);
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "scheme://" as RFC 3986 writes a scheme (the rule NormalizeUrl stores by).
bool StartsWithScheme(std::string_view text) {
  if (text.empty() || !IsAsciiLetter(text[0])) return false;
  size_t at = 1;
  while (at < text.size() && (IsAsciiLetter(text[at]) || (text[at] >= '0' && text[at] <= '9') || text[at] == '+' ||
                              text[at] == '-' || text[at] == '.'))
    ++at;
  return text.substr(at, 3) == "://";
}

// A user name or password decoded as RFC 3986 writes it ("%40" is "@"),
// by libcurl; escapes that make no UTF-8 text, or a control character
// (which a Digest answer would carry into the request's head), leave it
// as written.
std::string UserInfoPart(CURLU* handle, CURLUPart part, bool& present) {
  std::string written, decoded;
  present = GetPart(handle, part, written);
  if (!present || !GetPart(handle, part, decoded, CURLU_URLDECODE)) return written;
  const bool control = std::any_of(decoded.begin(), decoded.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
  return control || !IsValidUtf8(decoded) ? written : decoded;
}

// An IPv6 literal in one form whichever way it is written
// ("[0:0:0:0:0:0:0:1]", "[::FFFF:127.0.0.1]"); it is the address the
// connection goes to.
std::string ShortIpv6(const std::string& host) {
  if (host.size() < 2 || host.front() != '[') return host;
  in6_addr address{};
  if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &address) != 1) return host;
  char text[INET6_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET6, &address, text, sizeof text) == nullptr) return host;
  return "[" + std::string(text) + "]";
}

}  // namespace

std::string AddressWithScheme(std::string_view url) {
  const size_t first = url.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  std::string text(url.substr(first, url.find_last_not_of(" \t\r\n") - first + 1));
  if (StartsWithScheme(text)) return text;
  if (text.rfind("//", 0) == 0) return "http:" + text;
  if (text.front() == '/') return text;
  return "http://" + text;
}

TParsedAddress ParseAddress(std::string_view url) {
  TParsedAddress parsed;
  const std::string text = AddressWithScheme(url);
  TUrlHandle handle(curl_url(), &curl_url_cleanup);
  if (handle == nullptr) {
    parsed.error = "out of memory";
    return parsed;
  }
  const CURLUcode code = curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), kConnectFlags);
  if (code != CURLUE_OK || !StartsWithScheme(text)) {
    parsed.error = code != CURLUE_OK ? curl_url_strerror(code) : "no scheme";
    return parsed;
  }
  // libcurl takes "http:///h/f" for the host "h"; the address names none.
  if (text.find(":///") != std::string::npos && text.find(":///") == text.find("://")) {
    parsed.error = "no host";
    return parsed;
  }
  GetPart(handle.get(), CURLUPART_SCHEME, parsed.scheme);
  parsed.scheme = Lower(parsed.scheme);
  bool withUser = false, withPassword = false, withOptions = false;
  parsed.user = UserInfoPart(handle.get(), CURLUPART_USER, withUser);
  parsed.password = UserInfoPart(handle.get(), CURLUPART_PASSWORD, withPassword);
  const std::string options = UserInfoPart(handle.get(), CURLUPART_OPTIONS, withOptions);
  // libcurl splits ";options" off the password for a few protocols only;
  // the credentials are what the user-info holds.
  if (withOptions) parsed.password += ";" + options;
  parsed.withUserInfo = withUser || withPassword || withOptions;
  if (!GetPart(handle.get(), CURLUPART_HOST, parsed.host) || parsed.host.empty()) {
    parsed.error = "no host";
    return parsed;
  }
  GetPart(handle.get(), CURLUPART_ZONEID, parsed.zone);
  if (!CanonicalHostName(ShortIpv6(parsed.host), parsed.placeHost, parsed.error)) return parsed;
  if (!parsed.zone.empty()) parsed.placeHost += "%" + parsed.zone;
  GetPart(handle.get(), CURLUPART_PORT, parsed.port, CURLU_DEFAULT_PORT);
  GetPart(handle.get(), CURLUPART_PORT, parsed.writtenPort);
  if (!GetPart(handle.get(), CURLUPART_PATH, parsed.path) || parsed.path.empty()) parsed.path = "/";
  parsed.withQuery = GetPart(handle.get(), CURLUPART_QUERY, parsed.query);
  parsed.valid = true;
  return parsed;
}

}  // namespace tidewell
