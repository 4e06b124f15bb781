// SPDX-License-Identifier: MIT
#include "toolkit/kt_unicode_single_byte.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "toolkit/kt_unicode_single_byte_tables.h"

namespace kt {
namespace {

using single_byte_tables::Table;

struct ReverseEntry {
  char16_t ch;
  uint8_t byte;
};

// A page's characters sorted, each with its lowest byte.
struct ReverseTable {
  std::array<ReverseEntry, 256> entries{};
  int count = 0;
};

constexpr ReverseTable BuildReverse(const Table& table) {
  ReverseTable reverse;
  for (int b = 0; b < 256; ++b) {
    if (table[b] != 0xFFFD) reverse.entries[reverse.count++] = {table[b], static_cast<uint8_t>(b)};
  }
  auto* begin = reverse.entries.begin();
  std::sort(begin, begin + reverse.count, [](const ReverseEntry& a, const ReverseEntry& b) {
    return a.ch < b.ch || (a.ch == b.ch && a.byte < b.byte);
  });
  auto* end = std::unique(begin, begin + reverse.count,
                          [](const ReverseEntry& a, const ReverseEntry& b) { return a.ch == b.ch; });
  reverse.count = static_cast<int>(end - begin);
  return reverse;
}

template <const Table& kTable>
bool ReadPage(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t b = 0;
  if (!reader.TakeByte(b)) return false;
  c = kTable[b];
  return true;
}

template <const Table& kTable>
bool WritePage(TKtUnicodeWriter& writer, WideChar c) {
  static constexpr ReverseTable kReverse = BuildReverse(kTable);
  if (c < 0x80 && kTable[c] == c) {
    writer.WriteByte(static_cast<uint8_t>(c));
    return true;
  }
  const auto* begin = kReverse.entries.begin();
  const auto* end = begin + kReverse.count;
  const auto* found = std::lower_bound(
      begin, end, c, [](const ReverseEntry& e, char16_t value) { return e.ch < value; });
  if (found == end || found->ch != c) return false;
  writer.WriteByte(found->byte);
  return true;
}

}  // namespace

#define KT_SINGLE_BYTE_PAGE(Name)                                   \
  bool Read_##Name(TKtUnicodeReader& reader, WideChar& c) {         \
    return ReadPage<single_byte_tables::k##Name>(reader, c);        \
  }                                                                 \
  bool Write_##Name(TKtUnicodeWriter& writer, WideChar c) {         \
    return WritePage<single_byte_tables::k##Name>(writer, c);       \
  }

KT_SINGLE_BYTE_PAGE(ISO_8859_2)
KT_SINGLE_BYTE_PAGE(ISO_8859_3)
KT_SINGLE_BYTE_PAGE(ISO_8859_4)
KT_SINGLE_BYTE_PAGE(ISO_8859_5)
KT_SINGLE_BYTE_PAGE(ISO_8859_6)
KT_SINGLE_BYTE_PAGE(ISO_8859_7)
KT_SINGLE_BYTE_PAGE(ISO_8859_8)
KT_SINGLE_BYTE_PAGE(ISO_8859_9)
KT_SINGLE_BYTE_PAGE(ISO_8859_10)
KT_SINGLE_BYTE_PAGE(ISO_8859_13)
KT_SINGLE_BYTE_PAGE(ISO_8859_14)
KT_SINGLE_BYTE_PAGE(ISO_8859_15)
KT_SINGLE_BYTE_PAGE(ISO_8859_16)
KT_SINGLE_BYTE_PAGE(KOI8_R)
KT_SINGLE_BYTE_PAGE(KOI8_RU)
KT_SINGLE_BYTE_PAGE(KOI8_U)
KT_SINGLE_BYTE_PAGE(Windows_1250)
KT_SINGLE_BYTE_PAGE(Windows_1251)
KT_SINGLE_BYTE_PAGE(Windows_1252)
KT_SINGLE_BYTE_PAGE(Windows_1253)
KT_SINGLE_BYTE_PAGE(Windows_1254)
KT_SINGLE_BYTE_PAGE(Windows_1255)
KT_SINGLE_BYTE_PAGE(Windows_1256)
KT_SINGLE_BYTE_PAGE(Windows_1257)
KT_SINGLE_BYTE_PAGE(Windows_1258)
KT_SINGLE_BYTE_PAGE(IBM850)
KT_SINGLE_BYTE_PAGE(IBM862)
KT_SINGLE_BYTE_PAGE(IBM866)
KT_SINGLE_BYTE_PAGE(MacRoman)
KT_SINGLE_BYTE_PAGE(MacCentralEurope)
KT_SINGLE_BYTE_PAGE(MacDingbats)
KT_SINGLE_BYTE_PAGE(MacIceland)
KT_SINGLE_BYTE_PAGE(MacCroatian)
KT_SINGLE_BYTE_PAGE(MacRomania)
KT_SINGLE_BYTE_PAGE(MacCyrillic)
KT_SINGLE_BYTE_PAGE(MacGreek)
KT_SINGLE_BYTE_PAGE(MacTurkish)
KT_SINGLE_BYTE_PAGE(MacHebrew)
KT_SINGLE_BYTE_PAGE(MacArabic)
KT_SINGLE_BYTE_PAGE(MacThai)
KT_SINGLE_BYTE_PAGE(MacFarsi)
KT_SINGLE_BYTE_PAGE(IBM424)
KT_SINGLE_BYTE_PAGE(IBM437)
KT_SINGLE_BYTE_PAGE(CP_737)
KT_SINGLE_BYTE_PAGE(CP_775)
KT_SINGLE_BYTE_PAGE(IBM852)
KT_SINGLE_BYTE_PAGE(IBM855)
KT_SINGLE_BYTE_PAGE(CP_856)
KT_SINGLE_BYTE_PAGE(IBM857)
KT_SINGLE_BYTE_PAGE(IBM860)
KT_SINGLE_BYTE_PAGE(IBM861)
KT_SINGLE_BYTE_PAGE(IBM863)
KT_SINGLE_BYTE_PAGE(IBM864)
KT_SINGLE_BYTE_PAGE(IBM865)
KT_SINGLE_BYTE_PAGE(IBM869)
KT_SINGLE_BYTE_PAGE(CP_874)
KT_SINGLE_BYTE_PAGE(NextStep)

#undef KT_SINGLE_BYTE_PAGE

}  // namespace kt
