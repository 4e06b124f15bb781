// SPDX-License-Identifier: MIT
// The database side of storing one feed document, shared by the RSS/RDF and
// Atom processors: article rows (a new one inserted once, whole, under an id
// reserved for it), enclosure rows, comment feeds, article links, the job's
// article ids, archive pruning, the feed's last HTTP code, the dates taken
// from the response, the next update, and the end of a document (commit,
// custom tags, links, pruning, the processed event).
//
// Works on the worker's transaction and statement from the context; the
// statement is closed after each use. Threads: the worker's thread only.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <set>
#include <string>
#include <vector>

#include "engine/feeds/tidewell_article_statements.h"
#include "engine/feeds/tidewell_feed_processor.h"
#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/feeds/tidewell_stored_articles_index.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

class TArticles;
class TNewCustomTagsClass;

// A URL of an article, saved after the document's commit.
struct TArticleLinkPair {
  std::u16string url;
  int32_t articleId = 0;
};
using TArticleLinkPairs = std::vector<TArticleLinkPair>;

// What one document collects for saving after its commit.
struct TDocumentCollections {
  TNewCustomTagsClass* feedTags = nullptr;
  std::vector<std::unique_ptr<TNewCustomTagsClass>>* itemTags = nullptr;
  TArticleLinkPairs* linkPairs = nullptr;
};

class TtidewellFeedStore {
 public:
  // REQUIRES: the context is complete; both outlive the store.
  TtidewellFeedStore(TtidewellFeedContext& context, TtidewellTrdJobPropClass& job);

  TtidewellFeedContext& Context() { return context_; }
  TtidewellTrdJobPropClass& Job() { return job_; }
  TStopTest Stopping() const { return context_.StopRequested; }
  bool StopRequested() const { return context_.StopRequested && context_.StopRequested(); }
  bool WhitespaceOn() const { return *context_.whitespaceSetting == 1; }
  void StartTransaction();
  // Before the document's first statement.
  void BeforeStoringItems(size_t items) {
    if (context_.BeforeStoringItems) context_.BeforeStoringItems(items);
  }
  // Rolls back when active; failures of the rollback are swallowed.
  void RollbackQuietly();

  // --- Rows of one article ----------------------------------------------------

  // The id for a new article of this document, which is inserted whole
  // later (InsertArticle): rows of such an article are not looked for
  // before they are stored.
  int32_t NewArticleId();
  bool IsNewArticle(int32_t articleId) const { return newArticles_.count(articleId) != 0; }
  const std::set<int32_t>& NewArticles() const { return newArticles_; }
  // What a new article whose insert fails costs: its document (raised when
  // the insert runs), or its content (stored reduced, WriteReducedArticle,
  // without its links and not among the job's new articles).
  enum class TFailedArticle { failsDocument, storedReduced };
  // A new article of this document is queued for its insert, every column
  // at once, with the keyword cache its tags give it and its enclosure kept
  // by AddEnclosures; a stored one is updated at once.
  void WriteArticle(int32_t feedId, TArticleRow& row, const TNewCustomTagsClass& tags, const TFeedProperty* record,
                    TFailedArticle failed = TFailedArticle::failsDocument);
  // Queued articles are inserted, several to a statement through a server
  // (the context's articlesPerStatement): when the queue is full (called
  // between items, so that a failure is never taken for the next item's),
  // before anything reads the feed's articles, and at the latest when the
  // document ends. A statement that fails undid itself: its articles are
  // then inserted one by one, each failing as alone.
  void StoreQueuedArticlesWhenFull();
  void StoreQueuedArticles();
  // The keyword cache of a new article: its category tags as they will be
  // attached after the document's commit.
  static std::u16string NewArticleKeywordCache(const TNewCustomTagsClass& tags, int32_t articleId,
                                               const TFeedProperty* record);
  static std::u16string KeywordSeparators(const TFeedProperty* record);
  // A stored article's columns; parent, comment feed and keyword cache stay.
  void UpdateArticle(const TArticleRow& row);
  // A deleted article is never written again, but keeps its keys and the
  // addresses of its files as the publisher changes them, so that it is
  // still found; it gets no new rows.
  void UpdateArticleKeys(int32_t articleId, const std::string& guid, const std::string& md5Key);
  void FollowMovedEnclosures(int32_t articleId, const std::vector<TEpisodeFile>& files, TFileMoves moves);
  // What a failing item still gives its article: key, dates, digest, link.
  void WriteReducedArticle(int32_t feedId, const TArticleRow& row);

