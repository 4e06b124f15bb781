// SPDX-License-Identifier: MIT
// A worker's own copies of the engine's event handlers, and the hand-over
// that fires them on the main thread.
//
// Thread use: the engine changes the copies on the main thread while the
// worker may read them on its own thread, so both go through the holder's
// lock. A handler is always called on a copy taken under the lock, never
// while the lock is held.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/tidewell_events.h"
#include "engine/tidewell_struct.h"
#include "platform/main_loop.h"

namespace tidewell {

// The handlers that a worker fires. OnFeedProcessed holds the engine's relay,
// not the application's handler.
struct TtidewellWorkerHandlers {
  TOnHttpAuthenticate OnHttpAuthenticate;
  TOnHttpWorkExt OnDownloading;
  TWorkStartEvent OnStartWorking;
  TWorkStartEvent OnStopWorking;
  TNoNeedForUpdate OnNoNeedForUpdate;
  TWebPageDownLoaded OnArticleWebPageDownLoaded;
  TEnclosureDownloaded OnEnclosureDownloaded;
  TFeedAutoDiscovery OnFeedAutoDiscovery;
  TFeedProcessed OnFeedProcessed;
  TOnRawDataFetchCompleted OnRawDataDownloaded;
  TOnNotArticleIdsBeforeDelete OnNotArticleIdsBeforeDelete;
  THttpGetStart OnHttpReqBegin;
  THttpGetEnd OnHttpReqEnd;
  TOnFeedsAddToOpml OnFeedsAddToOpml;
  TOnFeedsAddToOpml OnFeedsDeleteFromOpml;
  TOnNeedToRefreshFolders OnNeedToRefreshFolders;
  TOnDeleteFeed OnDeleteFeed;
  TOnCacheTriggerURLRemappingAndSubItemDownload OnCacheTriggerURLRemapSubItemDownload;
  TFatalError OnFatalError;
  TOnCommentFeedCreated OnNewCommentFeedCreated;
};

class TtidewellWorkerEvents {
 public:
  using Edit = std::function<void(TtidewellWorkerHandlers& handlers)>;
  using Fire = std::function<void(const TtidewellWorkerHandlers& handlers)>;
  using StopRequested = std::function<bool()>;
  using Failure = std::function<void(const std::string& message)>;

  // Hand-overs go to main_loop, which must outlive the holder.
  explicit TtidewellWorkerEvents(platform::MainLoop& main_loop = platform::MainThread());
  TtidewellWorkerEvents(const TtidewellWorkerEvents&) = delete;
  TtidewellWorkerEvents& operator=(const TtidewellWorkerEvents&) = delete;

  // Any thread. Changes the copies under the holder's lock.
  void Change(const Edit& edit);
  // Any thread. The copies as they are now; the worker calls
  // OnNotArticleIdsBeforeDelete on such a copy on its own thread.
  TtidewellWorkerHandlers Snapshot() const;

  // The worker's hand-over: on the main thread, while the calling worker
  // waits, fire runs with the copies of that moment, unless stop_requested()
  // holds there. A failure of fire (an application handler) is caught on the
  // main thread and given to on_failure there, so it never reaches the worker;
  // a failure of on_failure itself does reach the worker. Returns whether
  // fire ran: false when a stop was requested or the main loop shuts down.
  bool HandOver(const Fire& fire, const StopRequested& stop_requested, const Failure& on_failure);

  // REQUIRES: the main thread. Calls OnFatalError when assigned; a failure of
  // that handler is swallowed, since nothing is left to report it to.
  void FireFatalError(uint32_t threadId, const std::string& errMsg, const std::string& url, int32_t itemId,
                      TQueueJobTypes jobType) const;

 private:
  platform::MainLoop& main_loop_;
  mutable std::mutex mutex_;
  TtidewellWorkerHandlers handlers_;  // guarded by mutex_
};

// REQUIRES: inside a catch block. The message of the exception being
// handled, for reports.
std::string CurrentExceptionMessage();

}  // namespace tidewell
