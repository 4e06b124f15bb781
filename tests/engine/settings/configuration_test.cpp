// SPDX-License-Identifier: MIT
#include "engine/settings/configuration.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "engine/settings/tidewell_globvars.h"
#include "engine/settings/value_scrambling.h"
#include "engine/settings/settings_fixture.h"

namespace tidewell {
namespace {

using ConfigurationTest = SettingsFixture;

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const kt::Exception& error) {
    return error.Message();
  }
  return "(nothing raised)";
}

TEST_F(ConfigurationTest, AnUnloadedConfigurationRefusesValuesButMiscReadsMayFallBack) {
  TConfiguration config(Bases());
  std::string result = "old";
  EXPECT_EQ(MessageOf([&] { config.Value("misc", "v", result, TValueMode::vmRead, "d", ""); }),
            "Configuration file not loaded !");
  EXPECT_EQ(result, "");
  EXPECT_EQ(MessageOf([&] { config.ReadSettings(); }), "Configuration file not loaded !");
  EXPECT_EQ(MessageOf([&] { config.ReadMiscString("v", "d", result, false); }), "Configuration file not loaded !");
  EXPECT_EQ(result, "d");
  result.clear();
  config.ReadMiscString("v", "d", result, true);
  EXPECT_EQ(result, "d");
  EXPECT_EQ(config.ReadMiscInteger("defaultupdateinterval", 10), 10);
  EXPECT_EQ(config.ProxyServer(), "");
  EXPECT_EQ(config.ProxyPort(), 0);
  EXPECT_FALSE(config.ProxyEnabled());
}

TEST_F(ConfigurationTest, BlankKeyLinesRaiseAndUnloadAPreviousStore) {
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  EXPECT_TRUE(config.IsLoaded());
  EXPECT_EQ(MessageOf([&] { config.LoadFromKeys({"  ", ""}); }), "Registry keys not defined !");
  EXPECT_FALSE(config.IsLoaded());
  std::string result;
  EXPECT_EQ(MessageOf([&] { config.Value("conf", "v", result, TValueMode::vmRead, "", ""); }),
            "Configuration file not loaded !");
}

TEST_F(ConfigurationTest, LoadingReadsTheProxySettingsOfBothKeys) {
  WriteKey(UserKeyFile(), "\"proxyserver\"=\"proxy.example\"\n\"proxyport\"=dword:00000c3c\n");
  WriteKey(MachineKeyFile(),
           "\"proxyusername\"=\"ann\"\n\"proxypassword\"=\"" + ScrambleToHex(kConfigurationScrambleKey, Rot13("s3cret")) +
               "\"\n\"proxyEnabled\"=dword:00000001\n\"bypassProxyForAddresses\"=\"localhost;intra\"\n"
               "\"proxyserver\"=\"machine.example\"\n");
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  EXPECT_EQ(config.ProxyUserName(), "ann");
  EXPECT_EQ(config.ProxyPassword(), "s3cret");
  EXPECT_EQ(config.ProxyServer(), "proxy.example");
  EXPECT_EQ(config.ProxyPort(), 3132);
  EXPECT_TRUE(config.ProxyEnabled());
  EXPECT_EQ(config.BypassProxyForAddresses(), "localhost;intra");
}

TEST_F(ConfigurationTest, BrowserProxySettingsLeaveServerAndPortAlone) {
  WriteKey(UserKeyFile(),
           "\"useBrowserProxySettings\"=dword:00000001\n\"proxyserver\"=\"proxy.example\"\n\"proxyport\"=dword:00000050\n");
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  EXPECT_EQ(config.ProxyServer(), "");
  EXPECT_EQ(config.ProxyPort(), 0);
}

class FailingBrowserConfiguration : public TConfiguration {
 public:
  using TConfiguration::TConfiguration;

 protected:
  void ApplyBrowserProxySettings(std::string&, int32_t&) override { throw kt::Exception("no browser"); }
};

