// SPDX-License-Identifier: MIT
// The one root of the system's own exceptions. Every failure that the system
// raises itself carries a message text, the one a user or caller reads.
#pragma once

#include <stdexcept>
#include <string>

namespace kt {

// The general exception class: a failure with a message text (UTF-8).
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// The silent abort: callers stop what they do without reporting it.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
  explicit EAbort(const std::string& message) : Exception(message) {}
};

}  // namespace kt
