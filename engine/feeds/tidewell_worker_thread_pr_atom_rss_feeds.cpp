// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_worker_thread_pr_atom_rss_feeds.h"

#include <cctype>
#include <climits>
#include <chrono>
#include <exception>

#include "engine/db/database_location.h"
#include "engine/db/firebird_error.h"
#include "engine/db/update_conflict.h"
#include "engine/addresses/feed_address.h"
#include "engine/feeds/tidewell_extcmps.h"
#include "engine/feeds/tidewell_feed_lock.h"
#include "engine/feeds/tidewell_feed_store.h"
#include "engine/feeds/tidewell_opml_processor.h"
#include "engine/feeds/tidewell_worker_text.h"
#include "engine/tidewell.h"
#include "engine/settings/tidewell_globvars.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "platform/main_loop.h"
#include "platform/system.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

// The key of the kind and id tests; matchedThreadId receives the processing
// thread id of the first match, read inside the queue's lock.
struct TQueueJobKey {
  TQueueJobTypes kind = TQueueJobTypes::CNoJob;
  int32_t itemId = 0;
  bool matched = false;
  uint32_t matchedThreadId = 0;
};

TtidewellDbHelper& UnitDbHelper() {
  static TtidewellDbHelper helper;
  return helper;
}

TQueueJobRec* JobOf(TRoundListNode* node) { return static_cast<TQueueJobRec*>(node->item); }

int32_t StreamSize(kt::TStream* stream) {
  const int64_t size = stream->Size();
  return static_cast<int32_t>(size > INT32_MAX ? INT32_MAX : size);
}

}  // namespace

const char TtidewellWorkerThreadPrAtomRssFeeds::kUnaskedNotModified[] =
    "The server answered 304 Not Modified to a request without validator: no feed document came";
const char TtidewellWorkerThreadPrAtomRssFeeds::kMovedToStoredFeed[] =
    "Moved permanently to the address of feed (%d), which is updated in its place";
const char TtidewellWorkerThreadPrAtomRssFeeds::kMovedTooFar[] =
    "Moved permanently to an address of %d characters, longer than the %d a feed's address may have: it is "
    "fetched through its old address, which leads there";

TtidewellWorkerThreadPrAtomRssFeeds::TtidewellWorkerThreadPrAtomRssFeeds(Ttidewell* owner,
                                                                         TDbConnWrapper* connection,
                                                                         TConfiguration* settings,
                                                                         bool createSuspended,
                                                                         int32_t connectTimeoutMs)
    : TtidewellWorkerThreadBase(connection, kReadTimeoutMs, connectTimeoutMs, settings),
      owner_(owner),
      jobQueue_(&TtidewellWorkerThreadPrAtomRssFeeds::FreeQueueJobRec),
      scheduleStore_(transaction_, query_),
      scheduler_(scheduleStore_),
      connection_(connection),
      dbHelper_(&UnitDbHelper()),
      documentTurn_(owner != nullptr ? owner->DocumentGate() : nullptr) {
  scheduler_.Options().stopRequested = [this] { return GetStopRequested(); };
  FillFeedContext(settings);
  if (!createSuspended) Start();
}

void TtidewellWorkerThreadPrAtomRssFeeds::FillFeedContext(TConfiguration* settings) {
  TtidewellFeedContext& c = feedContext_;
  c.connection = connection_;
  c.transaction = &transaction_;
  c.query = &query_;
  c.dbHelper = dbHelper_;
  c.settings = settings;
  c.defaultArchiveSize = &defaultArchiveSize;
  c.itemId = &itemId_;
  c.url = &url_;
  c.contentType = &contentType_;
  c.userName = &userName_;
  c.password = &password_;
  c.commentFeed = &commentFeed_;
  c.feedTitle = &feedTitle_;
  c.items = &items_;
  c.feedOperation = &feedOperation_;
  c.deletedItems = &deletedItems_;
  c.errorCategory = &errorCategory_;
  c.errorText = &errorText_;
  c.notice = &feedNotice_;
  c.articleIds = &articleIds_;
  c.articleIdCount = &articleIdCount_;
  c.articleKeys = &articleKeys_;
  c.commentFeedId = &commentFeedId_;
  c.parentArticleId = &parentArticleId_;
  c.xmlBase = &xmlBase_;
  c.whitespaceSetting = &whitespaceSetting_;
  c.reencode = &reencode_;
  c.StopRequested = [this] { return GetStopRequested(); };
  c.Terminated = [this] { return Terminated(); };
  c.SyncFeedProcessed = [this] { SyncFeedProcessed(); };
  c.SyncNoNeedForUpdate = [this] { SyncNoNeedForUpdate(); };
  c.SyncNewCommentFeedCreated = [this] { SyncNewCommentFeedCreated(); };
  c.BeforeStoringItems = [this](size_t items) {
    if (TDocumentGate::TakesATurn(items, db::IsServerPath(connection_->DBFileName()))) documentTurn_.Enter();
  };
  c.BeforeDocumentCommit = [this] { documentTurn_.Leave(); };
  // Runs on this thread, with the handler of the moment.
  c.OnNotArticleIdsBeforeDelete = [this](uint32_t threadId, int32_t feedId, const TDynIntArray& ids) {
    const TOnNotArticleIdsBeforeDelete handler = WorkerEvents().Snapshot().OnNotArticleIdsBeforeDelete;
    if (handler) handler(threadId, feedId, ids);
  };
  c.ScheduleNextUpdate = [this](int32_t feedId, bool useInterval, int32_t httpCode) {
    ScheduleNextUpdate(feedId, useInterval, httpCode);
  };
  c.ComputeAdaptiveInterval = [this](int32_t feedId, TDateTime& newestDate) {
    return scheduler_.ComputeAdaptiveInterval(feedId, newestDate);
  };
}

