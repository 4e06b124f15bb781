// SPDX-License-Identifier: MIT
// The body of a SCRIPT element written in JavaScript. A "</script>" inside
// a string, a comment or a regular expression does not end the body, so the
// body is cut into JavaScript tokens; only a "<" that starts a token can end
// it. The last token decides whether a "/" divides or opens a regular
// expression.
#pragma once

#include "toolkit/kt_unicode.h"

namespace kt {

// Reads from the current character up to, not including, the "<" of the
// closing "</script" (letters in either case, optional characters below
// U+0021, ">"), or to the end of the input. Storing, the body goes into the
// reader's data buffer; skipping stops at the same character.
template <bool kStore>
void ReadJavaScriptBody(TKtUnicodeReader& reader);

extern template void ReadJavaScriptBody<true>(TKtUnicodeReader& reader);
extern template void ReadJavaScriptBody<false>(TKtUnicodeReader& reader);

}  // namespace kt
