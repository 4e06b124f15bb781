// SPDX-License-Identifier: MIT
// Enclosure download throughput: one 200 MB file from a local server, rate
// limited to 50 MB/s and unlimited, fetched by the engine's download and, in
// the same run, by the curl command line tool ("curl -o") as the reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include "engine/net/tidewell_worker_thread_base.h"
#include "support/test_http_server.h"

namespace {

constexpr int64_t kFileBytes = 200LL * 1000 * 1000;
constexpr int64_t kLimitedRate = 50LL * 1000 * 1000;  // bytes per second

// Answers a request with kFileBytes, at kLimitedRate or (paced == false) as
// fast as the socket takes them.
void ServeFile(testing_support::HttpConnection& connection, bool paced) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " +
                           std::to_string(kFileBytes) + "\r\n\r\n";
  if (!connection.Send(head)) return;
  const std::string piece(256 * 1024, 'a');
  const auto start = std::chrono::steady_clock::now();
  for (int64_t sent = 0; sent < kFileBytes;) {
    const size_t size = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(piece.size()), kFileBytes - sent));
    if (!connection.Send(std::string_view(piece).substr(0, size))) return;
    sent += static_cast<int64_t>(size);
    if (paced) std::this_thread::sleep_until(start + std::chrono::microseconds(sent * 1000000 / kLimitedRate));
  }
}

class BenchWorker : public tidewell::TtidewellWorkerThreadBase {
 public:
  BenchWorker() : TtidewellWorkerThreadBase(nullptr, 55000, 55000, nullptr) {}
  bool ok = false;
  std::string error;

 protected:
  void Execute() override {}
  void HandleResponse(tidewell::TtidewellTrdJobPropClass& result, tidewell::PHttpRawDataReq, int phase,
                      void*) override {
    if (phase != 2) return;
    ok = result.Succeeded();
    error = result.errorText;
    std::filesystem::remove(kt::WideToUtf8(result.localFileName));
  }
};

testing_support::TestHttpServer& Server() {
  static testing_support::TestHttpServer server;
  static const bool handled = [] {
    server.Handle("/limited/episode.mp3", [](const auto&, auto& connection) { ServeFile(connection, true); });
    server.Handle("/episode.mp3", [](const auto&, auto& connection) { ServeFile(connection, false); });
    return true;
  }();
  (void)handled;
  return server;
}

std::string Folder() {
  const std::string folder = (std::filesystem::temp_directory_path() / "tidewell-bench/").string();
  std::filesystem::create_directories(folder);
  return folder;
}

void EngineDownload(benchmark::State& state, const std::string& path) {
  BenchWorker worker;
  worker.SetJobType(tidewell::TQueueJobTypes::CgetEnclosure);
  for (auto _ : state) {
    worker.Download(Server().Url(path), "", "", "", "", kt::Utf8ToWide(Folder()), u"episode.mp3", nullptr, nullptr);
    if (!worker.ok) state.SkipWithError(worker.error.c_str());
  }
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(kFileBytes) / 1e6 * static_cast<double>(state.iterations()),
                                              benchmark::Counter::kIsRate);
}

void CurlCommandLine(benchmark::State& state, const std::string& path) {
  const std::string file = Folder() + "curl-reference.mp3";
  const std::string command = "curl -s -o '" + file + "' '" + Server().Url(path) + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
  }
  std::filesystem::remove(file);
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(kFileBytes) / 1e6 * static_cast<double>(state.iterations()),
                                              benchmark::Counter::kIsRate);
}

void BM_EnclosureAt50MBps(benchmark::State& state) { EngineDownload(state, "/limited/episode.mp3"); }
void BM_CurlReferenceAt50MBps(benchmark::State& state) { CurlCommandLine(state, "/limited/episode.mp3"); }
void BM_EnclosureUnlimited(benchmark::State& state) { EngineDownload(state, "/episode.mp3"); }
void BM_CurlReferenceUnlimited(benchmark::State& state) { CurlCommandLine(state, "/episode.mp3"); }

BENCHMARK(BM_EnclosureAt50MBps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_CurlReferenceAt50MBps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_EnclosureUnlimited)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_CurlReferenceUnlimited)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