TtidewellWorkerThreadPrAtomRssFeeds::~TtidewellWorkerThreadPrAtomRssFeeds() { StopAndWaitFor(); }

void TtidewellWorkerThreadPrAtomRssFeeds::StopAndWaitFor() {
  Stop();
  wakeUpEvent_.Set();
  // A worker may wait in a hand-over: the main thread keeps serving them
  // until the loop has ended, so joining never deadlocks.
  if (started_ && platform::MainThread().IsMainThread()) {
    platform::MainThread().RunUntil([this] { return finished_.load(); }, -1);
  }
  WaitFor();
}

void TtidewellWorkerThreadPrAtomRssFeeds::SetDbHelper(TtidewellDbHelper& helper) {
  dbHelper_ = &helper;
  feedContext_.dbHelper = dbHelper_;
}

void TtidewellWorkerThreadPrAtomRssFeeds::Start() {
  if (started_.exchange(true)) return;
  TtidewellWorkerThreadBase::Start();
}

// ---- The job queue -----------------------------------------------------------

void TtidewellWorkerThreadPrAtomRssFeeds::FreeQueueJobRec(void* item) {
  auto* job = static_cast<TQueueJobRec*>(item);
  if (job == nullptr) return;
  delete job->request;
  delete job;
}

void TtidewellWorkerThreadPrAtomRssFeeds::AddFeedJob(int32_t feedId, bool atFront) {
  if (Terminated()) return;
  auto job = std::make_unique<TQueueJobRec>();
  job->itemId = feedId;
  job->kind = TQueueJobTypes::CfeedOperation;
  jobQueue_.Add(job.release(), atFront);
  wakeUpEvent_.Set();
}

namespace {

std::unique_ptr<TQueueJobRec> MakeUrlJob(const std::string& url, int32_t itemId, TQueueJobTypes kind,
                                         const WideString& targetFolder) {
  std::string normalized = url;
  NormalizeUrl(normalized);
  auto job = std::make_unique<TQueueJobRec>();
  job->url = normalized;
  job->itemId = itemId;
  job->kind = kind;
  if (kind == TQueueJobTypes::CgetEnclosure) job->text = targetFolder;
  return job;
}

}  // namespace

void TtidewellWorkerThreadPrAtomRssFeeds::AddJob(const std::string& url, int32_t itemId, TQueueJobTypes kind,
                                                 const WideString& targetFolder) {
  if (Terminated()) return;
  jobQueue_.Add(MakeUrlJob(url, itemId, kind, targetFolder).release(), true);
  wakeUpEvent_.Set();
}

void TtidewellWorkerThreadPrAtomRssFeeds::AddJobsAtHead(const std::vector<TJobRequest>& jobs) {
  if (Terminated() || jobs.empty()) return;
  std::vector<std::unique_ptr<TQueueJobRec>> made;
  for (const TJobRequest& job : jobs) made.push_back(MakeUrlJob(job.url, job.itemId, job.kind, job.folder));
  std::vector<void*> items;
  for (auto& job : made) items.push_back(job.release());
  jobQueue_.AddAllAtHead(items);
  wakeUpEvent_.Set();
}

bool TtidewellWorkerThreadPrAtomRssFeeds::AddRawDataJob(const std::string& url, PHttpRawDataReq request) {
  if (Terminated()) return false;
  std::string normalized = url;
  NormalizeUrl(normalized);
  auto job = std::make_unique<TQueueJobRec>();
  job->url = normalized;
  job->itemId = request != nullptr ? static_cast<int32_t>(request->articleId) : 0;
  job->kind = TQueueJobTypes::CgetRawData;
  job->request = request;
  jobQueue_.Add(job.release(), true);
  wakeUpEvent_.Set();
  return true;
}

int32_t TtidewellWorkerThreadPrAtomRssFeeds::GetQueueCount() { return jobQueue_.GetCount(); }

bool TtidewellWorkerThreadPrAtomRssFeeds::MatchQueueJobKind(void* item, void* param) {
  if (Terminated() || item == nullptr || param == nullptr) return false;
  const auto* job = static_cast<TQueueJobRec*>(item);
  auto* key = static_cast<TQueueJobKey*>(param);
  if (job->kind != key->kind || job->itemId == kNoRowItemId) return false;
  key->matched = true;
  key->matchedThreadId = job->processingThreadId;
  return true;
}

bool TtidewellWorkerThreadPrAtomRssFeeds::MatchQueueJobIdKind(void* item, void* param) {
  if (Terminated() || item == nullptr || param == nullptr) return false;
  const auto* job = static_cast<TQueueJobRec*>(item);
  auto* key = static_cast<TQueueJobKey*>(param);
  if (job->kind != key->kind || job->itemId != key->itemId) return false;
  key->matched = true;
  key->matchedThreadId = job->processingThreadId;
  return true;
}

bool TtidewellWorkerThreadPrAtomRssFeeds::IsFirstMatchQueued(void* key, const TIRoundList::TMatchMethod& match,
                                                            int32_t ignoreThreadId) {
  if (Terminated()) return false;
  try {
    jobQueue_.Find(key, match);
    const auto* found = static_cast<TQueueJobKey*>(key);
    if (!found->matched) return false;
    return !(ignoreThreadId >= 1 && found->matchedThreadId == static_cast<uint32_t>(ignoreThreadId));
  } catch (...) {
    return false;
  }
}

