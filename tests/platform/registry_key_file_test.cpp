// SPDX-License-Identifier: MIT
#include "platform/registry_key_file.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(RegistryKeyFileTest, ReadsTextAndIntegerValuesOfTheExportFormat) {
  const auto file = RegistryKeyFile::Parse(
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Pinwheel]\r\n"
      "\"proxyserver\"=\"proxy.example\"\r\n\"proxyport\"=dword:00000050\r\n@=\"unnamed\"\r\n"
      "\"negative\"=dword:ffffffff\r\n");
  EXPECT_EQ(file.TypeOf("proxyserver"), RegistryDataType::String);
  EXPECT_EQ(file.StringOf("proxyserver"), "proxy.example");
  EXPECT_EQ(file.TypeOf("proxyport"), RegistryDataType::Integer);
  EXPECT_EQ(file.IntegerOf("proxyport"), 80);
  EXPECT_EQ(file.IntegerOf("negative"), -1);
  EXPECT_EQ(file.StringOf(""), "unnamed");
  EXPECT_EQ(file.TypeOf("missing"), RegistryDataType::None);
  EXPECT_EQ(file.Names(), (std::vector<std::string>{"proxyserver", "proxyport", "", "negative"}));
}

TEST(RegistryKeyFileTest, ValueNamesMatchWithoutRegardToCaseAndTheFirstLineCounts) {
  auto file = RegistryKeyFile::Parse("\"ProxyEnabled\"=dword:00000001\n\"proxyenabled\"=dword:00000000\n");
  EXPECT_EQ(file.IntegerOf("PROXYENABLED"), 1);
  EXPECT_EQ(file.Names(), std::vector<std::string>{"ProxyEnabled"});
  file.SetInteger("proxyENABLED", 7);
  EXPECT_EQ(file.Serialize(), "\"ProxyEnabled\"=dword:00000007\n\"proxyenabled\"=dword:00000000\n");
}

TEST(RegistryKeyFileTest, TextsWithQuotesBackslashesAndLineBreaksSurviveARoundTrip) {
  const std::string awkward = "a \"quoted\" C:\\dir\r\nnext\x01line\ttab \xc3\xa9";
  RegistryKeyFile file;
  file.SetString("na\"me", awkward);
  const std::string text = file.Serialize();
  EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line per value: " << text;
  const auto again = RegistryKeyFile::Parse(text);
  EXPECT_EQ(again.StringOf("na\"me"), awkward);
}

TEST(RegistryKeyFileTest, HandWrittenBackslashesWithoutEscapeStandAsWritten) {
  const auto file = RegistryKeyFile::Parse("\"path\"=\"C:\\temp\\x1\"\n");
  EXPECT_EQ(file.StringOf("path"), "C:\\temp\\x1");
}

TEST(RegistryKeyFileTest, UnknownLinesAndValuesOfOtherTypesAreKeptWhenRewritten) {
  const std::string original =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Pinwheel]\n"
      "; a comment\n\"blob\"=hex:01,02,\\\n  03,04\n\"wide\"=qword:0000000000000001\n"
      "\"bad\"=dword:123456789\n\"unclosed\"=\"abc\n\"keep\"=\"x\"\n";
  auto file = RegistryKeyFile::Parse(original);
  EXPECT_EQ(file.TypeOf("blob"), RegistryDataType::Other);
  EXPECT_EQ(file.TypeOf("wide"), RegistryDataType::Other);
  EXPECT_EQ(file.TypeOf("bad"), RegistryDataType::Other);
  EXPECT_EQ(file.TypeOf("unclosed"), RegistryDataType::Other);
  EXPECT_EQ(file.Serialize(), original);
  file.SetString("keep", "y");
  file.SetInteger("added", 10);
  EXPECT_EQ(file.Serialize(),
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Pinwheel]\n"
            "; a comment\n\"blob\"=hex:01,02,\\\n  03,04\n\"wide\"=qword:0000000000000001\n"
            "\"bad\"=dword:123456789\n\"unclosed\"=\"abc\n\"keep\"=\"y\"\n\"added\"=dword:0000000a\n");
}

TEST(RegistryKeyFileTest, ChangingTheTypeOfAValueReplacesItsLine) {
  auto file = RegistryKeyFile::Parse("\"v\"=hex:00\n\"w\"=\"1\"\n");
  file.SetInteger("v", 3);
  file.SetString("W", "two");
  EXPECT_EQ(file.Serialize(), "\"v\"=dword:00000003\n\"w\"=\"two\"\n");
  EXPECT_TRUE(file.Remove("V"));
  EXPECT_FALSE(file.Remove("v"));
  EXPECT_EQ(file.Serialize(), "\"w\"=\"two\"\n");
}

TEST(RegistryKeyFileTest, AValueAppendedAfterAContinuedLineStandsOnItsOwnLine) {
  auto file = RegistryKeyFile::Parse("\"blob\"=hex:01,\\");
  file.SetString("next", "v");
  const auto again = RegistryKeyFile::Parse(file.Serialize());
  EXPECT_EQ(again.StringOf("next"), "v");
}

TEST(RegistryKeyFileTest, ANewKeyHoldsTheHeaderAndItsSection) {
  EXPECT_EQ(RegistryKeyFile::NewKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Pinwheel").Serialize(),
            "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pinwheel]\n");
}

}  // namespace
}  // namespace platform
