// SPDX-License-Identifier: MIT
// Articles per second through the insert helper, with the embedded engine
// and through a Firebird server on this machine (a server process of the
// benchmark's own, as the tests run it), in the same run: 10,000 articles in
// one transaction on a database with the engine's schema.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/firebird_scratch.h"
#include "engine/db/tidewell_compability.h"
#include "engine/db/tidewell_db_helper.h"
#include "engine/db/tidewell_tables.h"
#include "support/firebird_test_server.h"

namespace {

using tidewell::TDbConnWrapper;
using tidewell::TQueryWrapper;
using tidewell::TTranWrapper;

constexpr int kArticles = 10000;
constexpr int32_t kPageSize = 16384;
constexpr int32_t kFeedId = 1;

bench_support::ScratchCleanup scratch_cleanup;

std::unique_ptr<TDbConnWrapper> CreateDatabase(bool throughServer) {
  auto connection = std::make_unique<TDbConnWrapper>();
  const std::string path = bench_support::NewDatabasePath("server-insert");
  if (throughServer) {
    auto& server = testing_support::FirebirdTestServer::Shared();
    connection->SetDBFileName(server.DatabaseName(path));
    connection->SetUser(server.User());
    connection->SetPassword(server.Password());
  } else {
    connection->SetDBFileName(path);
  }
  connection->SetForcedWrites(false);
  connection->CreateDatabase(kPageSize);
  tidewell::TtidewellGenerateTables(connection.get()).CreateMissingTables();
  return connection;
}

void InsertArticles(TDbConnWrapper& connection) {
  tidewell::TtidewellDbHelper helper;
  TTranWrapper transaction(&connection);
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  transaction.StartTransaction();
  for (int article = 0; article < kArticles; ++article) helper.InsertArticle(&query, kFeedId);
  transaction.Commit();
}

void BM_HelperArticleInserts(benchmark::State& state) {
  bench_support::ScratchFolder();
  const bool throughServer = state.range(0) != 0;
  state.SetLabel(throughServer ? "server 127.0.0.1" : "embedded");
  for (auto _ : state) {
    state.PauseTiming();
    auto connection = CreateDatabase(throughServer);
    state.ResumeTiming();
    InsertArticles(*connection);
  }
  state.SetItemsProcessed(state.iterations() * kArticles);
}

BENCHMARK(BM_HelperArticleInserts)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
