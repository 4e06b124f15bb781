// SPDX-License-Identifier: MIT
// One feed's document is stored by one worker at a time in this process.
// Two jobs of one feed that race would each find an article missing and
// store it; under this lock the second one's transaction begins after the
// first one's commit, so it finds the articles and stores none twice.
//
//   {
//     TtidewellFeedLock lock(feedId);  // waits while another job holds it
//     ... store the document ...
//   }
//
// Threads: any; the lock of a feed id is made on first use and freed when
// no job holds or waits for it.
#pragma once

#include <cstdint>

namespace tidewell {

class TtidewellFeedLock {
 public:
  // Ids below 1 (a feed not stored yet) lock nothing.
  explicit TtidewellFeedLock(int32_t feedId);
  ~TtidewellFeedLock();
  TtidewellFeedLock(const TtidewellFeedLock&) = delete;
  TtidewellFeedLock& operator=(const TtidewellFeedLock&) = delete;

 private:
  const int32_t feedId_;
};

}  // namespace tidewell
