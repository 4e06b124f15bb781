// SPDX-License-Identifier: MIT
#include "engine/settings/registry_key_line.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

using platform::RegistryRoot;

TEST(RegistryKeyLineTest, TheApplicationsTwoLinesParse) {
  const auto user = ParseRegistryKeyLine("HKCU=\\SOFTWARE\\Policies\\Pinwheel[RWC]");
  ASSERT_TRUE(user);
  EXPECT_EQ(user->root, RegistryRoot::CurrentUser);
  EXPECT_EQ(user->path, "\\SOFTWARE\\Policies\\Pinwheel");
  EXPECT_EQ(user->letters, "RWC");
  EXPECT_EQ(user->access, arRead | arWrite | arCreate);
  const auto machine = ParseRegistryKeyLine("HKLM=\\SOFTWARE\\Pinwheel[R]");
  ASSERT_TRUE(machine);
  EXPECT_EQ(machine->root, RegistryRoot::LocalMachine);
  EXPECT_EQ(machine->letters, "R");
  EXPECT_EQ(machine->access, arRead);
}

TEST(RegistryKeyLineTest, FullControlInAnyCaseGivesReadWriteCreateWithLettersRW) {
  const auto key = ParseRegistryKeyLine(" hkcu = \\SOFTWARE\\X [ Full CONTROL ]");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->root, RegistryRoot::CurrentUser);
  EXPECT_EQ(key->path, "\\SOFTWARE\\X");
  EXPECT_EQ(key->letters, "RW");
  EXPECT_EQ(key->access, arRead | arWrite | arCreate);
}

TEST(RegistryKeyLineTest, RightsAreUpperCasedScannedUpToTheFirstNonLetterAndOtherLettersPassedOver) {
  struct Case {
    const char* rights;
    const char* letters;
    uint32_t access;
  };
  for (const Case& c : {Case{"rwc", "RWC", 7u}, Case{"R W", "R", 1u}, Case{"RXW", "RW", 3u}, Case{"wr", "WR", 3u},
                        Case{"RR", "RR", 1u}, Case{"C", "C", 4u}, Case{"R1W", "R", 1u}}) {
    std::string letters;
    EXPECT_EQ(ParseAccessRights(c.rights, &letters), c.access) << c.rights;
    EXPECT_EQ(letters, c.letters) << c.rights;
  }
  EXPECT_EQ(ParseAccessRights("1RW"), 0u);
}

TEST(RegistryKeyLineTest, LinesThatNameNoUsableKeyAreSkipped) {
  for (const char* line : {"", "HKCU", "HKCU \\SOFTWARE\\X[R]", "HKCU=\\SOFTWARE\\X", "HKCU=\\SOFTWARE\\X[R",
                           "HKCU=\\SOFTWARE\\X[R] ", "HKCU=\\SOFTWARE\\X[]", "HKCU=\\SOFTWARE\\X[XYZ]",
                           "HKCU=\\SOFTWARE\\X[ ]", "HKEY_CURRENT_USER=\\SOFTWARE\\X[RW]", "HKCR=\\SOFTWARE\\X[R]"}) {
    EXPECT_FALSE(ParseRegistryKeyLine(line)) << line;
  }
}

TEST(RegistryKeyLineTest, ThePathIsTakenAsWrittenBetweenEqualsAndBracket) {
  const auto key = ParseRegistryKeyLine("HKLM=SOFTWARE\\A=B[R]");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->path, "SOFTWARE\\A=B");
}

}  // namespace
}  // namespace tidewell
