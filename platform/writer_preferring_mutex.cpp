// SPDX-License-Identifier: MIT
#include "platform/writer_preferring_mutex.h"

#include <system_error>

namespace platform {
namespace {

void ThrowOnError(int result, const char* what) {
  if (result != 0) throw std::system_error(result, std::generic_category(), what);
}

}  // namespace

WriterPreferringMutex::WriterPreferringMutex() {
  pthread_rwlockattr_t attributes;
  ThrowOnError(::pthread_rwlockattr_init(&attributes), "pthread_rwlockattr_init");
  // glibc's only writer-first kind; it is why the lock is not recursive.
  ::pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  const int result = ::pthread_rwlock_init(&lock_, &attributes);
  ::pthread_rwlockattr_destroy(&attributes);
  ThrowOnError(result, "pthread_rwlock_init");
}

WriterPreferringMutex::~WriterPreferringMutex() { ::pthread_rwlock_destroy(&lock_); }

void WriterPreferringMutex::lock() { ThrowOnError(::pthread_rwlock_wrlock(&lock_), "pthread_rwlock_wrlock"); }

bool WriterPreferringMutex::try_lock() { return ::pthread_rwlock_trywrlock(&lock_) == 0; }

void WriterPreferringMutex::unlock() { ::pthread_rwlock_unlock(&lock_); }

void WriterPreferringMutex::lock_shared() {
  ThrowOnError(::pthread_rwlock_rdlock(&lock_), "pthread_rwlock_rdlock");
}

bool WriterPreferringMutex::try_lock_shared() { return ::pthread_rwlock_tryrdlock(&lock_) == 0; }

void WriterPreferringMutex::unlock_shared() { ::pthread_rwlock_unlock(&lock_); }

}  // namespace platform
