// SPDX-License-Identifier: MIT
#include "engine/db/database.h"

#include <gtest/gtest.h>
#include <ibase.h>

#include <string>

#include "engine/db/firebird_error.h"
#include "engine/db/tidewell_compability.h"
#include "support/firebird_test_database.h"

namespace {

using tidewell::EFirebirdError;
using tidewell::TDbConnWrapper;
using tidewell::TQueryWrapper;
using tidewell::TTranWrapper;
using testing_support::FirebirdTestDatabase;

std::string ReadCharSetName(TDbConnWrapper& connection) {
  TTranWrapper transaction(&connection);
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("select trim(rdb$character_set_name) from rdb$database");
  query.ExecQuery();
  std::string name = query.Fields(0).AsString();
  transaction.Commit();
  return name;
}

TEST(DatabaseTest, CreatesUtf8DatabaseWithPageSizeRoundedDownByTheEngine) {
  testing_support::UsePrivateFirebirdLockFolder();
  testing_support::TempFolder folder;
  TDbConnWrapper connection;
  connection.SetDBFileName(folder.File("paged.fdb"));
  connection.CreateDatabase(16392);
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(connection.PageSize(), 16384);
  EXPECT_EQ(connection.SQLDialect(), 3);
  EXPECT_EQ(ReadCharSetName(connection), "UTF8");
}

int32_t FirstInteger(TDbConnWrapper& connection, const std::string& sql) {
  int32_t value = 0;
  testing_support::RunStatement(connection, sql, [&](TQueryWrapper& row) { value = row.Fields(0).AsInteger(); });
  return value;
}

int32_t ReadPageBuffers(TDbConnWrapper& connection) {
  return FirstInteger(connection, "select mon$page_buffers from mon$database");
}

// The cache is sized by the first attachment that opens the file: 256 pages
// for a created one and for one attached to after a restart, Firebird's 2,048
// when asked for its default.
TEST(DatabaseTest, FirstAttachmentSizesThePageCache) {
  FirebirdTestDatabase db;
  EXPECT_EQ(ReadPageBuffers(db.Connection()), TDbConnWrapper::kDefaultPageCachePages);
  db.Connection().Disconnect();
  auto again = db.Connect();
  EXPECT_EQ(ReadPageBuffers(*again), 256);
  again->Disconnect();
  TDbConnWrapper firebirdDefault;
  firebirdDefault.SetDBFileName(again->DBFileName());
  firebirdDefault.SetUser(again->User());
  firebirdDefault.SetPassword(again->Password());
  firebirdDefault.SetPageCachePages(0);
  firebirdDefault.Connect();
  EXPECT_EQ(ReadPageBuffers(firebirdDefault), 2048);
}

bool RunsAGarbageCollectorThread(TDbConnWrapper& connection) {
  return FirstInteger(connection,
                      "select count(*) from mon$attachments where mon$system_flag=1 and mon$user='Garbage Collector'") > 0;
}

// Readers remove the old row versions they meet, as they do beside the
// collector, but no collector thread writes pages beside the workers; the
// first attachment that opens the file decides, Firebird's default keeps the
// thread.
TEST(DatabaseTest, FirstAttachmentLeavesGarbageToItsReaders) {
  FirebirdTestDatabase db;
  EXPECT_FALSE(RunsAGarbageCollectorThread(db.Connection()));
  db.Connection().Disconnect();
  auto again = db.Connect();
  EXPECT_FALSE(RunsAGarbageCollectorThread(*again));
  again->Disconnect();
  TDbConnWrapper firebirdDefault;
  firebirdDefault.SetDBFileName(again->DBFileName());
  firebirdDefault.SetUser(again->User());
  firebirdDefault.SetPassword(again->Password());
  firebirdDefault.SetCooperativeGarbageCollection(false);
  firebirdDefault.Connect();
  EXPECT_TRUE(RunsAGarbageCollectorThread(firebirdDefault));
}

TEST(DatabaseTest, AttachesToAnExistingFileAndSeesItsData) {
  FirebirdTestDatabase db;
  db.Execute("create table t(id integer)");
  db.Execute("insert into t values (42)");
  db.Connection().Disconnect();
  EXPECT_FALSE(db.Connection().Connected());

  auto again = db.Connect();
  TTranWrapper transaction(again.get());
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("select id from t");
  query.ExecQuery();
  EXPECT_EQ(query.FieldByName("id").AsInteger(), 42);
}

TEST(DatabaseTest, ConnectFailuresCarryTheEngineMessage) {
  testing_support::UsePrivateFirebirdLockFolder();
  testing_support::TempFolder folder;
  TDbConnWrapper connection;
  connection.SetDBFileName(folder.File("missing.fdb"));
  try {
    connection.Connect();
    FAIL() << "attaching to a missing file succeeded";
  } catch (const EFirebirdError& e) {
    EXPECT_NE(e.Message().find("missing.fdb"), std::string::npos) << e.Message();
    EXPECT_NE(e.GdsCode(), 0);
  }
  EXPECT_FALSE(connection.Connected());

  TDbConnWrapper unnamed;
  EXPECT_THROW(unnamed.Connect(), kt::Exception);
}

TEST(DatabaseTest, DisconnectRollsBackOpenWorkAndDropsStatements) {
  FirebirdTestDatabase db;
  db.Execute("create table t(id integer)");
  auto second = db.Connect();
  TTranWrapper transaction(second.get());
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("insert into t values (1)");
  query.ExecQuery();
  ASSERT_TRUE(query.Prepared());

  second->Disconnect();

  EXPECT_FALSE(transaction.InTransaction());
  EXPECT_FALSE(query.Prepared());
  EXPECT_EQ(db.QueryInt64("select count(*) from t"), 0);
}

TEST(DatabaseTest, StatementPreparedOnOneAttachmentIsPreparedAgainOnTheNext) {
  FirebirdTestDatabase db;
  db.Execute("create table t(id integer)");
  TTranWrapper transaction(&db.Connection());
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("insert into t values (?)");
  transaction.StartTransaction();
  query.Params(0).SetInteger(1);
  query.ExecQuery();
  transaction.Commit();

  db.Connection().Disconnect();
  db.Connection().Connect();
  transaction.StartTransaction();
  query.Params(0).SetInteger(2);
  query.ExecQuery();
  transaction.Commit();
  EXPECT_EQ(db.QueryInt64("select sum(id) from t"), 3);
}

// A server starting again fails a login for its own reasons for a moment:
// awaited as a server away. A refused login is not.
TEST(DatabaseTest, ALoginTheServerFailsForItsOwnReasonsIsAwaitedButAWrongPasswordIsNot) {
  const struct {
    intptr_t code;
    bool lost;
  } cases[] = {{isc_login_error, true}, {isc_connect_reject, true}, {isc_login, false}};
  for (const auto& c : cases)
    EXPECT_EQ(tidewell::db::EFirebirdError("login", -902, c.code).IsConnectionLost(), c.lost) << c.code;
}

}  // namespace
