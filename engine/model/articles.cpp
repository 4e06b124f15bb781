// SPDX-License-Identifier: MIT
#include "engine/model/articles.h"

#include "engine/model/feed_property.h"
#include "engine/model/model_support.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

TParentClass* ArticlesParent(TParentClass* parent) {
  if (dynamic_cast<TFeedProperty*>(parent) == nullptr && dynamic_cast<TArticleProperty*>(parent) == nullptr)
    RaiseMessage(kParentClassInvalid);
  return parent;
}

// The page columns in mask-bit order.
constexpr const char* kPageColumns[] = {
    ",guid", ",created", ",modified", ",title", ",summary", ",creator", ",link", ",readstatus", ",flag", ",rating",
    ",articleMD5", ",body",
    ",(select count(*)  from enclosures  where enclosures.article_id=articles.id) as encnt", ",keywordCache"};
constexpr int kPageColumnCount = 14;

std::u16string DisplayTitle(const std::u16string& stored) {
  std::u16string title = model::StripTagsAndTrim(stored);
  if (title.empty() || title == u"...") return kt::Utf8ToWide(MessageText(kNoTitle));
  return title;
}

template <typename E>
E EnumOrFirst(int ordinal) {
  return EnumFromOrdinal<E>(ordinal).value_or(static_cast<E>(0));
}

}  // namespace

TArticles::TArticles(TParentClass* parent, int32_t feedId) : TBaseClass(ArticlesParent(parent)) { Id = feedId; }

TArticles::TArticles(TDbConnWrapper* database, int32_t feedId) : TBaseClass(database) { Id = feedId; }

TArticles::TArticles(TParentClass* parent, int32_t id, ParentChecked) : TBaseClass(parent) { Id = id; }

TArticleProperty* TArticles::GetItem(int32_t index) const {
  auto* row = dynamic_cast<TArticleProperty*>(ItemAt(index, kArticleIndexOutOfBounds));
  if (row == nullptr) RaiseMessage(kArticleIndexOutOfBounds);
  return row;
}

void TArticles::LoadById(int32_t feedId, const std::string& order, int32_t skip, int32_t count) {
  LoadArticles("where feed_id=" + std::to_string(feedId), false, false, skip, count, order);
}

void TArticles::LoadByArticleId(int32_t articleId, bool skipBody, int32_t /*skip*/, int32_t count,
                                const std::string& order) {
  LoadByIds({articleId}, skipBody, 0, count, order);
}

void TArticles::LoadByIds(const TDynIntArray& ids, bool skipBody, int32_t skip, int32_t count,
                          const std::string& order) {
  Clear();
  if (ids.empty()) return;
  LoadArticles("where " + model::InListCondition("id", ids), true, skipBody, skip, count, order);
}

void TArticles::LoadArticles(const std::string& whereLine, bool byIds, bool skipBody, int32_t skip, int32_t count,
                             const std::string& order) {
  LoadRequest request;
  request.lines = {"select " + model::PagingClause(skip, count) + "id,guid,created,modified,",
                   "(case when title='' then",
                   "      substring(body from 1 for 512)||'...'",
                   " else",
                   "      title",
                   " end) as title,"};
  if (byIds) {
    request.lines.insert(request.lines.end(), {"summary,creator,", "link,readstatus,flag,rating,articleMD5,body,feed_Id,"});
  } else {
    request.lines.push_back("summary,creator,link,readstatus,flag,rating,articleMD5,body,feed_id,");
  }
  request.lines.insert(request.lines.end(), {" (select count(*)", "  from Enclosures",
                                             "  where Enclosures.article_id=Articles.id) as encnt,", "keywordCache",
                                             "from Articles", whereLine, " and deleted=0"});
  if (!order.empty()) request.lines.push_back("order by " + order);
  request.quietAbort = true;
  RunLoad(request, [this, skipBody](TQueryWrapper& query) { ReadArticleRow(query, skipBody); });
}

