// SPDX-License-Identifier: MIT
#include "engine/db/tidewell_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>

#include "engine/db/tidewell_schema_texts.h"
#include "support/firebird_test_database.h"

namespace tidewell {
namespace {

using testing_support::FirebirdTestDatabase;

// The page size the application creates its database with: keys of the
// wide text indexes need it.
constexpr int32_t kPageSize = 16384;

// Runs isql-fb on the file from outside and returns what it printed.
std::string RunIsql(const FirebirdTestDatabase& db, const std::string& script) {
  const std::string scriptPath = db.Folder().File("check.sql");
  std::ofstream(scriptPath) << script;
  const std::string command = "isql-fb -q -user SYSDBA '" + db.Path() + "' -i '" + scriptPath + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string output;
  std::array<char, 4096> buffer{};
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) output.append(buffer.data(), n);
  return output;
}

std::string QueryText(FirebirdTestDatabase& db, const std::string& sql) {
  std::string text;
  testing_support::RunStatement(db.Connection(), sql, [&](TQueryWrapper& row) {
    if (!row.Eof()) text = row.Fields(0).AsString();
  });
  return text;
}

std::vector<int> CreateSchema(FirebirdTestDatabase& db) {
  TtidewellGenerateTables generator(&db.Connection());
  generator.CreateMissingTables();
  return generator.AppliedSteps();
}

int64_t ColumnExists(FirebirdTestDatabase& db, const std::string& table, const std::string& column) {
  return db.QueryInt64("select count(*) from rdb$relation_fields where rdb$relation_name='" + table +
                       "' and rdb$field_name='" + column + "'");
}

int64_t IndexExists(FirebirdTestDatabase& db, const std::string& name) {
  return db.QueryInt64("select count(*) from rdb$indices where rdb$index_name='" + name + "'");
}

TEST(SchemaGeneratorTest, NewDatabaseGetsTheWholeSchemaAsSeenFromOutside) {
  FirebirdTestDatabase db(kPageSize);
  EXPECT_TRUE(CreateSchema(db).empty());
  db.Connection().Disconnect();
  const std::string output = RunIsql(db,
      "select 'T=' || count(*) from rdb$relations where rdb$system_flag=0 and rdb$view_blr is null;\n"
      "select 'G=' || count(*) from rdb$generators where rdb$system_flag=0;\n"
      "select 'TR=' || count(*) from rdb$triggers where rdb$system_flag=0;\n"
      "select 'I=' || count(*) from rdb$indices where rdb$system_flag=0 and rdb$index_name not starting 'RDB$';\n"
      "select 'U=' || count(*) from rdb$indices where rdb$unique_flag=1 and rdb$index_name not starting 'RDB$';\n"
      "select 'D=' || trim(rdb$index_name) from rdb$indices where rdb$index_type=1;\n"
      "select 'F=' || count(*) from rdb$functions where rdb$system_flag=0;\n"
      "select 'V=' || value_ from variables where type_='dbVerChk' and variableName_='dbtableVer';\n");
  for (const char* expected : {"T=22", "G=15", "TR=17", "I=36", "U=8", "D=IDX_ARTICLES_CREATED", "F=3", "V=1029"})
    EXPECT_NE(output.find(expected), std::string::npos) << expected << "\n" << output;
}

TEST(SchemaGeneratorTest, ExistingSchemaOnlyChecksTheVersion) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  TtidewellGenerateTables generator(&db.Connection());
  generator.CreateMissingTables();
  EXPECT_EQ(generator.FoundVersion(), 1029);
  EXPECT_TRUE(generator.AppliedSteps().empty());
  EXPECT_EQ(db.QueryInt64("select count(*) from variables"), 1);
}

