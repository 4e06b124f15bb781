// SPDX-License-Identifier: MIT
#include "engine/db/statement.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "support/firebird_test_database.h"
#include "support/firebird_test_server.h"

namespace {

using tidewell::EFirebirdError;
using tidewell::db::Statement;
using tidewell::TQueryWrapper;
using tidewell::TTranWrapper;

class StatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Execute(
        "create table items(id integer, big bigint, real_ double precision, name varchar(20), "
        "fixed char(4), stamp timestamp, day_ date, price numeric(10,2), note blob sub_type text, "
        "data blob sub_type 0)");
    transaction_.StartTransaction();
    query_.SetTransaction(&transaction_);
  }

  // The engine's ids of the prepared forms of the texts on items that the
  // attachment holds: preparing again makes a new id.
  std::set<int64_t> PreparedFormsOnItems() {
    std::set<int64_t> ids;
    testing_support::RunStatement(db_.Connection(),
                                  "select mon$statement_id from mon$statements "
                                  "where mon$attachment_id=current_connection and mon$sql_text containing 'items' "
                                  "and mon$sql_text not containing 'mon$'",
                                  [&](TQueryWrapper& row) {
                                    for (; !row.Eof(); row.Next()) ids.insert(row.Fields(0).AsInt64());
                                  });
    return ids;
  }

  void Run(const std::string& sql) {
    query_.Close();
    query_.SQL.Clear();
    query_.SQL.Add(sql);
    query_.ExecQuery();
  }

  testing_support::FirebirdTestDatabase db_;
  TTranWrapper transaction_{&db_.Connection()};
  TQueryWrapper query_;
};

TEST_F(StatementTest, BindsEveryKindOfValueAndReadsItBack) {
  const std::u16string wide = u"Gr\u00fc\u00dfe \u65e5\u672c";
  query_.SQL.Add("insert into items(id, big, real_, name, stamp, note, data)");
  query_.SQL.Add("values(?, ?, ?, ?, ?, ?, ?)");
  query_.Params(0).SetInteger(-7);
  query_.Params(1).SetInt64(int64_t{1} << 40);
  query_.Params(2).SetDouble(2.5);
  query_.Params(3).SetWideString(wide);
  query_.Params(4).SetDateTime(45000.75);
  query_.Params(5).SetString("caf\xc3\xa9");
  query_.Params(6).SetBlob(std::string("\x00\x01\xff", 3));
  query_.ExecQuery();

  Run("select id, big, real_, name, stamp, note, data from items");
  ASSERT_FALSE(query_.Eof());
  EXPECT_EQ(query_.Fields(0).AsInteger(), -7);
  EXPECT_EQ(query_.FieldByName("BIG").AsInt64(), int64_t{1} << 40);
  EXPECT_DOUBLE_EQ(query_.FieldByName("real_").AsDouble(), 2.5);
  EXPECT_EQ(query_.FieldByName("name").AsWideString(), wide);
  EXPECT_DOUBLE_EQ(query_.FieldByName("stamp").AsDateTime(), 45000.75);
  EXPECT_EQ(query_.FieldByName("note").AsString(), "caf\xc3\xa9");
  EXPECT_EQ(query_.FieldByName("data").AsBlob(), std::string("\x00\x01\xff", 3));
  query_.Next();
  EXPECT_TRUE(query_.Eof());
}

// Surrogates written as three bytes each (as lenient encoders do) and a
// stray byte: the database would refuse the whole statement.
TEST_F(StatementTest, TextThatIsNoValidUtf8IsRepairedNotRefused) {
  query_.SQL.Add("insert into items(id, name, note) values(?, ?, ?)");
  query_.Params(0).SetInteger(1);
  query_.Params(1).SetString("a\xED\xA0\xBD\xED\xB8\x80" "b");
  query_.Params(2).SetString("c\xED\xA0\x80" "d\xFF");
  query_.ExecQuery();
  Run("select name, note from items");
  ASSERT_FALSE(query_.Eof());
  EXPECT_EQ(query_.Fields(0).AsString(), "a\xF0\x9F\x98\x80" "b");
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(query_.Fields(1).AsString(), "c" + replacement + replacement + replacement + "d" + replacement);
}

