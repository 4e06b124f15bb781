// SPDX-License-Identifier: MIT
// Process-wide counts of the work sent to the database: what the benchmarks
// report per stored article and what the tests hold the storage path to.
// Relaxed counters; read them before and after the work to be measured.
#pragma once

#include <atomic>
#include <cstdint>

namespace tidewell::db {

struct Activity {
  uint64_t prepares = 0;
  uint64_t executes = 0;
  uint64_t commits = 0;  // of transactions that could write

  Activity operator-(const Activity& earlier) const {
    return {prepares - earlier.prepares, executes - earlier.executes, commits - earlier.commits};
  }
};

// The counts since the process started.
Activity CurrentActivity();

namespace activity {
void CountPrepare();
void CountExecute();
void CountCommit();
}  // namespace activity

}  // namespace tidewell::db
