// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_scan.h"

#include <algorithm>
#include <memory>

namespace kt::html_scan {
namespace {

void GrowLookAhead(TKtUnicodeReader& r, uint32_t needed) {
  const uint32_t capacity = std::max({needed, r.LookAheadCapacity * 2, 8u});
  auto grown = std::make_unique<WideChar[]>(capacity);
  std::copy_n(r.LookAhead.get(), r.LookAheadCount, grown.get());
  r.LookAhead = std::move(grown);
  r.LookAheadCapacity = capacity;
}

}  // namespace

bool PeekChar(TKtUnicodeReader& r, uint32_t index, WideChar& c) {
  if (index >= r.LookAheadCount) {
    if (index >= kMaxLookAhead) return false;
    if (index >= r.LookAheadCapacity) GrowLookAhead(r, index + 1);
    if (!r.PreReadChars(index + 1)) return false;
  }
  c = r.LookAhead[index];
  return true;
}

bool EndTagFollows(TKtUnicodeReader& r, std::u16string_view name) {
  WideChar c;
  if (!PeekChar(r, 0, c) || c != u'/') return false;
  uint32_t i = 1;
  for (WideChar expected : name) {
    if (!PeekChar(r, i++, c) || LowerAscii(c) != expected) return false;
  }
  while (PeekChar(r, i, c) && c < 0x21) ++i;
  return i < r.LookAheadCount && r.LookAhead[i] == u'>';
}

}  // namespace kt::html_scan
