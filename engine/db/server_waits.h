// SPDX-License-Identifier: MIT
// Bounds on the waits for a Firebird server that takes connections and
// answers nothing (a hung host, a dropped route, a stopped process).
// Firebird's own connect time-out is minutes, and a call on an attachment
// made before the server stalled waits for ever.
//
// - An attachment to a server gives up connecting after
//   kServerConnectTimeoutSeconds (Database adds it to every attach), and
//   the whole attach after kServerAttachMs (attach_call.h).
// - On a thread whose waits are bounded (the application's GUI thread,
//   which uses the database only while it starts: the window's pass and the
//   engine's update timer run on threads of their own), a
//   call that has waited kBoundedWaitMs cuts every server attachment of the
//   process (Database::CutAttachment): each call waiting on one ends with a
//   lost connection ("Error reading data from the connection"), which the
//   callers handle as any lost connection (told once, attached again at the
//   next transaction). A slow server is not a lost one: the bound is longer
//   than any one answer of a server that answers at all (a few seconds), so
//   only a server that answers nothing is cut.
// - A close cuts them all at once, and refuses new ones
//   (EndEveryServerWait).
// Any thread may call.
#pragma once

#include <cstdint>

namespace tidewell::db {

class Database;

inline constexpr int kServerConnectTimeoutSeconds = 3;
inline constexpr int kBoundedWaitMs = 10000;

// Bounds the waits of the calling thread from now on; starts the thread
// that watches them at its first call.
// REQUIRES: the calling thread lives until the process ends.
void BoundServerWaitsOfThisThread();

// A call into the database library by the calling thread, from its start to
// its end: what the bound measures. Nothing for threads without a bound.
class ServerWait {
 public:
  ServerWait();
  ~ServerWait();
  ServerWait(const ServerWait&) = delete;
  ServerWait& operator=(const ServerWait&) = delete;

 private:
  bool bounded_;
};

// For a close that must not wait: every server attachment of the process is
// cut, every attach under way left, and no new one is made.
void EndEveryServerWait();

// The calls into the database library that the calling thread made so far
// (what a test reads to tell that a thread leaves the database alone).
uint64_t DatabaseCallsOfThisThread();

// The databases attached to a server, whose attachments a bound cuts.
// REQUIRES: a database is forgotten before it is destroyed.
void NoteServerDatabase(Database* database);
void ForgetServerDatabase(Database* database);

}  // namespace tidewell::db
