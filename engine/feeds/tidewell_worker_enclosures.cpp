// SPDX-License-Identifier: MIT
// The feed worker's enclosure processor: keeps the enclosure row's download
// state in step with the transfer (1 while it runs, 2 when it succeeded, 3
// when it failed) and reports the outcome.
#include <cctype>
#include <exception>
#include <mutex>
#include <utility>

#include "engine/db/firebird_error.h"
#include "engine/db/update_conflict.h"
#include "engine/feeds/tidewell_worker_thread_pr_atom_rss_feeds.h"
#include "engine/tidewell.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

enum : int32_t { kDownloading = 1, kDownloaded = 2, kDownloadFailed = 3 };

std::mutex& HookLock() {
  static std::mutex lock;
  return lock;
}

std::function<void(int32_t)>& BeforeEndCommit() {
  static std::function<void(int32_t)> hook;
  return hook;
}

void RunBeforeEndCommit(int32_t enclosureId) {
  std::function<void(int32_t)> hook;
  {
    std::lock_guard<std::mutex> lock(HookLock());
    hook = BeforeEndCommit();
  }
  if (hook) hook(enclosureId);
}

std::function<void(TEnclosureStep, int32_t)>& BeforeStep() {
  static std::function<void(TEnclosureStep, int32_t)> hook;
  return hook;
}

void RunBeforeStep(TEnclosureStep step, int32_t enclosureId) {
  std::function<void(TEnclosureStep, int32_t)> hook;
  {
    std::lock_guard<std::mutex> lock(HookLock());
    hook = BeforeStep();
  }
  if (hook) hook(step, enclosureId);
}

// Only a 2xx answer delivers the body: a redirect that was not followed to
// its end (too many hops, a loop) or a 304 left no file behind.
bool IsDelivered(const TtidewellTrdJobPropClass& result, int32_t code) {
  return !result.error && code >= 200 && code < 300;
}

// The server's "Retry-After" among the answer's headers, as a time (0 when
// none).
TDateTime RetryAfterOf(const TtidewellTrdJobPropClass& result, TDateTime nowUtc) {
  constexpr char kName[] = "retry-after:";
  for (const std::string& header : result.headers) {
    if (header.size() < sizeof kName - 1) continue;
    std::string name = header.substr(0, sizeof kName - 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == kName) return RetryAfterUtc(header.substr(sizeof kName - 1), nowUtc);
  }
  return 0;
}

// A body that could not be written, closed or moved into place is a file
// failure (a full disk among them); every other one is the transfer's.
TErrorCategory FailureCategory(const TtidewellTrdJobPropClass& result) {
  return result.fileError ? TErrorCategory::ErrIO : TErrorCategory::ErrHttpGet;
}

}  // namespace

void TEST_SetBeforeEnclosureEndCommit(std::function<void(int32_t enclosureId)> hook) {
  std::lock_guard<std::mutex> lock(HookLock());
  BeforeEndCommit() = std::move(hook);
}

void TEST_SetBeforeEnclosureStep(std::function<void(TEnclosureStep step, int32_t enclosureId)> hook) {
  std::lock_guard<std::mutex> lock(HookLock());
  BeforeStep() = std::move(hook);
}

void TtidewellWorkerThreadPrAtomRssFeeds::StartOwnTransaction() {
  if (!transaction_.InTransaction()) transaction_.StartTransaction();
}

