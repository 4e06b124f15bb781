// SPDX-License-Identifier: MIT
// The insert helper: creates the rows that need a new id (feeds, articles,
// links, keywords, folders, file-cache entries, custom-field definitions,
// attributes and values) and files an item's custom tags and categories.
//
// Statements: every operation runs on the caller's statement, which must be
// attached to the caller's transaction; the helper replaces its SQL text and
// leaves it closed. The new id of a row is the id the insert itself returned
// ("insert ... returning"), so it is right even while other connections
// insert into the same table.
//
// Transactions: where an operation works in a transaction of its own, it
// starts the statement's transaction only when it is not running, and only
// such a transaction is the helper's: it commits it, or rolls it back on a
// failure. A transaction the caller started stays the caller's: the helper
// neither commits nor rolls it back (a failed statement undoes itself), so
// after a failure the caller's earlier work is still there and the
// transaction is still usable.
//
// Stop flag: once set (at shut-down), operations raise kt::EAbort before
// they touch the database; InsertFeed and the look-ups do not test it.
//
// Threads: one instance serves the whole process. Any thread may call it,
// each with its own statement and transaction. Inserts run side by side: the
// ids come from the inserts themselves and the unique indexes settle two
// writers of one key. A key that another open transaction has stored is
// waited for (never under a lock), up to kLockTimeoutMs, and then read. Only
// the check-and-insert of a custom-field value is serialised. Results: the
// new or found id, -1 when none.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/model/new_custom_tags_class.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

class TtidewellDbHelper {
 public:
  // How long a writer waits for another transaction that holds the key it
  // wants to store.
  static constexpr int kLockTimeoutMs = 10000;

  // The current time in UTC.
  using TUtcClock = std::function<TDateTime()>;

  // The system clock; tests may hand in their own.
  explicit TtidewellDbHelper(TUtcClock utcNow = {});
  TtidewellDbHelper(const TtidewellDbHelper&) = delete;
  TtidewellDbHelper& operator=(const TtidewellDbHelper&) = delete;

  // Set by the engine while it shuts down; never cleared in production.
  void SetStopFlag(bool value) { stop_.store(value); }
  bool StopFlag() const { return stop_.load(); }

  // --- Inserts ------------------------------------------------------------

  // Next and last update are now, or now + 2 minutes when link is empty.
  // The title is cut to 512 characters, the OPML description to 3000.
  int32_t InsertFeed(TQueryWrapper* query, const std::string& type, const std::string& language,
                     const std::string& link, const std::u16string& title, int32_t parentFeed,
                     const std::u16string& OPMLdescr, int32_t priority);
  int32_t InsertArticle(TQueryWrapper* query, int32_t feedId);
  // An id for a new article that the caller inserts itself, whole: taken
  // from a block of ids the generator reserved for the statement's
  // attachment, so a document's articles cost no round trip each for it.
  int32_t ReserveArticleId(TQueryWrapper* query);
  // The tag and the name are stored lower-cased.
  int32_t InsertCustomFieldDefinition(TQueryWrapper* query, const std::string& tag);
  int32_t InsertCustomFieldAttribute(TQueryWrapper* query, const std::string& name);
  // The value (cut to 1000 characters) once per owner and definition: -1
  // when it is stored already. A database failure gives -1 for a feed and
  // passes on for an article.
  int32_t InsertFeedCustomField(TQueryWrapper* query, int32_t feedId, const std::u16string& value, int32_t fieldId);
  int32_t InsertArticleCustomField(TQueryWrapper* query, int32_t articleId, const std::u16string& value,
                                   int32_t fieldId);
  // The id of the link, inserted when new; a link stored by another open
  // transaction is read once that one ends. Other failures: 10 attempts 50
  // ms apart, -1 when none succeeded. With an article id the link is also
  // attached to that article, which must not have it yet.
  int32_t InsertLink(TQueryWrapper* query, const std::u16string& link, int32_t articleId = 0);
  // Links of new articles (article id, link), each found or stored and
  // attached as InsertLink does, several in one statement; a statement that
  // fails is made again one link at a time.
  using TNewArticleLinks = std::vector<std::pair<int32_t, std::u16string>>;
  void AttachNewArticleLinks(TQueryWrapper* query, const TNewArticleLinks& links);
  // The value is stored lower-cased and cut to 512 characters.
  int32_t InsertKeyword(TQueryWrapper* query, int32_t parentId, const std::u16string& value, bool isUserDefined);
  void InsertFeedNameSpace(TQueryWrapper* query, int32_t feedId, const std::string& identifier,
                           const std::u16string& value);
  // An empty name raises "Failed to save folder" before anything is written.
  int32_t InsertFolder(TQueryWrapper* query, int32_t parentFolder, int32_t weight, const std::u16string& name,
                       int32_t userId);
  // lastModified 0 stores NULL.
  int32_t InsertFileCache(TQueryWrapper* query, int32_t articleId, int32_t linkId, const std::string& hostDir,
                          const std::string& fileName, TDateTime lastModified, const std::string& eTag,
                          int32_t httpCode, const std::string& cookie, int32_t size, const std::string& contentType,
                          const std::string& userName, const std::string& password, int32_t userId);

