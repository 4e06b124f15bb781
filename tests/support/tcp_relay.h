// SPDX-License-Identifier: MIT
// A TCP relay on 127.0.0.1 between a client and a server of the test, which
// the test can make fail at a set step: the connection dropped right after a
// request reached the server, before its answer comes back (a commit that
// the server made and the client never heard of), and new connections
// refused while the test wants them refused.
//
//   TcpRelay relay(server.Port());
//   connection.SetDBFileName("127.0.0.1/" + std::to_string(relay.Port()) + ":" + path);
//   relay.CutAtNextAnswer();  // the next request is served, its answer lost
//
// Threads: the relay runs its own thread; its controls may be called from
// any thread.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace testing_support {

class TcpRelay {
 public:
  explicit TcpRelay(int targetPort);
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  int Port() const { return port_; }
  // From now on, client bytes still reach the server, but the first answer
  // that comes back on any connection is dropped and the client's end of
  // that connection closed: the server has done what it was asked, the
  // client hears nothing. The server's end stays open until the relay goes.
  void CutAtNextAnswer() { cutArmed_ = true; }
  // While refusing, each new connection is closed as soon as it is taken.
  void SetRefusing(bool refusing) { refusing_ = refusing; }
  // The connections dropped by CutAtNextAnswer so far.
  int Cuts() const { return cuts_; }

 private:
  void Run();

  int targetPort_;
  int port_ = 0;
  int listener_ = -1;
  int wakePipe_[2] = {-1, -1};
  std::atomic<bool> cutArmed_{false};
  std::atomic<bool> refusing_{false};
  std::atomic<int> cuts_{0};
  std::thread thread_;
};

}  // namespace testing_support
