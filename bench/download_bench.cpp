// SPDX-License-Identifier: MIT
// Enclosure download throughput: one 200 MB file from a local server, rate
// limited to 50 MB/s and unlimited, fetched by the engine's download and, in
// the same run, by the curl command line tool ("curl -o") as the reference.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/net/tidewell_worker_thread_base.h"

namespace {

constexpr int64_t kFileBytes = 200LL * 1000 * 1000;
constexpr int64_t kLimitedRate = 50LL * 1000 * 1000;  // bytes per second

// Serves kFileBytes to every connection: "/limited" at kLimitedRate, any
// other path as fast as the socket takes it.
class FileServer {
 public:
  FileServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~FileServer() {
    stopping_ = true;
    acceptor_.join();
    ::close(listener_);
    for (std::thread& t : connections_) t.join();
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  void Accept() {
    while (!stopping_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, 100) <= 0) continue;
      const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (socket >= 0) connections_.emplace_back([this, socket] { Serve(socket); });
    }
  }
  void Serve(int socket) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<size_t>(n));
    }
    const bool limited = request.find(" /limited") != std::string::npos;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " +
                             std::to_string(kFileBytes) + "\r\n\r\n";
    ::send(socket, head.data(), head.size(), MSG_NOSIGNAL);
    const std::vector<char> piece(256 * 1024, 'a');
    const auto start = std::chrono::steady_clock::now();
    for (int64_t sent = 0; sent < kFileBytes && !stopping_;) {
      const size_t size = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(piece.size()), kFileBytes - sent));
      const ssize_t n = ::send(socket, piece.data(), size, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += n;
      if (limited) std::this_thread::sleep_until(start + std::chrono::microseconds(sent * 1000000 / kLimitedRate));
    }
    ::close(socket);
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> connections_;
};

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

FileServer& Server() {
  static FileServer server;
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
