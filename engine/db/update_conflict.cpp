// SPDX-License-Identifier: MIT
#include "engine/db/update_conflict.h"

#include <chrono>
#include <random>
#include <thread>

#include "engine/db/firebird_error.h"

namespace tidewell {
namespace {

// The engine's codes of the conflicts (isc_deadlock, isc_lock_conflict,
// isc_update_conflict).
constexpr intptr_t kDeadlock = 335544336;
constexpr intptr_t kLockConflict = 335544345;
constexpr intptr_t kUpdateConflict = 335544451;

}  // namespace

bool IsUpdateConflictText(const std::string& message) {
  return message.find("update conflicts with concurrent update") != std::string::npos ||
         message.find("lock conflict on no wait transaction") != std::string::npos ||
         message.find("deadlock") != std::string::npos;
}

bool IsUpdateConflict(const std::exception& failure) {
  if (const auto* error = dynamic_cast<const db::EFirebirdError*>(&failure)) {
    const intptr_t code = error->GdsCode();
    if (code == kDeadlock || code == kLockConflict || code == kUpdateConflict) return true;
  }
  return IsUpdateConflictText(failure.what());
}

TUpdateConflictCounts& UpdateConflictCounts() {
  static TUpdateConflictCounts counts;
  return counts;
}

void PauseBeforeRetry(int attempt) {
  thread_local std::minstd_rand random(std::random_device{}());
  std::uniform_int_distribution<int> spread(10, 40);
  std::this_thread::sleep_for(std::chrono::milliseconds(spread(random) * (attempt - 1)));
}

void RetryOnUpdateConflict(const std::function<void()>& attempt, const std::function<void()>& undo) {
  for (int number = 1;; ++number) {
    try {
      attempt();
      return;
    } catch (const std::exception& failure) {
      if (!IsUpdateConflict(failure)) throw;
      ++UpdateConflictCounts().seen;
      if (number >= kUpdateConflictAttempts) throw;
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