TEST_F(StatementTest, NullParametersAndNullFields) {
  query_.SQL.Add("insert into items(id, name, stamp, note) values(?, ?, ?, ?)");
  query_.Params(0).SetInteger(1);
  query_.Params(1).SetNull();
  query_.Params(2).SetNull();
  // Parameter 3 is never set: it binds NULL.
  query_.ExecQuery();

  Run("select id, name, stamp, note, big from items");
  EXPECT_FALSE(query_.FieldByName("id").IsNull());
  for (const char* name : {"name", "stamp", "note", "big"}) EXPECT_TRUE(query_.FieldByName(name).IsNull()) << name;
  EXPECT_EQ(query_.FieldByName("name").AsString(), "");
  EXPECT_EQ(query_.FieldByName("big").AsInteger(), 0);
  EXPECT_EQ(query_.FieldByName("stamp").AsDateTime(), 0.0);
}

TEST_F(StatementTest, BlobsOfAnySizeRoundTripWhole) {
  std::string text;
  for (int i = 0; text.size() < 300000; ++i) text += "line " + std::to_string(i) + " \xe2\x82\xac\n";
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  query_.SQL.Add("insert into items(id, note, data) values(1, ?, ?)");
  query_.Params(0).SetString(text);
  query_.Params(1).SetBlob(bytes);
  query_.ExecQuery();

  Run("select note, data, char_length(note) from items");
  EXPECT_EQ(query_.FieldByName("note").AsString(), text);
  EXPECT_EQ(query_.FieldByName("data").AsBlob(), bytes);
  kt::TMemoryStream stream;
  query_.FieldByName("data").SaveToStream(stream);
  EXPECT_EQ(stream.ToString(), bytes);
}

// Texts for text blobs travel in the statement's message up to the longest
// text it holds; longer ones are written as blobs. Several large ones
// together make a large message, which a server takes too.
TEST_F(StatementTest, TextBlobsOfAnySizeTogetherInOneStatementRoundTripWholeAlsoThroughAServer) {
  std::string euros;
  for (int i = 0; i < 5461; ++i) euros += "\xe2\x82\xac";  // 16383 bytes
  const std::vector<std::string> values = {std::string(32000, 'a'), std::string(32765, 'b'), std::string(32766, 'c'),
                                           std::string(32000, 'd'), euros, std::string(8000, 'f')};
  testing_support::FirebirdTestDatabase served(8192, testing_support::FirebirdTestServer::Shared());
  for (testing_support::FirebirdTestDatabase* db : {&db_, &served}) {
    db->Execute("create table texts(a blob sub_type text, b blob sub_type text, c blob sub_type text, "
                "d blob sub_type text, e blob sub_type text, f varchar(8000))");
    TTranWrapper transaction{&db->Connection()};
    transaction.StartTransaction();
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    query.SQL.Add("insert into texts(a, b, c, d, e, f) values(?, ?, ?, ?, ?, ?)");
    for (int i = 0; i < 6; ++i) query.Params(i).SetString(values[static_cast<size_t>(i)]);
    query.ExecQuery();
    query.SQL.SetText("select a, b, c, d, e, f from texts");
    query.ExecQuery();
    ASSERT_FALSE(query.Eof());
    for (int i = 0; i < 6; ++i) EXPECT_EQ(query.Fields(i).AsString(), values[static_cast<size_t>(i)]) << i;
    query.Close();
    transaction.Commit();
  }
}

TEST_F(StatementTest, SubstringInTheSqlCutsLongTextsToItsLength) {
  const std::u16string title(30, u'\u00e9');
  query_.SQL.Add("insert into items(id, name) values(1, substring(? from 1 for 20))");
  query_.Params(0).SetWideString(title);
  query_.ExecQuery();
  Run("select name from items");
  EXPECT_EQ(query_.Fields(0).AsWideString(), title.substr(0, 20));
}

TEST_F(StatementTest, TooLongTextWithoutSubstringIsAnEngineError) {
  query_.SQL.Add("insert into items(id, name) values(1, ?)");
  query_.Params(0).SetString(std::string(21, 'x'));
  EXPECT_THROW(query_.ExecQuery(), EFirebirdError);
  query_.Params(0).SetString(std::string(20, 'x'));
  EXPECT_NO_THROW(query_.ExecQuery());
}

