// SPDX-License-Identifier: MIT
// The engine's feed worker: a private job queue, the thread loop that takes
// its jobs one at a time, the preparation of each job's transfer, and the
// processors of the transfer's result by job kind (feeds, enclosures, web
// pages, raw data and the file cache). Every event is handed to the main
// thread while the worker waits.
//
// Threads: the queue operations (AddFeedJob, AddJob, AddRawDataJob,
// GetQueueCount, IsJobKindQueued, IsJobQueued, WithdrawWaitingJob) and the
// base class's flags may be used from any thread; everything else runs on
// the worker's own thread, except the Sync* routines and ResetJobState,
// which run on the main thread while the worker waits for them (so the
// per-job fields need no lock).
//
// Lifetime: the owner, the connection and the settings must outlive the
// worker. The destructor stops the thread and waits for it, running pending
// hand-overs when it is called on the main thread, so it never deadlocks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/db/tidewell_db_helper.h"
#include "engine/db/update_conflict.h"
#include "engine/feeds/tidewell_db_schedule_store.h"
#include "engine/feeds/tidewell_document_gate.h"
#include "engine/feeds/tidewell_feed_processor.h"
#include "engine/feeds/tidewell_opml_processor.h"
#include "engine/feeds/tidewell_update_scheduler.h"
#include "engine/model/feed_property.h"
#include "engine/model/feeds.h"
#include "engine/net/tidewell_worker_thread_base.h"
#include "engine/tidewell_event_worker.h"
#include "engine/tidewell_events.h"
#include "engine/tidewell_pool_worker.h"
#include "engine/tidewell_worker_events.h"
#include "platform/event.h"
#include "rssEngUtilities/queue_unit.h"

namespace tidewell {

class Ttidewell;

// Test hook: runs on the worker's thread just before the commit that records
// the end of a finished download, with the enclosure's id. An empty hook
// removes it.
void TEST_SetBeforeEnclosureEndCommit(std::function<void(int32_t enclosureId)> hook);

// The database steps of a finished download, for the test hook below.
enum class TEnclosureStep {
  kNamesLookUp,  // the look-up of the names other rows hold
  kNameRecord,   // the update that names the file before its move
  kEndRecord,    // the record of the download's end (before its transaction)
};
// Test hook: runs on the worker's thread before each attempt of a step,
// its transaction started but for kEndRecord. An empty hook removes it.
void TEST_SetBeforeEnclosureStep(std::function<void(TEnclosureStep step, int32_t enclosureId)> hook);

// One queued job, owned by the queue and freed by FreeQueueJobRec.
struct TQueueJobRec {
  // 0 while the job waits; the thread id of the worker that took it.
  std::atomic<uint32_t> processingThreadId{0};
  // The job's URL; empty for feed jobs, whose URL is the feed's link.
  std::string url;
  // The target folder of an enclosure job; empty otherwise.
  WideString text;
  // The row the job is about; below 1 for a feed added by URL; kNoRowItemId
  // for a job that stands for no row.
  int32_t itemId = 0;
  TQueueJobTypes kind = TQueueJobTypes::CNoJob;
  // The request of a raw-data job, owned by the job until the worker has
  // handled it; nullptr otherwise.
  PHttpRawDataReq request = nullptr;
};

class TtidewellWorkerThreadPrAtomRssFeeds : public TtidewellWorkerThreadBase {
 public:
  // A job that stands for no row: dropped unprocessed, and invisible to the
  // kind test.
  static constexpr int32_t kNoRowItemId = -9999;
  static constexpr int32_t kReadTimeoutMs = 55000;
  // The longest pause before the jobs left after a round that a job standing
  // for no row ended.
  static constexpr int kRoundPauseMs = 1000;
  // Between two requests of this worker to one server.
  static constexpr int kPauseBetweenJobsMs = 55;
  static constexpr int kPauseAfterFeedMs = 5;
  // The error of a feed job answered 304 although it sent no validator.
  static const char kUnaskedNotModified[];
  // The notice of a feed whose address moved for good to feed (%d)'s.
  static const char kMovedToStoredFeed[];
  // The notice of a feed whose 301 leads to an address its row cannot take.
  static const char kMovedTooFar[];
  // The code a failed feed job is scheduled with: retried after the error
  // retry interval.
  static constexpr int32_t kFailedTransferCode = 999;
  // The thread runs this many nice steps below the thread that made it, so
  // the window stays responsive while workers parse and store.
  static constexpr int kLowerPriorityNiceSteps = 3;

