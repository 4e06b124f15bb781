// SPDX-License-Identifier: MIT
#include "engine/net/http_auth.h"

#include <openssl/evp.h>
#include <strings.h>

#include <cctype>

namespace tidewell {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const size_t length = std::char_traits<char>::length(prefix);
  return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

// qop may list several options ("auth,auth-int"); only "auth" is offered.
bool OffersQopAuth(const std::string& qop) {
  size_t from = 0;
  while (from <= qop.size()) {
    size_t end = qop.find(',', from);
    if (end == std::string::npos) end = qop.size();
    std::string option = qop.substr(from, end - from);
    option.erase(0, option.find_first_not_of(' '));
    option.erase(option.find_last_not_of(' ') + 1);
    if (Lower(option) == "auth") return true;
    from = end + 1;
  }
  return false;
}

std::string Quoted(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::map<std::string, std::string> THttpAuthChallenge::ParseParams(const std::string& text) {
  std::map<std::string, std::string> params;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',' || text[i] == '\t')) ++i;
    const size_t nameStart = i;
    while (i < text.size() && text[i] != '=' && text[i] != ',') ++i;
    std::string name = Lower(text.substr(nameStart, i - nameStart));
    name.erase(name.find_last_not_of(' ') + 1);
    if (i >= text.size() || text[i] != '=') continue;
    ++i;
    while (i < text.size() && text[i] == ' ') ++i;
    std::string value;
    if (i < text.size() && text[i] == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        value += text[i];
      }
      ++i;
    } else {
      while (i < text.size() && text[i] != ',') value += text[i++];
      value.erase(value.find_last_not_of(' ') + 1);
    }
    if (!name.empty()) params[name] = value;
  }
  return params;
}

THttpAuthChallenge THttpAuthChallenge::Select(const std::vector<std::string>& wwwAuthenticate) {
  THttpAuthChallenge challenge;
  // The stronger scheme first: Digest never sends the password itself.
  for (const std::string& value : wwwAuthenticate) {
    if (StartsWithNoCase(value, "Digest ")) {
      challenge.scheme_ = Scheme::Digest;
      challenge.params_ = ParseParams(value.substr(7));
      return challenge;
    }
  }
  for (const std::string& value : wwwAuthenticate) {
    if (StartsWithNoCase(value, "Basic")) {
      challenge.scheme_ = Scheme::Basic;
      challenge.params_ = ParseParams(value.substr(5));
      return challenge;
    }
  }
  return challenge;
}

std::string THttpAuthChallenge::Param(const std::string& name) const {
  const auto found = params_.find(Lower(name));
  return found == params_.end() ? std::string() : found->second;
}

std::string THttpAuthChallenge::Authorization(const std::string& method, const std::string& uri,
                                              const std::string& userName, const std::string& password,
                                              const std::string& cnonce) const {
  if (scheme_ == Scheme::Basic) return "Basic " + Base64(userName + ":" + password);
  if (scheme_ == Scheme::Digest) return DigestAuthorization(method, uri, userName, password, cnonce);
  return {};
}

std::string THttpAuthChallenge::DigestAuthorization(const std::string& method, const std::string& uri,
                                                    const std::string& userName, const std::string& password,
                                                    const std::string& cnonce) const {
  const std::string realm = Param("realm");
  const std::string nonce = Param("nonce");
  const std::string algorithm = Param("algorithm");
  const bool useQop = OffersQopAuth(Param("qop"));
  const std::string nc = "00000001";
  std::string ha1 = Md5Hex(userName + ":" + realm + ":" + password);
  if (Lower(algorithm) == "md5-sess") ha1 = Md5Hex(ha1 + ":" + nonce + ":" + cnonce);
  const std::string ha2 = Md5Hex(method + ":" + uri);
  const std::string response = useQop ? Md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2)
                                      : Md5Hex(ha1 + ":" + nonce + ":" + ha2);
  std::string header = "Digest username=" + Quoted(userName) + ", realm=" + Quoted(realm) +
                       ", nonce=" + Quoted(nonce) + ", uri=" + Quoted(uri);
  if (!algorithm.empty()) header += ", algorithm=" + algorithm;
  header += ", response=" + Quoted(response);
  if (!Param("opaque").empty()) header += ", opaque=" + Quoted(Param("opaque"));
  if (useQop) header += ", qop=auth, nc=" + nc + ", cnonce=" + Quoted(cnonce);
  return header;
}

std::string THttpAuthChallenge::Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string THttpAuthChallenge::Md5Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

}  // namespace tidewell
