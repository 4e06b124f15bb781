// SPDX-License-Identifier: MIT
// The entity decoder never grows a text, never touches one without "&", and
// every name maps to a code from 0 to 255.
#include "engine/tidewell_utilities.h"
#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzzing::TextOf(data, size);
  std::string decoded = text;
  tidewell::DecodeHtmlEntities(decoded);
  if (decoded.size() > text.size()) fuzzing::Broken();
  if (text.find('&') == std::string::npos && decoded != text) fuzzing::Broken();
  const int code = tidewell::HtmlEntityToChar(text);
  if (code < 0 || code > 255) fuzzing::Broken();
  return 0;
}
