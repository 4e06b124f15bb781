// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_lock.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace tidewell {
namespace {

struct TFeedLockTable {
  std::mutex mutex;
  std::condition_variable released;
  // The feed ids held; an entry goes with its holder.
  std::map<int32_t, bool> held;
};

TFeedLockTable& Table() {
  static TFeedLockTable table;
  return table;
}

}  // namespace

TtidewellFeedLock::TtidewellFeedLock(int32_t feedId) : feedId_(feedId) {
  if (feedId_ < 1) return;
  TFeedLockTable& table = Table();
  std::unique_lock lock(table.mutex);
  table.released.wait(lock, [&] { return !table.held[feedId_]; });
  table.held[feedId_] = true;
}

TtidewellFeedLock::~TtidewellFeedLock() {
  if (feedId_ < 1) return;
  TFeedLockTable& table = Table();
  {
    std::lock_guard lock(table.mutex);
    table.held.erase(feedId_);
  }
  table.released.notify_all();
}

}  // namespace tidewell