  // --- Look-ups (no lock) ---------------------------------------------------

  int32_t FindCustomFieldId(TQueryWrapper* query, const std::string& tag);
  int32_t FindCustomFieldAttributeId(TQueryWrapper* query, const std::string& name);
  int32_t FindLinkId(TQueryWrapper* query, const std::u16string& link);
  // Compares the first 512 characters of the lower-cased value: what
  // InsertKeyword stores.
  int32_t FindKeywordId(TQueryWrapper* query, const std::u16string& value);

  // --- Composite operations ---------------------------------------------------

  // Stores the feed's tags with their attributes unless skip is set or the
  // global settings skip custom fields.
  void SaveFeedCustomFields(TQueryWrapper* query, int32_t feedId, const TNewCustomTagsClass& tags, bool skip);
  // Stores the tags marked Store of each list for the article in OwnerId.
  // "cmdinscategory:" tags become keywords (cut at the separators) unless
  // the settings skip category keywords; other tags are stored only while
  // the settings allow custom fields. The stop flag found while a tag is
  // handled ends the operation without raising.
  // Articles in newArticles were inserted by the same document with the
  // keywordCache of NewArticleKeywordCache: their keywords are attached
  // without a look for earlier rows and without rewriting that cache.
  void SaveArticleCustomFields(TQueryWrapper* query, const std::vector<const TNewCustomTagsClass*>& items,
                               const std::u16string& separators, const std::set<int32_t>& newArticles = {});
  // The keywordCache that attaching the article's category keywords one by
  // one would leave: each stored keyword once, in order, ", " between,
  // at most 3000 characters.
  static std::u16string NewArticleKeywordCache(const TNewCustomTagsClass& tags, int32_t articleId,
                                               const std::u16string& separators);
  // Every character of separators cuts the value; pieces are trimmed, empty
  // ones and repeats dropped. No separators: the whole value is one keyword.
  void AddArticleCategories(TQueryWrapper* query, int32_t articleId, const std::u16string& value,
                            const std::u16string& separators);
  // Attaches the keyword (made when new) to the article once; returns the
  // keyword's id, or -1 when none could be had and nothing was attached.
  int32_t AddArticleKeyword(TQueryWrapper* query, int32_t articleId, const std::u16string& keyword,
                            bool isUserDefined);

 private:
  void TestStopFlag() const;
  TDateTime UtcNow() const { return utc_now_(); }
  int32_t InsertCustomFieldValue(TQueryWrapper* query, bool forArticle, int32_t ownerId,
                                 const std::u16string& value, int32_t fieldId);
  int32_t DefinitionId(TQueryWrapper* query, const std::string& tag, int attempts);
  int32_t AttributeId(TQueryWrapper* query, const std::string& name);
  void SaveAttributes(TQueryWrapper* query, bool forArticle, int32_t valueId, const TNewCustomTagsClass& attributes);
  void SaveArticleTag(TQueryWrapper* query, const TNewCustomTagBaseProperty& tag, const std::u16string& separators);
  using TKeywordIds = std::map<std::u16string, int32_t>;
  TKeywordIds CreateCategoryKeywords(TQueryWrapper* query, const std::vector<const TNewCustomTagsClass*>& items,
                                     const std::u16string& separators);
  void FindKeywordIds(TQueryWrapper* query, TKeywordIds& ids);
  static void ReadKeywordIds(TQueryWrapper* query, const std::string& block, const std::u16string& list,
                             const std::string& lengths, const std::vector<int32_t*>& ids);
  void AttachNewArticleKeywords(TQueryWrapper* query, const std::vector<const TNewCustomTagsClass*>& items,
                                const std::u16string& separators, const std::set<int32_t>& newArticles,
                                const TKeywordIds& keywordIds);
  void SetKeywordCacheWritten(TQueryWrapper* query, bool written);
  void InsertArticleKeywordRow(TQueryWrapper* query, int32_t articleId, int32_t keywordId);
  bool AttachKeywordBlock(TQueryWrapper* query, const std::vector<std::pair<int32_t, int32_t>>& pairs, size_t first,
                          size_t count);
  bool AttachLinkBlock(TQueryWrapper* query, const TNewArticleLinks& links, size_t first, size_t count);
  int32_t KeywordId(TQueryWrapper* query, const std::u16string& keyword, bool isUserDefined);
  void AttachKeyword(TQueryWrapper* query, int32_t articleId, int32_t keywordId);

  // Constant after construction.
  const TUtcClock utc_now_;

  std::atomic<bool> stop_{false};
  int32_t ReserveId(TQueryWrapper* query, const std::string& generator);

  // Reserved ids by attachment serial and generator: the next one and the
  // last.
  using TIdBlockKey = std::pair<uint64_t, std::string>;
  std::mutex idBlocksLock_;
  std::map<TIdBlockKey, std::pair<int32_t, int32_t>> idBlocks_;
  // Makes the check and insert of a custom-field value one step.
  std::recursive_mutex lock_;
};

}  // namespace tidewell
