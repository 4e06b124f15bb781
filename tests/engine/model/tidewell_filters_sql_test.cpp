// SPDX-License-Identifier: MIT
// The SQL texts a filter compiles to, and the definitions it refuses.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "filter_fixture.h"

namespace filter_testing {
namespace {

using Lines = std::vector<std::string>;

// Compiles without a database: the workshop's connection stays unused.
class FilterSqlTest : public ::testing::Test {
 protected:
  FilterSqlTest() : workShop_(&connection_) {}

  std::string Condition(TFilter* node, bool keywordsJoined = false) {
    std::string text;
    int32_t param = 0, alias = 0;
    tables_ = {};
    workShop_.BuildWhereClause(node, text, false, nullptr, false, param, keywordsJoined, alias, tables_);
    return text;
  }
  std::string ComparisonText(uint8_t op, const std::string& field, uint8_t type,
                             std::initializer_list<const char*> values) {
    std::unique_ptr<TFilter> node(NewNode(&workShop_, op, field, type, values));
    return Condition(node.get());
  }
  std::string ArticleSql(TFilter* root, uint16_t mask = 0, uint8_t sortMode = 0, bool feedColumns = false,
                         bool countOnly = false, const std::string& extra = "", const std::string& order = "",
                         tidewell::TDateTime createdSince = 0, int32_t rowCount = 0) {
    std::string sql;
    workShop_.BuildArticleSQL(root, sql, createdSince, mask, sortMode, 0, rowCount, feedColumns, countOnly, extra,
                              order);
    return sql;
  }

