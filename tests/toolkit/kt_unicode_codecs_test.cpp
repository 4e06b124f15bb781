// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "toolkit/kt_unicode.h"
#include "toolkit/kt_unicode_codecs.h"
#include "toolkit/kt_unicode_encodings.h"
#include "toolkit/kt_unicode_single_byte.h"

namespace kt {
namespace {

constexpr WideChar kFFFD = 0xFFFD;

// Reads until the decoder fails.
WideString Decode(const TKtUnicodeReadMethods& methods, const std::string& bytes) {
  TKtUnicodeReader reader;
  reader.SetReadMethods(methods);
  reader.SourceBufferEx(bytes.data(), static_cast<uint32_t>(bytes.size()));
  WideString decoded;
  while (reader.ReadChar()) decoded += reader.Char;
  return decoded;
}

WideString Decode(bool (*read)(TKtUnicodeReader&, WideChar&), const std::string& bytes) {
  return Decode(TKtUnicodeReadMethods{nullptr, read, nullptr}, bytes);
}

std::string Encode(const TKtUnicodeWriteMethods& methods, const WideString& text) {
  TKtUnicodeWriter writer;
  writer.SetWriteMethods(methods);
  writer.WriteStr(text);
  writer.Flush();
  return writer.Bytes();
}

std::string Encode(bool (*write)(TKtUnicodeWriter&, WideChar), const WideString& text) {
  return Encode(TKtUnicodeWriteMethods{nullptr, write, nullptr, nullptr}, text);
}

bool Refuses(bool (*write)(TKtUnicodeWriter&, WideChar), WideChar c) {
  TKtUnicodeWriter writer;
  const bool accepted = write(writer, c);
  return !accepted && writer.BufPos == 0;
}

const TKtUnicodeEncoding& Row(std::u16string_view description) {
  for (const auto& row : UnicodeEncodings) {
    if (row.Description == description) return row;
  }
  throw std::runtime_error("no such row");
}

TEST(Utf8CodecTest, DecodesAndReplacesInvalidBytes) {
  EXPECT_EQ(Decode(Read_UTF_8, "\xC3\xA9"), u"\u00E9");
  EXPECT_EQ(Decode(Read_UTF_8, "\xC0\x80"), WideString(1, kFFFD));
  EXPECT_EQ(Decode(Read_UTF_8, "\xE2\x82"), u"");
  EXPECT_EQ(Decode(Read_UTF_8, "\xE2\x41"), (WideString{kFFFD, u'A'}));
  EXPECT_EQ(Decode(Read_UTF_8, "\xF0\x9F\x98\x80z"), (WideString{kFFFD, u'z'}));
  EXPECT_EQ(Decode(Read_UTF_8, "\xFC\x80\x80\x80\x80\x80z"), (WideString{kFFFD, u'z'}));
  EXPECT_EQ(Decode(Read_UTF_8, "\xF8\x80\x80\x41"), (WideString{kFFFD, u'A'}));
  EXPECT_EQ(Decode(Read_UTF_8, "\x80\xBFx"), (WideString{kFFFD, kFFFD, u'x'}));
  EXPECT_EQ(Decode(Read_UTF_8, "\xE0\x9F\xBF"), WideString(1, kFFFD));
}

TEST(Utf8CodecTest, SurrogatesNeverPassThrough) {
  EXPECT_EQ(Decode(Read_UTF_8, "\xED\xA0\x80\xED\xBF\xBF"), (WideString{kFFFD, kFFFD}));
  EXPECT_EQ(Decode(Read_UTF_8, "\xED\x9F\xBF"), u"\uD7FF");
  EXPECT_EQ(Encode(Write_UTF_8, u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Encode(Write_UTF_8, WideString{0xD800, u'a', 0xDFFF}), "\xEF\xBF\xBD" "a" "\xEF\xBF\xBD");
  EXPECT_EQ(Encode(Write_UTF_8, WideString{0xD83D, 0xDE00, 0xDBFF, 0xDBFF, 0xDFFF}),
            "\xF0\x9F\x98\x80" "\xEF\xBF\xBD" "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(Encode(Write_UTF_8, WideString{u'x', 0xD83D}), "x\xEF\xBF\xBD");  // held until Flush
}

TEST(Utf16CodecTest, SurrogatesGiveReplacementAndNeverEndTheText) {
  EXPECT_EQ(Decode(Read_UTF_16LE, std::string("\x3D\xD8\x00\xDE\x41\x00", 6)), (WideString{kFFFD, u'A'}));
  EXPECT_EQ(Decode(Read_UTF_16LE, std::string("\x00\xDC\x41\x00", 4)), (WideString{kFFFD, u'A'}));
  EXPECT_EQ(Decode(Read_UTF_16LE, std::string("\x00\xD8\x41\x00", 4)), (WideString{kFFFD, u'A'}));
  EXPECT_EQ(Decode(Read_UTF_16BE, std::string("\xD8\x00\xD8\x00\xDC\x00", 6)), (WideString{kFFFD, kFFFD}));
  EXPECT_EQ(Decode(Read_UTF_16BE, std::string("\xD8\x00", 2)), WideString(1, kFFFD));
  EXPECT_EQ(Decode(Read_UTF_16BE, std::string("\x00\x41\x00", 3)), u"A");
  EXPECT_TRUE(Refuses(Write_UTF_16LE, 0xD800));
  EXPECT_EQ(Encode(Write_UTF_16BE, u"\u20AC"), "\x20\xAC");
  EXPECT_EQ(Encode(Write_UTF_16LE, u"\u20AC"), "\xAC\x20");
}

TEST(Ucs2CodecTest, SurrogateUnitsGiveReplacementForBothBytes) {
  EXPECT_EQ(Decode(Read_UCS_2BE, std::string("\xD8\x00\x00\x41", 4)), (WideString{kFFFD, u'A'}));
  EXPECT_EQ(Decode(Read_UCS_2LE, std::string("\x00\xD8\x41\x00", 4)), (WideString{kFFFD, u'A'}));
  EXPECT_TRUE(Refuses(Write_UCS_2BE, 0xDC00));
  EXPECT_EQ(Encode(Write_UCS_2BE, u"A"), std::string("\x00\x41", 2));
}

TEST(Ucs4CodecTest, ValuesBeyondTheBmpGiveReplacement) {
  EXPECT_EQ(Decode(Read_UCS_4BE, std::string("\x00\x00\x20\xAC\x00\x01\x00\x00", 8)), (WideString{0x20AC, kFFFD}));
  EXPECT_EQ(Decode(Read_UCS_4LE, std::string("\xAC\x20\x00\x00\x00\xD8\x00\x00", 8)), (WideString{0x20AC, kFFFD}));
  EXPECT_EQ(Decode(Read_UTF_32LE, std::string("\x00\xD8\x00\x00", 4)), WideString(1, kFFFD));
  EXPECT_EQ(Decode(Read_UTF_32BE, std::string("\x00\x00\x00", 3)), u"");
  EXPECT_EQ(Encode(Write_UCS_4LE, u"\u20AC"), std::string("\xAC\x20\x00\x00", 4));
  EXPECT_EQ(Encode(Write_UTF_32BE, u"\u20AC"), std::string("\x00\x00\x20\xAC", 4));
  EXPECT_TRUE(Refuses(Write_UTF_32BE, 0xDBFF));
  EXPECT_FALSE(Refuses(Write_UCS_4BE, 0xDBFF));
}

TEST(Utf7CodecTest, Decodes) {
  const auto& utf7 = Row(u"UTF-7").ReadMethods;
  EXPECT_EQ(Decode(utf7, "Hi Mom -+Jjo--!"), u"Hi Mom -\u263A-!");
  EXPECT_EQ(Decode(utf7, "+-"), u"+");
  EXPECT_EQ(Decode(utf7, "+AGEAYgBj-"), u"abc");
  EXPECT_EQ(Decode(utf7, "+AGE.+AGI"), u"a.b");
  EXPECT_EQ(Decode(utf7, "+!"), u"!");
  EXPECT_EQ(Decode(utf7, "a\\~\x80"), (WideString{u'a', kFFFD, kFFFD, kFFFD}));
  EXPECT_EQ(Decode(utf7, "+"), u"");
}

TEST(Utf7CodecTest, SurrogatesGiveOneReplacementPerPairOrLoneUnit) {
  const auto& utf7 = Row(u"UTF-7").ReadMethods;
  EXPECT_EQ(Decode(utf7, "+2D3eAA-x"), (WideString{kFFFD, u'x'}));  // U+1F600
  EXPECT_EQ(Decode(utf7, "+2D0AYQ-"), (WideString{kFFFD, u'a'}));
  EXPECT_EQ(Decode(utf7, "+2D3YPQ-"), (WideString{kFFFD, kFFFD}));
  EXPECT_EQ(Decode(utf7, "+2D0-"), WideString(1, kFFFD));
  EXPECT_EQ(Decode(utf7, "+3gA-"), WideString(1, kFFFD));
}

TEST(Utf7CodecTest, EncodesWithBothDirectSets) {
  const auto& utf7 = Row(u"UTF-7").WriteMethods;
  const auto& optional = Row(u"UTF-7 Optional Direct Characters").WriteMethods;
  TKtUnicodeWriter writer;
  writer.SetWriteMethods(utf7);
  writer.WriteStr(u"\u263A!");
  EXPECT_EQ(writer.Bytes(), "+JjoAI");
  writer.Flush();
  EXPECT_EQ(writer.Bytes(), "+JjoAIQ");
  EXPECT_EQ(Encode(optional, u"\u263A!"), "+Jjo!");
  EXPECT_EQ(Encode(utf7, u"A+B\u00E9."), "A+-B+AOk.");
  EXPECT_EQ(Encode(utf7, u"\u00E9-"), "+AOk--");
  EXPECT_EQ(Encode(utf7, u"\u00E9+"), "+AOkAKw");
}

// A flush that had to pad ends the run, so the next character is not glued
// to the pad bits.
TEST(Utf7CodecTest, TextWrittenAfterAPaddedFlushDecodesCorrectly) {
  const WideString tails[] = {u"A", u"+", u"\u00E9", u".", u"-x"};
  for (const auto& tail : tails) {
    TKtUnicodeWriter writer;
    writer.SetWriteMethods(Row(u"UTF-7").WriteMethods);
    writer.WriteStr(u"\u263A!");
    writer.Flush();
    writer.WriteStr(tail);
    writer.Flush();
    EXPECT_EQ(Decode(Row(u"UTF-7").ReadMethods, writer.Bytes()), u"\u263A!" + tail)
        << writer.Bytes();
  }
}

TEST(OneByteCodecTest, AsciiJisAndThai) {
  EXPECT_EQ(Decode(Read_US_ASCII, "a\x80"), (WideString{u'a', kFFFD}));
  EXPECT_TRUE(Refuses(Write_US_ASCII, 0x80));
  EXPECT_EQ(Decode(Read_JIS_X0201, "\x5C\x7E\xA1\xDF\xA0\xE0"), (WideString{0xA5, 0x203E, 0xFF61, 0xFF9F, kFFFD, kFFFD}));
  EXPECT_TRUE(Refuses(Write_JIS_X0201, 0x5C));
  EXPECT_TRUE(Refuses(Write_JIS_X0201, 0x7E));
  EXPECT_EQ(Encode(Write_JIS_X0201, u"\u00A5\u203E\uFF61\uFF9Fa"), "\x5C\x7E\xA1\xDF" "a");
  EXPECT_EQ(Decode(Read_TIS_620, "\xA1\xDC\xDF\xFB\xFC"), (WideString{0x0E01, kFFFD, 0x0E3F, 0x0E5B, kFFFD}));
  EXPECT_EQ(Encode(Write_TIS_620, u"\u0E01\u0E5B"), "\xA1\xFB");
  EXPECT_TRUE(Refuses(Write_TIS_620, 0x0E3B));
  EXPECT_EQ(Decode(Read_ISO_8859_1, "\xFF"), u"\u00FF");
  EXPECT_TRUE(Refuses(Write_ISO_8859_1, 0x0100));
}

TEST(Gb18030CodecTest, DecodesThe2000Mapping) {
  EXPECT_EQ(Decode(Read_GB18030, "\x81\x30\x81\x30"), u"\u0080");
  EXPECT_EQ(Decode(Read_GB18030, "\x84\x31\xA4\x39"), u"\uFFFF");
  EXPECT_EQ(Decode(Read_GB18030, "\x90\x30\x81\x30"), WideString(1, kFFFD));
  EXPECT_EQ(Decode(Read_GB18030, "\x84\x31\xA5\x30"), WideString(1, kFFFD));
  EXPECT_EQ(Decode(Read_GB18030, "\x81\x40"), u"\u4E02");
  EXPECT_EQ(Decode(Read_GB18030, "\x80"), WideString(1, kFFFD));
  EXPECT_EQ(Decode(Read_GB18030, "\xA8\xBC"), u"\uE7C7");
  EXPECT_EQ(Decode(Read_GB18030, "\x81\x35\xF4\x37"), u"\u1E3F");
  EXPECT_EQ(Decode(Read_GB18030, "\x81\x30\x84\x36"), u"\u00A5");
  EXPECT_EQ(Decode(Read_GB18030, "\x81\x30\x20z"), (WideString{kFFFD, u'z'}));
  EXPECT_EQ(Decode(Read_GB18030, "\x81\x30\x81\x20z"), (WideString{kFFFD, u'z'}));
  EXPECT_EQ(Decode(Read_GB18030, "\x81\x20z"), (WideString{kFFFD, u'z'}));
  EXPECT_EQ(Decode(Read_GB18030, "\xD6\xD0\xCE\xC4"), u"\u4E2D\u6587");
}

TEST(SinglePageCodecTest, ModelMemberAndDeviations) {
  EXPECT_EQ(Decode(Read_ISO_8859_2, "\xA1"), u"\u0104");
  EXPECT_EQ(Encode(Write_ISO_8859_2, u"\u0104\u0161\u016E\u02D9\u00E9"), "\xA1\xB9\xD9\xFF\xE9");
  EXPECT_TRUE(Refuses(Write_ISO_8859_2, 0x00C0));
  EXPECT_TRUE(Refuses(Write_ISO_8859_3, kFFFD));
  EXPECT_EQ(Decode(Read_ISO_8859_3, "\xA5z"), (WideString{kFFFD, u'z'}));
  // Ukrainian IE, as the published KOI8-U and KOI8-RU tables have it.
  EXPECT_EQ(Decode(Read_KOI8_U, "\xB4\xA4"), u"\u0404\u0454");
  EXPECT_EQ(Decode(Read_KOI8_RU, "\xB4\x93\xBE"), u"\u0404\u201C\u040E");
  EXPECT_EQ(Encode(Write_KOI8_U, u"\u0404"), "\xB4");
  EXPECT_TRUE(Refuses(Write_KOI8_U, 0x0403));
  EXPECT_EQ(Encode(Write_MacArabic, u" "), " ");
  EXPECT_EQ(Decode(Read_MacArabic, "\xA0"), u" ");
  EXPECT_EQ(Encode(Write_MacHebrew, u"()"), "()");
  EXPECT_EQ(Decode(Read_IBM424, "\x40\x20"), u" \u0080");
  EXPECT_EQ(Decode(Read_IBM864, "\x25"), u"\u066A");
  EXPECT_EQ(Decode(Read_ISO_8859_7, "\xA4\xA5\xAA"), u"\u20AC\u20AF\u037A");
  EXPECT_EQ(Decode(Read_MacDingbats, "\x21\x7F\xFF"), (WideString{0x2701, 0x7F, kFFFD}));
  EXPECT_EQ(Decode(Read_NextStep, "\x80\xFF"), (WideString{0xA0, kFFFD}));
  EXPECT_EQ(Decode(Read_MacThai, "\xDB"), u"\u2060");
}

TEST(SinglePageCodecTest, BytesWithoutACharacterPerPage) {
  const std::map<std::u16string_view, int> undefined = {
      {u"ISO-8859-3", 7},    {u"ISO-8859-6", 45},   {u"ISO-8859-7", 3},    {u"ISO-8859-8", 36},
      {u"Windows-1250", 5},  {u"Windows-1251", 1},  {u"Windows-1252", 5},  {u"Windows-1253", 17},
      {u"Windows-1254", 7},  {u"Windows-1255", 23}, {u"Windows-1257", 12}, {u"Windows-1258", 9},
      {u"MacDingbats", 21},  {u"MacHebrew", 3},     {u"MacThai", 28},      {u"IBM424", 38},
      {u"CP 856 Hebrew PC", 41}, {u"IBM857", 3},    {u"IBM864", 6},        {u"IBM869", 9},
      {u"CP 874 (Thai)", 31}, {u"NextStep", 2}};
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  int pages = 0;
  for (const auto& row : UnicodeEncodings) {
    const WideString decoded = Decode(row.ReadMethods, all);
    if (decoded.size() != 256 || !row.WriteMethods.WriteChar || row.WriteMethods.Flush) continue;
    if (row.ReadMethods.ReadChar == Read_ISO_8859_1 || row.ReadMethods.ReadChar == Read_US_ASCII ||
        row.ReadMethods.ReadChar == Read_JIS_X0201 || row.ReadMethods.ReadChar == Read_TIS_620 ||
        row.ReadMethods.ReadChar == Read_UTF_8) {
      continue;
    }
    ++pages;
    const auto expected = undefined.find(row.EffectiveName());
    const int count = static_cast<int>(std::count(decoded.begin(), decoded.end(), kFFFD));
    EXPECT_EQ(count, expected == undefined.end() ? 0 : expected->second)
        << std::string(row.EffectiveName().begin(), row.EffectiveName().end());
  }
  EXPECT_EQ(pages, 57);
}

// glibc's iconv carries the same tables for these pages.
TEST(SinglePageCodecTest, DecodersAgreeWithIconvOnEveryByte) {
  const std::pair<std::u16string_view, const char*> pages[] = {
      {u"ISO-8859-2", "ISO-8859-2"}, {u"ISO-8859-3", "ISO-8859-3"}, {u"ISO-8859-4", "ISO-8859-4"},
      {u"ISO-8859-5", "ISO-8859-5"}, {u"ISO-8859-6", "ISO-8859-6"}, {u"ISO-8859-7", "ISO-8859-7"},
      {u"ISO-8859-8", "ISO-8859-8"}, {u"ISO-8859-9", "ISO-8859-9"}, {u"ISO-8859-10", "ISO-8859-10"},
      {u"ISO-8859-13", "ISO-8859-13"}, {u"ISO-8859-14", "ISO-8859-14"},
      {u"ISO-8859-15", "ISO-8859-15"}, {u"ISO-8859-16", "ISO-8859-16"}, {u"KOI8-R", "KOI8-R"},
      {u"KOI8-RU", "KOI8-RU"}, {u"KOI8-U", "KOI8-U"}, {u"Windows-1250", "CP1250"},
      {u"Windows-1251", "CP1251"}, {u"Windows-1252", "CP1252"}, {u"Windows-1253", "CP1253"},
      {u"Windows-1254", "CP1254"}, {u"Windows-1256", "CP1256"}, {u"Windows-1257", "CP1257"},
      {u"IBM850", "IBM850"}, {u"IBM862", "IBM862"}, {u"IBM866", "IBM866"},
      {u"MacCentralEurope", "MAC-CENTRALEUROPE"}, {u"IBM437", "IBM437"},
      {u"CP 737 DOS Greek", "CP737"}, {u"CP 775 DOS BaltRim", "CP775"}, {u"IBM852", "IBM852"},
      {u"IBM855", "IBM855"}, {u"IBM857", "IBM857"}, {u"IBM860", "IBM860"}, {u"IBM861", "IBM861"},
      {u"IBM863", "IBM863"}, {u"IBM864", "IBM864"}, {u"IBM865", "IBM865"}, {u"IBM869", "IBM869"},
      {u"CP 874 (Thai)", "CP874"}, {u"US-ASCII", "ASCII"}, {u"ISO-8859-1", "ISO-8859-1"},
      {u"TIS-620", "TIS-620"}};
  for (const auto& [name, iconvName] : pages) {
    const TKtUnicodeEncoding* row = nullptr;
    for (const auto& candidate : UnicodeEncodings) {
      if (candidate.EffectiveName() == name) row = &candidate;
    }
    ASSERT_NE(row, nullptr);
    iconv_t cd = iconv_open("UTF-16LE", iconvName);
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << iconvName;
    for (int b = 0; b < 256; ++b) {
      char in = static_cast<char>(b);
      char out[8] = {};
      char* inPtr = &in;
      char* outPtr = out;
      size_t inLeft = 1;
      size_t outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
      const WideChar expected =
          ok ? static_cast<WideChar>(static_cast<uint8_t>(out[0]) | (static_cast<uint8_t>(out[1]) << 8))
             : kFFFD;
      EXPECT_EQ(Decode(row->ReadMethods, std::string(1, in)), WideString(1, expected))
          << iconvName << " byte " << b;
    }
    iconv_close(cd);
  }
}

// Every character an encoder accepts comes back through its decoder, in
// stream mode so that characters straddle the 4096-byte blocks.
TEST(EncodingRoundTripTest, EveryHeldCharacterComesBack) {
  int checked = 0;
  for (const auto& row : UnicodeEncodings) {
    if (!row.WriteMethods.WriteChar) continue;
    const TKtUnicodeReadMethods& read =
        row.ReadMethods.ReadChar ? row.ReadMethods : Row(u"UTF-7").ReadMethods;
    TMemoryStream stream;
    WideString held;
    {
      TKtUnicodeWriter writer;
      writer.SetStream(&stream);
      writer.SetWriteMethods(row.WriteMethods);
      for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        if (row.WriteMethods.WriteChar(writer, static_cast<WideChar>(c))) held += static_cast<WideChar>(c);
      }
      writer.Flush();
    }
    stream.SetPosition(0);
    TKtUnicodeReader reader;
    reader.SetReadMethods(read);
    reader.SourceStream(&stream);
    WideString decoded;
    while (reader.ReadChar()) decoded += reader.Char;
    const std::string name(row.Description.begin(), row.Description.end());
    EXPECT_EQ(decoded.size(), held.size()) << name;
    EXPECT_TRUE(decoded == held) << name;
    EXPECT_GE(held.size(), 128u) << name;
    ++checked;
  }
  EXPECT_EQ(checked, 72);
}

TEST(UnicodeEncodingsTest, TableShape) {
  EXPECT_EQ(UnicodeEncodings.size(), 73u);
  std::set<std::u16string_view> descriptions;
  int named = 0;
  int readable = 0;
  int writable = 0;
  for (const auto& row : UnicodeEncodings) {
    descriptions.insert(row.Description);
    named += row.Name.empty() ? 0 : 1;
    readable += row.ReadMethods.ReadChar ? 1 : 0;
    writable += row.WriteMethods.WriteChar ? 1 : 0;
  }
  EXPECT_EQ(descriptions.size(), 73u);
  EXPECT_EQ(named, 38);
  EXPECT_EQ(readable, 72);
  EXPECT_EQ(writable, 72);
  const auto& latin1 = UnicodeEncodings[19];
  EXPECT_EQ(latin1.Description, u"ISO-8859-1 (Western)");
  EXPECT_EQ(latin1.EffectiveName(), u"ISO-8859-1");
  EXPECT_EQ(latin1.ReadMethods.ReadChar, TKtUnicodeReader().ReadMethods.ReadChar);
  EXPECT_EQ(latin1.WriteMethods.WriteChar, TKtUnicodeWriter().WriteMethods.WriteChar);
  EXPECT_EQ(ReadMethods_ISO_8859_1.ReadChar, latin1.ReadMethods.ReadChar);
  EXPECT_NE(Row(u"ISO-8859-15 (Western)").ReadMethods.ReadChar, latin1.ReadMethods.ReadChar);
  EXPECT_EQ(Row(u"GB 18030 Standard Chinese").EffectiveName(), u"GB18030");
  EXPECT_EQ(Row(u"GB 18030 Standard Chinese").WriteMethods.WriteChar, nullptr);
  EXPECT_EQ(Row(u"UTF-7 Optional Direct Characters").EffectiveName(), u"UTF-7");
  EXPECT_EQ(Row(u"UTF-7 Optional Direct Characters").ReadMethods.ReadChar, nullptr);
  EXPECT_EQ(UnicodeEncodings[72].EffectiveName(), u"Windows-1258");
}

}  // namespace
}  // namespace kt
