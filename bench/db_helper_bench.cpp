// SPDX-License-Identifier: MIT
// Articles per second through the insert helper: 10,000 articles with three
// keywords each (out of 300) in one transaction, against the same database
// work done with statements prepared once (the helper's statement keeps the
// prepared form of each text it ran, so the two should be level).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/firebird_scratch.h"
#include "engine/db/tidewell_compability.h"
#include "engine/db/tidewell_db_helper.h"
#include "engine/db/tidewell_tables.h"
#include "toolkit/wide_string.h"

namespace {

using tidewell::TDbConnWrapper;
using tidewell::TQueryWrapper;
using tidewell::TTranWrapper;

constexpr int kArticles = 10000;
constexpr int kKeywordPool = 300;
constexpr int32_t kPageSize = 16384;
constexpr int32_t kFeedId = 1;

bench_support::ScratchCleanup scratch_cleanup;

std::unique_ptr<TDbConnWrapper> CreateDatabase() {
  auto connection = std::make_unique<TDbConnWrapper>();
  connection->SetDBFileName(bench_support::NewDatabasePath("helper"));
  connection->SetForcedWrites(false);
  connection->CreateDatabase(kPageSize);
  tidewell::TtidewellGenerateTables(connection.get()).CreateMissingTables();
  return connection;
}

std::string Keyword(int article, int which) {
  return "keyword " + std::to_string((article + which * (kKeywordPool / 3)) % kKeywordPool);
}

void InsertThroughHelper(TDbConnWrapper& connection) {
  tidewell::TtidewellDbHelper helper;
  TTranWrapper transaction(&connection);
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  transaction.StartTransaction();
  for (int article = 0; article < kArticles; ++article) {
    const int32_t id = helper.InsertArticle(&query, kFeedId);
    for (int which = 0; which < 3; ++which)
      helper.AddArticleKeyword(&query, id, kt::Utf8ToWide(Keyword(article, which)), false);
  }
  transaction.Commit();
}

// The reference: the same statements, each prepared once.
class PreparedInserts {
 public:
  explicit PreparedInserts(TTranWrapper* transaction) {
    Use(article_, transaction, "insert into Articles(feed_id,created) values(?,?) returning id");
    Use(find_, transaction, "select id from keywords where value_  collate UTF8 =?");
    Use(keyword_, transaction,
        "insert into keywords(parentKeyword_id,value_,isuserdefined) values(0,substring(? from 1 for 512),0) "
        "returning id");
    Use(count_, transaction,
        "select count(article_id) as cnt from  Article_keyWords where article_id=? and keyword_id=?");
    Use(attach_, transaction, "insert into Article_KeyWords(article_id,keyword_id) values(?,?)");
  }

  int32_t InsertArticle() {
    article_.Params(0).SetInteger(kFeedId);
    article_.Params(1).SetDateTime(46000.5);
    article_.ExecQuery();
    return article_.Fields(0).AsInteger();
  }

  void AddKeyword(int32_t article, const std::string& value) {
    const int32_t keyword = KeywordId(value);
    count_.Params(0).SetInteger(article);
    count_.Params(1).SetInteger(keyword);
    count_.ExecQuery();
    const bool attached = count_.Fields(0).AsInteger() > 0;
    count_.Close();
    if (attached) return;
    attach_.Params(0).SetInteger(article);
    attach_.Params(1).SetInteger(keyword);
    attach_.ExecQuery();
  }

 private:
  static void Use(TQueryWrapper& query, TTranWrapper* transaction, const char* sql) {
    query.SetTransaction(transaction);
    query.SQL.Add(sql);
    query.Prepare();
  }

  int32_t KeywordId(const std::string& value) {
    find_.Params(0).SetString(value);
    find_.ExecQuery();
    const int32_t found = find_.Eof() ? -1 : find_.Fields(0).AsInteger();
    find_.Close();
    if (found != -1) return found;
    keyword_.Params(0).SetString(value);
    keyword_.ExecQuery();
    return keyword_.Fields(0).AsInteger();
  }

  TQueryWrapper article_, find_, keyword_, count_, attach_;
};

void InsertThroughPreparedStatements(TDbConnWrapper& connection) {
  TTranWrapper transaction(&connection);
  transaction.StartTransaction();
  {
    PreparedInserts inserts(&transaction);
    for (int article = 0; article < kArticles; ++article) {
      const int32_t id = inserts.InsertArticle();
      for (int which = 0; which < 3; ++which) inserts.AddKeyword(id, Keyword(article, which));
    }
  }
  transaction.Commit();
}

template <void (*Insert)(TDbConnWrapper&)>
void BM_Articles(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto connection = CreateDatabase();
    state.ResumeTiming();
    Insert(*connection);
  }
  state.SetItemsProcessed(state.iterations() * kArticles);
}

BENCHMARK(BM_Articles<InsertThroughHelper>)
    ->Name("BM_InsertArticleWithThreeKeywords_Helper")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Articles<InsertThroughPreparedStatements>)
    ->Name("BM_InsertArticleWithThreeKeywords_PreparedOnce")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