  // The thread runs from construction unless createSuspended; a subclass
  // that overrides virtual operations passes true and calls Start() at the
  // end of its own constructor. The read time-out is 55000 ms.
  TtidewellWorkerThreadPrAtomRssFeeds(Ttidewell* owner, TDbConnWrapper* connection, TConfiguration* settings,
                                      bool createSuspended, int32_t connectTimeoutMs);
  ~TtidewellWorkerThreadPrAtomRssFeeds() override;

  // Runs Execute on the worker's thread (once).
  void Start();
  // Stop, then waits until the thread has ended; on the main thread it keeps
  // running the hand-overs meanwhile. A subclass that overrides virtual
  // operations calls it first in its own destructor.
  void StopAndWaitFor();
  // Ends an idle wait at once, so that a stop asked for meanwhile is seen
  // without waiting out the rest of the second.
  void WakeUp() { wakeUpEvent_.Set(); }

  // A feed job (kind CfeedOperation) for the feed row, appended or put at the
  // head of the queue. Nothing happens once the thread is terminated.
  void AddFeedJob(int32_t feedId, bool atFront);
  // A job for a URL, always put at the head of the queue; targetFolder is
  // kept for CgetEnclosure jobs. Raises "Invalid URL !" for an empty URL.
  // Nothing happens once the thread is terminated.
  void AddJob(const std::string& url, int32_t itemId, TQueueJobTypes kind, const WideString& targetFolder);
  // The jobs at the head of the queue in one step, jobs[0] first.
  void AddJobsAtHead(const std::vector<TJobRequest>& jobs);
  // A CgetRawData job at the head of the queue. The worker takes ownership of
  // the request: it is freed once handled, or with the job when the job is
  // dropped. Returns false (the request still the caller's) once the thread
  // is terminated. Raises "Invalid URL !" for an empty URL.
  bool AddRawDataJob(const std::string& url, PHttpRawDataReq request);
  // The jobs in the queue, the one being processed included.
  int32_t GetQueueCount();
  // Whether the first job from the head with this kind and an item id other
  // than kNoRowItemId exists and is not being processed by ignoreThreadId
  // (when that is 1 or more). False once terminated or on any failure.
  bool IsJobKindQueued(TQueueJobTypes kind, int32_t ignoreThreadId);
  // The same for the first job with this item id and kind.
  bool IsJobQueued(int32_t itemId, TQueueJobTypes kind, int32_t ignoreThreadId);
  // Removes the first job with this item id and kind that waits (one being
  // run stays); whether there was one.
  bool WithdrawWaitingJob(int32_t itemId, TQueueJobTypes kind);
  // Whether the first job with this item id and kind is being processed.
  bool IsJobRunning(int32_t itemId, TQueueJobTypes kind);
  // Whether the running job merges an OPML list now (also a row given as a
  // feed that turned out to be one). Any thread.
  bool IsMergingList() const { return mergingList_; }

  Ttidewell* Owner() const { return owner_; }
  // The process's insert helper, which must outlive the worker; by default
  // one of this unit's own. REQUIRES: no job is running (set it before the
  // first job is queued).
  void SetDbHelper(TtidewellDbHelper& helper);
  // Used by the feed processors for a feed that has no archive size.
  int32_t defaultArchiveSize = 0;
  // Minutes until a feed that answered with an error is tried again.
  int32_t errorRetryInterval = 45;

  // Whether an HTML answer holds a feed after all: one of "<rss ", "<rss>",
  // "<feed ", "<feed>", "<rdf:" outside HTML comments in the first 4096
  // characters of the trimmed text.
  static bool LooksLikeFeed(const std::string& text);
  // The position (1-based) of the "<" of "<!--" found scanning backwards
  // from before p; 0 when there is none.
  static int32_t FindCommentStartBefore(const std::string& text, int32_t p);
  // The position (1-based) of a comment end ("-->" or three dashes) found
  // scanning backwards from before p; 0 when there is none.
  static int32_t FindCommentEndBefore(const std::string& text, int32_t p);
  // The trimmed path without one trailing separator, then the part after its
  // last separator ("/" or "\"); the whole text when it has none.
  static std::string ExtractLastPathPart(const std::string& path);

