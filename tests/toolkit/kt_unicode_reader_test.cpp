// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/kt_unicode.h"
#include "toolkit/kt_unicode_codecs.h"
#include "toolkit/kt_unicode_encodings.h"
#include "toolkit/kt_unicode_single_byte.h"

namespace kt {
namespace {

struct Position {
  WideChar c;
  uint32_t line;
  uint32_t column;
};

std::vector<Position> ReadAllPositions(TKtUnicodeReader& reader) {
  std::vector<Position> positions;
  while (reader.ReadChar()) positions.push_back({reader.Char, reader.Line, reader.Column});
  return positions;
}

TEST(KtUnicodeReaderTest, CrLfAndCrLfPairEachEndOneLine) {
  const std::string text = "a\r\nb\rc\nd";
  TKtUnicodeReader reader;
  reader.SourceBufferEx(text.data(), static_cast<uint32_t>(text.size()));
  const auto positions = ReadAllPositions(reader);
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {1, 1}, {1, 2}, {1, 2}, {2, 1}, {2, 2}, {3, 1}, {3, 2}, {4, 1}};
  ASSERT_EQ(positions.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(positions[i].line, expected[i].first) << "character " << i;
    EXPECT_EQ(positions[i].column, expected[i].second) << "character " << i;
  }
  EXPECT_EQ(reader.CharPos, 8u);
}

TEST(KtUnicodeReaderTest, ReadingPastTheEndKeepsThePosition) {
  const std::string text = "ab";
  TKtUnicodeReader reader;
  reader.SourceBufferEx(text.data(), 2);
  ASSERT_TRUE(reader.ReadChar());
  ASSERT_TRUE(reader.ReadChar());
  EXPECT_FALSE(reader.ReadChar());
  EXPECT_FALSE(reader.CharValid);
  EXPECT_EQ(reader.CharPos, 2u);
  EXPECT_EQ(reader.Line, 1u);
  EXPECT_EQ(reader.Column, 2u);
  EXPECT_FALSE(reader.ReadChar());  // asks the decoder again, which fails again
}

TEST(KtUnicodeReaderTest, AddCharAndReadAtTheEndCountsOneMorePosition) {
  const std::string text = "ab";
  TKtUnicodeReader reader;
  reader.SourceBufferEx(text.data(), 2);
  reader.ReadChar();
  EXPECT_TRUE(reader.AddCharAndRead());
  EXPECT_FALSE(reader.AddCharAndRead());
  EXPECT_EQ(reader.GetData(), u"ab");
  EXPECT_EQ(reader.CharPos, 3u);
  EXPECT_EQ(reader.Column, 3u);
  EXPECT_EQ(reader.Char, u'b');
}

TEST(KtUnicodeReaderTest, WhiteSpaceNormalization) {
  TKtUnicodeReader reader;
  reader.AddStrNormalizeWhiteSpace(u" a \t\r\n b ");
  EXPECT_EQ(reader.GetData(), u" a b ");
  reader.ClearData();
  reader.AddChar(u' ');
  reader.AddStrNormalizeWhiteSpace(u" a \t\r\n b ");
  EXPECT_EQ(reader.GetData(), u" a b ");
  reader.ClearData();
  reader.AddCharNormalizeWhiteSpace(u'\t');
  reader.AddCharNormalizeWhiteSpace(u'\t');
  EXPECT_EQ(reader.GetData(), u" ");
  reader.AddSpace();
  reader.AddCharNormalizeWhiteSpace(u'x');
  reader.AddSpace();
  EXPECT_EQ(reader.GetData(), u" x ");
  reader.ClearData();
  EXPECT_EQ(reader.DataCapacity, 0u);
  reader.AddStr(u"");
  EXPECT_EQ(reader.GetData(), u"");
}

TEST(KtUnicodeReaderTest, PreReadCharsKeepsWhatItGotWhenTheSourceEnds) {
  const std::string text = "xyz";
  TKtUnicodeReader reader;
  reader.SourceBufferEx(text.data(), 3);
  reader.ReadChar();
  EXPECT_FALSE(reader.PreReadChars(3));
  EXPECT_EQ(reader.LookAheadCount, 2u);
  EXPECT_EQ(reader.LookAheadCapacity, 3u);
  EXPECT_EQ(reader.CharPos, 1u);
  EXPECT_TRUE(reader.PreReadChars(2));
  ASSERT_TRUE(reader.ReadChar());
  EXPECT_EQ(reader.Char, u'y');
  ASSERT_TRUE(reader.ReadChar());
  EXPECT_EQ(reader.Char, u'z');
  EXPECT_EQ(reader.CharPos, 3u);
  EXPECT_FALSE(reader.ReadChar());
}

TEST(KtUnicodeReaderTest, ReadMethodsWithoutReadCharInstallIso88591) {
  const std::string text = "\xE9";
  TKtUnicodeReader reader;
  reader.SetReadMethods({nullptr, Read_UTF_8, nullptr});
  reader.SetReadMethods({});
  EXPECT_EQ(reader.ReadMethods.ReadChar, &Read_ISO_8859_1);
  reader.SourceBufferEx(text.data(), 1);
  ASSERT_TRUE(reader.ReadChar());
  EXPECT_EQ(reader.Char, 0x00E9);
}

TEST(KtUnicodeReaderTest, ChangingTheDecoderKeepsLookAhead) {
  const std::string text = "\xC3\xA9\xC3\xA9";
  TKtUnicodeReader reader;
  reader.SourceBufferEx(text.data(), 4);
  ASSERT_TRUE(reader.PreReadChars(1));
  reader.SetReadMethods({nullptr, Read_UTF_8, nullptr});
  reader.ReadChar();
  EXPECT_EQ(reader.Char, 0x00C3);
  reader.ReadChar();
  EXPECT_EQ(reader.Char, 0xFFFD);  // a lone continuation byte
  reader.ReadChar();
  EXPECT_EQ(reader.Char, 0x00E9);
}

TEST(KtUnicodeReaderTest, WideStringSourceReadsBackThroughUtf16Le) {
  TKtUnicodeReader reader;
  const WideString empty;
  reader.SourceWideStr(empty);
  EXPECT_FALSE(reader.ReadChar());
  const WideString text = u"h\u00E9\u20AC";
  reader.SetReadMethods(ReadMethods_UTF_16LE);
  reader.SourceWideStr(text);
  reader.ReadChar();
  reader.AddCharsUntilChar(0);
  EXPECT_EQ(reader.GetData(), text);
}

TEST(KtUnicodeReaderTest, DataGrowsByAboutAQuarter) {
  TKtUnicodeReader reader;
  std::vector<uint32_t> capacities;
  for (int i = 0; i < 40; ++i) {
    reader.AddChar(u'x');
    if (capacities.empty() || capacities.back() != reader.DataCapacity) {
      capacities.push_back(reader.DataCapacity);
    }
  }
  EXPECT_EQ(capacities, (std::vector<uint32_t>{4, 8, 12, 16, 24, 32, 44}));
}

TEST(KtUnicodeReaderTest, MemorySourceIsRefusedInStreamMode) {
  TMemoryStream stream;
  stream.WriteBuffer("abc", 3);
  stream.SetPosition(0);
  TKtUnicodeReader reader;
  reader.SourceStream(&stream);
  reader.ReadChar();
  try {
    reader.SourceWideStr(u"x");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Class TKtUnicodeReader: Operation not allowed in Source Stream Mode");
  }
  EXPECT_TRUE(reader.CharValid);
  EXPECT_EQ(reader.Char, u'a');
  reader.SourceStream(nullptr);
  EXPECT_EQ(reader.Buffer, nullptr);
  reader.SourceWideStr(u"x");
}

TEST(KtUnicodeReaderTest, StreamSourceContinuesThePositionOfTheLastSource) {
  TMemoryStream first;
  first.WriteBuffer("a\n", 2);
  first.SetPosition(0);
  TMemoryStream second;
  second.WriteBuffer("b", 1);
  second.SetPosition(0);
  TKtUnicodeReader reader;
  reader.SourceStream(&first);
  while (reader.ReadChar()) {
  }
  reader.SourceStream(&second);
  EXPECT_FALSE(reader.CharValid);
  ASSERT_TRUE(reader.ReadChar());
  EXPECT_EQ(reader.Char, u'b');
  EXPECT_EQ(reader.Line, 2u);
  EXPECT_EQ(reader.CharPos, 3u);
}

// Multi-byte characters cut by the 4096-byte blocks decode as in memory.
TEST(KtUnicodeReaderTest, StreamBlocksSplitCharactersTransparently) {
  const TKtUnicodeReadMethods decoders[] = {{nullptr, Read_UTF_8, nullptr},
                                            {nullptr, Read_UTF_16BE, nullptr},
                                            {nullptr, Read_GB18030, nullptr}};
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += "\xE2\x82\xAC\xD8\x3D\xDE\x00\x81\x30\x81\x30";
  for (const auto& decoder : decoders) {
    TKtUnicodeReader memory;
    memory.SetReadMethods(decoder);
    memory.SourceBufferEx(bytes.data(), static_cast<uint32_t>(bytes.size()));
    memory.ReadChar();
    memory.AddCharsUntilChar(0);
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
    TKtUnicodeReader streamed;
    streamed.SetReadMethods(decoder);
    streamed.SourceStream(&stream);
    streamed.ReadChar();
    streamed.AddCharsUntilChar(0);
    EXPECT_GT(memory.DataLength, 3000u);
    EXPECT_EQ(streamed.GetData(), memory.GetData());
  }
}

struct ReaderState {
  bool valid;
  WideChar c;
  WideChar prev;
  uint32_t pos;
  uint32_t line;
  uint32_t column;
  bool operator==(const ReaderState&) const = default;
};

ReaderState StateOf(const TKtUnicodeReader& r) { return {r.CharValid, r.Char, r.PrevChar, r.CharPos, r.Line, r.Column}; }

// ASCII runs are taken in bulk straight from the bytes: the characters and
// the position must come out exactly as one ReadChar at a time gives them,
// across stream blocks, line ends and characters beyond ASCII.
TEST(KtUnicodeReaderTest, BulkReadingMatchesReadingOneCharacterAtATime) {
  std::string bytes;
  for (int i = 0; i < 700; ++i) bytes += "ab\r\ncd\re\xC3\xA9\n\nf\xE2\x82\xACg\x80h\r\r";
  bytes += "#tail";
  const TKtUnicodeReadMethods decoders[] = {{nullptr, Read_UTF_8, nullptr},
                                            {nullptr, Read_Windows_1252, nullptr},
                                            {nullptr, Read_UTF_16LE, nullptr}};
  for (const auto& decoder : decoders) {
    for (bool streamed : {false, true}) {
      TMemoryStream streams[2];
      TKtUnicodeReader bulk;
      TKtUnicodeReader single;
      TKtUnicodeReader* both[] = {&bulk, &single};
      for (int i = 0; i < 2; ++i) {
        both[i]->SetReadMethods(decoder);
        if (streamed) {
          streams[i].WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
          streams[i].SetPosition(0);
          both[i]->SourceStream(&streams[i]);
        } else {
          both[i]->SourceBufferEx(bytes.data(), static_cast<uint32_t>(bytes.size()));
        }
      }
      ASSERT_TRUE(bulk.PreReadChars(3));  // waiting characters come first
      std::vector<WideChar> chunk(1000);
      for (uint32_t size : {1u, 7u, 1000u, 5u, 1000u, 1000u, 1000u, 1000u, 1000u, 1000u}) {
        const uint32_t got = bulk.ReadChars(chunk.data(), size);
        for (uint32_t i = 0; i < got; ++i) {
          ASSERT_TRUE(single.ReadChar());
          ASSERT_EQ(chunk[i], single.Char) << "character " << single.CharPos;
        }
        ASSERT_EQ(StateOf(bulk), StateOf(single));
        ASSERT_EQ(got, size);
      }
      bulk.ClearData();
      bulk.AddCharsUntilChar(u'#');
      WideString expected;
      while (single.CharValid && single.Char != u'#') {
        expected.push_back(single.Char);
        single.ReadChar();
      }
      EXPECT_EQ(bulk.GetData(), expected);
      EXPECT_EQ(StateOf(bulk), StateOf(single));
      bulk.SkipCharsUntilChar(u'x');
      while (single.ReadChar()) {
      }
      EXPECT_EQ(StateOf(bulk), StateOf(single));
      EXPECT_EQ(bulk.ReadChars(chunk.data(), 10), 0u);
    }
  }
}

TEST(KtUnicodeReaderTest, BulkReadingFollowsADecoderChange) {
  const std::string bytes("ab\xC3\xA9" "c\0d\0", 8);
  TKtUnicodeReader reader;
  reader.SourceBufferEx(bytes.data(), static_cast<uint32_t>(bytes.size()));
  std::vector<WideChar> chunk(8);
  ASSERT_EQ(reader.ReadChars(chunk.data(), 2), 2u);
  reader.SetReadMethods({nullptr, Read_UTF_8, nullptr});
  ASSERT_EQ(reader.ReadChars(chunk.data(), 1), 1u);
  EXPECT_EQ(chunk[0], 0x00E9);
  reader.SetReadMethods(ReadMethods_UTF_16LE);
  reader.ReadChar();
  reader.ClearData();
  reader.AddCharsUntilChar(u'x');
  EXPECT_EQ(reader.GetData(), u"cd");
}

bool IsVowel(WideChar c) { return c == u'a' || c == u'e' || c == u'i' || c == u'o' || c == u'u'; }

TEST(KtUnicodeReaderTest, ScanningLoopsStopAtTheStopCharacter) {
  const std::string text = "  42abF9g;aei-x";
  TKtUnicodeReader reader;
  reader.SkipWhiteSpace();  // CharValid is still false: nothing happens
  EXPECT_EQ(reader.CharPos, 0u);
  reader.SourceBufferEx(text.data(), static_cast<uint32_t>(text.size()));
  reader.ReadChar();
  reader.SkipWhiteSpace();
  reader.AddDigits();
  EXPECT_EQ(reader.GetData(), u"42");
  reader.ClearData();
  reader.AddHexDigits();
  EXPECT_EQ(reader.GetData(), u"abF9");
  EXPECT_EQ(reader.Char, u'g');
  reader.SkipCharsUntil2Chars(u';', u'!');
  reader.SkipCharsWhileChar(u';');
  reader.ClearData();
  reader.AddCharsWhile(IsVowel);
  EXPECT_EQ(reader.GetData(), u"aei");
  reader.AddCharsUntil3Chars(u'x', u'y', u'z');
  EXPECT_EQ(reader.GetData(), u"aei-");
  EXPECT_EQ(reader.Char, u'x');
  reader.AddCharsUntilChar(u'#');
  EXPECT_EQ(reader.GetData(), u"aei-x");
  EXPECT_FALSE(reader.CharValid);
  EXPECT_EQ(reader.CharPos, 15u);
}

bool IsLetter(WideChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

TEST(KtUnicodeReaderTest, SkipAndAddVariantsAgree) {
  const std::string text = "xxxyy  \t 123 word;rest#tail";
  TKtUnicodeReader reader;
  reader.SourceBufferEx(text.data(), static_cast<uint32_t>(text.size()));
  reader.ReadChar();
  reader.AddCharsWhileChar(u'x');
  EXPECT_EQ(reader.GetData(), u"xxx");
  reader.SkipCharsUntil(IsCharWhiteSpaceW);
  reader.AddWhiteSpace();
  EXPECT_EQ(reader.GetData(), u"xxx  \t ");
  reader.SkipDigits();
  reader.SkipWhiteSpace();
  reader.SkipCharsWhile(IsLetter);
  EXPECT_EQ(reader.Char, u';');
  reader.ReadChar();
  reader.ClearData();
  reader.AddCharsUntil(IsCharWhiteSpaceW);  // none in the rest: up to the end
  EXPECT_EQ(reader.GetData(), u"rest#tail");
  EXPECT_FALSE(reader.CharValid);
  reader.SourceBufferEx(text.data(), static_cast<uint32_t>(text.size()));
  reader.ReadChar();
  reader.SkipCharsUntilChar(u'#');
  EXPECT_EQ(reader.CharPos, 23u);
  reader.SkipCharsWhileChar(u'#');
  EXPECT_EQ(reader.Char, u't');
}

TEST(KtUnicodeReaderTest, Utf7DecoderStateLivesBetweenInitAndDone) {
  const std::string text = "+AGEAYgBj-";
  TKtUnicodeReader reader;
  reader.SetReadMethods(UnicodeEncodings[57].ReadMethods);
  EXPECT_NE(reader.CodecState, nullptr);
  reader.SourceBufferEx(text.data(), static_cast<uint32_t>(text.size()));
  reader.ReadChar();
  reader.AddCharsUntilChar(0);
  EXPECT_EQ(reader.GetData(), u"abc");
  reader.SetReadMethods(ReadMethods_ISO_8859_1);
  EXPECT_EQ(reader.CodecState, nullptr);
  reader.SetReadMethods({nullptr, Read_UTF_7, nullptr});
  reader.SourceBufferEx(text.data(), static_cast<uint32_t>(text.size()));
  EXPECT_THROW(reader.ReadChar(), Exception);
}

}  // namespace
}  // namespace kt