  // The enclosures of one item, in the item's order, for its article. A
  // new article's are inserted. A stored article's enclosure that is the
  // same file as one of its rows (the same URL, else SameFile, with
  // moves as the episode's verdict tells) is that row: it takes
  // the newest URL (a fresh token, a moved file) and announced length, and
  // keeps its download state; any other is a new row. Blank URLs are
  // skipped.
  // Returns why an enclosure could not be stored ("Enclosure url length
  // >8191" and the URL's length; "Enclosure insert/update failed ! " CR LF
  // and the message), one text each; the others are stored all the same.
  // Raises kt::EAbort only.
  // A new article's only enclosure is kept for its insert (WriteArticle),
  // which stores both in one statement; if that fails, or the article is
  // stored reduced, or the document ends first, it is stored alone, and a
  // failure of it is noted on the feed (NoteDroppedEnclosures) then.
  std::vector<std::string> AddEnclosures(int32_t articleId, const std::vector<TItemEnclosure>& enclosures,
                                         TFileMoves moves = TFileMoves::none);
  // The enclosures of the feed's stored articles.
  std::vector<TStoredFile> LoadStoredEnclosureFiles(int32_t feedId);
  // The enclosures of one stored article, oldest first.
  std::vector<TEpisodeFile> LoadEpisodeFiles(int32_t articleId);
  // Why an announced enclosure was not stored: the feed's event carries it
  // and the feed row keeps it, though the document itself is stored.
  void NoteDroppedEnclosures(const std::vector<std::string>& reasons);
  // The id of the comment feed at url (made, with the values of feed feedId,
  // when new; SyncNewCommentFeedCreated then fires); 0 when comment feeds are
  // off, the job's feed is a comment feed, or url is no other HTTP URL.
  int32_t GetCommentFeed(int32_t feedId, int32_t articleId, const std::string& url);
  // The article whose comment feed is feedId, or 0. REQUIRES an active
  // transaction.
  int32_t GetCommentParentId(int32_t feedId);
  // The links of the body (resolved against baseUrl) and link itself.
  void CollectArticleLinks(int32_t articleId, TArticleLinkPairs& pairs, const std::u16string& body,
                           const std::string& baseUrl, const std::string& link);
  // Stores each pair once, in the running transaction, or in one of its own
  // (committed, also up to a failure) when none runs.
  void AddArticleLinks(const TArticleLinkPairs& pairs);
  // Stores the link of the article in the current transaction, once.
  void InsertArticleLink(int32_t articleId, const std::string& url);
  // Appends a new article's id to the job's list.
  void AppendArticleId(int32_t articleId);

  // --- The feed ---------------------------------------------------------------

  // Removes the feed's oldest unflagged live articles beyond archiveSize and
  // commits, with the running transaction's earlier work; a failure undoes
  // only the pruning. Returns how many.
  int32_t PruneArchive(int32_t feedId, int32_t archiveSize);
  // Records the answer's code in the feed row (own transaction).
  void SetLastHTTPCode(int32_t feedId, int32_t code);
  // Every article of the feed, newest id first, deleted ones included: their
  // keys, and their details too where the feed's last document needed them.
  TStoredArticles LoadStoredArticles(int32_t feedId);
  // Reads the columns of the articles at these positions, in batches.
  void ReadStoredArticles(const std::string& columns, TStoredArticles& articles, const std::vector<int32_t>& positions,
                          const std::function<void(TQueryWrapper*, TStoredArticle&)>& read);
  // Reads the details of the articles at these positions.
  void DetailStoredArticles(TStoredArticles& articles, const std::vector<int32_t>& positions);
  // Reads the titles of the articles at these positions.
  void ReadStoredTitles(TStoredArticles& articles, const std::vector<int32_t>& positions);
  // Reads the details of every article.
  void DetailEveryStoredArticle(int32_t feedId, TStoredArticles& articles);
  // The look-up's readers of the feed's stored articles and files.
  TStoredArticleLoaders StoredArticleLoaders(int32_t feedId);
  // The feed, told apart from those of other databases.
  std::string FeedOfDatabase(int32_t feedId) const;
  // UTC now with zone "X", or the response's Last-Modified (UTC) when it lies
  // within one day ahead and 365 days back.
  TZonedDate ResponseDate();
  // The response's Last-Modified in UTC; none without (or with an
  // unreadable) header.
  std::optional<TDateTime> LastModifiedUtc();
  // Next update of a parsed feed: interval 1 with the seconds setting on is
  // now; below 1 adaptive (at most a day ahead); else now + interval.
  TDateTime NextUpdate(int32_t feedId, int32_t storedInterval);
  // Custom tags, links and the pruning of a stored feed, then the commit,
  // one for all (roll back with an error recorded); tags and links that fail
  // there are undone and run again after the commit in a transaction of
  // their own, with the pruning, run again alone after a conflict (pruning
  // that meets a held article is left to the next pass; another failure is
  // recorded, the articles stay counted); then SyncFeedProcessed.
  void FinishDocument(int32_t feedId, const TFeedProperty* record, const TDocumentCollections& collections);

  // A new feed whose row was rolled back has no id: the job's item id
  // becomes -1. Once the document was committed the id stays.
  void ForgetRolledBackFeed(bool isNew);
  // Whether the document's rows, the feed row's included, were committed.
  bool DocumentCommitted() const { return documentCommitted_; }
  // Every attribute of the root as a name-space row of a new feed.
  void InsertNameSpaces(int32_t feedId, const pugi::xml_node& root);

  static TDateTime UtcNow();

