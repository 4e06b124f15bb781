// SPDX-License-Identifier: MIT
// The data model's hot paths: loading the 10,000 articles of one feed (every
// column, and the page the feed processors read), against a plain statement
// reading the same columns; and deleting 1,000 articles with their
// enclosures, keywords and links. Figures are articles per second.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/firebird_scratch.h"
#include "engine/db/tidewell_tables.h"
#include "engine/model/articles.h"

namespace {

using namespace tidewell;

bench_support::ScratchCleanup scratch_cleanup;
constexpr int kArticles = 10000;
constexpr int kDeleted = 1000;

void Execute(TDbConnWrapper& connection, const std::string& sql) {
  TTranWrapper transaction(&connection);
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add(sql);
  query.ExecQuery();
  transaction.Commit();
}

// Articles of feed 1 with a body, two enclosures, a keyword and a link each.
void AddArticles(TDbConnWrapper& connection, int count, int first) {
  Execute(connection,
          "execute block as declare i int = " + std::to_string(first) + "; declare a int; declare l int; begin "
          "while (i < " + std::to_string(first + count) + ") do begin "
          "insert into articles(feed_id,title,body,guid,link) values(1,'title '||:i,"
          "'<p>A body of some length for article '||:i||'</p>','guid'||:i,'http://example.org/'||:i) "
          "returning id into :a; "
          "insert into enclosures(article_id,url_) values(:a,'http://example.org/a'||:i||'.mp3'); "
          "insert into enclosures(article_id,url_) values(:a,'http://example.org/b'||:i||'.mp3'); "
          "insert into keywords(value_) values('k'||:i); "
          "insert into article_keywords(article_id,keyword_id) values(:a,gen_id(keywords_id_gen,0)); "
          "insert into links(link) values('http://example.org/l'||:i) returning link_id into :l; "
          "insert into articles_links(article_id,link_id) values(:a,:l); "
          "i = i + 1; end end");
}

std::unique_ptr<TDbConnWrapper> ModelDatabase(int articles) {
  auto connection = std::make_unique<TDbConnWrapper>();
  connection->SetDBFileName(bench_support::NewDatabasePath("model"));
  connection->SetForcedWrites(false);
  connection->CreateDatabase(16384);
  TtidewellGenerateTables(connection.get()).CreateMissingTables();
  AddArticles(*connection, articles, 0);
  return connection;
}

TDbConnWrapper& SharedDatabase() {
  static std::unique_ptr<TDbConnWrapper> connection = ModelDatabase(kArticles);
  return *connection;
}

void BM_LoadArticlesOfFeed(benchmark::State& state) {
  TArticles articles(&SharedDatabase(), 1);
  for (auto _ : state) {
    articles.Load("", 0);
    benchmark::DoNotOptimize(articles.GetCount());
  }
  state.SetItemsProcessed(state.iterations() * kArticles);
}
BENCHMARK(BM_LoadArticlesOfFeed)->Unit(benchmark::kMillisecond);

void BM_LoadArticlePageOfFeed(benchmark::State& state) {
  TArticles articles(&SharedDatabase(), 1);
  for (auto _ : state) {
    articles.LoadPage(1, TArticles::kProcessorPageMask, 0, 0, "id desc", true);
    benchmark::DoNotOptimize(articles.GetCount());
  }
  state.SetItemsProcessed(state.iterations() * kArticles);
}
BENCHMARK(BM_LoadArticlePageOfFeed)->Unit(benchmark::kMillisecond);

// The reference: one statement reading the same columns into plain values.
void BM_ReferencePlainSelect(benchmark::State& state) {
  TTranWrapper transaction(&SharedDatabase());
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("select id,guid,created,modified,title,summary,creator,link,readstatus,flag,rating,articleMD5,body,"
                "feed_id,(select count(*) from enclosures where enclosures.article_id=articles.id),keywordCache "
                "from articles where feed_id=1 and deleted=0");
  for (auto _ : state) {
    transaction.StartTransaction();
    int64_t sum = 0;
    for (query.ExecQuery(); !query.Eof(); query.Next()) {
      sum += query.Fields(0).AsInteger() + static_cast<int64_t>(query.Fields(4).AsWideString().size()) +
             static_cast<int64_t>(query.Fields(12).AsWideString().size());
    }
    query.Close();
    transaction.Commit();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kArticles);
}
BENCHMARK(BM_ReferencePlainSelect)->Unit(benchmark::kMillisecond);

void BM_DeleteArticlesWithDetails(benchmark::State& state) {
  std::unique_ptr<TDbConnWrapper> connection = ModelDatabase(0);
  int next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    AddArticles(*connection, kDeleted, next);
    next += kDeleted;
    TTranWrapper transaction(connection.get());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    state.ResumeTiming();
    TArticles::DeleteArticles(&query, {}, 1, true);
    transaction.Commit();
  }
  state.SetItemsProcessed(state.iterations() * kDeleted);
}
BENCHMARK(BM_DeleteArticlesWithDetails)->Unit(benchmark::kMillisecond);

}  // namespace
