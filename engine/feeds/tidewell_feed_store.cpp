// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_store.h"

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "engine/db/database_location.h"
#include "engine/db/sql_text.h"
#include "engine/db/tidewell_db_helper.h"
#include "engine/db/tidewell_schema_texts.h"
#include "engine/addresses/feed_address.h"
#include "engine/db/update_conflict.h"
#include "engine/feeds/tidewell_episode_identity.h"
#include "engine/model/articles.h"
#include "engine/model/feed_property.h"
#include "engine/model/new_custom_tags_class.h"
#include "engine/net/tidewell_trd_job_prop_class.h"
#include "engine/settings/tidewell_globvars.h"
#include "engine/settings/value_scrambling.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/exception.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {

namespace {

constexpr double kMinute = 1.0 / 1440;
constexpr size_t kLinkWidth = 1000;

void ResetStatement(TQueryWrapper* query, const std::vector<std::string>& lines) {
  query->Close();
  query->SQL.Clear();
  for (const std::string& line : lines) query->SQL.Add(line);
}

void CopyField(db::Field& field, db::Param& param, bool integer) {
  if (field.IsNull())
    param.SetNull();
  else if (integer)
    param.SetInteger(field.AsInteger());
  else
    param.SetString(field.AsString());
}

std::string TrimUtf8(const std::string& text) { return kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(text))); }

bool HasHost(const std::string& url) { return url.find("://") != std::string::npos; }

// The HREF value of one A tag (the text between "<A " and ">"); empty when
// it has none or it runs script.
std::u16string HrefValue(const std::u16string& tag) {
  std::u16string upper = tag;
  for (char16_t& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  const size_t href = upper.find(u"HREF=");
  if (href == std::u16string::npos) return {};
  std::u16string value = tag.substr(href + 5);
  value.erase(std::remove(value.begin(), value.end(), u'"'), value.end());
  value = kt::TrimW(value.substr(0, value.find(u' ')));
  if (kt::StrContainsIW(u"JAVASCRIPT:", value)) return {};
  // Markup written back from a document escapes "&" in its attributes.
  if (value.find(u'&') != std::u16string::npos) {
    std::string decoded = kt::WideToUtf8(value);
    DecodeHtmlEntities(decoded);
    value = kt::Utf8ToWide(decoded);
  }
  return value;
}

}  // namespace

TtidewellFeedStore::TtidewellFeedStore(TtidewellFeedContext& context, TtidewellTrdJobPropClass& job)
    : context_(context), job_(job), articlesTogether_(ArticlesTogether(context)) {}

TDateTime TtidewellFeedStore::UtcNow() { return LocalTimeToUTC(Now()); }

void TtidewellFeedStore::StartTransaction() {
  if (!context_.transaction->InTransaction()) context_.transaction->StartTransaction();
}

void TtidewellFeedStore::RollbackQuietly() {
  pendingEnclosure_.reset();
  queuedArticles_.clear();
  queuedBytes_ = 0;
  try {
    context_.query->Close();
    if (context_.transaction->InTransaction()) context_.transaction->Rollback();
  } catch (const std::exception&) {
    // The transaction ends even when the engine reports a failure.
  }
}

int32_t TtidewellFeedStore::SelectInteger(const std::vector<std::string>& lines, const std::vector<int32_t>& params) {
  TQueryWrapper* query = context_.query;
  ResetStatement(query, lines);
  for (size_t i = 0; i < params.size(); ++i) query->Params(static_cast<int>(i)).SetInteger(params[i]);
  ExecQueryTimed(query, true);
  const int32_t value = query->Eof() ? 0 : query->Fields(0).AsInteger();
  query->Close();
  return value;
}

// --- Rows of one article --------------------------------------------------------

int32_t TtidewellFeedStore::NewArticleId() {
  const int32_t id = context_.dbHelper->ReserveArticleId(context_.query);
  newArticles_.insert(id);
  return id;
}

void TtidewellFeedStore::WriteArticle(int32_t feedId, TArticleRow& row, const TNewCustomTagsClass& tags,
                                      const TFeedProperty* record, TFailedArticle failed) {
  if (!IsNewArticle(row.id)) return UpdateArticle(row);
  row.keywordCache = NewArticleKeywordCache(tags, row.id, record);
  QueueNewArticle(feedId, row, failed);
}

// --- New articles, several to a statement ---------------------------------------

namespace {

// New articles stored together through a server: one round trip for them
// all. A power of two, so that a worker keeps few prepared forms.
constexpr size_t kArticlesTogetherThroughAServer = 4;
// What the parameters of the articles stored together may take, at most
// (their message; the engine's own copy of it is larger).
constexpr size_t kArticlesTogetherBytes = 48 * 1024;

// At most the bytes the article's parameters take in the statement's
// message: texts travel as UTF-8 (3 bytes per UTF-16 unit at most), a body
// too long for the message as a blob.
size_t MessageBytes(const TArticleRow& row, const std::optional<TItemEnclosure>& enclosure) {
  constexpr size_t kSlotRounding = 256, kTexts = 12, kOthers = 11 * 8, kInlineBody = 32765;
  const size_t wide = row.title.size() + row.summary.size() + row.creator.size() + row.keywordCache.size();
  size_t bytes = 3 * wide + std::min<size_t>(3 * row.body.size(), kInlineBody) + row.guid.size() +
                 row.link.size() + row.md5Key.size() + row.created.zone.size() + row.modified.zone.size();
  if (enclosure) bytes += enclosure->url.size() + enclosure->type.size();
  return bytes + kTexts * kSlotRounding + kOthers;
}

}  // namespace

size_t TtidewellFeedStore::ArticlesTogether(const TtidewellFeedContext& context) {
  if (context.articlesPerStatement > 0) return static_cast<size_t>(context.articlesPerStatement);
  const bool throughAServer = context.connection != nullptr && db::IsServerPath(context.connection->DBFileName());
  return throughAServer ? kArticlesTogetherThroughAServer : 1;
}

void TtidewellFeedStore::QueueNewArticle(int32_t feedId, const TArticleRow& row, TFailedArticle failed) {
  TQueuedArticle queued{feedId, row, std::nullopt, failed};
  if (pendingEnclosure_ && pendingEnclosure_->first == row.id) {
    queued.enclosure = std::move(pendingEnclosure_->second);
    pendingEnclosure_.reset();
  }
  FlushPendingEnclosure();
  queuedBytes_ += MessageBytes(queued.row, queued.enclosure);
  queuedArticles_.push_back(std::move(queued));
}

