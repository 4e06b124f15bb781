// SPDX-License-Identifier: MIT
#include "engine/addresses/host_name.h"

#include <idn2.h>

#include <algorithm>

namespace tidewell {
namespace {

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

size_t CodePointCount(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// As libcurl converts a name before it resolves it.
bool ToAscii(const std::string& host, std::string& ascii) {
  char* converted = nullptr;
  int code = idn2_to_ascii_8z(host.c_str(), &converted, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
  if (code != IDN2_OK) code = idn2_to_ascii_8z(host.c_str(), &converted, IDN2_TRANSITIONAL);
  if (code == IDN2_OK) ascii = converted;
  idn2_free(converted);
  return code == IDN2_OK;
}

}  // namespace

bool CanonicalHostName(std::string_view host, std::string& canonical, std::string& error) {
  // An ASCII name is at least as long as its letters: longer ones are
  // refused before libidn2 spends time on them.
  if (CodePointCount(host) > kMaxHostNameLength) {
    error = "the host name is longer than " + std::to_string(kMaxHostNameLength) + " characters";
    return false;
  }
  std::string ascii(host);
  if (!IsAscii(host) && !ToAscii(ascii, ascii)) {
    error = "the host name is no valid international domain name";
    return false;
  }
  if (ascii.size() > kMaxHostNameLength) {
    error = "the host name is longer than " + std::to_string(kMaxHostNameLength) + " characters";
    return false;
  }
  canonical = LowerAscii(ascii);
  return true;
}

}  // namespace tidewell
