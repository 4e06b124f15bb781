// SPDX-License-Identifier: MIT
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "platform/atomic_file.h"
#include "support/temp_folder.h"

namespace platform {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  RegistryBaseFolders Bases() const { return {user_.Path() + "config", machine_.Path() + "etc"}; }
  std::string UserFile(const std::string& relative) const { return user_.Path() + "config/" + relative; }
  std::string MachineFile(const std::string& relative) const { return machine_.Path() + "etc/" + relative; }

  static std::string ReadFile(const std::string& path) {
    std::string content;
    EXPECT_TRUE(ReadWholeFile(path, content)) << path;
    return content;
  }
  static void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    return names;
  }

  testing_support::TempFolder user_;
  testing_support::TempFolder machine_;
};

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(RegistryBaseFoldersTest, UserKeysLiveInTheXdgConfigFolderElseInDotConfig) {
  ScopedEnvironment home("HOME", "/home/someone");
  {
    ScopedEnvironment xdg("XDG_CONFIG_HOME", "/srv/conf");
    EXPECT_EQ(RegistryBaseFolders::FromEnvironment().current_user, "/srv/conf");
  }
  ScopedEnvironment relative("XDG_CONFIG_HOME", "relative/conf");
  const auto bases = RegistryBaseFolders::FromEnvironment();
  EXPECT_EQ(bases.current_user, "/home/someone/.config");
  EXPECT_EQ(bases.local_machine, "/etc");
}

TEST_F(RegistryTest, AMissingKeyOpensOnlyWhenItMayBeCreated) {
  Registry registry(Bases());
  EXPECT_FALSE(registry.OpenKeyReadOnly("\\SOFTWARE\\Policies\\Pinwheel"));
  EXPECT_FALSE(registry.OpenKey("\\SOFTWARE\\Policies\\Pinwheel", false));
  EXPECT_FALSE(registry.KeyIsOpen());
  ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\Policies\\Pinwheel", true));
  EXPECT_EQ(registry.KeyFileName(), UserFile("SOFTWARE/Policies/Pinwheel.reg"));
  EXPECT_EQ(ReadFile(UserFile("SOFTWARE/Policies/Pinwheel.reg")),
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Pinwheel]\n");
  struct stat info {};
  ASSERT_EQ(::stat(registry.KeyFileName().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "a user's key may hold passwords";
  EXPECT_TRUE(registry.OpenKeyReadOnly("\\SOFTWARE\\Policies\\Pinwheel"));
  EXPECT_TRUE(registry.IsReadOnly());
}

TEST_F(RegistryTest, TheRootChoosesTheBaseFolder) {
  WriteFile(MachineFile("SOFTWARE/Pinwheel.reg"), "\"where\"=\"machine\"\n");
  Registry registry(Bases());
  EXPECT_FALSE(registry.OpenKeyReadOnly("\\SOFTWARE\\Pinwheel"));
  registry.SetRootKey(RegistryRoot::LocalMachine);
  ASSERT_TRUE(registry.OpenKeyReadOnly("\\SOFTWARE\\Pinwheel"));
  EXPECT_EQ(registry.ReadString("where"), "machine");
}

TEST_F(RegistryTest, KeyPathsMatchExistingFilesWithoutRegardToCase) {
  WriteFile(UserFile("Software/Pinwheel.reg"), "\"v\"=\"found\"\n");
  Registry registry(Bases());
  ASSERT_TRUE(registry.OpenKeyReadOnly("SOFTWARE\\PINWHEEL\\"));
  EXPECT_EQ(registry.KeyFileName(), UserFile("Software/Pinwheel.reg"));
  EXPECT_EQ(registry.ReadString("V"), "found");
}

TEST_F(RegistryTest, AKeyWithOnlySubkeysOpensAndHoldsNoValues) {
  WriteFile(UserFile("SOFTWARE/Pinwheel.reg"), "\"v\"=\"x\"\n");
  Registry registry(Bases());
  ASSERT_TRUE(registry.OpenKeyReadOnly("\\SOFTWARE"));
  EXPECT_FALSE(registry.ValueExists("v"));
  EXPECT_TRUE(registry.GetValueNames().empty());
}

TEST_F(RegistryTest, PathsThatCouldLeaveTheBaseFolderOpenNothing) {
  WriteFile(user_.Path() + "outside.reg", "\"v\"=\"x\"\n");
  Registry registry(Bases());
  for (const char* path : {"\\..\\outside", "..", "\\SOFTWARE\\\\Pinwheel", "", "\\", "\\a/b", "\\.\\x"}) {
    EXPECT_FALSE(registry.OpenKey(path, true)) << path;
  }
  EXPECT_EQ(FolderEntries(user_.Path()), std::vector<std::string>{"outside.reg"});
  Registry no_base(RegistryBaseFolders{"", ""});
  EXPECT_FALSE(no_base.OpenKey("\\SOFTWARE\\Pinwheel", true));
}

TEST_F(RegistryTest, TypedValuesReadBackAndMismatchesRaise) {
  Registry writer(Bases());
  ASSERT_TRUE(writer.OpenKey("\\SOFTWARE\\Pinwheel", true));
  writer.WriteString("proxyserver", "proxy.example");
  writer.WriteInteger("proxyport", 8080);
  writer.WriteBool("proxyEnabled", true);
  Registry reader(Bases());
  ASSERT_TRUE(reader.OpenKeyReadOnly("\\SOFTWARE\\Pinwheel"));
  EXPECT_EQ(reader.ReadString("proxyserver"), "proxy.example");
  EXPECT_EQ(reader.ReadInteger("proxyport"), 8080);
  EXPECT_TRUE(reader.ReadBool("proxyEnabled"));
  EXPECT_EQ(reader.GetDataType("proxyEnabled"), RegistryDataType::Integer);
  EXPECT_EQ(ReadFile(writer.KeyFileName()),
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Pinwheel]\n"
            "\"proxyserver\"=\"proxy.example\"\n\"proxyport\"=dword:00001f90\n\"proxyEnabled\"=dword:00000001\n");
  try {
    reader.ReadString("proxyport");
    FAIL();
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), "Invalid data type for 'proxyport'");
  }
  try {
    reader.ReadInteger("missing");
    FAIL();
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), "Failed to get data for 'missing'");
  }
}