void TtidewellFeedStore::StoreQueuedArticlesWhenFull() {
  if (queuedArticles_.size() >= articlesTogether_ || queuedBytes_ > kArticlesTogetherBytes) StoreQueuedArticles();
}

void TtidewellFeedStore::StoreQueuedArticles() {
  std::vector<TQueuedArticle> queued = std::move(queuedArticles_);
  queuedArticles_.clear();
  queuedBytes_ = 0;
  for (size_t first = 0; first < queued.size();) {
    const size_t count = ArticlesForOneStatement(queued, first);
    if (count == 1 || !InsertArticlesTogether(queued, first, count))
      for (size_t i = first; i < first + count; ++i) InsertQueuedArticle(queued[i]);
    first += count;
  }
}

// The most articles from first on, a power of two, whose parameters fit.
size_t TtidewellFeedStore::ArticlesForOneStatement(const std::vector<TQueuedArticle>& queued, size_t first) const {
  size_t fitting = 0, bytes = 0;
  while (first + fitting < queued.size() && fitting < articlesTogether_) {
    bytes += MessageBytes(queued[first + fitting].row, queued[first + fitting].enclosure);
    if (fitting > 0 && bytes > kArticlesTogetherBytes) break;
    ++fitting;
  }
  size_t count = 1;
  while (count * 2 <= fitting) count *= 2;
  return count;
}

// False when the statement failed: it undid itself, and the articles are
// then stored one by one, each failing as it would have alone.
bool TtidewellFeedStore::InsertArticlesTogether(const std::vector<TQueuedArticle>& queued, size_t first,
                                                size_t count) {
  TQueryWrapper* query = context_.query;
  const TDateTime now = UtcNow();
  return StoredTogether(query, NewArticlesBlock(static_cast<int>(count)), [&] {
    for (size_t i = 0; i < count; ++i) {
      const TQueuedArticle& article = queued[first + i];
      const int slot = static_cast<int>(i) * (kArticleInsertParams + kEnclosureParams);
      BindInsertColumns(query, slot, article.feedId, article.row, now);
      if (article.enclosure)
        BindEnclosure(query, slot + kArticleInsertParams, article.row.id, *article.enclosure, now);
      else
        BindNoEnclosure(query, slot + kArticleInsertParams, article.row.id, now);
    }
    CutArticleTexts(query, static_cast<int>(count));
  });
}

// A failing article fails its document, or is stored reduced as its item
// would have been when the failure had come at once: without its links and
// not counted among the job's new articles.
void TtidewellFeedStore::InsertQueuedArticle(const TQueuedArticle& article) {
  try {
    InsertArticle(article.feedId, article.row, article.enclosure);
  } catch (const kt::EAbort&) {
    throw;
  } catch (const std::exception&) {
    if (article.failed == TFailedArticle::failsDocument) throw;
    TArticleRow reduced;
    reduced.id = article.row.id;
    reduced.guid = article.row.guid;
    reduced.created = article.row.created;
    reduced.modified = article.row.modified;
    reduced.md5Key = article.row.md5Key;
    reduced.link = article.row.link;
    WriteReducedArticle(article.feedId, reduced);
    reducedArticles_.insert(article.row.id);
    ForgetArticleId(article.row.id);
  }
}

void TtidewellFeedStore::InsertArticle(int32_t feedId, const TArticleRow& row,
                                       const std::optional<TItemEnclosure>& enclosure) {
  if (enclosure && InsertArticleWithEnclosure(feedId, row, *enclosure)) return;
  if (enclosure) InsertEnclosureAlone(row.id, *enclosure);
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {ArticleInsertSql()});
  BindInsertColumns(query, 0, feedId, row, UtcNow());
  ExecQueryTimed(query, false);
  query->Close();
}

// False when the statement failed: it undid itself, and the two inserts are
// then made one by one, each reporting its own failure as it always has.
bool TtidewellFeedStore::InsertArticleWithEnclosure(int32_t feedId, const TArticleRow& row,
                                                    const TItemEnclosure& enclosure) {
  TQueryWrapper* query = context_.query;
  const TDateTime now = UtcNow();
  return StoredTogether(query, ArticleWithEnclosureBlock(), [&] {
    BindInsertColumns(query, 0, feedId, row, now);
    BindEnclosure(query, kArticleInsertParams, row.id, enclosure, now);
    CutArticleTexts(query, 1);
  });
}

// The enclosure a new article's insert was to take along, stored alone.
void TtidewellFeedStore::FlushPendingEnclosure() {
  if (!pendingEnclosure_) return;
  const std::pair<int32_t, TItemEnclosure> pending = std::move(*pendingEnclosure_);
  pendingEnclosure_.reset();
  InsertEnclosureAlone(pending.first, pending.second);
}

void TtidewellFeedStore::InsertEnclosureAlone(int32_t articleId, const TItemEnclosure& enclosure) {
  try {
    InsertEnclosure(articleId, enclosure);
  } catch (const kt::EAbort&) {
    throw;
  } catch (const std::exception& e) {
    NoteDroppedEnclosures({std::string(MessageText(kEnclosureInsertUpdateFailed)) + "\r\n" + e.what()});
  }
}

std::u16string TtidewellFeedStore::KeywordSeparators(const TFeedProperty* record) {
  return record ? kt::Utf8ToWide(record->KeywordSeparator) : std::u16string();
}

std::u16string TtidewellFeedStore::NewArticleKeywordCache(const TNewCustomTagsClass& tags, int32_t articleId,
                                                          const TFeedProperty* record) {
  return TtidewellDbHelper::NewArticleKeywordCache(tags, articleId, KeywordSeparators(record));
}

void TtidewellFeedStore::UpdateArticle(const TArticleRow& row) {
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {"update Articles", "set " + ArticleUpdateAssignments(), "where id=?"});
  BindArticleColumns(query, 0, row, UtcNow());
  query->Params(12).SetInteger(row.id);
  ExecQueryTimed(query, false);
  query->Close();
}

