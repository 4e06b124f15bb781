// SPDX-License-Identifier: MIT
#include "support/tcp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
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

struct Pair {
  int client;  // -1 once cut: the server's end is drained
  int server;
  bool cutAtAnswer = false;  // its client spoke first once a cut was armed
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
      polled.push_back({pair.server, POLLIN, 0});
    }
    if (::poll(polled.data(), polled.size(), 20) <= 0) continue;  // a while, to see a stop
    std::vector<Pair> kept;
    for (size_t i = 0; i < pairs.size(); ++i) {
      Pair pair = pairs[i];
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
        open = Forward(pair.server, pair.client);
      }
      if (open) kept.push_back(pair);
      if (!open) Close(pair);
    }
    if (polled[0].revents != 0) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = client < 0 || refusing_ ? -1 : ConnectToLoopback(targetPort_);
      if (server >= 0) kept.push_back({client, server, false});
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