TEST_F(RegistryTest, AKeyOpenedReadOnlyOrClosedRefusesWritesAndKeepsItsFile) {
  WriteFile(UserFile("SOFTWARE/Pinwheel.reg"), "\"v\"=\"old\"\n");
  Registry registry(Bases());
  ASSERT_TRUE(registry.OpenKeyReadOnly("\\SOFTWARE\\Pinwheel"));
  EXPECT_THROW(registry.WriteString("v", "new"), ERegistryException);
  registry.CloseKey();
  try {
    registry.WriteInteger("v", 1);
    FAIL();
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), "Failed to set data for 'v'");
  }
  EXPECT_FALSE(registry.ValueExists("v"));
  EXPECT_EQ(ReadFile(UserFile("SOFTWARE/Pinwheel.reg")), "\"v\"=\"old\"\n");
}

TEST_F(RegistryTest, WritesKeepHandWrittenLinesAndLeaveNoTemporaryFiles) {
  const std::string hand_written = "; edited by hand\n\"blob\"=hex:01,02\n\"v\"=\"old\"\n";
  WriteFile(UserFile("SOFTWARE/Pinwheel.reg"), hand_written);
  ::chmod(UserFile("SOFTWARE/Pinwheel.reg").c_str(), 0640);
  Registry registry(Bases());
  ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\Pinwheel", false));
  registry.WriteString("v", "new");
  registry.WriteInteger("n", 2);
  EXPECT_TRUE(registry.DeleteValue("n"));
  EXPECT_FALSE(registry.DeleteValue("n"));
  EXPECT_EQ(ReadFile(registry.KeyFileName()), "; edited by hand\n\"blob\"=hex:01,02\n\"v\"=\"new\"\n");
  EXPECT_EQ(FolderEntries(UserFile("SOFTWARE")), std::vector<std::string>{"Pinwheel.reg"});
  struct stat info {};
  ASSERT_EQ(::stat(registry.KeyFileName().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u) << "a rewritten key keeps its file's mode";
}

// regedit 5 exports a key as UTF-16 with a byte-order mark and CR LF line
// ends: such a file is read as any other, and a write keeps its form.
TEST_F(RegistryTest, AKeyFileInUtf16WithAByteOrderMarkIsReadAndWrittenBackInItsForm) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Pinwheel]\r\n"
      u"\"subscribefeed0\"=\"https://example.org/caf\u00e9/\U0001F3A7.rss\"\r\n"
      u"\"defaultupdateinterval\"=dword:0000003c\r\n";
  const auto encode = [](const std::u16string& units, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : units) {
      const char high = static_cast<char>(unit >> 8);
      const char low = static_cast<char>(unit & 0xFF);
      bytes += bigEndian ? high : low;
      bytes += bigEndian ? low : high;
    }
    return bytes;
  };
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "UTF-16BE" : "UTF-16LE");
    WriteFile(UserFile("SOFTWARE/Pinwheel.reg"), encode(text, bigEndian));
    Registry registry(Bases());
    ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\Pinwheel", false));
    EXPECT_EQ(registry.ReadString("subscribefeed0"), "https://example.org/caf\xc3\xa9/\xf0\x9f\x8e\xa7.rss");
    EXPECT_EQ(registry.ReadInteger("defaultupdateinterval"), 60);
    registry.WriteInteger("defaultupdateinterval", 45);
    EXPECT_EQ(ReadFile(registry.KeyFileName()),
              encode(text.substr(0, text.find(u"dword:")) + u"dword:0000002d\r\n", bigEndian));
  }
}

