// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_document.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <utility>

#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/tidewell_charset_helper.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/exception.h"
#include "toolkit/kt_utils.h"
#include "toolkit/stream.h"
#include "toolkit/wide_string.h"

namespace tidewell {

namespace {

constexpr char kProlog[] = "<?xml version=\"1.0\" ?>";

std::string TrimAscii(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

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
         upper == "ASCII" || upper == "ISO_8859-1" || upper == "ISO8859-1" || upper == "ISO_8859-1:1987" ||
         upper == "L1" || upper == "CP819" || upper == "IBM819" || upper == "ANSI_X3.4-1968" || upper == "US";
}

// UTF-16 and UTF-32 text starts with a mark or a zero byte among its first
// four bytes; everything else reaches the parser as UTF-8.
bool IsUtf8Candidate(const std::string& body) {
  if (body.size() >= 2 && ByteOrderMark(body) != TMark::kNone) return false;
  return body.substr(0, 4).find('\0') == std::string::npos;
}

// What browsers read for bytes 0x80-0x9F of documents declared ISO-8859-1
// or US-ASCII; the five bytes Windows-1252 leaves free stay C1 controls.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char16_t unit) {
  if (unit < 0x80) {
    out.push_back(static_cast<char>(unit));
  } else if (unit < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
    out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
    out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
  }
}

// The bytes in `encoding` converted to UTF-8; nothing when the encoding is
// unknown or the bytes are not valid in it.
std::optional<std::string> IconvToUtf8(const std::string& bytes, const std::string& encoding) {
  iconv_t converter = iconv_open("UTF-8", encoding.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(converter);
  if (result == static_cast<size_t>(-1)) return std::nullopt;
  out.resize(out.size() - outLeft);
  if (out.compare(0, 3, "\xEF\xBB\xBF") == 0) out.erase(0, 3);
  return out;
}

// UTF-32 and UTF-16 told by their byte-order mark or, without one, by the
// zero bytes around the "<" that every document starts with.
const char* UnicodeFormOf(const std::string& body) {
  if (body.size() < 2) return nullptr;
  const auto b = [&](size_t i) { return i < body.size() ? static_cast<unsigned char>(body[i]) : 0x100u; };
  if (b(0) == 0 && b(1) == 0 && b(2) == 0xFE && b(3) == 0xFF) return "UTF-32BE";
  if (b(0) == 0xFF && b(1) == 0xFE && b(2) == 0 && b(3) == 0) return "UTF-32LE";
  if (b(0) == 0 && b(1) == 0 && b(2) == 0 && b(3) == '<') return "UTF-32BE";
  if (b(0) == '<' && b(1) == 0 && b(2) == 0 && b(3) == 0) return "UTF-32LE";
  if (b(0) == 0xFF && b(1) == 0xFE) return "UTF-16LE";
  if (b(0) == 0xFE && b(1) == 0xFF) return "UTF-16BE";
  if (b(0) == '<' && b(1) == 0 && b(2) != 0 && b(3) == 0) return "UTF-16LE";
  if (b(0) == 0 && b(1) == '<' && b(2) == 0 && b(3) != 0) return "UTF-16BE";
  return nullptr;
}

// The declaration of a document now in UTF-8 names UTF-8.
std::string WithUtf8Declaration(std::string text) {
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || text.compare(start, 5, "<?xml") != 0) return text;
  const size_t end = text.find("?>", start);
  const size_t name = text.find("encoding", start);
  if (end == std::string::npos || name == std::string::npos || name > end) return text;
  const size_t quote = text.find_first_of("\"'", name);
  if (quote == std::string::npos || quote > end) return text;
  const size_t close = text.find(text[quote], quote + 1);
  if (close == std::string::npos || close > end) return text;
  return text.replace(quote + 1, close - quote - 1, "UTF-8");
}

bool IsXmlNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
         c == '-' || c == '.' || c >= 0x80;
}

// Whether the "&" at `at` starts an entity or character reference.
bool StartsReference(const std::string& text, size_t at) {
  size_t i = at + 1;
  if (i < text.size() && text[i] == '#') {
    ++i;
    const bool hex = i < text.size() && text[i] == 'x';
    if (hex) ++i;
    const size_t digits = i;
    while (i < text.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text[i])) != 0
                                   : (text[i] >= '0' && text[i] <= '9')))
      ++i;
    return i > digits && i < text.size() && text[i] == ';';
  }
  if (i >= text.size() || !IsXmlNameByte(static_cast<unsigned char>(text[i])) || (text[i] >= '0' && text[i] <= '9') ||
      text[i] == '-' || text[i] == '.')
    return false;
  while (i < text.size() && IsXmlNameByte(static_cast<unsigned char>(text[i]))) ++i;
  return i < text.size() && text[i] == ';';
}

