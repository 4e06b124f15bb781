// SPDX-License-Identifier: MIT
// The feed processor: turns the body of a feed job (RSS 0.9x/2.0, RDF, Atom
// 0.3/1.0) into stored feed, article, enclosure, custom-tag and link rows,
// and schedules the feed's next update.
//
// The processor owns nothing of the worker. Everything of the worker it
// reads or writes is reached through TtidewellFeedContext: pointers to the
// worker's fields (the processor writes the job's results straight into
// them) and hooks for what only the worker can do (hand-overs to the main
// thread, scheduling). The worker fills one context when it is made and
// hands it to every call.
//
// Threads: the worker's thread only. Hooks named Sync* are called on that
// thread and are expected to hand over to the main thread (and to do
// nothing while a stop is requested); OnNotArticleIdsBeforeDelete runs on
// the worker's thread itself.
//
// Transactions: a feed document is one transaction of the worker
// (context.transaction, with context.query attached to it), committed at the
// end of the document and rolled back when an exception passes or an error
// category was recorded. The transaction is never left active.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

class TConfiguration;
class TFeedProperty;
class TtidewellDbHelper;
class TtidewellTrdJobPropClass;

struct TtidewellFeedContext {
  // --- The worker's resources (constant for the worker's life) -------------

  // The shared connection; stored articles are loaded on it.
  TDbConnWrapper* connection = nullptr;
  // The worker's own transaction on the connection, and its statement
  // attached to that transaction.
  TTranWrapper* transaction = nullptr;
  TQueryWrapper* query = nullptr;
  // The process's insert helper.
  TtidewellDbHelper* dbHelper = nullptr;
  // Read once per worker for "usexmlwhitespacehandling"; may be nullptr.
  TConfiguration* settings = nullptr;
  // The worker thread's id, passed on to the events.
  uint32_t threadId = 0;
  // Archive size used for pruning a feed whose own is below 1; 0 prunes
  // nothing.
  int32_t* defaultArchiveSize = nullptr;
  // New articles inserted together, in one statement; 0: four when the
  // database is reached through a server (a round trip saved for each),
  // else one (in-process, the larger statement cost more than it saved).
  int32_t articlesPerStatement = 0;

  // --- The current job's fields (read and written) -------------------------

  // The feed id: below 1 while a feed is being added; receives the new
  // feed's id, or -1 when the new feed's document cannot be parsed.
  int32_t* itemId = nullptr;
  // The job's URL and the response's content type (messages, links).
  std::string* url = nullptr;
  std::string* contentType = nullptr;
  // The job's credentials (password as given to the transfer, unscrambled);
  // stored with the feed row.
  std::string* userName = nullptr;
  std::string* password = nullptr;
  // The job's feed is of type "COMMFEED".
  bool* commentFeed = nullptr;
  // Results of the job, handed out with OnFeedProcessed.
  std::u16string* feedTitle = nullptr;
  int32_t* items = nullptr;
  TFeedOpType* feedOperation = nullptr;
  int32_t* deletedItems = nullptr;
  TErrorCategory* errorCategory = nullptr;
  std::string* errorText = nullptr;
  // What was left out of a document that was stored all the same (an
  // enclosure the database cannot keep): reported like an error text, kept
  // in the feed row, yet the job succeeded.
  std::string* notice = nullptr;
  // Ids of the articles this job added (entries above 0, the rest unused);
  // a pruned one is negated. The count says how many entries are used.
  TDynIntArray* articleIds = nullptr;
  int32_t* articleIdCount = nullptr;
  std::vector<std::string>* articleKeys = nullptr;
  // Set before SyncNewCommentFeedCreated is called.
  int32_t* commentFeedId = nullptr;
  int32_t* parentArticleId = nullptr;

  // --- Per-worker parser state ----------------------------------------------

  // The document's absolute xml:base; empty outside a document.
  std::string* xmlBase = nullptr;
  // 0 not read yet, 1 white space normalised, -1 trimmed only.
  int16_t* whitespaceSetting = nullptr;
  // Set when the parser refused the document's declared encoding.
  bool* reencode = nullptr;

  // --- Hooks -----------------------------------------------------------------

  // Whether the worker is asked to stop; long walks raise kt::EAbort then.
  std::function<bool()> StopRequested;
  // Whether the worker's thread is terminated; no document is read then.
  std::function<bool()> Terminated;
  // Hand-overs to the main thread of the worker's current values.
  std::function<void()> SyncFeedProcessed;
  std::function<void()> SyncNoNeedForUpdate;
  std::function<void()> SyncNewCommentFeedCreated;
  // Called on the worker's thread before a document's first statement, with
  // its number of items (the document waits for its turn at storing,
  // TDocumentGate), and right before its commit (the turn ends).
  std::function<void(size_t items)> BeforeStoringItems;
  std::function<void()> BeforeDocumentCommit;
  // Called on the worker's thread before pruned articles are deleted.
  std::function<void(uint32_t threadId, int32_t feedId, const TDynIntArray& ids)> OnNotArticleIdsBeforeDelete;
  // The worker's next-update scheduling (TtidewellUpdateScheduler):
  // ScheduleNextUpdate in a transaction of its own; ComputeAdaptiveInterval
  // returns minutes and sets the newest article date.
  std::function<void(int32_t feedId, bool useInterval, int32_t httpCode)> ScheduleNextUpdate;
  std::function<int32_t(int32_t feedId, TDateTime& newestDate)> ComputeAdaptiveInterval;
};

class TtidewellFeedProcessor {
 public:
  TtidewellFeedProcessor() = default;
  TtidewellFeedProcessor(const TtidewellFeedProcessor&) = delete;
  TtidewellFeedProcessor& operator=(const TtidewellFeedProcessor&) = delete;

  // A stored feed (*context.itemId 1 or more, feedRecord its loaded row):
  // items := 0; a non-200 answer records lastHTTPCode and schedules the
  // feed (304 fires SyncNoNeedForUpdate, other codes but 302
  // SyncFeedProcessed); an unchanged body (feedMD5) fires
  // SyncNoNeedForUpdate; otherwise the document is stored and
  // SyncFeedProcessed fired. Parse failures end in ErrXMLparse and a
  // rescheduling, never in an exception. Raises "Can't add/update feed."
  // without a root element and "Unsupported feed format: ..." for an
  // unknown root; failures while storing an RSS/RDF document pass on with
  // ErrUnknown recorded (an Atom document's are recorded and reported, not
  // raised). Nothing is left uncommitted in the worker's transaction.
  void ParseFeedForUpdate(TtidewellFeedContext& context, const TFeedProperty& feedRecord,
                          TtidewellTrdJobPropClass& jobProps);
  // A feed being added (*context.itemId below 1): with code 200 the feed
  // row is made and *context.itemId receives its id; a document that cannot
  // be parsed, or whose storing fails, sets it to -1 (a parse failure fires
  // SyncFeedProcessed with ErrXMLparse). Other codes do nothing.
  void ParseFeedForInsert(TtidewellFeedContext& context, TtidewellTrdJobPropClass& jobProps);
};

}  // namespace tidewell