void TtidewellFeedStore::UpdateArticleKeys(int32_t articleId, const std::string& guid, const std::string& md5Key) {
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {"update articles", "set guid=substring(? from 1 for 255),articleMD5=?", "where id=?"});
  query->Params(0).SetString(guid);
  query->Params(1).SetString(md5Key);
  query->Params(2).SetInteger(articleId);
  ExecQueryTimed(query, false);
  query->Close();
}

void TtidewellFeedStore::FollowMovedEnclosures(int32_t articleId, const std::vector<TEpisodeFile>& files,
                                               TFileMoves moves) {
  std::vector<TItemEnclosure> enclosures;
  for (const TEpisodeFile& file : files)
    if (file.url.size() <= static_cast<size_t>(kEnclosureUrlCharacters)) enclosures.push_back({"", file.length, file.url});
  std::vector<const TItemEnclosure*> announced;
  for (const TItemEnclosure& enclosure : enclosures) announced.push_back(&enclosure);
  std::vector<TStoredEnclosure> stored = LoadArticleEnclosures(articleId);
  const std::vector<TStoredEnclosure*> same = MatchEnclosures(announced, stored, moves);
  for (size_t i = 0; i < announced.size(); ++i) {
    if (same[i] == nullptr) continue;
    const int32_t size = announced[i]->size > 0 ? announced[i]->size : same[i]->size;
    if (same[i]->url != announced[i]->url || same[i]->size != size)
      UpdateEnclosureAddress(same[i]->id, announced[i]->url, size);
  }
}

void TtidewellFeedStore::WriteReducedArticle(int32_t feedId, const TArticleRow& row) {
  FlushPendingEnclosure();
  TQueryWrapper* query = context_.query;
  const bool isNew = IsNewArticle(row.id);
  if (isNew)
    ResetStatement(query, {"insert into Articles(guid,modified,modifiedtz,created,createdtz,articleMD5,link,id,feed_id)",
                           "values(substring(? from 1 for 255),?,substring(? from 1 for 20),?,"
                           "substring(? from 1 for 20),?,substring(? from 1 for 1000),?,?)"});
  else
    ResetStatement(query, {"update articles",
                           "set guid=substring(? from 1 for 255),modified=?,modifiedtz=substring(? from 1 for 20),",
                           "created=?,createdtz=substring(? from 1 for 20),articleMD5=?,link=substring(? from 1 for "
                           "1000)",
                           "where id=?"});
  BindKeyAndDates(query, 0, row);
  query->Params(5).SetString(row.md5Key);
  query->Params(6).SetString(row.link);
  query->Params(7).SetInteger(row.id);
  if (isNew) query->Params(8).SetInteger(feedId);
  ExecQueryTimed(query, false);
  query->Close();
}

std::vector<std::string> TtidewellFeedStore::AddEnclosures(int32_t articleId,
                                                          const std::vector<TItemEnclosure>& enclosures,
                                                          TFileMoves moves) {
  std::vector<const TItemEnclosure*> announced;
  std::vector<std::string> failures;
  for (const TItemEnclosure& enclosure : enclosures) {
    if (kt::TrimW(kt::Utf8ToWide(enclosure.url)).empty()) continue;
    const size_t length = kt::Utf8ToWide(enclosure.url).size();
    if (length > static_cast<size_t>(kEnclosureUrlCharacters))
      failures.push_back(std::string(MessageText(kEnclosureUrlTooLong)) + " (" + std::to_string(length) +
                         " characters): " + enclosure.url.substr(0, 100) + "...");
    else
      announced.push_back(&enclosure);
  }
  try {
    // A new article's only enclosure goes in with the article's insert.
    if (IsNewArticle(articleId) && announced.size() == 1) {
      FlushPendingEnclosure();
      pendingEnclosure_.emplace(articleId, *announced[0]);
      return failures;
    }
    // A new article has no rows yet: nothing to look for.
    std::vector<TStoredEnclosure> stored;
    if (!IsNewArticle(articleId) && !announced.empty()) stored = LoadArticleEnclosures(articleId);
    const std::vector<TStoredEnclosure*> same = MatchEnclosures(announced, stored, moves);
    for (size_t i = 0; i < announced.size(); ++i) {
      if (same[i] == nullptr) {
        InsertEnclosure(articleId, *announced[i]);
        continue;
      }
      const int32_t size = announced[i]->size > 0 ? announced[i]->size : same[i]->size;
      if (same[i]->url != announced[i]->url || same[i]->size != size)
        UpdateEnclosureAddress(same[i]->id, announced[i]->url, size);
    }
  } catch (const kt::EAbort&) {
    throw;
  } catch (const std::exception& e) {
    failures.push_back(std::string(MessageText(kEnclosureInsertUpdateFailed)) + "\r\n" + e.what());
  }
  return failures;
}

// Every announced enclosure is paired with the stored row it is the same
// file as (SameFile), each row at most once, the same URL first.
// Pre-upgrade articles may hold several rows of one file; the oldest is
// taken. A row is never paired by its place alone: a file that is not the
// row's is a new download.
std::vector<TtidewellFeedStore::TStoredEnclosure*> TtidewellFeedStore::MatchEnclosures(
    const std::vector<const TItemEnclosure*>& announced, std::vector<TStoredEnclosure>& stored,
    TFileMoves moves) {
  std::vector<TStoredEnclosure*> same(announced.size(), nullptr);
  const auto claim = [&](const std::function<bool(size_t, const TStoredEnclosure&)>& matches) {
    for (size_t i = 0; i < announced.size(); ++i) {
      for (TStoredEnclosure& row : stored) {
        if (same[i] != nullptr || row.claimed || !matches(i, row)) continue;
        row.claimed = true;
        same[i] = &row;
      }
    }
  };
  claim([&](size_t i, const TStoredEnclosure& row) { return row.url == announced[i]->url; });
  claim([&](size_t i, const TStoredEnclosure& row) {
    return SameFile({row.url, row.size}, {announced[i]->url, announced[i]->size}, moves);
  });
  return same;
}

std::vector<TtidewellFeedStore::TStoredEnclosure> TtidewellFeedStore::LoadArticleEnclosures(int32_t articleId) {
  TQueryWrapper* query = context_.query;
  ResetStatement(query,
                 {"select enclosure_id,url_,size_", "from enclosures", "where article_id=?", "order by enclosure_id"});
  query->Params(0).SetInteger(articleId);
  ExecQueryTimed(query, true);
  std::vector<TStoredEnclosure> rows;
  for (; !query->Eof(); query->Next()) {
    db::Field& size = query->Fields(2);
    rows.push_back({query->Fields(0).AsInteger(), query->Fields(1).AsString(), size.IsNull() ? 0 : size.AsInteger()});
  }
  query->Close();
  return rows;
}

