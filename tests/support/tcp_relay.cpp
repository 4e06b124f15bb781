// SPDX-License-Identifier: MIT
#include "support/tcp_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace testing_support {
namespace {

int ListenOnLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("the relay cannot listen on 127.0.0.1");
  port = ntohs(address.sin_port);
  return fd;
}

int ConnectToLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

bool SendAll(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= sent;
  }
  return true;
}

struct Pair {
  int client;
  int server;
};

}  // namespace

TcpRelay::TcpRelay(int targetPort) : targetPort_(targetPort) {
  listener_ = ListenOnLoopback(port_);
  if (::pipe2(wakePipe_, O_CLOEXEC) != 0) throw std::runtime_error("the relay cannot make its pipe");
  thread_ = std::thread([this] { Run(); });
}

TcpRelay::~TcpRelay() {
  const char stop = 's';
  (void)!::write(wakePipe_[1], &stop, 1);
  thread_.join();
  ::close(listener_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

void TcpRelay::Run() {
  std::vector<Pair> pairs;
  for (;;) {
    std::vector<pollfd> polled{{wakePipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    for (const Pair& pair : pairs) {
      polled.push_back({pair.client, POLLIN, 0});
      polled.push_back({pair.server, POLLIN, 0});
    }
    if (::poll(polled.data(), polled.size(), -1) < 0) continue;
    if (polled[0].revents != 0) break;
    std::vector<Pair> kept;
    for (size_t i = 0; i < pairs.size(); ++i) {
      Pair pair = pairs[i];
      bool open = true;
      char buffer[65536];
      if (polled[2 + 2 * i].revents != 0) {
        const ssize_t got = ::recv(pair.client, buffer, sizeof buffer, MSG_DONTWAIT);
        open = got > 0 && SendAll(pair.server, buffer, got);
      }
      if (open && polled[3 + 2 * i].revents != 0) {
        const ssize_t got = ::recv(pair.server, buffer, sizeof buffer, MSG_DONTWAIT);
        open = got > 0;
        // The server answered: it has done what it was asked. Its end is
        // drained, not closed, so that nothing it still reads is cut short.
        if (open && pair.client >= 0 && cutArmed_.exchange(false)) {
          ++cuts_;
          ::close(pair.client);
          pair.client = -1;
        }
        if (open && pair.client >= 0) open = SendAll(pair.client, buffer, got);
      }
      if (open) {
        kept.push_back(pair);
      } else {
        if (pair.client >= 0) ::close(pair.client);
        ::close(pair.server);
      }
    }
    if (polled[1].revents != 0) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = client < 0 || refusing_ ? -1 : ConnectToLoopback(targetPort_);
      if (server >= 0) {
        kept.push_back({client, server});
      } else if (client >= 0) {
        ::close(client);
      }
    }
    pairs.swap(kept);
  }
  for (const Pair& pair : pairs) {
    if (pair.client >= 0) ::close(pair.client);
    ::close(pair.server);
  }
}

}  // namespace testing_support
