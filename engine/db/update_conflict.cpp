// SPDX-License-Identifier: MIT
#include "engine/db/update_conflict.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include <ibase.h>

#include "engine/db/firebird_error.h"

namespace tidewell {
namespace {

// The conflicts of the calling thread: how many were raised, and the
// messages of the latest few.
struct TRaisedConflicts {
  static constexpr size_t kKept = 8;
  uint64_t count = 0;
  std::deque<std::string> messages;
};

TRaisedConflicts& RaisedOnThisThread() {
  thread_local TRaisedConflicts raised;
  return raised;
}

}  // namespace

bool IsUpdateConflict(const std::exception& failure) {
  const auto* error = dynamic_cast<const db::EFirebirdError*>(&failure);
  if (error == nullptr) return false;
  for (const intptr_t code : {isc_deadlock, isc_update_conflict, isc_lock_conflict, isc_lock_timeout})
    if (error->HasGdsCode(code)) return true;
  return false;
}

void NoteUpdateConflictRaised(const std::string& message) {
  TRaisedConflicts& raised = RaisedOnThisThread();
  ++raised.count;
  raised.messages.push_back(message);
  if (raised.messages.size() > TRaisedConflicts::kKept) raised.messages.pop_front();
}

TUpdateConflictWatch::TUpdateConflictWatch() : raisedBefore_(RaisedOnThisThread().count) {}

bool TUpdateConflictWatch::Recorded(const std::string& text) const {
  const TRaisedConflicts& raised = RaisedOnThisThread();
  const uint64_t since = raised.count - raisedBefore_;
  const size_t looked = static_cast<size_t>(std::min<uint64_t>(since, raised.messages.size()));
  for (size_t i = raised.messages.size() - looked; i < raised.messages.size(); ++i) {
    const std::string& message = raised.messages[i];
    if (!message.empty() && text.find(message) != std::string::npos) return true;
  }
  return false;
}

std::string UpdateConflictGaveUpText() {
  return "Not stored: another transaction was writing the same rows (gave up after " +
         std::to_string(kUpdateConflictAttempts) + " attempts)";
}

TUpdateConflictCounts& UpdateConflictCounts() {
  static TUpdateConflictCounts counts;
  return counts;
}

namespace {

std::mutex& HookLock() {
  static std::mutex lock;
  return lock;
}

std::function<void()>& BeforeConflictRetry() {
  static std::function<void()> hook;
  return hook;
}

}  // namespace

void TEST_SetBeforeConflictRetry(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(HookLock());
  BeforeConflictRetry() = std::move(hook);
}

void PauseBeforeRetry(int attempt) {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(HookLock());
    hook = BeforeConflictRetry();
  }
  if (hook) hook();
  thread_local std::minstd_rand random(std::random_device{}());
  std::uniform_int_distribution<int> spread(10, 40);
  std::this_thread::sleep_for(std::chrono::milliseconds(spread(random) * (attempt - 1)));
}

namespace {

// The conflict of the last attempt, told in one line; its codes stay, so
// that it is still known for a conflict.
db::EFirebirdError GaveUp(const std::exception& failure) {
  const auto& error = dynamic_cast<const db::EFirebirdError&>(failure);
  return db::EFirebirdError(UpdateConflictGaveUpText(), error.SqlCode(), error.GdsCode(), error.GdsCodes());
}

}  // namespace

void RetryOnUpdateConflict(const std::function<void()>& attempt, const std::function<void()>& undo) {
  for (int number = 1;; ++number) {
    try {
      attempt();
      return;
    } catch (const std::exception& failure) {
      if (!IsUpdateConflict(failure)) throw;
      ++UpdateConflictCounts().seen;
      if (number >= kUpdateConflictAttempts) throw GaveUp(failure);
      ++UpdateConflictCounts().retried;
    }
    if (undo) {
      try {
        undo();
      } catch (...) {
        // The next attempt starts from a new transaction anyway.
      }
    }
    PauseBeforeRetry(number + 1);
  }
}

}  // namespace tidewell