// The end of a section whose "&" are not references (CDATA, comments,
// processing instructions) starting at `at`; npos when none starts there.
size_t EndOfLiteralSection(const std::string& text, size_t at) {
  static const std::pair<const char*, const char*> kSections[] = {
      {"<![CDATA[", "]]>"}, {"<!--", "-->"}, {"<?", "?>"}};
  for (const auto& [open, close] : kSections) {
    if (text.compare(at, std::strlen(open), open) != 0) continue;
    const size_t end = text.find(close, at + std::strlen(open));
    return end == std::string::npos ? text.size() : end + std::strlen(close);
  }
  return std::string::npos;
}

// Where the parser stopped, counted in lines as an editor shows them; the
// offset counts the parser's own units.
std::string ParseErrorText(const pugi::xml_parse_result& result, const std::string& text,
                           pugi::xml_encoding encoding) {
  const size_t offset = static_cast<size_t>(std::max<ptrdiff_t>(result.offset, 0));
  std::string message = std::string("XML parse error: ") + result.description();
  if (encoding == pugi::encoding_auto && !IsUtf8Candidate(text))
    return message + " at offset " + std::to_string(result.offset);
  const auto end = text.begin() + static_cast<ptrdiff_t>(std::min(offset, text.size()));
  const size_t line = 1 + static_cast<size_t>(std::count(text.begin(), end, '\n'));
  return message + " at line " + std::to_string(line) + ", offset " + std::to_string(result.offset);
}

}  // namespace

std::string Windows1252ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    AppendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : static_cast<char16_t>(byte));
  }
  return out;
}

bool IsLatin1Name(const std::string& encoding) {
  return IsLatin1Encoding(UpperAscii(kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(encoding)))));
}