void TtidewellWorkerThreadPrAtomRssFeeds::ExecuteAndCommit(const std::function<void()>& fill) {
  try {
    StartOwnTransaction();
    ResetQuery();
    fill();
    ExecQueryTimed(&query_, false);
    ResetQuery();
    transaction_.Commit();
  } catch (...) {
    ResetQuery();
    RollbackQuietly();
    throw;
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::ResetQuery() {
  SafeCloseQuery(&query_);
  query_.SQL.Clear();
}

void TtidewellWorkerThreadPrAtomRssFeeds::ProcessEnclosure(TtidewellTrdJobPropClass& result, PHttpRawDataReq,
                                                           void*, int phase) {
  const TDateTime nowUtc = LocalTimeToUTC(Now());
  try {
    if (phase == kPhaseEnclosureEnd && !IsDelivered(result, httpCode_)) {
      RecordEnclosureFailure(result, nowUtc);
    } else if (phase == kPhaseEnclosureEnd) {
      // The file came: the database's failures are waited out. A stop
      // meanwhile leaves it named by its row, which the next start finds.
      const bool recorded = AwaitDatabase([&] {
        RunBeforeStep(TEnclosureStep::kEndRecord, itemId_);
        StoreEnclosureStateAgainIfLost(result, phase, nowUtc);
      });
      if (!recorded) return;
      errorCategory_ = TErrorCategory::noErrors;
    } else {
      StoreEnclosureStateAgainIfLost(result, phase, nowUtc);
    }
  } catch (...) {
    errorText_ = CurrentExceptionMessage();
    errorCategory_ = TErrorCategory::ErrDatabaseOp;
    ResetQuery();
    RollbackQuietly();
    if (phase == kPhaseEnclosureEnd && IsDelivered(result, httpCode_)) SettleUnrecordedDownload(result);
  }
  if (phase == kPhaseEnclosureEnd && !GetStopRequested()) SyncEnclosureDownloaded();
}

std::unordered_set<WideString> TtidewellWorkerThreadPrAtomRssFeeds::FilesNamedByOtherRows(const WideString& prefix) {
  if (connection_ == nullptr) return {};
  try {
    StartOwnTransaction();
    RunBeforeStep(TEnclosureStep::kNamesLookUp, itemId_);
    std::unordered_set<WideString> named = TtidewellWorkerThreadBase::FilesNamedByOtherRows(prefix);
    transaction_.Commit();
    return named;
  } catch (...) {
    ResetQuery();
    RollbackQuietly();
    throw;
  }
}

// A file moved to a name its row does not hold would be named by no row
// for good once the row is put back to new: the move waits until the
// database took the name.
bool TtidewellWorkerThreadPrAtomRssFeeds::BeforeEnclosureMove(const WideString& finalName) {
  if (connection_ == nullptr) return true;
  const auto fill = [&] {
    fileNameMayBeRecorded_ = true;
    query_.SQL.Add("update Enclosures");
    query_.SQL.Add("set filelocation=?");
    query_.SQL.Add("where enclosure_id=? and download_status=?");
    query_.Params(0).SetWideString(finalName);
    query_.Params(1).SetInteger(itemId_);
    query_.Params(2).SetInteger(kDownloading);
  };
  try {
    return AwaitDatabase([&] {
      RetryOnUpdateConflict([&] {
        StartOwnTransaction();
        RunBeforeStep(TEnclosureStep::kNameRecord, itemId_);
        ExecuteAndCommit(fill);
      });
    });
  } catch (...) {
    // A failure that no wait mends: the end's record names the file, and
    // without it the file is taken back.
    return true;
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::RecordEnclosureFailure(TtidewellTrdJobPropClass& result, TDateTime nowUtc) {
  try {
    result.CloseStream();
  } catch (...) {
  }
  DeleteFileUni(result.localFileName);
  if (Owner() != nullptr && !GetStopRequested())
    Owner()->DownloadRetries().NoteFailure(itemId_, targetFolder_, result.passingFailure, nowUtc,
                                           RetryAfterOf(result, nowUtc));
  const auto fill = [&] {
    query_.SQL.Add("update Enclosures");
    query_.SQL.Add("set download_status=?,filelocation=?,downloadStart=?,downloadEnd=?,lasthttpcode=?");
    query_.SQL.Add("where enclosure_id=?");
    query_.Params(0).SetInteger(kDownloadFailed);
    query_.Params(1).SetString("");
    query_.Params(2).SetDateTime(nowUtc);
    query_.Params(3).SetDateTime(nowUtc);
    query_.Params(4).SetInteger(httpCode_);
    query_.Params(5).SetInteger(itemId_);
  };
  RetryOnUpdateConflict([&] { ExecuteAndCommit(fill); });
  errorText_ = std::string(MessageText(kEnclosureDownloadFailed)) + "\r\n" + result.errorText;
  errorCategory_ = FailureCategory(result);
  if (!GetStopRequested() && WorkerEvents().Snapshot().OnFatalError) SyncFatalError();
}

// A server that went away meanwhile may answer again: the attachment is
// made anew for a second try before the download is given up. A write that
// met another transaction's (a pass storing the row) is done again as every
// such write is.
void TtidewellWorkerThreadPrAtomRssFeeds::StoreEnclosureStateAgainIfLost(TtidewellTrdJobPropClass& result, int phase,
                                                                         TDateTime nowUtc) {
  const auto undo = [this] {
    ResetQuery();
    RollbackQuietly();
  };
  try {
    RetryOnUpdateConflict([&] { StoreEnclosureState(result, phase, nowUtc); }, undo);
  } catch (const std::exception& error) {
    if (!db::IsConnectionLost(error)) throw;
    undo();
    RetryOnUpdateConflict([&] { StoreEnclosureState(result, phase, nowUtc); }, undo);
  }
}

// The end of a finished download could not be written, but a commit that
// named its file may have reached the database all the same (its answer
// lost with the connection). The file goes only once the row, read again
// on a new attachment, shows that it names the file nowhere; where the row
// cannot be read, it stays while a commit may have named it. A row left
// under way with the file's name is marked downloaded by the reset.
void TtidewellWorkerThreadPrAtomRssFeeds::SettleUnrecordedDownload(TtidewellTrdJobPropClass& result) {
  int32_t status = 0;
  std::string recorded;
  try {
    ReadDownloadRow(status, recorded);
  } catch (...) {
    ResetQuery();
    RollbackQuietly();
    if (!fileNameMayBeRecorded_) TakeBackDownload(result);
    return;
  }
  if (recorded != kt::WideToUtf8(result.localFileName)) return TakeBackDownload(result);
  if (status == kDownloaded) {
    errorText_.clear();
    errorCategory_ = TErrorCategory::noErrors;
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::ReadDownloadRow(int32_t& status, std::string& fileLocation) {
  StartOwnTransaction();
  ResetQuery();
  query_.SQL.Add("select download_status,filelocation");
  query_.SQL.Add("from Enclosures");
  query_.SQL.Add("where enclosure_id=?");
  query_.Params(0).SetInteger(itemId_);
  ExecQueryTimed(&query_, true);
  if (!query_.Eof()) {
    status = query_.Fields(0).AsInteger();
    fileLocation = query_.Fields(1).AsString();
  }
  ResetQuery();
  transaction_.Commit();
}

// A finished file that its row does not name would be fetched again under a
// second name by the next start: it goes, and the row's download (left
// unfinished) is made again then.
void TtidewellWorkerThreadPrAtomRssFeeds::TakeBackDownload(TtidewellTrdJobPropClass& result) {
  try {
    result.CloseStream();
  } catch (...) {
  }
  DeleteFileUni(result.localFileName);
  localFileName_.clear();
}

void TtidewellWorkerThreadPrAtomRssFeeds::StoreEnclosureState(TtidewellTrdJobPropClass& result, int phase,
                                                              TDateTime nowUtc) {
  StartOwnTransaction();
  ResetQuery();
  query_.SQL.Add("select article_id");
  query_.SQL.Add("from Enclosures");
  query_.SQL.Add("where enclosure_id=?");
  query_.Params(0).SetInteger(itemId_);
  ExecQueryTimed(&query_, true);
  // An enclosure without its row tells the progress events no article.
  parentItemId_ = query_.Eof() ? 0 : query_.Fields(0).AsInteger();
  ResetQuery();
  query_.SQL.Add("update Enclosures");
  query_.SQL.Add("set ");
  if (phase == kPhaseEnclosureStart) {
    query_.SQL.Add("download_status=?,filelocation=?,downloadStart=?,downloadEnd=?,lasthttpcode=?");
  } else {
    query_.SQL.Add("download_status=?,filelocation=?,downloadEnd=?,lasthttpcode=?");
  }
  query_.SQL.Add("where enclosure_id=?");
  int index = 0;
  query_.Params(index++).SetInteger(phase == kPhaseEnclosureStart ? kDownloading : kDownloaded);
  query_.Params(index++).SetWideString(result.localFileName);
  if (phase == kPhaseEnclosureStart) query_.Params(index++).SetDateTime(nowUtc);
  query_.Params(index++).SetDateTime(nowUtc);
  query_.Params(index++).SetInteger(httpCode_);
  query_.Params(index).SetInteger(itemId_);
  ExecQueryTimed(&query_, false);
  SafeUnprepareQuery(&query_);
  query_.SQL.Clear();
  if (phase == kPhaseEnclosureEnd) {
    RunBeforeEndCommit(itemId_);
    fileNameMayBeRecorded_ = true;
  }
  transaction_.Commit();
}

}  // namespace tidewell
