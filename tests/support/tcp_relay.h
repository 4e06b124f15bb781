// SPDX-License-Identifier: MIT
// A TCP relay on 127.0.0.1 to a server of the test, which the test makes
// fail at a set step: the connection dropped once a request reached the
// server, before its answer comes back (a commit the server made and the
// client never heard of), and new connections refused. It runs its own
// thread; its controls may be called from any thread.
#pragma once

#include <atomic>
#include <thread>

namespace testing_support {

class TcpRelay {
 public:
  explicit TcpRelay(int targetPort);
  ~TcpRelay();

  int Port() const { return port_; }
  // The answer to the first request sent on any connection from now on is
  // dropped and the client's end closed; the server's stays open.
  void CutAtNextAnswer() { cutArmed_ = true; }
  // While refusing, each new connection is closed at once.
  void SetRefusing(bool refusing) { refusing_ = refusing; }
  // The connections dropped by CutAtNextAnswer so far.
  int Cuts() const { return cuts_; }
  // The connections closed at once while refusing, so far.
  int Refused() const { return refused_; }

 private:
  void Run();

  int targetPort_;
  int port_ = 0;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> cutArmed_{false};
  std::atomic<bool> refusing_{false};
  std::atomic<int> cuts_{0};
  std::atomic<int> refused_{0};
  std::thread thread_;
};

}  // namespace testing_support
