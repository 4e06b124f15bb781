// SPDX-License-Identifier: MIT
// Subscribing a long list of feeds one AddFeed at a time, as a first start
// or a list of a thousand feeds does: each address is looked up among the
// feeds stored before it (one address, one feed) and then stored.
//
// Argument: the feeds, spread over 25 hosts.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>

#include "bench/firebird_scratch.h"
#include "engine/tidewell.h"
#include "toolkit/exception.h"

namespace {

using namespace tidewell;

bench_support::ScratchCleanup scratch_cleanup;

void BM_AddFeeds(benchmark::State& state) {
  const int feeds = static_cast<int>(state.range(0));
  std::optional<Ttidewell> engine;
  for (auto _ : state) {
    state.PauseTiming();
    engine.reset();
    engine.emplace(TtidewellOptions{});
    std::string fileName, error, text;
    engine->CreateDatabase(bench_support::NewDatabasePath("subscribe"), "SYSDBA", "", fileName, error);
    if (!error.empty()) throw kt::Exception(error);
    engine->SetConnected(true);
    engine->CreateTables(text);
    state.ResumeTiming();
    for (int i = 0; i < feeds; ++i)
      engine->AddFeed(u"", "http://127.0.0." + std::to_string(i % 25 + 1) + ":8080/feed" + std::to_string(i) + ".xml",
                      u"");
  }
  state.counters["ms/feed"] =
      benchmark::Counter(static_cast<double>(feeds) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AddFeeds)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