TEST(SchemaGeneratorTest, TableInAnotherLetterCaseIsFound) {
  FirebirdTestDatabase db(kPageSize);
  std::string text = CreateTableSql(SchemaTables().front());
  text.replace(text.find("FileCache"), 9, "filecache");
  db.Execute(text);
  CreateSchema(db);
  EXPECT_EQ(db.QueryInt64("select count(*) from rdb$relations where rdb$relation_name='FILECACHE'"), 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from rdb$relations where rdb$system_flag=0 and rdb$view_blr is null"), 22);
}

TEST(SchemaGeneratorTest, IdTriggersFillKeysFromTheirGenerators) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  db.Execute("insert into feeds(title) values('a')");
  db.Execute("insert into feeds(title) values('b')");
  EXPECT_EQ(db.QueryInt64("select max(feed_id) from feeds"), 2);
  EXPECT_EQ(db.QueryInt64("select gen_id(Feeds_id_gen, 0) from rdb$database"), 2);
  db.Execute("insert into enclosures(article_id) values(1)");
  EXPECT_EQ(db.QueryInt64("select enclosure_id from enclosures"), 1);
}

class KeywordCacheTest : public ::testing::TestWithParam<int> {};

TEST_P(KeywordCacheTest, RemovingAKeywordKeepsTheOthersOnce) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  db.Execute("insert into articles(id, deleted) values(1, " + std::to_string(GetParam()) + ")");
  for (const char* word : {"a", "b", "c"}) db.Execute(std::string("insert into keywords(value_) values('") + word + "')");
  for (int keyword = 1; keyword <= 3; ++keyword)
    db.Execute("insert into article_keywords(article_id, keyword_id) values(1, " + std::to_string(keyword) + ")");
  EXPECT_EQ(QueryText(db, "select keywordCache from articles"), "a, b, c");
  db.Execute("delete from article_keywords where keyword_id=2");
  EXPECT_EQ(QueryText(db, "select keywordCache from articles"), "a, c");
}

INSTANTIATE_TEST_SUITE_P(LiveAndStubArticles, KeywordCacheTest, ::testing::Values(0, 2));

TEST(SchemaGeneratorTest, TextSearchFunctionsAnswerThroughSql) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  db.Execute("insert into articles(id, body) values(1, 'Hello W\xC3\xB6rld')");
  auto ask = [&](const std::string& expression) {
    return db.QueryInt64("select " + expression + " from articles where id=1");
  };
  EXPECT_EQ(ask("F_UTF8BLOBSEARCH('hello', body)"), 1);
  EXPECT_EQ(ask("F_UTF8BLOBSEARCH('W\xC3\x96R', body)"), 7);
  EXPECT_EQ(ask("F_UTF8BLOBSEARCH('xyz', body)"), 0);
  EXPECT_EQ(ask("F_UTF8BLOBSEARCH(null, body)"), 0);
  EXPECT_EQ(ask("F_UTF8BlobSearchExt('hello', body)"), 0);
  EXPECT_EQ(ask("F_UTF8BlobSearchExt('Hello', body)"), 1);
  EXPECT_EQ(ask("F_UTF8BlobEndsWith('RLD', body)"), 1);
  EXPECT_EQ(ask("F_UTF8BlobEndsWith('Hello', body)"), 0);
  EXPECT_EQ(ask("F_UTF8BlobEndsWith('a much longer text than the body', body)"), 0);
}

// Shapes a current database as an older program version left it, by
// undoing what the later upgrade steps add.
void ShapeAsVersion(FirebirdTestDatabase& db, int version) {
  auto undo = [&](int step, const std::vector<std::string>& statements) {
    if (version >= step) return;
    for (const auto& statement : statements) db.Execute(statement);
  };
  // A column cannot be narrowed: it is made again as 1028 had it.
  undo(1029, {"ALTER TABLE Enclosures DROP url_", "ALTER TABLE Enclosures ADD url_ VARCHAR(512) DEFAULT '' NOT NULL"});
  // Earlier keyword-cache triggers rewrote the cache whoever wrote it.
  undo(1028, {"ALTER TRIGGER ARTICLE_KEYWORDCache AS BEGIN END"});
  undo(1027, {"drop index commentfeedidx", "drop index parentartidx", "alter table articles drop commentfeed_id"});
  undo(1026, {"drop index IDX_Feeds_5"});
  undo(1025, {"alter table feeds drop priority"});
  undo(1024, {"drop index delIndx"});
  undo(1022, {"alter table feeds drop OPMLdescr"});
  undo(1021, {"alter table articles drop syncmodified"});
  undo(1018, {"alter table enclosures drop lastHTTPCode"});
  undo(1017, {"alter table enclosures drop EncLongDescr"});
  undo(1014, {"alter table feeds alter parentFeed to Reserved"});
  undo(1012, {"alter table folders drop subscribed", "alter table sqlfilters drop subscribed"});
  undo(1010, {"alter table feeds drop rtlEnabled"});
  db.Execute("update variables set value_='" + std::to_string(version) + "'");
}

