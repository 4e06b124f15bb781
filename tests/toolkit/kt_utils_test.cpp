// SPDX-License-Identifier: MIT
#include "toolkit/kt_utils.h"

#include <gtest/gtest.h>

#include <set>

#include "toolkit/exception.h"

namespace kt {
namespace {

bool IsLetterA(WideChar c) { return c == u'a'; }

TEST(CharFoldWTest, FoldsToLowerCaseOrFoldedForm) {
  const std::pair<WideChar, WideChar> samples[] = {
      {u'A', u'a'},       {0x00C0, 0x00E0}, {0x0178, 0x00FF}, {0x03C2, 0x03C3},
      {0x03A3, 0x03C3},   {0x017F, u's'},   {0x212A, u'k'},   {0x2126, 0x03C9},
      {0xFF21, 0xFF41},   {0x1F88, 0x1F80}, {u'Z', u'z'},     {0x0410, 0x0430}};
  for (const auto& [code, folded] : samples) {
    EXPECT_EQ(CharFoldW(code), folded) << std::hex << int(code);
  }
}

TEST(CharFoldWTest, LeavesUnfoldedCharactersAlone) {
  for (WideChar c : {WideChar(0x0130), WideChar(0x00DF), WideChar(u'a'), WideChar(u'0'),
                     WideChar(0xD800), WideChar(0xFFFF), WideChar(0), WideChar(0x4E00)}) {
    EXPECT_EQ(CharFoldW(c), c) << std::hex << int(c);
  }
}

TEST(CharFoldWTest, TableChangesExactly726CodesIn30Pages) {
  int changed = 0;
  std::set<int> blocks;
  for (int code = 0; code <= 0xFFFF; ++code) {
    const WideChar folded = CharFoldW(static_cast<WideChar>(code));
    if (folded == code) continue;
    ++changed;
    blocks.insert(code >> 6);
    EXPECT_EQ(CharFoldW(folded), folded) << "fold of U+" << std::hex << code << " folds again";
  }
  EXPECT_EQ(changed, 726);
  EXPECT_EQ(blocks.size(), 30u);
}

TEST(CompareTest, CaseSensitiveEquality) {
  EXPECT_TRUE(SameStrW(u"", u""));
  EXPECT_FALSE(SameStrW(u"", u"a"));
  EXPECT_FALSE(SameStrW(u"ab", u"abc"));
  EXPECT_FALSE(SameStrW(u"abc", u"abC"));
  EXPECT_TRUE(SameStrW(u"abc", u"abc"));
  const WideString buffer = u"xabcx";
  EXPECT_TRUE(BufSameStrW(buffer.data() + 1, 3, u"abc"));
  EXPECT_FALSE(BufSameStrW(buffer.data() + 1, 3, u"aBc"));
  EXPECT_FALSE(BufSameStrW(buffer.data() + 1, 2, u"abc"));
  EXPECT_TRUE(BufSameStrW(nullptr, 0, u""));
  EXPECT_FALSE(BufSameStrW(nullptr, 3, u"abc"));
}

TEST(CompareTest, FoldedEqualityCoversAsciiAndGreekButNotExpansions) {
  EXPECT_TRUE(SameTextW(u"Hello World", u"hELLO wORLD"));
  EXPECT_TRUE(SameTextW(u"\u039A\u0391\u039B\u039F\u03A3", u"\u03BA\u03B1\u03BB\u03BF\u03C2"));
  EXPECT_FALSE(SameTextW(u"\u00DF", u"ss"));
  EXPECT_FALSE(SameTextW(u"abc", u"abd"));
  EXPECT_TRUE(SameTextW(u"", u""));
  const WideString buffer = u"-FEED-";
  EXPECT_TRUE(BufSameTextW(buffer.data() + 1, 4, u"feed"));
  EXPECT_FALSE(BufSameTextW(buffer.data() + 1, 4, u"feeds"));
  EXPECT_TRUE(BufSameTextW(buffer.data(), 0, u""));
}

TEST(SearchTest, StrPosFindsFirstOccurrenceFromStart) {
  EXPECT_EQ(StrPosW(u"b", u"abcabc"), 2);
  EXPECT_EQ(StrPosW(u"b", u"abcabc", 3), 5);
  EXPECT_EQ(StrPosW(u"abc", u"abcabc", 2), 4);
  EXPECT_EQ(StrPosW(u"abcabc", u"abcabc"), 1);
  EXPECT_EQ(StrPosW(u"cab", u"abcabc"), 3);
  EXPECT_EQ(StrPosW(u"abd", u"abcabc"), 0);
  EXPECT_EQ(StrPosW(u"B", u"abcabc"), 0);
}

TEST(SearchTest, StrPosOutOfRangeGivesZero) {
  EXPECT_EQ(StrPosW(u"a", u"abc", 0), 0);
  EXPECT_EQ(StrPosW(u"a", u"abc", -2), 0);
  EXPECT_EQ(StrPosW(u"abcd", u"abc"), 0);
  EXPECT_EQ(StrPosW(u"", u"abc"), 0);
  EXPECT_EQ(StrPosW(u"a", u""), 0);
  EXPECT_EQ(StrPosW(u"bc", u"abc", 3), 0);
  EXPECT_EQ(StrPosW(u"c", u"abc", 4), 0);
}

TEST(SearchTest, MatchesAtEveryOffsetAndNeverReadsPastTheEnd) {
  // Every pattern length and alignment around the four-wide scan and the
  // two-wide compare; the text is an exact-size heap copy so a read past its
  // end shows under AddressSanitizer.
  const WideString text = u"0123456789abcdef";
  for (size_t length = 1; length <= text.size(); ++length) {
    for (size_t at = 0; at + length <= text.size(); ++at) {
      const WideString pattern = text.substr(at, length);
      EXPECT_EQ(StrPosW(pattern, text), int(at + 1)) << "pattern " << at << "+" << length;
      const WideString near = pattern.substr(0, length - 1) + u'!';
      EXPECT_EQ(StrPosW(near, text), 0);
    }
  }
}

TEST(SearchTest, BufPosCountsFromBufferStart) {
  const WideString buffer = u"xxABxxAB";
  const WideString pattern = u"AB";
  EXPECT_EQ(BufPosW(pattern.data(), 2, buffer.data(), 0, 8), 3);
  EXPECT_EQ(BufPosW(pattern.data(), 2, buffer.data(), 3, 8), 7);
  EXPECT_EQ(BufPosW(pattern.data(), 2, buffer.data(), 7, 8), 0);
  EXPECT_EQ(BufPosW(pattern.data(), 2, buffer.data(), 0, 1), 0);
  EXPECT_EQ(BufPosIW(u"ab", 2, buffer.data(), 4, 8), 7);
  EXPECT_EQ(BufPosW(pattern.data(), 0, buffer.data(), 0, 8), 0);
}

TEST(SearchTest, FoldedSearchIgnoresCase) {
  EXPECT_EQ(StrPosIW(u"<LINK", u"<head><link rel=x>"), 7);
  EXPECT_EQ(StrPosIW(u"\u03A3\u039F", u"\u03BB\u03BF\u03C2\u03BF"), 3);
  EXPECT_EQ(StrPosIW(u"k", u"\u212A"), 1);
  EXPECT_EQ(StrPosIW(u"x", u"abc"), 0);
  EXPECT_EQ(StrPosIW(u"a", u"abc", 0), 0);
  EXPECT_TRUE(StrContainsIW(u"RSS", u"application/rss+xml"));
  EXPECT_FALSE(StrContainsIW(u"atom", u"application/rss+xml"));
  EXPECT_FALSE(StrContainsIW(u"rss", u"application/rss+xml", 14));
}

TEST(SearchTest, CharSearchesForwardAndBackward) {
  const WideString text = u"a/b/c";
  EXPECT_EQ(BufPosCharW(text, u'/'), 2);
  EXPECT_EQ(BufPosCharW(text, u'/', 3), 4);
  EXPECT_EQ(BufPosCharW(text, u'/', 5), 0);
  EXPECT_EQ(BufPosCharW(text, u'/', 0), 0);
  EXPECT_EQ(BufPosCharW(text, u'/', 6), 0);
  EXPECT_EQ(BufPosCharW(u"", u'/'), 0);
  EXPECT_EQ(BufRPosCharW(text, u'/', 0), 4);
  EXPECT_EQ(BufRPosCharW(text, u'/', 3), 2);
  EXPECT_EQ(BufRPosCharW(text, u'/', 1), 0);
  EXPECT_EQ(BufRPosCharW(text, u'/', 6), 0);
  EXPECT_EQ(BufRPosCharW(u"", u'/', 0), 0);
}

TEST(SearchTest, StrPosValidatedFindsFirstFailingCharacter) {
  EXPECT_EQ(StrPosValidatedW(u"  x ", IsCharWhiteSpaceW), 3);
  EXPECT_EQ(StrPosValidatedW(u"  x y", IsCharWhiteSpaceW, 4), 5);
  EXPECT_EQ(StrPosValidatedW(u"   ", IsCharWhiteSpaceW), 0);
  EXPECT_EQ(StrPosValidatedW(u"", IsCharWhiteSpaceW), 0);
  EXPECT_EQ(StrPosValidatedW(u"x", IsCharWhiteSpaceW, 0), 0);
  EXPECT_EQ(StrPosValidatedW(u"x", IsCharWhiteSpaceW, 2), 0);
}

TEST(WholeTextTest, AllAndAnyOverBuffersAndStrings) {
  EXPECT_TRUE(StrAllCharsW(u"0123456789", IsCharDigitW));
  EXPECT_FALSE(StrAllCharsW(u"01234567x9", IsCharDigitW));
  EXPECT_TRUE(StrAllCharsW(u"", IsCharDigitW));
  EXPECT_TRUE(BufAllCharsW(u"x", 0, IsCharDigitW));
  EXPECT_TRUE(StrAnyCharW(u"bbbbbbba", IsLetterA));
  EXPECT_FALSE(StrAnyCharW(u"bbbbbbbbb", IsLetterA));
  EXPECT_FALSE(StrAnyCharW(u"", IsLetterA));
  EXPECT_FALSE(BufAnyCharW(u"a", 0, IsLetterA));
  EXPECT_TRUE(StrAllCharsFromW(u"ab12", IsCharDigitW, 3));
  EXPECT_FALSE(StrAllCharsFromW(u"ab12", IsCharDigitW, 2));
  EXPECT_FALSE(StrAllCharsFromW(u"", IsCharDigitW, 1));
  EXPECT_FALSE(StrAllCharsFromW(u"12", IsCharDigitW, 0));
  EXPECT_FALSE(StrAllCharsFromW(u"12", IsCharDigitW, 3));
}

TEST(WholeTextTest, MissingPredicateIsAClearErrorNotACrash) {
  EXPECT_THROW(BufAllCharsW(u"a", 1, nullptr), Exception);
  EXPECT_THROW(BufAnyCharW(u"a", 1, nullptr), Exception);
  EXPECT_THROW(StrAllCharsW(u"", nullptr), Exception);
  EXPECT_THROW(StrPosValidatedW(u"a", nullptr), Exception);
  EXPECT_THROW(StrAllCharsFromW(u"a", nullptr, 1), Exception);
  EXPECT_THROW(TrimValidatedW(u" a ", nullptr), Exception);
}

TEST(AppendTest, CharGrowsToAboutDoubleInMultiplesOfFour) {
  WideString s;
  int used = 0;
  AppendCharW(u'a', s, used);
  EXPECT_EQ(s.size(), 4u);
  EXPECT_EQ(used, 1);
  for (WideChar c : std::u16string_view(u"bcd")) AppendCharW(c, s, used);
  EXPECT_EQ(s.size(), 4u);
  AppendCharW(u'e', s, used);
  EXPECT_EQ(s.size(), 12u);  // need 5, used 4: (5 + 4 + 3) rounded down
  s.resize(used);
  EXPECT_EQ(s, u"abcde");
}

TEST(AppendTest, BufferGrowsToAboutOneAndAHalfInMultiplesOfFour) {
  WideString s;
  int used = 0;
  AppendStrW(u"0123456789", s, used);
  EXPECT_EQ(s.size(), 16u);  // need 10: (10 + 5 + 3) rounded down
  const WideChar* storage = s.data();
  AppendBufW(u"abcdef", 6, s, used);
  EXPECT_EQ(s.data(), storage) << "reallocated while the capacity sufficed";
  EXPECT_EQ(used, 16);
  AppendBufW(u"x", 1, s, used);
  EXPECT_EQ(s.size(), 28u);  // need 17: (17 + 8 + 3)
  s.resize(used);
  EXPECT_EQ(s, u"0123456789abcdefx");
}

TEST(AppendTest, NothingToAppendLeavesStringAlone) {
  WideString s = u"ab";
  int used = 1;
  AppendBufW(nullptr, 3, s, used);
  AppendBufW(u"xyz", 0, s, used);
  AppendStrW(u"", s, used);
  EXPECT_EQ(s, u"ab");
  EXPECT_EQ(used, 1);
  EXPECT_THROW(AppendCharW(u'a', s, used = -1), Exception);
}

TEST(AppendTest, AppendingAStringToItselfSurvivesGrowth) {
  WideString s = u"abc";
  int used = 3;
  AppendBufW(s.data(), 3, s, used);
  s.resize(used);
  EXPECT_EQ(s, u"abcabc");
}

TEST(TrimTest, TrimsCharactersThatPass) {
  EXPECT_EQ(TrimW(u"  \t\r\n feed \x01\x1F "), u"feed");
  EXPECT_EQ(TrimW(u"a b"), u"a b");
  EXPECT_EQ(TrimW(u""), u"");
  WideString allBelow33;
  for (int c = 0; c <= 32; ++c) allBelow33 += static_cast<WideChar>(c);
  EXPECT_EQ(TrimW(allBelow33), u"");
  EXPECT_EQ(TrimW(u"\u00A0x\u00A0"), u"\u00A0x\u00A0");
  EXPECT_EQ(TrimValidatedW(u"--> x <!--", IsCharWhiteSpaceOrHyphenOrGtW), u"x <!");
}

TEST(CharacterClassTest, HexDigitsAndPredicates) {
  EXPECT_EQ(HexDigitValueW(u'0'), 0);
  EXPECT_EQ(HexDigitValueW(u'9'), 9);
  EXPECT_EQ(HexDigitValueW(u'A'), 10);
  EXPECT_EQ(HexDigitValueW(u'f'), 15);
  EXPECT_LT(HexDigitValueW(u'g'), 0);
  EXPECT_LT(HexDigitValueW(u':'), 0);
  EXPECT_LT(HexDigitValueW(u'@'), 0);
  EXPECT_LT(HexDigitValueW(0xFF10), 0);
  EXPECT_TRUE(IsCharHexDigitW(u'c'));
  EXPECT_FALSE(IsCharHexDigitW(u'G'));
  EXPECT_TRUE(IsCharDigitW(u'7'));
  EXPECT_FALSE(IsCharDigitW(u'a'));
  EXPECT_FALSE(IsCharDigitW(0x0660));
  EXPECT_TRUE(IsCharWhiteSpaceW(0));
  EXPECT_TRUE(IsCharWhiteSpaceW(u' '));
  EXPECT_FALSE(IsCharWhiteSpaceW(u'!'));
  EXPECT_TRUE(IsCharWhiteSpaceOrHyphenOrGtW(u'-'));
  EXPECT_TRUE(IsCharWhiteSpaceOrHyphenOrGtW(u'>'));
  EXPECT_FALSE(IsCharWhiteSpaceOrHyphenOrGtW(u'<'));
}

TEST(CharacterClassTest, MarkupNameCharacters) {
  EXPECT_TRUE(IsNameStartChar(u'a'));
  EXPECT_TRUE(IsNameStartChar(u'Z'));
  for (WideChar c : std::u16string_view(u"_:-.0\u00E9")) EXPECT_FALSE(IsNameStartChar(c));
  for (WideChar c : std::u16string_view(u"-.09:AZ_az")) EXPECT_TRUE(IsNameChar(c));
  for (WideChar c : std::u16string_view(u" /=>\u00E9")) EXPECT_FALSE(IsNameChar(c));
}

}  // namespace
}  // namespace kt
