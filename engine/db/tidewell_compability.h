// SPDX-License-Identifier: MIT
// The engine's handles on the database and the process-wide pools that
// recycle them.
//
// Handles: TDbConnWrapper (connection), TTranWrapper (transaction) and
// TQueryWrapper (statement) are the access layer's Database, Transaction and
// Statement (engine/db/database.h, transaction.h, statement.h: read their
// contracts); TQueryWrapper adds the figures of ExecQueryTimed.
//
// Typical use by a data-model or worker routine:
//
//   TTranWrapper* transaction = NewTransaction(true);
//   transaction->SetDatabase(&connection);
//   TQueryWrapper* query = NewQuery(true);
//   query->SetTransaction(transaction);
//   transaction->StartTransaction();
//   query->SQL.Add("select feed_id, title");
//   query->SQL.Add("from feeds" + clause);        // clause from ClearSqlClause
//   query->SQL.Add("where feed_id=?");
//   query->Params(0).SetInteger(id);
//   ExecQueryTimed(query, true);
//   while (!query->Eof()) { ... query->FieldByName("TITLE").AsWideString() ...; query->Next(); }
//   transaction->Commit();
//   ReleaseQuery(query);
//   ReleaseTransaction(transaction);
//
// Ownership: whatever NewQuery / NewTransaction hand out goes back through
// ReleaseQuery / ReleaseTransaction, never through delete: a pooled object
// returns to its pool, any other is freed. A released object must not be
// used again by the one who released it.
//
// Threads: the pools are shared by all threads; acquisition and release may
// run from any thread at once. A handed-out object is used by one thread at
// a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/db/database.h"
#include "engine/db/statement.h"
#include "engine/db/transaction.h"
#include "engine/tidewell_struct.h"
#include "rssEngUtilities/queue_unit.h"

namespace tidewell {

using db::EFirebirdError;

// The connection handle. Character set "UTF8" and dialect 3 are its defaults.
class TDbConnWrapper : public db::Database {};

// The transaction handle.
class TTranWrapper : public db::Transaction {
 public:
  using db::Transaction::Transaction;
};

// The statement handle of the whole system.
class TQueryWrapper : public db::Statement {
 public:
  // Whole seconds (truncated) of the last run through ExecQueryTimed; 0 while
  // it runs and after a failed run.
  int32_t elapsed = 0;
  // The isSelect flag given to the last ExecQueryTimed.
  bool isSelect = false;
};

// A pool of recycled objects (statements or transactions) over a round list
// of records. Records are created taken, freed on release, taken again by
// the next acquisition; they are removed only when the pool is destroyed.
class TPoolBase {
 public:
  static constexpr int32_t kMaxRecords = 1024;

  struct TPoolRecord {
    std::atomic<bool> inUse{false};
    void* object = nullptr;
    TDateTime timeStamp = 0;  // local time of creation or of the last take
  };

  TPoolBase();
  // Marks the pool as being destroyed, then frees every record and, through
  // the release routine, its object.
  virtual ~TPoolBase();
  TPoolBase(const TPoolBase&) = delete;
  TPoolBase& operator=(const TPoolBase&) = delete;

  // Hands out pooled objects only when set (once, by EnablePools).
  std::atomic<bool> Enabled{false};
  // 255 while the pool is being destroyed.
  std::atomic<int32_t> Tag{0};
  bool BeingDestroyed() const { return Tag.load() == 255; }

  // Disposal of one record: its object goes to the release routine, then the
  // record is freed.
  virtual void FreeItem(TPoolRecord* record);
  // Search predicate: takes a free record (in use, time stamp now).
  virtual bool MarkInUse(TPoolRecord* record);
  // Search predicate: whether the record holds the object.
  virtual bool MatchObject(TPoolRecord* record, void* object);
  virtual void AddItem(void* object, bool atHead, bool inUse);
  // Detaches the object from its transaction or database and frees its
  // record; returns whether the pool holds the object.
  virtual bool ReleaseItem(void* object);
  // The object of the first free record from the head, now taken; nullptr
  // when none is free.
  virtual void* FindFree();
  virtual bool Owns(void* object);

  int32_t RecordCount() const { return records_.GetCount(); }

 protected:
  // The pool's object kind: detaching on release, and the release routine
  // that disposes of an object when its record is freed.
  virtual void DetachObject(void* object) = 0;
  virtual void DisposeObject(void* object) = 0;
  // Called from the subclass destructor, while the kind is still known.
  void DestroyRecords();

 private:
  TIRoundList records_;
};

class TTransactionObjectPool : public TPoolBase {
 public:
  ~TTransactionObjectPool() override;

 protected:
  void DetachObject(void* object) override;
  void DisposeObject(void* object) override;
};

class TQueryObjectPool : public TPoolBase {
 public:
  ~TQueryObjectPool() override;

 protected:
  void DetachObject(void* object) override;
  void DisposeObject(void* object) override;
};

// The process-wide pools (nullptr once the process is ending).
TTransactionObjectPool* TransactionObjectPool();
TQueryObjectPool* QueryObjectPool();

// Switches both pools on (called by the engine's constructor).
void EnablePools();

// A statement: from the pool when usePool and the pool is on, else fresh.
TQueryWrapper* NewQuery(bool usePool);
// A transaction: from the pool when usePool and the pool is on, else fresh.
TTranWrapper* NewTransaction(bool usePool);
// A pooled statement is closed, emptied, unprepared (it keeps no engine
// handle) and detached from its transaction, then returned to the pool; any
// other is freed. nullptr does nothing.
void ReleaseQuery(TQueryWrapper* query);
// A pooled transaction still active is rolled back (its work is not handed
// to the next user), detached from its database and returned to the pool;
// any other is freed (which rolls it back). nullptr does nothing.
void ReleaseTransaction(TTranWrapper* transaction);

// Closes the statement's result set; false when that failed (nothing is
// raised), true otherwise.
bool SafeCloseQuery(TQueryWrapper* query);
// Drops the statement's prepared form; false when that failed (nothing is
// raised), true otherwise.
bool SafeUnprepareQuery(TQueryWrapper* query);

// Runs the statement (a select opens its result set), storing isSelect and
// the whole seconds it took in the statement; a failure propagates and
// leaves elapsed at 0.
void ExecQueryTimed(TQueryWrapper* query, bool isSelect);

// Runs sql, a statement that stores several rows at once, with the
// parameters bind sets, and closes it. False when it failed: it undid
// itself, and the caller stores the rows one by one, so that a failure
// reads as the single statement's. kt::EAbort (a stop) still propagates.
bool StoredTogether(TQueryWrapper* query, const std::string& sql, const std::function<void()>& bind);

// The table-hint clause put after a table name in a FROM clause: always
// empty for this database.
void ClearSqlClause(std::string& clause);

// The whole seconds (truncated) between two readings of the monotonic clock.
int32_t WholeSecondsBetween(std::chrono::steady_clock::time_point start, std::chrono::steady_clock::time_point end);

// Test hook: switches the pools back off, which the engine never does.
void TEST_SetPoolsEnabled(bool enabled);

}  // namespace tidewell
