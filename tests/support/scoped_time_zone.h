// SPDX-License-Identifier: MIT
// Puts the process in a time zone (a POSIX TZ text, for example
// "CET-1CEST,M3.5.0,M10.5.0/3") for the life of the object, then restores
// the zone it found. Not for tests that run threads reading the zone.
#pragma once

#include <optional>
#include <string>

namespace testing_support {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

// Zones whose rules the tests rely on; none needs the system's zone files.
inline constexpr const char* kZoneUtc = "UTC0";
inline constexpr const char* kZoneIndia = "IST-5:30";                   // +05:30, no daylight saving
inline constexpr const char* kZoneCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";
inline constexpr const char* kZoneAlwaysDaylight = "XST-1XDT,J1/0,J365/25";  // +01, +02 all year round

}  // namespace testing_support
