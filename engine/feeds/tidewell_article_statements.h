// SPDX-License-Identifier: MIT
// The rows a processor writes for one article, and the statements that
// write them: the insert and update of an article, the insert of an
// enclosure, one new article with its enclosure in one statement, and
// several new articles, each with or without its one enclosure, in one
// statement. Parameters are bound in the order of the texts. Pure text
// building and binding: the caller runs the statement.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

// An enclosure as an item announces it.
struct TItemEnclosure {
  std::string type;
  int32_t size = 0;
  std::string url;
};

// A date-time (UTC) with its zone text.
struct TZonedDate {
  TDateTime value = 0;
  std::string zone;
};

// The columns a processor writes for one article. The parent and the
// comment feed are written for new articles only.
struct TArticleRow {
  int32_t id = 0;
  std::string guid, link, md5Key;
  TZonedDate created, modified;
  std::u16string title, body, summary, creator;
  int32_t parentId = 0;
  int32_t commentFeedId = 0;
  std::u16string keywordCache;
};

// Parameters of an article's insert, and of an enclosure's.
constexpr int kArticleInsertParams = 17;
constexpr int kEnclosureParams = 6;

// "insert into Articles(...) values(...)": kArticleInsertParams parameters,
// the texts cut to their columns by the statement.
const std::string& ArticleInsertSql();
// "guid=...,modified=?,...": the columns an update writes (parameters 0 to
// 11), then the caller's "where id=?".
std::string ArticleUpdateAssignments();
extern const char* const kEnclosureInsertSql;

// Parameters first to first+4: the key and the two dates.
void BindKeyAndDates(TQueryWrapper* query, int first, const TArticleRow& row);
// Parameters first to first+11: what an insert and an update share.
void BindArticleColumns(TQueryWrapper* query, int first, const TArticleRow& row, TDateTime now);
// Parameters first to first+16 of the article's insert.
void BindInsertColumns(TQueryWrapper* query, int first, int32_t feedId, const TArticleRow& row, TDateTime now);
// Parameters first to first+5 of the enclosure's insert.
void BindEnclosure(TQueryWrapper* query, int first, int32_t articleId, const TItemEnclosure& enclosure,
                   TDateTime now);
// No enclosure in a slot of NewArticlesBlock: an empty URL.
void BindNoEnclosure(TQueryWrapper* query, int first, int32_t articleId, TDateTime now);

// One new article and its enclosure: the enclosure's parameters after the
// article's. Each parameter is declared with the type of its column, so
// texts are cut by their parameters (CutArticleTexts).
const std::string& ArticleWithEnclosureBlock();
// count new articles, each followed by an enclosure slot: an enclosure is
// inserted when its URL is not empty. Declared like ArticleWithEnclosureBlock.
std::string NewArticlesBlock(int count);
// Cuts the texts of the articles of a block as the single insert cuts them.
void CutArticleTexts(TQueryWrapper* query, int articles);

}  // namespace tidewell
