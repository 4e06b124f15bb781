// SPDX-License-Identifier: MIT
#include "engine/db/transaction.h"

#include "engine/db/activity.h"
#include "engine/db/database.h"
#include "engine/db/firebird_client.h"
#include "engine/db/statement.h"

namespace tidewell::db {
namespace {

const unsigned char kTransactionParameters[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                                isc_tpb_rec_version, isc_tpb_nowait};
// A read-only read-committed transaction is committed from its start: ending
// it writes nothing, where every other commit waits for a synchronous write.
const unsigned char kReadOnlyParameters[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed,
                                             isc_tpb_rec_version, isc_tpb_nowait};
// It holds back no record version either, so a blob of a row it read may be
// gone when it reads it; a snapshot keeps what it has seen.
const unsigned char kSnapshotParameters[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_concurrency, isc_tpb_nowait};

}  // namespace

Transaction::~Transaction() {
  try {
    if (InTransaction()) Rollback();
  } catch (const std::exception&) {
    // A destructor cannot report; Rollback dropped the handle anyway.
  }
}

void Transaction::SetDatabase(Database* database) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handle_ != nullptr && database != database_) throw kt::Exception("Transaction is active");
  database_ = database;
}

Database* Transaction::GetDatabase() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return database_;
}

bool Transaction::InTransaction() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handle_ != nullptr;
}

Firebird::ITransaction* Transaction::Handle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handle_;
}

void Transaction::StartTransaction(bool readOnly) { Start(readOnly ? Mode::kReadOnly : Mode::kReadWrite); }

void Transaction::StartSnapshot() { Start(Mode::kSnapshot); }

// The attachment is made again outside the lock: it ends the other
// transactions and statements on the connection.
void Transaction::Start(Mode mode) {
  if (InTransaction()) throw kt::Exception("Transaction is already active");
  Database* database = GetDatabase();
  if (database != nullptr && database->Connected() && database->Lost()) database->Reattach();
  try {
    Begin(mode);
  } catch (const EFirebirdError& error) {
    if (!error.IsConnectionLost() || InTransaction()) throw;
    database->Reattach();
    Begin(mode);
  }
}

void Transaction::Begin(Mode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handle_ != nullptr) throw kt::Exception("Transaction is already active");
  if (database_ == nullptr || !database_->Connected()) throw kt::Exception("Transaction has no connected database");
  Firebird::IAttachment* attachment = database_->Attachment();
  handle_ = fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    switch (mode) {
      case Mode::kReadOnly:
        return attachment->startTransaction(status, sizeof kReadOnlyParameters, kReadOnlyParameters);
      case Mode::kSnapshot:
        return attachment->startTransaction(status, sizeof kSnapshotParameters, kSnapshotParameters);
      case Mode::kReadWrite:
        break;
    }
    return attachment->startTransaction(status, sizeof kTransactionParameters, kTransactionParameters);
  });
  read_only_ = mode != Mode::kReadWrite;
  database_->RegisterTransaction(this);
}

Firebird::ITransaction* Transaction::RequireActive() const {
  if (handle_ == nullptr) throw kt::Exception("Transaction is not active");
  return handle_;
}

void Transaction::Commit() {
  std::lock_guard<std::mutex> lock(mutex_);
  Firebird::ITransaction* handle = RequireActive();
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { handle->commit(status); });
  if (!read_only_) activity::CountCommit();
  handle_ = nullptr;
  EndCursors();
  database_->UnregisterTransaction(this);
}

void Transaction::Rollback() {
  std::lock_guard<std::mutex> lock(mutex_);
  fb::Ref<Firebird::ITransaction> handle(RequireActive());
  handle_ = nullptr;
  EndCursors();
  database_->UnregisterTransaction(this);
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { handle->rollback(status); });
  handle.Forget();
}

// REQUIRES: mutex_ held.
void Transaction::EndCursors() {
  for (Statement* statement : cursors_) statement->CursorEnded();
  cursors_.clear();
}

void Transaction::AttachCursor(Statement* statement) {
  std::lock_guard<std::mutex> lock(mutex_);
  cursors_.insert(statement);
}

void Transaction::DetachCursor(Statement* statement) {
  std::lock_guard<std::mutex> lock(mutex_);
  cursors_.erase(statement);
}

}  // namespace tidewell::db
