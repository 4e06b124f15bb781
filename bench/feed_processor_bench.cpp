// SPDX-License-Identifier: MIT
// Items per second of an RSS document of 200 items stored as a new feed
// (articles, enclosures, categories, links, feed row, one transaction),
// beside the reference of only repairing, parsing and walking the same
// document, which every run pays as well.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <pugixml.hpp>

#include "bench/feed_worker_scratch.h"
#include "bench/firebird_scratch.h"
#include "bench/page_writes.h"
#include "engine/db/activity.h"
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

// The statements, prepares and commits the stored documents cost, per
// article and per document.
void ReportDatabaseWork(benchmark::State& state, const db::Activity& before, int32_t itemsPerDocument) {
  const db::Activity work = db::CurrentActivity() - before;
  const double documents = static_cast<double>(state.iterations());
  const double articles = documents * itemsPerDocument;
  state.counters["executes/article"] = static_cast<double>(work.executes) / articles;
  state.counters["prepares/article"] = static_cast<double>(work.prepares) / articles;
  state.counters["commits/feed"] = static_cast<double>(work.commits) / documents;
}

// A worker storing new feeds on a scratch database.
struct Worker : bench_support::FeedWorkerScratch {
  explicit Worker(bool forcedWrites = false)
      : FeedWorkerScratch("feeds", "http://bench.example/rss", TFeedOpType::cInsert, forcedWrites) {}
};

void BM_NewRssFeedStored(benchmark::State& state) {
  const std::string body = Document();
  Worker worker;
  TtidewellFeedProcessor processor;
  const db::Activity before = db::CurrentActivity();
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
  ReportDatabaseWork(state, before, kItems);
}
BENCHMARK(BM_NewRssFeedStored)->Unit(benchmark::kMillisecond);

// The document in TW_BENCH_FEED_FILE stored as a new feed with its commit on
// a database with forced writes on, as a created one has them (bench/peers.sh
// times python's feedparser on the same file).
void BM_NewRssFeedFromFileStoredForcedWrites(benchmark::State& state) {
  const char* path = std::getenv("TW_BENCH_FEED_FILE");
  std::ifstream in(path != nullptr ? path : "", std::ios::binary);
  if (!in) {
    state.SkipWithError("TW_BENCH_FEED_FILE names no file");
    return;
  }
  const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int32_t itemCount = 0;
  for (size_t at = body.find("<item>"); at != std::string::npos; at = body.find("<item>", at + 1)) ++itemCount;
  Worker worker(true);
  TtidewellFeedProcessor processor;
  int serial = 0;
  bench_support::PageWriteMeter meter(worker.connection.DBFileName(), "SYSDBA", "");
  const int64_t writesBefore = meter.PageWrites();
  const db::Activity before = db::CurrentActivity();
  for (auto _ : state) {
    state.PauseTiming();
    // Each round a new feed of its own URL with the same bytes: new articles,
    // whose links and keywords are found stored from the second round on.
    worker.url = "http://bench.example/rss" + std::to_string(++serial);
    worker.itemId = 0;
    worker.idCount = 0;
    worker.ids.assign(255, 0);
    TtidewellTrdJobPropClass job(worker.url, nullptr, u"", TQueueJobTypes::CfeedOperation);
    job.httpCode = 200;
    job.Stream()->Write(body.data(), static_cast<int64_t>(body.size()));
    state.ResumeTiming();
    processor.ParseFeedForInsert(worker.c, job);
    if (worker.items != itemCount) state.SkipWithError(worker.errorText.c_str());
  }
  state.SetItemsProcessed(state.iterations() * itemCount);
  ReportDatabaseWork(state, before, itemCount);
  // Synchronous, forced writes being on.
  state.counters["page_writes/feed"] =
      static_cast<double>(meter.PageWrites() - writesBefore) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_NewRssFeedFromFileStoredForcedWrites)->Unit(benchmark::kMillisecond);

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
