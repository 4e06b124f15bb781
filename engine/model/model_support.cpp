// SPDX-License-Identifier: MIT
#include "engine/model/model_support.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "toolkit/wide_string.h"

namespace tidewell::model {
namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 as a date-time

bool IsWideSpace(char16_t c) { return c <= 32 || c == 0x00A0 || c == 0x3000 || (c >= 0x2000 && c <= 0x200B); }

std::string InList(const std::string& column, const TDynIntArray& ids, size_t from, size_t to) {
  std::string text = column + " in (";
  for (size_t i = from; i < to; ++i) text += (i > from ? "," : "") + std::to_string(ids[i]);
  return text + ")";
}

// The UTF-8 bytes of a code point; codes outside Unicode give nothing.
std::string CodePointUtf8(unsigned long code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
  std::u16string wide;
  if (code < 0x10000) {
    wide.push_back(static_cast<char16_t>(code));
  } else {
    code -= 0x10000;
    wide.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    wide.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  }
  return kt::WideToUtf8(wide);
}

// The text a reference name stands for; empty when it is no reference.
std::string ReferenceText(const std::string& name) {
  if (name == "amp") return "&";
  if (name == "lt") return "<";
  if (name == "gt") return ">";
  if (name == "quot") return "\"";
  if (name == "apos") return "'";
  if (name.size() < 2 || name[0] != '#') return {};
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return {};
  char* end = nullptr;
  const unsigned long code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
  if (*end != '\0') return {};
  return CodePointUtf8(code);
}

}  // namespace

std::string PagingClause(int32_t skip, int32_t count) {
  if (count <= 0) return {};
  return " FIRST(" + std::to_string(count) + ") SKIP(" + std::to_string(skip) + ") ";
}

std::string CommaList(const TDynIntArray& ids) {
  std::string text;
  for (size_t i = 0; i < ids.size(); ++i) text += (i > 0 ? "," : "") + std::to_string(ids[i]);
  return text;
}

std::string InListCondition(const std::string& column, const TDynIntArray& ids) {
  if (ids.size() <= kMaxInListValues) return column + " in (" + CommaList(ids) + ")";
  std::string text = "(";
  for (size_t from = 0; from < ids.size(); from += kMaxInListValues) {
    const size_t to = std::min(ids.size(), from + kMaxInListValues);
    text += (from > 0 ? " or " : "") + InList(column, ids, from, to);
  }
  return text + ")";
}

TDateTime DateTimeOrMinusOne(const db::Field& field) { return field.IsNull() ? -1.0 : field.AsDateTime(); }

TDateTime UtcNow() {
  using namespace std::chrono;
  const double ms = static_cast<double>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
  return kUnixEpochDays + ms / 86400000.0;
}

std::u16string StripTagsAndTrim(const std::u16string& text) {
  std::u16string out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find(u'<', pos);
    const size_t close = open == std::u16string::npos ? open : text.find(u'>', open);
    if (close == std::u16string::npos) {
      out.append(text, pos, std::u16string::npos);
      break;
    }
    out.append(text, pos, open - pos);
    pos = close + 1;
  }
  size_t first = 0;
  size_t last = out.size();
  while (first < last && IsWideSpace(out[first])) ++first;
  while (last > first && IsWideSpace(out[last - 1])) --last;
  return out.substr(first, last - first);
}

void DecodeCharacterReferences(std::string& text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t amp = text.find('&', pos);
    const size_t semi = amp == std::string::npos ? amp : text.find(';', amp);
    if (semi == std::string::npos) break;
    const std::string replacement = ReferenceText(text.substr(amp + 1, semi - amp - 1));
    out.append(text, pos, amp - pos);
    // A bare "&" stays, and the scan goes on right after it.
    out += replacement.empty() ? std::string("&") : replacement;
    pos = replacement.empty() ? amp + 1 : semi + 1;
  }
  out.append(text, std::min(pos, text.size()), std::string::npos);
  text = std::move(out);
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace tidewell::model

namespace tidewell::model {

void SetSqlLines(TQueryWrapper* query, const std::vector<std::string>& lines) {
  SafeCloseQuery(query);
  query->SQL.Clear();
  for (const std::string& line : lines) query->SQL.Add(line);
}

void ExecLines(TQueryWrapper* query, const std::vector<std::string>& lines) {
  SetSqlLines(query, lines);
  ExecQueryTimed(query, false);
}

}  // namespace tidewell::model
