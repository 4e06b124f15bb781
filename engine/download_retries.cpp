// SPDX-License-Identifier: MIT
#include "engine/download_retries.h"

#include <algorithm>
#include <exception>

#include "engine/tidewell_date.h"

namespace tidewell {

TDateTime RetryAfterUtc(const std::string& value, TDateTime nowUtc) {
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return 0;
  const size_t last = value.find_last_not_of(" \t");
  const std::string text = value.substr(first, last - first + 1);
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    // Delays beyond a year are taken as a year: the number is the server's.
    const double seconds = text.size() > 8 ? 366.0 * 86400 : std::stod(text);
    return nowUtc + seconds / 86400.0;
  }
  try {
    double offset = 0;
    std::string zone;
    const TDateTime date = ParseRFC822Date(text, offset, zone);
    return date > 0 ? NormalizeToUTC(zone, offset, date) : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

void TDownloadRetries::NoteFailure(int32_t enclosureId, const WideString& targetFolder, bool passing,
                                   TDateTime nowUtc, TDateTime notBeforeUtc) {
  std::lock_guard<std::mutex> guard(lock_);
  TEntry& entry = entries_[enclosureId];
  entry.targetFolder = targetFolder;
  ++entry.failures;
  const bool again = passing && entry.failures < kAttempts;
  entry.due = again ? std::max(nowUtc + kPauseMinutes / 1440.0, notBeforeUtc) : 0;
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
