// SPDX-License-Identifier: MIT
// One connection (attachment) to a Firebird database.
//
// Contract:
// - DBFileName "host:path" reaches a Firebird server; a plain path opens the
//   file with the in-process engine (no server needed). The engine keeps its
//   lock files in $FIREBIRD_LOCK, read at the first call into the engine.
// - CreateDatabase makes a new file (character set, dialect and page size as
//   set; the engine rounds a page size down to a power of two) and stays
//   attached; Connect attaches to an existing file.
// - Failures of the engine raise EFirebirdError; misuse (connecting twice,
//   no file name) raises kt::Exception, and so does a lock folder without
//   room for the in-process engine's lock files (see lock_folder_room.h),
//   found before the engine is asked. The connection stays usable after a
//   failed statement.
// - Several Transaction objects may run on one connection at the same time,
//   each from its own thread. Connect/Disconnect/CreateDatabase and the
//   setters must not race with other use of the connection.
// - Disconnect (and the destructor) rolls back every transaction still
//   active on the connection and drops every statement prepared on it, so no
//   server handle outlives its attachment.
// - A lost attachment (the server went away) is made again by Reattach,
//   which Transaction::StartTransaction calls when the attachment fails it
//   for that reason: the object stays connected throughout, statements
//   prepare again on the new attachment. While the server does not answer,
//   Lost() is true and each start tries to attach again.
// - An attachment to a server gives up connecting after seconds, the whole
//   attach after kServerAttachMs (attach_call.h), and a stalled server's
//   waits are bounded (see server_waits.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "engine/db/attach_call.h"

namespace Firebird {
class IAttachment;
}

namespace tidewell::db {

class Transaction;
class Statement;
class ParameterBlock;

class Database {
 public:
  static constexpr int kDefaultPageCachePages = 256;

  Database();
  virtual ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void SetDBFileName(const std::string& name) { file_name_ = name; }
  const std::string& DBFileName() const { return file_name_; }
  // Defaults: user "SYSDBA", no password (the in-process engine checks none).
  void SetUser(const std::string& user) { user_ = user; }
  void SetPassword(const std::string& password) { password_ = password; }
  const std::string& User() const { return user_; }
  const std::string& Password() const { return password_; }
  // Default "UTF8": the connection's character set, also the default
  // character set of a created database.
  void SetCharSet(const std::string& charSet) { char_set_ = charSet; }
  const std::string& CharSet() const { return char_set_; }
  // Default 3.
  void SetSQLDialect(int dialect) { dialect_ = dialect; }
  int SQLDialect() const { return dialect_; }
  // Whether a created database writes through to disk at every commit
  // (default true; tests switch it off for speed).
  void SetForcedWrites(bool on) { forced_writes_ = on; }
  // The pages of the database's cache when this attachment is the first to
  // open the file in the process (embedded) or server; 0 leaves Firebird's
  // default (2,048). A feed pass dirties far fewer pages than 256 per
  // transaction and reads hit the system's file cache, so 256 (4 MiB at 16
  // KiB) costs no writes or measurable time and saves ~21 MiB resident.
  void SetPageCachePages(int pages) { page_cache_pages_ = pages; }
  int PageCachePages() const { return page_cache_pages_; }
  // Whether readers remove the old row versions they meet and the database
  // runs no garbage collector thread (default true), when this attachment is
  // the first to open the file. Readers remove them beside the thread too;
  // the thread only added synchronous page writes of its own beside the
  // workers' (a new 100-feed pass: ~2,250 of ~5,800).
  void SetCooperativeGarbageCollection(bool on) { cooperative_gc_ = on; }

  // REQUIRES: not connected.
  void CreateDatabase(int32_t pageSize);
  // REQUIRES: not connected.
  void Connect();
  // Does nothing when not connected. A failing detach is raised after the
  // handle has been dropped, so the object is disconnected in any case; an
  // attachment that the server lost already ends without a failure.
  void Disconnect();
  // Deletes the attached database (file and all) and ends the attachment.
  // REQUIRES: connected, and no other attachment to the database.
  void DropDatabase();
  bool Connected() const { return attachment_ != nullptr; }

  // A new attachment in place of the current one (REQUIRES: connected):
  // every transaction on the old one is rolled back and every statement
  // unprepared, failures swallowed. When the new attachment cannot be made
  // the old one stays, Lost() becomes true, and the failure is raised.
  // REQUIRES: no other thread uses the connection meanwhile.
  void Reattach();
  // Set when attaching again failed; cleared when it succeeded.
  bool Lost() const { return lost_.load(); }
  // True for the first caller after each new attachment: whoever meets a
  // lost attachment reports it once, not at every failure until the server
  // answers again.
  bool ClaimLossReport() { return !loss_reported_.exchange(true); }

  // Ends the call that waits on the attachment (from any thread): it fails
  // as a lost connection, and so does every later call on the attachment.
  // An attach under way is left too (see attach_call.h).
  void CutAttachment();
  // For a close: every later attach fails at once, as a lost connection,
  // and one under way is left.
  void RefuseAttaching();
  // How long an attach to a server may take in all (default
  // kServerAttachMs); a longer one fails as a lost connection.
  void SetAttachBoundMs(int ms) { attach_bound_ms_ = ms; }

  // The page size of the attached database, in bytes.
  int32_t PageSize() const;

  // For the layer itself: the attachment (nullptr when disconnected) and a
  // number that changes with every new attachment of this object.
  Firebird::IAttachment* Attachment() const { return attachment_; }
  uint64_t AttachmentSerial() const { return serial_; }

 private:
  friend class Transaction;
  friend class Statement;

  void AdoptAttachment(Firebird::IAttachment* attachment);
  void DropAttachment();
  Firebird::IAttachment* Attach();
  template <typename Open>
  Firebird::IAttachment* AttachBounded(const ParameterBlock& block, Open open);
  void ReleaseDependents();

  void RegisterTransaction(Transaction* transaction);
  void UnregisterTransaction(Transaction* transaction);
  void RegisterStatement(Statement* statement);
  void UnregisterStatement(Statement* statement);

  std::string file_name_;
  std::string user_ = "SYSDBA";
  std::string password_;
  std::string char_set_ = "UTF8";
  int dialect_ = 3;
  bool forced_writes_ = true;
  int page_cache_pages_ = kDefaultPageCachePages;
  bool cooperative_gc_ = true;
  // Written under cut_mutex_, read by the connection's own threads without
  // it; a cut reads it under cut_mutex_.
  Firebird::IAttachment* attachment_ = nullptr;
  std::mutex cut_mutex_;
  std::atomic<bool> closing_{false};
  std::shared_ptr<AttachCall> attaching_;  // guarded by cut_mutex_
  int attach_bound_ms_ = kServerAttachMs;
  uint64_t serial_ = 0;
  std::atomic<bool> lost_{false};
  std::atomic<bool> loss_reported_{false};

  // Active transactions and prepared statements on the attachment.
  std::mutex dependents_mutex_;
  std::set<Transaction*> transactions_;  // guarded by dependents_mutex_
  std::set<Statement*> statements_;      // guarded by dependents_mutex_
};

}  // namespace tidewell::db
