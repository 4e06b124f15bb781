// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_article_statements.h"

#include "engine/db/sql_text.h"
#include "toolkit/wide_string.h"

namespace tidewell {

namespace {

constexpr size_t kEnclosureTypeWidth = 85;

struct TArticleColumn {
  const char* name;
  const char* value;
};

// The columns an insert and an update of an article share, with their
// values: parameters 0 to 11 in this order.
constexpr TArticleColumn kArticleColumns[] = {
    {"guid", "substring(? from 1 for 255)"}, {"modified", "?"},
    {"modifiedtz", "substring(? from 1 for 20)"}, {"created", "?"},
    {"createdtz", "substring(? from 1 for 20)"}, {"title", "substring(? from 1 for 512)"},
    {"body", "?"}, {"link", "substring(? from 1 for 1000)"},
    {"creator", "substring(? from 1 for 128)"}, {"lastTimeUpdated", "?"},
    {"articleMD5", "?"}, {"summary", "substring(? from 1 for 1000)"}};

// The columns only an insert writes, after the shared ones: parameters 12
// to 16.
constexpr TArticleColumn kInsertOnlyColumns[] = {{"id", "?"},
                                                 {"feed_id", "?"},
                                                 {"articles_parent", "?"},
                                                 {"commentfeed_id", "?"},
                                                 {"keywordCache", "substring(? from 1 for 3000)"}};

constexpr const char* kEnclosureColumns[] = {"article_id", "url_", "size_", "type_", "downloadstart", "downloadend"};

// "name,name,..." or "value,value,..." or "name=value,...".
std::string ArticleColumnList(bool names, bool values) {
  std::string list;
  for (const TArticleColumn& column : kArticleColumns) {
    if (!list.empty()) list += ',';
    if (names) list += column.name;
    if (names && values) list += '=';
    if (values) list += column.value;
  }
  return list;
}

std::string ArticleInsertNames() {
  std::string names = ArticleColumnList(true, false);
  for (const TArticleColumn& column : kInsertOnlyColumns) names += std::string(",") + column.name;
  return names;
}

// The declarations of one article's and one enclosure's parameters, named
// prefix + index, and the ":name,..." lists of their values.
struct TBlockSlot {
  std::string declarations, articleValues, enclosureValues;
};

TBlockSlot BlockSlot(const std::string& prefix) {
  std::vector<std::string> types;
  for (const TArticleColumn& column : kArticleColumns) types.push_back(std::string("articles.") + column.name);
  for (const TArticleColumn& column : kInsertOnlyColumns) types.push_back(std::string("articles.") + column.name);
  for (const char* name : kEnclosureColumns) types.push_back(std::string("enclosures.") + name);
  TBlockSlot slot;
  for (size_t i = 0; i < types.size(); ++i) {
    const std::string name = prefix + std::to_string(i);
    slot.declarations += (i == 0 ? "" : ", ") + name + " type of column " + types[i] + " = ?";
    std::string& values = i < std::size(kArticleColumns) + std::size(kInsertOnlyColumns) ? slot.articleValues
                                                                                          : slot.enclosureValues;
    values += (values.empty() ? ":" : ",:") + name;
  }
  return slot;
}

std::string ArticleInsertOf(const TBlockSlot& slot) {
  return "insert into Articles(" + ArticleInsertNames() + ") values(" + slot.articleValues + ")";
}

std::string EnclosureInsertOf(const TBlockSlot& slot) {
  return "insert into enclosures(article_id,url_,size_,type_,downloadstart,downloadend) values(" +
         slot.enclosureValues + ")";
}

}  // namespace

const char* const kEnclosureInsertSql =
    "insert into enclosures(article_id,url_,size_,type_,downloadstart,downloadend) values(?,?,?,?,?,?)";

const std::string& ArticleInsertSql() {
  static const std::string sql = [] {
    std::string values = ArticleColumnList(false, true);
    for (const TArticleColumn& column : kInsertOnlyColumns) values += std::string(",") + column.value;
    return "insert into Articles(" + ArticleInsertNames() + ") values(" + values + ")";
  }();
  return sql;
}

std::string ArticleUpdateAssignments() { return ArticleColumnList(true, true); }

void BindKeyAndDates(TQueryWrapper* query, int first, const TArticleRow& row) {
  query->Params(first).SetString(row.guid);
  query->Params(first + 1).SetDateTime(row.modified.value);
  query->Params(first + 2).SetString(row.modified.zone);
  query->Params(first + 3).SetDateTime(row.created.value);
  query->Params(first + 4).SetString(row.created.zone);
}

void BindArticleColumns(TQueryWrapper* query, int first, const TArticleRow& row, TDateTime now) {
  BindKeyAndDates(query, first, row);
  query->Params(first + 5).SetWideString(row.title);
  query->Params(first + 6).SetWideString(row.body);
  query->Params(first + 7).SetString(row.link);
  query->Params(first + 8).SetWideString(row.creator);
  query->Params(first + 9).SetDateTime(now);
  query->Params(first + 10).SetString(row.md5Key);
  query->Params(first + 11).SetWideString(row.summary);
}

void BindInsertColumns(TQueryWrapper* query, int first, int32_t feedId, const TArticleRow& row, TDateTime now) {
  BindArticleColumns(query, first, row, now);
  query->Params(first + 12).SetInteger(row.id);
  query->Params(first + 13).SetInteger(feedId);
  query->Params(first + 14).SetInteger(row.parentId);
  query->Params(first + 15).SetInteger(row.commentFeedId);
  query->Params(first + 16).SetWideString(row.keywordCache);
}

void BindEnclosure(TQueryWrapper* query, int first, int32_t articleId, const TItemEnclosure& enclosure,
                   TDateTime now) {
  query->Params(first).SetInteger(articleId);
  query->Params(first + 1).SetString(enclosure.url);
  query->Params(first + 2).SetInteger(enclosure.size);
  // The insert takes the type as it is; a longer one than the column would
  // cost the article its content.
  query->Params(first + 3).SetString(kt::WideToUtf8(kt::Utf8ToWide(enclosure.type).substr(0, kEnclosureTypeWidth)));
  query->Params(first + 4).SetDateTime(now);
  query->Params(first + 5).SetDateTime(now);
}

void BindNoEnclosure(TQueryWrapper* query, int first, int32_t articleId, TDateTime now) {
  BindEnclosure(query, first, articleId, TItemEnclosure{}, now);
}

// Through a server, one round trip instead of two.
const std::string& ArticleWithEnclosureBlock() {
  static const std::string block = [] {
    const TBlockSlot slot = BlockSlot("p");
    return "execute block (" + slot.declarations + ") as begin\n  " + EnclosureInsertOf(slot) + ";\n  " +
           ArticleInsertOf(slot) + ";\nend";
  }();
  return block;
}

// An empty URL stands for no enclosure: a blank one is never stored.
std::string NewArticlesBlock(int count) {
  std::string declarations, body;
  for (int i = 0; i < count; ++i) {
    const TBlockSlot slot = BlockSlot("a" + std::to_string(i) + "_");
    const std::string url = ":a" + std::to_string(i) + "_" + std::to_string(kArticleInsertParams + 1);
    declarations += (i == 0 ? "" : ",\n  ") + slot.declarations;
    body += "  if (" + url + " <> '') then " + EnclosureInsertOf(slot) + ";\n";
    body += "  " + ArticleInsertOf(slot) + ";\n";
  }
  return "execute block (" + declarations + ") as begin\n" + body + "end";
}

void CutArticleTexts(TQueryWrapper* query, int articles) {
  static const std::vector<int32_t> cuts = db::SubstringCutLengths(ArticleInsertSql());
  for (int article = 0; article < articles; ++article) {
    const int first = article * (kArticleInsertParams + kEnclosureParams);
    for (size_t i = 0; i < cuts.size(); ++i) query->Params(first + static_cast<int>(i)).SetCutLength(cuts[i]);
  }
}

}  // namespace tidewell