 protected:
  void Execute() override;
  void HandleResponse(TtidewellTrdJobPropClass& result, PHttpRawDataReq rawDataReq, int phase,
                      void* context) override;

  // The processors, called by HandleResponse (never while stop is
  // requested). feedRecord is the job's loaded feed row, or nullptr.
  virtual void ProcessRawData(TtidewellTrdJobPropClass& result, PHttpRawDataReq request, void* context);
  virtual void ProcessFeed(TtidewellTrdJobPropClass& result, PHttpRawDataReq request, TFeedProperty* feedRecord);
  virtual void ProcessWebPage(TtidewellTrdJobPropClass& result, PHttpRawDataReq request, void* context);
  virtual void ProcessEnclosure(TtidewellTrdJobPropClass& result, PHttpRawDataReq request, void* context, int phase);
  // Keeps the final name in the row, still downloading, before the move.
  bool BeforeEnclosureMove(const WideString& finalName) override;
  std::unordered_set<WideString> FilesNamedByOtherRows(const WideString& prefix) override;
  // OPML subscription lists: the list is mirrored in the owner's folder tree
  // (see tidewell_opml_processor.h); a failure is left in the error fields.
  virtual void ProcessOPML(TtidewellTrdJobPropClass& result, PHttpRawDataReq request, void* context);
  void ConcludeListJob(const TtidewellTrdJobPropClass& result);

  // Feed document processing of a stored feed and of a feed being added
  // (the latter stores the new feed's id in feedId), by the feed processor.
  // feedTitle and items are filled. The body stream is rewound.
  virtual void ParseFeedForUpdate(TFeedProperty* feedRecord, WideString& feedTitle, TtidewellTrdJobPropClass& result,
                                  int32_t& items);
  virtual void ParseFeedForInsert(int32_t& feedId, WideString& feedTitle, TtidewellTrdJobPropClass& result,
                                  int32_t& items);
  // Feed autodiscovery in an HTML page: fills urls and titles (UTF-8) with the
  // feeds the page announces. Finds nothing here.
  virtual void DiscoverFeeds(const std::string& url, kt::TStream& page, TStrings& urls, TStrings& titles);

  // Whether the enclosure row exists and its article is not deleted; false
  // on any failure.
  virtual bool IsEnclosureActive(int32_t enclosureId);
  // The next update of the feed; a failure is recorded as ErrDatabaseOp.
  void HandleMissingStream(int32_t feedId, TErrorCategory& errorCategory, std::string& errorText);
  void ScheduleNextUpdate(int32_t feedId, bool useInterval, int32_t httpCode);
  // Stores an answer of a raw-data request in the file cache.
  void StoreInFileCache(TtidewellTrdJobPropClass& result, PHttpRawDataReq request);
  // The folder below which the file cache keeps its host folders, ending in
  // a separator; empty when no cache is configured (nothing is stored then).
  virtual std::string CacheDirectory() const;
  // The insert helper of the feed processors and the file cache.
  TtidewellDbHelper& DbHelper() { return *dbHelper_; }

  // The hand-over routines: each runs on the main thread while the worker
  // waits, does nothing once stop is requested and calls its handler only
  // when it is assigned. A handler's exception becomes OnFatalError with
  // ErrUnknown (and, but in SyncStartWorking and SyncFatalError, resets the
  // per-job state).
  void SyncStartWorking();
  void SyncStopWorking();
  void SyncNoNeedForUpdate();
  void SyncArticleWebPageDownLoaded();
  void SyncFeedAutoDiscovery();
  void SyncFeedProcessed();
  void SyncEnclosureDownloaded();
  void SyncFeedsAddToOpml();
  void SyncFeedsDeleteFromOpml();
  void SyncNeedToRefreshFolders();
  void SyncDeleteFeed();
  void SyncFatalError();
  void SyncRawDataDownloaded();
  void SyncCacheTriggerURLRemapSubItemDownload();
  void SyncNewCommentFeedCreated();
  // REQUIRES: the main thread while the worker waits, or the worker thread.
  void ResetJobState();

