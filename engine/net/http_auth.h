// SPDX-License-Identifier: MIT
// The answers to a server's authentication challenge: Basic, and Digest as
// RFC 2617 describes it (MD5 and MD5-sess, with or without qop "auth").
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tidewell {

class THttpAuthChallenge {
 public:
  enum class Scheme { None, Basic, Digest };

  // Picks the challenge to answer from the "WWW-Authenticate" values of a
  // 401 answer: Digest when offered, else Basic; NTLM and others are not
  // answered (Scheme::None).
  static THttpAuthChallenge Select(const std::vector<std::string>& wwwAuthenticate);

  Scheme scheme() const { return scheme_; }
  // A parameter of the challenge ("realm", "nonce", ...), "" when absent.
  std::string Param(const std::string& name) const;

  // The value of the "Authorization" header for this challenge. uri is the
  // request target (path and query); cnonce is the client's nonce (Digest).
  std::string Authorization(const std::string& method, const std::string& uri, const std::string& userName,
                            const std::string& password, const std::string& cnonce) const;

  static std::string Base64(const std::string& bytes);
  static std::string Md5Hex(const std::string& bytes);
  // Parses the "name=value, name="quoted value"" list after a scheme name.
  static std::map<std::string, std::string> ParseParams(const std::string& text);

 private:
  std::string DigestAuthorization(const std::string& method, const std::string& uri, const std::string& userName,
                                  const std::string& password, const std::string& cnonce) const;

  Scheme scheme_ = Scheme::None;
  std::map<std::string, std::string> params_;
};

}  // namespace tidewell
