// SPDX-License-Identifier: MIT
// The system's vocabulary of character encodings: 73 rows, each with its
// display description, its name where that differs, and its codecs.
// Lookups go through the rows in order and take the first match. The rows
// are constant data, read by any thread without locks.
#pragma once

#include <array>
#include <string_view>

#include "toolkit/kt_unicode.h"

namespace kt {

struct TKtUnicodeEncoding {
  std::u16string_view Description;
  // Empty when the description is the name itself.
  std::u16string_view Name;
  // All nil when the encoding cannot be read.
  TKtUnicodeReadMethods ReadMethods;
  // All nil when the encoding cannot be written.
  TKtUnicodeWriteMethods WriteMethods;

  std::u16string_view EffectiveName() const { return Name.empty() ? Description : Name; }
};

inline constexpr int kUnicodeEncodingCount = 73;
extern const std::array<TKtUnicodeEncoding, kUnicodeEncodingCount> UnicodeEncodings;

// The default decoder, installed when no row matches.
extern const TKtUnicodeReadMethods ReadMethods_ISO_8859_1;
// For text already held as a wide string (its bytes are UTF-16LE).
extern const TKtUnicodeReadMethods ReadMethods_UTF_16LE;

}  // namespace kt
