// SPDX-License-Identifier: MIT
#include "toolkit/kt_utils.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "toolkit/exception.h"

namespace kt {
namespace {

#include "toolkit/kt_fold_table.inc"

void RequirePredicate(TCharPredicateW predicate) {
  if (predicate == nullptr) throw Exception("KtUtils: character predicate missing");
}

void RequireUsed(int used) {
  if (used < 0) throw Exception("KtUtils: negative used length");
}

int Length(std::u16string_view s) { return static_cast<int>(s.size()); }

struct SameChar {
  WideChar operator()(WideChar c) const { return c; }
};

struct FoldChar {
  WideChar operator()(WideChar c) const { return CharFoldW(c); }
};

// Index of the first character in buf[from, last] equal to `first` after
// mapping, or -1; tests four positions per step.
template <typename Map>
int FindFirst(const WideChar* buf, int from, int last, WideChar first, Map map) {
  int i = from;
  for (; i + 3 <= last; i += 4) {
    if (map(buf[i]) == first) return i;
    if (map(buf[i + 1]) == first) return i + 1;
    if (map(buf[i + 2]) == first) return i + 2;
    if (map(buf[i + 3]) == first) return i + 3;
  }
  for (; i <= last; ++i) {
    if (map(buf[i]) == first) return i;
  }
  return -1;
}

// Whether pattern[1, len) matches at[1, len), two characters per step.
template <typename Map>
bool RestMatches(const WideChar* pattern, int len, const WideChar* at, Map map) {
  int k = 1;
  for (; k + 1 < len; k += 2) {
    if (map(pattern[k]) != map(at[k]) || map(pattern[k + 1]) != map(at[k + 1])) return false;
  }
  return k >= len || map(pattern[k]) == map(at[k]);
}

template <typename Map>
int SearchBuf(const WideChar* pattern, int patternLen, const WideChar* buf, int start,
              int bufLen, Map map) {
  if (pattern == nullptr || buf == nullptr || patternLen <= 0 || start < 0) return 0;
  if (bufLen < patternLen || bufLen - start < patternLen) return 0;
  const WideChar first = map(pattern[0]);
  const int last = bufLen - patternLen;
  for (int i = start; i <= last; ++i) {
    i = FindFirst(buf, i, last, first, map);
    if (i < 0) return 0;
    if (RestMatches(pattern, patternLen, buf + i, map)) return i + 1;
  }
  return 0;
}

template <typename Map>
bool SameBuf(const WideChar* a, const WideChar* b, int len, Map map) {
  for (int i = 0; i < len; ++i) {
    if (a[i] != b[i] && map(a[i]) != map(b[i])) return false;
  }
  return true;
}

// Capacities are computed wide so that a huge need cannot wrap.
size_t RoundDownTo4(int64_t length) { return static_cast<size_t>(length & ~int64_t{3}); }

}  // namespace

WideChar CharFoldW(WideChar c) {
  const unsigned page = kFoldPageIndex[c >> 6];
  if (page == 0) return c;
  return kFoldPages[page][c & 63];
}

bool SameStrW(std::u16string_view a, std::u16string_view b) { return a == b; }

bool SameTextW(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && SameBuf(a.data(), b.data(), Length(a), FoldChar{});
}

bool BufSameStrW(const WideChar* buf, int len, std::u16string_view s) {
  if (len != Length(s)) return false;
  return len == 0 || (buf != nullptr && SameBuf(buf, s.data(), len, SameChar{}));
}

bool BufSameTextW(const WideChar* buf, int len, std::u16string_view s) {
  if (len != Length(s)) return false;
  return len == 0 || (buf != nullptr && SameBuf(buf, s.data(), len, FoldChar{}));
}

int BufPosW(const WideChar* pattern, int patternLen, const WideChar* buf, int start, int bufLen) {
  return SearchBuf(pattern, patternLen, buf, start, bufLen, SameChar{});
}

int BufPosIW(const WideChar* pattern, int patternLen, const WideChar* buf, int start, int bufLen) {
  return SearchBuf(pattern, patternLen, buf, start, bufLen, FoldChar{});
}

int StrPosW(std::u16string_view pattern, std::u16string_view s, int start) {
  if (pattern.empty() || s.empty() || start <= 0) return 0;
  return BufPosW(pattern.data(), Length(pattern), s.data(), start - 1, Length(s));
}

int StrPosIW(std::u16string_view pattern, std::u16string_view s, int start) {
  if (pattern.empty() || s.empty() || start <= 0) return 0;
  return BufPosIW(pattern.data(), Length(pattern), s.data(), start - 1, Length(s));
}

bool StrContainsIW(std::u16string_view pattern, std::u16string_view s, int start) {
  return StrPosIW(pattern, s, start) != 0;
}

int BufPosCharW(std::u16string_view s, WideChar c, int start) {
  if (start <= 0 || start > Length(s)) return 0;
  const int found = FindFirst(s.data(), start - 1, Length(s) - 1, c, SameChar{});
  return found + 1;
}

int BufRPosCharW(std::u16string_view s, WideChar c, int start) {
  if (start < 0 || start > Length(s)) return 0;
  if (start == 0) start = Length(s);
  for (int i = start - 1; i >= 0; --i) {
    if (s[i] == c) return i + 1;
  }
  return 0;
}

int StrPosValidatedW(std::u16string_view s, TCharPredicateW predicate, int start) {
  RequirePredicate(predicate);
  if (start <= 0 || start > Length(s)) return 0;
  for (int i = start - 1; i < Length(s); ++i) {
    if (!predicate(s[i])) return i + 1;
  }
  return 0;
}

bool BufAllCharsW(const WideChar* buf, int len, TCharPredicateW predicate) {
  RequirePredicate(predicate);
  if (buf == nullptr) return true;
  int i = 0;
  for (; i + 3 < len; i += 4) {
    if (!predicate(buf[i]) || !predicate(buf[i + 1]) || !predicate(buf[i + 2]) ||
        !predicate(buf[i + 3])) {
      return false;
    }
  }
  for (; i < len; ++i) {
    if (!predicate(buf[i])) return false;
  }
  return true;
}

bool StrAllCharsW(std::u16string_view s, TCharPredicateW predicate) {
  return BufAllCharsW(s.data(), Length(s), predicate);
}

bool BufAnyCharW(const WideChar* buf, int len, TCharPredicateW predicate) {
  RequirePredicate(predicate);
  if (buf == nullptr) return false;
  int i = 0;
  for (; i + 3 < len; i += 4) {
    if (predicate(buf[i]) || predicate(buf[i + 1]) || predicate(buf[i + 2]) ||
        predicate(buf[i + 3])) {
      return true;
    }
  }
  for (; i < len; ++i) {
    if (predicate(buf[i])) return true;
  }
  return false;
}

bool StrAnyCharW(std::u16string_view s, TCharPredicateW predicate) {
  return BufAnyCharW(s.data(), Length(s), predicate);
}

bool StrAllCharsFromW(std::u16string_view s, TCharPredicateW predicate, int start) {
  RequirePredicate(predicate);
  if (start <= 0 || start > Length(s)) return false;
  return BufAllCharsW(s.data() + start - 1, Length(s) - start + 1, predicate);
}

void AppendBufW(const WideChar* buf, int count, WideString& s, int& used) {
  RequireUsed(used);
  if (buf == nullptr || count <= 0) return;
  const int64_t need = int64_t{used} + count;
  if (static_cast<int64_t>(s.size()) < need) {
    // Growing may move s, and buf may point into it.
    const bool inside = std::less_equal<>()(s.data(), buf) && std::less<>()(buf, s.data() + s.size());
    const size_t offset = inside ? static_cast<size_t>(buf - s.data()) : 0;
    s.resize(RoundDownTo4(need + need / 2 + 3));
    if (inside) buf = s.data() + offset;
  }
  std::char_traits<WideChar>::move(s.data() + used, buf, static_cast<size_t>(count));
  used += count;
}

void AppendCharW(WideChar c, WideString& s, int& used) {
  RequireUsed(used);
  const int64_t need = int64_t{used} + 1;
  if (static_cast<int64_t>(s.size()) < need) s.resize(RoundDownTo4(need + used + 3));
  s[used] = c;
  ++used;
}

void AppendStrW(std::u16string_view t, WideString& s, int& used) {
  if (t.empty()) return;
  AppendBufW(t.data(), Length(t), s, used);
}

WideString TrimValidatedW(std::u16string_view s, TCharPredicateW predicate) {
  RequirePredicate(predicate);
  size_t first = 0;
  size_t end = s.size();
  while (first < end && predicate(s[first])) ++first;
  while (end > first && predicate(s[end - 1])) --end;
  return WideString(s.substr(first, end - first));
}

WideString TrimW(std::u16string_view s) { return TrimValidatedW(s, IsCharWhiteSpaceW); }

int HexDigitValueW(WideChar c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

bool IsCharWhiteSpaceW(WideChar c) { return c < 33; }

bool IsCharWhiteSpaceOrHyphenOrGtW(WideChar c) { return c < 33 || c == u'-' || c == u'>'; }

bool IsCharHexDigitW(WideChar c) { return HexDigitValueW(c) >= 0; }

bool IsCharDigitW(WideChar c) { return c >= u'0' && c <= u'9'; }

}  // namespace kt
