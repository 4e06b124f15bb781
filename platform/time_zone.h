// SPDX-License-Identifier: MIT
// The operating system's time-zone state at this moment, in the shape the
// engine's UTC conversions expect: biases in minutes with UTC = local + bias.
#pragma once

#include <cstdint>

namespace platform {

enum class TimeZoneState : uint8_t {
  kUnknown = 0,   // the system knows no zone: only the base bias applies
  kStandard = 1,  // standard time in force
  kDaylight = 2,  // daylight saving time in force
  kInvalid = 3,   // the system could not answer
};

struct TimeZoneInfo {
  TimeZoneState state = TimeZoneState::kInvalid;
  int32_t baseBias = 0;      // minutes west of UTC in standard time
  int32_t standardBias = 0;  // added to baseBias in standard time
  int32_t daylightBias = 0;  // added to baseBias in daylight time
};

// The zone in force for the current moment, as localtime_r reports it. Safe
// on any thread. It does not call tzset: whoever changes TZ at run time calls
// tzset once afterwards, on its own thread.
TimeZoneInfo CurrentTimeZoneInfo();

}  // namespace platform
