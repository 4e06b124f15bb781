// SPDX-License-Identifier: MIT
#include "engine/tidewell_utilities.h"

#include <openssl/evp.h>
#include <time.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/tidewell_msg.h"
#include "engine/addresses/url_parts.h"
#include "platform/mime_types.h"
#include "platform/random.h"
#include "platform/system.h"
#include "toolkit/kt_uri.h"

namespace tidewell {
namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(char c) { return IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

std::string HexUpper(const unsigned char* bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

// ---- HTML entities ----------------------------------------------------------

struct EntityRow {
  const char* name;
  int code;
};

// Searched in order; the first 30 rows map some names onto Windows-1252
// codes, the rest are the Latin-1 entities (173 is "shy" above).
constexpr EntityRow kEntities[] = {
    {"shy", 1},        {"nbsp", 32},      {"amp", 38},      {"frasl", 47},    {"gt", 62},       {"lt", 60},
    {"quot", 34},      {"minus", 45},     {"circ", 94},     {"tilde", 126},   {"fnof", 131},    {"hellip", 133},
    {"dagger", 134},   {"Dagger", 135},   {"permil", 137},  {"Scaron", 138},  {"lsaquo", 139},  {"OElig", 140},
    {"lsquo", 145},    {"rsquo", 146},    {"ldquo", 147},   {"rdquo", 148},   {"bull", 149},    {"ndash", 45},
    {"mdash", 151},    {"trade", 153},    {"scaron", 154},  {"rsaquo", 155},  {"oelig", 156},   {"Yuml", 159},
    {"iexcl", 161},    {"cent", 162},     {"pound", 163},   {"curren", 164},  {"yen", 165},     {"brvbar", 166},
    {"sect", 167},     {"uml", 168},      {"copy", 169},    {"ordf", 170},    {"laquo", 171},   {"not", 172},
    {"reg", 174},      {"macr", 175},     {"deg", 176},     {"plusmn", 177},  {"sup2", 178},    {"sup3", 179},
    {"acute", 180},    {"micro", 181},    {"para", 182},    {"middot", 183},  {"cedil", 184},   {"sup1", 185},
    {"ordm", 186},     {"raquo", 187},    {"frac14", 188},  {"frac12", 189},  {"frac34", 190},  {"iquest", 191},
    {"Agrave", 192},   {"Aacute", 193},   {"Acirc", 194},   {"Atilde", 195},  {"Auml", 196},    {"Aring", 197},
    {"AElig", 198},    {"Ccedil", 199},   {"Egrave", 200},  {"Eacute", 201},  {"Ecirc", 202},   {"Euml", 203},
    {"Igrave", 204},   {"Iacute", 205},   {"Icirc", 206},   {"Iuml", 207},    {"ETH", 208},     {"Ntilde", 209},
    {"Ograve", 210},   {"Oacute", 211},   {"Ocirc", 212},   {"Otilde", 213},  {"Ouml", 214},    {"times", 215},
    {"Oslash", 216},   {"Ugrave", 217},   {"Uacute", 218},  {"Ucirc", 219},   {"Uuml", 220},    {"Yacute", 221},
    {"THORN", 222},    {"szlig", 223},    {"agrave", 224},  {"aacute", 225},  {"acirc", 226},   {"atilde", 227},
    {"auml", 228},     {"aring", 229},    {"aelig", 230},   {"ccedil", 231},  {"egrave", 232},  {"eacute", 233},
    {"ecirc", 234},    {"euml", 235},     {"igrave", 236},  {"iacute", 237},  {"icirc", 238},   {"iuml", 239},
    {"eth", 240},      {"ntilde", 241},   {"ograve", 242},  {"oacute", 243},  {"ocirc", 244},   {"otilde", 245},
    {"ouml", 246},     {"divide", 247},   {"oslash", 248},  {"ugrave", 249},  {"uacute", 250},  {"ucirc", 251},
    {"uuml", 252},     {"yacute", 253},   {"thorn", 254},   {"yuml", 255},
};
static_assert(std::size(kEntities) == 124);

// The longest name, "#x" numbers with leading zeros included, that is read.
constexpr size_t kMaxReferenceLength = 32;

// Characters 128-159 as the Windows-1252 code page has them (0 = unassigned).
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string CodeToUtf8(int code) {
  char32_t character = static_cast<char32_t>(code);
  if (code >= 128 && code < 160) {
    character = kWindows1252High[code - 128];
    if (character == 0) character = U'\uFFFD';
  }
  return kt::WideToUtf8(std::u16string(1, static_cast<char16_t>(character)));
}

// A number of decimal digits, or hexadecimal after "$"; -1 when malformed,
// 256 for anything above 255.
int ReadEntityNumber(std::string_view text) {
  const bool hex = text[0] == '$';
  if (hex) text.remove_prefix(1);
  if (text.empty()) return -1;
  int value = 0;
  for (char c : text) {
    if (hex ? !IsHexDigit(c) : !IsDigit(c)) return -1;
    value = value * (hex ? 16 : 10) + (hex ? HexValue(c) : c - '0');
    if (value > 255) value = 256;
  }
  return value;
}

// The entity name of a reference, with "#" numbers rewritten as
// HtmlEntityToChar reads them ("#x41" -> "$41"); empty when the reference is
// neither a known name nor a well-formed number.
std::string ReferenceName(std::string_view name) {
  if (name.empty()) return {};
  if (name[0] != '#') {
    for (const EntityRow& row : kEntities)
      if (name == row.name) return std::string(name);
    return {};
  }
  name.remove_prefix(1);
  std::string number(name);
  if (!number.empty() && (number[0] == 'x' || number[0] == 'X')) number[0] = '$';
  return !number.empty() && ReadEntityNumber(number) >= 0 ? number : std::string();
}

// ---- File names -------------------------------------------------------------

// Leaves room for "(1024)" and a longer extension within the usual 255 bytes.
constexpr size_t kMaxFileNameBytes = 240;
constexpr size_t kMaxKeptExtensionBytes = 32;

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string CutUtf8(const std::string& text, size_t bytes) {
  if (bytes >= text.size()) return text;
  while (bytes > 0 && IsUtf8Continuation(text[bytes])) --bytes;
  return text.substr(0, bytes);
}

std::string ShortenKeepingExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  const bool keepExtension = dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxKeptExtensionBytes;
  if (!keepExtension) return CutUtf8(name, kMaxFileNameBytes);
  const std::string extension = name.substr(dot);
  return CutUtf8(name.substr(0, dot), kMaxFileNameBytes - extension.size()) + extension;
}

size_t ExtensionStart(std::u16string_view name) {
  const size_t separator = name.find_last_of(u"/\\");
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos || dot + 1 >= name.size()) return std::u16string_view::npos;
  if (separator != std::u16string_view::npos && dot < separator) return std::u16string_view::npos;
  return dot;
}

std::string FileExtension(const std::string& fileName) {
  const std::u16string wide = kt::Utf8ToWide(fileName);
  const size_t dot = ExtensionStart(wide);
  return dot == std::u16string::npos ? std::string() : kt::WideToUtf8(wide.substr(dot));
}

// ---- URLs -------------------------------------------------------------------

bool StartsWithScheme(std::string_view url) {
  if (url.empty() || !IsAsciiLetter(url[0])) return false;
  size_t position = 1;
  while (position < url.size() && (IsAsciiLetter(url[position]) || IsDigit(url[position]) ||
                                   url[position] == '+' || url[position] == '-' || url[position] == '.'))
    ++position;
  return url.substr(position, 3) == "://";
}

}  // namespace

