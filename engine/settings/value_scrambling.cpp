// SPDX-License-Identifier: MIT
#include "engine/settings/value_scrambling.h"

#include <cstdint>

namespace tidewell {
namespace {

// A pair that is not hexadecimal reads as a blank, as stored values always
// have.
constexpr uint8_t kUnreadablePair = 32;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint8_t ReadHexPair(char high, char low) {
  const int h = HexDigitValue(high);
  const int l = HexDigitValue(low);
  if (h < 0 || l < 0) return kUnreadablePair;
  return static_cast<uint8_t>(h * 16 + l);
}

uint8_t KeyByte(std::string_view key, size_t index) {
  return key.empty() ? 0 : static_cast<uint8_t>(key[index % key.size()]);
}

char RotateLetter(char c) {
  if ((c >= 'A' && c <= 'M') || (c >= 'a' && c <= 'm')) return static_cast<char>(c + 13);
  if ((c >= 'N' && c <= 'Z') || (c >= 'n' && c <= 'z')) return static_cast<char>(c - 13);
  return c;
}

}  // namespace

std::string Rot13(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = RotateLetter(c);
  return out;
}

std::string ScrambleToHex(std::string_view key, const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(text[i]) ^ KeyByte(key, i);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0f];
  }
  return out;
}

std::string UnscrambleFromHex(std::string_view key, const std::string& text) {
  const size_t pairs = text.size() / 2;
  std::string out;
  out.reserve(pairs);
  for (size_t k = 0; k < pairs; ++k) {
    out += static_cast<char>(ReadHexPair(text[2 * k], text[2 * k + 1]) ^ KeyByte(key, k));
  }
  return out;
}

std::string ScrambleText(const std::string& s) { return ScrambleToHex(kFeedPasswordScrambleKey, Rot13(s)); }

std::string UnscrambleText(const std::string& s) { return Rot13(UnscrambleFromHex(kFeedPasswordScrambleKey, s)); }

}  // namespace tidewell
