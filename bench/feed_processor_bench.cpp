// SPDX-License-Identifier: MIT
// Items per second of an RSS document of 200 items stored as a new feed
// (articles, enclosures, categories, links, feed row, one transaction),
// beside the reference of only repairing, parsing and walking the same
// document, which every run pays as well.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include <pugixml.hpp>

#include "bench/firebird_scratch.h"
#include "engine/db/tidewell_compability.h"
#include "engine/db/tidewell_db_helper.h"
#include "engine/db/tidewell_tables.h"
#include "engine/feeds/tidewell_feed_document.h"
#include "engine/feeds/tidewell_feed_processor.h"
#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/net/tidewell_trd_job_prop_class.h"

namespace {

using namespace tidewell;

constexpr int kItems = 200;

bench_support::ScratchCleanup scratch_cleanup;

std::string Document() {
  std::string body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Bench</title>";
  for (int i = 0; i < kItems; ++i) {
    const std::string n = std::to_string(i);
    body += "<item><guid>item-" + n + "</guid><title>Item " + n + "</title><link>http://bench.example/" + n +
            "</link><description>&lt;p&gt;Text of item " + n + " with a &lt;a href=\"/more/" + n +
            "\"&gt;link&lt;/a&gt;&lt;/p&gt;</description><category>cat " + std::to_string(i % 10) +
            "</category><pubDate>Fri, 05 Jan 2024 10:00:00 GMT</pubDate><enclosure url=\"http://bench.example/" + n +
            ".mp3\" type=\"audio/mpeg\" length=\"100\"/></item>";
  }
  return body + "</channel></rss>";
}

struct Worker {
  Worker() {
    connection.SetDBFileName(bench_support::NewDatabasePath("feeds"));
    connection.SetForcedWrites(false);
    connection.CreateDatabase(16384);
    TtidewellGenerateTables(&connection).CreateMissingTables();
    transaction.SetDatabase(&connection);
    query.SetTransaction(&transaction);
    c.connection = &connection;
    c.transaction = &transaction;
    c.query = &query;
    c.dbHelper = &helper;
    c.defaultArchiveSize = &archive;
    c.itemId = &itemId;
    c.url = &url;
    c.contentType = &contentType;
    c.userName = &userName;
    c.password = &password;
    c.commentFeed = &commentFeed;
    c.feedTitle = &feedTitle;
    c.items = &items;
    c.feedOperation = &operation;
    c.deletedItems = &deleted;
    c.errorCategory = &category;
    c.errorText = &errorText;
    c.articleIds = &ids;
    c.articleIdCount = &idCount;
    c.articleKeys = &keys;
    c.commentFeedId = &commentFeedId;
    c.parentArticleId = &parentArticleId;
    c.xmlBase = &xmlBase;
    c.whitespaceSetting = &whitespace;
    c.reencode = &reencode;
  }

  TDbConnWrapper connection;
  TTranWrapper transaction;
  TQueryWrapper query;
  TtidewellDbHelper helper;
  int32_t archive = 0, itemId = 0, items = 0, deleted = 0, idCount = 0, commentFeedId = 0, parentArticleId = 0;
  std::string url = "http://bench.example/rss", contentType, userName, password, errorText, xmlBase;
  bool commentFeed = false, reencode = false;
  std::u16string feedTitle;
  TFeedOpType operation = TFeedOpType::cInsert;
  TErrorCategory category = TErrorCategory::noErrors;
  TDynIntArray ids;
  std::vector<std::string> keys;
  int16_t whitespace = -1;
  TtidewellFeedContext c;
};

void BM_NewRssFeedStored(benchmark::State& state) {
  const std::string body = Document();
  Worker worker;
  TtidewellFeedProcessor processor;
  for (auto _ : state) {
    worker.itemId = 0;
    worker.idCount = 0;
    worker.ids.assign(255, 0);
    TtidewellTrdJobPropClass job(worker.url, nullptr, u"", TQueueJobTypes::CfeedOperation);
    job.httpCode = 200;
    job.Stream()->Write(body.data(), static_cast<int64_t>(body.size()));
    processor.ParseFeedForInsert(worker.c, job);
    if (worker.items != kItems) state.SkipWithError(worker.errorText.c_str());
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_NewRssFeedStored)->Unit(benchmark::kMillisecond);

void BM_ReferenceParseAndWalk(benchmark::State& state) {
  const std::string body = Document();
  for (auto _ : state) {
    pugi::xml_document document;
    bool refused = false;
    ParseXmlBody(FixXmlProlog(body), document, refused);
    std::u16string all;
    for (pugi::xml_node item : document.document_element().first_child().children("item"))
      all += NodeToMarkup(item, false, false, {});
    benchmark::DoNotOptimize(all);
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ReferenceParseAndWalk)->Unit(benchmark::kMillisecond);

}  // namespace