void SleepMs(int milliseconds) { platform::SleepMs(milliseconds); }

bool IsWinNT() { return true; }

// ---- Text -------------------------------------------------------------------

bool TextToBool(const std::string& text) {
  const std::string trimmed = Lower(Trim(text));
  return trimmed == "1" || trimmed == "true";
}

int StrCompare(const std::string& a, const std::string& b) { return std::strcmp(a.c_str(), b.c_str()); }

std::string IntArrayToCommaText(const TDynIntArray& ids) {
  std::string text;
  for (size_t i = 0; i < ids.size(); ++i) text += (i == 0 ? "" : ",") + std::to_string(ids[i]);
  return text;
}

void SplitSemicolonList(const std::string& text, std::vector<std::string>& list) {
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(';', start);
    const std::string part = Trim(std::string_view(text).substr(start, end - start));
    if (!part.empty()) list.push_back(part);
    if (end == std::string::npos) return;
    start = end + 1;
  }
}

WideString StripHtmlTags(const WideString& text) {
  WideString result;
  size_t position = 0;
  while (position < text.size()) {
    const size_t open = text.find(u'<', position);
    const size_t close = open == WideString::npos ? WideString::npos : text.find(u'>', open);
    if (close == WideString::npos) break;
    result.append(text, position, open - position);
    position = close + 1;
  }
  result.append(text, position, WideString::npos);
  return result;
}

