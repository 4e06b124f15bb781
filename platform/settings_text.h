// SPDX-License-Identifier: MIT
// The byte forms a settings file comes in: UTF-8 (as this program writes
// it, or with a byte-order mark), and UTF-16 with a byte-order mark, little
// or big endian, as regedit 5 exports a key. A file is read as UTF-8 text
// and written back in the form it came in.
#pragma once

#include <string>

namespace platform {

enum class SettingsTextForm { Utf8, Utf8WithBom, Utf16Le, Utf16Be };

struct DecodedSettingsText {
  std::string utf8;
  SettingsTextForm form = SettingsTextForm::Utf8;
};

// The form by the byte-order mark (none: UTF-8), and the text as UTF-8
// without the mark. A unit that is no character (a lone surrogate, an odd
// last byte) becomes U+FFFD.
DecodedSettingsText DecodeSettingsText(const std::string& bytes);

// The UTF-8 text in the form, with its mark; UTF-16 lines end in CR LF,
// as regedit writes them.
std::string EncodeSettingsText(const std::string& utf8, SettingsTextForm form);

}  // namespace platform
