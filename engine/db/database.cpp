// SPDX-License-Identifier: MIT
#include "engine/db/database.h"

#include <atomic>
#include <string>
#include <vector>

#include "engine/db/attach_call.h"
#include "engine/db/database_location.h"
#include "engine/db/firebird_client.h"
#include "engine/db/lock_folder_room.h"
#include "engine/db/server_waits.h"
#include "engine/db/statement.h"
#include "engine/db/transaction.h"

namespace tidewell::db {

// A parameter block builder, disposed with the scope.
class ParameterBlock {
 public:
  explicit ParameterBlock(Firebird::IXpbBuilder* builder) : builder_(builder) {}
  ~ParameterBlock() { builder_->dispose(); }
  ParameterBlock(const ParameterBlock&) = delete;
  ParameterBlock& operator=(const ParameterBlock&) = delete;
  Firebird::IXpbBuilder* operator->() const { return builder_; }

 private:
  Firebird::IXpbBuilder* builder_;
};

namespace {

std::atomic<uint64_t> next_serial{1};

ParameterBlock NewConnectBlock() {
  return ParameterBlock(fb::Invoke([](Firebird::ThrowStatusWrapper* status) {
    return fb::Util()->getXpbBuilder(status, Firebird::IXpbBuilder::DPB, nullptr, 0);
  }));
}

// The page cache and the garbage collection go in the attachment's
// configuration: Firebird 3 takes them from the first attachment that opens
// the file in a process (or server), and ignores isc_dpb_num_buffers when
// the cache is shared.
std::string Configuration(int pages, bool cooperativeGc) {
  std::string lines;
  if (pages > 0) lines += "DefaultDbCachePages = " + std::to_string(pages) + "\n";
  if (cooperativeGc) lines += "GCPolicy = cooperative\n";
  return lines;
}

// The in-process engine dies of SIGBUS where its lock files find no room:
// it is asked only once they have it, and they keep it. A server keeps its
// own.
void RequireRoomForEngineOf(const std::string& name) {
  if (!IsServerPath(name)) RequireRoomForLockFiles();
}

void KeepRoomForEngineOf(const std::string& name) {
  if (!IsServerPath(name)) GiveLockFilesTheirBlocks();
}

}  // namespace

Database::Database() = default;

Database::~Database() {
  try {
    Disconnect();
  } catch (const std::exception&) {
    // A destructor cannot report; the handle is gone either way.
  }
  ForgetServerDatabase(this);
}

void Database::CreateDatabase(int32_t pageSize) {
  if (Connected()) throw kt::Exception("Database is already connected");
  if (file_name_.empty()) throw kt::Exception("Database file name is empty");
  RequireRoomForEngineOf(file_name_);
  ParameterBlock block = NewConnectBlock();
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    block->insertString(status, isc_dpb_user_name, user_.c_str());
    if (!password_.empty()) block->insertString(status, isc_dpb_password, password_.c_str());
    block->insertString(status, isc_dpb_lc_ctype, char_set_.c_str());
    block->insertString(status, isc_dpb_set_db_charset, char_set_.c_str());
    block->insertInt(status, isc_dpb_sql_dialect, dialect_);
    if (pageSize > 0) block->insertInt(status, isc_dpb_page_size, pageSize);
    if (IsServerPath(file_name_)) block->insertInt(status, isc_dpb_connect_timeout, kServerConnectTimeoutSeconds);
    block->insertInt(status, isc_dpb_force_write, forced_writes_ ? 1 : 0);
    const std::string configuration = Configuration(page_cache_pages_, cooperative_gc_);
    if (!configuration.empty()) block->insertString(status, isc_dpb_config, configuration.c_str());
  });
  AdoptAttachment(AttachBounded(block, [](Firebird::ThrowStatusWrapper* status, const char* name, unsigned length,
                                          const unsigned char* bytes) {
    return fb::Provider()->createDatabase(status, name, length, bytes);
  }));
  KeepRoomForEngineOf(file_name_);
}

void Database::Connect() {
  if (Connected()) throw kt::Exception("Database is already connected");
  if (file_name_.empty()) throw kt::Exception("Database file name is empty");
  AdoptAttachment(Attach());
}

Firebird::IAttachment* Database::Attach() {
  if (closing_) throw EFirebirdError("The connection to the database is closing", 0, isc_att_shutdown);
  RequireRoomForEngineOf(file_name_);
  ParameterBlock block = NewConnectBlock();
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    block->insertString(status, isc_dpb_user_name, user_.c_str());
    if (!password_.empty()) block->insertString(status, isc_dpb_password, password_.c_str());
    block->insertString(status, isc_dpb_lc_ctype, char_set_.c_str());
    block->insertInt(status, isc_dpb_sql_dialect, dialect_);
    if (IsServerPath(file_name_)) block->insertInt(status, isc_dpb_connect_timeout, kServerConnectTimeoutSeconds);
    const std::string configuration = Configuration(page_cache_pages_, cooperative_gc_);
    if (!configuration.empty()) block->insertString(status, isc_dpb_config, configuration.c_str());
  });
  Firebird::IAttachment* attachment = AttachBounded(block, [](Firebird::ThrowStatusWrapper* status, const char* name,
                                                               unsigned length, const unsigned char* bytes) {
    return fb::Provider()->attachDatabase(status, name, length, bytes);
  });
  KeepRoomForEngineOf(file_name_);
  return attachment;
}

