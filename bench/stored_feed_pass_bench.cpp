// SPDX-License-Identifier: MIT
// One pass of a feed that has many stored articles (no archive limit is set
// by default; a busy news feed gathers 50,000 in a year): its document of
// 100 items, unchanged but for the channel's text, is matched against every
// stored article. Counters: the pass's peak resident growth in MiB (the
// peak is reset before each pass) and the stored articles.
//
// Arguments: the stored articles, and whether the items have a guid (1) or
// are keyed by their texts (0).
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

#include "bench/feed_worker_scratch.h"
#include "bench/firebird_scratch.h"
#include "engine/db/tidewell_compability.h"
#include "engine/db/tidewell_db_helper.h"
#include "engine/db/tidewell_tables.h"
#include "engine/feeds/tidewell_feed_processor.h"
#include "engine/model/feeds.h"
#include "engine/net/tidewell_trd_job_prop_class.h"
#include "toolkit/exception.h"

namespace {

using namespace tidewell;

constexpr int kItems = 100;

bench_support::ScratchCleanup scratch_cleanup;

std::string Document(bool keyed, int pass) {
  std::string body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Busy news</title>"
                     "<description>Pass " + std::to_string(pass) + "</description>";
  for (int i = 0; i < kItems; ++i) {
    const std::string n = std::to_string(i);
    body += "<item>" + (keyed ? "<guid>item-" + n + "</guid>" : std::string()) + "<title>Item " + n +
            "</title><link>http://news.example/" + n + "</link><description>Text of item " + n +
            "</description><pubDate>Fri, 05 Jan 2024 10:00:00 GMT</pubDate><enclosure url=\"http://news.example/" +
            n + ".mp3\" type=\"audio/mpeg\" length=\"100\"/></item>";
  }
  return body + "</channel></rss>";
}

// The resident set's peak since the last reset, and now, in KiB.
long StatusKiB(const std::string& field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return 0;
}

void ResetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Worker : bench_support::FeedWorkerScratch {
  Worker() : FeedWorkerScratch("stored", "http://news.example/rss", TFeedOpType::cUpdate) {}
  void Run(const std::string& sql) {
    transaction.StartTransaction();
    query.SQL.Clear();
    query.SQL.Add(sql);
    ExecQueryTimed(&query, false);
    query.Close();
    transaction.Commit();
  }
  void Process(const std::string& body, bool insert) {
    idCount = 0;
    ids.assign(255, 0);
    category = TErrorCategory::noErrors;
    errorText.clear();
    TtidewellTrdJobPropClass job(url, nullptr, u"", TQueueJobTypes::CfeedOperation);
    job.httpCode = 200;
    job.Stream()->Write(body.data(), static_cast<int64_t>(body.size()));
    if (insert) {
      itemId = 0;
      processor.ParseFeedForInsert(c, job);
      return;
    }
    TFeeds feeds(&connection);
    feeds.Options = 5;
    feeds.LoadById(itemId, "", 0, 0);
    if (feeds.GetCount() != 1) throw kt::Exception("feed row not found");
    processor.ParseFeedForUpdate(c, *feeds.GetItem(0), job);
  }

  TtidewellFeedProcessor processor;
};

void BM_StoredFeedPass(benchmark::State& state) {
  const int64_t stored = state.range(0);
  const bool keyed = state.range(1) != 0;
  Worker worker;
  worker.Process(Document(keyed, 0), true);
  const int32_t feedId = worker.itemId;
  // Older articles, as this version stores them.
  worker.Run("execute block as declare i integer = 1; begin while (i <= " + std::to_string(stored - kItems) +
             ") do begin insert into articles(id,feed_id,guid,title,link,articleMD5,created,modified,body) values(" +
             "1000000000+:i," + std::to_string(feedId) + "," +
             (keyed ? "'older-item-' || :i" : "'MD5-' || lpad(:i, 32, 'A')") +
             ",'Older item ' || :i || ' of the news','http://news.example/older/' || :i,'MD5-' || lpad(:i, 32, "
             "'B'),current_timestamp,current_timestamp,'Text of an older item'); i = i + 1; end end");
  int pass = 0;
  long peakGrowth = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string body = Document(keyed, ++pass);
    const long before = StatusKiB("VmRSS");
    ResetPeakResident();
    state.ResumeTiming();
    worker.Process(body, false);
    state.PauseTiming();
    peakGrowth = std::max(peakGrowth, StatusKiB("VmHWM") - before);
    if (worker.category != TErrorCategory::noErrors || worker.items != 0)
      state.SkipWithError(("pass failed or stored items again: " + worker.errorText).c_str());
    state.ResumeTiming();
  }
  state.counters["peak_resident_growth_MiB"] = static_cast<double>(peakGrowth) / 1024.0;
  state.counters["stored_articles"] = static_cast<double>(stored);
}
BENCHMARK(BM_StoredFeedPass)
    ->Args({50000, 1})
    ->Args({50000, 0})
    ->Args({100, 1})
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