  // The worker's own fields, reset per job.
  bool commentFeed_ = false;  // the job's feed has type "COMMFEED"
  int32_t items_ = 0;
  WideString feedTitle_;
  TFeedOpType feedOperation_ = TFeedOpType::cunknown;
  WideString localFileName_;
  int32_t httpCode_ = 0;
  int32_t deletedItems_ = 0;
  int32_t commentFeedId_ = 0;
  int32_t parentArticleId_ = 0;
  void* userData_ = nullptr;
  std::string contentType_;
  int32_t contentSize_ = 0;
  TErrorCategory errorCategory_ = TErrorCategory::noErrors;
  std::string errorText_;
  // What a stored document left out (TtidewellFeedContext::notice).
  std::string feedNotice_;
  // Set once the current feed job's OnFeedProcessed was handed over.
  bool feedProcessedFired_ = false;
  // While set, an update conflict is not reported: the document is stored
  // again.
  bool deferConflicts_ = false;
  // The conflicts raised while the current document is stored.
  TUpdateConflictWatch conflictWatch_;
  int32_t cachedItemId_ = 0;
  TStrings discoveredUrls_;
  TStrings discoveredTitles_;
  TDynIntArray articleIds_;
  int32_t articleIdCount_ = -1;
  std::vector<std::string> articleKeys_;
  // The OnDeleteFeed exchange.
  int32_t deleteFeedId_ = 0;
  bool deleteEnded_ = false;
  bool deleteAnswer_ = false;
  TStrings feedsRemovedFromOpml_;
  TStrings feedsAddedToOpml_;
  // The job's transfer values.
  WideString targetFolder_;
  std::string openSearchDescription_;
  std::string userName_;
  std::string password_;
  std::string ifModifiedSince_;
  std::string eTag_;
  WideString enclosureFileName_;
  // Set once a commit that names the job's final file was sent, whether or
  // not its answer came back.
  bool fileNameMayBeRecorded_ = false;
  TFeedProperty* feedRecord_ = nullptr;
  // The feed processor's state of this worker.
  std::string xmlBase_;
  int16_t whitespaceSetting_ = 0;
  bool reencode_ = false;

 private:
  using JobNode = TRoundListNode;

  static void FreeQueueJobRec(void* item);
  bool MatchQueueJobKind(void* item, void* param);
  bool MatchQueueJobIdKind(void* item, void* param);
  bool IsFirstMatchQueued(void* key, const TIRoundList::TMatchMethod& match, int32_t ignoreThreadId);

  void RunJobs();
  void RunJob(JobNode* node);
  // False when the job is skipped.
  bool PrepareJob(TQueueJobRec& job);
  bool PrepareFeedJob(TQueueJobRec& job);
  void PrepareEnclosureJob();
  void EndJob(JobNode*& node);
  void ClearQueueAfterStop();
  // Called from a handler: reports the failure being handled.
  void ReportLoopFailure(const std::string& message);
  bool AlreadyReportedLoss();
  void FillFeedContext(TConfiguration* settings);

