// SPDX-License-Identifier: MIT
// A many-readers, one-writer lock on which a waiting writer goes first: new
// readers queue behind it, so a steady stream of readers cannot keep the
// writer out for ever (std::shared_mutex on glibc lets them).
//
//   platform::WriterPreferringMutex lock;
//   { std::shared_lock reading(lock); ... }   // many at once
//   { std::unique_lock writing(lock); ... }   // alone, ahead of later readers
//
// Not recursive on either side: a thread that takes the shared side twice
// while a writer waits blocks itself.
#pragma once

#include <pthread.h>

namespace platform {

class WriterPreferringMutex {
 public:
  WriterPreferringMutex();
  ~WriterPreferringMutex();
  WriterPreferringMutex(const WriterPreferringMutex&) = delete;
  WriterPreferringMutex& operator=(const WriterPreferringMutex&) = delete;

  void lock();
  bool try_lock();
  void unlock();

  void lock_shared();
  bool try_lock_shared();
  void unlock_shared();

 private:
  pthread_rwlock_t lock_;
};

}  // namespace platform
