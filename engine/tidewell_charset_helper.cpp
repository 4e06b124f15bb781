// SPDX-License-Identifier: MIT
#include "engine/tidewell_charset_helper.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace tidewell {
namespace {

constexpr size_t kDeclarationWindow = 1024;
constexpr const char* kUtf8Prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string ReadAll(kt::TStream& input) {
  input.SetPosition(0);
  std::string bytes(static_cast<size_t>(input.Size()), '\0');
  if (!bytes.empty()) input.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

std::string LowerTrimmed(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The encoding named by "encoding=" in the head of the document. The value
// ends at a double quote or "?"; a single quote ends it too, since XML allows
// either quote around it.
std::optional<std::string> DeclaredEncoding(const std::string& bytes) {
  const std::string head = LowerTrimmed(bytes.substr(0, std::min(bytes.size(), kDeclarationWindow)));
  const auto at = head.find("encoding=");
  if (at == std::string::npos) return std::nullopt;
  const size_t start = at + 9 + 1;
  if (start > head.size()) return std::nullopt;
  const auto end = head.find_first_of("\"?'", start);
  if (end == std::string::npos) return std::nullopt;
  const std::string value = head.substr(start, end - start);
  if (value.size() < 3) return std::nullopt;
  return value;
}

// The bytes converted to UTF-8; nothing when the encoding is unknown or the
// bytes are not valid in it.
std::optional<std::string> ToUtf8(const std::string& bytes, const std::string& encoding) {
  iconv_t converter = iconv_open("UTF-8", encoding.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(bytes.size() * 4 + 16, '\0');
  char* in_ptr = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* out_ptr = out.data();
  size_t out_left = out.size();
  const size_t result = iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(converter);
  if (result == static_cast<size_t>(-1)) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

// The root element's markup, as the document holds it; empty when the text
// is no XML document.
std::string RootElementMarkup(const std::string& utf8) {
  pugi::xml_document document;
  const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata;
  if (!document.load_buffer(utf8.data(), utf8.size(), options, pugi::encoding_utf8)) return "";
  const pugi::xml_node root = document.document_element();
  if (!root) return "";
  std::ostringstream markup;
  root.print(markup, "", pugi::format_raw, pugi::encoding_utf8);
  return markup.str();
}

}  // namespace

bool ConvertXmlToUtf8(kt::TStream& input, kt::TStream& output) {
  const std::string bytes = ReadAll(input);
  const std::optional<std::string> encoding = DeclaredEncoding(bytes);
  if (!encoding) return false;
  input.SetPosition(0);
  const std::optional<std::string> utf8 = ToUtf8(bytes, *encoding);
  const std::string markup = utf8 ? RootElementMarkup(*utf8) : "";
  if (!markup.empty()) {
    const std::string text = kUtf8Prolog + markup;
    output.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  }
  output.SetPosition(0);
  return true;
}

}  // namespace tidewell
