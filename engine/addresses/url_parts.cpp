// SPDX-License-Identifier: MIT
#include "engine/addresses/url_parts.h"

#include "engine/addresses/address_parse.h"
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
  return url.substr(0, marker).find_first_of("/?#@") == std::string_view::npos ? marker : std::string_view::npos;
}

// The authority of "scheme://authority/...": from after "://" to the first
// "/", "?" or "#", as libcurl reads it.
std::string_view Authority(std::string_view url) {
  const size_t protocolEnd = ProtocolEnd(url);
  if (protocolEnd == std::string_view::npos) return {};
  const std::string_view rest = url.substr(protocolEnd + 3);
  return rest.substr(0, rest.find_first_of("/?#"));
}

// The user-info of a readable address ends at the first "@" of its
// authority (libcurl's reading); npos when it holds none.
size_t UserInfoEnd(std::string_view url, const TParsedAddress& parsed) {
  if (!parsed.valid || !parsed.withUserInfo) return std::string_view::npos;
  const size_t at = Authority(url).find('@');
  return at == std::string_view::npos ? at : ProtocolEnd(url) + 3 + at;
}

// The text without its user-info, checked with libcurl to name the very
// place the address names: the cut can never send it elsewhere.
std::string WithoutUserInfo(const std::string& text, const TParsedAddress& parsed) {
  const size_t at = UserInfoEnd(text, parsed);
  if (at == std::string::npos) return text;
  const size_t start = ProtocolEnd(text) + 3;
  std::string cut = text;
  cut.erase(start, at + 1 - start);
  const TParsedAddress after = ParseAddress(cut);
  if (!after.valid || after.withUserInfo || after.scheme != parsed.scheme || after.placeHost != parsed.placeHost ||
      after.port != parsed.port)
    throw kt::Exception(kUserInfoNotEscaped);
  return cut;
}

}  // namespace

const char kUserInfoNotEscaped[] =
    "The user name or password in the address holds a raw \"/\", \"?\", \"#\" or \"@\": write them percent-encoded "
    "(%2F, %3F, %23, %40)";

bool UserInfoNeedsEscaping(std::string_view url) {
  const std::string text = AddressWithScheme(url);
  const size_t protocolEnd = ProtocolEnd(text);
  if (protocolEnd == std::string::npos) return false;
  if (text.find('@', protocolEnd + 3) == std::string::npos) return false;
  if (!ParseAddress(text).valid) return true;
  // "http://alice:/pw@h/f": a password starting with "/" reads as an empty port.
  const std::string_view authority = Authority(text);
  const size_t authorityEnd = protocolEnd + 3 + authority.size();
  return !authority.empty() && authority.back() == ':' && text.find('@', authorityEnd) != std::string::npos;
}

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
    const std::string_view authority = Authority(url);
    rest = url.substr(protocolEnd + 3 + authority.size());
    const TParsedAddress parsed = ParseAddress(url);
    if (parsed.valid) {
      const size_t at = authority.find('@');
      if (parsed.withUserInfo && at != std::string_view::npos) {
        std::string_view userInfo = authority.substr(0, at);
        parts.password = CutAtFirst(userInfo, ':');
        parts.user = userInfo;
      }
      parts.host = parsed.host;
      parts.port = parsed.writtenPort;
    } else {
      // Nothing connects to it; its parts still serve to resolve links against.
      std::string_view hostPort = authority.substr(authority.find('@') + 1);
      const size_t colon = hostPort.rfind(':');
      if (colon != std::string_view::npos && hostPort.find(']', colon) == std::string_view::npos) {
        parts.port = hostPort.substr(colon + 1);
        hostPort = hostPort.substr(0, colon);
      }
      parts.host = hostPort;
    }
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
  if (ProtocolEnd(url) == std::string::npos) return false;
  const TParsedAddress parsed = ParseAddress(url);
  if (UserInfoEnd(url, parsed) == std::string::npos) return false;
  url = WithoutUserInfo(url, parsed);
  userName = parsed.user;
  password = parsed.password;
  return true;
}

std::string RequestUrl(const std::string& url) {
  RefuseUnescapedUserInfo(url);
  const std::string text = AddressWithScheme(url);
  const TParsedAddress parsed = ParseAddress(text);
  if (!parsed.valid) {
    throw kt::Exception("The address cannot be fetched (" + parsed.error + "): " + UrlWithoutCredentials(url));
  }
  return WithoutUserInfo(text, parsed);
}

std::string UrlWithoutCredentials(std::string url) {
  const std::string text = AddressWithScheme(url);
  const TParsedAddress parsed = ParseAddress(text);
  if (parsed.valid && !UserInfoNeedsEscaping(text)) return parsed.withUserInfo ? WithoutUserInfo(text, parsed) : url;
  const size_t protocolEnd = ProtocolEnd(text);
  const size_t at = text.rfind('@');
  if (protocolEnd == std::string::npos || at == std::string::npos || at < protocolEnd) return url;
  return text.substr(0, protocolEnd + 3) + text.substr(at + 1);
}

}  // namespace tidewell
