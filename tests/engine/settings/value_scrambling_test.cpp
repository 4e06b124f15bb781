// SPDX-License-Identifier: MIT
#include "engine/settings/value_scrambling.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

TEST(Rot13Test, RotatesAsciiLettersWithinTheirCaseOnly) {
  EXPECT_EQ(Rot13("Hello, World!"), "Uryyb, Jbeyq!");
  EXPECT_EQ(Rot13("AMNZamnz"), "NZAMnzam");
  EXPECT_EQ(Rot13("09 @[`{\xc3\xa9"), "09 @[`{\xc3\xa9");
  EXPECT_EQ(Rot13(Rot13("p@ss w0rd!")), "p@ss w0rd!");
}

TEST(ScrambleToHexTest, GivesTwoLowerCaseDigitsPerByteWithTheKeyRepeated) {
  EXPECT_EQ(ScrambleToHex(kConfigurationScrambleKey, Rot13("secret")), "3b7c03d4b63a");
  EXPECT_EQ(ScrambleToHex(kConfigurationScrambleKey, Rot13("Hello, World!")), "087c0ac8a6712e39d3a1247f52");
  EXPECT_EQ(ScrambleToHex(kConfigurationScrambleKey, ""), "");
  EXPECT_EQ(ScrambleToHex("", "AB"), "4142");
}

TEST(UnscrambleFromHexTest, ReadsPairsOfEitherCaseBack) {
  EXPECT_EQ(Rot13(UnscrambleFromHex(kConfigurationScrambleKey, "3b7c03d4b63a")), "secret");
  EXPECT_EQ(Rot13(UnscrambleFromHex(kConfigurationScrambleKey, "3B7C03D4B63A")), "secret");
  EXPECT_EQ(UnscrambleFromHex("", "4142"), "AB");
  EXPECT_EQ(UnscrambleFromHex(kConfigurationScrambleKey, ""), "");
}

TEST(UnscrambleFromHexTest, AnOddLastCharacterIsIgnored) {
  EXPECT_EQ(UnscrambleFromHex(kConfigurationScrambleKey, "3b7c0"), UnscrambleFromHex(kConfigurationScrambleKey, "3b7c"));
  EXPECT_EQ(UnscrambleFromHex(kConfigurationScrambleKey, "3"), "");
}

TEST(UnscrambleFromHexTest, APairThatIsNotHexadecimalReadsAsABlankXoredWithItsKeyByte) {
  EXPECT_EQ(UnscrambleFromHex(kConfigurationScrambleKey, "zz"), std::string(1, 0x20 ^ 0x5d));
  EXPECT_EQ(UnscrambleFromHex(kConfigurationScrambleKey, "3bg1"), std::string("\x66") + static_cast<char>(0x20 ^ 0x0e));
  EXPECT_EQ(UnscrambleFromHex("", "-1 1"), "  ");
}

TEST(FeedPasswordScramblingTest, UsesItsOwnKeyAndRoundTrips) {
  EXPECT_EQ(ScrambleText("secret"), "e84d20b2fc58");
  EXPECT_EQ(ScrambleText("p@ss w0rd!"), "ed7f36b1ae5560b2ff1e");
  EXPECT_EQ(UnscrambleText("e84d20b2fc58"), "secret");
  EXPECT_EQ(UnscrambleText(ScrambleText("\xc3\xa9t\xc3\xa9 \x01")), "\xc3\xa9t\xc3\xa9 \x01");
  EXPECT_EQ(UnscrambleText(""), "");
}

}  // namespace
}  // namespace tidewell