void ExpectCurrentShape(FirebirdTestDatabase& db) {
  EXPECT_EQ(ColumnExists(db, "ARTICLES", "COMMENTFEED_ID"), 1);
  EXPECT_EQ(ColumnExists(db, "ARTICLES", "SYNCMODIFIED"), 1);
  EXPECT_EQ(ColumnExists(db, "FEEDS", "PRIORITY"), 1);
  EXPECT_EQ(ColumnExists(db, "FEEDS", "OPMLDESCR"), 1);
  EXPECT_EQ(ColumnExists(db, "FEEDS", "PARENTFEED"), 1);
  EXPECT_EQ(ColumnExists(db, "FEEDS", "RTLENABLED"), 1);
  EXPECT_EQ(ColumnExists(db, "ENCLOSURES", "LASTHTTPCODE"), 1);
  EXPECT_EQ(ColumnExists(db, "FOLDERS", "SUBSCRIBED"), 1);
  EXPECT_EQ(IndexExists(db, "COMMENTFEEDIDX"), 1);
  EXPECT_EQ(IndexExists(db, "PARENTARTIDX"), 1);
  EXPECT_EQ(IndexExists(db, "DELINDX"), 1);
  EXPECT_EQ(QueryText(db, "select value_ from variables where type_='dbVerChk'"), "1029");
  EXPECT_EQ(db.QueryInt64("select count(*) from variables"), 1);
  // Signed enclosure addresses run to thousands of characters.
  EXPECT_EQ(db.QueryInt64("select f.rdb$character_length from rdb$relation_fields r join rdb$fields f on "
                          "f.rdb$field_name=r.rdb$field_source where r.rdb$relation_name='ENCLOSURES' and "
                          "r.rdb$field_name='URL_'"),
            8191);
  EXPECT_EQ(db.QueryInt64("select count(*) from rdb$triggers where rdb$trigger_name='ARTICLE_KEYWORDCACHE' and "
                          "rdb$trigger_source containing 'KEYWORDCACHE_WRITTEN'"),
            1);
}

struct UpgradeCase {
  int version;
  std::vector<int> steps;
};

class SchemaUpgradeTest : public ::testing::TestWithParam<UpgradeCase> {};

TEST_P(SchemaUpgradeTest, OlderSchemaIsBroughtToTheCurrentVersion) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  ShapeAsVersion(db, GetParam().version);
  db.Execute("insert into enclosures(article_id,url_,download_status) values(1,'http://e.example/a.mp3?t=1',2)");
  EXPECT_EQ(CreateSchema(db), GetParam().steps) << GetParam().version;
  ExpectCurrentShape(db);
  EXPECT_EQ(QueryText(db, "select url_ || download_status from enclosures"), "http://e.example/a.mp3?t=12");
  // A second start finds nothing left to do.
  EXPECT_TRUE(CreateSchema(db).empty());
}

const std::vector<int> kAllSteps = {1002, 1003, 1006, 1007, 1008, 1009, 1010, 1012, 1016, 1014, 1017,
                                    1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029};

INSTANTIATE_TEST_SUITE_P(
    RecordedVersions, SchemaUpgradeTest,
    ::testing::Values(UpgradeCase{1001, kAllSteps},
                      UpgradeCase{1015, {1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029}},
                      UpgradeCase{1026, {1027, 1028, 1029}}));

