// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_db_schedule_store.h"

namespace tidewell {

namespace {

// One run of the borrowed statement. The statement is closed and emptied
// when the run ends, also by a failure, so that the worker's next use finds
// no stale text or open result set.
class StatementRun {
 public:
  StatementRun(TQueryWrapper& query, const TtidewellScheduleStore::SqlLines& sql) : query_(query) {
    Reset();
    for (const std::string& line : sql) query_.SQL.Add(line);
  }
  ~StatementRun() { Reset(); }
  StatementRun(const StatementRun&) = delete;
  StatementRun& operator=(const StatementRun&) = delete;

 private:
  void Reset() {
    SafeCloseQuery(&query_);
    query_.SQL.Clear();
  }

  TQueryWrapper& query_;
};

}  // namespace

TtidewellDbScheduleStore::TtidewellDbScheduleStore(TTranWrapper& transaction, TQueryWrapper& query)
    : transaction_(transaction), query_(query) {}

void TtidewellDbScheduleStore::StartTransaction() { transaction_.StartTransaction(); }

void TtidewellDbScheduleStore::Commit() { transaction_.Commit(); }

void TtidewellDbScheduleStore::Rollback() {
  if (transaction_.InTransaction()) transaction_.Rollback();
}

std::optional<int32_t> TtidewellDbScheduleStore::SelectFirstInteger(const SqlLines& sql) {
  StatementRun run(query_, sql);
  ExecQueryTimed(&query_, true);
  if (query_.Eof()) return std::nullopt;
  return query_.Fields(0).IsNull() ? 0 : query_.Fields(0).AsInteger();
}

std::vector<std::optional<TDateTime>> TtidewellDbScheduleStore::SelectDates(const SqlLines& sql) {
  StatementRun run(query_, sql);
  ExecQueryTimed(&query_, true);
  std::vector<std::optional<TDateTime>> dates;
  for (; !query_.Eof(); query_.Next()) {
    const auto& field = query_.Fields(0);
    dates.push_back(field.IsNull() ? std::nullopt : std::optional<TDateTime>(field.AsDateTime()));
  }
  return dates;
}

void TtidewellDbScheduleStore::UpdateSchedule(const SqlLines& sql, TDateTime next, TDateTime last,
                                              std::optional<int32_t> skip, int32_t feedId) {
  StatementRun run(query_, sql);
  query_.Params(0).SetDateTime(next);
  query_.Params(1).SetDateTime(last);
  if (skip)
    query_.Params(2).SetInteger(*skip);
  else
    query_.Params(2).SetNull();
  query_.Params(3).SetInteger(feedId);
  ExecQueryTimed(&query_, false);
}

}  // namespace tidewell
