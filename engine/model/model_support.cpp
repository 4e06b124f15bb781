// SPDX-License-Identifier: MIT
#include "engine/model/model_support.h"

#include <algorithm>

#include "engine/tidewell_date.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/kt_utils.h"

namespace tidewell::model {
namespace {

std::string InList(const std::string& column, const TDynIntArray& ids, size_t from, size_t to) {
  return column + " in (" +
         IntArrayToCommaText(TDynIntArray(ids.begin() + static_cast<std::ptrdiff_t>(from),
                                          ids.begin() + static_cast<std::ptrdiff_t>(to))) +
         ")";
}

}  // namespace

std::string PagingClause(int32_t skip, int32_t count) { return SqlPagingPrefix(count, skip); }

std::string InListCondition(const std::string& column, const TDynIntArray& ids) {
  if (ids.size() <= kMaxInListValues) return InList(column, ids, 0, ids.size());
  std::string text = "(";
  for (size_t from = 0; from < ids.size(); from += kMaxInListValues) {
    const size_t to = std::min(ids.size(), from + kMaxInListValues);
    text += (from > 0 ? " or " : "") + InList(column, ids, from, to);
  }
  return text + ")";
}

TDateTime DateTimeOrMinusOne(const db::Field& field) { return field.IsNull() ? -1.0 : field.AsDateTime(); }

TDateTime UtcNow() { return LocalTimeToUTC(Now()); }

std::u16string StripTagsAndTrim(const std::u16string& text) { return kt::TrimW(StripHtmlTags(text)); }

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
