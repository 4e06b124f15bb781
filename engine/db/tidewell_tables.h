// SPDX-License-Identifier: MIT
// The schema generator: creates the tables missing from a database, each
// with its id generator, trigger and indexes, then checks the recorded
// schema version and brings an older schema up to the current one.
//
// Runs on the calling thread before any worker uses the database. Failures
// of the database arrive as EFirebirdError; tables committed before a failure
// stay. A database recording a newer schema than this program knows is left
// untouched and refused with kt::Exception naming both versions.
//
// Upgrades never half-fail: each step runs in a transaction of its own with
// the version it reaches, checks what exists before changing it (so it can
// run again), and a failing statement rolls its step back and is raised; the
// database then records the last version whose steps all completed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"

namespace tidewell {

// For the tests that cut a first start short at a chosen step: called with
// the count of tables made before, once before and once after each table's
// commit. Set before any schema is made; empty by default.
using TSchemaStepHook = std::function<void(int tablesBefore, bool committed)>;
void SetSchemaStepHook(TSchemaStepHook hook);

class TtidewellGenerateTables {
 public:
  // Takes a pooled transaction (on the connection) and statement, and reads
  // the tables that exist.
  explicit TtidewellGenerateTables(TDbConnWrapper* database);
  ~TtidewellGenerateTables();
  TtidewellGenerateTables(const TtidewellGenerateTables&) = delete;
  TtidewellGenerateTables& operator=(const TtidewellGenerateTables&) = delete;

  // Creates each missing table in its own transaction, then CheckVersion.
  void CreateMissingTables();
  // Appends the upper-cased names of the database's user tables to list;
  // returns how many there are.
  int ListTables(std::vector<std::string>& list);
  void CreateIdGenerator(const std::string& table, const std::string& column);
  // table may carry the descending marker "#DINDX"; a failing "DROP INDEX"
  // of the same name before is ignored.
  void CreateIndex(const std::string& table, const std::string& columns, const std::string& explicitName,
                   bool unique, const std::string& suffix);
  void DeclareUdfs();
  void CreateKeywordTriggers(bool alter);
  // Records the version when missing and applies the upgrade steps the
  // recorded version needs; then replaces external declarations of the
  // text-search functions by the stored functions.
  void CheckVersion();

  // The recorded version found by the last CheckVersion: 0 when none was
  // readable.
  int FoundVersion() const { return found_version_; }
  // The upgrade steps the last CheckVersion applied, in order.
  const std::vector<int>& AppliedSteps() const { return applied_steps_; }

 private:
  void Run(const std::string& sql, bool isSelect = false);
  // Runs step, ignoring its failure.
  void Guarded(const std::function<void()>& step);
  void CreateTable(const struct TableDefinition& table);
  int ReadRecordedVersion(bool& rowFound, bool& readable);
  std::vector<std::string> ColumnNames(const std::string& table);
  void AddColumnWhenMissing(const std::string& table, const std::string& column, const std::string& addition);
  void ApplyUpgradeSteps(int version);
  void RollbackQuietly();
  void InOwnTransaction(const std::function<void()>& work);
  void WriteVersion(int version, bool insert);
  // The first column of the first row of sql, with names bound upper-cased.
  int64_t CountOf(const std::string& sql, const std::vector<std::string>& names);
  bool ColumnExists(const std::string& table, const std::string& column);
  bool IndexExists(const std::string& name);
  bool TriggerExists(const std::string& name);
  int64_t ColumnCharacters(const std::string& table, const std::string& column);

  struct UpgradeStep {
    int target;
    std::function<void()> run;
  };
  std::vector<UpgradeStep> UpgradeSteps();
  struct Widening {
    const char* table;
    const char* column;
    int characters;
    const char* sql;
  };
  void WidenColumn(const Widening& widening);
  void AddColumn(const std::string& table, const std::string& column, const std::string& sql);
  void CreateIndexOnce(const std::string& name, const std::string& sql);
  void EnsureKeywordTriggers(const Widening& widening);
  void EnsureDescendingCreatedIndex();
  void EnsureParentFeedColumn();
  void EnsureCurrentKeywordTriggers();
  void ReplaceExternalTextSearchFunctions();

  TDbConnWrapper* database_;
  TTranWrapper* transaction_;
  TQueryWrapper* query_;
  std::vector<std::string> existing_tables_;
  int created_tables_ = 0;
  int found_version_ = 0;
  std::vector<int> applied_steps_;
};

}  // namespace tidewell
