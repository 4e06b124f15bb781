// SPDX-License-Identifier: MIT
#include "support/tcp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {
namespace {

sockaddr_in Loopback(int port) {
  return sockaddr_in{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
}

int ConnectToLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

bool SendAll(int fd, const char* data, ssize_t size) {
  for (ssize_t sent = 0; size > 0; data += sent, size -= sent)
    if ((sent = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL)) <= 0) return false;
  return true;
}

using Clock = std::chrono::steady_clock;

struct Answer {
  Clock::time_point due;
  std::string bytes;
};

struct Pair {
  int client;  // -1 once cut: the server's end is drained
  int server;
  bool holdAfterFirst = false;  // accepted while holding
  bool stalled = false;         // held: the server's answers stay unread
  bool cutAtAnswer = false;     // its client spoke first once a cut was armed
  std::deque<Answer> answers;   // read from the server, not yet due
};

void Close(const Pair& pair) {
  if (pair.client >= 0) ::close(pair.client);
  ::close(pair.server);
}

// Moves what is waiting on from to to; false once either end is gone.
bool Forward(int from, int to) {
  char buffer[65536];
  const ssize_t got = ::recv(from, buffer, sizeof buffer, MSG_DONTWAIT);
  return got > 0 && (to < 0 || SendAll(to, buffer, got));
}

// Reads the server's answer into the pair's queue, due after delayMs.
bool Queue(Pair& pair, int delayMs) {
  char buffer[65536];
  const ssize_t got = ::recv(pair.server, buffer, sizeof buffer, MSG_DONTWAIT);
  if (got <= 0) return false;
  pair.answers.push_back({Clock::now() + std::chrono::milliseconds(delayMs), std::string(buffer, got)});
  if (pair.holdAfterFirst) pair.stalled = true;
  return true;
}

// Sends the answers that are due; false once the client is gone.
bool SendDue(Pair& pair) {
  while (!pair.answers.empty() && pair.answers.front().due <= Clock::now()) {
    const std::string& bytes = pair.answers.front().bytes;
    if (pair.client >= 0 && !SendAll(pair.client, bytes.data(), static_cast<ssize_t>(bytes.size()))) return false;
    pair.answers.pop_front();
  }
  return true;
}

int MsUntilNextAnswer(const std::vector<Pair>& pairs, int longest) {
  int wait = longest;
  for (const Pair& pair : pairs) {
    if (pair.answers.empty()) continue;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(pair.answers.front().due - Clock::now());
    wait = std::min<int>(wait, static_cast<int>(std::max<int64_t>(0, left.count())));
  }
  return wait;
}

}  // namespace

TcpRelay::TcpRelay(int targetPort) : targetPort_(targetPort) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("the relay cannot listen on 127.0.0.1");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

TcpRelay::~TcpRelay() {
  stopping_ = true;
  thread_.join();
  ::close(listener_);
}

void TcpRelay::Run() {
  std::vector<Pair> pairs;
  while (!stopping_) {
    std::vector<pollfd> polled{{listener_, POLLIN, 0}};
    for (const Pair& pair : pairs) {
      polled.push_back({pair.client, POLLIN, 0});
      // A held connection's answers stay with the server.
      polled.push_back({pair.server, static_cast<short>(pair.stalled ? 0 : POLLIN), 0});
    }
    ::poll(polled.data(), polled.size(), MsUntilNextAnswer(pairs, 20));  // a while, to see a stop
    std::vector<Pair> kept;
    if (cutAll_.exchange(false)) {
      for (const Pair& pair : pairs) Close(pair);
      pairs.clear();
      polled.resize(1);
    }
    for (size_t i = 0; i < pairs.size(); ++i) {
      Pair& pair = pairs[i];
      // The cut lands on the connection whose client asks first once it is
      // armed, not on one the server happens to write to meanwhile.
      if (polled[1 + 2 * i].revents != 0 && pair.client >= 0 && cutArmed_.exchange(false)) pair.cutAtAnswer = true;
      bool open = polled[1 + 2 * i].revents == 0 || Forward(pair.client, pair.server);
      if (open && polled[2 + 2 * i].revents != 0) {
        // The server answered: it has done what it was asked.
        if (pair.client >= 0 && std::exchange(pair.cutAtAnswer, false)) {
          ++cuts_;
          ::close(pair.client);
          pair.client = -1;
        }
        open = pair.client < 0 ? Forward(pair.server, -1) : Queue(pair, delayMs_);
        if (pair.stalled && pair.holdAfterFirst) {
          pair.holdAfterFirst = false;
          ++held_;
        }
      }
      open = open && SendDue(pair);
      if (open) kept.push_back(std::move(pair));
      if (!open) Close(pair);
    }
    if (polled[0].revents != 0) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = client < 0 || refusing_ ? -1 : ConnectToLoopback(targetPort_);
      if (server >= 0) kept.push_back({client, server, holding_.load(), false, false, {}});
      if (server < 0 && client >= 0) {
        ::close(client);
        if (refusing_) ++refused_;
      }
    }
    pairs.swap(kept);
  }
  for (const Pair& pair : pairs) Close(pair);
}

}  // namespace testing_support
