// SPDX-License-Identifier: MIT
// Where the application keeps its database: a server named in its settings,
// and a database that a newer release has written.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "engine/settings/configuration.h"
#include "qt_application.h"
#include "support/firebird_test_database.h"
#include "support/firebird_test_server.h"
#include "support/temp_folder.h"

namespace larkspur {
namespace {

class MainFormDatabaseTest : public ::testing::Test {
 protected:
  MainFormDatabaseTest() {
    testing::App();
    testing_support::UsePrivateFirebirdLockFolder();
    ::setenv("XDG_CONFIG_HOME", folder.File("config").c_str(), 1);
  }
  ~MainFormDatabaseTest() override { ::unsetenv("XDG_CONFIG_HOME"); }

  // Written as the application's own settings store writes them (passwords
  // scrambled).
  void SetMisc(const std::string& name, const std::string& value) {
    tidewell::TConfiguration settings(platform::RegistryBaseFolders{folder.File("config"), folder.File("etc")});
    settings.LoadFromKeys({"HKCU=\\SOFTWARE\\Policies\\Pinwheel[RWC]"});
    std::string ignored;
    settings.Value("misc", name, ignored, tidewell::TValueMode::vmWrite, "", value);
  }

  std::unique_ptr<TForm1> Start() {
    TForm1Options options;
    options.programFolder = folder.File("app");
    options.showMessage = [this](const QString& text) { messages.push_back(text.toStdString()); };
    options.terminate = [this] { ++terminations; };
    return std::make_unique<TForm1>(options);
  }

  testing_support::TempFolder folder;
  std::vector<std::string> messages;
  int terminations = 0;
};

TEST_F(MainFormDatabaseTest, TheSettingsCanNameADatabaseOnAServer) {
  auto& server = testing_support::FirebirdTestServer::Shared();
  const std::string data = folder.File("server-data/");
  std::filesystem::create_directories(data);
  SetMisc("dblocation", server.DatabaseName(data));
  SetMisc("dbusername", server.User());
  SetMisc("dbpassword", server.Password());
  auto form = Start();
  EXPECT_TRUE(messages.empty()) << messages.front();
  EXPECT_EQ(form->Engine().GetDbFilePath(), server.DatabaseName(data + "rssengine.fdb"));
  EXPECT_TRUE(std::filesystem::exists(data + "rssengine.fdb"));
  EXPECT_FALSE(std::filesystem::exists(folder.File("app/rssengine.fdb")));
  EXPECT_EQ(terminations, 0);
}

TEST_F(MainFormDatabaseTest, ADatabaseOfANewerReleaseIsRefusedNamingBothVersions) {
  Start().reset();
  {
    tidewell::TDbConnWrapper connection;
    connection.SetDBFileName(folder.File("app/rssengine.fdb"));
    connection.Connect();
    testing_support::RunStatement(connection, "update variables set value_='1030' where type_='dbVerChk'");
  }
  messages.clear();
  auto form = Start();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Application cannot start.", 0), 0u) << messages[0];
  EXPECT_NE(messages[0].find("1030"), std::string::npos) << messages[0];
  EXPECT_NE(messages[0].find("1029"), std::string::npos) << messages[0];
  EXPECT_EQ(terminations, 1);
}

}  // namespace
}  // namespace larkspur
