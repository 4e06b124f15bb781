// SPDX-License-Identifier: MIT
#include "engine/db/tidewell_compability.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "support/firebird_test_database.h"

namespace {

using namespace tidewell;
using testing_support::FirebirdTestDatabase;

// Each test sets the pools' switch it needs; the pools are process-wide.
class PoolTest : public ::testing::Test {
 protected:
  void TearDown() override { EnablePools(); }
};

TEST_F(PoolTest, BeforeEnablingRequestsMakeFreshObjectsThatReleaseFrees) {
  TEST_SetPoolsEnabled(false);
  const int32_t records = QueryObjectPool()->RecordCount();
  TQueryWrapper* query = NewQuery(true);
  TTranWrapper* transaction = NewTransaction(true);
  EXPECT_FALSE(QueryObjectPool()->Owns(query));
  EXPECT_FALSE(TransactionObjectPool()->Owns(transaction));
  ReleaseQuery(query);
  ReleaseTransaction(transaction);
  EXPECT_EQ(QueryObjectPool()->RecordCount(), records);
}

TEST_F(PoolTest, AskingWithoutPoolNeverTouchesThePool) {
  EnablePools();
  const int32_t records = QueryObjectPool()->RecordCount();
  TQueryWrapper* query = NewQuery(false);
  EXPECT_FALSE(QueryObjectPool()->Owns(query));
  ReleaseQuery(query);
  EXPECT_EQ(QueryObjectPool()->RecordCount(), records);
}

TEST_F(PoolTest, ReleasedStatementComesBackClosedEmptyDetachedAndUnprepared) {
  EnablePools();
  FirebirdTestDatabase db;
  TTranWrapper transaction(&db.Connection());
  transaction.StartTransaction();
  TQueryWrapper* query = NewQuery(true);
  ASSERT_TRUE(QueryObjectPool()->Owns(query));
  query->SetTransaction(&transaction);
  query->SQL.Add("select 1 from rdb$database");
  ExecQueryTimed(query, true);
  ASSERT_TRUE(query->Open());
  ReleaseQuery(query);

  TQueryWrapper* again = NewQuery(true);
  EXPECT_EQ(again, query);
  EXPECT_FALSE(again->Open());
  EXPECT_TRUE(again->SQL.IsEmpty());
  EXPECT_EQ(again->GetTransaction(), nullptr);
  EXPECT_FALSE(again->Prepared());
  ReleaseQuery(again);
}

TEST_F(PoolTest, PooledStatementWorksOnTheNextAttachment) {
  EnablePools();
  FirebirdTestDatabase first;
  FirebirdTestDatabase second;
  for (FirebirdTestDatabase* db : {&first, &second}) {
    TTranWrapper* transaction = NewTransaction(true);
    transaction->SetDatabase(&db->Connection());
    transaction->StartTransaction();
    TQueryWrapper* query = NewQuery(true);
    query->SetTransaction(transaction);
    query->SQL.Add("select mon$attachment_id from mon$attachments where mon$attachment_id = current_connection");
    ExecQueryTimed(query, true);
    EXPECT_FALSE(query->Eof());
    transaction->Commit();
    ReleaseQuery(query);
    ReleaseTransaction(transaction);
    // Nothing pooled holds on to the attachment.
    db->Connection().Disconnect();
  }
}

TEST_F(PoolTest, ReleasingAnActiveTransactionRollsItsWorkBack) {
  EnablePools();
  FirebirdTestDatabase db;
  db.Execute("create table t(id integer)");
  TTranWrapper* transaction = NewTransaction(true);
  transaction->SetDatabase(&db.Connection());
  transaction->StartTransaction();
  TQueryWrapper* query = NewQuery(true);
  query->SetTransaction(transaction);
  query->SQL.Add("insert into t values (1)");
  ExecQueryTimed(query, false);
  ReleaseQuery(query);
  ReleaseTransaction(transaction);

  EXPECT_EQ(db.QueryInt64("select count(*) from t"), 0);
  TTranWrapper* again = NewTransaction(true);
  EXPECT_EQ(again, transaction);
  EXPECT_FALSE(again->InTransaction());
  EXPECT_EQ(again->GetDatabase(), nullptr);
  ReleaseTransaction(again);
}

TEST_F(PoolTest, BeyondTheLimitObjectsAreHandedOutUnpooled) {
  EnablePools();
  TTransactionObjectPool& pool = *TransactionObjectPool();
  std::vector<TTranWrapper*> held;
  while (pool.RecordCount() < TPoolBase::kMaxRecords || held.size() < static_cast<size_t>(pool.RecordCount()))
    held.push_back(NewTransaction(true));
  ASSERT_EQ(pool.RecordCount(), TPoolBase::kMaxRecords);

  TTranWrapper* extra = NewTransaction(true);
  EXPECT_FALSE(pool.Owns(extra));
  ReleaseTransaction(extra);
  EXPECT_EQ(pool.RecordCount(), TPoolBase::kMaxRecords);
  for (TTranWrapper* transaction : held) ReleaseTransaction(transaction);
  EXPECT_EQ(pool.RecordCount(), TPoolBase::kMaxRecords);
}

TEST_F(PoolTest, ConcurrentAcquisitionsNeverShareAnObject) {
  EnablePools();
  std::mutex mutex;
  std::set<void*> inUse;
  std::atomic<int> clashes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        TQueryWrapper* query = NewQuery(true);
        {
          std::lock_guard<std::mutex> lock(mutex);
          if (!inUse.insert(query).second) ++clashes;
        }
        std::this_thread::yield();
        {
          std::lock_guard<std::mutex> lock(mutex);
          inUse.erase(query);
        }
        ReleaseQuery(query);
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(clashes.load(), 0);
}

class CountingQuery : public TQueryWrapper {
 public:
  explicit CountingQuery(int& destroyed) : destroyed_(destroyed) {}
  ~CountingQuery() override { ++destroyed_; }