uint32_t StringHash(const std::string& text) {
  uint32_t hash = 0;
  for (unsigned char byte : text) {
    hash = (hash << 4) + byte;
    const uint32_t top = hash & 0xF0000000u;
    if (top != 0) hash = (hash ^ (top >> 24)) & ~top;
  }
  return hash;
}

// ---- HTML entities ----------------------------------------------------------

int HtmlEntityToChar(const std::string& name) {
  if (name.size() > 1 && (name[0] == '$' || IsDigit(name[0]))) {
    const int value = ReadEntityNumber(name);
    return value >= 32 && value <= 255 ? value : 32;
  }
  for (const EntityRow& row : kEntities)
    if (name == row.name) return row.code;
  return 32;
}

void DecodeHtmlEntities(std::string& text) {
  // From the end, so a replaced "&" never starts another reference.
  for (size_t position = text.rfind('&'); position != std::string::npos;
       position = position == 0 ? std::string::npos : text.rfind('&', position - 1)) {
    // References are short; a bounded look keeps a text full of "&" linear.
    const size_t window = std::string_view(text).substr(position + 1, kMaxReferenceLength).find_first_of(" ;");
    if (window == std::string::npos) continue;
    const size_t end = position + 1 + window;
    if (text[end] != ';') continue;
    const std::string name = ReferenceName(std::string_view(text).substr(position + 1, end - position - 1));
    if (!name.empty()) text.replace(position, end - position + 1, CodeToUtf8(HtmlEntityToChar(name)));
  }
}

// ---- MD5 --------------------------------------------------------------------

namespace {

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

DigestContext NewMd5Context() {
  DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) throw kt::Exception("MD5 unavailable");
  return context;
}

std::string FinishMd5(EVP_MD_CTX* context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context, digest, &length) != 1) throw kt::Exception("MD5 unavailable");
  return HexUpper(digest, length);
}

}  // namespace

std::string StreamMD5Hex(kt::TStream* stream) {
  if (stream == nullptr) return {};
  DigestContext context = NewMd5Context();
  stream->SetPosition(0);
  std::array<unsigned char, 64 * 1024> block;
  for (int64_t got; (got = stream->Read(block.data(), block.size())) > 0;)
    EVP_DigestUpdate(context.get(), block.data(), static_cast<size_t>(got));
  return FinishMd5(context.get());
}

std::string BytesMD5Hex(std::string_view bytes) {
  DigestContext context = NewMd5Context();
  EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
  return FinishMd5(context.get());
}

// ---- SQL --------------------------------------------------------------------

std::string SqlPagingPrefix(int32_t count, int32_t skip) {
  if (count <= 0) return {};
  return " FIRST(" + std::to_string(count) + ") SKIP(" + std::to_string(skip) + ") ";
}

std::string SqlPagingSuffix(int32_t, int32_t) { return {}; }

// ---- URLs -------------------------------------------------------------------

std::string UrlEncodeChars(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  // "%" is encoded too, or "100%41" could not be told from an encoded "A".
  static const std::string_view kReserved = "%&/:;<=>?\\";
  std::string encoded;
  for (unsigned char c : text) {
    if (c >= 33 && c <= 126 && kReserved.find(static_cast<char>(c)) == std::string_view::npos) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kDigits[c >> 4];
      encoded += kDigits[c & 0x0F];
    }
  }
  return encoded;
}

std::string TrimTrailingUrlMarks(const std::string& text) {
  std::string trimmed = Trim(text);
  while (!trimmed.empty() && (trimmed.back() == '%' || trimmed.back() == '?')) trimmed.pop_back();
  return trimmed;
}

