// SPDX-License-Identifier: MIT
#include "toolkit/wide_string.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/stream.h"

namespace kt {
namespace {

TEST(WideStringTest, Utf8RoundTripAndReplacement) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  const WideString wide = Utf8ToWide(text);
  EXPECT_EQ(wide, (WideString{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(WideToUtf8(wide), text);
  EXPECT_EQ(WideToUtf8(WideString{0xD800, u'x'}), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), (WideString{0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToWide("\xE2\x82"), (WideString{0xFFFD, 0xFFFD}));
}

// The scan agrees with the conversion: well formed exactly where a round
// trip through UTF-16 gives the bytes back.
TEST(WideStringTest, WellFormedUtf8IsWhatTheConversionKeeps) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", true},
      {"plain ascii", true},
      {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
      {"\xEF\xBF\xBD", true},             // U+FFFD itself
      {"\xF4\x8F\xBF\xBF", true},         // U+10FFFF
      {"\xC0\xAF", false},                 // overlong lead
      {"\xC1\xBF", false},
      {"\xE0\x9F\xBF", false},             // overlong three bytes
      {"\xF0\x8F\xBF\xBF", false},         // overlong four bytes
      {"\xED\xA0\x80", false},             // a surrogate
      {"\xF4\x90\x80\x80", false},         // above U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\xE2\x82", false},                 // cut short
      {"caf\xE9", false},                   // Latin-1
      {"\x80", false},                      // a continuation alone
      {"\xC3\xA9\xC3", false},
      {"x\xFF", false},
  };
  for (const auto& [text, wellFormed] : cases) {
    EXPECT_EQ(IsWellFormedUtf8(text), wellFormed) << text;
    EXPECT_EQ(IsWellFormedUtf8(text), WideToUtf8(Utf8ToWide(text)) == text) << text;
  }
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string text(random() % 6, '\0');
    for (char& c : text) c = static_cast<char>(random() % 4 == 0 ? random() % 0x80 : 0x80 + random() % 0x80);
    EXPECT_EQ(IsWellFormedUtf8(text), WideToUtf8(Utf8ToWide(text)) == text) << i;
  }
}

TEST(MemoryStreamTest, WritesPastTheEndFillWithZeros) {
  TMemoryStream stream;
  stream.Seek(3, SeekOrigin::Beginning);
  stream.WriteBuffer("ab", 2);
  EXPECT_EQ(stream.Size(), 5);
  EXPECT_EQ(stream.ToString(), std::string("\0\0\0ab", 5));
  stream.SetPosition(0);
  char buffer[8];
  EXPECT_EQ(stream.Read(buffer, 8), 5);
  EXPECT_THROW(stream.ReadBuffer(buffer, 1), EStreamError);
}

}  // namespace
}  // namespace kt
