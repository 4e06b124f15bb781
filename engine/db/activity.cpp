// SPDX-License-Identifier: MIT
#include "engine/db/activity.h"

namespace tidewell::db {

namespace {
std::atomic<uint64_t> prepares{0};
std::atomic<uint64_t> executes{0};
std::atomic<uint64_t> commits{0};
}  // namespace

Activity CurrentActivity() {
  return {prepares.load(std::memory_order_relaxed), executes.load(std::memory_order_relaxed),
          commits.load(std::memory_order_relaxed)};
}

namespace activity {
void CountPrepare() { prepares.fetch_add(1, std::memory_order_relaxed); }
void CountExecute() { executes.fetch_add(1, std::memory_order_relaxed); }
void CountCommit() { commits.fetch_add(1, std::memory_order_relaxed); }
}  // namespace activity

}  // namespace tidewell::db
