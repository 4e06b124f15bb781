// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_document.h"

#include <algorithm>

#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/exception.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {

namespace {

constexpr char kProlog[] = "<?xml version=\"1.0\" ?>";

std::string Utf16Bytes(const std::string& ascii, bool bigEndian) {
  std::string bytes;
  for (char c : ascii) {
    bytes.push_back(bigEndian ? '\0' : c);
    bytes.push_back(bigEndian ? c : '\0');
  }
  return bytes;
}

enum class TMark { kNone, kLittleEndian, kBigEndian };

TMark ByteOrderMark(const std::string& body) {
  const auto b0 = static_cast<unsigned char>(body[0]);
  const auto b1 = static_cast<unsigned char>(body[1]);
  if (b0 == 0xFF && b1 == 0xFE) return TMark::kLittleEndian;
  if (b0 == 0xFE && b1 == 0xFF) return TMark::kBigEndian;
  return TMark::kNone;
}

std::string ReplaceEuroBytes(const std::string& body) {
  if (body.find('\x80') == std::string::npos) return body;
  std::string fixed;
  fixed.reserve(body.size() + 64);
  for (char c : body) {
    if (c == '\x80')
      fixed += "&#8364;";
    else
      fixed.push_back(c);
  }
  return fixed;
}

// Encodings the parser reads itself; the rest go through re-encoding.
bool IsUtfEncoding(const std::string& upper) {
  return upper.empty() || upper == "UTF-8" || upper == "UTF8" || upper == "UTF-16" || upper == "UTF-16LE" ||
         upper == "UTF-16BE" || upper == "UTF-32" || upper == "UCS-2" || upper == "UCS-4";
}

bool IsLatin1Encoding(const std::string& upper) {
  return upper == "ISO-8859-1" || upper == "LATIN1" || upper == "LATIN-1" || upper == "US-ASCII" ||
         upper == "ASCII" || upper == "ISO_8859-1";
}

// UTF-16 and UTF-32 text starts with a mark or a zero byte among its first
// four bytes; everything else reaches the parser as UTF-8.
bool IsUtf8Candidate(const std::string& body) {
  if (body.size() >= 2 && ByteOrderMark(body) != TMark::kNone) return false;
  return body.substr(0, 4).find('\0') == std::string::npos;
}

}  // namespace

std::string FixXmlProlog(const std::string& body) {
  if (body.size() < 4) return body;
  const std::string scratch = body.substr(0, 512);
  const TMark mark = ByteOrderMark(body);
  // Big-endian text is searched and repaired in its own byte order, so that
  // the document stays readable.
  const bool bigEndian = mark == TMark::kBigEndian;
  const std::string marker = mark != TMark::kNone ? Utf16Bytes("<?xml ", bigEndian) : std::string("<?xml ");
  if (scratch.find(marker) != std::string::npos) {
    if (UpperAscii(scratch).find("\"ISO-8859-1\"") == std::string::npos) return body;
    return ReplaceEuroBytes(body);
  }
  if (mark != TMark::kNone) return body.substr(0, 2) + Utf16Bytes(kProlog, bigEndian) + body.substr(2);
  return kProlog + body;
}

void FixBareCarriageReturns(std::string& body) {
  for (size_t i = 0; i < body.size(); ++i)
    if (body[i] == '\r' && (i + 1 == body.size() || body[i + 1] != '\n')) body[i] = '\n';
}

std::string ResolveXmlBase(const std::string& value) {
  std::string hostUrl, baseUrl;
  SplitUrl(value, hostUrl, baseUrl);
  if (baseUrl.size() <= 1 || baseUrl.find("://") == std::string::npos) return {};
  const std::string host = hostUrl.substr(std::min(hostUrl.size(), hostUrl.find("://") + 3));
  if (kt::TrimW(kt::Utf8ToWide(host)).empty()) return {};
  return baseUrl;
}

std::string DeclaredXmlEncoding(const std::string& body) {
  std::string head = body.substr(0, 1024);
  head.erase(std::remove(head.begin(), head.end(), '\0'), head.end());
  const size_t prolog = head.find("<?xml");
  if (prolog == std::string::npos) return {};
  const size_t end = head.find("?>", prolog);
  const std::string declaration = head.substr(prolog, end == std::string::npos ? std::string::npos : end - prolog);
  const size_t name = declaration.find("encoding");
  if (name == std::string::npos) return {};
  size_t quote = declaration.find_first_of("\"'", name);
  if (quote == std::string::npos) return {};
  const size_t close = declaration.find(declaration[quote], quote + 1);
  if (close == std::string::npos) return {};
  return declaration.substr(quote + 1, close - quote - 1);
}

void ParseXmlBody(const std::string& body, pugi::xml_document& document, bool& encodingRefused) {
  const std::string declared = UpperAscii(kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(DeclaredXmlEncoding(body)))));
  pugi::xml_encoding encoding = pugi::encoding_auto;
  if (IsLatin1Encoding(declared)) {
    encoding = pugi::encoding_latin1;
  } else if (!IsUtfEncoding(declared)) {
    encodingRefused = true;
    throw kt::Exception("Unsupported document encoding (" + declared + ")");
  }
  // The parser passes bytes that form no UTF-8 through, and the database
  // refuses them; they become U+FFFD like every other undecodable byte.
  std::string repaired;
  const std::string* text = &body;
  if (encoding == pugi::encoding_auto && IsUtf8Candidate(body)) {
    repaired = kt::WideToUtf8(kt::Utf8ToWide(body));
    if (repaired != body) text = &repaired;
  }
  const pugi::xml_parse_result result =
      document.load_buffer(text->data(), text->size(), pugi::parse_default, encoding);
  if (!result) encodingRefused = false;
  if (!result)
    throw kt::Exception(std::string("XML parse error: ") + result.description() + " at offset " +
                        std::to_string(result.offset));
}

}  // namespace tidewell
