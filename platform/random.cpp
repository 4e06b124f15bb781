// SPDX-License-Identifier: MIT
#include "platform/random.h"

#include <sys/random.h>

#include <atomic>
#include <chrono>

namespace platform {

uint32_t RandomUint32() {
  uint32_t value = 0;
  if (::getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
  // Without the kernel's source, a counter mixed with the clock still keeps
  // the names of one process apart.
  static std::atomic<uint32_t> counter{0};
  const auto ticks = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  uint64_t mixed = ticks ^ (static_cast<uint64_t>(counter.fetch_add(1)) * 0x9E3779B97F4A7C15ULL);
  mixed ^= mixed >> 29;
  mixed *= 0xBF58476D1CE4E5B9ULL;
  return static_cast<uint32_t>(mixed ^ (mixed >> 32));
}

}  // namespace platform
