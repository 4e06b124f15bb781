// SPDX-License-Identifier: MIT
#include "platform/time_zone.h"

#include <time.h>

namespace platform {

TimeZoneInfo CurrentTimeZoneInfo() {
  TimeZoneInfo info;
  ::tzset();
  const time_t now = ::time(nullptr);
  struct tm local {};
  if (::localtime_r(&now, &local) == nullptr) return info;
  const int32_t biasNow = static_cast<int32_t>(-local.tm_gmtoff / 60);
  if (local.tm_isdst > 0) {
    // glibc's `timezone` holds the standard offset (seconds west) of the zone.
    info.state = TimeZoneState::kDaylight;
    info.baseBias = static_cast<int32_t>(::timezone / 60);
    info.daylightBias = biasNow - info.baseBias;
  } else {
    info.state = local.tm_isdst == 0 ? TimeZoneState::kStandard : TimeZoneState::kUnknown;
    info.baseBias = biasNow;
  }
  return info;
}

}  // namespace platform
