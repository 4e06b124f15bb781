// SPDX-License-Identifier: MIT
// One update pass of the engine as an application drives it: a fresh
// database (forced writes on, as a created database has them), the feeds of
// a list subscribed, every feed updated on the engine's five workers until
// each job has ended. bench/peers.sh serves the feeds and runs newsboat on
// the same list beside it.
//
// The feed list (one URL a line) comes from TW_BENCH_FEED_LIST; without it
// the benchmarks are skipped. TW_BENCH_SERVER=1 puts the database behind a
// Firebird server of the benchmark's own on 127.0.0.1 (as the tests start
// it). TW_BENCH_DATABASE names a database file that outlives the process:
// the new pass creates it there (it must not exist yet) and
// BM_UpdatePassStored opens it as an application's next start would, so
// that the unchanged pass can be timed as a process of its own. Counters: the
// pass's process CPU seconds, the process's peak resident
// size in MiB, the feeds that reported an error, the database's page writes
// (synchronous, forced writes being on) and transactions (read-only ones
// too) per feed.
//
// The pass is framed by two look-ups of the non-existent files
// /tw-bench-pass-begin and /tw-bench-pass-end, so that a tracer (strace -e
// trace=access,sendto) can count the client's round trips of the pass alone.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/firebird_scratch.h"
#include "bench/page_writes.h"
#include "engine/db/activity.h"
#include "engine/tidewell.h"
#include "toolkit/exception.h"
#include "platform/main_loop.h"
#include "support/firebird_test_server.h"

namespace {

using namespace tidewell;

constexpr int kPassTimeoutMs = 1800000;

bench_support::ScratchCleanup scratch_cleanup;

std::vector<std::string> FeedList() {
  std::vector<std::string> urls;
  const char* path = std::getenv("TW_BENCH_FEED_LIST");
  if (path == nullptr) return urls;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) urls.push_back(line);
  return urls;
}

bool ThroughServer() {
  const char* server = std::getenv("TW_BENCH_SERVER");
  return server != nullptr && std::string(server) == "1";
}

// The database that outlives the process; empty when none is asked for.
std::string KeptDatabasePath() {
  const char* path = std::getenv("TW_BENCH_DATABASE");
  return path == nullptr ? std::string() : std::string(path);
}

