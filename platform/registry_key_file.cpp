// SPDX-License-Identifier: MIT
#include "platform/registry_key_file.h"

#include <cstdio>
#include <optional>
#include <utility>

namespace platform {
namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr char kDwordPrefix[] = "dword:";

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

size_t SkipBlanks(const std::string& line, size_t pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  return pos;
}

// Decodes one escape at line[pos] (just after the backslash) into out;
// returns the position after it. An escape we do not know stands literally,
// so hand-written paths such as C:\temp survive.
size_t DecodeEscape(const std::string& line, size_t pos, std::string& out) {
  if (pos >= line.size()) {
    out += '\\';
    return pos;
  }
  const char c = line[pos];
  switch (c) {
    case '\\': out += '\\'; return pos + 1;
    case '"': out += '"'; return pos + 1;
    case 'r': out += '\r'; return pos + 1;
    case 'n': out += '\n'; return pos + 1;
    default: break;
  }
  if (c == 'x' && pos + 2 < line.size() && HexDigit(line[pos + 1]) >= 0 && HexDigit(line[pos + 2]) >= 0) {
    out += static_cast<char>(HexDigit(line[pos + 1]) * 16 + HexDigit(line[pos + 2]));
    return pos + 3;
  }
  out += '\\';
  return pos;
}

// Reads a quoted text starting at line[pos] == '"'; sets pos after the
// closing quote. Nothing when the quote is never closed.
std::optional<std::string> ReadQuoted(const std::string& line, size_t& pos) {
  std::string out;
  size_t i = pos + 1;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c == '\\') {
      i = DecodeEscape(line, i + 1, out);
    } else {
      out += c;
      ++i;
    }
  }
  return std::nullopt;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 && c != '\t') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string NameField(const std::string& name) { return name.empty() ? "@" : Quote(name); }

std::string FormatDword(int32_t value) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<uint32_t>(value));
  return std::string(kDwordPrefix) + digits;
}

bool OnlyBlanksFrom(const std::string& line, size_t pos) { return SkipBlanks(line, pos) == line.size(); }

std::optional<int32_t> ReadDword(const std::string& line, size_t pos) {
  const size_t prefix = sizeof kDwordPrefix - 1;
  if (line.compare(pos, prefix, kDwordPrefix) != 0) return std::nullopt;
  pos += prefix;
  uint32_t value = 0;
  int digits = 0;
  for (; pos < line.size() && HexDigit(line[pos]) >= 0; ++pos, ++digits) {
    value = value * 16 + static_cast<uint32_t>(HexDigit(line[pos]));
  }
  if (digits == 0 || digits > 8 || !OnlyBlanksFrom(line, pos)) return std::nullopt;
  return static_cast<int32_t>(value);
}

// The value name at the start of a line; sets pos after it.
std::optional<std::string> ReadName(const std::string& line, size_t& pos) {
  if (line.empty()) return std::nullopt;
  if (line[0] == '@') {
    pos = 1;
    return std::string();
  }
  if (line[0] != '"') return std::nullopt;
  pos = 0;
  return ReadQuoted(line, pos);
}

}  // namespace

RegistryKeyFile RegistryKeyFile::Parse(const std::string& bytes) {
  RegistryKeyFile file;
  DecodedSettingsText decoded = DecodeSettingsText(bytes);
  file.form_ = decoded.form;
  const std::string& text = decoded.utf8;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(start, end - start);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    file.lines_.push_back(ParseLine(std::move(raw)));
    start = end + 1;
  }
  return file;
}

RegistryKeyFile::Line RegistryKeyFile::ParseLine(std::string raw) {
  Line line;
  line.raw = std::move(raw);
  size_t pos = 0;
  const auto name = ReadName(line.raw, pos);
  if (!name) return line;
  pos = SkipBlanks(line.raw, pos);
  if (pos >= line.raw.size() || line.raw[pos] != '=') return line;
  line.name = *name;
  line.type = RegistryDataType::Other;
  pos = SkipBlanks(line.raw, pos + 1);
  size_t after = pos;
  const auto quoted = pos < line.raw.size() && line.raw[pos] == '"' ? ReadQuoted(line.raw, after) : std::nullopt;
  if (quoted && OnlyBlanksFrom(line.raw, after)) {
    line.type = RegistryDataType::String;
    line.text = *quoted;
  } else if (const auto number = ReadDword(line.raw, pos)) {
    line.type = RegistryDataType::Integer;
    line.number = *number;
  }
  return line;
}

RegistryKeyFile RegistryKeyFile::NewKey(const std::string& section_name) {
  return Parse(std::string(kHeader) + "\n\n[" + section_name + "]\n");
}

std::string RegistryKeyFile::Serialize() const {
  std::string out;
  for (const Line& line : lines_) out += line.raw + "\n";
  return EncodeSettingsText(out, form_);
}

RegistryDataType RegistryKeyFile::TypeOf(const std::string& name) const {
  const Line* line = Find(name);
  return line == nullptr ? RegistryDataType::None : line->type;
}

const std::string& RegistryKeyFile::StringOf(const std::string& name) const { return Find(name)->text; }

int32_t RegistryKeyFile::IntegerOf(const std::string& name) const { return Find(name)->number; }

std::vector<std::string> RegistryKeyFile::Names() const {
  std::vector<std::string> names;
  for (const Line& line : lines_) {
    if (line.type != RegistryDataType::None && Find(line.name) == &line) names.push_back(line.name);
  }
  return names;
}

void RegistryKeyFile::SetString(const std::string& name, const std::string& value) {
  Line& line = LineFor(name);
  line.type = RegistryDataType::String;
  line.text = value;
  line.raw = NameField(line.name) + "=" + Quote(value);
}

void RegistryKeyFile::SetInteger(const std::string& name, int32_t value) {
  Line& line = LineFor(name);
  line.type = RegistryDataType::Integer;
  line.text.clear();
  line.number = value;
  line.raw = NameField(line.name) + "=" + FormatDword(value);
}

bool RegistryKeyFile::Remove(const std::string& name) {
  bool removed = false;
  for (auto it = lines_.begin(); it != lines_.end();) {
    if (it->type != RegistryDataType::None && SameName(it->name, name)) {
      it = lines_.erase(it);
      removed = true;
    } else {
      ++it;
    }
  }
  return removed;
}

const RegistryKeyFile::Line* RegistryKeyFile::Find(const std::string& name) const {
  for (const Line& line : lines_) {
    if (line.type != RegistryDataType::None && SameName(line.name, name)) return &line;
  }
  return nullptr;
}

RegistryKeyFile::Line& RegistryKeyFile::LineFor(const std::string& name) {
  if (const Line* found = Find(name)) return const_cast<Line&>(*found);
  // A file whose last line is a continuation ("\" at its end) would swallow
  // a value appended right after it.
  if (!lines_.empty() && !lines_.back().raw.empty() && lines_.back().raw.back() == '\\') lines_.push_back(Line{});
  Line line;
  line.name = name;
  lines_.push_back(std::move(line));
  return lines_.back();
}

}  // namespace platform