void TtidewellFeedStore::InsertEnclosure(int32_t articleId, const TItemEnclosure& enclosure) {
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {kEnclosureInsertSql});
  BindEnclosure(query, 0, articleId, enclosure, UtcNow());
  ExecQueryTimed(query, false);
  query->Close();
}

// The download state stays: a file fetched under the old token, host or
// path is the same file.
void TtidewellFeedStore::UpdateEnclosureAddress(int32_t enclosureId, const std::string& url, int32_t size) {
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {"update enclosures", "set url_=?,size_=?", "where enclosure_id=?"});
  query->Params(0).SetString(url);
  query->Params(1).SetInteger(size);
  query->Params(2).SetInteger(enclosureId);
  ExecQueryTimed(query, false);
  query->Close();
}

std::vector<TStoredFile> TtidewellFeedStore::LoadStoredEnclosureFiles(int32_t feedId) {
  // The document's new articles read as stored ones do, whenever this runs.
  StoreQueuedArticles();
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {"select e.article_id,e.url_,e.size_", "from enclosures e", "join articles a on a.id=e.article_id",
                         "where a.feed_id=?", "order by e.enclosure_id"});
  query->Params(0).SetInteger(feedId);
  ExecQueryTimed(query, true);
  std::vector<TStoredFile> files;
  for (; !query->Eof(); query->Next()) {
    db::Field& size = query->Fields(2);
    files.push_back({query->Fields(0).AsInteger(), {query->Fields(1).AsString(), size.IsNull() ? 0 : size.AsInteger()}});
  }
  query->Close();
  return files;
}

std::vector<TEpisodeFile> TtidewellFeedStore::LoadEpisodeFiles(int32_t articleId) {
  std::vector<TEpisodeFile> files;
  for (const TStoredEnclosure& row : LoadArticleEnclosures(articleId)) files.push_back({row.url, row.size});
  return files;
}

void TtidewellFeedStore::NoteDroppedEnclosures(const std::vector<std::string>& reasons) {
  if (context_.notice == nullptr) return;
  for (const std::string& reason : reasons) {
    // A document stored again after a conflict notes the same again.
    if (context_.notice->find(reason) != std::string::npos) continue;
    if (!context_.notice->empty()) *context_.notice += "\r\n";
    *context_.notice += reason;
  }
  if (*context_.errorCategory == TErrorCategory::noErrors && !context_.notice->empty())
    *context_.errorText = *context_.notice;
}

int32_t TtidewellFeedStore::GetCommentFeed(int32_t feedId, int32_t articleId, const std::string& url) {
  if (GlobalVars == nullptr || !GlobalVars->GetCommentFeedsEnabled() || *context_.commentFeed) return 0;
  std::string link = TrimUtf8(url);
  DecodeHtmlEntities(link);
  if (kt::Utf8ToWide(link).size() > 1) link = TrimTrailingUrlMarks(ResolveUrl(*context_.url, link));
  if (!IsHttpUrl(link) || LowerAscii(link) == LowerAscii(*context_.url)) return 0;
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {"select feed_id from feeds where link=substring(? from 1 for 512)"});
  query->Params(0).SetString(link);
  ExecQueryTimed(query, true);
  const bool found = !query->Eof();
  const int32_t existing = found ? query->Fields(0).AsInteger() : 0;
  query->Close();
  if (found) return existing;
  const int32_t commentFeedId = context_.dbHelper->InsertFeed(query, "COMMFEED", "", link, u"", 0, u"", 0);
  CopyFeedSettings(feedId, commentFeedId, SamePlace(*context_.url, link));
  *context_.commentFeedId = commentFeedId;
  *context_.parentArticleId = articleId;
  if (context_.SyncNewCommentFeedCreated) context_.SyncNewCommentFeedCreated();
  return commentFeedId;
}

void TtidewellFeedStore::CopyFeedSettings(int32_t fromFeedId, int32_t toFeedId, bool withCredentials) {
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {"select archivesize,homepage,language_,rtlenabled,update_interval,username_,password_",
                         "from feeds", "where feed_id=?"});
  query->Params(0).SetInteger(fromFeedId);
  ExecQueryTimed(query, true);
  if (query->Eof()) {
    query->Close();
    return;
  }
  TQueryWrapper update;
  update.SetTransaction(context_.transaction);
  update.SQL.Add("update feeds");
  update.SQL.Add("set archivesize=?,homepage=?,language_=?,");
  update.SQL.Add("rtlenabled=?,update_interval=?,username_=?,password_=?");
  update.SQL.Add("where feed_id=?");
  const bool integerColumn[] = {true, false, false, true, true, false, false};
  for (int i = 0; i < 7; ++i) CopyField(query->Fields(i), update.Params(i), integerColumn[i]);
  // The feed's credentials belong to its place, not to a comment feed elsewhere.
  if (!withCredentials) {
    update.Params(5).SetString("");
    update.Params(6).SetString("");
  }
  update.Params(7).SetInteger(toFeedId);
  query->Close();
  ExecQueryTimed(&update, false);
  update.Close();
}

int32_t TtidewellFeedStore::GetCommentParentId(int32_t feedId) {
  if (!context_.transaction->InTransaction())
    throw kt::Exception("Can't get parent id - transaction is not active !");
  return SelectInteger({"select " + SqlPagingPrefix(1, 0), " a.id", "from articles a ", "where a.commentfeed_id=?",
                        SqlPagingSuffix(1, 0)},
                       {feedId});
}

void TtidewellFeedStore::CollectArticleLinks(int32_t articleId, TArticleLinkPairs& pairs, const std::u16string& body,
                                             const std::string& baseUrl, const std::string& link) {
  ExtractHtmlLinks(baseUrl, body, articleId, pairs, Stopping());
  if (!TrimUtf8(link).empty()) pairs.push_back({kt::Utf8ToWide(link), articleId});
}

int32_t TtidewellFeedStore::LinkId(const std::u16string& url) {
  // The links column cannot hold a longer one; the helper would retry the
  // insert ten times before giving up.
  if (url.size() > kLinkWidth) return -1;
  return context_.dbHelper->InsertLink(context_.query, url);
}

