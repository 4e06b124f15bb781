// SPDX-License-Identifier: MIT
#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzzing::TextOf(data, size);
  fuzzing::ParsesOrRefuses([&] { return tidewell::ParseSqlDate(text); });
  return 0;
}
