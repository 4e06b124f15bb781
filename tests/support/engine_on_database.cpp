// SPDX-License-Identifier: MIT
#include "support/engine_on_database.h"

#include "support/firebird_test_server.h"

namespace tidewell::testing {

EngineOnDatabase::EngineOnDatabase(TtidewellOptions options) : EngineOnDatabase(std::move(options), false) {}

EngineOnDatabase::EngineOnDatabase(TtidewellOptions options, bool onServer) {
  constexpr int32_t kPageSize = 16384;
  database_ = onServer ? std::make_unique<testing_support::FirebirdTestDatabase>(
                             kPageSize, testing_support::FirebirdTestServer::Shared())
                       : std::make_unique<testing_support::FirebirdTestDatabase>(kPageSize);
  engine_ = std::make_unique<Ttidewell>(std::move(options));
  engine_->SetDbLoginname(database_->User());
  engine_->SetDbPassword(database_->Password());
  engine_->SetDbFilePath(database_->ConnectionName());
  engine_->SetConnected(true);
  std::string text;
  engine_->CreateTables(text);
}

void EngineOnDatabase::Execute(const std::string& sql) {
  Run(sql, [](TQueryWrapper&) {});
}

int64_t EngineOnDatabase::QueryInt64(const std::string& sql) {
  int64_t value = 0;
  Run(sql, [&](TQueryWrapper& query) {
    if (!query.Eof() && !query.Fields(0).IsNull()) value = query.Fields(0).AsInt64();
  });
  return value;
}

std::string EngineOnDatabase::QueryText(const std::string& sql) {
  std::string value;
  Run(sql, [&](TQueryWrapper& query) {
    if (!query.Eof() && !query.Fields(0).IsNull()) value = query.Fields(0).AsString();
  });
  return value;
}

void EngineOnDatabase::Run(const std::string& sql, const std::function<void(TQueryWrapper&)>& read) {
  TTranWrapper transaction(&engine_->MainConnection());
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  transaction.StartTransaction();
  query.SQL.Add(sql);
  query.ExecQuery();
  read(query);
  query.Close();
  transaction.Commit();
}

}  // namespace tidewell::testing
