// SPDX-License-Identifier: MIT
// Turns an OpenSearch URL template into the URL of one query.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "toolkit/wide_string.h"

namespace tidewell {

class TOpenSearchFileParser {
 public:
  TOpenSearchFileParser() = default;
  virtual ~TOpenSearchFileParser() = default;

  // The template with every placeholder replaced, all occurrences and in
  // any letter case, in this order: {searchTerms} (the terms as UTF-8, then
  // URL-encoded), {startPage}, {startIndex}, {language}, {inputEncoding},
  // {outputEncoding}, {count}. Numbers are written in decimal.
  static void BuildUrl(const std::string& urlTemplate, const kt::WideString& searchTerms, int32_t startPage,
                       int32_t startIndex, int32_t count, const std::string& language,
                       const std::string& inputEncoding, const std::string& outputEncoding, std::string& result);
  static std::string BuildUrl(const std::string& urlTemplate, const kt::WideString& searchTerms, int32_t startPage,
                              int32_t startIndex, int32_t count, const std::string& language,
                              const std::string& inputEncoding, const std::string& outputEncoding);

  // Percent-encodes every byte but ASCII letters, digits and "-_.~".
  static std::string EncodeQueryText(const std::string& utf8);

 private:
  // The one object that the parser holds; freed with it.
  std::unique_ptr<std::string> document_;
};

}  // namespace tidewell
