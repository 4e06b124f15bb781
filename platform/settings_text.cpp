// SPDX-License-Identifier: MIT
#include "platform/settings_text.h"

#include <cstdint>

#include "toolkit/wide_string.h"

namespace platform {
namespace {

bool StartsWith(const std::string& bytes, const char* mark, size_t size) {
  return bytes.compare(0, size, mark, size) == 0;
}

std::string DecodeUtf16(const std::string& bytes, bool bigEndian) {
  kt::WideString units;
  for (size_t at = 2; at + 1 < bytes.size(); at += 2) {
    const auto first = static_cast<uint8_t>(bytes[at]);
    const auto second = static_cast<uint8_t>(bytes[at + 1]);
    units += static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  if (bytes.size() % 2 != 0) units += u'\uFFFD';
  return kt::WideToUtf8(units);
}

std::string EncodeUtf16(const std::string& utf8, bool bigEndian) {
  std::string out = bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
  for (const char16_t unit : kt::Utf8ToWide(utf8)) {
    // regedit ends its lines in CR LF.
    for (const char16_t c : unit == u'\n' ? std::u16string(u"\r\n") : std::u16string(1, unit)) {
      const auto high = static_cast<char>(c >> 8);
      const auto low = static_cast<char>(c & 0xFF);
      out += bigEndian ? high : low;
      out += bigEndian ? low : high;
    }
  }
  return out;
}

}  // namespace

DecodedSettingsText DecodeSettingsText(const std::string& bytes) {
  if (StartsWith(bytes, "\xFF\xFE", 2)) return {DecodeUtf16(bytes, false), SettingsTextForm::Utf16Le};
  if (StartsWith(bytes, "\xFE\xFF", 2)) return {DecodeUtf16(bytes, true), SettingsTextForm::Utf16Be};
  if (StartsWith(bytes, "\xEF\xBB\xBF", 3)) return {bytes.substr(3), SettingsTextForm::Utf8WithBom};
  return {bytes, SettingsTextForm::Utf8};
}

std::string EncodeSettingsText(const std::string& utf8, SettingsTextForm form) {
  switch (form) {
    case SettingsTextForm::Utf8WithBom:
      return "\xEF\xBB\xBF" + utf8;
    case SettingsTextForm::Utf16Le:
      return EncodeUtf16(utf8, false);
    case SettingsTextForm::Utf16Be:
      return EncodeUtf16(utf8, true);
    case SettingsTextForm::Utf8:
      break;
  }
  return utf8;
}

}  // namespace platform