TEST_F(RegistryTest, AKeyWhoseFileWasRemovedIsMadeAgainByTheNextWrite) {
  Registry registry(Bases());
  ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\Pinwheel", true));
  std::filesystem::remove(registry.KeyFileName());
  EXPECT_FALSE(registry.ValueExists("v"));
  registry.WriteString("v", "back");
  EXPECT_EQ(registry.ReadString("v"), "back");
}

TEST_F(RegistryTest, KeysWithoutWritePermissionOpenOnlyForReading) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  WriteFile(MachineFile("SOFTWARE/Pinwheel.reg"), "\"v\"=\"x\"\n");
  ::chmod(MachineFile("SOFTWARE").c_str(), 0555);
  Registry registry(Bases());
  registry.SetRootKey(RegistryRoot::LocalMachine);
  EXPECT_FALSE(registry.OpenKey("\\SOFTWARE\\Pinwheel", true));
  EXPECT_FALSE(registry.OpenKey("\\SOFTWARE\\Other", true));
  EXPECT_TRUE(registry.OpenKeyReadOnly("\\SOFTWARE\\Pinwheel"));
  ::chmod(MachineFile("SOFTWARE").c_str(), 0755);
}

TEST_F(RegistryTest, ReadersNeverSeeAHalfWrittenValueWhileAnotherThreadWrites) {
  Registry writer(Bases());
  ASSERT_TRUE(writer.OpenKey("\\SOFTWARE\\Pinwheel", true));
  writer.WriteString("pattern", std::string(4000, 'a'));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> reads{0};
  // The writer begins once every reader has read: however late a busy
  // machine starts the readers, they all read while it writes.
  constexpr int kReaders = 4;
  std::atomic<int> readersIn{0};
  auto check = [&](const Registry& registry) {
    bool in = false;
    do {
      const std::string value = registry.ReadString("pattern");
      if (value.size() != 4000 || value.find_first_not_of(value[0]) != std::string::npos) ++torn;
      ++reads;
      if (!in) ++readersIn;
      in = true;
    } while (!done);
  };
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders - 1; ++i) {
    readers.emplace_back([&] {
      Registry own(Bases());
      if (own.OpenKeyReadOnly("\\SOFTWARE\\Pinwheel")) return check(own);
      ADD_FAILURE() << "a reader cannot open the key";
      ++readersIn;
    });
  }
  readers.emplace_back([&] { check(writer); });
  while (readersIn < kReaders) std::this_thread::yield();
  for (int round = 0; round < 200; ++round) writer.WriteString("pattern", std::string(4000, static_cast<char>('a' + round % 26)));
  done = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GE(reads.load(), kReaders);
}

TEST_F(RegistryTest, WritersOnSeparateObjectsLoseNoValue) {
  Registry first(Bases());
  ASSERT_TRUE(first.OpenKey("\\SOFTWARE\\Pinwheel", true));
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&, w] {
      Registry own(Bases());
      ASSERT_TRUE(own.OpenKey("\\SOFTWARE\\Pinwheel", true));
      for (int i = 0; i < 25; ++i) own.WriteInteger("w" + std::to_string(w) + "_" + std::to_string(i), i);
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(first.GetValueNames().size(), 100u);
}

}  // namespace
}  // namespace platform
