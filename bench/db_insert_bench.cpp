// SPDX-License-Identifier: MIT
// Inserting 10,000 rows of (integer, 200-character text, timestamp) in one
// transaction through a prepared statement, and reading them back, against
// the same work done by isql-fb from a generated script (which parses every
// statement). Figures are rows per second ("items_per_second").
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/firebird_scratch.h"
#include "engine/db/tidewell_compability.h"

namespace {

using tidewell::TDbConnWrapper;
using tidewell::TQueryWrapper;
using tidewell::TTranWrapper;
using bench_support::IsqlAvailable;
using bench_support::IsqlCommand;
using bench_support::NewDatabasePath;
using bench_support::ScratchFolder;

constexpr int kRows = 10000;
constexpr double kFirstStamp = 45000.5;  // 2023-03-15 12:00

bench_support::ScratchCleanup scratch_cleanup;

std::string RowText(int row) {
  std::string text = "row " + std::to_string(row) + " ";
  while (text.size() < 200) text += static_cast<char>('a' + (text.size() + static_cast<size_t>(row)) % 26);
  return text;
}

std::unique_ptr<TDbConnWrapper> CreateDatabase(const std::string& path) {
  auto connection = std::make_unique<TDbConnWrapper>();
  connection->SetDBFileName(path);
  connection->SetForcedWrites(false);
  connection->CreateDatabase(8192);
  TTranWrapper transaction(connection.get());
  transaction.StartTransaction();
  TQueryWrapper create;
  create.SetTransaction(&transaction);
  create.SQL.Add("create table rows_(id integer, body varchar(200), stamp timestamp)");
  create.ExecQuery();
  transaction.Commit();
  return connection;
}

void InsertRows(TDbConnWrapper& connection) {
  TTranWrapper transaction(&connection);
  transaction.StartTransaction();
  TQueryWrapper insert;
  insert.SetTransaction(&transaction);
  insert.SQL.Add("insert into rows_(id, body, stamp) values(?, ?, ?)");
  insert.Prepare();
  for (int row = 0; row < kRows; ++row) {
    insert.Params(0).SetInteger(row);
    insert.Params(1).SetString(RowText(row));
    insert.Params(2).SetDateTime(kFirstStamp + row / 86400.0);
    insert.ExecQuery();
  }
  transaction.Commit();
}

int ReadRows(TDbConnWrapper& connection) {
  TTranWrapper transaction(&connection);
  transaction.StartTransaction();
  TQueryWrapper select;
  select.SetTransaction(&transaction);
  select.SQL.Add("select id, body, stamp from rows_");
  int rows = 0;
  size_t bytes = 0;
  for (select.ExecQuery(); !select.Eof(); select.Next()) {
    bytes += static_cast<size_t>(select.Fields(0).AsInteger());
    bytes += select.Fields(1).AsString().size();
    bytes += static_cast<size_t>(select.Fields(2).AsDateTime());
    ++rows;
  }
  benchmark::DoNotOptimize(bytes);
  transaction.Commit();
  return rows;
}

std::string WriteInsertScript() {
  const std::string path = (ScratchFolder() / "insert.sql").string();
  std::ofstream script(path);
  script << "set autoddl off;\n";
  for (int row = 0; row < kRows; ++row) {
    const int seconds = 12 * 3600 + row;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "2023-03-%02d %02d:%02d:%02d", 15 + seconds / 86400, (seconds / 3600) % 24,
                  (seconds / 60) % 60, seconds % 60);
    script << "insert into rows_(id, body, stamp) values(" << row << ", '" << RowText(row) << "', '" << stamp
           << "');\n";
  }
  script << "commit;\n";
  return path;
}

std::string WriteSelectScript() {
  const std::string path = (ScratchFolder() / "select.sql").string();
  std::ofstream script(path);
  script << "select id, body, stamp from rows_;\ncommit;\n";
  return path;
}

void BM_PreparedInsert(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto connection = CreateDatabase(NewDatabasePath("insert"));
    state.ResumeTiming();
    InsertRows(*connection);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_PreparedReadBack(benchmark::State& state) {
  auto connection = CreateDatabase(NewDatabasePath("read"));
  InsertRows(*connection);
  for (auto _ : state)
    if (ReadRows(*connection) != kRows) state.SkipWithError("rows missing");
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_IsqlScriptInsert(benchmark::State& state) {
  if (!IsqlAvailable()) return state.SkipWithError("isql-fb not installed");
  const std::string script = WriteInsertScript();
  for (auto _ : state) {
    state.PauseTiming();
    const std::string path = NewDatabasePath("isql");
    CreateDatabase(path)->Disconnect();
    state.ResumeTiming();
    if (std::system(IsqlCommand(path, script).c_str()) != 0) state.SkipWithError("isql-fb failed");
    state.PauseTiming();
    TDbConnWrapper check;
    check.SetDBFileName(path);
    check.Connect();
    TTranWrapper transaction(&check);
    transaction.StartTransaction();
    TQueryWrapper count;
    count.SetTransaction(&transaction);
    count.SQL.Add("select count(*) from rows_");
    count.ExecQuery();
    if (count.Fields(0).AsInteger() != kRows) state.SkipWithError("isql-fb did not insert every row");
    transaction.Commit();
    check.Disconnect();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_IsqlScriptReadBack(benchmark::State& state) {
  if (!IsqlAvailable()) return state.SkipWithError("isql-fb not installed");
  const std::string path = NewDatabasePath("isqlread");
  {
    auto connection = CreateDatabase(path);
    InsertRows(*connection);
  }
  const std::string script = WriteSelectScript();
  for (auto _ : state)
    if (std::system(IsqlCommand(path, script).c_str()) != 0) state.SkipWithError("isql-fb failed");
  state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(BM_PreparedInsert)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_IsqlScriptInsert)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PreparedReadBack)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_IsqlScriptReadBack)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace
