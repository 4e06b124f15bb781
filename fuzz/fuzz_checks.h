// SPDX-License-Identifier: MIT
// What every date parser promises, whatever the text: a valid date-time or
// ETWInvalidDate, never another exception and never a value out of range.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/tidewell_date.h"

namespace fuzzing {

inline std::string TextOf(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

[[noreturn]] inline void Broken() { __builtin_trap(); }

inline void ExpectValidDateTime(tidewell::TDateTime value) {
  static const tidewell::TDateTime first = tidewell::EncodeDateTime(1, 1, 1);
  static const tidewell::TDateTime last = tidewell::EncodeDateTime(9999, 12, 31, 23, 59, 59, 999);
  if (!std::isfinite(value) || value < first || value > last) Broken();
}

// Runs parse(); answers whether it produced a value (checked) or refused the
// text with ETWInvalidDate. Anything else stops the run.
template <typename Parse>
bool ParsesOrRefuses(Parse parse) {
  try {
    ExpectValidDateTime(parse());
    return true;
  } catch (const tidewell::ETWInvalidDate&) {
    return false;
  } catch (...) {
    Broken();
  }
}

}  // namespace fuzzing