TEST_F(StatementTest, ConvertsBetweenNumbersTextsAndDates) {
  Run("insert into items(id, name, fixed, price, day_, stamp) "
      "values(12, '34', 'ab', 12.35, '2024-02-29', '2024-02-29 13:45:10')");
  Run("select id, name, fixed, price, day_, stamp from items");
  EXPECT_EQ(query_.FieldByName("id").AsString(), "12");
  EXPECT_EQ(query_.FieldByName("name").AsInteger(), 34);
  EXPECT_EQ(query_.FieldByName("fixed").AsString(), "ab");
  EXPECT_EQ(query_.FieldByName("price").AsString(), "12.35");
  EXPECT_DOUBLE_EQ(query_.FieldByName("price").AsDouble(), 12.35);
  EXPECT_EQ(query_.FieldByName("day_").AsString(), "2024-02-29");
  EXPECT_DOUBLE_EQ(query_.FieldByName("day_").AsDateTime(), 45351.0);
  EXPECT_EQ(query_.FieldByName("stamp").AsString(), "2024-02-29 13:45:10");
  EXPECT_THROW(query_.FieldByName("fixed").AsInteger(), kt::Exception);
}

TEST_F(StatementTest, DateTimesBeforeTheEpochKeepTheirTimeOfDay) {
  query_.SQL.Add("insert into items(id, stamp) values(1, ?)");
  query_.Params(0).SetDateTime(-1.25);  // 1899-12-29 06:00
  query_.ExecQuery();
  Run("select stamp from items");
  EXPECT_EQ(query_.Fields(0).AsString(), "1899-12-29 06:00:00");
  EXPECT_DOUBLE_EQ(query_.Fields(0).AsDateTime(), -1.25);
}

TEST_F(StatementTest, WalksRowsInOrderAndStopsAtTheEnd) {
  query_.SQL.Add("insert into items(id) values(?)");
  for (int i = 1; i <= 5; ++i) {
    query_.Params(0).SetInteger(i);
    query_.ExecQuery();
  }
  Run("select id from items order by id");
  int expected = 1;
  for (; !query_.Eof(); query_.Next()) EXPECT_EQ(query_.Fields(0).AsInteger(), expected++);
  EXPECT_EQ(expected, 6);
  query_.Next();
  EXPECT_TRUE(query_.Eof());
  EXPECT_THROW(query_.Fields(0).AsInteger(), kt::Exception);
}

TEST_F(StatementTest, ReturningStatementLeavesItsRowCurrent) {
  query_.SQL.Add("insert into items(id) values(5) returning id");
  query_.ExecQuery();
  ASSERT_FALSE(query_.Eof());
  EXPECT_EQ(query_.Fields(0).AsInteger(), 5);
  Run("update items set id=6");
  EXPECT_TRUE(query_.Eof());
  EXPECT_EQ(query_.RowsAffected(), 1);
}

