// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace tidewell {

// How long a transfer may take. A server that sends a byte now and then never
// trips the read time-out; these limits end such a transfer.
struct TTransferLimits {
  // Every transfer but enclosures, redirects included; 0: no limit.
  int32_t deadlineMs = 300000;
  // Enclosures: fewer than this many bytes per second on average over a
  // whole window fails the download; 0 in either: no check.
  int32_t lowSpeedBytesPerSecond = 1024;
  int32_t lowSpeedWindowMs = 120000;
  // What a compressed body may expand to when no quota of its job kind is
  // smaller.
  int64_t decodedBodyCeiling = 64 * 1024 * 1024;
};

}  // namespace tidewell