TEST_F(ConfigurationTest, AFailureWhileReadingTheSettingsIsWrappedAndTheStoreStaysLoaded) {
  WriteKey(UserKeyFile(), "\"useBrowserProxySettings\"=dword:00000001\n\"v\"=\"still here\"\n");
  FailingBrowserConfiguration config(Bases());
  EXPECT_EQ(MessageOf([&] { config.LoadFromKeys(kApplicationLines); }),
            "Can't read configuration file ->\r\nno browser");
  EXPECT_TRUE(config.IsLoaded());
  std::string result;
  config.ReadMiscString("v", "", result, false);
  EXPECT_EQ(result, "still here");
}

TEST_F(ConfigurationTest, PasswordsInAnyCaseAreStoredScrambledAndReadBackPlain) {
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  std::string ignored;
  config.Value("conf", "ProxyPassWord", ignored, TValueMode::vmWrite, "", "s3cret");
  config.Value("misc", "smtp_password_2", ignored, TValueMode::vmWrite, "", "pw");
  config.Value("misc", "plain", ignored, TValueMode::vmWrite, "", "s3cret");
  const std::string file = ReadKey(UserKeyFile());
  EXPECT_NE(file.find("\"ProxyPassWord\"=\"3b3d03d4b63a\"\n"), std::string::npos) << file;
  EXPECT_NE(file.find("\"smtp_password_2\"=\"" + ScrambleToHex(kConfigurationScrambleKey, "cj") + "\"\n"),
            std::string::npos);
  EXPECT_NE(file.find("\"plain\"=\"s3cret\"\n"), std::string::npos);
  std::string result;
  config.Value("conf", "proxypassword", result, TValueMode::vmRead, "", "");
  EXPECT_EQ(result, "s3cret");
  config.ReadSettings();
  EXPECT_EQ(config.ProxyPassword(), "s3cret");
}

TEST_F(ConfigurationTest, AMissingOrEmptyPasswordGivesTheDefaultUnchanged) {
  WriteKey(UserKeyFile(), "\"emptypassword\"=\"\"\n");
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  std::string result;
  config.Value("misc", "mailpassword", result, TValueMode::vmRead, "fallback", "");
  EXPECT_EQ(result, "fallback");
  config.Value("misc", "emptypassword", result, TValueMode::vmRead, "fallback", "");
  EXPECT_EQ(result, "fallback");
  config.ReadMiscString("mailpassword", "fallback", result, false);
  EXPECT_EQ(result, "fallback");
}

TEST_F(ConfigurationTest, StoredPasswordsOfOddLengthOrWithForeignCharactersDecodeAsBefore) {
  WriteKey(UserKeyFile(), "\"oddpassword\"=\"3b3d03d4b6\"\n\"badpassword\"=\"zz\"\n");
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  std::string result;
  config.Value("misc", "oddpassword", result, TValueMode::vmRead, "", "");
  EXPECT_EQ(result, "s3cre");
  config.Value("misc", "badpassword", result, TValueMode::vmRead, "", "");
  EXPECT_EQ(result, Rot13(std::string(1, 0x20 ^ 0x5d)));
}

TEST_F(ConfigurationTest, MiscStringsFallBackOnMissingOrEmptyValues) {
  WriteKey(UserKeyFile(), "\"subscribefeed0\"=\"http://example.org/feed\"\n\"usexmlwhitespacehandling\"=\"\"\n");
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  std::string result;
  config.ReadMiscString("subscribefeed0", "", result, true);
  EXPECT_EQ(result, "http://example.org/feed");
  config.ReadMiscString("subscribefeed1", "none", result, true);
  EXPECT_EQ(result, "none");
  config.ReadMiscString("usexmlwhitespacehandling", "0", result, true);
  EXPECT_EQ(result, "0");
  std::string same = "self";
  config.ReadMiscString("missing", same, same, true);
  EXPECT_EQ(same, "self") << "a result that is also the default keeps it";
}

