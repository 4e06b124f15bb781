// SPDX-License-Identifier: MIT
// An attach to a Firebird server, made on a thread of its own so that its
// caller can leave it. Firebird 3's client bounds only the wait for the
// server's accept (isc_dpb_connect_timeout); every later packet of the
// attach (authentication, the attach itself) waits for ever on a server
// that accepted and then hangs, and no cancel reaches an attachment that is
// not made yet. So the caller waits for the attaching thread up to a bound,
// or until the attach is abandoned (a cut, a close), and then fails as a
// lost connection; the thread ends when the server answers or drops the
// connection, and detaches an attachment nobody took.
//
// The attaching thread touches only its own call and the client library,
// never its caller's objects. A process that ends while such a thread still
// waits ends without running the library's global destructors under it
// (AttachThreadsRunning).
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace Firebird {
class IAttachment;
class ThrowStatusWrapper;
}  // namespace Firebird

namespace tidewell::db {

// How long an attach to a server may take in all: longer than a slow
// server's several answers (a few seconds each), far shorter than for ever.
inline constexpr int kServerAttachMs = 20000;

class AttachCall {
 public:
  using Attach = std::function<Firebird::IAttachment*(Firebird::ThrowStatusWrapper* status)>;

  // Runs attach on a new thread. attach must own everything it uses.
  static std::shared_ptr<AttachCall> Start(Attach attach);

  // Waits until the attachment is made, bound ran out or Abandon was
  // called. Raises the attach's own failure; a lost connection once bound
  // ran out or the attach was abandoned.
  Firebird::IAttachment* Wait(std::chrono::milliseconds bound);
  // Any thread: the waiting caller gives up at once.
  void Abandon();

 private:
  void Run(const Attach& attach);

  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;       // guarded by mutex_
  bool abandoned_ = false;  // guarded by mutex_
  Firebird::IAttachment* attachment_ = nullptr;
  std::exception_ptr failure_;
};

// The attaching threads that have not ended yet (left waiting on a server
// that does not answer).
int AttachThreadsRunning();

}  // namespace tidewell::db
