// SPDX-License-Identifier: MIT
// 16-bit text, as documents are handled, and its conversion to and from the
// UTF-8 that the database, URLs and file names use.
#pragma once

#include <string>
#include <string_view>

namespace kt {

using WideString = std::u16string;
using WideChar = char16_t;

// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::u16string_view text);
// Bytes that form no valid UTF-8 character become U+FFFD; characters above
// U+FFFF become surrogate pairs.
WideString Utf8ToWide(std::string_view text);
// Whether every byte belongs to a valid UTF-8 character: exactly when
// Utf8ToWide replaces nothing, without converting.
bool IsWellFormedUtf8(std::string_view text);

}  // namespace kt
