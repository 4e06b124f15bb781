// SPDX-License-Identifier: MIT
// The engine's handles on the database: connection, transaction and
// statement wrappers over the access layer (engine/db/database.h,
// transaction.h, statement.h; read their contracts).
#pragma once

#include <cstdint>

#include "engine/db/database.h"
#include "engine/db/statement.h"
#include "engine/db/transaction.h"

namespace tidewell {

using db::EFirebirdError;

// The connection handle. Its creator sets character set "UTF8" and dialect 3
// (the defaults).
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

}  // namespace tidewell