TEST_F(StatementTest, EngineErrorsCarryMessageAndSqlCodeAndLeaveEverythingUsable) {
  query_.SQL.Add("select * from no_such_table");
  try {
    query_.ExecQuery();
    FAIL() << "selecting from an unknown table succeeded";
  } catch (const EFirebirdError& e) {
    EXPECT_EQ(e.SqlCode(), -204);
    EXPECT_NE(e.Message().find("NO_SUCH_TABLE"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(query_.Prepared());
  EXPECT_TRUE(transaction_.InTransaction());
  Run("insert into items(id) values(1)");
  EXPECT_THROW(Run("insert into items(id) values('x')"), EFirebirdError);
  Run("select count(*) from items");
  EXPECT_EQ(query_.Fields(0).AsInteger(), 1);
}

TEST_F(StatementTest, MisuseIsReportedNotCrashed) {
  TQueryWrapper lonely;
  lonely.SQL.Add("select 1 from rdb$database");
  EXPECT_THROW(lonely.ExecQuery(), kt::Exception);
  TTranWrapper idle(&db_.Connection());
  lonely.SetTransaction(&idle);
  EXPECT_THROW(lonely.ExecQuery(), kt::Exception);
  query_.SQL.Add("select id from items where id=?");
  EXPECT_THROW(query_.Params(1), kt::Exception);
  EXPECT_THROW(query_.FieldByName("nope"), kt::Exception);
  EXPECT_EQ(query_.FieldIndex("ID"), 0);
}

TEST_F(StatementTest, ChangedTextIsPreparedAgainAndResetsParameters) {
  query_.SQL.Add("select cast(? as integer) from rdb$database");
  query_.Params(0).SetInteger(3);
  query_.ExecQuery();
  EXPECT_EQ(query_.Fields(0).AsInteger(), 3);
  query_.ExecQuery();  // the same text keeps its values
  EXPECT_EQ(query_.Fields(0).AsInteger(), 3);
  query_.SQL.Clear();
  query_.SQL.Add("select cast(? as integer) + 1 from rdb$database");
  query_.ExecQuery();
  EXPECT_TRUE(query_.Fields(0).IsNull());
}

// Going back to an earlier text reuses its prepared form: its columns, row
// and parameter cuts must be its own again, not those of the text between.
TEST_F(StatementTest, ReturningToAnEarlierTextReadsItsOwnColumnsAndCuts) {
  std::set<int64_t> firstForms;
  for (int round = 0; round < 3; ++round) {
    Run("select name, id from items where id=-1");
    EXPECT_EQ(query_.FieldCount(), 2);
    EXPECT_TRUE(query_.Eof());
    query_.Close();
    query_.SQL.Clear();
    query_.SQL.Add("insert into items(id, name) values(?, substring(? from 1 for 3))");
    EXPECT_TRUE(query_.Params(0).IsNull());  // a new text starts without values
    query_.Params(0).SetInteger(round);
    query_.Params(1).SetString("abcdef");
    query_.ExecQuery();
    query_.SQL.Clear();
    query_.SQL.Add("select id, name, fixed from items where id=?");
    query_.Params(0).SetInteger(round);
    query_.ExecQuery();
    ASSERT_FALSE(query_.Eof());
    EXPECT_EQ(query_.FieldCount(), 3);
    EXPECT_EQ(query_.FieldByName("ID").AsInteger(), round);
    EXPECT_EQ(query_.FieldByName("NAME").AsString(), "abc");
    query_.Close();
    // Each text was prepared once, in the first round.
    if (round == 0) firstForms = PreparedFormsOnItems();
    EXPECT_EQ(firstForms.size(), 3u);
    EXPECT_EQ(PreparedFormsOnItems(), firstForms);
  }
  // Kept forms go with the prepared one: a statement released to another
  // attachment must not carry them along.
  query_.Unprepare();
  EXPECT_FALSE(query_.Prepared());
  Run("select count(*) from items");
  EXPECT_EQ(query_.Fields(0).AsInteger(), 3);
}

// Texts that name their values run once each (a look-up per feed); a form
// costs the engine memory, so those forms do not pile up, while a text run
// again between them keeps its one prepared form.
TEST_F(StatementTest, OneOffTextsLeaveNoFormsBehindAndARepeatedTextKeepsItsForm) {
  int64_t repeatedForm = -1;
  for (int id = 1; id <= 40; ++id) {
    Run("select count(*) from items");
    query_.Close();
    const std::set<int64_t> afterRepeated = PreparedFormsOnItems();
    if (id == 1) repeatedForm = *afterRepeated.begin();
    EXPECT_EQ(afterRepeated.count(repeatedForm), 1u) << "round " << id;
    Run("select name from items where id=" + std::to_string(id));
    query_.Close();
  }
  // The repeated text, the last one-off text and a few recent ones at most.
  EXPECT_LE(PreparedFormsOnItems().size(), 1u + Statement::kUntriedForms + 1u);

  // More texts in turn than untried forms are kept (the statements of one
  // feed): each is prepared again once at most, then kept.
  query_.Unprepare();
  std::set<int64_t> secondRound;
  for (int round = 1; round <= 3; ++round) {
    for (size_t text = 0; text < Statement::kUntriedForms + 2; ++text) {
      Run("select id from items where id=-" + std::to_string(text));
      query_.Close();
    }
    if (round == 2) secondRound = PreparedFormsOnItems();
  }
  EXPECT_EQ(secondRound.size(), Statement::kUntriedForms + 2);
  EXPECT_EQ(PreparedFormsOnItems(), secondRound);
}

// A kept prepared form holds its table: a definition that drops or changes
// the table on the same statement must not be refused for it.
TEST_F(StatementTest, AKeptFormNeverHoldsATableThatADefinitionDrops) {
  db_.Execute("create table scratch(id integer)");
  Run("select id from scratch");
  query_.Close();
  Run("select count(*) from items");
  query_.Close();
  transaction_.Commit();
  transaction_.StartTransaction();
  query_.SQL.SetText("drop table scratch");
  EXPECT_NO_THROW(query_.ExecQuery());
  transaction_.Commit();
  transaction_.StartTransaction();
  EXPECT_EQ(db_.QueryInt64("select count(*) from rdb$relations where rdb$relation_name='SCRATCH'"), 0);
}

}  // namespace
