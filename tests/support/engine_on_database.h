// SPDX-License-Identifier: MIT
// An engine on a database of its own in a temporary folder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/db/tidewell_compability.h"
#include "engine/tidewell.h"
#include "support/firebird_test_database.h"
#include "support/temp_folder.h"

namespace tidewell::testing {

// An engine connected to a fresh database (made with forced writes off, for
// speed) with the tables the engine creates.
class EngineOnDatabase {
 public:
  explicit EngineOnDatabase(TtidewellOptions options = {});
  // onServer: the database is reached through the test's Firebird server.
  EngineOnDatabase(TtidewellOptions options, bool onServer);
  Ttidewell& Engine() { return *engine_; }
  const testing_support::TempFolder& Folder() const { return database_->Folder(); }
  // Runs one statement on the engine's main connection and commits it.
  void Execute(const std::string& sql);
  // The first column of the first row (0 when none or NULL).
  int64_t QueryInt64(const std::string& sql);
  // The same as text ("" when none or NULL).
  std::string QueryText(const std::string& sql);

 private:
  // Runs sql in a transaction of its own; read sees the executed query.
  void Run(const std::string& sql, const std::function<void(TQueryWrapper&)>& read);

  std::unique_ptr<testing_support::FirebirdTestDatabase> database_;
  std::unique_ptr<Ttidewell> engine_;
};

}  // namespace tidewell::testing
