// SPDX-License-Identifier: MIT
#include "platform/time_zone.h"

#include <time.h>

namespace platform {
namespace {

constexpr time_t kSecondsPerDay = 24 * 60 * 60;

bool LocalTimeAt(time_t moment, struct tm& local) { return ::localtime_r(&moment, &local) != nullptr; }

// The offset (minutes west of UTC) of the zone's standard time, found at the
// next moment within a year that is not daylight time; false for a zone that
// keeps daylight time all year. Only localtime_r is asked: the globals that
// tzset fills (timezone, daylight) are not safe to read beside another thread.
bool FindStandardBias(time_t from, int32_t& bias) {
  for (int week = 1; week <= 53; ++week) {
    struct tm local {};
    if (!LocalTimeAt(from + week * 7 * kSecondsPerDay, local)) return false;
    if (local.tm_isdst == 0) {
      bias = static_cast<int32_t>(-local.tm_gmtoff / 60);
      return true;
    }
  }
  return false;
}

}  // namespace

TimeZoneInfo CurrentTimeZoneInfo() {
  TimeZoneInfo info;
  const time_t now = ::time(nullptr);
  struct tm local {};
  if (!LocalTimeAt(now, local)) return info;
  const int32_t biasNow = static_cast<int32_t>(-local.tm_gmtoff / 60);
  if (local.tm_isdst > 0) {
    info.state = TimeZoneState::kDaylight;
    // A zone without standard time is taken to be one hour ahead of it, the
    // usual daylight shift.
    constexpr int32_t kUsualDaylightBias = -60;
    if (!FindStandardBias(now, info.baseBias)) info.baseBias = biasNow - kUsualDaylightBias;
    info.daylightBias = biasNow - info.baseBias;
  } else {
    info.state = local.tm_isdst == 0 ? TimeZoneState::kStandard : TimeZoneState::kUnknown;
    info.baseBias = biasNow;
  }
  return info;
}

}  // namespace platform
