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

namespace {

TSchemaStepHook& SchemaStepHook() {
  static TSchemaStepHook hook;
  return hook;
}

}  // namespace

void SetSchemaStepHook(TSchemaStepHook hook) { SchemaStepHook() = std::move(hook); }

void TtidewellGenerateTables::CreateMissingTables() {
  created_tables_ = 0;
  const TSchemaStepHook& hook = SchemaStepHook();
  for (const TableDefinition& table : SchemaTables()) {
    if (Contains(existing_tables_, UpperCased(table.name))) continue;
    transaction_->StartTransaction();
    try {
      CreateTable(table);
      SafeCloseQuery(query_);
      if (hook) hook(static_cast<int>(existing_tables_.size()), false);
      transaction_->Commit();
    } catch (...) {
      RollbackQuietly();
      throw;
    }
    existing_tables_.push_back(UpperCased(table.name));
    ++created_tables_;
    if (hook) hook(static_cast<int>(existing_tables_.size()) - 1, true);
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

int64_t TtidewellGenerateTables::CountOf(const std::string& sql, const std::vector<std::string>& names) {
  SafeCloseQuery(query_);
  query_->SQL.SetText(sql);
  for (size_t i = 0; i < names.size(); ++i) query_->Params(static_cast<int>(i)).SetString(UpperCased(names[i]));
  ExecQueryTimed(query_, true);
  const int64_t count = query_->Eof() ? 0 : query_->Fields(0).AsInt64();
  SafeCloseQuery(query_);
  return count;
}

bool TtidewellGenerateTables::ColumnExists(const std::string& table, const std::string& column) {
  return CountOf("select count(*) from rdb$relation_fields where rdb$relation_name=? and rdb$field_name=?",
                 {table, column}) > 0;
}

bool TtidewellGenerateTables::IndexExists(const std::string& name) {
  return CountOf("select count(*) from rdb$indices where rdb$index_name=?", {name}) > 0;
}

bool TtidewellGenerateTables::TriggerExists(const std::string& name) {
  return CountOf("select count(*) from rdb$triggers where rdb$trigger_name=?", {name}) > 0;
}

int64_t TtidewellGenerateTables::ColumnCharacters(const std::string& table, const std::string& column) {
  return CountOf(
      "select coalesce(f.rdb$character_length, f.rdb$field_length) from rdb$relation_fields r\n"
      "join rdb$fields f on f.rdb$field_name=r.rdb$field_source\n"
      "where r.rdb$relation_name=? and r.rdb$field_name=?",
      {table, column});
}

void TtidewellGenerateTables::WriteVersion(int version, bool insert) {
  SafeCloseQuery(query_);
  if (insert) {
    query_->SQL.SetText("insert into Variables(type_,variableName_,value_)\nvalues(?,?,?)");
    query_->Params(0).SetString("dbVerChk");
    query_->Params(1).SetString("dbtableVer");
    query_->Params(2).SetString(std::to_string(version));
  } else {
    query_->SQL.SetText(std::string("update variables\nset value_=?\nwhere ") + kVersionCondition);
    query_->Params(0).SetString(std::to_string(version));
  }
  ExecQueryTimed(query_, false);
}

void TtidewellGenerateTables::InOwnTransaction(const std::function<void()>& work) {
  transaction_->StartTransaction();
  try {
    work();
    SafeCloseQuery(query_);
    transaction_->Commit();
  } catch (...) {
    RollbackQuietly();
    throw;
  }
}

void TtidewellGenerateTables::CheckVersion() {
  applied_steps_.clear();
  bool rowFound = false;
  bool readable = false;
  int version = 0;
  InOwnTransaction([&] {
    version = ReadRecordedVersion(rowFound, readable);
    found_version_ = version;
    if (version > kSchemaVersion) {
      // A newer program wrote this database: changing it could lose what
      // that program keeps.
      throw kt::Exception("Database schema version " + std::to_string(version) +
                          " is newer than the version this program supports (" + kSchemaVersionText + ")");
    }
    // Only tables made in this run are known to have the current shape; any
    // other database without a readable version is as old as can be.
    const bool freshSchema = !readable && created_tables_ == static_cast<int>(SchemaTables().size());
    if (freshSchema) {
      WriteVersion(kSchemaVersion, !rowFound);
      version = kSchemaVersion;
    } else if (version < kOldestUpgradableVersion) {
      if (version == 0) AddColumnWhenMissing("folders", "WEIGHT", " add weight SMALLINT  DEFAULT 0 NOT NULL");
      for (const TableDefinition& table : SchemaTables())
        AddColumnWhenMissing(table.name, "USERID", " add userid INTEGER  DEFAULT 0 NOT NULL");
      // Recorded with the columns, so that a later failure resumes with the
      // upgrade steps instead of marking the schema current.
      version = kOldestUpgradableVersion;
      WriteVersion(version, !rowFound);
    }
  });
  if (version != kSchemaVersion) ApplyUpgradeSteps(version);
  InOwnTransaction([this] { ReplaceExternalTextSearchFunctions(); });
}

void TtidewellGenerateTables::EnsureKeywordTriggers(const Widening& widening) {
  // The triggers read the column being widened: they go first and come back
  // in the same transaction, so no commit ever leaves them missing.
  if (TriggerExists("ARTICLE_KEYWORDCACHE")) Run("drop trigger ARTICLE_KEYWORDCache");
  if (TriggerExists("ARTICLE_KEYWORDS_DEL")) Run("drop trigger ARTICLE_KEYWORDS_DEL");
  WidenColumn(widening);
  CreateKeywordTriggers(false);
}

void TtidewellGenerateTables::WidenColumn(const Widening& widening) {
  if (ColumnCharacters(widening.table, widening.column) < widening.characters) Run(widening.sql);
}

void TtidewellGenerateTables::AddColumn(const std::string& table, const std::string& column, const std::string& sql) {
  if (!ColumnExists(table, column)) Run(sql);
}

void TtidewellGenerateTables::CreateIndexOnce(const std::string& name, const std::string& sql) {
  if (!IndexExists(name)) Run(sql);
}

void TtidewellGenerateTables::EnsureDescendingCreatedIndex() {
  if (CountOf("select count(*) from rdb$indices where rdb$index_name=? and rdb$index_type=1",
              {"IDX_ARTICLES_CREATED"}) > 0)
    return;
  if (IndexExists("IDX_ARTICLES_CREATED")) Run("DROP INDEX IDX_ARTICLES_CREATED");
  Run("CREATE DESCENDING INDEX IDX_ARTICLES_CREATED\nON ARTICLES (CREATED)");
}

void TtidewellGenerateTables::EnsureParentFeedColumn() {
  if (ColumnExists("FEEDS", "PARENTFEED")) return;
  // A schema older than the reserved column gets the column itself.
  if (ColumnExists("FEEDS", "RESERVED"))
    Run("ALTER TABLE Feeds ALTER Reserved TO parentFeed");
  else
    Run("ALTER TABLE Feeds ADD parentFeed INTEGER DEFAULT 0 NOT NULL");
}

void TtidewellGenerateTables::EnsureCurrentKeywordTriggers() {
  for (bool cache : {true, false}) {
    const bool exists = TriggerExists(cache ? "ARTICLE_KEYWORDCACHE" : "ARTICLE_KEYWORDS_DEL");
    Run(cache ? KeywordCacheTriggerSql(exists) : KeywordDeleteTriggerSql(exists));
  }
}

// Each step checks what is there before it changes anything, so a step that
// ran before (in part or whole) runs again without harm; a failure is
// raised, never taken for "already done".
std::vector<TtidewellGenerateTables::UpgradeStep> TtidewellGenerateTables::UpgradeSteps() {
  const auto add = [this](const char* table, const char* column, const char* sql) {
    return [=, this] { AddColumn(table, column, sql); };
  };
  const auto index = [this](const char* name, const char* sql) { return [=, this] { CreateIndexOnce(name, sql); }; };
  const auto widen = [this](Widening widening) { return [=, this] { WidenColumn(widening); }; };
  // In the order the steps were written, not by number.
  return {
      {1002, widen({"FOLDERS", "FOLDERNAME", 512, "ALTER TABLE folders ALTER foldername  TYPE VARCHAR(512)"})},
      {1003, widen({"FEEDS", "PASSWORD_", 255, "ALTER TABLE feeds ALTER password_  TYPE VARCHAR(255)"})},
      {1006, [this] {
         EnsureKeywordTriggers({"ARTICLES", "KEYWORDCACHE", 3000,
                                "ALTER TABLE articles ALTER keywordcache TYPE VARCHAR(3000)"});
       }},
      {1007, [=] {
         widen({"ARTICLES", "CREATEDTZ", 20, "ALTER TABLE articles ALTER createdTZ TYPE VARCHAR(20)"})();
         widen({"ARTICLES", "MODIFIEDTZ", 20, "ALTER TABLE articles ALTER modifiedTZ TYPE VARCHAR(20)"})();
         widen({"FEEDS", "FEEDCREATEDTZ", 20, "ALTER TABLE feeds ALTER feedCreatedTZ TYPE VARCHAR(20)"})();
         widen({"FEEDS", "FEEDMODIFIEDTZ", 20, "ALTER TABLE feeds ALTER feedmodifiedTZ TYPE VARCHAR(20)"})();
       }},
      {1008, [this] {
         EnsureKeywordTriggers({"KEYWORDS", "VALUE_", 512, "ALTER TABLE keywords ALTER value_ TYPE VARCHAR(512)"});
       }},
      {1009, [this] { EnsureDescendingCreatedIndex(); }},
      {1010, add("FEEDS", "RTLENABLED", "ALTER TABLE feeds ADD rtlEnabled SmallInt DEFAULT 0 NOT NULL")},
      {1012, [this] {
         AddColumn("FOLDERS", "SUBSCRIBED", "ALTER TABLE Folders    ADD subscribed SmallInt DEFAULT 0 NOT NULL");
         AddColumn("SQLFILTERS", "SUBSCRIBED", "ALTER TABLE SQLFilters ADD subscribed SmallInt DEFAULT 0 NOT NULL");
       }},
      {1016, widen({"VARIABLES", "VALUE_", 1000, "ALTER TABLE Variables ALTER Value_ TYPE VARCHAR(1000)"})},
      {1014, [this] { EnsureParentFeedColumn(); }},
      {1017, add("ENCLOSURES", "ENCLONGDESCR",
                 "ALTER TABLE Enclosures  ADD EncLongDescr varchar(1000)  character set UTF8  DEFAULT '' NOT NULL")},
      {1018, add("ENCLOSURES", "LASTHTTPCODE", "ALTER TABLE Enclosures  ADD lastHTTPCode INTEGER  DEFAULT 0 NOT NULL")},
      {1019, [this] { EnsureCurrentKeywordTriggers(); }},
      {1020, [=] {
         index("FEEDSLINK_", "CREATE INDEX feedsLink_ ON feeds(link)")();
         index("FEEDSTYPE_", "CREATE INDEX feedsType_ ON feeds(type_)")();
         index("FEEDSLANGUAGE_", "CREATE INDEX feedsLanguage_ ON feeds(language_)")();
       }},
      {1021, add("ARTICLES", "SYNCMODIFIED", " ALTER TABLE articles ADD syncmodified TIMESTAMP")},
      {1022, add("FEEDS", "OPMLDESCR",
                 " ALTER TABLE feeds ADD OPMLdescr   VARCHAR(512)  character set UTF8  DEFAULT '' NOT NULL")},
      {1023, widen({"FEEDS", "OPMLDESCR", 3000,
                    "ALTER TABLE feeds ALTER opmldescr type varchar(3000)  character set UTF8 "})},
      {1024, index("DELINDX", "CREATE INDEX delIndx ON articles(deleted)")},
      {1025, add("FEEDS", "PRIORITY", "ALTER TABLE feeds ADD priority INTEGER  DEFAULT 0 NOT NULL")},
      {1026, index("IDX_FEEDS_5", "create index IDX_FEEDS_5 on feeds(parentFeed)")},
      {1027, [=] {
         add("ARTICLES", "COMMENTFEED_ID", "ALTER  TABLE articles\nADD commentfeed_id INTEGER  DEFAULT 0 NOT NULL")();
         index("COMMENTFEEDIDX", "CREATE INDEX commentfeedidx ON articles(commentfeed_id)")();
         index("PARENTARTIDX", "CREATE INDEX parentartidx ON articles(articles_parent)")();
       }},
      {1028, [this] { EnsureCurrentKeywordTriggers(); }},
      {1029, widen({"ENCLOSURES", "URL_", kEnclosureUrlCharacters,
                    "ALTER TABLE Enclosures ALTER url_ TYPE VARCHAR(8191)"})},
  };
}

// The version recorded after a step is the highest one whose every step has
// run: the steps are not in number order (1016 comes before 1014), and a
// step still to do must stay due at the next start.
void TtidewellGenerateTables::ApplyUpgradeSteps(int version) {
  std::vector<UpgradeStep> due;
  for (UpgradeStep& step : UpgradeSteps())
    if (version < step.target) due.push_back(std::move(step));
  for (size_t i = 0; i < due.size(); ++i) {
    applied_steps_.push_back(due[i].target);
    int recorded = kSchemaVersion;
    for (size_t later = i + 1; later < due.size(); ++later) recorded = std::min(recorded, due[later].target - 1);
    InOwnTransaction([&] {
      due[i].run();
      WriteVersion(std::max(recorded, version), false);
    });
  }
}

// Older databases declared the text-search functions as external functions
// of a module this system does not have; every filter calling them failed.
// They become the stored functions a fresh schema has, under the same names.
void TtidewellGenerateTables::ReplaceExternalTextSearchFunctions() {
  static const char* const kNames[] = {"F_UTF8BLOBSEARCH", "F_UTF8BLOBSEARCHEXT", "F_UTF8BLOBENDSWITH"};
  const std::vector<std::string> definitions = TextSearchFunctionSql();
  for (size_t i = 0; i < definitions.size(); ++i) {
    const bool external = CountOf("select count(*) from rdb$functions where rdb$function_name=? and "
                                  "(rdb$module_name is not null or rdb$legacy_flag=1)",
                                  {kNames[i]}) > 0;
    const bool missing = CountOf("select count(*) from rdb$functions where rdb$function_name=?", {kNames[i]}) == 0;
    if (external) Run(std::string("DROP EXTERNAL FUNCTION ") + kNames[i]);
    if (external || missing) Run(definitions[i]);
  }
}

}  // namespace tidewell
