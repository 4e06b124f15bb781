// SPDX-License-Identifier: MIT
// What next-update scheduling needs of the database: a transaction of its
// own and one statement at a time. The feed worker provides it over its own
// transaction and statement; the SQL texts stay with the scheduler.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/tidewell_struct.h"

namespace tidewell {

class TtidewellScheduleStore {
 public:
  using SqlLines = std::vector<std::string>;

  virtual ~TtidewellScheduleStore() = default;

  virtual void StartTransaction() = 0;
  virtual void Commit() = 0;
  // Rolls back when a transaction is active; otherwise does nothing.
  virtual void Rollback() = 0;

  // Each statement's text is its lines in order. Failures raise the general
  // exception with the database's message.

  // The first column of the first row as an integer (NULL reads as 0);
  // nothing when no row comes back.
  virtual std::optional<int32_t> SelectFirstInteger(const SqlLines& sql) = 0;
  // The first column of every row as a date-time; NULL as nothing.
  virtual std::vector<std::optional<TDateTime>> SelectDates(const SqlLines& sql) = 0;
  // Runs the feed-row update with its four parameters in order; a missing
  // skip value is bound as NULL.
  virtual void UpdateSchedule(const SqlLines& sql, TDateTime next, TDateTime last, std::optional<int32_t> skip,
                              int32_t feedId) = 0;
};

}  // namespace tidewell
