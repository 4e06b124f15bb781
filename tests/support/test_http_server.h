// SPDX-License-Identifier: MIT
// A scripted HTTP/1.1 server on 127.0.0.1 or another loopback address
// (ephemeral port) for tests that
// need byte-exact control: each request is recorded as it arrived (request
// line, headers in order, body) and answered by a handler that writes raw
// bytes, pauses, closes or resets the connection as it likes.
//
// One thread per connection; every connection is closed after one answer, so
// a client sees a fresh connection per request. Handlers run on the
// connection's thread; Wait() returns early once the server is stopping, so
// a stalled answer never holds up the test's end.
//
//   TestHttpServer server;
//   server.Handle("/feed.xml", [](const RecordedRequest& r, HttpConnection& c) {
//     c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "text/xml"}}, "<rss/>"));
//   });
//   download(server.Url("/feed.xml"));
//   EXPECT_EQ(server.Requests()[0].Header("User-Agent"), "Tidewell");
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct RecordedRequest {
  std::string method;
  std::string target;  // as sent: a path, or an absolute URL through a proxy
  std::string path;    // the target's path without query
  std::string version;
  HeaderList headers;  // in the order received, names as sent
  std::string head;    // the raw request line and headers, up to the blank line
  std::string body;

  // The first value of a header (name without case), "" when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

class HttpConnection {
 public:
  HttpConnection(int socket, const std::atomic<bool>& stopping, std::mutex& mutex, std::condition_variable& wake);

  // Writes all bytes; false when the client has gone.
  bool Send(std::string_view bytes);
  // Writes the bytes in pieces with a pause after each.
  bool SendSlowly(std::string_view bytes, size_t piece, int pauseMs);
  // Sleeps up to ms; returns early (false) when the server stops.
  bool Wait(int ms);
  // Ends the connection with a reset instead of an orderly close once the
  // handler returns.
  void Reset();

 private:
  int socket_;
  const std::atomic<bool>& stopping_;
  std::mutex& mutex_;
  std::condition_variable& wake_;
};

using HttpHandler = std::function<void(const RecordedRequest&, HttpConnection&)>;

class TestHttpServer {
 public:
  // address: a loopback address ("127.0.0.2" is another host to a client;
  // "::1" listens on IPv6, and Url() writes it in brackets).
  explicit TestHttpServer(const std::string& address = "127.0.0.1");
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  int Port() const { return port_; }
  // "http://<address>:<port>" + path.
  std::string Url(const std::string& path) const;
  // Answers requests for exactly this path (query ignored); unknown paths get
  // a 404.
  void Handle(const std::string& path, HttpHandler handler);
  // Every request so far, in arrival order.
  std::vector<RecordedRequest> Requests() const;
  size_t RequestCount(const std::string& path) const;

  // A complete answer with Content-Length (unless headers give one or
  // "Transfer-Encoding"), headers in the order given.
  static std::string Response(int status, const std::string& reason, const HeaderList& headers,
                              const std::string& body);
  // A body in chunked transfer coding, one chunk per piece.
  static std::string Chunked(const std::vector<std::string>& pieces);
  static std::string Gzip(const std::string& data);
  // zlib-wrapped (raw == false) or raw deflate data.
  static std::string Deflate(const std::string& data, bool raw);

 private:
  void AcceptLoop();
  void Serve(int socket);
  HttpHandler HandlerFor(const std::string& path) const;

  std::string address_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  // State below is protected by mutex_.
  std::map<std::string, HttpHandler> handlers_;
  std::vector<RecordedRequest> requests_;
  std::vector<std::thread> connections_;
  std::vector<int> openSockets_;
};

}  // namespace testing_support
