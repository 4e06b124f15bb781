// SPDX-License-Identifier: MIT
#include "engine/model/articles_by_filter.h"

#include "engine/model/model_support.h"
#include "engine/settings/tidewell_globvars.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

enum : uint8_t { kModeByCreated = 2, kModeByModified = 3, kModeByFeedTitle = 4, kModeByKeyword = 5 };

// Bits of the filter select's article columns.
enum : int {
  kColGuid = 0,
  kColCreated,
  kColModified,
  kColTitle,
  kColSummary,
  kColCreator,
  kColLink,
  kColReadStatus,
  kColFlag,
  kColRating,
  kColArticleMD5,
  kColBody,
  kColKeywordCache,
};

const char* DefaultOrder(uint8_t sortMode) {
  switch (sortMode) {
    case kModeByCreated:
      return "articles.created desc";
    case kModeByModified:
      return "articles.modified desc";
    case kModeByFeedTitle:
      return "feeds.title  collate UTF8 ,articles.created desc";
    case kModeByKeyword:
      return "keywords.value_  collate UTF8 ,articles.created desc";
    default:
      return "";
  }
}

std::u16string DisplayTitle(const std::u16string& stored) {
  std::u16string title = model::StripTagsAndTrim(stored);
  if (title.empty() || title == u"...") return kt::Utf8ToWide(MessageText(kNoTitle));
  return title;
}

template <typename E>
E EnumOrFirst(int ordinal) {
  return EnumFromOrdinal<E>(ordinal).value_or(static_cast<E>(0));
}

class FinishedOnExit {
 public:
  explicit FinishedOnExit(bool& finished) : finished_(finished) { finished_ = false; }
  ~FinishedOnExit() { finished_ = true; }
  FinishedOnExit(const FinishedOnExit&) = delete;
  FinishedOnExit& operator=(const FinishedOnExit&) = delete;

 private:
  bool& finished_;
};

}  // namespace

// ---- TFilteredArticleProperty ---------------------------------------------------

TFilteredArticleProperty::TFilteredArticleProperty(TBaseClass* owner, int32_t feedId, int32_t articleId)
    : TArticleProperty(owner, articleId) {
  FeedId = feedId;
}

TFilteredArticleProperty::~TFilteredArticleProperty() = default;

// ---- TArticlesByFilter ----------------------------------------------------------

TArticlesByFilter::TArticlesByFilter(TDbConnWrapper* database)
    : TArticles(database, -1), Grouper(std::make_unique<TArticlesByFilterGrouper>(1, nullptr)) {}

TArticlesByFilter::~TArticlesByFilter() {
  Grouper.reset();
  Items.clear();
}

void TArticlesByFilter::Clear() {
  if (Grouper) Grouper->Reset();
  TArticles::Clear();
}

TFilteredArticleProperty* TArticlesByFilter::GetItem(int32_t index) const {
  auto* row = dynamic_cast<TFilteredArticleProperty*>(ItemAt(index, kFeedIndexOutOfBounds));
  if (row == nullptr) RaiseMessage(kFeedIndexOutOfBounds);
  return row;
}

void TArticlesByFilter::LoadByFilter(std::unique_ptr<TArticlesByFilter>& collection,
                                     const TFilterLoadRequest& request) {
  TArticlesByFilter* const self = collection.get();
  if (self == nullptr) return;
  try {
    self->RunFilterLoad(request);
  } catch (...) {
    if (self->Cancel) collection.reset();
    throw;
  }
  if (self->Cancel) collection.reset();
}

void TArticlesByFilter::CheckSortMode(const TFilterLoadRequest& request) const {
  const uint16_t mask = request.columnMask;
  const bool noCreated = mask != 0 && !(mask & (1u << kColCreated));
  const bool noModified = mask != 0 && !(mask & (1u << kColModified));
  if ((request.sortMode == kModeByCreated && noCreated) || (request.sortMode == kModeByModified && noModified) ||
      (request.sortMode == kModeByFeedTitle && !request.feedColumns))
    RaiseMessage(kGroupItemBadlyDefined);
}

