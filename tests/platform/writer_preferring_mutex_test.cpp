// SPDX-License-Identifier: MIT
#include "platform/writer_preferring_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace platform {
namespace {

// Tries the shared side until it is refused, for at most ten seconds.
bool SharedSideIsRefusedSoon(WriterPreferringMutex& lock) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < giveUp) {
    if (!lock.try_lock_shared()) return true;
    lock.unlock_shared();
    std::this_thread::yield();
  }
  return false;
}

TEST(WriterPreferringMutexTest, AWaitingWriterKeepsNewReadersOutUntilItIsDone) {
  WriterPreferringMutex lock;
  std::shared_lock firstReader(lock);
  ASSERT_TRUE(lock.try_lock_shared()) << "readers share the lock";
  lock.unlock_shared();
  EXPECT_FALSE(lock.try_lock());

  std::atomic<bool> written{false};
  std::thread writer([&] {
    std::unique_lock writing(lock);
    written = true;
  });
  EXPECT_TRUE(SharedSideIsRefusedSoon(lock)) << "a new reader went ahead of the waiting writer";
  EXPECT_FALSE(written.load());
  firstReader.unlock();
  writer.join();
  EXPECT_TRUE(written.load());
  EXPECT_TRUE(lock.try_lock_shared()) << "readers come back once the writer is done";
  lock.unlock_shared();
}

}  // namespace
}  // namespace platform
