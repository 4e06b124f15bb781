// SPDX-License-Identifier: MIT
// Small routines the data-model collections share: SQL pieces, column
// reading, the clock, display texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/tidewell_struct.h"

namespace tidewell::model {

// Firebird refuses an IN list of more than this many values.
constexpr size_t kMaxInListValues = 1500;

// " FIRST(count) SKIP(skip) " when count is above 0, else empty.
std::string PagingClause(int32_t skip, int32_t count);
// "column in (ids)"; a list longer than the engine takes becomes
// "(column in (...) or column in (...))", selecting the same rows.
std::string InListCondition(const std::string& column, const TDynIntArray& ids);
// The date-time of the field, -1.0 when it is null.
TDateTime DateTimeOrMinusOne(const db::Field& field);
// The current time, UTC, as a date-time.
TDateTime UtcNow();
// Everything from "<" through the next ">" removed, then trimmed of white
// space; an unclosed "<" and what follows it stay.
std::u16string StripTagsAndTrim(const std::u16string& text);
// Upper-cased ASCII letters.
std::string UpperAscii(std::string text);

}  // namespace tidewell::model

namespace tidewell::model {

// Closes the statement (failures swallowed) and sets its text to the lines.
void SetSqlLines(TQueryWrapper* query, const std::vector<std::string>& lines);
// SetSqlLines, then runs it as a plain statement.
void ExecLines(TQueryWrapper* query, const std::vector<std::string>& lines);

}  // namespace tidewell::model
