// SPDX-License-Identifier: MIT
#include "engine/db/sql_text.h"

#include <cctype>

namespace tidewell::db {
namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Matches `word` (case-insensitively) at `at` after optional blanks; moves
// `at` past it on success.
bool Expect(std::string_view sql, size_t& at, std::string_view word) {
  size_t pos = at;
  while (pos < sql.size() && IsBlank(sql[pos])) ++pos;
  if (sql.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(sql[pos + i])) != word[i]) return false;
  at = pos + word.size();
  return true;
}

bool EndsWithSubstringOpen(std::string_view before) {
  while (!before.empty() && IsBlank(before.back())) before.remove_suffix(1);
  if (before.empty() || before.back() != '(') return false;
  before.remove_suffix(1);
  while (!before.empty() && IsBlank(before.back())) before.remove_suffix(1);
  constexpr std::string_view kWord = "substring";
  if (before.size() < kWord.size()) return false;
  const std::string_view tail = before.substr(before.size() - kWord.size());
  for (size_t i = 0; i < kWord.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(tail[i])) != kWord[i]) return false;
  return before.size() == kWord.size() || !std::isalnum(static_cast<unsigned char>(before[before.size() - kWord.size() - 1]));
}

int32_t CutLengthAfter(std::string_view sql, size_t at) {
  if (!Expect(sql, at, "from") || !Expect(sql, at, "1") || !Expect(sql, at, "for")) return 0;
  while (at < sql.size() && IsBlank(sql[at])) ++at;
  int64_t length = 0;
  const size_t digits = at;
  while (at < sql.size() && std::isdigit(static_cast<unsigned char>(sql[at])) && length < 1000000)
    length = length * 10 + (sql[at++] - '0');
  if (at == digits || !Expect(sql, at, ")")) return 0;
  return static_cast<int32_t>(length);
}

// Past a quoted text or a comment that starts at `at`, or `at` itself.
size_t SkipQuotedOrComment(std::string_view sql, size_t at) {
  const char c = sql[at];
  if (c == '\'' || c == '"') {
    const size_t end = sql.find(c, at + 1);
    return end == std::string_view::npos ? sql.size() : end + 1;
  }
  if (sql.compare(at, 2, "--") == 0) {
    const size_t end = sql.find('\n', at);
    return end == std::string_view::npos ? sql.size() : end + 1;
  }
  if (sql.compare(at, 2, "/*") == 0) {
    const size_t end = sql.find("*/", at + 2);
    return end == std::string_view::npos ? sql.size() : end + 2;
  }
  return at;
}

}  // namespace

void SqlText::Add(std::string_view line) {
  lines_.emplace_back(line);
  ++version_;
}

void SqlText::Clear() {
  lines_.clear();
  ++version_;
}

void SqlText::SetText(std::string_view text) {
  lines_.clear();
  if (!text.empty()) lines_.emplace_back(text);
  ++version_;
}

std::string SqlText::Text() const {
  std::string text;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines_[i];
  }
  return text;
}

std::vector<int32_t> SubstringCutLengths(std::string_view sql) {
  std::vector<int32_t> lengths;
  size_t at = 0;
  while (at < sql.size()) {
    const size_t skipped = SkipQuotedOrComment(sql, at);
    if (skipped != at) {
      at = skipped;
      continue;
    }
    if (sql[at] == '?')
      lengths.push_back(EndsWithSubstringOpen(sql.substr(0, at)) ? CutLengthAfter(sql, at + 1) : 0);
    ++at;
  }
  return lengths;
}

}  // namespace tidewell::db
