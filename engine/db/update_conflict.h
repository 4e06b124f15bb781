// SPDX-License-Identifier: MIT
// Two transactions that write the same row at once: the database refuses the
// later one ("deadlock / update conflicts with concurrent update", or "lock
// conflict on no wait transaction"). Such a failure says nothing about the
// data; the same work in a new transaction a moment later succeeds. These
// helpers tell such failures apart and run work again after one.
//
// Threads: any; the counters are process-wide.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace tidewell {

// Whether failure is an update conflict of the database: one of the
// conflict codes (deadlock, update conflict, lock conflict, lock time-out)
// anywhere in its status. The message is not looked at: a text that merely
// mentions a deadlock (an address, a server's answer) is no conflict.
bool IsUpdateConflict(const std::exception& failure);

// Called by the database layer for every conflict it raises on the calling
// thread, with the failure's message.
void NoteUpdateConflictRaised(const std::string& message);

// Work that keeps a failure only as text (a job's error text) tells by this
// whether that text came from a conflict: it watches the conflicts raised on
// its thread from its construction on.
//
//   TUpdateConflictWatch watch;
//   ... work that records a failure's message in errorText ...
//   if (watch.Recorded(errorText)) ... run the work again ...
class TUpdateConflictWatch {
 public:
  TUpdateConflictWatch();
  // Whether text holds the message of a conflict raised on this thread
  // since the watch began. REQUIRES: called on the thread that made it.
  bool Recorded(const std::string& text) const;

 private:
  uint64_t raisedBefore_;
};

// One line, for people, in place of the database's text of a conflict that
// the attempts did not get past.
std::string UpdateConflictGaveUpText();

// How often conflicts were met since the process started: seen, and
// retried (the rest were passed on after the last attempt).
struct TUpdateConflictCounts {
  std::atomic<int64_t> seen{0};
  std::atomic<int64_t> retried{0};
};
TUpdateConflictCounts& UpdateConflictCounts();

// The attempts RetryOnUpdateConflict makes in all.
constexpr int kUpdateConflictAttempts = 6;

// A pause before attempt number attempt (from 2 on): random, a few tens of
// milliseconds, growing with the attempt, so that two writers that met
// once do not meet again.
void PauseBeforeRetry(int attempt);

// Test hook: runs on the thread that met a conflict and will try again,
// before its pause. A test that holds rows to force a conflict ends its
// transaction there, so that the next attempt finds them free whatever the
// scheduler does. An empty hook removes it.
void TEST_SetBeforeConflictRetry(std::function<void()> hook);

// Runs attempt, which does its work in a transaction of its own from start
// to commit. When it fails with an update conflict, undo runs (it rolls back
// what attempt left active; its own failures are ignored), then a pause,
// then attempt again, at most kUpdateConflictAttempts times in all. Other
// failures pass on; the conflict of the last attempt passes on with
// UpdateConflictGaveUpText as its message.
void RetryOnUpdateConflict(const std::function<void()>& attempt, const std::function<void()>& undo = {});

}  // namespace tidewell