  // False when the page was answered by autodiscovery (ProcessFeed ends).
  bool ProcessNewFeed(TtidewellTrdJobPropClass& result);
  bool ParseUnlessDiscovered(TtidewellTrdJobPropClass& result);
  // A text/html answer that holds no feed after all, so autodiscovery runs
  // on it (tidewell_worker_stored_feeds.cpp).
  bool IsDiscoveryPage(const TtidewellTrdJobPropClass& result, const std::string& text) const;
  // A stored row that never brought a feed document, answered with an HTML
  // page (the first feed it announces takes the page's place in the row) or
  // with an OPML list (the row becomes a subscription list); false for
  // anything else, which is parsed as a feed.
  bool ProcessStoredDocument(TtidewellTrdJobPropClass& result, const TFeedProperty& feedRecord);
  void AdoptDiscoveredFeed(const std::string& pageUrl, const std::string& page);
  // link := address; with dueNow the next update is now; with
  // leaveCredentials the row's user name and password are emptied.
  void StoreFeedAddress(int32_t feedId, const std::string& address, bool dueNow, bool leaveCredentials);
  // Whether a feed other than feedId is stored with the address, or reaches
  // it (FeedReaching); read in a transaction of its own.
  bool AddressNamesAnotherFeed(int32_t feedId, const std::string& address);
  // A job address holding "user:password@" is requested without them, and
  // the two are the job's credentials unless the row has its own; a stored
  // row keeps them in its credential columns instead of its link.
  void TakeAddressCredentials();
  // After a successful fetch through a permanent redirect, the row keeps the
  // new address.
  void StoreMovedAddress(const TtidewellTrdJobPropClass& result);
  // After a successful fetch through a permanent redirect that the row
  // cannot follow (its credentials stay at their place), the row notes the
  // address it reaches (RecordReach).
  void NoteReachedAddress(const TtidewellTrdJobPropClass& result);
  // True when the job's 301 led to another stored feed's address, which
  // then stands for this feed (the row stops being fetched).
  bool YieldToFeedAtMovedAddress(const TtidewellTrdJobPropClass& result);
  // The stored feed other than feedId that the address names, or that
  // reaches it, else -1.
  int32_t OtherFeedAt(int32_t feedId, const std::string& address);
  void RecordFeedFailure(const std::string& message);
  bool ProcessFeedDocument(TtidewellTrdJobPropClass& result, PHttpRawDataReq request, TFeedProperty* feedRecord);
  bool ConflictRecorded() const;
  bool UnaskedNotModified(const TtidewellTrdJobPropClass& result) const;
  void ResetFeedJobResults(int32_t jobItemId);
  void ConcludeFeedJob(const TtidewellTrdJobPropClass& result);
  // The job's error text (or "" when it succeeded) into the feed row;
  // failures are ignored.
  void KeepFeedProcessingError();
  // Keeps text in the feed row's lastFeedProcessingError (cut to its
  // width); "" after a job that succeeded. Own transaction; failures pass on.
  void StoreFeedProcessingError(int32_t feedId, const std::string& text);
  void RecordEnclosureFailure(TtidewellTrdJobPropClass& result, TDateTime nowUtc);
  void StoreEnclosureState(TtidewellTrdJobPropClass& result, int phase, TDateTime nowUtc);
  void StoreEnclosureStateAgainIfLost(TtidewellTrdJobPropClass& result, int phase, TDateTime nowUtc);
  void TakeBackDownload(TtidewellTrdJobPropClass& result);
  void SettleUnrecordedDownload(TtidewellTrdJobPropClass& result);
  // The job's row as the database has it now ("" and 0 when it is gone).
  void ReadDownloadRow(int32_t& status, std::string& fileLocation);
  void StoreWebPage(TtidewellTrdJobPropClass& result);
  void StoreCacheRow(TtidewellTrdJobPropClass& result, const std::string& hostFolder, std::string path,
                     TDateTime lastModified, bool success);
  void DeliverRawData(TtidewellTrdJobPropClass& result, PHttpRawDataReq request);
  void DisposeRequest(PHttpRawDataReq request);
  void StartOwnTransaction();
  // Runs the one statement that fill puts into the query, in the worker's
  // transaction, and commits; on failure rolls back and passes the error on.
  void ExecuteAndCommit(const std::function<void()>& fill);
  void PauseBeforeSameServer();
  // "host[:port]" of an absolute URL, lower-cased; empty for any other text.
  static std::string ServerOf(const std::string& url);
  TtidewellOpmlContext OpmlContext(TtidewellTrdJobPropClass& result);
  void ResetQuery();
  void RollbackQuietly();

  // Hands fire over to the main thread; a handler's failure is reported as
  // described with the Sync* routines.
  void HandOver(const TtidewellWorkerEvents::Fire& fire, bool resetOnFailure = true);

  Ttidewell* const owner_;
  TIRoundList jobQueue_;
  std::unique_ptr<TFeeds> feeds_;
  TtidewellDbScheduleStore scheduleStore_;
  TtidewellUpdateScheduler scheduler_;
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::atomic<uint32_t> threadId_{0};
  TDbConnWrapper* const connection_;
  std::unique_ptr<THttpRawDataReq> pendingRequest_;
  // The server of the last request and when it ended (this thread only).
  std::string lastServer_;
  std::atomic<bool> mergingList_{false};
  std::chrono::steady_clock::time_point lastRequestEnd_;
  TtidewellDbHelper* dbHelper_;
  TtidewellFeedProcessor processor_;
  // Taken while a document is stored, up to its commit.
  TDocumentTurn documentTurn_;
  TtidewellFeedContext feedContext_;
};

}  // namespace tidewell
