// SPDX-License-Identifier: MIT
// Building the whole schema on a new database through the schema generator,
// against isql-fb running the same statements from a script.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>

#include "bench/firebird_scratch.h"
#include "engine/db/tidewell_schema_texts.h"
#include "engine/db/tidewell_tables.h"

namespace {

using bench_support::NewDatabasePath;
using tidewell::TDbConnWrapper;

bench_support::ScratchCleanup scratch_cleanup;
constexpr int32_t kPageSize = 16384;

std::unique_ptr<TDbConnWrapper> CreateDatabase(const std::string& path) {
  auto connection = std::make_unique<TDbConnWrapper>();
  connection->SetDBFileName(path);
  connection->SetForcedWrites(false);
  connection->CreateDatabase(kPageSize);
  return connection;
}

// The generator's statements as one isql-fb script, a commit per table.
std::string WriteSchemaScript(const std::string& database) {
  using namespace tidewell;
  const std::string path = (bench_support::ScratchFolder() / "schema.sql").string();
  std::ofstream script(path);
  script << "create database '" << database << "' user 'SYSDBA' page_size " << kPageSize
         << " default character set UTF8;\nset autoddl off;\nset term ^ ;\n";
  for (const TableDefinition& table : SchemaTables()) {
    script << CreateTableSql(table) << "^\n";
    if (*table.generatedColumn != '\0')
      script << CreateGeneratorSql(table.name) << "^\n" << CreateIdTriggerSql(table.name, table.generatedColumn) << "^\n";
    for (const IndexDefinition& index : SchemaIndexes())
      if (std::string(index.table) == table.name)
        script << CreateIndexSql(std::string(index.table) + (index.descending ? kDescendingIndexMarker : ""),
                                 index.columns, index.name, index.unique, "")
               << "^\n";
    if (std::string(table.name) == "Article_KeyWords")
      script << KeywordCacheTriggerSql(false) << "^\n" << KeywordDeleteTriggerSql(false) << "^\n";
    if (std::string(table.name) == "Feeds")
      for (const std::string& function : TextSearchFunctionSql()) script << function << "^\n";
    script << "commit^\n";
  }
  script << "insert into Variables(type_,variableName_,value_) values('dbVerChk','dbtableVer','1027')^\ncommit^\n";
  return path;
}

void BM_SchemaGenerator(benchmark::State& state) {
  for (auto _ : state) {
    auto connection = CreateDatabase(NewDatabasePath("schema"));
    tidewell::TtidewellGenerateTables generator(connection.get());
    generator.CreateMissingTables();
  }
}

void BM_IsqlSchemaScript(benchmark::State& state) {
  if (!bench_support::IsqlAvailable()) return state.SkipWithError("isql-fb not installed");
  for (auto _ : state) {
    const std::string database = NewDatabasePath("isqlschema");
    const std::string script = WriteSchemaScript(database);
    const std::string command = "isql-fb -q -i '" + script + "' > /dev/null 2>&1";
    if (std::system(command.c_str()) != 0) state.SkipWithError("isql-fb failed");
  }
}

BENCHMARK(BM_SchemaGenerator)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_IsqlSchemaScript)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