// A look-up a tracer sees: the frame of the measured pass.
void MarkForTracer(const char* name) { (void)::access(name, F_OK); }

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the Firebird server process so far; 0 when the database is
// embedded.
double ServerCpuSeconds() {
  if (!ThroughServer()) return 0;
  std::ifstream in("/proc/" + std::to_string(testing_support::FirebirdTestServer::Shared().Pid()) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The fields after the command name, which may hold blanks: utime and
  // stime are the 12th and 13th of them.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 13 && fields >> field; ++i)
    if (i >= 12) ticks += std::stod(field);
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The engine on a new database with the feeds subscribed, or on the kept
// database that an earlier process subscribed them in.
class SubscribedEngine {
 public:
  enum class Start { kNewDatabase, kKeptDatabase };

  SubscribedEngine(const std::vector<std::string>& urls, Start start) : engine_(TtidewellOptions{}) {
    if (start == Start::kKeptDatabase)
      OpenKept();
    else
      CreateAndSubscribe(urls);
    engine_.SetOnStopWorking([this](uint32_t, int32_t, const std::string&, int32_t, TQueueJobTypes kind) {
      if (kind == TQueueJobTypes::CfeedOperation) ++ended_;
    });
    engine_.SetOnFeedProcessed([this](uint32_t, int32_t, const std::string&, int32_t, const WideString&, int32_t items,
                                      TFeedOpType, void*, int32_t, int32_t, TErrorCategory category,
                                      const std::string&, const TDynIntArray&) {
      if (category != TErrorCategory::noErrors) ++failed_;
      articles_ += static_cast<size_t>(std::max(items, 0));
    });
  }

  void CreateAndSubscribe(const std::vector<std::string>& urls) {
    std::string fileName, error, path = KeptDatabasePath(), user = "SYSDBA", password;
    if (path.empty()) path = bench_support::NewDatabasePath("pass");
    if (ThroughServer()) {
      auto& server = testing_support::FirebirdTestServer::Shared();
      path = server.DatabaseName(path);
      user = server.User();
      password = server.Password();
      engine_.SetDbLoginname(user);
      engine_.SetDbPassword(password);
    }
    engine_.CreateDatabase(path, user, password, fileName, error);
    if (!error.empty()) throw kt::Exception(error);
    meter_ = std::make_unique<bench_support::PageWriteMeter>(fileName, user, password);
    engine_.SetConnected(true);
    std::string text;
    engine_.CreateTables(text);
    for (const std::string& url : urls) ids_.push_back(engine_.AddFeed(u"", url, u""));
  }

  // As an application starts on its database: connected, the schema checked,
  // its feeds read.
  void OpenKept() {
    const std::string path = KeptDatabasePath();
    if (path.empty()) throw kt::Exception("TW_BENCH_DATABASE names no database");
    engine_.SetDbLoginname("SYSDBA");
    engine_.SetDbFilePath(path);
    meter_ = std::make_unique<bench_support::PageWriteMeter>(path, "SYSDBA", "");
    engine_.SetConnected(true);
    std::string text;
    engine_.CreateTables(text);
    for (int32_t id : meter_->FeedIds()) ids_.push_back(id);
  }

  // Every feed updated once; false when the pass did not end in time.
  bool RunPass() {
    ended_ = 0;
    articles_ = 0;
    const int64_t writesBefore = meter_->PageWrites();
    const int64_t transactionsBefore = meter_->NextTransaction();
    MarkForTracer("/tw-bench-pass-begin");
    engine_.UpdateFeeds(ids_, false);
    const bool ended = platform::MainThread().RunUntil([this] { return ended_ >= ids_.size(); }, kPassTimeoutMs);
    MarkForTracer("/tw-bench-pass-end");
    pageWrites_ = meter_->PageWrites() - writesBefore;
    // Less the meter's own, one per reading.
    transactions_ = meter_->NextTransaction() - transactionsBefore - 2;
    return ended;
  }
  int64_t PageWrites() const { return pageWrites_; }
  int64_t Transactions() const { return transactions_; }
  size_t Failed() const { return failed_; }
  size_t Articles() const { return articles_; }
  size_t Feeds() const { return ids_.size(); }

 private:
  Ttidewell engine_;
  std::unique_ptr<bench_support::PageWriteMeter> meter_;
  int64_t pageWrites_ = 0;
  int64_t transactions_ = 0;
  TDynIntArray ids_;
  size_t ended_ = 0;
  size_t failed_ = 0;
  size_t articles_ = 0;
};

// The pass's statements, prepares and commits: per new article when the pass
// stored any, and per feed.
void Report(benchmark::State& state, double cpuSeconds, double serverCpuSeconds, const SubscribedEngine& engine,
            const db::Activity& work) {
  // A pass that stored nothing has no cost per article.
  const double per = engine.Articles() > 0 ? static_cast<double>(engine.Articles()) : HUGE_VAL;
  state.counters["articles"] = static_cast<double>(engine.Articles());
  state.counters["executes/article"] = static_cast<double>(work.executes) / per;
  state.counters["prepares/article"] = static_cast<double>(work.prepares) / per;
  state.counters["commits/feed"] = static_cast<double>(work.commits) / static_cast<double>(engine.Feeds());
  state.counters["cpu_s"] = cpuSeconds;
  state.counters["server_cpu_s"] = serverCpuSeconds;
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  state.counters["failed_feeds"] = static_cast<double>(engine.Failed());
  state.counters["page_writes/feed"] = static_cast<double>(engine.PageWrites()) / static_cast<double>(engine.Feeds());
  state.counters["transactions/feed"] =
      static_cast<double>(engine.Transactions()) / static_cast<double>(engine.Feeds());
}

// One pass timed (entered and left with the timing paused), and reported.
void TimedPass(benchmark::State& state, SubscribedEngine& engine) {
  const double cpuBefore = ProcessCpuSeconds();
  const double serverCpuBefore = ServerCpuSeconds();
  const db::Activity before = db::CurrentActivity();
  state.ResumeTiming();
  if (!engine.RunPass()) state.SkipWithError("the pass did not end");
  state.PauseTiming();
  Report(state, ProcessCpuSeconds() - cpuBefore, ServerCpuSeconds() - serverCpuBefore, engine,
         db::CurrentActivity() - before);
}

void BM_UpdatePassNewFeeds(benchmark::State& state) {
  const std::vector<std::string> urls = FeedList();
  if (urls.empty()) {
    state.SkipWithError("TW_BENCH_FEED_LIST names no feeds");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    SubscribedEngine engine(urls, SubscribedEngine::Start::kNewDatabase);
    TimedPass(state, engine);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(urls.size()) * state.iterations());
}
BENCHMARK(BM_UpdatePassNewFeeds)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same feeds again, nothing changed on the server.
void BM_UpdatePassUnchanged(benchmark::State& state) {
  const std::vector<std::string> urls = FeedList();
  if (urls.empty()) {
    state.SkipWithError("TW_BENCH_FEED_LIST names no feeds");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    SubscribedEngine engine(urls, SubscribedEngine::Start::kNewDatabase);
    if (!engine.RunPass()) state.SkipWithError("the first pass did not end");
    TimedPass(state, engine);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_UpdatePassUnchanged)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The feeds of the kept database again, in a process of its own.
void BM_UpdatePassStored(benchmark::State& state) {
  const std::vector<std::string> urls = FeedList();
  if (urls.empty() || KeptDatabasePath().empty()) {
    state.SkipWithError("TW_BENCH_FEED_LIST or TW_BENCH_DATABASE names nothing");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    SubscribedEngine engine(urls, SubscribedEngine::Start::kKeptDatabase);
    TimedPass(state, engine);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_UpdatePassStored)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