TEST_F(ConfigurationTest, MiscIntegersFallBackOnAnythingButADecimalNumber) {
  WriteKey(UserKeyFile(),
           "\"n\"=\" 42 \"\n\"neg\"=\"-7\"\n\"word\"=\"ten\"\n\"big\"=\"4294967296\"\n\"dw\"=dword:00000005\n"
           "\"defaultupdateinterval\"=\"12x\"\n");
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  EXPECT_EQ(config.ReadMiscInteger("n", 10), 42);
  EXPECT_EQ(config.ReadMiscInteger("neg", 10), -7);
  EXPECT_EQ(config.ReadMiscInteger("word", 10), 10);
  EXPECT_EQ(config.ReadMiscInteger("big", 10), 10);
  EXPECT_EQ(config.ReadMiscInteger("dw", 10), 5) << "a number stored as an integer counts as well";
  EXPECT_EQ(config.ReadMiscInteger("defaultupdateinterval", 10), 10);
  EXPECT_EQ(config.ReadMiscInteger("missing", 10), 10);
}

// Runs check in a child process that may not write the settings files: as
// root, access rights do not hold, so the child takes the "nobody" user.
int RunWithoutWriteRights(const std::function<int()>& check) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    ::_exit(check());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

TEST_F(ConfigurationTest, AKeyThatCannotBeWrittenIsStillReadAndAWriteToItFails) {
  WriteKey(UserKeyFile(), "\"subscribefeed0\"=\"http://example.org/feed\"\n\"defaultupdateinterval\"=dword:0000002d\n");
  namespace fs = std::filesystem;
  const fs::path keyFolder = fs::path(UserKeyFile()).parent_path();
  fs::permissions(UserKeyFile(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
  // The child reaches the key through folders of ours; only the key's own is closed to writes.
  for (fs::path folder = keyFolder.parent_path(); folder.string().size() + 1 >= folder_.Path().size();
       folder = folder.parent_path())
    fs::permissions(folder, readOnly | fs::perms::owner_write);
  fs::permissions(keyFolder, readOnly);
  const int failures = RunWithoutWriteRights([&] {
    int result = 0;
    TConfiguration config(Bases());
    config.LoadFromKeys(kApplicationLines);
    std::string url;
    config.ReadMiscString("subscribefeed0", "", url, true);
    if (url != "http://example.org/feed") result |= 1;
    if (config.ReadMiscInteger("defaultupdateinterval", 10) != 45) result |= 2;
    std::string ignored;
    if (MessageOf([&] { config.Value("misc", "subscribefeed1", ignored, TValueMode::vmWrite, "", "x"); }) ==
        "(nothing raised)")
      result |= 4;
    return result;
  });
  fs::permissions(keyFolder, fs::perms::owner_all);
  fs::permissions(UserKeyFile(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(failures & 1, 0) << "the key's text values are read";
  EXPECT_EQ(failures & 2, 0) << "the key's number is read";
  EXPECT_EQ(failures & 4, 0) << "a write to the key is reported";
  EXPECT_LT(failures, 8) << "the check could not run: " << failures;
  EXPECT_EQ(ReadKey(UserKeyFile()).find("subscribefeed1"), std::string::npos);
}

TEST_F(ConfigurationTest, WorkersReadWhileTheMainThreadWritesAndReloads) {
  WriteKey(UserKeyFile(), "\"usexmlwhitespacehandling\"=\"1\"\n");
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < 5; ++i) {
    workers.emplace_back([&] {
      while (!done) {
        std::string value;
        config.ReadMiscString("usexmlwhitespacehandling", "0", value, true);
        if (value != "1") ++wrong;
        if (config.ProxyServer().size() > 20) ++wrong;
      }
    });
  }
  for (int round = 0; round < 100; ++round) {
    std::string ignored;
    config.Value("conf", "proxyserver", ignored, TValueMode::vmWrite, "", "host" + std::to_string(round));
    if (round % 10 == 0) config.LoadFromKeys(kApplicationLines);
  }
  done = true;
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(config.ProxyServer(), "host90");
}

}  // namespace
}  // namespace tidewell
