// SPDX-License-Identifier: MIT
// Large subscribed OPML lists: the engine's own worker fetches a generated
// list of N feeds from a local server into a fresh database (first
// subscription), then the same list with one more feed (a merge).
//
//   opml_list_bench --benchmark_filter='Subscribe/1000'
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine/tidewell.h"
#include "platform/main_loop.h"
#include "support/firebird_test_database.h"
#include "support/test_http_server.h"

namespace {

using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

constexpr int kWaitMs = 3600 * 1000;

std::string GeneratedList(int entries) {
  std::string body = "<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>Big list</title></head><body>";
  for (int i = 0; i < entries; ++i) {
    const std::string n = std::to_string(i);
    body += "<outline text=\"Show " + n + "\" type=\"rss\" xmlUrl=\"http://feeds.example.org/show/" + n +
            ".xml\"/>";
  }
  return body + "</body></opml>";
}

class ListOnEngine {
 public:
  ListOnEngine() : database_(16384) {
    engine_ = std::make_unique<tidewell::Ttidewell>();
    engine_->SetDbLoginname(database_.User());
    engine_->SetDbPassword(database_.Password());
    engine_->SetDbFilePath(database_.ConnectionName());
    engine_->SetConnected(true);
    std::string text;
    engine_->CreateTables(text);
    engine_->GetFolders()->SaveAll();
    engine_->SetOnStopWorking([this](uint32_t, int32_t, const std::string&, int32_t, tidewell::TQueueJobTypes kind) {
      if (kind == tidewell::TQueueJobTypes::CgetOpmlData) ++jobsEnded_;
    });
    engine_->SetOnFeedProcessed([this](uint32_t, int32_t, const std::string&, int32_t, const tidewell::WideString&,
                                       int32_t, tidewell::TFeedOpType, void*, int32_t, int32_t,
                                       tidewell::TErrorCategory, const std::string& errMsg,
                                       const tidewell::TDynIntArray&) { error_ = errMsg; });
    server_.Handle("/list.opml", [this](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "text/xml"}}, body_));
    });
  }

  // Seconds until the job for the list ended; the list is a new
  // subscription when listId is 0.
  double Fetch(int entries, int32_t listId) {
    body_ = GeneratedList(entries);
    const int before = jobsEnded_;
    const auto start = std::chrono::steady_clock::now();
    if (listId == 0) {
      engine_->Worker(0)->AddJob(server_.Url("/list.opml"), 0, tidewell::TQueueJobTypes::CgetOpmlData, u"");
    } else {
      engine_->UpdateFeed(listId);
    }
    platform::MainThread().RunUntil([&] { return jobsEnded_ > before; }, kWaitMs);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  int64_t Count(const std::string& sql) { return database_.QueryInt64(sql); }
  const std::string& Error() const { return error_; }

 private:
  testing_support::FirebirdTestDatabase database_;
  TestHttpServer server_;
  std::unique_ptr<tidewell::Ttidewell> engine_;
  std::string body_;
  std::string error_;
  int jobsEnded_ = 0;
};

void Subscribe(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  for (auto _ : state) {
    ListOnEngine list;
    const double seconds = list.Fetch(entries, 0);
    state.SetIterationTime(seconds);
    if (list.Count("select count(*) from feeds where type_='RSS'") != entries) state.SkipWithError("feeds missing");
  }
}

void MergeOneMore(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    ListOnEngine list;
    list.Fetch(entries, 0);
    const auto listId = static_cast<int32_t>(list.Count("select feed_id from feeds where type_='OPML'"));
    state.ResumeTiming();
    const double seconds = list.Fetch(entries + 1, listId);
    state.SetIterationTime(seconds);
    if (list.Count("select count(*) from feeds where type_='RSS'") != entries + 1) state.SkipWithError("feed missing");
  }
}

}  // namespace

BENCHMARK(Subscribe)->Arg(1000)->Arg(10000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(MergeOneMore)->Arg(1000)->Arg(10000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
