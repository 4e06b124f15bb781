// SPDX-License-Identifier: MIT
#include "engine/settings/data_s_wrapper.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/settings/settings_fixture.h"

namespace tidewell {
namespace {

using DataSWrapperTest = SettingsFixture;

TEST_F(DataSWrapperTest, TheApplicationsLinesOpenTheUserKeyCreatedAndTheMachineKeyReadOnly) {
  WriteKey(MachineKeyFile(), "");
  TDataSWrapper store(kApplicationLines, Bases());
  ASSERT_EQ(store.KeyCount(), 2);
  EXPECT_EQ(store.KeyLetters(0), "RWC");
  EXPECT_FALSE(store.Key(0).IsReadOnly());
  EXPECT_EQ(store.Key(0).KeyFileName(), UserKeyFile());
  EXPECT_TRUE(std::filesystem::exists(UserKeyFile()));
  EXPECT_EQ(store.KeyLetters(1), "R");
  EXPECT_TRUE(store.Key(1).IsReadOnly());
  EXPECT_EQ(store.Key(1).KeyFileName(), MachineKeyFile());
}

TEST_F(DataSWrapperTest, AMissingReadOnlyKeyIsLeftOutAndItsFileNeverMade) {
  TDataSWrapper store(kApplicationLines, Bases());
  ASSERT_EQ(store.KeyCount(), 1);
  EXPECT_EQ(store.KeyLetters(0), "RWC");
  EXPECT_FALSE(std::filesystem::exists(MachineKeyFile()));
}

TEST_F(DataSWrapperTest, FullControlWithALowerCaseRootCreatesTheKey) {
  TDataSWrapper store({"hkcu=\\SOFTWARE\\Policies\\Pinwheel[fULL control]"}, Bases());
  ASSERT_EQ(store.KeyCount(), 1);
  EXPECT_EQ(store.KeyLetters(0), "RW");
  store.WriteString("misc", "v", "written");
  EXPECT_EQ(store.ReadString("conf", "v", "default"), "written");
}

TEST_F(DataSWrapperTest, BlankLinesRaiseAndUnusableLinesOpenNothing) {
  try {
    TDataSWrapper store({" \t", "", "\r\n"}, Bases());
    FAIL();
  } catch (const kt::Exception& error) {
    EXPECT_EQ(error.Message(), "Registry keys not defined !");
  }
  EXPECT_THROW(TDataSWrapper({}, Bases()), kt::Exception);
  TDataSWrapper store({"HKEY_CURRENT_USER=\\SOFTWARE\\Policies\\Pinwheel[RWC]", "HKCU=\\SOFTWARE\\Policies\\Pinwheel",
                       "HKCU=\\SOFTWARE\\Policies\\Pinwheel[RWC", "HKCU=\\SOFTWARE\\Policies\\Pinwheel[x]"},
                      Bases());
  EXPECT_EQ(store.KeyCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(UserKeyFile()));
  store.WriteString("conf", "v", "ignored");
  EXPECT_EQ(store.ReadString("conf", "v", "default"), "default");
  EXPECT_EQ(store.ReadInteger("conf", "v", 7), 7);
  EXPECT_FALSE(store.ValueExists("conf", "v"));
}

TEST_F(DataSWrapperTest, AValueIsReadFromTheFirstKeyThatHoldsIt) {
  WriteKey(UserKeyFile(), "\"both\"=\"user\"\n\"flag\"=dword:00000000\n");
  WriteKey(MachineKeyFile(), "\"both\"=\"machine\"\n\"only_machine\"=\"m\"\n\"flag\"=dword:00000001\n");
  TDataSWrapper store(kApplicationLines, Bases());
  EXPECT_EQ(store.ReadString("conf", "both", ""), "user");
  EXPECT_EQ(store.ReadString("misc", "only_machine", ""), "m");
  EXPECT_FALSE(store.ReadBool("conf", "flag", true));
  EXPECT_EQ(store.ReadString("conf", "missing", "default"), "default");
}

TEST_F(DataSWrapperTest, AValueOfAnotherTypeIsPassedOverForTheNextKey) {
  WriteKey(UserKeyFile(), "\"port\"=dword:00000050\n\"name\"=\"text\"\n\"both_wrong\"=dword:00000001\n");
  WriteKey(MachineKeyFile(), "\"port\"=\"8080\"\n\"name\"=dword:00000002\n\"both_wrong\"=hex:01\n");
  TDataSWrapper store(kApplicationLines, Bases());
  EXPECT_EQ(store.ReadString("conf", "port", "d"), "8080");
  EXPECT_EQ(store.ReadInteger("conf", "name", -1), 2);
  EXPECT_EQ(store.ReadString("conf", "both_wrong", "d"), "d");
}

TEST_F(DataSWrapperTest, AnEmptyStoredTextGivesTheDefaultWithoutLookingFurther) {
  WriteKey(UserKeyFile(), "\"v\"=\"\"\n");
  WriteKey(MachineKeyFile(), "\"v\"=\"machine\"\n");
  TDataSWrapper store(kApplicationLines, Bases());
  EXPECT_EQ(store.ReadString("conf", "v", "default"), "default");
}

TEST_F(DataSWrapperTest, WritesGoToEveryWritableKeyOnly) {
  WriteKey(MachineKeyFile(), "");
  const std::string second_user_key = folder_.Path() + "user/SOFTWARE/Second.reg";
  WriteKey(second_user_key, "");
  TDataSWrapper store({kApplicationLines[0], kApplicationLines[1], "HKCU=\\SOFTWARE\\Second[W]"}, Bases());
  ASSERT_EQ(store.KeyCount(), 3);
  store.WriteString("conf", "server", "proxy.example");
  store.WriteInteger("conf", "port", 3128);
  store.WriteBool("conf", "enabled", true);
  const std::string expected = "\"server\"=\"proxy.example\"\n\"port\"=dword:00000c38\n\"enabled\"=dword:00000001\n";
  EXPECT_NE(ReadKey(UserKeyFile()).find(expected), std::string::npos) << ReadKey(UserKeyFile());
  EXPECT_NE(ReadKey(second_user_key).find(expected), std::string::npos) << ReadKey(second_user_key);
  EXPECT_EQ(ReadKey(MachineKeyFile()), "Windows Registry Editor Version 5.00\n\n[HKEY]\n");
  EXPECT_EQ(store.ReadInteger("misc", "port", 0), 3128);
  EXPECT_TRUE(store.ReadBool("misc", "enabled", false));
}

TEST_F(DataSWrapperTest, AWriteOnlyKeyWithoutCreateRightOpensOnlyWhenItIsThere) {
  TDataSWrapper store({"HKCU=\\SOFTWARE\\Second[W]"}, Bases());
  EXPECT_EQ(store.KeyCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "user/SOFTWARE/Second.reg"));
}

TEST_F(DataSWrapperTest, AKeyWithoutReadRightIsNotReadFrom) {
  WriteKey(UserKeyFile(), "\"v\"=\"user\"\n");
  WriteKey(MachineKeyFile(), "\"v\"=\"machine\"\n");
  TDataSWrapper store({"HKCU=\\SOFTWARE\\Policies\\Pinwheel[W]", "HKLM=\\SOFTWARE\\Pinwheel[R]"}, Bases());
  ASSERT_EQ(store.KeyCount(), 2);
  EXPECT_EQ(store.ReadString("conf", "v", ""), "machine");
}

}  // namespace
}  // namespace tidewell
