// SPDX-License-Identifier: MIT
// An integer and a 16-bit text carried beside a text in a string list (the
// engine keeps an enclosure id beside its URL this way).
#pragma once

#include <cstdint>

#include "toolkit/wide_string.h"

namespace tidewell {

class TDummyClass {
 public:
  TDummyClass(int32_t number, const kt::WideString& text) : number(number), text(text) {}

  int32_t number;
  kt::WideString text;
};

}  // namespace tidewell
