// SPDX-License-Identifier: MIT
#include "engine/net/open_search_file_parser.h"

#include <cctype>

namespace tidewell {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Replaces every occurrence of placeholder, compared without regard to case.
std::string ReplaceAllNoCase(const std::string& text, const std::string& placeholder, const std::string& value) {
  const std::string lowerText = Lower(text);
  const std::string lowerPlaceholder = Lower(placeholder);
  std::string out;
  size_t from = 0;
  for (size_t at = lowerText.find(lowerPlaceholder); at != std::string::npos;
       at = lowerText.find(lowerPlaceholder, from)) {
    out.append(text, from, at - from);
    out += value;
    from = at + placeholder.size();
  }
  out.append(text, from, std::string::npos);
  return out;
}

}  // namespace

std::string TOpenSearchFileParser::EncodeQueryText(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

void TOpenSearchFileParser::BuildUrl(const std::string& urlTemplate, const kt::WideString& searchTerms,
                                     int32_t startPage, int32_t startIndex, int32_t count,
                                     const std::string& language, const std::string& inputEncoding,
                                     const std::string& outputEncoding, std::string& result) {
  result = ReplaceAllNoCase(urlTemplate, "{searchTerms}", EncodeQueryText(kt::WideToUtf8(searchTerms)));
  result = ReplaceAllNoCase(result, "{startPage}", std::to_string(startPage));
  result = ReplaceAllNoCase(result, "{startIndex}", std::to_string(startIndex));
  result = ReplaceAllNoCase(result, "{language}", language);
  result = ReplaceAllNoCase(result, "{inputEncoding}", inputEncoding);
  result = ReplaceAllNoCase(result, "{outputEncoding}", outputEncoding);
  result = ReplaceAllNoCase(result, "{count}", std::to_string(count));
}

std::string TOpenSearchFileParser::BuildUrl(const std::string& urlTemplate, const kt::WideString& searchTerms,
                                            int32_t startPage, int32_t startIndex, int32_t count,
                                            const std::string& language, const std::string& inputEncoding,
                                            const std::string& outputEncoding) {
  std::string result;
  BuildUrl(urlTemplate, searchTerms, startPage, startIndex, count, language, inputEncoding, outputEncoding, result);
  return result;
}

}  // namespace tidewell