bool IsHttpUrl(const std::string& text) {
  const std::string lower = Lower(Trim(text));
  return StartsWith(lower, "http://") || StartsWith(lower, "https://");
}

bool IsHttpsUrl(const std::string& text) { return StartsWith(Lower(Trim(text)), "https:"); }

std::string GetUrlProtocol(const std::string& url) { return TUrlParts::Split(url).protocol; }

void SplitUrl(const std::string& url, std::string& hostUrl, std::string& baseUrl) {
  hostUrl.clear();
  baseUrl.clear();
  if (Trim(url).empty()) return;
  const TUrlParts parts = TUrlParts::Split(url);
  // The port stays: a base without it would send relative links elsewhere.
  const std::string hostPort = parts.port.empty() ? parts.host : parts.host + ":" + parts.port;
  hostUrl = hostPort;
  if (!parts.protocol.empty()) {
    baseUrl = parts.protocol + "://";
    if (!parts.host.empty()) hostUrl = baseUrl + hostPort;
  }
  baseUrl += hostPort + parts.path;
  if (baseUrl.size() > 1 && baseUrl.back() != '/') baseUrl += '/';
}

std::string ResolveUrl(const std::string& baseUrl, const std::string& url) {
  WideString resolved;
  if (kt::ResolveRelativeUri(kt::Utf8ToWide(baseUrl), kt::Utf8ToWide(url), resolved)) return kt::WideToUtf8(resolved);
  return url;
}

void NormalizeUrl(std::string& url) {
  url = Trim(url);
  if (url.empty()) RaiseMessage(kInvalidUrl);
  // "//host/f" names its host as "http://host/f" does (as libcurl reads it).
  if (!StartsWithScheme(url)) url = (url.rfind("//", 0) == 0 ? "http:" : "http://") + url;
}

std::string StripUrlScheme(const std::string& url) {
  const std::string trimmed = Trim(url);
  const std::string lower = Lower(trimmed);
  for (const char* scheme : {"http://", "ftp://", "https://"}) {
    const size_t found = lower.find(scheme);
    if (found != std::string::npos) return trimmed.substr(found + std::strlen(scheme));
  }
  return trimmed;
}

// ---- File names -------------------------------------------------------------

std::string MakeSafeFileName(const std::string& name) {
  std::string safe = name;
  for (char& c : safe)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '_';
  if (safe.find_first_not_of('.') == std::string::npos) return "download";
  return safe.size() > kMaxFileNameBytes ? ShortenKeepingExtension(safe) : safe;
}

std::string UrlDocumentToFileName(const std::string& url) {
  // The query is no part of the name: "ep.mp3?id=1" would become a file
  // whose extension is ".mp3_id=1", which nothing takes for audio.
  std::string document = TUrlParts::Split(url).document;
  document = document.substr(0, document.find('?'));
  std::string name = Trim(document);
  for (char unsafe : {'/', '\\', '*', '?', '"', '<', '>', '|', ':'})
    for (char& c : name)
      if (c == unsafe) c = '_';
  return MakeSafeFileName(name);
}

std::string ExtractContentDispositionFileName(const std::string& header) {
  const size_t found = Lower(header).find("filename=");
  if (found == std::string::npos) return {};
  std::string name;
  for (size_t i = found + 9; i < header.size(); ++i) {
    const char c = header[i];
    if (c == ';' || c == '\\' || c == '\0') break;
    if (c != '"' && c != '\'' && c != '/') name += c;
  }
  return Trim(name);
}

bool IsUsableFileExtension(const std::string& fileName) {
  const std::string extension = Lower(FileExtension(fileName));
  if (extension.size() < 2) return false;
  for (const char* refused : {".php", ".php3", ".asp", ".aspx", ".pl", ".tmp"})
    if (extension == refused) return false;
  return true;
}

std::string MakeTempDownloadFileName() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  char random[9];
  std::snprintf(random, sizeof random, "%08X", static_cast<unsigned>(platform::RandomUint32()));
  return "download" + std::to_string(local.tm_year + 1900) + std::to_string(local.tm_mon + 1) +
         std::to_string(local.tm_mday) + random + ".tmp";
}

