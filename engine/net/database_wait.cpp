// SPDX-License-Identifier: MIT
#include "engine/net/database_wait.h"

#include <algorithm>

#include "engine/db/firebird_error.h"
#include "engine/db/update_conflict.h"

namespace tidewell {

bool IsPassingDatabaseFailure(const std::exception& failure) {
  return db::IsConnectionLost(failure) || IsUpdateConflict(failure);
}

bool RunUntilTheDatabaseTakesIt(const std::function<void()>& step, const std::function<bool(int ms)>& pause) {
  for (int pauseMs = kFirstDatabasePauseMs;; pauseMs = std::min(pauseMs * 2, kLongestDatabasePauseMs)) {
    try {
      step();
      return true;
    } catch (const std::exception& failure) {
      if (!IsPassingDatabaseFailure(failure)) throw;
    }
    if (!pause(pauseMs)) return false;
  }
}

}  // namespace tidewell