 private:
  int32_t SelectInteger(const std::vector<std::string>& lines, const std::vector<int32_t>& params);
  void CopyFeedSettings(int32_t fromFeedId, int32_t toFeedId, bool withCredentials);
  void NegatePrunedIds(const TDynIntArray& pruned);
  int32_t LinkId(const std::u16string& url);
  static std::map<std::u16string, std::set<int32_t>> ArticlesByLink(const TArticleLinkPairs& pairs);
  void LinkNewArticle(int32_t articleId, const std::u16string& url);
  bool IsNewLink(int32_t articleId, const std::u16string& url);
  void CommitQuietly();
  void SaveAfterDocument(int32_t feedId, const TFeedProperty* record, const TDocumentCollections& collections);
  void SaveTagsAndLinks(int32_t feedId, const TFeedProperty* record, const TDocumentCollections& collections);
  void PruneUnlessHeld(int32_t feedId, const TFeedProperty* record);
  bool SaveBeforeDocumentCommit(int32_t feedId, const TFeedProperty* record, const TDocumentCollections& collections,
                                std::exception_ptr& pruneFailure);
  void PruneBeforeDocumentCommit(int32_t feedId, const TFeedProperty* record);
  // The rows beyond the archive size marked deleted and announced, in the
  // running transaction; how many.
  int32_t PruneRows(int32_t feedId, int32_t archiveSize);
  void RollBackToSavepoint(const char* name);
  void ReportPruneFailure(const std::exception_ptr& failure);
  void RunStatement(const std::string& sql);
  bool ArticleLinkExists(int32_t articleId, int32_t linkId);
  void InsertArticleLinkRow(int32_t articleId, int32_t linkId);
  struct TStoredEnclosure {
    int32_t id = 0;
    std::string url;
    int32_t size = 0;
    bool claimed = false;
  };
  std::vector<TStoredEnclosure> LoadArticleEnclosures(int32_t articleId);
  static std::vector<TStoredEnclosure*> MatchEnclosures(const std::vector<const TItemEnclosure*>& announced,
                                                        std::vector<TStoredEnclosure>& stored, TFileMoves moves);
  void InsertEnclosure(int32_t articleId, const TItemEnclosure& enclosure);
  void InsertEnclosureAlone(int32_t articleId, const TItemEnclosure& enclosure);
  struct TQueuedArticle {
    int32_t feedId = 0;
    TArticleRow row;
    std::optional<TItemEnclosure> enclosure;
    TFailedArticle failed = TFailedArticle::failsDocument;
  };
  void QueueNewArticle(int32_t feedId, const TArticleRow& row, TFailedArticle failed);
  static size_t ArticlesTogether(const TtidewellFeedContext& context);
  size_t ArticlesForOneStatement(const std::vector<TQueuedArticle>& queued, size_t first) const;
  bool InsertArticlesTogether(const std::vector<TQueuedArticle>& queued, size_t first, size_t count);
  void InsertQueuedArticle(const TQueuedArticle& article);
  // The new article, every column at once, with its enclosure in the same
  // statement when it has one.
  void InsertArticle(int32_t feedId, const TArticleRow& row, const std::optional<TItemEnclosure>& enclosure);
  bool InsertArticleWithEnclosure(int32_t feedId, const TArticleRow& row, const TItemEnclosure& enclosure);
  void FlushPendingEnclosure();
  void ForgetArticleId(int32_t articleId);
  void DropLinksOfReducedArticles(TArticleLinkPairs* pairs);
  void UpdateEnclosureAddress(int32_t enclosureId, const std::string& url, int32_t size);

  TtidewellFeedContext& context_;
  TtidewellTrdJobPropClass& job_;
  std::set<int32_t> newArticles_;
  // The only enclosure of the new article whose insert is next: stored with
  // it in one statement (article id, enclosure).
  std::optional<std::pair<int32_t, TItemEnclosure>> pendingEnclosure_;
  const size_t articlesTogether_;
  std::vector<TQueuedArticle> queuedArticles_;
  size_t queuedBytes_ = 0;
  // New articles stored reduced after their queued insert failed.
  std::set<int32_t> reducedArticles_;
  bool documentCommitted_ = false;
  // Link rows of new articles stored by this document.
  std::set<std::pair<int32_t, std::u16string>> newArticleLinks_;
};

// Finds the A tags of html and adds their HREF values (made absolute
// against the folder of baseUrl) with articleId; javascript: links are left
// out. Raises kt::EAbort when stopping.
void ExtractHtmlLinks(const std::string& baseUrl, const std::u16string& html, int32_t articleId,
                      TArticleLinkPairs& pairs, const TStopTest& stopping);

// The password as the feed row keeps it (scrambled).
std::string ScrambledPassword(const std::string& password);
// The trimmed image URL; empty when longer than 255 characters, shorter
// than 10, or not HTTP.
std::string UsableImageUrl(const std::string& url);

// An HTTP date (RFC 1123) in UTC; raises ETWInvalidDate when unreadable.
TDateTime HttpDateToUtc(const std::string& text);

}  // namespace tidewell
