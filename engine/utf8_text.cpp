// SPDX-License-Identifier: MIT
#include "engine/utf8_text.h"

#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

unsigned char ByteAt(std::string_view text, size_t index) { return static_cast<unsigned char>(text[index]); }

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid character at index, 0 when none starts there.
size_t ValidCharacterLength(std::string_view text, size_t index) {
  const unsigned char lead = ByteAt(text, index);
  if (lead < 0x80) return 1;
  size_t length = 0;
  char32_t lowest = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, lowest = 0x80, c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, lowest = 0x800, c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, lowest = 0x10000, c = lead & 0x07;
  } else {
    return 0;
  }
  if (index + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if (!IsContinuation(ByteAt(text, index + k))) return 0;
    c = (c << 6) | (ByteAt(text, index + k) & 0x3F);
  }
  const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
  return c < lowest || c > 0x10FFFF || surrogate ? 0 : length;
}

// A surrogate written as a three-byte sequence (ED A0..BF xx) at index.
bool SurrogateAt(std::string_view text, size_t index, char32_t& unit) {
  if (index + 3 > text.size() || ByteAt(text, index) != 0xED) return false;
  const unsigned char second = ByteAt(text, index + 1);
  const unsigned char third = ByteAt(text, index + 2);
  if ((second & 0xE0) != 0xA0 || !IsContinuation(third)) return false;
  unit = 0xD000 | (static_cast<char32_t>(second & 0x3F) << 6) | (third & 0x3F);
  return true;
}

void AppendFourByteCharacter(std::string& out, char32_t c) {
  out.push_back(static_cast<char>(0xF0 | (c >> 18)));
  out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
  out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
  out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
}

std::string JoinSurrogatePairs(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t high = 0, low = 0;
    if (SurrogateAt(text, i, high) && high < 0xDC00 && SurrogateAt(text, i + 3, low) && low >= 0xDC00) {
      AppendFourByteCharacter(out, 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
      i += 6;
      continue;
    }
    out.push_back(text[i++]);
  }
  return out;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = ValidCharacterLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string RepairUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string joined = JoinSurrogatePairs(text);
  if (IsValidUtf8(joined)) return joined;
  return kt::WideToUtf8(kt::Utf8ToWide(joined));
}

}  // namespace tidewell
