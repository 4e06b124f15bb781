// SPDX-License-Identifier: MIT
// A database with the engine's schema, a small set of feeds, articles,
// enclosures, keywords and web pages, and helpers that build filter trees
// and run the article select.
//
// Articles (all live unless said otherwise):
//   1 feed 1 "Apple pie"       body "Fresh apple pie recipe"  2024-01-10 10:00  rating 1  keywords food, fruit
//   2 feed 1 "Banana bread"    body "Ripe bananas make it"    2024-02-10 10:00  rating 3  web page
//   3 feed 2 "Cherry tart"     body "Cherries are red"        2024-03-10 10:00  rating 5  keyword fruit
//   4 feed 2 "100% juice_box"  body "Contains 100% fruit"     30 minutes ago    rating 2  keyword drink
//   5 feed 3 (deleted feed) "Ghost"  body "Boo"               2024-01-01 00:00  rating 4
//   6 feed 1, deleted          "Gone"  body "Gone"            2024-01-01 00:00  rating 5
//   7 feed 1 "Ends with 100%"  body "Plain text"              2023-12-01 00:00  rating 0
//   8 feed 4 (OPML feed) "Outline"  body "Outline body"      2024-01-01 00:00  rating 0
// Enclosures (download status): article 1: 0; article 2: 2; article 3: 0 and 3.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "engine/db/tidewell_tables.h"
#include "engine/model/tidewell_filters.h"
#include "support/firebird_test_database.h"

namespace filter_testing {

using tidewell::TFilter;
using tidewell::TFilterWorkShop;
using tidewell::TQueryWrapper;
using tidewell::TTranWrapper;
using tidewell::WideString;

inline tidewell::TDateTime UtcNowForTest() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since).count() / 86400.0 + 25569.0;
}

// The page size the schema's widest index keys need.
constexpr int32_t kSchemaPageSize = 16384;

// The whole schema, as the engine creates it.
inline void CreateFilterSchema(testing_support::FirebirdTestDatabase& db) {
  tidewell::TtidewellGenerateTables generator(&db.Connection());
  generator.CreateMissingTables();
}

inline void InsertArticle(testing_support::FirebirdTestDatabase& db, int id, int feed, const std::string& title,
                          const std::string& body, const std::string& created, int rating, int deleted = 0) {
  db.Execute("insert into articles(id,feed_id,title,body,created,rating,deleted,link) values(" +
             std::to_string(id) + "," + std::to_string(feed) + ",'" + title + "','" + body + "','" + created + "'," +
             std::to_string(rating) + "," + std::to_string(deleted) + ",'http://example.org/" + std::to_string(id) +
             "')");
}

inline void SeedArticles(testing_support::FirebirdTestDatabase& db) {
  db.Execute("insert into feeds(feed_id,title,link) values(1,'Alpha','http://a.example/feed')");
  db.Execute("insert into feeds(feed_id,title,link) values(2,'Beta','http://b.example/feed')");
  db.Execute("insert into feeds(feed_id,title,link,skipfeed) values(3,'Gamma','DELMARKED:http://c.example/feed',1)");
  db.Execute("insert into feeds(feed_id,title,link,type_) values(4,'List','http://d.example/list.opml','OPML')");
  InsertArticle(db, 1, 1, "Apple pie", "Fresh apple pie recipe", "2024-01-10 10:00:00", 1);
  InsertArticle(db, 2, 1, "Banana bread", "Ripe bananas make it", "2024-02-10 10:00:00", 3);
  InsertArticle(db, 3, 2, "Cherry tart", "Cherries are red", "2024-03-10 10:00:00", 5);
  InsertArticle(db, 4, 2, "100% juice_box", "Contains 100% fruit", "2000-01-01 00:00:00", 2);
  InsertArticle(db, 5, 3, "Ghost", "Boo", "2024-01-01 00:00:00", 4);
  InsertArticle(db, 6, 1, "Gone", "Gone", "2024-01-01 00:00:00", 5, 1);
  InsertArticle(db, 7, 1, "Ends with 100%", "Plain text", "2023-12-01 00:00:00", 0);
  InsertArticle(db, 8, 4, "Outline", "Outline body", "2024-01-01 00:00:00", 0);
  {
    TTranWrapper transaction(&db.Connection());
    transaction.StartTransaction();
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    query.SQL.Add("update articles set created=? where id=4");
    query.Params(0).SetDateTime(UtcNowForTest() - 30.0 / 1440.0);
    query.ExecQuery();
    transaction.Commit();
  }
  db.Execute("insert into enclosures(article_id,url_,download_status) values(1,'http://a.example/1.mp3',0)");
  db.Execute("insert into enclosures(article_id,url_,download_status) values(2,'http://a.example/2.mp3',2)");
  db.Execute("insert into enclosures(article_id,url_,download_status) values(3,'http://b.example/3.mp3',0)");
  db.Execute("insert into enclosures(article_id,url_,download_status) values(3,'http://b.example/3b.mp3',3)");
  db.Execute("insert into keywords(id,value_) values(1,'food')");
  db.Execute("insert into keywords(id,value_) values(2,'fruit')");
  db.Execute("insert into keywords(id,value_) values(3,'drink')");
  for (const char* pair : {"1,1", "1,2", "3,2", "4,3"})
    db.Execute(std::string("insert into article_keywords(article_id,keyword_id) values(") + pair + ")");
  db.Execute("insert into webpages(article_id,link_id,content) values(2,1,'<html></html>')");
}

