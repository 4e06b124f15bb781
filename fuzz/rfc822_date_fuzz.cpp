// SPDX-License-Identifier: MIT
#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzzing::TextOf(data, size);
  double offset = 0;
  std::string zone;
  if (fuzzing::ParsesOrRefuses([&] { return tidewell::ParseRFC822Date(text, offset, zone); })) {
    if (zone.compare(0, 2, "**") != 0 || !std::isfinite(offset)) fuzzing::Broken();
  }
  return 0;
}
