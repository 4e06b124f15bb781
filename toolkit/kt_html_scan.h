// SPDX-License-Identifier: MIT
// Scanning steps shared by the HTML readers. Each reader is written once as
// a template over kStore: storing, it collects the characters it passes into
// the reader's data buffer; skipping, it passes the same characters without
// collecting, so both forms stop at exactly the same character.
#pragma once

#include <string_view>

#include "toolkit/kt_unicode.h"

namespace kt::html_scan {

inline bool IsLetter(WideChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
inline WideChar LowerAscii(WideChar c) { return c >= u'A' && c <= u'Z' ? static_cast<WideChar>(c + 32) : c; }

// Passes the current character (collecting it when storing) and makes the
// next one current; the position counts exactly as with ReadChar.
template <bool kStore>
inline bool Take(TKtUnicodeReader& r) {
  if constexpr (kStore) r.AddCurrentChar();
  return r.ReadChar();
}
template <bool kStore>
inline void UntilChar(TKtUnicodeReader& r, WideChar c) {
  if constexpr (kStore) r.AddCharsUntilChar(c); else r.SkipCharsUntilChar(c);
}
template <bool kStore>
inline void Until2Chars(TKtUnicodeReader& r, WideChar c1, WideChar c2) {
  if constexpr (kStore) r.AddCharsUntil2Chars(c1, c2); else r.SkipCharsUntil2Chars(c1, c2);
}
template <bool kStore>
inline void Until(TKtUnicodeReader& r, TCharPredicateW p) {
  if constexpr (kStore) r.AddCharsUntil(p); else r.SkipCharsUntil(p);
}
template <bool kStore>
inline void While(TKtUnicodeReader& r, TCharPredicateW p) {
  if constexpr (kStore) r.AddCharsWhile(p); else r.SkipCharsWhile(p);
}
template <bool kStore>
inline void WhileChar(TKtUnicodeReader& r, WideChar c) {
  if constexpr (kStore) r.AddCharsWhileChar(c); else r.SkipCharsWhileChar(c);
}

// How far the readers look ahead. Characters leave the look-ahead queue one
// by one with the rest moved down, so an unbounded look-ahead (a closing
// tag followed by a megabyte of white space, a long run of dashes) would
// cost quadratic time; past this distance a closing sequence is not seen.
constexpr uint32_t kMaxLookAhead = 256;

// The character `index` places after the current one (0 is the next),
// decoded ahead into the look-ahead queue without becoming current; false
// when the input ends first or index reaches kMaxLookAhead.
bool PeekChar(TKtUnicodeReader& r, uint32_t index, WideChar& c);
inline bool PeekIs(TKtUnicodeReader& r, uint32_t index, WideChar expected) {
  WideChar c;
  return PeekChar(r, index, c) && c == expected;
}
inline bool PeekIsLetter(TKtUnicodeReader& r, uint32_t index) {
  WideChar c;
  return PeekChar(r, index, c) && IsLetter(c);
}

// Whether the characters after the current one are "/" + name (letters in
// either case; name given in lower case), any characters below U+0021 and
// ">": the end tag that closes a SCRIPT, STYLE or TITLE body.
bool EndTagFollows(TKtUnicodeReader& r, std::u16string_view name);

}  // namespace kt::html_scan