// A node of the workshop, not auto-saving, owning its children.
inline TFilter* NewNode(TFilterWorkShop* workShop, uint8_t operType, const std::string& field = "",
                        uint8_t dataType = 1, std::initializer_list<const char*> values = {}) {
  auto* node = new TFilter(workShop, true, false);
  node->OperType = operType;
  node->SetField(kt::Utf8ToWide(field));
  node->SetDataType(dataType);
  for (const char* value : values) node->AddValue(kt::Utf8ToWide(value));
  return node;
}

// Appends child to parent and returns child.
inline TFilter* AddChild(TFilter* parent, TFilter* child) {
  child->Parent = parent;
  parent->Conditions->Add(child);
  return child;
}

// A container root holding one comparison.
inline std::unique_ptr<TFilter> OneComparison(TFilterWorkShop* workShop, uint8_t operType, const std::string& field,
                                              uint8_t dataType, std::initializer_list<const char*> values) {
  std::unique_ptr<TFilter> root(NewNode(workShop, 0, "test"));
  AddChild(root.get(), NewNode(workShop, operType, field, dataType, values));
  return root;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', start)) {
    lines.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  lines.push_back(text.substr(start));
  return lines;
}

// The article ids the root selects (one per result row, sorted).
inline std::vector<int32_t> SelectedIds(testing_support::FirebirdTestDatabase& db, TFilterWorkShop& workShop,
                                        TFilter* root, uint8_t sortMode = 0, tidewell::TDateTime createdSince = 0,
                                        bool feedColumns = false) {
  TTranWrapper transaction(&db.Connection());
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  std::vector<int32_t> ids;
  if (workShop.PrepareArticleQuery(&query, root, createdSince, 0, sortMode, feedColumns, 0, 0, "")) {
    tidewell::ExecQueryTimed(&query, true);
    for (; !query.Eof(); query.Next()) ids.push_back(query.FieldByName("ARTID").AsInteger());
  }
  transaction.Commit();
  std::sort(ids.begin(), ids.end());
  return ids;
}

using Ids = std::vector<int32_t>;

// One database with the seed data for every test of a suite that only reads.
class SharedFilterDatabase : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = new testing_support::FirebirdTestDatabase(kSchemaPageSize);
    CreateFilterSchema(*db_);
    SeedArticles(*db_);
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }

  void SetUp() override { workShop_ = std::make_unique<TFilterWorkShop>(&db_->Connection()); }
  void TearDown() override { workShop_.reset(); }

  Ids Select(TFilter* root, uint8_t sortMode = 0, tidewell::TDateTime createdSince = 0) {
    return SelectedIds(*db_, *workShop_, root, sortMode, createdSince);
  }
  Ids SelectOne(uint8_t operType, const std::string& field, uint8_t dataType,
                std::initializer_list<const char*> values) {
    auto root = OneComparison(workShop_.get(), operType, field, dataType, values);
    return Select(root.get());
  }

  static testing_support::FirebirdTestDatabase* db_;
  std::unique_ptr<TFilterWorkShop> workShop_;
};

inline testing_support::FirebirdTestDatabase* SharedFilterDatabase::db_ = nullptr;

}  // namespace filter_testing
