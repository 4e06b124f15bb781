// SPDX-License-Identifier: MIT
#include "engine/host_name.h"

#include <arpa/inet.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "engine/utf8_text.h"

namespace tidewell {
namespace {

constexpr uint32_t kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700, kInitialBias = 72, kInitialN = 128;
constexpr uint32_t kLastCodePoint = 0x10FFFF;

uint32_t Adapt(uint32_t delta, uint32_t points, bool first) {
  delta = first ? delta / kDamp : delta / 2;
  delta += delta / points;
  uint32_t k = 0;
  for (; delta > ((kBase - kTMin) * kTMax) / 2; k += kBase) delta /= kBase - kTMin;
  return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

uint32_t Threshold(uint32_t k, uint32_t bias) { return k <= bias ? kTMin : k >= bias + kTMax ? kTMax : k - bias; }

char Digit(uint32_t d) { return static_cast<char>(d < 26 ? 'a' + d : '0' + d - 26); }

int DigitValue(char c) {
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= '0' && c <= '9') return c - '0' + 26;
  return -1;
}

char LowerAsciiChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAsciiChar(c);
  return lower;
}

bool StartsWithAcePrefix(std::string_view label) {
  return label.size() > 4 && LowerAscii(label.substr(0, 4)) == "xn--";
}

// Valid UTF-8 (checked before) as code points.
std::u32string CodePoints(std::string_view text) {
  std::u32string points;
  for (size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) point = (point << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    points.push_back(point);
    at += length;
  }
  return points;
}

// Letters of every script lowered by the C.UTF-8 table, whatever locale
// the process runs in.
char32_t LowerCodePoint(char32_t point) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (point < 0x80) return static_cast<char32_t>(LowerAsciiChar(static_cast<char>(point)));
  if (utf8 == static_cast<locale_t>(nullptr)) return point;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(point), utf8));
}

std::string CanonicalLabel(std::string_view label) {
  std::u32string points;
  if (StartsWithAcePrefix(label)) {
    if (!PunycodeDecode(label.substr(4), points)) return LowerAscii(label);
  } else {
    const bool ascii =
        std::all_of(label.begin(), label.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || !IsValidUtf8(label)) return LowerAscii(label);
    points = CodePoints(label);
  }
  for (char32_t& point : points) point = LowerCodePoint(point);
  return "xn--" + PunycodeEncode(points);
}

// RFC 5952: lower case, no leading zeros, the longest run of two or more
// zero groups (the first of equal ones) written "::", no dotted tail.
// Empty when the text is no IPv6 address.
std::string CanonicalIpv6(std::string_view inside) {
  const size_t zone = inside.find('%');
  const std::string address(inside.substr(0, zone));
  std::array<unsigned char, 16> bytes{};
  if (inet_pton(AF_INET6, address.c_str(), bytes.data()) != 1) return {};
  std::array<unsigned, 8> groups{};
  for (size_t g = 0; g < 8; ++g) groups[g] = bytes[g * 2] * 256U + bytes[g * 2 + 1];
  size_t runStart = 8, runLength = 1;
  for (size_t g = 0; g < 8; ++g) {
    size_t length = 0;
    while (g + length < 8 && groups[g + length] == 0) ++length;
    if (length > runLength) runStart = g, runLength = length;
  }
  std::string canonical;
  for (size_t g = 0; g < 8; ++g) {
    if (g == runStart) {
      canonical += "::";
      g += runLength - 1;
      continue;
    }
    if (!canonical.empty() && canonical.back() != ':') canonical += ':';
    char hex[8];
    std::snprintf(hex, sizeof hex, "%x", groups[g]);
    canonical += hex;
  }
  return canonical + LowerAscii(zone == std::string_view::npos ? std::string_view() : inside.substr(zone));
}

}  // namespace

std::string PunycodeEncode(const std::u32string& label) {
  std::string output;
  for (char32_t point : label)
    if (point < 0x80) output += static_cast<char>(point);
  const uint32_t basic = static_cast<uint32_t>(output.size());
  if (basic > 0) output += '-';
  uint32_t n = kInitialN, delta = 0, bias = kInitialBias, handled = basic;
  while (handled < label.size()) {
    uint32_t next = kLastCodePoint + 1;
    for (char32_t point : label)
      if (point >= n && point < next) next = point;
    delta += (next - n) * (handled + 1);
    n = next;
    for (char32_t point : label) {
      if (point < n) ++delta;
      if (point != n) continue;
      uint32_t q = delta;
      for (uint32_t k = kBase;; k += kBase) {
        const uint32_t t = Threshold(k, bias);
        if (q < t) break;
        output += Digit(t + (q - t) % (kBase - t));
        q = (q - t) / (kBase - t);
      }
      output += Digit(q);
      bias = Adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return output;
}

bool PunycodeDecode(std::string_view encoded, std::u32string& label) {
  label.clear();
  const size_t dash = encoded.rfind('-');
  const size_t basic = dash == std::string_view::npos ? 0 : dash;
  for (size_t at = 0; at < basic; ++at) {
    if (static_cast<unsigned char>(encoded[at]) >= 0x80) return false;
    label.push_back(static_cast<char32_t>(encoded[at]));
  }
  uint64_t n = kInitialN, i = 0;
  uint32_t bias = kInitialBias;
  for (size_t at = basic > 0 ? basic + 1 : 0; at < encoded.size();) {
    const uint64_t oldI = i;
    uint64_t weight = 1;
    for (uint32_t k = kBase;; k += kBase) {
      if (at >= encoded.size()) return false;
      const int digit = DigitValue(encoded[at++]);
      if (digit < 0) return false;
      i += static_cast<uint64_t>(digit) * weight;
      const uint32_t t = Threshold(k, bias);
      if (i > kLastCodePoint * 64ULL) return false;
      if (static_cast<uint32_t>(digit) < t) break;
      weight *= kBase - t;
    }
    const uint64_t points = label.size() + 1;
    bias = Adapt(static_cast<uint32_t>(i - oldI), static_cast<uint32_t>(points), oldI == 0);
    n += i / points;
    i %= points;
    if (n > kLastCodePoint || (n >= 0xD800 && n <= 0xDFFF)) return false;
    label.insert(label.begin() + static_cast<std::ptrdiff_t>(i), static_cast<char32_t>(n));
    ++i;
  }
  return true;
}

std::string CanonicalHostName(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    const std::string canonical = CanonicalIpv6(host.substr(1, host.size() - 2));
    return canonical.empty() ? LowerAscii(host) : "[" + canonical + "]";
  }
  std::string canonical;
  for (size_t start = 0;;) {
    const size_t dot = host.find('.', start);
    canonical += CanonicalLabel(host.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) break;
    canonical += '.';
    start = dot + 1;
  }
  return canonical;
}

}  // namespace tidewell
