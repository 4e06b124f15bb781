// SPDX-License-Identifier: MIT
// The schedule store of a feed worker: the worker's own transaction and
// statement, which the store borrows. Each statement runs through
// ExecQueryTimed and is closed and emptied afterwards, so the statement is
// free for the worker's next use.
#pragma once

#include "engine/db/tidewell_compability.h"
#include "engine/feeds/tidewell_schedule_store.h"

namespace tidewell {

class TtidewellDbScheduleStore : public TtidewellScheduleStore {
 public:
  // REQUIRES: the statement works in the transaction, which is set on a
  // connected database. Both must outlive the store.
  TtidewellDbScheduleStore(TTranWrapper& transaction, TQueryWrapper& query);

  void StartTransaction() override;
  void Commit() override;
  void Rollback() override;
  std::optional<int32_t> SelectFirstInteger(const SqlLines& sql) override;
  std::vector<std::optional<TDateTime>> SelectDates(const SqlLines& sql) override;
  void UpdateSchedule(const SqlLines& sql, TDateTime next, TDateTime last, std::optional<int32_t> skip,
                      int32_t feedId) override;

 private:
  TTranWrapper& transaction_;
  TQueryWrapper& query_;
};

}  // namespace tidewell
