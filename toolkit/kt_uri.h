// SPDX-License-Identifier: MIT
// A URI reference split into its components, checked against each
// component's character class, rebuilt as text, and resolved against a base.
//
// Components are 16-bit text with a presence flag each (the path has none:
// an empty path is simply empty); a present component may be empty, as the
// port of "//host:". The authority is present exactly when the host is.
// Parsing never raises: an invalid component clears everything and answers
// false. One object is used by one thread at a time.
#pragma once

#include <string_view>

#include "toolkit/wide_string.h"

namespace kt {

class TKtUri {
 public:
  // Splits s into its components; on any invalid component clears every
  // component and flag and answers false.
  bool Parse(std::u16string_view s);
  // The text of the URI; Parse(Build()) gives the same components back.
  WideString Build() const;
  // [user[":" password]"@"][host][":" port]; a password without a user is
  // not written.
  WideString BuildAuthority() const;

  // Each setter sets one component with its flag and answers whether the
  // value was valid; an invalid value clears the component and its flag
  // instead (SetPath empties the path).
  // With an "@" (the first one) the text before it goes to SetUserInfo and
  // the rest to SetHostPort; without one the user info is cleared.
  bool SetAuthority(std::u16string_view authority);
  // Split at the first ":" into user and password; without ":" all of it is
  // the user and the password is cleared.
  bool SetUserInfo(std::u16string_view userInfo);
  // Split at the first ":" into host and port; without ":" the port is cleared.
  bool SetHostPort(std::u16string_view hostPort);
  bool SetHost(std::u16string_view host);
  bool SetPort(std::u16string_view port);
  bool SetUser(std::u16string_view user);
  bool SetPassword(std::u16string_view password);
  bool SetPath(std::u16string_view path);
  bool SetQuery(std::u16string_view query);

  void ClearFragment();
  void ClearHost();
  void ClearPassword();
  void ClearPath();
  void ClearPort();
  void ClearQuery();
  void ClearScheme();
  void ClearUser();
  // User and password.
  void ClearUserInfo();
  // User, password, host and port.
  void ClearAuthority();

  // Copy values with their flags from another URI.
  void CopyScheme(const TKtUri& from);
  void CopyFragment(const TKtUri& from);
  // User, password, host and port.
  void CopyAuthority(const TKtUri& from);

  // Component values; empty when the component is absent.
  const WideString& Fragment() const { return fragment_; }
  const WideString& Host() const { return host_; }
  const WideString& Password() const { return password_; }
  const WideString& Path() const { return path_; }
  const WideString& Port() const { return port_; }
  const WideString& Query() const { return query_; }
  const WideString& Scheme() const { return scheme_; }
  const WideString& User() const { return user_; }

  bool HasFragment() const { return hasFragment_; }
  bool HasHost() const { return hasHost_; }
  bool HasPassword() const { return hasPassword_; }
  bool HasPort() const { return hasPort_; }
  bool HasQuery() const { return hasQuery_; }
  bool HasScheme() const { return hasScheme_; }
  bool HasUser() const { return hasUser_; }

 private:
  // Sets or clears the scheme and answers where the rest of s begins.
  size_t ParseScheme(std::u16string_view s);
  // Sets or clears the fragment and answers where the rest of s ends.
  size_t ParseFragment(std::u16string_view s, size_t start);
  void ClearAll();

  WideString fragment_;
  WideString host_;
  WideString password_;
  WideString path_;
  WideString port_;
  WideString query_;
  WideString scheme_;
  WideString user_;
  bool hasFragment_ = false;
  bool hasHost_ = false;
  bool hasPassword_ = false;
  bool hasPort_ = false;
  bool hasQuery_ = false;
  bool hasScheme_ = false;
  bool hasUser_ = false;
};

// Resolves `relative` against `base` (RFC 2396 section 5.2, with dot
// segments removed from every merged path). Answers true when both texts
// parse; `result` is then the resolved URI, else empty. A reference with a
// scheme of its own comes back unchanged. Never raises.
bool ResolveRelativeUri(std::u16string_view base, std::u16string_view relative, WideString& result);

}  // namespace kt