bool TtidewellWorkerThreadPrAtomRssFeeds::IsJobKindQueued(TQueueJobTypes kind, int32_t ignoreThreadId) {
  TQueueJobKey key;
  key.kind = kind;
  return IsFirstMatchQueued(
      &key, [this](void* item, void* param) { return MatchQueueJobKind(item, param); }, ignoreThreadId);
}

bool TtidewellWorkerThreadPrAtomRssFeeds::IsJobQueued(int32_t itemId, TQueueJobTypes kind, int32_t ignoreThreadId) {
  TQueueJobKey key;
  key.kind = kind;
  key.itemId = itemId;
  return IsFirstMatchQueued(
      &key, [this](void* item, void* param) { return MatchQueueJobIdKind(item, param); }, ignoreThreadId);
}

bool TtidewellWorkerThreadPrAtomRssFeeds::WithdrawWaitingJob(int32_t itemId, TQueueJobTypes kind) {
  if (Terminated()) return false;
  TQueueJobKey key;
  key.kind = kind;
  key.itemId = itemId;
  return jobQueue_.RemoveWaiting(&key, [this](void* item, void* param) { return MatchQueueJobIdKind(item, param); });
}

bool TtidewellWorkerThreadPrAtomRssFeeds::IsJobRunning(int32_t itemId, TQueueJobTypes kind) {
  TQueueJobKey key;
  key.kind = kind;
  key.itemId = itemId;
  if (!IsFirstMatchQueued(
          &key, [this](void* item, void* param) { return MatchQueueJobIdKind(item, param); }, -1))
    return false;
  return key.matchedThreadId != 0;
}

// ---- The thread loop ---------------------------------------------------------

void TtidewellWorkerThreadPrAtomRssFeeds::Execute() {
  platform::LowerCurrentThreadPriority(kLowerPriorityNiceSteps);
  threadId_ = platform::CurrentThreadId();
  feedContext_.threadId = threadId_;
  feedOperation_ = TFeedOpType::cunknown;
  try {
    if (connection_ != nullptr) {
      feeds_ = std::make_unique<TFeeds>(connection_);
      feeds_->Options = TFeeds::kAdmitCommentFeeds | TFeeds::kAdmitSearchResults;
    }
    while (!Terminated()) {
      try {
        RunJobs();
      } catch (...) {
        ReportLoopFailure(CurrentExceptionMessage());
      }
    }
  } catch (...) {
    ReportLoopFailure(CurrentExceptionMessage());
  }
  feeds_.reset();
  finished_ = true;
}

