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

std::string CreationDate(TDbConnWrapper& connection) {
  std::string date;
  testing_support::RunStatement(connection, "select cast(mon$creation_date as varchar(30)) from mon$database",
                                [&](TQueryWrapper& row) { date = row.Fields(0).AsString(); });
  return date;
}

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

// A database that an administrator made for the program (a role, grants and
// a comment chosen, no tables) is the same database after the first start,
// with the schema in it: for the administrator, and for the program's own
// user that may only make tables in it and could not drop it. (The page
// size stays too; the schema's index keys need the largest one anyway.)
TEST_F(ServerDatabaseTest, AnAdministratorsEmptyDatabaseIsKeptWithItsRoleAndGrantsAndGetsTheSchema) {
  const std::string appUser = "TW_APP";
  const std::string appPassword = "tw-app-1";
  for (const bool asAdministrator : {true, false}) {
    SCOPED_TRACE(asAdministrator ? "as the administrator" : "as the program's user");
    const std::string file = folder.File(asAdministrator ? "admin.fdb" : "app.fdb");
    TDbConnWrapper admin;
    admin.SetDBFileName(server.DatabaseName(file));
    admin.SetUser(server.User());
    admin.SetPassword(server.Password());
    admin.CreateDatabase(16384);
    testing_support::RunStatement(admin, "create or alter user " + appUser + " password '" + appPassword + "'");
    testing_support::RunStatement(admin, "create role feed_readers");
    testing_support::RunStatement(admin, "comment on database is 'Feeds of the newsroom'");
    for (const char* grant : {"feed_readers", "create table", "create sequence", "create function"})
      testing_support::RunStatement(admin, std::string("grant ") + grant + " to user " + appUser);
    const std::string made = CreationDate(admin);
    admin.Disconnect();

    const std::string user = asAdministrator ? server.User() : appUser;
    const std::string password = asAdministrator ? server.Password() : appPassword;
    EXPECT_FALSE(engine.CreateDatabase(server.DatabaseName(file), user, password, fileName, errorText));
    ASSERT_EQ(errorText, "");
    engine.SetDbLoginname(user);
    engine.SetDbPassword(password);
    engine.SetConnected(true);
    std::string text;
    EXPECT_NO_THROW(engine.CreateTables(text));
    EXPECT_GT(engine.AddFeed(u"Feed", "http://example.org/feed.xml", u""), 0);
    engine.SetConnected(false);

    admin.Connect();
    EXPECT_EQ(CreationDate(admin), made);
    int64_t roles = 0, grants = 0, tables = 0;
    std::string comment;
    testing_support::RunStatement(admin, "select count(*) from rdb$roles where rdb$role_name='FEED_READERS'",
                                  [&](TQueryWrapper& row) { roles = row.Fields(0).AsInt64(); });
    testing_support::RunStatement(admin,
                                  "select count(*) from rdb$user_privileges where rdb$user='" + appUser +
                                      "' and rdb$relation_name='FEED_READERS'",
                                  [&](TQueryWrapper& row) { grants = row.Fields(0).AsInt64(); });
    testing_support::RunStatement(admin, "select count(*) from rdb$relations where rdb$system_flag=0",
                                  [&](TQueryWrapper& row) { tables = row.Fields(0).AsInt64(); });
    testing_support::RunStatement(admin, "select rdb$description from rdb$database",
                                  [&](TQueryWrapper& row) { comment = row.Fields(0).AsString(); });
    EXPECT_EQ(comment, "Feeds of the newsroom");
    EXPECT_EQ(roles, 1);
    EXPECT_EQ(grants, 1);
    EXPECT_EQ(tables, 22);
  }
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