std::string AnswerCharset(const std::string& contentType) {
  for (size_t at = contentType.find(';'); at != std::string::npos; at = contentType.find(';', at + 1)) {
    const size_t end = contentType.find(';', at + 1);
    const std::string parameter = TrimAscii(contentType.substr(at + 1, end == std::string::npos ? end : end - at - 1));
    if (LowerAscii(parameter.substr(0, 8)) != "charset=") continue;
    std::string value = TrimAscii(parameter.substr(8));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return {};
}

namespace {

bool HasByteOrderMark(const std::string& body) {
  return body.compare(0, 3, "\xEF\xBB\xBF") == 0 || body.compare(0, 2, "\xFF\xFE") == 0 ||
         body.compare(0, 2, "\xFE\xFF") == 0 || body.compare(0, 4, std::string("\0\0\xFE\xFF", 4)) == 0;
}

}  // namespace

std::string DecodeFeedBody(const std::string& body, const std::string& charset) {
  const char* form = UnicodeFormOf(body);
  // A byte-order mark outranks the charset parameter.
  if (!charset.empty() && !HasByteOrderMark(body)) {
    const std::string upper = UpperAscii(charset);
    std::optional<std::string> utf8;
    if (IsLatin1Encoding(upper))
      utf8 = Windows1252ToUtf8(body);
    else if (upper == "UTF-8" || upper == "UTF8")
      utf8 = body.compare(0, 3, "\xEF\xBB\xBF") == 0 ? body.substr(3) : body;
    else if (form != nullptr && (upper == "UTF-16" || upper == "UTF-32") && upper.compare(0, 6, form, 6) == 0)
      utf8 = IconvToUtf8(body, form);
    else
      utf8 = IconvToUtf8(body, charset);
    // A charset that names no encoding, or that the bytes do not follow,
    // leaves the document's own declaration to decide.
    if (utf8) return WithUtf8Declaration(*utf8);
  }
  if (form == nullptr) return body;
  std::optional<std::string> utf8 = IconvToUtf8(body, form);
  return utf8 ? WithUtf8Declaration(*utf8) : body;
}

std::string PrepareXmlBody(const std::string& raw, const std::string& contentType) {
  return FixXmlProlog(EscapeBareAmpersands(DecodeFeedBody(raw, AnswerCharset(contentType))));
}

std::string EscapeBareAmpersands(const std::string& body) {
  size_t amp = body.find('&');
  if (amp == std::string::npos) return body;
  std::string out;
  size_t copied = 0;
  for (size_t i = 0; i < body.size();) {
    const char c = body[i];
    if (c == '<') {
      const size_t end = EndOfLiteralSection(body, i);
      i = end == std::string::npos ? i + 1 : end;
      continue;
    }
    if (c == '&' && !StartsReference(body, i)) {
      out.append(body, copied, i - copied);
      out += "&amp;";
      copied = i + 1;
    }
    ++i;
  }
  if (copied == 0) return body;
  out.append(body, copied, std::string::npos);
  return out;
}

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

std::string FeedAddress(const std::string& finalUrl, const std::string& url) {
  return kt::TrimW(kt::Utf8ToWide(finalUrl)).empty() ? url : finalUrl;
}

std::string ResolveReference(const std::string& base, const std::string& reference) {
  const std::string trimmed = TrimAscii(reference);
  if (trimmed.empty() || !GetUrlProtocol(trimmed).empty()) return reference;
  if (GetUrlProtocol(base).empty()) return reference;
  return ResolveUrl(TrimAscii(base), trimmed);
}

std::string AbsoluteXmlBase(const std::string& base, const std::string& value) {
  const std::string resolved = ResolveReference(base, value);
  const size_t scheme = resolved.find("://");
  if (scheme == std::string::npos || GetUrlProtocol(resolved).empty()) return {};
  const size_t hostEnd = resolved.find_first_of("/?#", scheme + 3);
  if (TrimAscii(resolved.substr(scheme + 3, hostEnd == std::string::npos ? hostEnd : hostEnd - scheme - 3)).empty())
    return {};
  return resolved;
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

void ParseXmlBody(const std::string& body, pugi::xml_document& document, bool& encodingRefused,
                  bool latin1AsWindows1252, bool keepBlankText) {
  const std::string declared = UpperAscii(kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(DeclaredXmlEncoding(body)))));
  pugi::xml_encoding encoding = pugi::encoding_auto;
  std::string repaired;
  const std::string* text = &body;
  if (IsLatin1Encoding(declared) && latin1AsWindows1252) {
    repaired = Windows1252ToUtf8(body);
    text = &repaired;
    encoding = pugi::encoding_utf8;
  } else if (IsLatin1Encoding(declared)) {
    encoding = pugi::encoding_latin1;
  } else if (!IsUtfEncoding(declared)) {
    encodingRefused = true;
    throw kt::Exception("Unsupported document encoding (" + declared + ")");
  }
  // The parser passes bytes that form no UTF-8 through, and the database
  // refuses them; they become U+FFFD like every other undecodable byte.
  // A scan finds them: most documents have none and are not converted.
  if (encoding == pugi::encoding_auto && IsUtf8Candidate(body) && !kt::IsWellFormedUtf8(body)) {
    repaired = kt::WideToUtf8(kt::Utf8ToWide(body));
    text = &repaired;
  }
  const unsigned options = keepBlankText ? pugi::parse_default | pugi::parse_ws_pcdata : pugi::parse_default;
  const pugi::xml_parse_result result = document.load_buffer(text->data(), text->size(), options, encoding);
  if (!result) encodingRefused = false;
  if (!result) throw kt::Exception(ParseErrorText(result, *text, encoding));
}

void ParseXmlWithRepairs(std::string& body, pugi::xml_document& document, bool& encodingRefused,
                         bool keepBlankText) {
  try {
    ParseXmlBody(body, document, encodingRefused, true, keepBlankText);
    return;
  } catch (const kt::Exception&) {
    if (!encodingRefused) {
      FixBareCarriageReturns(body);
      ParseXmlBody(body, document, encodingRefused, true, keepBlankText);
      return;
    }
  }
  kt::TMemoryStream input;
  kt::TMemoryStream output;
  if (!body.empty()) input.Write(body.data(), static_cast<int64_t>(body.size()));
  input.SetPosition(0);
  if (!ConvertXmlToUtf8(input, output)) throw kt::Exception("Parser error.");
  std::string converted(static_cast<size_t>(output.Size()), '\0');
  output.SetPosition(0);
  if (!converted.empty()) output.Read(converted.data(), static_cast<int64_t>(converted.size()));
  body = converted;
  ParseXmlBody(body, document, encodingRefused, true, keepBlankText);
}

}  // namespace tidewell
