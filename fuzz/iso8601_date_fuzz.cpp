// SPDX-License-Identifier: MIT
#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzzing::TextOf(data, size);
  double offset = 0;
  std::string zone;
  if (fuzzing::ParsesOrRefuses([&] { return tidewell::ParseISO8601Date(text, offset, zone); })) {
    if (zone.empty() || zone[0] != '*' || zone.size() > 20 || !(std::fabs(offset) < 1.0)) fuzzing::Broken();
  }
  return 0;
}