void TArticlesByFilter::RunFilterLoad(const TFilterLoadRequest& request) {
  FinishedOnExit finished(Finished);
  Clear();
  CheckSortMode(request);
  const std::string order = request.order.empty() ? DefaultOrder(request.sortMode) : request.order;
  Cancel = false;
  std::unique_ptr<TUbinaryTree> seenArticles;
  if (GlobalVars != nullptr && GlobalVars->GetDistinctSmartFeeds()) seenArticles = std::make_unique<TUbinaryTree>();
  Grouper->Reset();
  Grouper->OnGroup = request.onGroup;
  Grouper->Mode = request.sortMode;
  reference_time_ = Now();
  std::unique_ptr<TFilterWorkShop> ownWorkShop;
  TFilterWorkShop* workShop = request.root != nullptr ? request.root->WorkShop : nullptr;
  if (workShop == nullptr) {
    ownWorkShop = std::make_unique<TFilterWorkShop>(Database);
    workShop = ownWorkShop.get();
  }
  try {
    const bool started = StartTransactionIfIdle();
    ResetQuery();
    if (workShop->PrepareArticleQuery(Query, request.root, request.createdSince, request.columnMask,
                                      request.sortMode, request.feedColumns, request.skip, request.rowCount, order))
      ReadRows(request, seenArticles.get());
    Loaded = true;
    ResetQuery();
    if (started) Transaction->Commit();
  } catch (const kt::EAbort&) {
    AbandonLoad();
  } catch (...) {
    AbandonLoad();
    throw;
  }
}

void TArticlesByFilter::ReadRows(const TFilterLoadRequest& request, TUbinaryTree* seenArticles) {
  OpenQuery();
  bool goOn = true;
  while (goOn && !Query->Eof() && !Cancel) {
    TFilteredArticleProperty* row = ReadRow(request, seenArticles);
    Query->Next();
    if (row == nullptr) continue;
    GroupRow(row, request.sortMode, Query->Eof(), goOn);
  }
}

// nullptr for an article read already by this load.
TFilteredArticleProperty* TArticlesByFilter::ReadRow(const TFilterLoadRequest& request,
                                                     TUbinaryTree* seenArticles) {
  TQueryWrapper& q = *Query;
  int column = 0;
  std::u16string keyword;
  if (request.sortMode == kModeByKeyword) keyword = q.Fields(column++).AsWideString();
  const int32_t feedId = q.Fields(column++).AsInteger();
  const int32_t articleId = q.Fields(column++).AsInteger();
  if (seenArticles != nullptr) {
    if (seenArticles->Find(articleId) != nullptr) return nullptr;
    seenArticles->Add(articleId, nullptr);
  }
  auto row = std::make_unique<TFilteredArticleProperty>(this, feedId, articleId);
  TFilteredArticleProperty& a = *row;
  Items.push_back(std::move(row));
  a.Keyword = keyword;
  ReadArticleColumns(q, column, request.columnMask, a);
  if (request.feedColumns) ReadFeedColumns(q, column, a);
  return &a;
}

