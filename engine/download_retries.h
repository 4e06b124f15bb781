// SPDX-License-Identifier: MIT
// Downloads that failed for a passing reason (see TtidewellTrdJobPropClass::
// passingFailure), to be handed out again within the run after the pause a
// failed feed job gets, a bounded number of times. Kept for the run only:
// the next start queues every failed download again anyway.
//
// Threads: any; the workers note failures, the main thread takes what is due.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/tidewell_struct.h"

namespace tidewell {

// When a "Retry-After" value (delay-seconds, or an HTTP date) asks to be
// tried again, for an answer at nowUtc; 0 when the value is neither.
TDateTime RetryAfterUtc(const std::string& value, TDateTime nowUtc);

class TDownloadRetries {
 public:
  // The attempts a download gets within a run, the first included.
  static constexpr int kAttempts = 4;
  // Minutes between a failure and the next attempt (a failed feed job's).
  static constexpr int kPauseMinutes = 45;

  struct TDue {
    int32_t enclosureId;
    WideString targetFolder;
  };

  // A failed attempt of the download at nowUtc. A passing failure makes it
  // due kPauseMinutes later, or at notBeforeUtc when that is later (the
  // server's Retry-After), unless it had all its attempts; any other ends
  // its retries.
  void NoteFailure(int32_t enclosureId, const WideString& targetFolder, bool passing, TDateTime nowUtc,
                   TDateTime notBeforeUtc = 0);
  // The downloads due at nowUtc, each taken once until it fails again.
  std::vector<TDue> TakeDue(TDateTime nowUtc);
  // Downloads taken that could not be handed out: due again from nowUtc.
  void PutBack(const std::vector<TDue>& due, TDateTime nowUtc);

 private:
  struct TEntry {
    WideString targetFolder;
    int failures = 0;
    TDateTime due = 0;  // 0: not due again
  };

  std::mutex lock_;
  std::map<int32_t, TEntry> entries_;  // guarded by lock_
};

}  // namespace tidewell
