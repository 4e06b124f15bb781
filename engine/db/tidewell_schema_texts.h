// SPDX-License-Identifier: MIT
// The database schema as data: the 22 tables in creation order, their id
// generators, indexes, the keyword-cache triggers and the text-search
// functions, and the SQL texts built from them. Pure text, no database.
#pragma once

#include <string>
#include <vector>

namespace tidewell {

constexpr int kSchemaVersion = 1029;
constexpr const char* kSchemaVersionText = "1029";
// The most characters an enclosure URL keeps: the widest text column the
// database holds in UTF-8 (32765 bytes). Signed addresses run to thousands.
constexpr int kEnclosureUrlCharacters = 8191;
// A database recording less (or nothing) gets the column checks first and
// is then treated as this version.
constexpr int kOldestUpgradableVersion = 1001;

struct TableColumn {
  const char* name;
  // As the schema states it: "INTEGER PRIMARY KEY", "VARCHAR(512) UTF8",
  // "BLOB (sub-type 0)", "BLOB SUB_TYPE TEXT UTF8", ...
  const char* type;
  const char* defaultValue;  // "" for none
  bool notNull;
};

struct TableDefinition {
  const char* name;
  const char* generatedColumn;  // "" when the table has no id generator
  std::vector<TableColumn> columns;
};

struct IndexDefinition {
  const char* table;
  const char* columns;
  const char* name;
  bool unique;
  bool descending;
};

// The 22 tables in creation order (the order of the version check too).
const std::vector<TableDefinition>& SchemaTables();
// The 36 indexes in creation order.
const std::vector<IndexDefinition>& SchemaIndexes();

std::string CreateTableSql(const TableDefinition& table);
std::string CreateGeneratorSql(const std::string& table);
std::string CreateIdTriggerSql(const std::string& table, const std::string& column);
// The index name: explicit, or "IDX_" + table + "_" + suffix. A table name
// ending in the marker "#DINDX" asks for a descending index; the marker is
// dropped from both names.
std::string IndexName(const std::string& table, const std::string& explicitName, const std::string& suffix);
std::string CreateIndexSql(const std::string& table, const std::string& columns, const std::string& explicitName,
                           bool unique, const std::string& suffix);
constexpr const char* kDescendingIndexMarker = "#DINDX";

// The trigger that appends a keyword to Articles.keywordCache, and the one
// that rebuilds the cache after a keyword is taken from an article; in their
// CREATE or ALTER form.
std::string KeywordCacheTriggerSql(bool alter);
std::string KeywordDeleteTriggerSql(bool alter);

// The three text-search functions that filters call on UTF-8 text blobs:
// F_UTF8BLOBSEARCH (1-based position of the text, case-insensitive, 0 when
// absent), F_UTF8BlobSearchExt (the same, case-sensitive) and
// F_UTF8BlobEndsWith (1 when the blob ends with the text, case-insensitive,
// else 0). NULL arguments count as "not found".
std::vector<std::string> TextSearchFunctionSql();

}  // namespace tidewell
