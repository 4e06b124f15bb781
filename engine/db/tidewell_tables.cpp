// SPDX-License-Identifier: MIT
#include "engine/db/tidewell_tables.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "engine/db/tidewell_schema_texts.h"

namespace tidewell {
namespace {

constexpr const char* kVersionCondition = "type_='dbVerChk' and variableName_='dbtableVer'";

std::string UpperCased(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

TtidewellGenerateTables::TtidewellGenerateTables(TDbConnWrapper* database)
    : database_(database), transaction_(NewTransaction(true)), query_(NewQuery(true)) {
  transaction_->SetDatabase(database_);
  query_->SetTransaction(transaction_);
  ListTables(existing_tables_);
}

TtidewellGenerateTables::~TtidewellGenerateTables() {
  RollbackQuietly();
  ReleaseQuery(query_);
  ReleaseTransaction(transaction_);
}

void TtidewellGenerateTables::Run(const std::string& sql, bool isSelect) {
  SafeCloseQuery(query_);
  query_->SQL.SetText(sql);
  ExecQueryTimed(query_, isSelect);
}

void TtidewellGenerateTables::Guarded(const std::function<void()>& step) {
  try {
    step();
  } catch (const kt::Exception&) {
    SafeCloseQuery(query_);
  }
}

void TtidewellGenerateTables::RollbackQuietly() {
  SafeCloseQuery(query_);
  try {
    if (transaction_->InTransaction()) transaction_->Rollback();
  } catch (const kt::Exception&) {
  }
}

int TtidewellGenerateTables::ListTables(std::vector<std::string>& list) {
  transaction_->StartTransaction();
  try {
    Run("SELECT RDB$RELATION_NAME as tableName FROM RDB$RELATIONS WHERE RDB$SYSTEM_FLAG = 0 AND RDB$VIEW_BLR IS NULL",
        true);
    int count = 0;
    for (; !query_->Eof(); query_->Next(), ++count) list.push_back(UpperCased(Trimmed(query_->Fields(0).AsString())));
    SafeCloseQuery(query_);
    transaction_->Commit();
    return count;
  } catch (...) {
    RollbackQuietly();
    throw;
  }
}

void TtidewellGenerateTables::CreateIdGenerator(const std::string& table, const std::string& column) {
  Run(CreateGeneratorSql(table));
  Run(CreateIdTriggerSql(table, column));
}

void TtidewellGenerateTables::CreateIndex(const std::string& table, const std::string& columns,
                                          const std::string& explicitName, bool unique, const std::string& suffix) {
  // Usually there is no such index: the drop only clears the way.
  Guarded([&] { Run("DROP INDEX " + IndexName(table, explicitName, suffix)); });
  Run(CreateIndexSql(table, columns, explicitName, unique, suffix));
}

void TtidewellGenerateTables::DeclareUdfs() {
  for (const std::string& function : TextSearchFunctionSql()) Run(function);
}

void TtidewellGenerateTables::CreateKeywordTriggers(bool alter) {
  Run(KeywordCacheTriggerSql(alter));
  Run(KeywordDeleteTriggerSql(alter));
}

void TtidewellGenerateTables::CreateTable(const TableDefinition& table) {
  Run(CreateTableSql(table));
  if (*table.generatedColumn != '\0') CreateIdGenerator(table.name, table.generatedColumn);
  for (const IndexDefinition& index : SchemaIndexes()) {
    if (std::string(index.table) != table.name) continue;
    const std::string marked = std::string(index.table) + (index.descending ? kDescendingIndexMarker : "");
    CreateIndex(marked, index.columns, index.name, index.unique, "");
  }
  if (std::string(table.name) == "Article_KeyWords") CreateKeywordTriggers(false);
  if (std::string(table.name) == "Feeds") DeclareUdfs();
}

void TtidewellGenerateTables::CreateMissingTables() {
  created_tables_ = 0;
  for (const TableDefinition& table : SchemaTables()) {
    if (Contains(existing_tables_, UpperCased(table.name))) continue;
    transaction_->StartTransaction();
    try {
      CreateTable(table);
      SafeCloseQuery(query_);
      transaction_->Commit();
    } catch (...) {
      RollbackQuietly();
      throw;
    }
    existing_tables_.push_back(UpperCased(table.name));
    ++created_tables_;
  }
  CheckVersion();
}

int TtidewellGenerateTables::ReadRecordedVersion(bool& rowFound, bool& readable) {
  Run(std::string("select value_\nfrom variables\nwhere ") + kVersionCondition, true);
  rowFound = !query_->Eof();
  int version = 0;
  readable = false;
  if (rowFound) {
    const std::string text = Trimmed(query_->Fields(0).AsString());
    const auto result = std::from_chars(text.data(), text.data() + text.size(), version);
    readable = result.ec == std::errc() && result.ptr == text.data() + text.size();
    if (!readable) version = 0;
  }
  SafeCloseQuery(query_);
  return version;
}

std::vector<std::string> TtidewellGenerateTables::ColumnNames(const std::string& table) {
  SafeCloseQuery(query_);
  query_->SQL.SetText("select * from " + table + " where 0=1");
  query_->Prepare();
  std::vector<std::string> names;
  for (int i = 0; i < query_->FieldCount(); ++i) names.push_back(UpperCased(query_->Fields(i).Name()));
  return names;
}

void TtidewellGenerateTables::AddColumnWhenMissing(const std::string& table, const std::string& column,
                                                   const std::string& addition) {
  if (Contains(ColumnNames(table), column)) return;
  Run("alter table " + table + "\n" + addition);
}

void TtidewellGenerateTables::CheckVersion() {
  applied_steps_.clear();
  transaction_->StartTransaction();
  try {
    bool rowFound = false;
    bool readable = false;
    const int version = ReadRecordedVersion(rowFound, readable);
    found_version_ = version;
    if (version > kSchemaVersion) {
      // A newer program wrote this database: changing it could lose what
      // that program keeps.
      throw kt::Exception("Database schema version " + std::to_string(version) +
                          " is newer than the version this program supports (" + kSchemaVersionText + ")");
    }
    if (!rowFound) {
      SafeCloseQuery(query_);
      query_->SQL.SetText("insert into Variables(type_,variableName_,value_)\nvalues(?,?,?)");
      query_->Params(0).SetString("dbVerChk");
      query_->Params(1).SetString("dbtableVer");
      query_->Params(2).SetString(kSchemaVersionText);
      ExecQueryTimed(query_, false);
    }
    // Only tables made in this run are known to have the current shape; any
    // other database without a readable version is as old as can be.
    const bool freshSchema = !readable && created_tables_ == static_cast<int>(SchemaTables().size());
    if (!freshSchema && version != kSchemaVersion) {
      if (version == 0) AddColumnWhenMissing("folders", "WEIGHT", " add weight SMALLINT  DEFAULT 0 NOT NULL");
      if (version < 1001)
        for (const TableDefinition& table : SchemaTables())
          AddColumnWhenMissing(table.name, "USERID", " add userid INTEGER  DEFAULT 0 NOT NULL");
      ApplyUpgradeSteps(readable ? version : 1);
      Run(std::string("update variables\nset value_='1027'\nwhere ") + kVersionCondition);
    }
    SafeCloseQuery(query_);
    transaction_->Commit();
  } catch (...) {
    RollbackQuietly();
    throw;
  }
}

void TtidewellGenerateTables::RecreateKeywordTriggers(const std::string& alteration) {
  Guarded([&] { Run("drop trigger ARTICLE_KEYWORDCache"); });
  Guarded([&] { Run("drop trigger ARTICLE_KEYWORDS_DEL"); });
  SafeCloseQuery(query_);
  if (transaction_->InTransaction()) transaction_->Commit();
  transaction_->StartTransaction();
  Guarded([&] { Run(alteration); });
  CreateKeywordTriggers(false);
}

void TtidewellGenerateTables::ApplyUpgradeSteps(int version) {
  using Statements = std::vector<std::string>;
  auto plain = [this](Statements statements) {
    return [this, statements] {
      for (const std::string& statement : statements) Run(statement);
    };
  };
  // In the order the steps were written, not by number.
  const std::vector<std::pair<int, std::function<void()>>> steps = {
      {1002, plain({"ALTER TABLE folders ALTER foldername  TYPE VARCHAR(512)"})},
      {1003, plain({"ALTER TABLE feeds ALTER password_  TYPE VARCHAR(255)"})},
      {1006, [this] { RecreateKeywordTriggers("ALTER TABLE articles ALTER keywordcache TYPE VARCHAR(3000)"); }},
      {1007, plain({"ALTER TABLE articles ALTER createdTZ TYPE VARCHAR(20)",
                    "ALTER TABLE articles ALTER modifiedTZ TYPE VARCHAR(20)",
                    "ALTER TABLE feeds ALTER feedCreatedTZ TYPE VARCHAR(20)",
                    "ALTER TABLE feeds ALTER feedmodifiedTZ TYPE VARCHAR(20)"})},
      {1008, [this] { RecreateKeywordTriggers("ALTER TABLE keywords ALTER value_ TYPE VARCHAR(512)"); }},
      {1009, plain({"DROP INDEX IDX_ARTICLES_CREATED", "CREATE DESCENDING INDEX IDX_ARTICLES_CREATED\nON ARTICLES (CREATED)"})},
      {1010, plain({"ALTER TABLE feeds ADD rtlEnabled SmallInt DEFAULT 0 NOT NULL"})},
      {1012, plain({"ALTER TABLE Folders    ADD subscribed SmallInt DEFAULT 0 NOT NULL",
                    "ALTER TABLE SQLFilters ADD subscribed SmallInt DEFAULT 0 NOT NULL"})},
      {1016, plain({"ALTER TABLE Variables ALTER Value_ TYPE VARCHAR(1000)"})},
      {1014, plain({"ALTER TABLE Feeds ALTER Reserved TO parentFeed"})},
      {1017, plain({"ALTER TABLE Enclosures  ADD EncLongDescr varchar(1000)  character set UTF8  DEFAULT '' NOT NULL"})},
      {1018, plain({"ALTER TABLE Enclosures  ADD lastHTTPCode INTEGER  DEFAULT 0 NOT NULL"})},
      {1019, [this] { CreateKeywordTriggers(true); }},
      {1020, plain({"CREATE INDEX feedsLink_ ON feeds(link)", "CREATE INDEX feedsType_ ON feeds(type_)",
                    "CREATE INDEX feedsLanguage_ ON feeds(language_)"})},
      {1021, plain({" ALTER TABLE articles ADD syncmodified TIMESTAMP"})},
      {1022, plain({" ALTER TABLE feeds ADD OPMLdescr   VARCHAR(512)  character set UTF8  DEFAULT '' NOT NULL"})},
      {1023, plain({"ALTER TABLE feeds ALTER opmldescr type varchar(3000)  character set UTF8 "})},
      {1024, plain({"CREATE INDEX delIndx ON articles(deleted)"})},
      {1025, plain({"ALTER TABLE feeds ADD priority INTEGER  DEFAULT 0 NOT NULL"})},
      {1026, plain({"create index IDX_FEEDS_5 on feeds(parentFeed)"})},
      {1027, plain({"ALTER  TABLE articles\nADD commentfeed_id INTEGER  DEFAULT 0 NOT NULL",
                    "CREATE INDEX commentfeedidx ON articles(commentfeed_id)",
                    "CREATE INDEX parentartidx ON articles(articles_parent)"})},
  };
  for (const auto& [target, step] : steps) {
    if (version < 1 || version >= target) continue;
    applied_steps_.push_back(target);
    Guarded(step);
  }
}

}  // namespace tidewell
