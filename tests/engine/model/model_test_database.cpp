// SPDX-License-Identifier: MIT
#include "model_test_database.h"

#include <filesystem>
#include <memory>
#include <mutex>

#include "engine/db/tidewell_tables.h"
#include "support/firebird_test_database.h"
#include "toolkit/wide_string.h"

namespace model_testing {
namespace {

// Built once; its connection is closed so the file can be copied. Removed at
// exit like any test database: every test process makes one.
const std::string& SchemaTemplatePath() {
  static const std::unique_ptr<testing_support::FirebirdTestDatabase> templateDb = [] {
    auto db = std::make_unique<testing_support::FirebirdTestDatabase>(16384);
    tidewell::TtidewellGenerateTables(&db->Connection()).CreateMissingTables();
    db->Connection().Disconnect();
    return db;
  }();
  return templateDb->Path();
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += (c == '\'') ? std::string("''") : std::string(1, c);
  return out + "'";
}

}  // namespace

ModelTestDatabase::ModelTestDatabase() {
  testing_support::UsePrivateFirebirdLockFolder();
  const std::string path = folder_.File("model.fdb");
  std::filesystem::copy_file(SchemaTemplatePath(), path);
  connection_ = std::make_unique<tidewell::TDbConnWrapper>();
  connection_->SetDBFileName(path);
  connection_->Connect();
}

ModelTestDatabase::~ModelTestDatabase() { connection_.reset(); }

void ModelTestDatabase::Execute(const std::string& sql) { testing_support::RunStatement(*connection_, sql); }

int32_t ModelTestDatabase::InsertReturning(const std::string& sql) {
  int32_t id = 0;
  testing_support::RunStatement(*connection_, sql,
                                [&](tidewell::TQueryWrapper& row) { id = row.Fields(0).AsInteger(); });
  return id;
}

int64_t ModelTestDatabase::QueryInt64(const std::string& sql) {
  const std::string text = QueryText(sql);
  return text.empty() ? 0 : std::stoll(text);
}

std::string ModelTestDatabase::QueryText(const std::string& sql) {
  std::string text;
  testing_support::RunStatement(*connection_, sql, [&](tidewell::TQueryWrapper& row) {
    if (!row.Eof()) text = row.Fields(0).AsString();
  });
  return text;
}

double ModelTestDatabase::QueryDateTime(const std::string& sql) {
  double value = -1.0;
  testing_support::RunStatement(*connection_, sql, [&](tidewell::TQueryWrapper& row) {
    if (!row.Eof() && !row.Fields(0).IsNull()) value = row.Fields(0).AsDateTime();
  });
  return value;
}

void ModelTestDatabase::ExecuteWithDateTime(const std::string& sql, double value) {
  testing_support::RunStatement(*connection_, sql, {},
                                [&](tidewell::TQueryWrapper& statement) { statement.Params(0).SetDateTime(value); });
}

int32_t ModelTestDatabase::InsertFeed(const std::string& link, const std::string& type, int32_t parentFeed) {
  return InsertReturning("insert into feeds(link,type_,parentFeed,title) values(" + Quoted(link) + "," + Quoted(type) +
                         "," + std::to_string(parentFeed) + ",'feed') returning feed_id");
}

int32_t ModelTestDatabase::InsertArticle(int32_t feedId, const std::u16string& title, const std::u16string& body) {
  return InsertReturning("insert into articles(feed_id,title,body,guid) values(" + std::to_string(feedId) + "," +
                         Quoted(kt::WideToUtf8(title)) + "," + Quoted(kt::WideToUtf8(body)) + ",'g') returning id");
}

int32_t ModelTestDatabase::InsertEnclosure(int32_t articleId, const std::string& url, int32_t downloadStatus) {
  return InsertReturning("insert into enclosures(article_id,url_,download_status,size_,type_) values(" +
                         std::to_string(articleId) + "," + Quoted(url) + "," + std::to_string(downloadStatus) +
                         ",1234,'audio/mpeg') returning enclosure_id");
}

int32_t ModelTestDatabase::InsertLink(int32_t articleId, const std::string& url) {
  const int32_t linkId = InsertReturning("insert into links(link) values(" + Quoted(url) + ") returning link_id");
  Execute("insert into articles_links(article_id,link_id) values(" + std::to_string(articleId) + "," +
          std::to_string(linkId) + ")");
  return linkId;
}

int32_t ModelTestDatabase::InsertKeyword(int32_t articleId, const std::string& value, bool userDefined) {
  const int32_t keywordId = InsertReturning("insert into keywords(value_,isuserdefined) values(" + Quoted(value) + "," +
                                            (userDefined ? "1" : "0") + ") returning id");
  Execute("insert into article_keywords(article_id,keyword_id) values(" + std::to_string(articleId) + "," +
          std::to_string(keywordId) + ")");
  return keywordId;
}

int32_t ModelTestDatabase::InsertWebPage(int32_t articleId, const std::string& content) {
  tidewell::TTranWrapper transaction(connection_.get());
  transaction.StartTransaction();
  tidewell::TQueryWrapper statement;
  statement.SetTransaction(&transaction);
  statement.SQL.Add("insert into webpages(article_id,link_id,content) values(?,0,?) returning id");
  statement.Params(0).SetInteger(articleId);
  statement.Params(1).SetBlob(content);
  statement.ExecQuery();
  const int32_t id = statement.Fields(0).AsInteger();
  statement.Close();
  transaction.Commit();
  return id;
}

int32_t ModelTestDatabase::InsertCustomTag(const std::string& tablePrefix, int32_t ownerId, const std::string& tag,
                                           const std::string& value, const std::string& attribute,
                                           const std::string& attributeValue) {
  const bool article = tablePrefix == "articles";
  int32_t definition = static_cast<int32_t>(
      QueryInt64("select customfield_id from customfield_definitions where customfield_tag=" + Quoted(tag)));
  if (definition == 0)
    definition = InsertReturning("insert into customfield_definitions(customfield_tag) values(" + Quoted(tag) +
                                 ") returning customfield_id");
  const int32_t valueId =
      InsertReturning("insert into " + tablePrefix + "_customfields(" + (article ? "article_id" : "feed_id") +
                      ",customfield_id,value_) values(" + std::to_string(ownerId) + "," + std::to_string(definition) +
                      "," + Quoted(value) + ") returning id");
  int32_t attributeId =
      static_cast<int32_t>(QueryInt64("select id from customfield_attributes where attr_name=" + Quoted(attribute)));
  if (attributeId == 0)
    attributeId =
        InsertReturning("insert into customfield_attributes(attr_name) values(" + Quoted(attribute) + ") returning id");
  Execute("insert into " + tablePrefix + "_customfields_attr(" +
          (article ? "articles_customfield_id" : "feed_customfield_id") + ",attrb_id,attr_value) values(" +
          std::to_string(valueId) + "," + std::to_string(attributeId) + "," + Quoted(attributeValue) + ")");
  return valueId;
}

}  // namespace model_testing