bool TtidewellFeedStore::ArticleLinkExists(int32_t articleId, int32_t linkId) {
  return SelectInteger({"select count(*) from articles_links ", " where article_id=? and link_id=?"},
                       {articleId, linkId}) > 0;
}

void TtidewellFeedStore::InsertArticleLinkRow(int32_t articleId, int32_t linkId) {
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {"insert into articles_links(article_id,link_id)", "values(?,?)"});
  query->Params(0).SetInteger(articleId);
  query->Params(1).SetInteger(linkId);
  ExecQueryTimed(query, false);
  query->Close();
}

// Every writer stores the new links of a document in one order, by their
// text, so a writer waiting for a link that another one holds never holds
// one that the other still needs.
std::map<std::u16string, std::set<int32_t>> TtidewellFeedStore::ArticlesByLink(const TArticleLinkPairs& pairs) {
  std::map<std::u16string, std::set<int32_t>> articles;
  for (const TArticleLinkPair& pair : pairs)
    if (pair.articleId >= 1 && !kt::TrimW(pair.url).empty()) articles[pair.url].insert(pair.articleId);
  return articles;
}

void TtidewellFeedStore::AddArticleLinks(const TArticleLinkPairs& pairs) {
  const bool ownTransaction = !context_.transaction->InTransaction();
  StartTransaction();
  // New articles' links are stored together, several in one statement.
  TtidewellDbHelper::TNewArticleLinks fresh;
  try {
    for (const auto& [url, articles] : ArticlesByLink(pairs)) {
      int32_t linkId = 0;
      for (int32_t articleId : articles) {
        RaiseWhenStopping(Stopping());
        if (IsNewArticle(articleId)) {
          if (IsNewLink(articleId, url)) fresh.emplace_back(articleId, url);
          continue;
        }
        if (linkId == 0) linkId = LinkId(url);
        if (linkId > 0 && !ArticleLinkExists(articleId, linkId)) InsertArticleLinkRow(articleId, linkId);
      }
    }
    context_.dbHelper->AttachNewArticleLinks(context_.query, fresh);
    if (ownTransaction) context_.transaction->Commit();
  } catch (...) {
    // What was stored before the failure stays, as it would one pair at a time.
    if (ownTransaction) {
      try {
        context_.dbHelper->AttachNewArticleLinks(context_.query, fresh);
      } catch (...) {
        // The first failure is the one to report.
      }
      CommitQuietly();
    }
    throw;
  }
}

// A new article has only the links this document gave it: no look-up.
bool TtidewellFeedStore::IsNewLink(int32_t articleId, const std::u16string& url) {
  return url.size() <= kLinkWidth && newArticleLinks_.emplace(articleId, url).second;
}

void TtidewellFeedStore::LinkNewArticle(int32_t articleId, const std::u16string& url) {
  if (IsNewLink(articleId, url)) context_.dbHelper->InsertLink(context_.query, url, articleId);
}

void TtidewellFeedStore::CommitQuietly() {
  try {
    context_.query->Close();
    if (context_.transaction->InTransaction()) context_.transaction->Commit();
  } catch (const std::exception&) {
    RollbackQuietly();
  }
}

void TtidewellFeedStore::RunStatement(const std::string& sql) {
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {sql});
  ExecQueryTimed(query, false);
  query->Close();
}

void TtidewellFeedStore::InsertArticleLink(int32_t articleId, const std::string& url) {
  if (IsNewArticle(articleId)) return LinkNewArticle(articleId, kt::Utf8ToWide(url));
  const int32_t linkId = LinkId(kt::Utf8ToWide(url));
  // A rewritten entry brings its links again; each pair is kept once.
  if (linkId > 0 && !ArticleLinkExists(articleId, linkId)) InsertArticleLinkRow(articleId, linkId);
}

void TtidewellFeedStore::ForgetArticleId(int32_t articleId) {
  TDynIntArray& ids = *context_.articleIds;
  int32_t& count = *context_.articleIdCount;
  const auto end = ids.begin() + std::max(count, 0);
  const auto found = std::find(ids.begin(), end, articleId);
  if (found == end) return;
  std::move(found + 1, end, found);
  ids[static_cast<size_t>(--count)] = 0;
}

void TtidewellFeedStore::DropLinksOfReducedArticles(TArticleLinkPairs* pairs) {
  if (pairs == nullptr || reducedArticles_.empty()) return;
  std::erase_if(*pairs, [&](const TArticleLinkPair& pair) { return reducedArticles_.count(pair.articleId) != 0; });
}

void TtidewellFeedStore::AppendArticleId(int32_t articleId) {
  TDynIntArray& ids = *context_.articleIds;
  int32_t& count = *context_.articleIdCount;
  if (count < 0) count = 0;
  if (static_cast<size_t>(count) >= ids.size()) ids.resize(ids.size() + 255, 0);
  ids[static_cast<size_t>(count++)] = articleId;
}

// --- The feed -------------------------------------------------------------------

void TtidewellFeedStore::NegatePrunedIds(const TDynIntArray& pruned) {
  for (int32_t& id : *context_.articleIds) {
    if (id < 1) break;
    if (std::find(pruned.begin(), pruned.end(), id) != pruned.end()) id = -id;
  }
}

int32_t TtidewellFeedStore::PruneArchive(int32_t feedId, int32_t archiveSize) {
  // Work done before in the same transaction is kept when pruning fails.
  const bool joined = context_.transaction->InTransaction();
  try {
    StartTransaction();
    if (joined) RunStatement("SAVEPOINT BEFORE_PRUNE");
    const int32_t removed = PruneRows(feedId, archiveSize);
    context_.transaction->Commit();
    return removed;
  } catch (...) {
    if (joined && context_.transaction->InTransaction()) {
      try {
        RunStatement("ROLLBACK TO SAVEPOINT BEFORE_PRUNE");
        context_.transaction->Commit();
      } catch (const std::exception&) {
        RollbackQuietly();
      }
    } else {
      RollbackQuietly();
    }
    throw;
  }
}

