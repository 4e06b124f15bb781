// SPDX-License-Identifier: MIT
// The schedule store on a real embedded Firebird database with the
// schema's Feeds and Articles tables, for tests until the engine's own
// database layer provides the worker's store. Each store creates its own
// database file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/feeds/tidewell_schedule_store.h"

namespace Firebird {
class IAttachment;
class ITransaction;
}  // namespace Firebird

namespace testing_support {

class FirebirdScheduleStore : public tidewell::TtidewellScheduleStore {
 public:
  // Creates the database file at path (a new file) with the two tables.
  explicit FirebirdScheduleStore(const std::string& path);
  ~FirebirdScheduleStore() override;
  FirebirdScheduleStore(const FirebirdScheduleStore&) = delete;
  FirebirdScheduleStore& operator=(const FirebirdScheduleStore&) = delete;

  void StartTransaction() override;
  void Commit() override;
  void Rollback() override;
  std::optional<int32_t> SelectFirstInteger(const SqlLines& sql) override;
  std::vector<std::optional<tidewell::TDateTime>> SelectDates(const SqlLines& sql) override;
  void UpdateSchedule(const SqlLines& sql, tidewell::TDateTime next, tidewell::TDateTime last,
                      std::optional<int32_t> skip, int32_t feedId) override;

  // Test set-up and checks, each in a transaction of its own.
  void AddFeed(int32_t feedId, int32_t updateInterval, const std::string& type, int32_t skipFeed = 0);
  void AddArticle(int32_t id, int32_t feedId, std::optional<tidewell::TDateTime> modified);
  struct Schedule {
    tidewell::TDateTime next = 0;
    tidewell::TDateTime last = 0;
    int32_t skipFeed = 0;
  };
  Schedule ReadSchedule(int32_t feedId);
  bool InTransaction() const { return transaction_ != nullptr; }
  // The statements run through the store's interface, oldest first.
  const std::vector<SqlLines>& Statements() const { return statements_; }

 private:
  void ExecuteAlone(const std::string& sql);
  Firebird::ITransaction* Current();

  Firebird::IAttachment* attachment_ = nullptr;
  Firebird::ITransaction* transaction_ = nullptr;
  std::vector<SqlLines> statements_;
};

}  // namespace testing_support