bool IsEngineTemporaryName(const std::string& name) {
  constexpr char kPrefix[] = "download";
  constexpr char kSuffix[] = ".tmp";
  constexpr size_t kPrefixSize = sizeof kPrefix - 1;
  constexpr size_t kSuffixSize = sizeof kSuffix - 1;
  constexpr size_t kHexDigits = 8;
  if (name.size() < kPrefixSize + kSuffixSize || name.compare(0, kPrefixSize, kPrefix) != 0 ||
      name.compare(name.size() - kSuffixSize, kSuffixSize, kSuffix) != 0)
    return false;
  const std::string middle = name.substr(kPrefixSize, name.size() - kPrefixSize - kSuffixSize);
  // The year has four digits, the month and the day one or two.
  if (middle.size() < 6 + kHexDigits || middle.size() > 8 + kHexDigits) return false;
  const size_t dateDigits = middle.size() - kHexDigits;
  for (size_t i = 0; i < middle.size(); ++i) {
    const char c = middle[i];
    const bool digit = c >= '0' && c <= '9';
    if (i < dateDigits ? !digit : !(digit || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

void ExtractFileExtPos(const WideString& fileName, int32_t& position, int32_t& length, WideString& extension) {
  const size_t dot = ExtensionStart(fileName);
  if (dot == WideString::npos) {
    position = length = 0;
    extension.clear();
    return;
  }
  position = static_cast<int32_t>(dot + 1);
  length = static_cast<int32_t>(fileName.size() - dot);
  extension = fileName.substr(dot);
}

// ---- Content types ----------------------------------------------------------

std::string GetExtensionForContentType(const std::string& contentType) {
  const std::string trimmed = Trim(contentType);
  return trimmed.empty() ? std::string() : platform::MimeTypeTable::System().ExtensionFor(trimmed);
}

bool ContentTypeToExtension(const std::string& contentType, std::string& extension) {
  const std::string type = Lower(contentType);
  if (type.find("text/html") != std::string::npos) extension = ".html";
  else if (type.find("text/xml") != std::string::npos || type.find("application/xml") != std::string::npos)
    extension = ".xml";
  else if (type.find("text/plain") != std::string::npos) extension = ".txt";
  else return false;
  return true;
}

// ---- Files ------------------------------------------------------------------

bool DeleteFileUni(const WideString& fileName) { return platform::DeleteFile(kt::WideToUtf8(fileName)); }

bool FileExistsUni(const WideString& fileName) { return platform::FileExists(kt::WideToUtf8(fileName)); }

bool MoveFileUni(const WideString& oldName, const WideString& newName, uint32_t flags) {
  return platform::MoveFile(kt::WideToUtf8(oldName), kt::WideToUtf8(newName), flags);
}

bool IsFreeFileName(bool onDisk, bool namedByRow) { return !onDisk && !namedByRow; }

WideString MakeUniqueFileName(const WideString& fileName, const std::function<bool(const WideString&)>& namedByRow) {
  // Anything of that name, a folder too, would make the move fail.
  const auto onDisk = [](const WideString& name) { return platform::PathExists(kt::WideToUtf8(name)); };
  const auto named = [&](const WideString& name) { return namedByRow && namedByRow(name); };
  const bool nameOnDisk = onDisk(fileName);
  if (IsFreeFileName(nameOnDisk, !nameOnDisk && named(fileName))) return fileName;
  const size_t dot = ExtensionStart(fileName);
  const WideString stem = fileName.substr(0, dot);
  const WideString extension = dot == WideString::npos ? WideString() : fileName.substr(dot);
  constexpr int kTries = 1024;
  constexpr int kLastNumber = 1 << 20;
  for (int n = 1, tries = 0; tries < kTries && n <= kLastNumber; ++n) {
    const std::string number = "(" + std::to_string(n) + ")";
    const WideString candidate = stem + WideString(number.begin(), number.end()) + extension;
    const bool candidateOnDisk = onDisk(candidate);
    if (IsFreeFileName(candidateOnDisk, !candidateOnDisk && named(candidate))) return candidate;
    if (candidateOnDisk) ++tries;
  }
  return fileName;
}

WideString NumberedNamesPrefix(const WideString& fileName) { return fileName.substr(0, ExtensionStart(fileName)); }

}  // namespace tidewell
