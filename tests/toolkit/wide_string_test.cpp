// SPDX-License-Identifier: MIT
#include "toolkit/wide_string.h"

#include <gtest/gtest.h>

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
