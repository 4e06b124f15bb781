// SPDX-License-Identifier: MIT
// A TCP relay on 127.0.0.1 to a server of the test, which the test makes
// fail at a set step: the connection dropped once a request reached the
// server, before its answer comes back (a commit the server made and the
// client never heard of), new connections refused, new connections held
// after their handshake (a server that hangs once it accepted), and every
// answer slowed (a server that is slow, not gone). It runs its own thread;
// its controls may be called from any thread.
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
  // Every connection open now is closed at both ends (a dropped route).
  void CutEveryConnection() { cutAll_ = true; }
  // While refusing, each new connection is closed at once.
  void SetRefusing(bool refusing) { refusing_ = refusing; }
  // While holding, each new connection passes its first answer (the
  // server's accept of the handshake) and then no answer more, for good:
  // the client's requests reach the server, nothing comes back.
  void SetHoldingAfterHandshake(bool holding) { holding_ = holding; }
  // Every answer from now on reaches the client delayMs after the server
  // gave it (0: at once).
  void SetAnswerDelayMs(int delayMs) { delayMs_ = delayMs; }
  // The connections dropped by CutAtNextAnswer so far.
  int Cuts() const { return cuts_; }
  // The connections held after their handshake so far.
  int Held() const { return held_; }
  // The connections closed at once while refusing, so far.
  int Refused() const { return refused_; }

 private:
  void Run();

  int targetPort_;
  int port_ = 0;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> cutArmed_{false};
  std::atomic<bool> cutAll_{false};
  std::atomic<bool> refusing_{false};
  std::atomic<bool> holding_{false};
  std::atomic<int> delayMs_{0};
  std::atomic<int> cuts_{0};
  std::atomic<int> held_{0};
  std::atomic<int> refused_{0};
  std::thread thread_;
};

}  // namespace testing_support