int32_t TtidewellFeedStore::PruneRows(int32_t feedId, int32_t archiveSize) {
  int32_t removed = 0;
  const int32_t total = (feedId >= 1 && archiveSize >= 1)
                            ? SelectInteger({"select count(*) as total", "from articles", "where feed_id=?",
                                             " and deleted=0", " and flag=0"},
                                            {feedId})
                            : 0;
  if (total > archiveSize && archiveSize >= 1) {
    removed = total - archiveSize;
    TQueryWrapper* query = context_.query;
    ResetStatement(query, {"select first(?) id", "from articles", "where feed_id=?", " and deleted=0", " and flag=0",
                           "order by created asc"});
    query->Params(0).SetInteger(removed);
    query->Params(1).SetInteger(feedId);
    ExecQueryTimed(query, true);
    TDynIntArray ids;
    for (; !query->Eof(); query->Next()) ids.push_back(query->Fields(0).AsInteger());
    query->Close();
    TArticles::DeleteArticles(query, ids, -1, false);
    // Announced once the delete went through: one that meets another
    // writer is undone and announces nothing.
    NegatePrunedIds(ids);
    if (context_.OnNotArticleIdsBeforeDelete) context_.OnNotArticleIdsBeforeDelete(context_.threadId, feedId, ids);
  }
  return removed;
}

void TtidewellFeedStore::SetLastHTTPCode(int32_t feedId, int32_t code) {
  try {
    StartTransaction();
    TQueryWrapper* query = context_.query;
    ResetStatement(query, {"update feeds", "set lastHTTPCode=?", "where feed_id=?"});
    query->Params(0).SetInteger(code);
    query->Params(1).SetInteger(feedId);
    ExecQueryTimed(query, false);
    query->Close();
    context_.transaction->Commit();
  } catch (...) {
    RollbackQuietly();
    throw;
  }
}

namespace {

// The columns of a stored article beyond its keys. Of the titles, only
// those of articles keyed by their texts tell episodes apart; the others
// are read as empty or not. An article deleted unheard keeps the addresses
// of its files in its summary.
constexpr const char* kArticleDetails =
    "deleted,created,modified,link,case when title='' then 1 else 0 end,"
    "case when guid starting with 'MD5-' then title else '' end,case when deleted=1 then summary else '' end";
constexpr int kDetailsAtOnce = 64;

void ReadDetails(TQueryWrapper* query, int first, TStoredArticle& article) {
  article.detailed = true;
  article.deleted = query->Fields(first).AsInteger() > 0;
  article.heard = query->Fields(first).AsInteger() == 2;
  article.created = query->Fields(first + 1).IsNull() ? -1.0 : query->Fields(first + 1).AsDateTime();
  article.modified = query->Fields(first + 2).IsNull() ? -1.0 : query->Fields(first + 2).AsDateTime();
  article.link = query->Fields(first + 3).AsString();
  article.titleEmpty = query->Fields(first + 4).AsInteger() != 0;
  article.title.clear();
  if (!query->Fields(first + 5).IsNull()) article.title = query->Fields(first + 5).AsWideString();
  article.titleRead = article.guid.rfind("MD5-", 0) == 0;
  const std::string kept = query->Fields(first + 6).IsNull() ? std::string() : query->Fields(first + 6).AsString();
  article.keptFiles = kept.empty() ? nullptr : std::make_shared<const std::string>(kept);
}

// Feeds whose last document needed every stored article detailed: their
// next one is read whole at once rather than twice. It only saves time.
class TWholeReadFeeds {
 public:
  static TWholeReadFeeds& Instance() {
    static TWholeReadFeeds feeds;
    return feeds;
  }
  bool Contains(const std::string& feed) {
    std::lock_guard<std::mutex> lock(mutex_);
    return feeds_.count(feed) != 0;
  }
  void Note(const std::string& feed, bool whole) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (whole)
      feeds_.insert(feed);
    else
      feeds_.erase(feed);
  }

 private:
  std::mutex mutex_;
  std::unordered_set<std::string> feeds_;  // database and feed id
};

}  // namespace

TStoredArticles TtidewellFeedStore::LoadStoredArticles(int32_t feedId) {
  // Every row of the feed: ids come in blocks per writer and a document
  // stores its newest items first, so no window of ids holds "the newest"
  // articles, and an item missed by the look-up would be stored again.
  const bool whole = TWholeReadFeeds::Instance().Contains(FeedOfDatabase(feedId));
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {std::string("select id,guid,articleMD5") + (whole ? std::string(",") + kArticleDetails : ""),
                         "from articles", "where feed_id=?"});
  query->Params(0).SetInteger(feedId);
  ExecQueryTimed(query, true);
  TStoredArticles articles;
  for (; !query->Eof(); query->Next()) {
    TStoredArticle& article = articles.emplace_back();
    article.id = query->Fields(0).AsInteger();
    article.guid = query->Fields(1).AsString();
    article.md5 = query->Fields(2).AsString();
    if (whole) ReadDetails(query, 3, article);
  }
  query->Close();
  // Newest id first; sorted here, since the server would sort the rows whole,
  // through its temporary files.
  std::sort(articles.begin(), articles.end(),
            [](const TStoredArticle& a, const TStoredArticle& b) { return a.id > b.id; });
  return articles;
}

void TtidewellFeedStore::ReadStoredArticles(
    const std::string& columns, TStoredArticles& articles, const std::vector<int32_t>& positions,
    const std::function<void(TQueryWrapper*, TStoredArticle&)>& read) {
  // One text for every batch: the last id fills the places left.
  std::string sql = "select id," + columns + " from articles where id in (?";
  for (int i = 1; i < kDetailsAtOnce; ++i) sql += ",?";
  TQueryWrapper* query = context_.query;
  for (size_t start = 0; start < positions.size(); start += kDetailsAtOnce) {
    std::unordered_map<int32_t, TStoredArticle*> batch;
    ResetStatement(query, {sql + ")"});
    for (int i = 0; i < kDetailsAtOnce; ++i) {
      TStoredArticle& article = articles[static_cast<size_t>(positions[std::min(start + i, positions.size() - 1)])];
      batch.emplace(article.id, &article);
      query->Params(i).SetInteger(article.id);
    }
    ExecQueryTimed(query, true);
    for (; !query->Eof(); query->Next()) read(query, *batch.at(query->Fields(0).AsInteger()));
    query->Close();
  }
}

