// SPDX-License-Identifier: MIT
#include "toolkit/kt_uri.h"

#include <vector>

#include "toolkit/kt_utils.h"

namespace kt {
namespace {

constexpr size_t npos = std::u16string_view::npos;

bool IsAsciiLetter(WideChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool IsSchemeChar(WideChar c) {
  return IsAsciiLetter(c) || IsCharDigitW(c) || c == u'+' || c == u'-' || c == u'.';
}

// The length of the scheme that s begins with: a letter, then letters, digits,
// "+", "-" and ".", stopped by a ":"; 0 when s begins with none.
size_t SchemeLength(std::u16string_view s) {
  if (s.empty() || !IsAsciiLetter(s[0])) return 0;
  size_t end = 1;
  while (end < s.size() && IsSchemeChar(s[end])) ++end;
  return end < s.size() && s[end] == u':' ? end : 0;
}

bool IsHostChar(WideChar c) { return IsAsciiLetter(c) || IsCharDigitW(c) || c == u'-' || c == u'.'; }

bool IsUserInfoChar(WideChar c) {
  if (IsAsciiLetter(c) || IsCharDigitW(c)) return true;
  return std::u16string_view(u"!$&'()*+,-.;=_~").find(c) != npos;
}

bool IsPathChar(WideChar c) { return c != u'#' && c != u'?'; }

bool IsQueryChar(WideChar c) { return c != u'#'; }

// User and password: their class, or "%" and two hexadecimal digits.
bool IsValidUserInfoPart(std::u16string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != u'%') {
      if (!IsUserInfoChar(s[i])) return false;
    } else if (i + 2 < s.size() && IsCharHexDigitW(s[i + 1]) && IsCharHexDigitW(s[i + 2])) {
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

bool SetChecked(bool valid, std::u16string_view value, WideString& field, bool& present) {
  if (valid) {
    field.assign(value);
  } else {
    field.clear();
  }
  present = valid;
  return valid;
}

bool StartsWith(std::u16string_view s, std::u16string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The reference's path when absolute, else appended to the base's path up to
// and including its last "/".
WideString MergePaths(std::u16string_view basePath, std::u16string_view refPath) {
  const size_t lastSlash = basePath.rfind(u'/');
  if (StartsWith(refPath, u"/") || lastSlash == npos) return WideString(refPath);
  WideString merged(basePath.substr(0, lastSlash + 1));
  merged += refPath;
  return merged;
}

using Segments = std::vector<std::u16string_view>;

// The path's segments between its "/" separators; "" gives one empty segment.
Segments SplitSegments(std::u16string_view path) {
  Segments segments;
  size_t start = 0;
  for (size_t slash = path.find(u'/'); slash != npos; slash = path.find(u'/', start)) {
    segments.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  segments.push_back(path.substr(start));
  return segments;
}

// One pass over the segments with an output stack, so that long references
// cost linear time. A "." segment goes (a final one leaves an empty segment).
// A ".." followed by more path takes the segment before it away, except a
// first "..", or a ".." right after a leading "/": those stay, since nothing
// stands before them to go back to, and the segment that follows a kept ".."
// is never taken as a step back itself.
Segments RemoveDotSegments(const Segments& segments) {
  Segments out;
  out.reserve(segments.size());
  bool firstPending = false;  // the next segment starts the path anew
  bool skipNext = false;
  for (size_t i = 0; i < segments.size(); ++i) {
    const std::u16string_view segment = segments[i];
    const bool last = i + 1 == segments.size();
    if (segment == u"." && !last) continue;
    if (segment == u".") {
      out.emplace_back();
      break;
    }
    const bool stepBack = !out.empty() && !firstPending && !skipNext && !last && segment == u"..";
    skipNext = false;
    if (firstPending || out.empty()) {
      out.push_back(segment);
      firstPending = false;
    } else if (!stepBack) {
      out.push_back(segment);
    } else if (out.size() >= 2) {
      out.pop_back();
    } else if (out.front().empty() || out.front() == u"..") {
      out.push_back(segment);
      skipNext = true;
    } else {
      out.clear();
      firstPending = true;
    }
  }
  // A final "segment/.." goes when a "/" stands before the segment.
  if (out.size() >= 3 && out.back() == u"..") {
    out.pop_back();
    out.back() = std::u16string_view();
  }
  return out;
}

WideString JoinSegments(const Segments& segments) {
  size_t length = segments.empty() ? 0 : segments.size() - 1;
  for (std::u16string_view segment : segments) length += segment.size();
  WideString path;
  path.reserve(length);
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i != 0) path.push_back(u'/');
    path.append(segments[i]);
  }
  return path;
}

WideString ResolvedPath(const TKtUri& base, const TKtUri& reference) {
  const WideString merged = MergePaths(base.Path(), reference.Path());
  WideString path = JoinSegments(RemoveDotSegments(SplitSegments(merged)));
  if (!path.empty() && path[0] != u'/' && reference.HasHost()) path.insert(0, u"/");
  // Without an authority a path that begins with "//" would read back as one.
  if (!reference.HasHost() && StartsWith(path, u"//")) path.insert(0, u"/.");
  // Without a scheme a first segment such as "f:" would read back as one.
  if (!reference.HasScheme() && !reference.HasHost() && SchemeLength(path) != 0) {
    path.insert(0, u"./");
  }
  return path;
}

}  // namespace

bool TKtUri::Parse(std::u16string_view s) {
  const size_t start = ParseScheme(s);
  std::u16string_view rest = s.substr(start, ParseFragment(s, start) - start);
  bool valid = true;
  if (const size_t question = rest.find(u'?'); question != npos) {
    valid = SetQuery(rest.substr(question + 1));
    rest = rest.substr(0, question);
  } else {
    ClearQuery();
  }
  if (rest.size() > 2 && StartsWith(rest, u"//")) {
    const size_t slash = rest.find(u'/', 2);
    valid = SetAuthority(rest.substr(2, slash == npos ? npos : slash - 2)) && valid;
    rest = slash == npos ? std::u16string_view() : rest.substr(slash);
  } else {
    ClearAuthority();
  }
  valid = SetPath(rest) && valid;
  if (!valid) ClearAll();
  return valid;
}

size_t TKtUri::ParseScheme(std::u16string_view s) {
  const size_t end = SchemeLength(s);
  if (end == 0) {
    ClearScheme();
    return 0;
  }
  scheme_.assign(s.substr(0, end));
  hasScheme_ = true;
  return end + 1;
}

size_t TKtUri::ParseFragment(std::u16string_view s, size_t start) {
  const size_t hash = s.find(u'#', start);
  if (hash == npos) {
    ClearFragment();
    return s.size();
  }
  fragment_.assign(s.substr(hash + 1));
  hasFragment_ = true;
  return hash;
}

WideString TKtUri::Build() const {
  WideString text;
  if (hasScheme_) text.append(scheme_).push_back(u':');
  if (hasHost_) {
    text.append(u"//").append(BuildAuthority());
    if (!path_.empty() && path_[0] != u'/') text.push_back(u'/');
  }
  text.append(path_);
  if (hasQuery_) text.append(u"?").append(query_);
  if (hasFragment_) text.append(u"#").append(fragment_);
  return text;
}

WideString TKtUri::BuildAuthority() const {
  WideString text;
  if (hasUser_) {
    text.append(user_);
    if (hasPassword_) text.append(u":").append(password_);
    text.push_back(u'@');
  }
  if (hasHost_) text.append(host_);
  if (hasPort_) text.append(u":").append(port_);
  return text;
}

bool TKtUri::SetAuthority(std::u16string_view authority) {
  const size_t at = authority.find(u'@');
  if (at == npos) {
    ClearUserInfo();
    return SetHostPort(authority);
  }
  const bool userInfoValid = SetUserInfo(authority.substr(0, at));
  return SetHostPort(authority.substr(at + 1)) && userInfoValid;
}

bool TKtUri::SetUserInfo(std::u16string_view userInfo) {
  const size_t colon = userInfo.find(u':');
  if (colon == npos) {
    // A password kept from earlier text would be written with this user.
    ClearPassword();
    return SetUser(userInfo);
  }
  const bool userValid = SetUser(userInfo.substr(0, colon));
  return SetPassword(userInfo.substr(colon + 1)) && userValid;
}

bool TKtUri::SetHostPort(std::u16string_view hostPort) {
  const size_t colon = hostPort.find(u':');
  if (colon == npos) {
    ClearPort();
    return SetHost(hostPort);
  }
  const bool hostValid = SetHost(hostPort.substr(0, colon));
  return SetPort(hostPort.substr(colon + 1)) && hostValid;
}

bool TKtUri::SetHost(std::u16string_view host) {
  return SetChecked(StrAllCharsW(host, IsHostChar), host, host_, hasHost_);
}

bool TKtUri::SetPort(std::u16string_view port) {
  return SetChecked(StrAllCharsW(port, IsCharDigitW), port, port_, hasPort_);
}

bool TKtUri::SetUser(std::u16string_view user) {
  return SetChecked(IsValidUserInfoPart(user), user, user_, hasUser_);
}

bool TKtUri::SetPassword(std::u16string_view password) {
  return SetChecked(IsValidUserInfoPart(password), password, password_, hasPassword_);
}

bool TKtUri::SetPath(std::u16string_view path) {
  bool unused = false;
  return SetChecked(StrAllCharsW(path, IsPathChar), path, path_, unused);
}

bool TKtUri::SetQuery(std::u16string_view query) {
  return SetChecked(StrAllCharsW(query, IsQueryChar), query, query_, hasQuery_);
}

void TKtUri::ClearFragment() {
  fragment_.clear();
  hasFragment_ = false;
}

void TKtUri::ClearHost() {
  host_.clear();
  hasHost_ = false;
}

void TKtUri::ClearPassword() {
  password_.clear();
  hasPassword_ = false;
}

void TKtUri::ClearPath() { path_.clear(); }

void TKtUri::ClearPort() {
  port_.clear();
  hasPort_ = false;
}

void TKtUri::ClearQuery() {
  query_.clear();
  hasQuery_ = false;
}

void TKtUri::ClearScheme() {
  scheme_.clear();
  hasScheme_ = false;
}

void TKtUri::ClearUser() {
  user_.clear();
  hasUser_ = false;
}

void TKtUri::ClearUserInfo() {
  ClearUser();
  ClearPassword();
}

void TKtUri::ClearAuthority() {
  ClearUserInfo();
  ClearHost();
  ClearPort();
}

void TKtUri::ClearAll() {
  ClearScheme();
  ClearAuthority();
  ClearPath();
  ClearQuery();
  ClearFragment();
}

void TKtUri::CopyScheme(const TKtUri& from) {
  scheme_ = from.scheme_;
  hasScheme_ = from.hasScheme_;
}

void TKtUri::CopyFragment(const TKtUri& from) {
  fragment_ = from.fragment_;
  hasFragment_ = from.hasFragment_;
}

void TKtUri::CopyAuthority(const TKtUri& from) {
  user_ = from.user_;
  hasUser_ = from.hasUser_;
  password_ = from.password_;
  hasPassword_ = from.hasPassword_;
  host_ = from.host_;
  hasHost_ = from.hasHost_;
  port_ = from.port_;
  hasPort_ = from.hasPort_;
}

bool ResolveRelativeUri(std::u16string_view base, std::u16string_view relative, WideString& result) {
  result.clear();
  TKtUri baseUri;
  TKtUri reference;
  if (!baseUri.Parse(base) || !reference.Parse(relative)) return false;
  if (reference.Path().empty() && !reference.HasScheme() && !reference.HasHost() &&
      !reference.HasQuery()) {
    baseUri.CopyFragment(reference);
    result = baseUri.Build();
    return true;
  }
  if (reference.HasScheme()) {
    result.assign(relative);
    return true;
  }
  reference.CopyScheme(baseUri);
  if (!reference.HasHost()) {
    reference.CopyAuthority(baseUri);
    reference.SetPath(ResolvedPath(baseUri, reference));
  }
  result = reference.Build();
  return true;
}

}  // namespace kt