 private:
  int& destroyed_;
};

TEST(PoolLifetimeTest, DestroyingAPoolFreesEveryObjectItHolds) {
  int destroyed = 0;
  {
    TQueryObjectPool pool;
    pool.AddItem(static_cast<TQueryWrapper*>(new CountingQuery(destroyed)), true, true);
    pool.AddItem(static_cast<TQueryWrapper*>(new CountingQuery(destroyed)), false, false);
    EXPECT_EQ(pool.RecordCount(), 2);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(PoolLifetimeTest, RecordsAreTakenOnceAndReleasedByObject) {
  TQueryObjectPool pool;
  auto* query = new TQueryWrapper();
  pool.AddItem(query, true, false);
  EXPECT_EQ(pool.FindFree(), query);
  EXPECT_EQ(pool.FindFree(), nullptr);
  EXPECT_TRUE(pool.ReleaseItem(query));
  TQueryWrapper stranger;
  EXPECT_FALSE(pool.ReleaseItem(&stranger));
  EXPECT_EQ(pool.FindFree(), query);
}

TEST(ExecQueryTimedTest, RecordsTheFlagAndWholeSecondsAndLeavesZeroAfterAFailure) {
  FirebirdTestDatabase db;
  TTranWrapper transaction(&db.Connection());
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("select 1 from rdb$database");
  query.elapsed = 99;
  ExecQueryTimed(&query, true);
  EXPECT_TRUE(query.isSelect);
  EXPECT_GE(query.elapsed, 0);

  query.Close();
  query.SQL.Clear();
  query.SQL.Add("insert into nowhere values (1)");
  query.elapsed = 99;
  EXPECT_THROW(ExecQueryTimed(&query, false), EFirebirdError);
  EXPECT_FALSE(query.isSelect);
  EXPECT_EQ(query.elapsed, 0);
}

TEST(ExecQueryTimedTest, WholeSecondsAreTruncated) {
  const auto start = std::chrono::steady_clock::time_point{};
  EXPECT_EQ(WholeSecondsBetween(start, start + std::chrono::milliseconds(2600)), 2);
  EXPECT_EQ(WholeSecondsBetween(start, start + std::chrono::milliseconds(999)), 0);
}

TEST(SafeQueryTest, CloseAndUnprepareReportFailureInsteadOfRaising) {
  EXPECT_FALSE(SafeCloseQuery(nullptr));
  EXPECT_FALSE(SafeUnprepareQuery(nullptr));

  FirebirdTestDatabase db;
  TTranWrapper transaction(&db.Connection());
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("select 1 from rdb$database");
  query.ExecQuery();
  transaction.Commit();  // the result set ends with its transaction
  EXPECT_TRUE(SafeCloseQuery(&query));
  EXPECT_FALSE(query.Open());
  EXPECT_TRUE(SafeUnprepareQuery(&query));
  EXPECT_FALSE(query.Prepared());
}

TEST(SqlClauseTest, TableHintClauseIsAlwaysEmpty) {
  std::string clause = " with (nolock)";
  ClearSqlClause(clause);
  EXPECT_EQ(clause, "");
}

}  // namespace