void TArticlesByFilter::ReadArticleColumns(TQueryWrapper& q, int& column, uint16_t mask,
                                           TFilteredArticleProperty& a) {
  auto has = [mask](int bit) { return mask == 0 || (mask & (1u << bit)) != 0; };
  if (has(kColGuid)) a.Guid = q.Fields(column++).AsString();
  if (has(kColCreated)) a.Created = model::DateTimeOrMinusOne(q.Fields(column++));
  if (has(kColModified)) a.Modified = model::DateTimeOrMinusOne(q.Fields(column++));
  if (has(kColTitle)) a.Title = DisplayTitle(q.Fields(column++).AsWideString());
  if (has(kColSummary)) a.Summary = q.Fields(column++).AsWideString();
  if (has(kColCreator)) a.Creator = q.Fields(column++).AsWideString();
  if (has(kColLink)) a.Link = q.Fields(column++).AsString();
  if (has(kColReadStatus)) a.ReadStatus = EnumOrFirst<TArticleReadStatus>(q.Fields(column++).AsInteger());
  if (has(kColFlag)) a.Flag = EnumOrFirst<TArticleFlagType>(q.Fields(column++).AsInteger());
  if (has(kColRating)) a.Rating = q.Fields(column++).AsInteger();
  if (has(kColArticleMD5)) {
    // Selected with every column, but kept only when asked for by name.
    if (mask != 0) a.ArticleMD5 = q.Fields(column).AsString();
    ++column;
  }
  if (has(kColBody)) a.Body = q.Fields(column++).AsWideString();
  if (has(kColKeywordCache)) a.KeywordCache = q.Fields(column++).AsWideString();
  a.EnclosureCount = q.Fields(column++).AsInteger();
}

void TArticlesByFilter::ReadFeedColumns(TQueryWrapper& q, int& column, TFilteredArticleProperty& a) {
  if (!Transaction->InTransaction())
    throw kt::Exception("Transaction lost ! (tidewell_BaseClasses.pas, line 5965)");
  a.Feed = std::make_unique<TFeedProperty>(this, a.FeedId);
  TFeedProperty& f = *a.Feed;
  ++column;  // feeds.feed_Id: the row's feed id
  f.Title = q.Fields(column++).AsWideString();
  f.Link = q.Fields(column++).AsString();
  f.Homepage = q.Fields(column++).AsString();
  f.FavIcon = q.Fields(column++).AsString();
  f.Image = q.Fields(column++).AsString();
  f.FeedModified = model::DateTimeOrMinusOne(q.Fields(column++));
  f.ETag = q.Fields(column++).AsString();
  ++column;  // feedMD5 stays empty
  f.PageLastModified = model::DateTimeOrMinusOne(q.Fields(column++));
  f.FetchSeconds = q.Fields(column++).AsInteger() / 1000.0;
  f.UpdateInterval = q.Fields(column++).AsInteger();
  f.UserName = q.Fields(column++).AsString();
  f.Password = q.Fields(column++).AsString();
  f.ArchiveSize = q.Fields(column++).AsInteger();
  f.FeedRating = static_cast<int16_t>(q.Fields(column++).AsInteger());
  f.KeywordSeparator = q.Fields(column++).AsString();
  f.LastStatusCode = static_cast<int16_t>(q.Fields(column++).AsInteger());
  f.RtlEnabled = static_cast<int16_t>(q.Fields(column++).AsInteger());
  f.OpmlDescr = q.Fields(column++).AsWideString();
  const std::string type = model::UpperAscii(q.Fields(column++).AsString());
  f.IsOpml = type == "OPML";
  f.IsCommentFeed = type == "COMMFEED";
  f.IsSearchRoot = type == "OSRCROOT";
  f.IsSearchResult = type == "OSRC";
  f.Priority = q.Fields(column++).AsInteger();
}

void TArticlesByFilter::GroupRow(TFilteredArticleProperty* row, uint8_t sortMode, bool lastRow, bool& goOn) {
  switch (sortMode) {
    case kModeByCreated:
      Grouper->AddRow(DateAgeGroup(UTCToLocalTime(row->Created), reference_time_), row, goOn, lastRow, nullptr);
      break;
    case kModeByModified:
      Grouper->AddRow(DateAgeGroup(UTCToLocalTime(row->Modified), reference_time_), row, goOn, lastRow, nullptr);
      break;
    case kModeByFeedTitle:
      Grouper->AddRowByText(row->Feed->Title, row, goOn, lastRow, nullptr);
      break;
    case kModeByKeyword:
      Grouper->AddRowByText(row->Keyword.empty() ? std::u16string(u"empty__") : row->Keyword, row, goOn, lastRow,
                            &row->Keyword);
      break;
    default:
      break;
  }
}

}  // namespace tidewell
