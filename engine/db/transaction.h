// SPDX-License-Identifier: MIT
// One transaction on a Database: read committed (record versions), read and
// write, not waiting on lock conflicts (a conflict fails at once); or a
// read-only one, read committed or a snapshot.
//
// Contract:
// - StartTransaction REQUIRES a connected database and no active
//   transaction; Commit and Rollback REQUIRE an active one (else
//   kt::Exception). Engine failures raise EFirebirdError.
// - A failed Commit leaves the transaction active (roll it back); Rollback
//   ends the transaction even when the engine reports a failure.
// - The object's own state is guarded, so another thread may ask
//   InTransaction while one thread works in it. Several Transaction objects
//   may run on one Database from several threads at once.
// - SetDatabase REQUIRES no active transaction. The destructor rolls back an
//   active transaction.
// - Ending the transaction ends the result sets open in it: their statements
//   are at Eof and closing them does nothing.
#pragma once

#include <mutex>
#include <set>

namespace Firebird {
class ITransaction;
}

namespace tidewell::db {

class Database;
class Statement;

class Transaction {
 public:
  Transaction() = default;
  explicit Transaction(Database* database) : database_(database) {}
  virtual ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void SetDatabase(Database* database);
  // The database, or nullptr when none is set.
  Database* GetDatabase() const;

  // A read-only transaction refuses every change. A lost attachment is
  // made again first (Database::Reattach), so the start fails only while
  // the server does not answer.
  void StartTransaction(bool readOnly = false);
  // A read-only transaction that sees the database as it was at its start,
  // whatever others commit meanwhile: a row it read keeps its blobs until it
  // ends. For reads of rows that others rewrite.
  void StartSnapshot();
  void Commit();
  void Rollback();
  bool InTransaction() const;

  // For the layer itself: the engine's handle, nullptr when not active.
  Firebird::ITransaction* Handle() const;

 private:
  friend class Statement;

  enum class Mode { kReadWrite, kReadOnly, kSnapshot };
  void Start(Mode mode);
  void Begin(Mode mode);
  Firebird::ITransaction* RequireActive() const;
  void EndCursors();
  void AttachCursor(Statement* statement);
  void DetachCursor(Statement* statement);

  mutable std::mutex mutex_;
  Database* database_ = nullptr;            // guarded by mutex_
  Firebird::ITransaction* handle_ = nullptr;  // guarded by mutex_
  bool read_only_ = false;                     // guarded by mutex_
  std::set<Statement*> cursors_;              // guarded by mutex_: open result sets
};

}  // namespace tidewell::db