  tidewell::TDbConnWrapper connection_;
  TFilterWorkShop workShop_;
  tidewell::TFilterTableUse tables_;
};

const Lines kAllArticleColumns{
    "articles.feed_Id as feedId,articles.id as artID,",
    "articles.guid as artGuid,",
    "articles.created as artCreated,",
    "articles.modified as artModified,",
    "case when articles.title='' then",
    "     substring(articles.body from 1 for 512)||'...'",
    "else",
    "     articles.title",
    "end as artTitle,",
    "articles.summary as artSummary,",
    "articles.creator as artCreator,",
    "articles.link as artLink,",
    "articles.readstatus as artRState,",
    "articles.flag as artFlag,",
    "articles.rating as artRating,",
    "articles.articleMD5,",
    "articles.body as artBody,",
    "articles.keywordCache as artkwCache,",
    " (select count(*)",
    "  from enclosures ",
    "  where enclosures.article_id=articles.id) as encnt",
};

TEST_F(FilterSqlTest, ApplicationFilterCompilesLineByLine) {
  std::unique_ptr<TFilter> filter(NewNode(&workShop_, 13, "enclosures.download_status", 2, {"0"}));
  Lines expected{"SELECT  FIRST(1000) SKIP(0) "};
  expected.insert(expected.end(), kAllArticleColumns.begin(), kAllArticleColumns.end());
  expected.insert(expected.end(), {"FROM articles ", "inner join enclosures on", "(enclosures.article_id=articles.id)",
                                   "WHERE", "(", "enclosures.download_status IN (0)", ")", "AND articles.deleted=0",
                                   "order by articles.created desc"});
  EXPECT_EQ(SplitLines(ArticleSql(filter.get(), 0, 0, false, false, "", "", 0, 1000)), expected);
  Condition(filter.get());
  EXPECT_TRUE(tables_.enclosures);
  EXPECT_FALSE(tables_.feeds || tables_.webpages || tables_.imapLetterMapping);
}

TEST_F(FilterSqlTest, ApplicationFilterBindsNoParameter) {
  testing_support::FirebirdTestDatabase db(kSchemaPageSize);
  CreateFilterSchema(db);
  TFilterWorkShop workShop(&db.Connection());
  std::unique_ptr<TFilter> filter(NewNode(&workShop, 13, "enclosures.download_status", 2, {"0"}));
  TTranWrapper transaction(&db.Connection());
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  ASSERT_TRUE(workShop.PrepareArticleQuery(&query, filter.get(), 0, 0, 0, false, 0, 1000, ""));
  EXPECT_EQ(query.ParamCount(), 0);
  tidewell::ExecQueryTimed(&query, true);
  EXPECT_TRUE(query.Eof());
}

TEST_F(FilterSqlTest, ComparisonTextsPerOperatorAndType) {
  struct Case {
    uint8_t op;
    uint8_t type;
    const char* field;
    std::initializer_list<const char*> values;
    const char* text;
  };
  const Case cases[] = {
      {3, 1, "articles.title", {"a"}, "articles.title collate UTF8  =? "},
      {4, 1, "articles.title", {"a"}, "articles.title collate UTF8  !=? "},
      {5, 2, "articles.rating", {"1"}, "articles.rating >?"},
      {6, 3, "articles.created", {"-1"}, "articles.created >=? "},
      {7, 2, "articles.rating", {"1"}, "articles.rating <?"},
      {8, 2, "articles.rating", {"1"}, "articles.rating <=? "},
      {9, 1, "articles.title", {"a"}, "articles.title collate UTF8  CONTAINING ?"},
      {10, 1, "articles.title", {"a"}, "articles.title collate UTF8  NOT CONTAINING ? "},
      {11, 1, "articles.title", {"a"}, "articles.title collate UTF8  STARTING ?"},
      {12, 1, "articles.title", {"a"}, "upper(articles.title collate UTF8 ) LIKE ? ESCAPE '\\'"},
      {9, 4, "articles.body", {"a"}, "F_UTF8BLOBSEARCH(?,articles.body)>=1"},
      {10, 4, "articles.body", {"a"}, "F_UTF8BLOBSEARCH(?,articles.body)<1"},
      {11, 4, "articles.body", {"a"}, "F_UTF8BLOBSEARCH(?,articles.body)=1"},
      {12, 4, "articles.body", {"a"}, "F_UTF8BLOBENDSWITH(?,articles.body)>0"},
      {13, 2, "articles.rating", {"1", "-2", " 3 "}, "articles.rating IN (1,-2,3)"},
      {14, 2, "articles.rating", {"1"}, "articles.rating NOT IN (1)"},
      {13, 1, "articles.title", {"a", "b", "c"}, "articles.title IN (?,?,?)"},
      {14, 3, "articles.created", {"-1", "+1"}, "articles.created NOT IN (?,?)"},
      {15, 2, "articles.rating>4", {}, "articles.rating>4"},
      {3, 1, "articles.title", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.op) + "/" + std::to_string(c.type) + " " + c.field);
    EXPECT_EQ(ComparisonText(c.op, c.field, c.type, c.values), c.text);
  }
}

TEST_F(FilterSqlTest, InListsAreSplitAtFifteenHundredValues) {
  std::unique_ptr<TFilter> in(NewNode(&workShop_, 13, "articles.id", 2));
  std::unique_ptr<TFilter> notIn(NewNode(&workShop_, 14, "articles.title", 1));
  std::string first;
  for (int n = 1; n <= 1501; ++n) {
    in->AddValue(kt::Utf8ToWide(std::to_string(n)));
    notIn->AddValue(u"t");
    if (n <= 1500) first += (n > 1 ? "," : "") + std::to_string(n);
  }
  EXPECT_EQ(Condition(in.get()), "(articles.id IN (" + first + ") OR articles.id IN (1501))");
  std::string marks = "?";
  for (int n = 2; n <= 1500; ++n) marks += ",?";
  EXPECT_EQ(Condition(notIn.get()),
            "(articles.title NOT IN (" + marks + ") AND articles.title NOT IN (?))");
  in->Values.pop_back();
  EXPECT_EQ(Condition(in.get()), "articles.id IN (" + first + ")");
}

TEST_F(FilterSqlTest, TreesNestLogicalNodesBehindTheirSiblings) {
  std::unique_ptr<TFilter> root(NewNode(&workShop_, 0, "tree"));
  AddChild(root.get(), NewNode(&workShop_, 5, "articles.rating", 2, {"3"}));
  TFilter* orNode = AddChild(root.get(), NewNode(&workShop_, 1));
  AddChild(orNode, NewNode(&workShop_, 3, "articles.flag", 2, {"1"}));
  TFilter* andNode = AddChild(orNode, NewNode(&workShop_, 2));
  AddChild(andNode, NewNode(&workShop_, 3, "articles.readstatus", 2, {"0"}));
  EXPECT_EQ(Condition(root.get()), "(articles.rating >? OR (articles.flag =?  AND (articles.readstatus =? )))");

  std::unique_ptr<TFilter> leading(NewNode(&workShop_, 0, "leading"));
  TFilter* first = AddChild(leading.get(), NewNode(&workShop_, 1));
  AddChild(first, NewNode(&workShop_, 3, "articles.flag", 2, {"1"}));
  AddChild(leading.get(), NewNode(&workShop_, 2));  // joins nothing
  EXPECT_EQ(Condition(leading.get()), "((articles.flag =? ))");
}

TEST_F(FilterSqlTest, KeywordComparisonsGetTheirOwnAliases) {
  std::unique_ptr<TFilter> root(NewNode(&workShop_, 0, "keywords"));
  AddChild(root.get(), NewNode(&workShop_, 3, "keywords.value_", 1, {"a"}));
  AddChild(AddChild(root.get(), NewNode(&workShop_, 2)), NewNode(&workShop_, 9, "keywords.value_", 1, {"b"}));
  EXPECT_EQ(Condition(root.get()),
            "(exists(select k1.id from keywords k1 ,article_keywords l1  where (l1.article_id=articles.id) and "
            "(l1.keyword_id=k1.id) and k1.value_ collate UTF8  =? ) AND (exists(select k2.id from keywords k2 "
            ",article_keywords l2  where (l2.article_id=articles.id) and (l2.keyword_id=k2.id) and k2.value_ "
            "collate UTF8  CONTAINING ?)))");
  EXPECT_EQ(Condition(root->Conditions->GetItem(0), true),
            "exists(select k1.id from keywords k1  where (k1.id=article_keywords.keyword_id) and k1.value_ collate "
            "UTF8  =? )");
}

TEST_F(FilterSqlTest, ArticleSelectVariants) {
  auto feeds = OneComparison(&workShop_, 3, "feeds.title", 1, {"x"});
  const Lines withFeeds = SplitLines(ArticleSql(feeds.get(), 0x0009, 5, true, false, "and (articles.flag=1)",
                                                "articles.title", 1.0, 0));
  const Lines expected{"SELECT ",
                       "keywords.value_ as keyword,",
                       "articles.feed_Id as feedId,articles.id as artID,",
                       "articles.guid as artGuid,",
                       "case when articles.title='' then",
                       "     substring(articles.body from 1 for 512)||'...'",
                       "else",
                       "     articles.title",
                       "end as artTitle,",
                       " (select count(*)",
                       "  from enclosures ",
                       "  where enclosures.article_id=articles.id) as encnt",
                       ",feeds.feed_Id,feeds.title,feeds.link,feeds.homepage,feeds.favIcon,",
                       "feeds.image,feeds.feedmodified,feeds.eTag,feeds.feedMD5,feeds.page_lastmodified,",
                       "feeds.httpGetTime,feeds.update_interval,feeds.username_,feeds.password_,feeds.archivesize,",
                       "feeds.feedrating,feeds.keywordSeparator,feeds.lastHTTPCode,feeds.rtlEnabled,feeds.OPMLdescr,"
                       "feeds.type_,feeds.priority",
                       "FROM articles ",
                       "inner join feeds  on ",
                       "(feeds.feed_id=articles.feed_id+0) and (feeds.link not like 'DELMARKED:%') and feeds.type_ "
                       "not in ('OPML','OSRCROOT')",
                       "left join article_keywords  on",
                       "(article_keywords.article_id=articles.id)",
                       "left join keywords  on",
                       "(keywords.id=article_keywords.keyword_id)",
                       "WHERE",
                       "(articles.created>=?) and ",
                       "(",
                       "(feeds.title collate UTF8  =? )",
                       ")",
                       "and (articles.flag=1)",
                       "AND articles.deleted=0",
                       "order by articles.title"};
  EXPECT_EQ(withFeeds, expected);

  auto pages = OneComparison(&workShop_, 3, "webpages.id", 2, {"1"});
  const Lines count = SplitLines(ArticleSql(pages.get(), 0, 0, false, true));
  EXPECT_EQ(count, (Lines{"SELECT ", "count(articles.id) as cnt", "FROM articles ", "inner join webpages  on ",
                          "(webpages.article_id=articles.id)", "WHERE", "(", "(webpages.id =? )", ")",
                          "AND articles.deleted=0"}));
}

TEST_F(FilterSqlTest, FeedJoinWithoutOrderTextKeepsThePlainKey) {
  auto feeds = OneComparison(&workShop_, 3, "Feeds.title", 1, {"x"});
  const std::string sql = ArticleSql(feeds.get());
  EXPECT_NE(sql.find("(feeds.feed_id=articles.feed_id) and"), std::string::npos) << sql;
  Condition(feeds.get());
  EXPECT_TRUE(tables_.feeds);
}

TEST_F(FilterSqlTest, ImapLetterMappingIsNotedButNotJoined) {
  auto imap = OneComparison(&workShop_, 3, "imaplettermapping.id", 2, {"1"});
  const std::string sql = ArticleSql(imap.get());
  Condition(imap.get());
  EXPECT_TRUE(tables_.imapLetterMapping);
  EXPECT_EQ(sql.find("imaplettermapping on"), std::string::npos);
}

TEST_F(FilterSqlTest, EmptyTreesGiveNoStatement) {
  std::unique_ptr<TFilter> root(NewNode(&workShop_, 0, "empty"));
  EXPECT_EQ(ArticleSql(root.get()), "");
  EXPECT_EQ(ArticleSql(nullptr), "");
  TQueryWrapper query;
  EXPECT_FALSE(workShop_.PrepareArticleQuery(&query, root.get(), 0, 0, 0, false, 0, 0, ""));
  EXPECT_TRUE(query.SQL.IsEmpty());
}

void ExpectRaises(const std::function<void()>& action, const char* message) {
  try {
    action();
    ADD_FAILURE() << "no error, expected " << message;
  } catch (const kt::Exception& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

TEST_F(FilterSqlTest, BadDefinitionsAreRefusedWithTheirMessages) {
  const auto text = [this](uint8_t op, const char* field, uint8_t type, std::initializer_list<const char*> values) {
    return [=, this] { ComparisonText(op, field, type, values); };
  };
  ExpectRaises(text(3, "title", 1, {"a"}), "Filter inpropertly defined");
  ExpectRaises(text(15, "rating", 2, {}), "Filter inpropertly defined");
  ExpectRaises(text(3, "articles.title", 1, {"a", "b"}), "Filter has invalid item count for this operator");
  ExpectRaises(text(12, "articles.title", 1, {"a", "b"}), "Filter has invalid item count for this operator");
  ExpectRaises(text(13, "articles.body", 4, {"a"}), "Invalid SQL operator for blob");
  ExpectRaises(text(14, "articles.body", 4, {"a"}), "Invalid SQL operator for blob");
  ExpectRaises(text(3, "articles.body", 4, {"a"}), "Invalid SQL operator for blob");
  ExpectRaises(text(9, "articles.rating", 2, {"1"}), "Filter inpropertly defined");
  ExpectRaises(text(12, "articles.created", 3, {"-1"}), "Filter inpropertly defined");
  ExpectRaises(text(13, "articles.rating", 2, {"1", "2) or (1=1"}), "Filter inpropertly defined");
  ExpectRaises(text(3, "articles.title", 5, {"a"}), "Filter inpropertly defined");
  ExpectRaises(text(16, "articles.title", 1, {"a"}), "Filter inpropertly defined");
}

TEST_F(FilterSqlTest, EmptyDateValueIsRefusedWhenBinding) {
  testing_support::FirebirdTestDatabase db(kSchemaPageSize);
  CreateFilterSchema(db);
  TFilterWorkShop workShop(&db.Connection());
  auto root = OneComparison(&workShop, 5, "articles.created", 3, {" "});
  ExpectRaises([&] { SelectedIds(db, workShop, root.get()); }, "Datetime value was empty  !");
}

TEST_F(FilterSqlTest, NodesAndValuesReportBadIndexes) {
  std::unique_ptr<TFilter> root(NewNode(&workShop_, 0, "r", 1, {"v"}));
  EXPECT_EQ(root->GetValue(0)->Value, u"v");
  ExpectRaises([&] { root->GetValue(1); }, "Invalid item index");
  ExpectRaises([&] { root->GetValue(-1); }, "Invalid item index");
  TFilter* child = AddChild(root.get(), NewNode(&workShop_, 3));
  EXPECT_EQ(root->Conditions->Add(child), 0);
  EXPECT_EQ(root->Conditions->Count(), 1);
  EXPECT_EQ(root->Conditions->GetItem(0), child);
  ExpectRaises([&] { root->Conditions->GetItem(1); }, "Invalid item index");
  EXPECT_EQ(root->GetDataType(), 1);
  const TFilter fresh(nullptr, true, true);
  EXPECT_EQ(fresh.OperType, 0);
  EXPECT_EQ(fresh.GetDataType(), 1);
  EXPECT_EQ(fresh.Id, 0);
}

}  // namespace
}  // namespace filter_testing