void TtidewellWorkerThreadPrAtomRssFeeds::RunJobs() {
  TRoundListNode* node = GetStopRequested() ? nullptr : jobQueue_.TakeFirst();
  while (node != nullptr && !Terminated()) {
    const bool standsForNoRow = JobOf(node)->itemId == kNoRowItemId;
    RunJob(node);
    if (GetStopRequested()) {
      ClearQueueAfterStop();
      break;
    }
    if (standsForNoRow) break;
    node = jobQueue_.TakeFirst();
  }
  if (!GetStopRequested()) {
    // Every new job and every stop sets the event: a worker with an empty
    // queue sleeps until then instead of polling. One that ended its round
    // early (a job that stands for no row) takes the rest after a pause.
    wakeUpEvent_.WaitFor(jobQueue_.GetCount() > 0 ? kRoundPauseMs : -1);
  } else if (!Terminated()) {
    // Between the stop request and the termination nothing is taken; a short
    // pause keeps the loop from spinning.
    platform::SleepMs(5);
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::ClearQueueAfterStop() {
  try {
    jobQueue_.Clear();
  } catch (...) {
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::RunJob(TRoundListNode* node) {
  try {
    TQueueJobRec& job = *JobOf(node);
    SetWorking(true);
    // A failure of the job before, reported after its end, is not this one's.
    errorCategory_ = TErrorCategory::noErrors;
    userName_.clear();
    password_.clear();
    url_.clear();
    targetFolder_.clear();
    job.processingThreadId = threadId_.load();
    itemId_ = job.itemId;
    if (job.itemId != kNoRowItemId) {
      const bool prepared = PrepareJob(job);
      if (!GetStopRequested()) SyncStartWorking();
      if (!Terminated() && prepared) {
        PauseBeforeSameServer();
        Download(url_, ifModifiedSince_, eTag_, userName_, password_, targetFolder_, enclosureFileName_,
                 pendingRequest_.get(), feedRecord_);
        lastRequestEnd_ = std::chrono::steady_clock::now();
      }
    }
  } catch (...) {
    EndJob(node);
    throw;
  }
  EndJob(node);
}

// The pause between two jobs protects a server from one worker's requests
// back to back; a job for another server starts at once.
void TtidewellWorkerThreadPrAtomRssFeeds::PauseBeforeSameServer() {
  const std::string server = ServerOf(url_);
  const auto now = std::chrono::steady_clock::now();
  if (!server.empty() && server == lastServer_) {
    const auto due = lastRequestEnd_ + std::chrono::milliseconds(kPauseBetweenJobsMs);
    if (now < due)
      platform::SleepMs(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count()));
  }
  lastServer_ = server;
}

std::string TtidewellWorkerThreadPrAtomRssFeeds::ServerOf(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return {};
  const size_t start = scheme + 3;
  const size_t end = url.find_first_of("/?#", start);
  return LowerAscii(url.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

bool TtidewellWorkerThreadPrAtomRssFeeds::PrepareJob(TQueueJobRec& job) {
  SetJobType(job.kind);
  pendingRequest_.reset(job.request);
  job.request = nullptr;
  rawDataReq_ = pendingRequest_.get();
  if (!job.url.empty()) url_ = TrimTrailingUrlMarks(job.url);
  if (!job.text.empty()) targetFolder_ = job.text;
  feedRecord_ = nullptr;
  ifModifiedSince_.clear();
  eTag_.clear();
  articleIds_.clear();
  articleIdCount_ = -1;
  const TQueueJobTypes kind = job.kind;
  if (kind == TQueueJobTypes::CgetEnclosure) PrepareEnclosureJob();
  if (kind == TQueueJobTypes::CfeedOperation || kind == TQueueJobTypes::CgetOpmlData) {
    if (itemId_ >= 1 && !PrepareFeedJob(job)) return false;
    TakeAddressCredentials();
    if (GetJobType() != TQueueJobTypes::CgetOpmlData) articleIds_.assign(255, 0);
    articleIdCount_ = 0;
  }
  if (kind == TQueueJobTypes::CgetEnclosure) return IsEnclosureActive(itemId_);
  // A raw-data job needs its request; without one there is nothing to fill.
  if (kind == TQueueJobTypes::CgetRawData) return pendingRequest_ != nullptr;
  return true;
}

bool TtidewellWorkerThreadPrAtomRssFeeds::PrepareFeedJob(TQueueJobRec&) {
  if (feeds_ == nullptr) return false;
  feeds_->LoadById(itemId_, "[AllowOPML]", 0, 0);
  if (feeds_->GetCount() != 1) return false;
  TFeedProperty* feed = feeds_->GetItem(0);
  url_ = feed->Link;
  if (UpperCaseAscii(feed->Link).find("DELMARKED:") != std::string::npos) return false;
  if (LowerCaseAscii(TrimBlanks(feed->Link)) == "archive") return false;
  if (feed->IsSearchRoot) return false;
  const bool commentFeedsEnabled = GlobalVars != nullptr && GlobalVars->GetCommentFeedsEnabled();
  if (feed->IsCommentFeed && !commentFeedsEnabled) return false;
  openSearch_ = feed->IsSearchResult;
  openSearchDescription_ = kt::WideToUtf8(feed->OpmlDescr);
  commentFeed_ = feed->IsCommentFeed;
  feedTitle_ = feed->Title;
  if (feed->PageLastModified != -1.0) ifModifiedSince_ = FormatHttpDate(feed->PageLastModified);
  eTag_ = feed->ETag;
  userName_ = feed->UserName;
  password_ = feed->GetPassword();
  if (feed->IsOpml) SetJobType(TQueueJobTypes::CgetOpmlData);
  feedRecord_ = feed;
  return true;
}

void TtidewellWorkerThreadPrAtomRssFeeds::PrepareEnclosureJob() {
  fileNameMayBeRecorded_ = false;
  std::string folder = TrimBlanks(kt::WideToUtf8(targetFolder_));
  if (folder.empty()) folder = platform::ExecutableFolder();
  if (folder.empty() || folder.back() != '/') folder += '/';
  targetFolder_ = kt::Utf8ToWide(folder);
  enclosureFileName_ = kt::Utf8ToWide(UrlDocumentToFileName(url_));
}

void TtidewellWorkerThreadPrAtomRssFeeds::EndJob(TRoundListNode*& node) {
  articleIds_.clear();
  jobQueue_.Remove(node);
  SetWorking(false);
  if (!GetStopRequested()) SyncStopWorking();
  discoveredUrls_.clear();
  discoveredTitles_.clear();
  articleKeys_.clear();
  feedRecord_ = nullptr;
  if (feeds_ != nullptr && feeds_->GetCount() > 0) feeds_->Clear();
  itemId_ = -1;
  url_.clear();
  feedTitle_.clear();
  feedNotice_.clear();
  enclosureFileName_.clear();
  contentType_.clear();
  contentSize_ = 0;
  httpCode_ = 0;
  terminateDownload_ = false;
  SetJobType(TQueueJobTypes::CNoJob);
  openSearch_ = false;
  openSearchDescription_.clear();
  rawDataReq_ = nullptr;
  pendingRequest_.reset();
}

void TtidewellWorkerThreadPrAtomRssFeeds::ReportLoopFailure(const std::string& message) {
  if (AlreadyReportedLoss()) return;
  errorCategory_ = TErrorCategory::ErrUnknown;
  errorText_ = message;
  try {
    SyncFatalError();
  } catch (...) {
  }
}

// Called while a failure is handled: a lost attachment is told once, until
// it is made again; the jobs that fail meanwhile say nothing more.
bool TtidewellWorkerThreadPrAtomRssFeeds::AlreadyReportedLoss() {
  try {
    throw;
  } catch (const std::exception& error) {
    return db::IsConnectionLost(error) && connection_ != nullptr && !connection_->ClaimLossReport();
  } catch (...) {
    return false;
  }
}

bool TtidewellWorkerThreadPrAtomRssFeeds::IsEnclosureActive(int32_t enclosureId) {
  try {
    transaction_.StartTransaction();
    SafeCloseQuery(&query_);
    query_.SQL.Clear();
    query_.SQL.Add("select e.enclosure_id");
    query_.SQL.Add("from enclosures e,articles a");
    query_.SQL.Add("where e.enclosure_id=?");
    query_.SQL.Add("  and a.id=e.article_id");
    query_.SQL.Add("  and a.deleted=0");
    query_.Params(0).SetInteger(enclosureId);
    ExecQueryTimed(&query_, true);
    const bool found = !query_.Eof();
    SafeCloseQuery(&query_);
    query_.SQL.Clear();
    transaction_.Commit();
    return found;
  } catch (const std::exception& error) {
    SafeCloseQuery(&query_);
    RollbackQuietly();
    // Without the database nothing is known of the enclosure: the job fails
    // instead of passing for one whose episode is gone.
    if (db::IsConnectionLost(error)) throw;
    return false;
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::RollbackQuietly() {
  try {
    if (transaction_.InTransaction()) transaction_.Rollback();
  } catch (...) {
  }
}

// ---- The transfer's result ---------------------------------------------------

void TtidewellWorkerThreadPrAtomRssFeeds::HandleResponse(TtidewellTrdJobPropClass& result, PHttpRawDataReq rawDataReq,
                                                         int phase, void* context) {
  contentSize_ = result.Stream() != nullptr ? StreamSize(result.Stream()) : result.contentLength;
  contentType_ = result.contentType;
  httpCode_ = result.httpCode;
  errorText_ = httpCode_ >= 400 ? result.errorText : std::string();
  localFileName_ = result.localFileName;
  if (GetStopRequested()) return;
  switch (GetJobType()) {
    case TQueueJobTypes::CfeedOperation:
      ProcessFeed(result, rawDataReq, static_cast<TFeedProperty*>(context));
      break;
    case TQueueJobTypes::CgetArticle:
      ProcessWebPage(result, rawDataReq, context);
      break;
    case TQueueJobTypes::CgetEnclosure:
      ProcessEnclosure(result, rawDataReq, context, phase);
      break;
    case TQueueJobTypes::CgetRawData:
      ProcessRawData(result, rawDataReq, context);
      break;
    case TQueueJobTypes::CgetOpmlData:
      ProcessOPML(result, rawDataReq, context);
      ConcludeListJob(result);
      break;
    case TQueueJobTypes::CNoJob:
      break;
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::ProcessFeed(TtidewellTrdJobPropClass& result, PHttpRawDataReq request,
                                                      TFeedProperty* feedRecord) {
  feedProcessedFired_ = false;
  const int32_t jobItemId = itemId_;
  TtidewellFeedLock feedLock(jobItemId);
  // A write that met another transaction's (the main thread deleting
  // articles, another worker) is no failure of the feed: the document is
  // stored again from the start, with the event held back meanwhile. After
  // the last attempt the job reports one line instead of the database's.
  deferConflicts_ = true;
  for (int attempt = 1;; ++attempt) {
    conflictWatch_ = TUpdateConflictWatch();
    if (!ProcessFeedDocument(result, request, feedRecord)) {
      deferConflicts_ = false;
      return;
    }
    if (!ConflictRecorded()) break;
    ++UpdateConflictCounts().seen;
    if (attempt >= kUpdateConflictAttempts) {
      errorCategory_ = TErrorCategory::ErrDatabaseOp;
      errorText_ = UpdateConflictGaveUpText();
      break;
    }
    ++UpdateConflictCounts().retried;
    RollbackQuietly();
    ResetFeedJobResults(jobItemId);
    PauseBeforeRetry(attempt + 1);
  }
  deferConflicts_ = false;
  ConcludeFeedJob(result);
  platform::SleepMs(kPauseAfterFeedMs);
}

// A 304 says that the copy the request named is still good; to a request
// that named none (a feed never fetched) it brings nothing, and the feed
// would stay empty.
bool TtidewellWorkerThreadPrAtomRssFeeds::UnaskedNotModified(const TtidewellTrdJobPropClass& result) const {
  return result.httpCode == 304 && ifModifiedSince_.empty() && eTag_.empty();
}

bool TtidewellWorkerThreadPrAtomRssFeeds::ConflictRecorded() const {
  return errorCategory_ != TErrorCategory::noErrors && conflictWatch_.Recorded(errorText_);
}

void TtidewellWorkerThreadPrAtomRssFeeds::ResetFeedJobResults(int32_t jobItemId) {
  itemId_ = jobItemId;
  items_ = 0;
  deletedItems_ = 0;
  articleIds_.assign(255, 0);
  articleIdCount_ = 0;
  articleKeys_.clear();
}

// False when a page was answered by autodiscovery.
bool TtidewellWorkerThreadPrAtomRssFeeds::ProcessFeedDocument(TtidewellTrdJobPropClass& result,
                                                              PHttpRawDataReq request, TFeedProperty* feedRecord) {
  try {
    const bool stored = feedRecord != nullptr && feedRecord->FeedId != -1;
    feedOperation_ = stored ? TFeedOpType::cUpdate : TFeedOpType::cInsert;
    userData_ = request;
    errorCategory_ = result.error ? TErrorCategory::ErrHttpGet : TErrorCategory::noErrors;
    errorText_ = result.errorText;
    items_ = 0;
    // A failed transfer that had said 200 (over the quota) left only part
    // of the document: nothing of it is stored.
    if (result.error && result.httpCode == 200) throw kt::Exception(result.errorText);
    if (UnaskedNotModified(result)) {
      errorCategory_ = TErrorCategory::ErrHttpGet;
      errorText_ = kUnaskedNotModified;
    } else if (result.Stream() == nullptr) {
      if (itemId_ >= 1) HandleMissingStream(itemId_, errorCategory_, errorText_);
    } else {
      result.Stream()->SetPosition(0);
      if (stored) {
        if (YieldToFeedAtMovedAddress(result)) return true;
        if (!ProcessStoredDocument(result, *feedRecord)) ParseFeedForUpdate(feedRecord, feedTitle_, result, items_);
        StoreMovedAddress(result);
        NoteReachedAddress(result);
      } else if (!ProcessNewFeed(result)) {
        return false;
      }
    }
  } catch (...) {
    RecordFeedFailure(CurrentExceptionMessage());
  }
  return true;
}

// Whatever failed on the way (the transfer, the document, storing it), the
// job ends alike: the feed's event with the error, the error kept in the
// feed row, and the feed due again after the error retry interval. A job
// that succeeded clears the kept error.
void TtidewellWorkerThreadPrAtomRssFeeds::ConcludeFeedJob(const TtidewellTrdJobPropClass& result) {
  if (GetStopRequested()) return;
  const bool transferFailed = result.error && result.httpCode != 304;
  const bool failed = transferFailed || errorCategory_ != TErrorCategory::noErrors;
  if (failed) {
    if (errorCategory_ == TErrorCategory::noErrors) errorCategory_ = TErrorCategory::ErrHttpGet;
    if (errorText_.empty()) errorText_ = result.errorText;
    if (!feedProcessedFired_) SyncFeedProcessed();
  }
  KeepFeedProcessingError();
  try {
    if (failed && itemId_ >= 1) ScheduleNextUpdate(itemId_, true, kFailedTransferCode);
  } catch (...) {
    // The job's own failure is what it reports; the row keeps its schedule.
    RollbackQuietly();
  }
}

// Before the event, so that a handler reading the row finds the error.
void TtidewellWorkerThreadPrAtomRssFeeds::KeepFeedProcessingError() {
  if (itemId_ < 1 || transaction_.InTransaction()) return;
  const std::string text = errorCategory_ != TErrorCategory::noErrors ? errorText_ : feedNotice_;
  // The row read for this job holds it already: no write, no commit.
  TFeedProperty* row = feedRecord_ != nullptr && feedRecord_->FeedId == itemId_ ? feedRecord_ : nullptr;
  if (row != nullptr && row->LastFeedProcessingError == text) return;
  try {
    StoreFeedProcessingError(itemId_, text);
    if (row != nullptr) row->LastFeedProcessingError = text;
  } catch (...) {
    // A row that cannot take the text keeps the one it had.
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::StoreFeedProcessingError(int32_t feedId, const std::string& text) {
  if (connection_ == nullptr) return;
  ExecuteAndCommit([&] {
    query_.SQL.Add("update feeds");
    query_.SQL.Add("set lastFeedProcessingError=substring(? from 1 for 200)");
    // A feed that keeps working is not written at every pass.
    query_.SQL.Add("where feed_id=? and lastFeedProcessingError<>substring(? from 1 for 200)");
    query_.Params(0).SetString(text);
    query_.Params(1).SetInteger(feedId);
    query_.Params(2).SetString(text);
  });
}

bool TtidewellWorkerThreadPrAtomRssFeeds::ProcessNewFeed(TtidewellTrdJobPropClass& result) {
  if (result.httpCode == 200) return ParseUnlessDiscovered(result);
  // A failed transfer without an HTTP answer (code -1, 0 or the like) is a
  // failure too, not a quiet success.
  if (result.httpCode > 304 || (result.error && result.httpCode != 304)) throw kt::Exception("");
  return true;
}

bool TtidewellWorkerThreadPrAtomRssFeeds::ParseUnlessDiscovered(TtidewellTrdJobPropClass& result) {
  // The new row is stored at the address the feed came from; its
  // credentials go along only to their own place.
  if (!result.finalUrl.empty()) {
    const bool withCredentials = !userName_.empty() || !password_.empty();
    if (DecideAddressMove(TAddressChange::kAdoptedAddress, url_, result.finalUrl, withCredentials) ==
        TAddressMove::kMoveWithoutCredentials) {
      userName_.clear();
      password_.clear();
    }
    url_ = result.finalUrl;
  }
  if (LowerCaseAscii(result.contentType).find("text/html") == std::string::npos) {
    ParseFeedForInsert(itemId_, feedTitle_, result, items_);
    return true;
  }
  kt::TStream& body = *result.Stream();
  std::string text(static_cast<size_t>(body.Size()), '\0');
  body.SetPosition(0);
  body.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
  body.SetPosition(0);
  if (!IsDiscoveryPage(result, text)) {
    ParseFeedForInsert(itemId_, feedTitle_, result, items_);
    return true;
  }
  bool found = false;
  try {
    kt::TMemoryStream copy;
    copy.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    copy.SetPosition(0);
    DiscoverFeeds(url_, copy, discoveredUrls_, discoveredTitles_);
    found = !discoveredUrls_.empty();
    if (found) SyncFeedAutoDiscovery();
  } catch (...) {
    body.SetPosition(0);
    discoveredUrls_.clear();
    discoveredTitles_.clear();
    throw;
  }
  body.SetPosition(0);
  discoveredUrls_.clear();
  discoveredTitles_.clear();
  if (!found) RaiseMessage(kNoRssUrlsFound, url_);
  return false;
}

void TtidewellWorkerThreadPrAtomRssFeeds::RecordFeedFailure(const std::string& message) {
  errorCategory_ = TErrorCategory::ErrUnknown;
  // A failure without earlier text keeps the message alone.
  if (errorText_.empty()) {
    errorText_ = message;
  } else if (errorText_ != message) {
    errorText_ = errorText_ + ";" + message;
  }
  try {
    articleIds_.clear();
    articleIdCount_ = -1;
    items_ = 0;
    if (!GetStopRequested()) SyncFeedProcessed();
    if (itemId_ >= 1) HandleMissingStream(itemId_, errorCategory_, errorText_);
  } catch (...) {
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::ProcessOPML(TtidewellTrdJobPropClass& result, PHttpRawDataReq,
                                                      void* context) {
  errorCategory_ = result.error ? TErrorCategory::ErrHttpGet : TErrorCategory::noErrors;
  errorText_ = result.errorText;
  const bool stored = itemId_ >= 1;
  TtidewellOpmlContext c = OpmlContext(result);
  mergingList_ = true;
  TtidewellOpmlProcessor(c).Process(result, static_cast<TFeedProperty*>(context), errorCategory_, errorText_);
  mergingList_ = false;
  // A stored list that could not be merged waits for its retry time instead
  // of being fetched again at every tick.
  if (stored && errorCategory_ == TErrorCategory::ErrUnknown) HandleMissingStream(itemId_, errorCategory_, errorText_);
  feedsAddedToOpml_.clear();
  feedsRemovedFromOpml_.clear();
}

// A list job that failed is reported as a feed job is: the event with the
// error, the text kept in the list's row (cleared by a job that succeeds).
void TtidewellWorkerThreadPrAtomRssFeeds::ConcludeListJob(const TtidewellTrdJobPropClass& result) {
  if (GetStopRequested()) return;
  const bool failed = errorCategory_ != TErrorCategory::noErrors && result.httpCode != 304;
  if (failed) {
    SyncFeedProcessed();
  } else {
    KeepFeedProcessingError();
  }
}

TtidewellOpmlContext TtidewellWorkerThreadPrAtomRssFeeds::OpmlContext(TtidewellTrdJobPropClass& result) {
  TtidewellOpmlContext c;
  c.owner = owner_;
  c.transaction = &transaction_;
  c.query = &query_;
  c.dbHelper = dbHelper_;
  c.itemId = &itemId_;
  c.feedTitle = &feedTitle_;
  c.added = &feedsAddedToOpml_;
  c.removed = &feedsRemovedFromOpml_;
  c.deleteFeedId = &deleteFeedId_;
  c.deleteEnded = &deleteEnded_;
  c.deleteAnswer = &deleteAnswer_;
  c.userName = userName_;
  c.password = password_;
  // The list is stored at the address it came from; its credentials stay
  // with it only at their own place.
  const std::string listAddress = result.finalUrl.empty() ? result.url : result.finalUrl;
  const bool withCredentials = !userName_.empty() || !password_.empty();
  if (DecideAddressMove(TAddressChange::kAdoptedAddress, url_, listAddress, withCredentials) ==
      TAddressMove::kMoveWithoutCredentials) {
    c.userName.clear();
    c.password.clear();
  }
  c.stopping = [this] { return GetStopRequested() || Terminated(); };
  c.feedsAdded = [this] { SyncFeedsAddToOpml(); };
  c.feedsRemoved = [this] { SyncFeedsDeleteFromOpml(); };
  c.refreshFolders = [this] { SyncNeedToRefreshFolders(); };
  c.deleteFeed = [this] { SyncDeleteFeed(); };
  c.noNeedForUpdate = [this] { SyncNoNeedForUpdate(); };
  c.reschedule = [this, &result](int32_t feedId, int32_t httpCode) {
    ScheduleNextUpdate(feedId, true, httpCode);
    TtidewellFeedStore(feedContext_, result).SetLastHTTPCode(feedId, httpCode);
  };
  return c;
}

// The processor works on the worker's own fields through the context, which
// are the ones handed in here.
void TtidewellWorkerThreadPrAtomRssFeeds::ParseFeedForUpdate(TFeedProperty* feedRecord, WideString&,
                                                             TtidewellTrdJobPropClass& result, int32_t&) {
  const TDocumentTurn::LeftAtScopeEnd turnEnds(documentTurn_);
  processor_.ParseFeedForUpdate(feedContext_, *feedRecord, result);
}

void TtidewellWorkerThreadPrAtomRssFeeds::ParseFeedForInsert(int32_t&, WideString&, TtidewellTrdJobPropClass& result,
                                                             int32_t&) {
  const TDocumentTurn::LeftAtScopeEnd turnEnds(documentTurn_);
  processor_.ParseFeedForInsert(feedContext_, result);
}

void TtidewellWorkerThreadPrAtomRssFeeds::DiscoverFeeds(const std::string& url, kt::TStream& page, TStrings& urls,
                                                        TStrings& titles) {
  Ttidewell_autodiscoverRSSURL discovery;
  discovery.Discover(url, &page, &titles, &urls);
}

void TtidewellWorkerThreadPrAtomRssFeeds::HandleMissingStream(int32_t feedId, TErrorCategory& errorCategory,
                                                              std::string& errorText) {
  try {
    ScheduleNextUpdate(feedId, true, httpCode_);
  } catch (...) {
    const std::string message = CurrentExceptionMessage();
    RollbackQuietly();
    errorCategory = TErrorCategory::ErrDatabaseOp;
    errorText = message;
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::ScheduleNextUpdate(int32_t feedId, bool useInterval, int32_t httpCode) {
  scheduler_.Options().commentFeed = commentFeed_;
  scheduler_.Options().errorRetryInterval = errorRetryInterval;
  scheduler_.ScheduleNextUpdate(feedId, useInterval, httpCode);
}

// ---- Hand-over to the main thread ---------------------------------------------

void TtidewellWorkerThreadPrAtomRssFeeds::HandOver(const TtidewellWorkerEvents::Fire& fire, bool resetOnFailure) {
  if (GetStopRequested()) return;
  WorkerEvents().HandOver(
      fire, [this] { return GetStopRequested(); },
      [this, resetOnFailure](const std::string& message) {
        errorCategory_ = TErrorCategory::ErrUnknown;
        errorText_ = message;
        WorkerEvents().FireFatalError(threadId_, errorText_, url_, itemId_, GetJobType());
        if (resetOnFailure) ResetJobState();
      });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncStartWorking() {
  HandOver(
      [this](const TtidewellWorkerHandlers& h) {
        if (h.OnStartWorking) h.OnStartWorking(threadId_, itemId_, url_, GetQueueCount(), GetJobType());
      },
      false);
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncStopWorking() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnStopWorking) h.OnStopWorking(threadId_, itemId_, url_, GetQueueCount(), GetJobType());
  });
  // The worker waits meanwhile, so resetting here is what the main thread
  // would do after the handler.
  ResetJobState();
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncNoNeedForUpdate() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnNoNeedForUpdate) h.OnNoNeedForUpdate(itemId_, feedTitle_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncArticleWebPageDownLoaded() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnArticleWebPageDownLoaded)
      h.OnArticleWebPageDownLoaded(threadId_, itemId_, url_, contentSize_, errorCategory_, errorText_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncFeedAutoDiscovery() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnFeedAutoDiscovery) h.OnFeedAutoDiscovery(url_, discoveredUrls_, discoveredTitles_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncFeedProcessed() {
  if (deferConflicts_ && ConflictRecorded()) return;
  feedProcessedFired_ = true;
  KeepFeedProcessingError();
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnFeedProcessed)
      h.OnFeedProcessed(threadId_, GetQueueCount(), url_, itemId_, feedTitle_, items_, feedOperation_, userData_,
                        httpCode_, deletedItems_, errorCategory_, errorText_, articleIds_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncEnclosureDownloaded() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnEnclosureDownloaded)
      h.OnEnclosureDownloaded(threadId_, static_cast<uint32_t>(itemId_), url_, contentSize_, contentType_,
                              localFileName_, errorCategory_, errorText_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncFeedsAddToOpml() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnFeedsAddToOpml)
      h.OnFeedsAddToOpml(static_cast<int32_t>(threadId_), itemId_, url_, feedTitle_, feedsAddedToOpml_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncFeedsDeleteFromOpml() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnFeedsDeleteFromOpml)
      h.OnFeedsDeleteFromOpml(static_cast<int32_t>(threadId_), itemId_, url_, feedTitle_, feedsRemovedFromOpml_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncNeedToRefreshFolders() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnNeedToRefreshFolders) h.OnNeedToRefreshFolders(static_cast<int32_t>(threadId_), itemId_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncDeleteFeed() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnDeleteFeed) deleteAnswer_ = h.OnDeleteFeed(static_cast<int32_t>(threadId_), deleteFeedId_, deleteEnded_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncFatalError() {
  HandOver(
      [this](const TtidewellWorkerHandlers&) {
        WorkerEvents().FireFatalError(threadId_, errorText_, url_, itemId_, GetJobType());
      },
      false);
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncRawDataDownloaded() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnRawDataDownloaded)
      h.OnRawDataDownloaded(static_cast<int32_t>(threadId_), url_, errorText_, httpCode_, contentType_, contentSize_,
                            kt::WideToUtf8(localFileName_), static_cast<PHttpRawDataReq>(userData_));
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncCacheTriggerURLRemapSubItemDownload() {
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnCacheTriggerURLRemapSubItemDownload)
      h.OnCacheTriggerURLRemapSubItemDownload(static_cast<int32_t>(threadId_), url_, itemId_, cachedItemId_,
                                              kt::WideToUtf8(localFileName_));
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::SyncNewCommentFeedCreated() {
  if (itemId_ < 1 || commentFeedId_ < 1) return;
  HandOver([this](const TtidewellWorkerHandlers& h) {
    if (h.OnNewCommentFeedCreated) h.OnNewCommentFeedCreated(threadId_, itemId_, commentFeedId_, parentArticleId_);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::ResetJobState() {
  try {
    SafeCloseQuery(&query_);
    query_.SQL.Clear();
  } catch (...) {
  }
  cachedItemId_ = 0;
  feedTitle_.clear();
  localFileName_.clear();
  feedOperation_ = TFeedOpType::cunknown;
  httpCode_ = 0;
  contentType_.clear();
  contentSize_ = 0;
  errorCategory_ = TErrorCategory::noErrors;
  targetFolder_.clear();
  parentItemId_ = 0;
  deletedItems_ = 0;
  commentFeedId_ = 0;
  parentArticleId_ = 0;
  openSearch_ = false;
  commentFeed_ = false;
  openSearchDescription_.clear();
}

}  // namespace tidewell
