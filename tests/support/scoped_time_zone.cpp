// SPDX-License-Identifier: MIT
#include "support/scoped_time_zone.h"

#include <stdlib.h>
#include <time.h>

namespace testing_support {

ScopedTimeZone::ScopedTimeZone(const std::string& zone) {
  if (const char* current = ::getenv("TZ")) previous_ = current;
  ::setenv("TZ", zone.c_str(), 1);
  ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (previous_) ::setenv("TZ", previous_->c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

}  // namespace testing_support
