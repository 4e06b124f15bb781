// SPDX-License-Identifier: MIT
// The SQL text of a statement, built line by line. Lines are joined with
// line feeds. Every change bumps Version(), which tells the statement that
// its prepared form is stale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tidewell::db {

class SqlText {
 public:
  void Add(std::string_view line);
  void Clear();
  // Replaces all lines with the text.
  void SetText(std::string_view text);
  std::string Text() const;
  bool IsEmpty() const { return lines_.empty(); }
  int Count() const { return static_cast<int>(lines_.size()); }
  uint64_t Version() const { return version_; }

 private:
  std::vector<std::string> lines_;
  uint64_t version_ = 0;
};

// For each "?" of the SQL text, in order: N when it stands in
// "substring(? from 1 for N)", else 0. Quoted texts and comments are skipped.
std::vector<int32_t> SubstringCutLengths(std::string_view sql);

}  // namespace tidewell::db
