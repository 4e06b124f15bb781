// SPDX-License-Identifier: MIT
#include "engine/db/database_location.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/db/tidewell_compability.h"
#include "support/firebird_test_database.h"
#include "support/temp_folder.h"

namespace tidewell::db {
namespace {

TEST(DatabaseLocationTest, ServerNamesAreToldFromLocalFilesAndSplit) {
  const char* const cases[][3] = {
      {"localhost:/srv/x.fdb", "localhost:", "/srv/x.fdb"},
      {"localhost/3050:/srv/x.fdb", "localhost/3050:", "/srv/x.fdb"},
      {"db.example.org/gds_db:feeds", "db.example.org/gds_db:", "feeds"},
      {"inet://localhost//srv/x.fdb", "inet://localhost/", "/srv/x.fdb"},
      {"INET://localhost:3051/srv/x.fdb", "INET://localhost:3051/", "srv/x.fdb"},
      {"[::1]/3050:/srv/x.fdb", "[::1]/3050:", "/srv/x.fdb"},
      {"/srv/x.fdb", "", "/srv/x.fdb"},
      {"/srv/odd:name.fdb", "", "/srv/odd:name.fdb"},
      {"relative/deeper/odd:name.fdb", "", "relative/deeper/odd:name.fdb"},
      {"C:\\data\\x.fdb", "", "C:\\data\\x.fdb"},
      {"x.fdb", "", "x.fdb"},
  };
  for (const auto& [name, server, path] : cases) {
    std::string serverPart, pathPart;
    SplitServerPart(name, serverPart, pathPart);
    EXPECT_EQ(serverPart, server) << name;
    EXPECT_EQ(pathPart, path) << name;
    EXPECT_EQ(IsServerPath(name), *server != '\0') << name;
  }
}

// A first start cut short leaves tables but no version and no rows: the
// database is made again. One with a row, or with its version, is kept.
TEST(DatabaseLocationTest, OnlyAnUnfinishedEmptyDatabaseIsMadeAgain) {
  testing_support::UsePrivateFirebirdLockFolder();
  testing_support::TempFolder folder;
  const std::string name = folder.File("x.fdb");
  EXPECT_TRUE(EnsureDatabase(name, "SYSDBA", "", 8192));
  EXPECT_FALSE(std::filesystem::exists(name + ".partial"));
  auto addTable = [&](const std::string& sql) {
    TDbConnWrapper connection;
    connection.SetDBFileName(name);
    connection.Connect();
    testing_support::RunStatement(connection, sql);
  };
  addTable("create table feeds(feed_id integer)");
  EXPECT_FALSE(EnsureDatabase(name, "SYSDBA", "", 8192));
  // Remade: the table is gone, so it can be made again.
  addTable("create table feeds(feed_id integer)");
  addTable("insert into feeds values(1)");
  EXPECT_FALSE(EnsureDatabase(name, "SYSDBA", "", 8192));
  EXPECT_FALSE(EnsureDatabase(name, "SYSDBA", "", 8192));
}

}  // namespace
}  // namespace tidewell::db
