// SPDX-License-Identifier: MIT
#include "engine/url_parts.h"

#include <algorithm>
#include <cctype>

#include "engine/utf8_text.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

// Cuts `text` at the first `mark`: returns what follows it, keeps the front.
std::string_view CutAtFirst(std::string_view& text, char mark) {
  const size_t found = text.find(mark);
  if (found == std::string_view::npos) return {};
  const std::string_view after = text.substr(found + 1);
  text = text.substr(0, found);
  return after;
}

// A protocol counts only when "://" comes before any "/" or "?", so a URL
// carried in a query ("/go?to=http://x") is not taken for one.
size_t ProtocolEnd(std::string_view url) {
  const size_t marker = url.find("://");
  if (marker == std::string_view::npos) return marker;
  return url.substr(0, marker).find_first_of("/?") == std::string_view::npos ? marker : std::string_view::npos;
}

void SplitHostPort(std::string_view hostPort, TUrlParts& parts) {
  // A bracketed IPv6 address holds colons of its own.
  const size_t closing = hostPort.rfind(']');
  const size_t colon = hostPort.rfind(':');
  if (colon != std::string_view::npos && (closing == std::string_view::npos || colon > closing)) {
    parts.port = hostPort.substr(colon + 1);
    hostPort = hostPort.substr(0, colon);
  }
  parts.host = hostPort;
}

void SplitAuthority(std::string_view authority, TUrlParts& parts) {
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view userInfo = authority.substr(0, at);
    parts.password = CutAtFirst(userInfo, ':');
    parts.user = userInfo;
    authority = authority.substr(at + 1);
  }
  SplitHostPort(authority, parts);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A user name or password as RFC 3986 writes it in an address: "%40" is
// "@", "%C3%A9" is "é". A "%" without two hex digits stands for itself.
// Escapes that make no UTF-8 text, or a control character (which a Digest
// answer would carry into the request's head), leave the part as written.
std::string DecodeUserInfoPart(const std::string& part) {
  std::string decoded;
  for (size_t at = 0; at < part.size(); ++at) {
    const int high = at + 2 < part.size() ? HexValue(part[at + 1]) : -1;
    const int low = at + 2 < part.size() ? HexValue(part[at + 2]) : -1;
    if (part[at] == '%' && high >= 0 && low >= 0) {
      decoded += static_cast<char>(high * 16 + low);
      at += 2;
    } else {
      decoded += part[at];
    }
  }
  const bool control = std::any_of(decoded.begin(), decoded.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
  return control || !IsValidUtf8(decoded) ? part : decoded;
}

bool IsHostNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// "host.example/...", "localhost:8080", "[::1]?..." at the front of the
// text; with plainNames also a name without a dot.
bool StartsWithHost(std::string_view text, bool plainNames) {
  size_t end = 0;
  if (!text.empty() && text.front() == '[') {
    end = text.find(']');
    if (end == std::string_view::npos) return false;
    ++end;
  } else {
    while (end < text.size() && IsHostNameCharacter(text[end])) ++end;
    const std::string_view host = text.substr(0, end);
    const bool named = host.find('.') != std::string_view::npos || host == "localhost";
    if (host.empty() || (!plainNames && !named)) return false;
  }
  if (end < text.size() && text[end] == ':') {
    const size_t digits = end + 1;
    for (++end; end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) != 0;) ++end;
    if (end == digits) return false;
  }
  return end == text.size() || std::string_view("/?#").find(text[end]) != std::string_view::npos;
}

// The "@" that ends user-info holding a raw "/", "?" or "#"; npos when the
// address holds none (see UserInfoNeedsEscaping).
size_t RawUserInfoEnd(std::string_view url) {
  const size_t protocolEnd = ProtocolEnd(url);
  if (protocolEnd == std::string_view::npos) return protocolEnd;
  const size_t start = protocolEnd + 3;
  const size_t authorityEnd = url.find_first_of("/?#", start);
  if (authorityEnd == std::string_view::npos) return authorityEnd;
  std::string_view hostPort = url.substr(start, authorityEnd - start);
  hostPort.remove_prefix(hostPort.rfind('@') + 1);
  const size_t colon = hostPort.rfind(':');
  const size_t closing = hostPort.rfind(']');
  if (colon == std::string_view::npos || (closing != std::string_view::npos && colon < closing)) {
    return std::string_view::npos;
  }
  TUrlParts parts;
  SplitHostPort(hostPort, parts);
  const bool numericPort = !parts.port.empty() && std::all_of(parts.port.begin(), parts.port.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
  size_t last = std::string_view::npos;
  const size_t query = url.find('?', authorityEnd);
  for (size_t at = url.find('@', authorityEnd); at != std::string_view::npos; at = url.find('@', at + 1)) {
    // "/@name/" is a path of its own ("https://h:8080/@bob/feed.xml"),
    // and so is "?to=a@b"; "x@name/" before any "?" is user-info.
    const bool plainNames = !numericPort || (at < query && url[at - 1] != '/');
    if (StartsWithHost(url.substr(at + 1), plainNames)) return at;
    last = at;
  }
  return numericPort ? std::string_view::npos : last;
}

}  // namespace

const char kUserInfoNotEscaped[] =
    "The user name or password in the address holds a raw \"/\", \"?\" or \"#\": write them percent-encoded "
    "(%2F, %3F, %23)";

bool UserInfoNeedsEscaping(std::string_view url) { return RawUserInfoEnd(url) != std::string_view::npos; }

void RefuseUnescapedUserInfo(std::string_view url) {
  if (UserInfoNeedsEscaping(url)) throw kt::Exception(kUserInfoNotEscaped);
}

TUrlParts TUrlParts::Split(std::string_view url) {
  TUrlParts parts;
  parts.bookmark = CutAtFirst(url, '#');
  std::string_view rest = url;
  const size_t protocolEnd = ProtocolEnd(url);
  if (protocolEnd != std::string_view::npos) {
    parts.protocol = url.substr(0, protocolEnd);
    rest = url.substr(protocolEnd + 3);
    const size_t authorityEnd = rest.find_first_of("/?");
    SplitAuthority(rest.substr(0, authorityEnd), parts);
    rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
  }
  std::string_view beforeQuery = rest;
  parts.params = CutAtFirst(beforeQuery, '?');
  const size_t lastSlash = beforeQuery.rfind('/');
  const size_t pathLength = lastSlash == std::string_view::npos ? 0 : lastSlash + 1;
  parts.path = rest.substr(0, pathLength);
  parts.document = rest.substr(pathLength);
  return parts;
}

bool ExtractUrlCredentials(std::string& url, std::string& userName, std::string& password) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return false;
  const size_t authorityEnd = url.find_first_of("/?#", scheme + 3);
  const size_t at = url.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd);
  if (at == std::string::npos || at < scheme + 3) return false;
  const std::string credentials = url.substr(scheme + 3, at - scheme - 3);
  const size_t colon = credentials.find(':');
  // Split before decoding: an escaped ":" belongs to the user name.
  userName = DecodeUserInfoPart(credentials.substr(0, colon));
  password = colon == std::string::npos ? std::string() : DecodeUserInfoPart(credentials.substr(colon + 1));
  url.erase(scheme + 3, at - scheme - 2);
  return true;
}

std::string UrlWithoutCredentials(std::string url) {
  const size_t rawEnd = RawUserInfoEnd(url);
  if (rawEnd != std::string::npos) return url.erase(ProtocolEnd(url) + 3, rawEnd - ProtocolEnd(url) - 2);
  std::string userName, password;
  ExtractUrlCredentials(url, userName, password);
  return url;
}

}  // namespace tidewell