void TArticles::ReadArticleRow(TQueryWrapper& q, bool skipBody) {
  auto row = std::make_unique<TArticleProperty>(this, q.Fields(0).AsInteger());
  TArticleProperty& a = *row;
  Items.push_back(std::move(row));
  a.Guid = q.Fields(1).AsString();
  a.Created = model::DateTimeOrMinusOne(q.Fields(2));
  a.Modified = model::DateTimeOrMinusOne(q.Fields(3));
  a.Title = DisplayTitle(q.Fields(4).AsWideString());
  a.Summary = q.Fields(5).AsWideString();
  a.Creator = q.Fields(6).AsWideString();
  a.Link = q.Fields(7).AsString();
  a.ReadStatus = EnumOrFirst<TArticleReadStatus>(q.Fields(8).AsInteger());
  a.Flag = EnumOrFirst<TArticleFlagType>(q.Fields(9).AsInteger());
  a.Rating = q.Fields(10).AsInteger();
  a.ArticleMD5 = q.Fields(11).AsString();
  if (!skipBody) a.Body = q.Fields(12).AsWideString();
  a.FeedId = q.Fields(13).AsInteger();
  a.EnclosureCount = q.Fields(14).AsInteger();
  a.KeywordCache = q.Fields(15).AsWideString();
}

void TArticles::LoadPage(int32_t feedId, uint16_t mask, int32_t skip, int32_t count, const std::string& order,
                         bool includeDeleted) {
  std::string columns = "select " + model::PagingClause(skip, count) + "id,feed_id,deleted";
  for (int bit = 0; bit < kPageColumnCount; ++bit)
    if (!(mask & (1u << bit))) columns += kPageColumns[bit];
  LoadRequest request;
  request.lines = {columns, "from articles", "where feed_id=?"};
  request.bind = [feedId](TQueryWrapper& query) { query.Params(0).SetInteger(feedId); };
  if (!includeDeleted) request.lines.push_back(" and deleted=0");
  if (!order.empty()) request.lines.push_back("order by " + order);
  request.quietAbort = true;
  RunLoad(request, [this, mask](TQueryWrapper& query) { ReadPageRow(query, mask); });
}

void TArticles::ReadPageRow(TQueryWrapper& q, uint16_t mask) {
  auto row = std::make_unique<TArticleProperty>(this, q.Fields(0).AsInteger());
  TArticleProperty& a = *row;
  Items.push_back(std::move(row));
  a.FeedId = q.Fields(1).AsInteger();
  a.Deleted = q.Fields(2).AsInteger() > 0;
  int next = 3;
  auto wanted = [&](PageColumn column) { return !(mask & column); };
  if (wanted(kPageGuid)) a.Guid = q.Fields(next++).AsString();
  if (wanted(kPageCreated)) a.Created = model::DateTimeOrMinusOne(q.Fields(next++));
  if (wanted(kPageModified)) a.Modified = model::DateTimeOrMinusOne(q.Fields(next++));
  if (wanted(kPageTitle)) a.Title = q.Fields(next++).AsWideString();
  if (wanted(kPageSummary)) a.Summary = q.Fields(next++).AsWideString();
  if (wanted(kPageCreator)) a.Creator = q.Fields(next++).AsWideString();
  if (wanted(kPageLink)) a.Link = q.Fields(next++).AsString();
  if (wanted(kPageReadStatus)) a.ReadStatus = EnumOrFirst<TArticleReadStatus>(q.Fields(next++).AsInteger());
  if (wanted(kPageFlag)) a.Flag = EnumOrFirst<TArticleFlagType>(q.Fields(next++).AsInteger());
  if (wanted(kPageRating)) a.Rating = q.Fields(next++).AsInteger();
  if (wanted(kPageArticleMD5)) a.ArticleMD5 = q.Fields(next++).AsString();
  if (wanted(kPageBody)) a.Body = q.Fields(next++).AsWideString();
  if (wanted(kPageEnclosureCount)) a.EnclosureCount = q.Fields(next++).AsInteger();
  if (wanted(kPageKeywordCache)) a.KeywordCache = q.Fields(next++).AsWideString();
}

}  // namespace tidewell
