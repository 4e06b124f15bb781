// SPDX-License-Identifier: MIT
#include "support/test_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace testing_support {
namespace {

constexpr size_t kMaxHead = 1 << 20;

bool ReadUntilHeadEnd(int socket, std::string& buffer, size_t& headEnd) {
  char chunk[8192];
  for (;;) {
    const size_t end = buffer.find("\r\n\r\n");
    if (end != std::string::npos) {
      headEnd = end + 4;
      return true;
    }
    if (buffer.size() > kMaxHead) return false;
    const ssize_t n = ::recv(socket, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
}

RecordedRequest ParseHead(const std::string& head) {
  RecordedRequest request;
  request.head = head;
  size_t lineEnd = head.find("\r\n");
  const std::string requestLine = head.substr(0, lineEnd);
  const size_t first = requestLine.find(' ');
  const size_t second = requestLine.find(' ', first + 1);
  request.method = requestLine.substr(0, first);
  request.target = requestLine.substr(first + 1, second - first - 1);
  request.version = second == std::string::npos ? "" : requestLine.substr(second + 1);
  std::string path = request.target;
  const size_t scheme = path.find("://");
  if (scheme != std::string::npos) {
    const size_t slash = path.find('/', scheme + 3);
    path = slash == std::string::npos ? "/" : path.substr(slash);
  }
  request.path = path.substr(0, path.find('?'));
  for (size_t at = lineEnd + 2; at < head.size();) {
    const size_t end = head.find("\r\n", at);
    if (end == std::string::npos || end == at) break;
    const std::string line = head.substr(at, end - at);
    const size_t colon = line.find(':');
    std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    request.headers.emplace_back(line.substr(0, colon), value);
    at = end + 2;
  }
  return request;
}

std::string Compress(const std::string& data, int windowBits) {
  z_stream zs{};
  deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, data.size()) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return {};
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& header) { return strcasecmp(header.first.c_str(), name.c_str()) == 0; });
}

HttpConnection::HttpConnection(int socket, const std::atomic<bool>& stopping, std::mutex& mutex,
                               std::condition_variable& wake)
    : socket_(socket), stopping_(stopping), mutex_(mutex), wake_(wake) {}

bool HttpConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool HttpConnection::SendSlowly(std::string_view bytes, size_t piece, int pauseMs) {
  while (!bytes.empty()) {
    const size_t size = std::min(piece, bytes.size());
    if (!Send(bytes.substr(0, size)) || !Wait(pauseMs)) return false;
    bytes.remove_prefix(size);
  }
  return true;
}

bool HttpConnection::Wait(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

void HttpConnection::Reset() {
  const linger hard{1, 0};
  // The reset goes out when the connection is closed, as the handler returns.
  ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

TestHttpServer::TestHttpServer(const std::string& address) : address_(address) {
  const bool ipv6 = address_.find(':') != std::string::npos;
  listener_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in bound{};
  sockaddr_in6 bound6{};
  bound.sin_family = AF_INET;
  bound6.sin6_family = AF_INET6;
  sockaddr* any = ipv6 ? reinterpret_cast<sockaddr*>(&bound6) : reinterpret_cast<sockaddr*>(&bound);
  socklen_t length = ipv6 ? sizeof bound6 : sizeof bound;
  const int parsed = ipv6 ? ::inet_pton(AF_INET6, address_.c_str(), &bound6.sin6_addr)
                          : ::inet_pton(AF_INET, address_.c_str(), &bound.sin_addr);
  if (parsed != 1 || ::bind(listener_, any, length) != 0 || ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, any, &length) != 0) {
    throw std::runtime_error("test server cannot listen");
  }
  port_ = ntohs(ipv6 ? bound6.sin6_port : bound.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (int socket : openSockets_) ::shutdown(socket, SHUT_RDWR);
  }
  wake_.notify_all();
  ::shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  ::close(listener_);
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& connection : connections) connection.join();
}

std::string TestHttpServer::Url(const std::string& path) const {
  const std::string host = address_.find(':') == std::string::npos ? address_ : "[" + address_ + "]";
  return "http://" + host + ":" + std::to_string(port_) + path;
}

void TestHttpServer::Handle(const std::string& path, HttpHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_[path] = std::move(handler);
}

std::vector<RecordedRequest> TestHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t TestHttpServer::RequestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(
      std::count_if(requests_.begin(), requests_.end(), [&](const RecordedRequest& r) { return r.path == path; }));
}

HttpHandler TestHttpServer::HandlerFor(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = handlers_.find(path);
  if (found != handlers_.end()) return found->second;
  return [](const RecordedRequest&, HttpConnection& connection) {
    connection.Send(Response(404, "Not Found", {}, "not here"));
  };
}

void TestHttpServer::AcceptLoop() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 100) <= 0) continue;
    const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      ::close(socket);
      break;
    }
    openSockets_.push_back(socket);
    connections_.emplace_back([this, socket] { Serve(socket); });
  }
}

void TestHttpServer::Serve(int socket) {
  std::string buffer;
  size_t headEnd = 0;
  if (ReadUntilHeadEnd(socket, buffer, headEnd)) {
    RecordedRequest request = ParseHead(buffer.substr(0, headEnd - 2));
    const size_t bodyLength = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
    request.body = buffer.substr(headEnd);
    char chunk[8192];
    while (request.body.size() < bodyLength) {
      const ssize_t n = ::recv(socket, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      request.body.append(chunk, static_cast<size_t>(n));
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    HttpConnection connection(socket, stopping_, mutex_, wake_);
    HandlerFor(request.path)(request, connection);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  openSockets_.erase(std::remove(openSockets_.begin(), openSockets_.end(), socket), openSockets_.end());
  ::close(socket);
}

std::string TestHttpServer::Response(int status, const std::string& reason, const HeaderList& headers,
                                     const std::string& body) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  bool lengthGiven = false;
  for (const auto& [name, value] : headers) {
    out += name + ": " + value + "\r\n";
    lengthGiven = lengthGiven || strcasecmp(name.c_str(), "Content-Length") == 0 ||
                  strcasecmp(name.c_str(), "Transfer-Encoding") == 0;
  }
  if (!lengthGiven) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return out + "\r\n" + body;
}

std::string TestHttpServer::Chunked(const std::vector<std::string>& pieces) {
  std::string out;
  char size[32];
  for (const std::string& piece : pieces) {
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    out += size + piece + "\r\n";
  }
  return out + "0\r\n\r\n";
}

std::string TestHttpServer::Gzip(const std::string& data) { return Compress(data, 15 + 16); }

std::string TestHttpServer::Deflate(const std::string& data, bool raw) { return Compress(data, raw ? -15 : 15); }

}  // namespace testing_support