TEST(SchemaUpgradeTest, MissingVersionRowOnExistingTablesRunsEveryStep) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  ShapeAsVersion(db, 1001);
  db.Execute("delete from variables");
  db.Execute("alter table buffer drop userid");
  db.Execute("alter table folders drop weight");
  EXPECT_EQ(CreateSchema(db), kAllSteps);
  ExpectCurrentShape(db);
  EXPECT_EQ(ColumnExists(db, "BUFFER", "USERID"), 1);
  EXPECT_EQ(ColumnExists(db, "FOLDERS", "WEIGHT"), 1);
}

int64_t TriggerExists(FirebirdTestDatabase& db, const std::string& name) {
  return db.QueryInt64("select count(*) from rdb$triggers where rdb$trigger_name='" + name + "'");
}

// A view on the old column name blocks its renaming (step 1014, which runs
// after 1006 and 1016): the upgrade must stop there and resume once the view
// is gone.
TEST(SchemaUpgradeTest, AFailedStepLeavesTheLastCompletedVersionAndTheUpgradeResumes) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  ShapeAsVersion(db, 1001);
  db.Execute("delete from variables");
  db.Execute("create view reserved_feeds as select Reserved from feeds");
  EXPECT_THROW(CreateSchema(db), EFirebirdError);
  EXPECT_EQ(QueryText(db, "select value_ from variables where type_='dbVerChk'"), "1013");
  EXPECT_EQ(db.QueryInt64("select count(*) from variables"), 1);
  EXPECT_EQ(TriggerExists(db, "ARTICLE_KEYWORDCACHE"), 1);
  EXPECT_EQ(TriggerExists(db, "ARTICLE_KEYWORDS_DEL"), 1);
  EXPECT_EQ(ColumnExists(db, "FEEDS", "PARENTFEED"), 0);
  EXPECT_EQ(ColumnExists(db, "FOLDERS", "SUBSCRIBED"), 1);

  db.Execute("drop view reserved_feeds");
  EXPECT_EQ(CreateSchema(db), (std::vector<int>{1016, 1014, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025,
                                                1026, 1027, 1028, 1029}));
  ExpectCurrentShape(db);
  db.Execute("insert into feeds(title, parentFeed, priority, OPMLdescr) values('a', 0, 0, '')");
  db.Execute("insert into articles(id) values(1)");
  db.Execute("insert into keywords(id, value_) values(1, 'k')");
  db.Execute("insert into article_keywords(article_id, keyword_id) values(1, 1)");
  EXPECT_EQ(QueryText(db, "select keywordCache from articles"), "k");
}

// Every step checks before it changes: a database whose recorded version
// fell behind its real shape is upgraded without a failure.
TEST(SchemaUpgradeTest, StepsThatAlreadyRanRunAgainWithoutHarm) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  db.Execute("update variables set value_='1001'");
  EXPECT_EQ(CreateSchema(db), kAllSteps);
  ExpectCurrentShape(db);
  EXPECT_EQ(db.QueryInt64("select count(*) from rdb$indices where rdb$index_name='IDX_ARTICLES_CREATED' and "
                          "rdb$index_type=1"),
            1);
}

TEST(SchemaUpgradeTest, UnreadableVersionIsTreatedAsTheOldestSchema) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  ShapeAsVersion(db, 1001);
  db.Execute("update variables set value_='garbage'");
  EXPECT_EQ(CreateSchema(db), kAllSteps);
  ExpectCurrentShape(db);
}

TEST(SchemaUpgradeTest, NewerVersionIsRefusedAndLeftAlone) {
  FirebirdTestDatabase db(kPageSize);
  CreateSchema(db);
  db.Execute("update variables set value_='1030'");
  TtidewellGenerateTables generator(&db.Connection());
  try {
    generator.CreateMissingTables();
    FAIL() << "a newer schema must be refused";
  } catch (const kt::Exception& error) {
    EXPECT_NE(error.Message().find("1030"), std::string::npos) << error.Message();
    EXPECT_NE(error.Message().find("1029"), std::string::npos) << error.Message();
  }
  EXPECT_EQ(QueryText(db, "select value_ from variables"), "1030");
}

}  // namespace
}  // namespace tidewell