void TtidewellFeedStore::DetailStoredArticles(TStoredArticles& articles, const std::vector<int32_t>& positions) {
  ReadStoredArticles(kArticleDetails, articles, positions,
                     [](TQueryWrapper* query, TStoredArticle& article) { ReadDetails(query, 1, article); });
}

void TtidewellFeedStore::ReadStoredTitles(TStoredArticles& articles, const std::vector<int32_t>& positions) {
  ReadStoredArticles("title", articles, positions, [](TQueryWrapper* query, TStoredArticle& article) {
    article.title = query->Fields(1).IsNull() ? std::u16string() : query->Fields(1).AsWideString();
    article.titleRead = true;
  });
}

void TtidewellFeedStore::DetailEveryStoredArticle(int32_t feedId, TStoredArticles& articles) {
  std::unordered_map<int32_t, TStoredArticle*> byId;
  byId.reserve(articles.size());
  for (TStoredArticle& article : articles) byId.emplace(article.id, &article);
  TQueryWrapper* query = context_.query;
  ResetStatement(query, {std::string("select id,") + kArticleDetails, "from articles", "where feed_id=?"});
  query->Params(0).SetInteger(feedId);
  ExecQueryTimed(query, true);
  for (; !query->Eof(); query->Next()) {
    // Rows stored since the keys were read are no stored articles here.
    const auto article = byId.find(query->Fields(0).AsInteger());
    if (article != byId.end()) ReadDetails(query, 1, *article->second);
  }
  query->Close();
}

std::string TtidewellFeedStore::FeedOfDatabase(int32_t feedId) const {
  return (context_.connection != nullptr ? context_.connection->DBFileName() : std::string()) + '#' +
         std::to_string(feedId);
}

TStoredArticleLoaders TtidewellFeedStore::StoredArticleLoaders(int32_t feedId) {
  TStoredArticleLoaders loaders;
  loaders.articleFiles = [this](int32_t articleId) { return LoadEpisodeFiles(articleId); };
  loaders.feedFiles = [this, feedId] { return LoadStoredEnclosureFiles(feedId); };
  loaders.details = [this](TStoredArticles& articles, const std::vector<int32_t>& positions) {
    DetailStoredArticles(articles, positions);
  };
  loaders.allDetails = [this, feedId](TStoredArticles& articles) { DetailEveryStoredArticle(feedId, articles); };
  loaders.titles = [this](TStoredArticles& articles, const std::vector<int32_t>& positions) {
    ReadStoredTitles(articles, positions);
  };
  loaders.noteNeed = [feed = FeedOfDatabase(feedId)](bool everyArticle) {
    TWholeReadFeeds::Instance().Note(feed, everyArticle);
  };
  return loaders;
}

std::optional<TDateTime> TtidewellFeedStore::LastModifiedUtc() {
  if (job_.lastModified.empty()) return std::nullopt;
  try {
    return HttpDateToUtc(job_.lastModified);
  } catch (const kt::Exception&) {
    return std::nullopt;
  }
}

TZonedDate TtidewellFeedStore::ResponseDate() {
  const TDateTime now = UtcNow();
  TZonedDate date{now, "X"};
  // Compared and kept in UTC: the column and If-Modified-Since both read it
  // as UTC.
  std::optional<TDateTime> header = LastModifiedUtc();
  if (header && *header <= now + 1.0 && *header >= now - 365.0) date.value = *header;
  return date;
}

TDateTime TtidewellFeedStore::NextUpdate(int32_t feedId, int32_t storedInterval) {
  const TDateTime now = UtcNow();
  const int32_t seconds = GlobalVars != nullptr ? GlobalVars->GetSecondsSetting() : 0;
  if (storedInterval == 1 && seconds > 0) return now;
  int32_t minutes = storedInterval;
  if (minutes < 1) {
    TDateTime newest = now;
    minutes = context_.ComputeAdaptiveInterval ? context_.ComputeAdaptiveInterval(feedId, newest) : 10;
  }
  TDateTime next = now + minutes * kMinute;
  if (storedInterval <= 0) next = std::min(next, now + 1.0);
  return next;
}

void TtidewellFeedStore::FinishDocument(int32_t feedId, const TFeedProperty* record,
                                        const TDocumentCollections& collections) {
  const bool failed = *context_.errorCategory != TErrorCategory::noErrors;
  bool savedWithDocument = false;
  std::exception_ptr pruneFailure;
  if (!failed && context_.transaction->InTransaction()) {
    StoreQueuedArticles();
    FlushPendingEnclosure();
  }
  pendingEnclosure_.reset();
  queuedArticles_.clear();
  DropLinksOfReducedArticles(collections.linkPairs);
  if (context_.transaction->InTransaction()) {
    if (failed) {
      context_.transaction->Rollback();
    } else {
      savedWithDocument = SaveBeforeDocumentCommit(feedId, record, collections, pruneFailure);
      if (context_.BeforeDocumentCommit) context_.BeforeDocumentCommit();
      context_.transaction->Commit();
    }
  }
  if (failed) ForgetRolledBackFeed(record == nullptr);
  documentCommitted_ = !failed;
  if (savedWithDocument)
    ReportPruneFailure(pruneFailure);
  else if (!failed || record != nullptr)
    SaveAfterDocument(feedId, record, collections);
  if (!StopRequested() && context_.SyncFeedProcessed) context_.SyncFeedProcessed();
}

// Tags, links and pruning in the document's own transaction: one commit (a
// synchronous write of every page it touched) per feed instead of two.
// Tags and links go under a savepoint: when they fail, they are undone, the
// document is committed without them, and SaveAfterDocument stores them in
// a transaction of their own with its retries, as if this had not been
// tried. Pruning comes last, so that it never runs twice.
bool TtidewellFeedStore::SaveBeforeDocumentCommit(int32_t feedId, const TFeedProperty* record,
                                                  const TDocumentCollections& collections,
                                                  std::exception_ptr& pruneFailure) {
  try {
    RunStatement("SAVEPOINT BEFORE_TAGS");
    SaveTagsAndLinks(feedId, record, collections);
  } catch (...) {
    RollBackToSavepoint("BEFORE_TAGS");
    return false;
  }
  if (record == nullptr) return true;
  try {
    PruneBeforeDocumentCommit(feedId, record);
  } catch (...) {
    pruneFailure = std::current_exception();
  }
  return true;
}

