// SPDX-License-Identifier: MIT
// A fresh Firebird database for one test.
//
//   testing_support::FirebirdTestDatabase db;          // created and connected
//   db.Execute("create table t(id integer)");           // own transaction, committed
//   tidewell::TTranWrapper transaction(&db.Connection());
//   transaction.StartTransaction();
//   ...
//   EXPECT_EQ(db.QueryInt64("select count(*) from t"), 0);
//
// The file lives in its own temporary folder (removed with the object) and is
// created with character set "UTF8", dialect 3 and forced writes off. The
// process's engine keeps its locks in a private folder (FIREBIRD_LOCK), so
// test processes run in parallel; UsePrivateFirebirdLockFolder() sets it and
// must run before the first call into Firebird: the constructor does it, a
// test that touches Firebird without this class calls it first.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/db/tidewell_compability.h"
#include "support/temp_folder.h"

namespace testing_support {

// Points FIREBIRD_LOCK at a folder of this process, once per process. The
// folder is removed, and the engine shut down, when the process exits.
void UsePrivateFirebirdLockFolder();

// Firebird loads its embedded engine as a plugin and unloads it at shut-down.
// Held open, it stays for the whole process, so the sanitizers can still
// match their suppressions (and the leaks they report at exit) against it.
void KeepEmbeddedEngineLoaded();

// Runs sql on connection in a transaction of its own, hands the executed
// statement (on its first row, for a select) to read, and commits.
void RunStatement(tidewell::TDbConnWrapper& connection, const std::string& sql,
                  const std::function<void(tidewell::TQueryWrapper& statement)>& read = {},
                  const std::function<void(tidewell::TQueryWrapper& statement)>& bind = {});

class FirebirdTestServer;

class FirebirdTestDatabase {
 public:
  explicit FirebirdTestDatabase(int32_t pageSize = 8192);
  // The database is made, and its connections reach it, through server.
  FirebirdTestDatabase(int32_t pageSize, const FirebirdTestServer& server);
  ~FirebirdTestDatabase();
  FirebirdTestDatabase(const FirebirdTestDatabase&) = delete;
  FirebirdTestDatabase& operator=(const FirebirdTestDatabase&) = delete;

  // The connection made by the constructor.
  tidewell::TDbConnWrapper& Connection() { return *connection_; }
  // The database file's path.
  const std::string& Path() const { return path_; }
  // The name connections use: the path, or the server's name for it.
  const std::string& ConnectionName() const { return name_; }
  const std::string& User() const { return user_; }
  const std::string& Password() const { return password_; }
  // The folder of the file, for further files of the test.
  const TempFolder& Folder() const { return folder_; }

  // A further connection to the same file, connected.
  std::unique_ptr<tidewell::TDbConnWrapper> Connect() const;
  // Runs one statement in a transaction of its own and commits it.
  void Execute(const std::string& sql);
  // The first column of the first row of a select (0 when no row or NULL),
  // read in a transaction of its own.
  int64_t QueryInt64(const std::string& sql);

 private:
  void Create(int32_t pageSize);

  TempFolder folder_;
  std::string path_;
  std::string name_;
  std::string user_ = "SYSDBA";
  std::string password_;
  std::unique_ptr<tidewell::TDbConnWrapper> connection_;
};

}  // namespace testing_support
