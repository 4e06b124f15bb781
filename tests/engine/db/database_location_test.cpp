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

// A first start cut short leaves some of the schema's tables, no version
// and no rows: the database is made again. One with a row, or with anything
// that is not ours, or with none of our tables (as an administrator makes
// one for the program) is kept with its page size. A made database writes
// through at every commit, though it was made without.
TEST(DatabaseLocationTest, OnlyAnUnfinishedEmptyDatabaseIsMadeAgain) {
  testing_support::UsePrivateFirebirdLockFolder();
  testing_support::TempFolder folder;
  const std::string name = folder.File("x.fdb");
  EXPECT_TRUE(EnsureDatabase(name, "SYSDBA", "", 8192));
  EXPECT_FALSE(std::filesystem::exists(name + ".partial"));
  TDbConnWrapper connection;
  connection.SetDBFileName(name);
  connection.SetUser("SYSDBA");
  auto run = [&](const std::string& sql) {
    connection.Connect();
    testing_support::RunStatement(connection, sql);
    connection.Disconnect();
  };
  auto forcedWrites = [&] {
    int64_t on = -1;
    connection.Connect();
    testing_support::RunStatement(connection, "select mon$forced_writes from mon$database",
                                  [&](TQueryWrapper& row) { on = row.Fields(0).AsInt64(); });
    connection.Disconnect();
    return on;
  };
  EXPECT_EQ(forcedWrites(), 1);
  auto ensureKeepsPageSize = [&](int32_t pageSize) {
    EXPECT_FALSE(EnsureDatabase(name, "SYSDBA", "", pageSize == 8192 ? 4096 : 8192));
    connection.Connect();
    EXPECT_EQ(connection.PageSize(), pageSize);
    connection.Disconnect();
  };
  ensureKeepsPageSize(8192);
  run("create table admin_notes(note varchar(20))");
  ensureKeepsPageSize(8192);
  run("create table feeds(feed_id integer)");
  ensureKeepsPageSize(8192);
  run("drop table admin_notes");
  run("create role feed_readers");
  ensureKeepsPageSize(8192);
  run("drop role feed_readers");
  EXPECT_FALSE(EnsureDatabase(name, "SYSDBA", "", 4096));
  EXPECT_EQ(forcedWrites(), 1);
  // Remade: the table is gone, so it can be made again.
  run("create table feeds(feed_id integer)");
  run("insert into feeds values(1)");
  ensureKeepsPageSize(4096);
  connection.Connect();
  int64_t rows = 0;
  testing_support::RunStatement(connection, "select count(*) from feeds",
                                [&](TQueryWrapper& row) { rows = row.Fields(0).AsInt64(); });
  EXPECT_EQ(rows, 1);
}

}  // namespace
}  // namespace tidewell::db