// Articles that another transaction holds (the user reading one) are pruned
// by a later pass; a failed pruning undoes only itself.
void TtidewellFeedStore::PruneBeforeDocumentCommit(int32_t feedId, const TFeedProperty* record) {
  const int32_t archive = record->ArchiveSize >= 1 ? record->ArchiveSize : *context_.defaultArchiveSize;
  RunStatement("SAVEPOINT BEFORE_PRUNE");
  try {
    *context_.deletedItems = PruneRows(feedId, archive);
  } catch (const std::exception& failure) {
    RollBackToSavepoint("BEFORE_PRUNE");
    if (!IsUpdateConflict(failure)) throw;
  }
}

// A statement failure leaves the transaction usable; when even the way back
// fails, nothing of it can be trusted: it is rolled back and the failure
// passes on, as a failed commit would.
void TtidewellFeedStore::RollBackToSavepoint(const char* name) {
  try {
    SafeCloseQuery(context_.query);
    RunStatement(std::string("ROLLBACK TO SAVEPOINT ") + name);
  } catch (...) {
    RollbackQuietly();
    throw;
  }
}

// A failure of the pruning that went in with the document: the articles
// stay stored and counted, the failure is the feed's (a stop passes on).
void TtidewellFeedStore::ReportPruneFailure(const std::exception_ptr& failure) {
  if (!failure) return;
  try {
    std::rethrow_exception(failure);
  } catch (const kt::EAbort&) {
    throw;
  } catch (const std::exception& other) {
    *context_.errorCategory = TErrorCategory::ErrUnknown;
    *context_.errorText = other.what();
  }
}

// The document's articles are stored from its commit on: what fails after
// it is retried alone, or reported with them, and never makes the document
// be stored again. Tags, links and pruning share one transaction: one
// commit instead of one per row.
void TtidewellFeedStore::SaveAfterDocument(int32_t feedId, const TFeedProperty* record,
                                           const TDocumentCollections& collections) {
  try {
    RetryOnUpdateConflict(
        [&] {
          StartTransaction();
          // Tags and links of rolled-back articles would point at rows that are gone.
          if (documentCommitted_) SaveTagsAndLinks(feedId, record, collections);
          if (record != nullptr) PruneUnlessHeld(feedId, record);
          if (context_.transaction->InTransaction()) context_.transaction->Commit();
        },
        [&] { RollbackQuietly(); });
  } catch (const kt::EAbort&) {
    RollbackQuietly();
    throw;
  } catch (const std::exception& failure) {
    const bool conflict = IsUpdateConflict(failure);
    // What was stored before a failure of another kind stays, as it would
    // one row at a time.
    if (conflict)
      RollbackQuietly();
    else
      CommitQuietly();
    // A document that failed reports its own failure.
    if (!documentCommitted_) return;
    *context_.errorCategory = conflict ? TErrorCategory::ErrDatabaseOp : TErrorCategory::ErrUnknown;
    *context_.errorText = conflict ? UpdateConflictGaveUpText() : std::string(failure.what());
  }
}

void TtidewellFeedStore::SaveTagsAndLinks(int32_t feedId, const TFeedProperty* record,
                                          const TDocumentCollections& collections) {
  context_.dbHelper->SaveFeedCustomFields(context_.query, feedId, *collections.feedTags, false);
  std::vector<const TNewCustomTagsClass*> items;
  for (const auto& tags : *collections.itemTags) items.push_back(tags.get());
  context_.dbHelper->SaveArticleCustomFields(context_.query, items, KeywordSeparators(record), newArticles_);
  AddArticleLinks(*collections.linkPairs);
}

// Articles that another transaction holds (the user reading one) are pruned
// by a later pass; the tags and links stored before stay.
void TtidewellFeedStore::PruneUnlessHeld(int32_t feedId, const TFeedProperty* record) {
  const int32_t archive = record->ArchiveSize >= 1 ? record->ArchiveSize : *context_.defaultArchiveSize;
  try {
    *context_.deletedItems = PruneArchive(feedId, archive);
  } catch (const std::exception& failure) {
    if (!IsUpdateConflict(failure)) throw;
  }
}

void TtidewellFeedStore::ForgetRolledBackFeed(bool isNew) {
  // A feed row that was committed stays, and so does its id.
  if (isNew && !documentCommitted_) *context_.itemId = -1;
}

void TtidewellFeedStore::InsertNameSpaces(int32_t feedId, const pugi::xml_node& root) {
  for (pugi::xml_attribute attribute : root.attributes())
    context_.dbHelper->InsertFeedNameSpace(context_.query, feedId, attribute.name(), kt::Utf8ToWide(attribute.value()));
}

// --- Free functions -------------------------------------------------------------

std::string ScrambledPassword(const std::string& password) { return ScrambleText(password); }

std::string UsableImageUrl(const std::string& url) {
  const std::string trimmed = TrimUtf8(url);
  const size_t length = kt::Utf8ToWide(trimmed).size();
  const std::string lower = LowerAscii(trimmed);
  if (length > 255 || length < 10) return {};
  if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) return {};
  return trimmed;
}

void ExtractHtmlLinks(const std::string& baseUrl, const std::u16string& html, int32_t articleId,
                      TArticleLinkPairs& pairs, const TStopTest& stopping) {
  for (int position = kt::StrPosIW(u"<A ", html); position > 0; position = kt::StrPosIW(u"<A ", html, position + 1)) {
    RaiseWhenStopping(stopping);
    const size_t start = static_cast<size_t>(position - 1) + 3;
    const size_t end = html.find(u'>', start);
    std::u16string value = HrefValue(html.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
    if (value.empty()) continue;
    if (value.size() > 1) {
      std::string hostUrl, base;
      SplitUrl(baseUrl, hostUrl, base);
      if (base.size() < 3) continue;
      if (base.back() != '/') base += '/';
      const std::u16string wideBase = kt::Utf8ToWide(base);
      if (value[0] == u'#' || value[0] == u'/' || value[0] == u'?')
        value = wideBase + value.substr(1);
      else if (!HasHost(kt::WideToUtf8(value)))
        value = wideBase + value;
    }
    pairs.push_back({value, articleId});
  }
}

TDateTime HttpDateToUtc(const std::string& text) {
  double offset = 0;
  std::string zone;
  const TDateTime value = ParseRFC822Date(text, offset, zone);
  return NormalizeToUTC(zone, offset, value);
}

}  // namespace tidewell
