// SPDX-License-Identifier: MIT
#include "engine/db/transaction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "support/firebird_test_database.h"

namespace {

using tidewell::EFirebirdError;
using tidewell::TQueryWrapper;
using tidewell::TTranWrapper;
using testing_support::FirebirdTestDatabase;

void Insert(TTranWrapper& transaction, int id) {
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("insert into t(id) values(?)");
  query.Params(0).SetInteger(id);
  query.ExecQuery();
}

TEST(TransactionTest, CommitKeepsAndRollbackDropsTheWork) {
  FirebirdTestDatabase db;
  db.Execute("create table t(id integer)");
  TTranWrapper transaction(&db.Connection());
  EXPECT_FALSE(transaction.InTransaction());
  transaction.StartTransaction();
  EXPECT_TRUE(transaction.InTransaction());
  Insert(transaction, 1);
  transaction.Commit();
  EXPECT_FALSE(transaction.InTransaction());
  transaction.StartTransaction();
  Insert(transaction, 2);
  transaction.Rollback();
  EXPECT_EQ(db.QueryInt64("select sum(id) from t"), 1);
}

TEST(TransactionTest, MisuseIsReported) {
  FirebirdTestDatabase db;
  TTranWrapper unattached;
  EXPECT_THROW(unattached.StartTransaction(), kt::Exception);
  TTranWrapper transaction(&db.Connection());
  EXPECT_THROW(transaction.Commit(), kt::Exception);
  EXPECT_THROW(transaction.Rollback(), kt::Exception);
  transaction.StartTransaction();
  EXPECT_THROW(transaction.StartTransaction(), kt::Exception);
  EXPECT_THROW(transaction.SetDatabase(nullptr), kt::Exception);
  EXPECT_TRUE(transaction.InTransaction());
}

TEST(TransactionTest, DestroyingAnActiveTransactionRollsItBack) {
  FirebirdTestDatabase db;
  db.Execute("create table t(id integer)");
  {
    TTranWrapper transaction(&db.Connection());
    transaction.StartTransaction();
    Insert(transaction, 1);
  }
  EXPECT_EQ(db.QueryInt64("select count(*) from t"), 0);
}

TEST(TransactionTest, EndingATransactionEndsItsOpenResultSets) {
  FirebirdTestDatabase db;
  TQueryWrapper query;
  {
    TTranWrapper transaction(&db.Connection());
    transaction.StartTransaction();
    query.SetTransaction(&transaction);
    query.SQL.Add("select 1 from rdb$database");
    query.ExecQuery();
    ASSERT_TRUE(query.Open());
    transaction.Commit();
    EXPECT_FALSE(query.Open());
    EXPECT_TRUE(query.Eof());
    EXPECT_NO_THROW(query.Close());

    transaction.StartTransaction();
    query.ExecQuery();
    ASSERT_TRUE(query.Open());
    // The transaction goes first, still active, with the result set open.
  }
  EXPECT_FALSE(query.Open());
  EXPECT_NO_THROW(query.Close());
}

TEST(TransactionTest, ConcurrentWritersOnOneRowConflictAtOnce) {
  FirebirdTestDatabase db;
  db.Execute("create table t(id integer)");
  db.Execute("insert into t values (1)");
  TTranWrapper first(&db.Connection());
  TTranWrapper second(&db.Connection());
  first.StartTransaction();
  second.StartTransaction();
  TQueryWrapper update;
  update.SetTransaction(&first);
  update.SQL.Add("update t set id=2");
  update.ExecQuery();
  update.SetTransaction(&second);
  EXPECT_THROW(update.ExecQuery(), EFirebirdError);
  second.Rollback();
  first.Commit();
  EXPECT_EQ(db.QueryInt64("select id from t"), 2);
}

TEST(TransactionTest, SeveralThreadsEachWithItsOwnTransactionShareOneAttachment) {
  FirebirdTestDatabase db;
  db.Execute("create table t(id integer, thread_ integer, note blob sub_type text)");
  constexpr int kThreads = 6;
  constexpr int kRows = 150;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&db, &failures, t] {
      try {
        TTranWrapper transaction(&db.Connection());
        transaction.StartTransaction();
        TQueryWrapper insert;
        insert.SetTransaction(&transaction);
        insert.SQL.Add("insert into t(id, thread_, note) values(?, ?, ?)");
        for (int i = 0; i < kRows; ++i) {
          insert.Params(0).SetInteger(i);
          insert.Params(1).SetInteger(t);
          insert.Params(2).SetString(std::string(100 + i, 'a' + t));
          insert.ExecQuery();
        }
        TQueryWrapper count;
        count.SetTransaction(&transaction);
        count.SQL.Add("select count(*), sum(char_length(note)) from t where thread_=?");
        count.Params(0).SetInteger(t);
        count.ExecQuery();
        if (count.Fields(0).AsInteger() != kRows) ++failures;
        // Odd threads give up their work.
        if (t % 2 == 0)
          transaction.Commit();
        else
          transaction.Rollback();
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        ++failures;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from t"), kThreads / 2 * kRows);
  EXPECT_EQ(db.QueryInt64("select count(*) from t where mod(thread_, 2) = 1"), 0);
}

}  // namespace
