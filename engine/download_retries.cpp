// SPDX-License-Identifier: MIT
#include "engine/download_retries.h"

namespace tidewell {

void TDownloadRetries::NoteFailure(int32_t enclosureId, const WideString& targetFolder, bool passing,
                                   TDateTime nowUtc) {
  std::lock_guard<std::mutex> guard(lock_);
  TEntry& entry = entries_[enclosureId];
  entry.targetFolder = targetFolder;
  ++entry.failures;
  const bool again = passing && entry.failures < kAttempts;
  entry.due = again ? nowUtc + kPauseMinutes / 1440.0 : 0;
}

std::vector<TDownloadRetries::TDue> TDownloadRetries::TakeDue(TDateTime nowUtc) {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<TDue> due;
  for (auto& [id, entry] : entries_) {
    if (entry.due == 0 || entry.due > nowUtc) continue;
    due.push_back({id, entry.targetFolder});
    entry.due = 0;
  }
  return due;
}

void TDownloadRetries::PutBack(const std::vector<TDue>& due, TDateTime nowUtc) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const TDue& download : due) entries_[download.enclosureId].due = nowUtc;
}

}  // namespace tidewell
