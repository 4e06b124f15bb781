// SPDX-License-Identifier: MIT
// The engine's database on a Firebird server of the test's own: created
// through the server in each name form, found again by attaching, and used.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/tidewell.h"
#include "engine_test_support.h"
#include "support/firebird_test_database.h"
#include "support/firebird_test_server.h"
#include "support/temp_folder.h"

namespace tidewell {
namespace {

using testing::ParkedPool;
using testing_support::FirebirdTestServer;

class ServerDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::UsePrivateFirebirdLockFolder(); }

  FirebirdTestServer& server = FirebirdTestServer::Shared();
  testing_support::TempFolder folder;
  ParkedPool pool;
  Ttidewell engine{{false, pool.Factory()}};
  std::string fileName;
  std::string errorText;
};

TEST_F(ServerDatabaseTest, EachServerFormCreatesThroughTheServerAndASecondStartFindsIt) {
  const std::string port = std::to_string(server.Port());
  const std::string forms[][2] = {
      {"127.0.0.1/" + port + ":" + folder.Path(), "127.0.0.1/" + port + ":" + folder.File("rssengine.fdb")},
      {"inet://127.0.0.1:" + port + "/" + folder.File("Inet.FDB"),
       "inet://127.0.0.1:" + port + "/" + folder.File("inet.fdb")},
  };
  for (const auto& [given, expected] : forms) {
    EXPECT_TRUE(engine.CreateDatabase(given, server.User(), server.Password(), fileName, errorText)) << errorText;
    EXPECT_EQ(errorText, "");
    EXPECT_EQ(fileName, expected);
    EXPECT_EQ(engine.GetDbFilePath(), expected);
    // No local folder is named after the server.
    EXPECT_FALSE(std::filesystem::exists("127.0.0.1"));
    EXPECT_FALSE(std::filesystem::exists("inet:"));
    EXPECT_FALSE(engine.CreateDatabase(given, server.User(), server.Password(), fileName, errorText));
    EXPECT_EQ(errorText, "");
    EXPECT_EQ(fileName, expected);
  }
  EXPECT_TRUE(std::filesystem::exists(folder.File("rssengine.fdb")));
  EXPECT_TRUE(std::filesystem::exists(folder.File("inet.fdb")));

  engine.SetDbLoginname(server.User());
  engine.SetDbPassword(server.Password());
  engine.SetConnected(true);
  std::string text;
  engine.CreateTables(text);
  EXPECT_GT(engine.AddFeed(u"Feed", "http://example.org/feed.xml", u""), 0);
  engine.SetConnected(false);
}

TEST_F(ServerDatabaseTest, AWrongPasswordIsReportedAndNothingIsMade) {
  const std::string given = server.DatabaseName(folder.Path());
  EXPECT_FALSE(engine.CreateDatabase(given, server.User(), "not-the-password", fileName, errorText));
  EXPECT_NE(errorText, "");
  EXPECT_EQ(fileName, "");
  EXPECT_FALSE(std::filesystem::exists(folder.File("rssengine.fdb")));
}

TEST_F(ServerDatabaseTest, AHalfMadeEmptyDatabaseOnTheServerIsMadeAgain) {
  const std::string name = server.DatabaseName(folder.File("rssengine.fdb"));
  {
    TDbConnWrapper connection;
    connection.SetDBFileName(name);
    connection.SetUser(server.User());
    connection.SetPassword(server.Password());
    connection.CreateDatabase(16384);
    testing_support::RunStatement(connection, "create table feeds(feed_id integer)");
  }
  engine.CreateDatabase(server.DatabaseName(folder.Path()), server.User(), server.Password(), fileName, errorText);
  EXPECT_EQ(errorText, "");
  EXPECT_EQ(fileName, name);
  // Remade: the table is gone.
  TDbConnWrapper connection;
  connection.SetDBFileName(name);
  connection.SetUser(server.User());
  connection.SetPassword(server.Password());
  connection.Connect();
  EXPECT_NO_THROW(testing_support::RunStatement(connection, "create table feeds(feed_id integer)"));
}

TEST(ServerNameTest, SetDbFilePathLeavesEveryServerFormToTheServer) {
  testing_support::UsePrivateFirebirdLockFolder();
  ParkedPool pool;
  Ttidewell engine{{false, pool.Factory()}};
  for (const char* name : {"localhost/3050:/x.fdb", "localhost:/x.fdb", "inet://localhost//x.fdb",
                           "db.example.org/gds_db:feeds"}) {
    EXPECT_NO_THROW(engine.SetDbFilePath(name)) << name;
    EXPECT_EQ(engine.GetDbFilePath(), name);
  }
  EXPECT_THROW(engine.SetDbFilePath("/no/such/folder/x.fdb"), kt::Exception);
}

}  // namespace
}  // namespace tidewell