// The in-process engine attaches on the caller's thread; a server is
// attached to on a thread the caller can leave (attach_call.h), which a cut
// or a close makes it leave at once.
template <typename Open>
Firebird::IAttachment* Database::AttachBounded(const ParameterBlock& block, Open open) {
  const std::string name = file_name_;
  std::vector<unsigned char> bytes = fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    const unsigned char* buffer = block->getBuffer(status);
    return std::vector<unsigned char>(buffer, buffer + block->getBufferLength(status));
  });
  if (!IsServerPath(name)) {
    return fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
      return open(status, name.c_str(), static_cast<unsigned>(bytes.size()), bytes.data());
    });
  }
  const std::shared_ptr<AttachCall> call =
      AttachCall::Start([name, bytes = std::move(bytes), open](Firebird::ThrowStatusWrapper* status) {
        return open(status, name.c_str(), static_cast<unsigned>(bytes.size()), bytes.data());
      });
  NoteServerDatabase(this);
  {
    std::lock_guard<std::mutex> lock(cut_mutex_);
    attaching_ = call;
    if (closing_) call->Abandon();
  }
  struct Forget {
    Database& database;
    ~Forget() {
      std::lock_guard<std::mutex> lock(database.cut_mutex_);
      database.attaching_.reset();
    }
  } forget{*this};
  return call->Wait(std::chrono::milliseconds(attach_bound_ms_));
}

void Database::Reattach() {
  if (!Connected()) throw kt::Exception("Database is not connected");
  Firebird::IAttachment* fresh = nullptr;
  try {
    fresh = Attach();
  } catch (...) {
    lost_ = true;
    throw;
  }
  ReleaseDependents();
  fb::Ref<Firebird::IAttachment> old(attachment_);
  AdoptAttachment(fresh);
  try {
    fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { old->detach(status); });
    old.Forget();
  } catch (const EFirebirdError&) {
    // The server dropped it already; the reference is released below.
  }
  lost_ = false;
  loss_reported_ = false;
}

void Database::AdoptAttachment(Firebird::IAttachment* attachment) {
  if (IsServerPath(file_name_)) NoteServerDatabase(this);
  std::lock_guard<std::mutex> lock(cut_mutex_);
  attachment_ = attachment;
  serial_ = next_serial.fetch_add(1);
}

void Database::DropAttachment() {
  std::lock_guard<std::mutex> lock(cut_mutex_);
  attachment_ = nullptr;
}

void Database::RefuseAttaching() {
  closing_ = true;
  std::lock_guard<std::mutex> lock(cut_mutex_);
  if (attaching_) attaching_->Abandon();
}

void Database::CutAttachment() {
  std::lock_guard<std::mutex> lock(cut_mutex_);
  if (attaching_) attaching_->Abandon();
  if (attachment_ == nullptr) return;
  try {
    fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { attachment_->cancelOperation(status, fb_cancel_abort); });
  } catch (const EFirebirdError&) {
    // Detached meanwhile, or lost already.
  }
}

void Database::Disconnect() {
  if (!Connected()) return;
  ReleaseDependents();
  fb::Ref<Firebird::IAttachment> attachment(attachment_);
  // A cut reaches it while the detach waits (a stalled server); this
  // reference keeps it alive for a cut that comes right after the detach.
  attachment->addRef();
  const fb::Ref<Firebird::IAttachment> forCut(attachment.get());
  lost_ = false;
  loss_reported_ = false;
  try {
    fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { attachment->detach(status); });
  } catch (const EFirebirdError& error) {
    DropAttachment();
    // An attachment the server dropped already is as good as detached.
    if (!error.IsConnectionLost()) throw;
    return;
  }
  DropAttachment();
  attachment.Forget();
}

void Database::DropDatabase() {
  if (!Connected()) throw kt::Exception("Database is not connected");
  ReleaseDependents();
  fb::Ref<Firebird::IAttachment> attachment(attachment_);
  DropAttachment();
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { attachment->dropDatabase(status); });
  attachment.Forget();
}

// The engine refuses to detach with open transactions, and a statement
// handle must not outlive its attachment.
void Database::ReleaseDependents() {
  std::vector<Statement*> statements;
  std::vector<Transaction*> transactions;
  {
    std::lock_guard<std::mutex> lock(dependents_mutex_);
    statements.assign(statements_.begin(), statements_.end());
    transactions.assign(transactions_.begin(), transactions_.end());
  }
  // Both drop their handles even when the engine reports a failure.
  for (Statement* statement : statements) {
    try {
      statement->Unprepare();
    } catch (const std::exception&) {
    }
  }
  for (Transaction* transaction : transactions) {
    try {
      transaction->Rollback();
    } catch (const std::exception&) {
    }
  }
}

int32_t Database::PageSize() const {
  if (!Connected()) throw kt::Exception("Database is not connected");
  const unsigned char items[] = {isc_info_page_size, isc_info_end};
  unsigned char answer[32] = {};
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    attachment_->getInfo(status, sizeof items, items, sizeof answer, answer);
  });
  if (answer[0] != isc_info_page_size) throw kt::Exception("Page size not reported");
  const short length = static_cast<short>(isc_vax_integer(reinterpret_cast<const char*>(answer + 1), 2));
  return isc_vax_integer(reinterpret_cast<const char*>(answer + 3), length);
}

void Database::RegisterTransaction(Transaction* transaction) {
  std::lock_guard<std::mutex> lock(dependents_mutex_);
  transactions_.insert(transaction);
}

void Database::UnregisterTransaction(Transaction* transaction) {
  std::lock_guard<std::mutex> lock(dependents_mutex_);
  transactions_.erase(transaction);
}

void Database::RegisterStatement(Statement* statement) {
  std::lock_guard<std::mutex> lock(dependents_mutex_);
  statements_.insert(statement);
}

void Database::UnregisterStatement(Statement* statement) {
  std::lock_guard<std::mutex> lock(dependents_mutex_);
  statements_.erase(statement);
}

}  // namespace tidewell::db
