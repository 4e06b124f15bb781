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

#define KT_SINGLE_BYTE_PAGES(X) \
  X(ISO_8859_2) \
  X(ISO_8859_3) \
  X(ISO_8859_4) \
  X(ISO_8859_5) \
  X(ISO_8859_6) \
  X(ISO_8859_7) \
  X(ISO_8859_8) \
  X(ISO_8859_9) \
  X(ISO_8859_10) \
  X(ISO_8859_13) \
  X(ISO_8859_14) \
  X(ISO_8859_15) \
  X(ISO_8859_16) \
  X(KOI8_R) \
  X(KOI8_RU) \
  X(KOI8_U) \
  X(Windows_1250) \
  X(Windows_1251) \
  X(Windows_1252) \
  X(Windows_1253) \
  X(Windows_1254) \
  X(Windows_1255) \
  X(Windows_1256) \
  X(Windows_1257) \
  X(Windows_1258) \
  X(IBM850) \
  X(IBM862) \
  X(IBM866) \
  X(MacRoman) \
  X(MacCentralEurope) \
  X(MacDingbats) \
  X(MacIceland) \
  X(MacCroatian) \
  X(MacRomania) \
  X(MacCyrillic) \
  X(MacGreek) \
  X(MacTurkish) \
  X(MacHebrew) \
  X(MacArabic) \
  X(MacThai) \
  X(MacFarsi) \
  X(IBM424) \
  X(IBM437) \
  X(CP_737) \
  X(CP_775) \
  X(IBM852) \
  X(IBM855) \
  X(CP_856) \
  X(IBM857) \
  X(IBM860) \
  X(IBM861) \
  X(IBM863) \
  X(IBM864) \
  X(IBM865) \
  X(IBM869) \
  X(CP_874) \
  X(NextStep)

KT_SINGLE_BYTE_PAGES(KT_SINGLE_BYTE_PAGE)

namespace {

constexpr bool KeepsAscii(const Table& table) {
  for (int b = 0; b < 0x80; ++b) {
    if (table[b] != b) return false;
  }
  return true;
}

struct PageReader {
  bool (*read)(TKtUnicodeReader&, WideChar&);
  bool keepsAscii;
};

#define KT_PAGE_READER(Name) {Read_##Name, KeepsAscii(single_byte_tables::k##Name)},
constexpr PageReader kPageReaders[] = {KT_SINGLE_BYTE_PAGES(KT_PAGE_READER)};
#undef KT_PAGE_READER

}  // namespace

bool IsAsciiKeepingPageReader(bool (*read)(TKtUnicodeReader&, WideChar&)) {
  for (const PageReader& page : kPageReaders) {
    if (page.read == read) return page.keepsAscii;
  }
  return false;
}

#undef KT_SINGLE_BYTE_PAGES
#undef KT_SINGLE_BYTE_PAGE

}  // namespace kt
