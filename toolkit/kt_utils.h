// SPDX-License-Identifier: MIT
// The 16-bit string routines the whole toolkit shares: a table-driven case
// fold, searches and comparisons with and without case, appending to a string
// that grows ahead of its used length, whole-text tests against a character
// predicate, trimming and character classes.
//
// Text is UTF-16 code units; a surrogate is a unit like any other. Positions
// are 1-based and 0 means "not found"; a negative position or length is
// treated as out of range. Nothing here allocates except the appending
// routines and the functions that return a new string. A missing (null)
// predicate is a programming error and throws kt::Exception.
#pragma once

#include <string_view>

#include "toolkit/kt_name_chars.h"
#include "toolkit/wide_string.h"

namespace kt {

// A test of one character.
using TCharPredicateW = bool (*)(WideChar c);

// Case and comparison --------------------------------------------------------

// The simple case fold of Unicode 4.0 (status C and S): upper-case and title
// letters to their lower-case or folded form; U+0130 and U+00DF stay as they are.
WideChar CharFoldW(WideChar c);

// Case-sensitive equality; two empty strings are equal.
bool SameStrW(std::u16string_view a, std::u16string_view b);
// Equality where two characters match when their folds are equal.
bool SameTextW(std::u16string_view a, std::u16string_view b);
// True when `s` has exactly `len` characters equal to those at `buf`.
bool BufSameStrW(const WideChar* buf, int len, std::u16string_view s);
// BufSameStrW comparing folded characters.
bool BufSameTextW(const WideChar* buf, int len, std::u16string_view s);

// Searching ----------------------------------------------------------------

// First occurrence of the pattern in buf[start, bufLen), `start` 0-based; the
// 1-based position counts from the beginning of the buffer. 0 when not found,
// when fewer than patternLen characters are left or the pattern is empty.
int BufPosW(const WideChar* pattern, int patternLen, const WideChar* buf, int start, int bufLen);
// BufPosW comparing folded characters.
int BufPosIW(const WideChar* pattern, int patternLen, const WideChar* buf, int start, int bufLen);
// BufPosW over strings from the 1-based `start`; 0 when either is empty or
// start is 0.
int StrPosW(std::u16string_view pattern, std::u16string_view s, int start = 1);
int StrPosIW(std::u16string_view pattern, std::u16string_view s, int start = 1);
bool StrContainsIW(std::u16string_view pattern, std::u16string_view s, int start = 1);
// First position at or after `start` holding c; 0 when s is empty or start
// is 0 or beyond the end.
int BufPosCharW(std::u16string_view s, WideChar c, int start = 1);
// Last position at or before `start` holding c; start 0 scans from the last
// character; 0 when start lies beyond the end.
int BufRPosCharW(std::u16string_view s, WideChar c, int start = 0);
// First position at or after `start` whose character fails the predicate; 0
// when all pass, s is empty, or start is 0 or beyond the end.
int StrPosValidatedW(std::u16string_view s, TCharPredicateW predicate, int start = 1);

// Whole-text tests ------------------------------------------------------------

// True when every character passes (True for no characters).
bool BufAllCharsW(const WideChar* buf, int len, TCharPredicateW predicate);
bool StrAllCharsW(std::u16string_view s, TCharPredicateW predicate);
// True when some character passes (False for no characters).
bool BufAnyCharW(const WideChar* buf, int len, TCharPredicateW predicate);
bool StrAnyCharW(std::u16string_view s, TCharPredicateW predicate);
// True when every character from `start` to the end passes; False for an
// empty s, start 0 or start beyond the end.
bool StrAllCharsFromW(std::u16string_view s, TCharPredicateW predicate, int start);

// Building and trimming -------------------------------------------------------
// `s` is a buffer whose first `used` characters are in use and whose length
// is its capacity; the caller cuts it to `used` at the end. Appending never
// reallocates while the capacity suffices; the capacity stays a multiple of 4.
// REQUIRES: 0 <= used (a negative `used` throws kt::Exception).

// Appends `count` characters; grows to about one and a half times the need.
// Nothing happens when buf is null or count is not positive. `buf` may point
// into `s` itself.
void AppendBufW(const WideChar* buf, int count, WideString& s, int& used);
// Appends one character; grows to about twice the need.
void AppendCharW(WideChar c, WideString& s, int& used);
// AppendBufW with the whole of t.
void AppendStrW(std::u16string_view t, WideString& s, int& used);

// s without the leading and trailing characters that pass the predicate.
WideString TrimValidatedW(std::u16string_view s, TCharPredicateW predicate);
// s without leading and trailing characters below U+0021.
WideString TrimW(std::u16string_view s);

// Characters ------------------------------------------------------------------

// 0-15 for a hexadecimal digit of either case; negative for anything else.
int HexDigitValueW(WideChar c);
// Every code below 33 counts as white space, control characters included.
bool IsCharWhiteSpaceW(WideChar c);
bool IsCharWhiteSpaceOrHyphenOrGtW(WideChar c);
bool IsCharHexDigitW(WideChar c);
// "0" to "9".
bool IsCharDigitW(WideChar c);

}  // namespace kt
