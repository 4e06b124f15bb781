// SPDX-License-Identifier: MIT
// The engine's published events: the handler stored for each, the setters
// that pass the handlers on to the workers, and the relay through which the
// workers reach the engine's current OnFeedProcessed handler.
//
// Thread use: the setters and getters belong to the main thread. Handlers run
// on the main thread, handed over by the worker that fires them, except
// OnNotArticleIdsBeforeDelete, which runs on the worker's own thread and must
// not touch the main thread's controls. A handler that blocks holds its
// worker.
#pragma once

#include <utility>
#include <vector>

#include "engine/tidewell_event_worker.h"
#include "engine/tidewell_events.h"
#include "engine/tidewell_worker_events.h"
#include "platform/main_loop.h"

namespace tidewell {

class TtidewellEngineEvents {
 public:
  // The relay hands over to main_loop, which must outlive the engine.
  explicit TtidewellEngineEvents(platform::MainLoop& main_loop = platform::MainThread());
  virtual ~TtidewellEngineEvents() = default;
  TtidewellEngineEvents(const TtidewellEngineEvents&) = delete;
  TtidewellEngineEvents& operator=(const TtidewellEngineEvents&) = delete;

  // Whether any worker is between taking a job and its end.
  bool AnyThreadWorking();

  // Each of these setters raises "All threads must finish their job first"
  // while any worker works, and then changes nothing. Otherwise it stores the
  // handler and passes it on to every worker, an empty one included, so that
  // no worker keeps calling a handler the application has withdrawn.
  void SetOnHttpAuthenticate(TOnHttpAuthenticate handler);
  void SetOnDownloading(TOnHttpWorkExt handler);
  void SetOnStartWorking(TWorkStartEvent handler);
  void SetOnStopWorking(TWorkStartEvent handler);
  void SetOnNoNeedForUpdate(TNoNeedForUpdate handler);
  void SetOnArticleWebPageDownLoaded(TWebPageDownLoaded handler);
  void SetOnEnclosureDownloaded(TEnclosureDownloaded handler);
  void SetOnFeedAutoDiscovery(TFeedAutoDiscovery handler);
  // The workers receive the engine's relay instead of the handler.
  void SetOnFeedProcessed(TFeedProcessed handler);
  void SetOnRawDataDownloaded(TOnRawDataFetchCompleted handler);
  void SetOnNotArticleIdsBeforeDelete(TOnNotArticleIdsBeforeDelete handler);
  void SetOnHttpReqBegin(THttpGetStart handler);
  void SetOnHttpReqEnd(THttpGetEnd handler);
  void SetOnFeedsAddToOpml(TOnFeedsAddToOpml handler);
  void SetOnFeedsDeleteFromOpml(TOnFeedsAddToOpml handler);
  void SetOnNeedToRefreshFolders(TOnNeedToRefreshFolders handler);
  void SetOnDeleteFeed(TOnDeleteFeed handler);
  void SetOnCacheTriggerURLRemapSubItemDownload(TOnCacheTriggerURLRemappingAndSubItemDownload handler);
  void SetOnFatalError(TFatalError handler);
  void SetOnNewCommentFeedCreated(TOnCommentFeedCreated handler);

  // Handlers that no worker fires: stored at any time. The engine fires
  // OnSmrtUpdateTimer from its update timer; the OPML import and export
  // handlers are kept for the application and never fired.
  void SetOnSmrtUpdateTimer(TSmrtUpdateTimer handler) { onSmrtUpdateTimer_ = std::move(handler); }
  void SetOnOPMLImportStarted(TOnOPMLImportStarted handler) { onOPMLImportStarted_ = std::move(handler); }
  void SetOnOPMLImportEnded(TOnOPMLImportStarted handler) { onOPMLImportEnded_ = std::move(handler); }
  void SetOnOPMLNodeProcessingStart(TOnOPMLNodeProcessingStart handler) {
    onOPMLNodeProcessingStart_ = std::move(handler);
  }
  void SetOnOPMLReadNode(TOnOPMLReadNode handler) { onOPMLReadNode_ = std::move(handler); }
  void SetOnOPMLGroupStart(TOnOPMLGroupStart handler) { onOPMLGroupStart_ = std::move(handler); }
  void SetOnOPMLGroupEnd(TOnOPMLGroupStart handler) { onOPMLGroupEnd_ = std::move(handler); }
  void SetOPMLImportError(TOnOPMLImportError handler) { oPMLImportError_ = std::move(handler); }
  void SetOnOPMLHttpWork(TOnOPMLHttpWork handler) { onOPMLHttpWork_ = std::move(handler); }
  void SetOPMLExportEvent(TOPMLExportEvent handler) { oPMLExportEvent_ = std::move(handler); }

  // The stored handlers; empty when unassigned.
  const TOnHttpAuthenticate& OnHttpAuthenticate() const { return handlers_.OnHttpAuthenticate; }
  const TOnHttpWorkExt& OnDownloading() const { return handlers_.OnDownloading; }
  const TWorkStartEvent& OnStartWorking() const { return handlers_.OnStartWorking; }
  const TWorkStartEvent& OnStopWorking() const { return handlers_.OnStopWorking; }
  const TNoNeedForUpdate& OnNoNeedForUpdate() const { return handlers_.OnNoNeedForUpdate; }
  const TWebPageDownLoaded& OnArticleWebPageDownLoaded() const { return handlers_.OnArticleWebPageDownLoaded; }
  const TEnclosureDownloaded& OnEnclosureDownloaded() const { return handlers_.OnEnclosureDownloaded; }
  const TFeedAutoDiscovery& OnFeedAutoDiscovery() const { return handlers_.OnFeedAutoDiscovery; }
  const TFeedProcessed& OnFeedProcessed() const { return handlers_.OnFeedProcessed; }
  const TOnRawDataFetchCompleted& OnRawDataDownloaded() const { return handlers_.OnRawDataDownloaded; }
  const TOnNotArticleIdsBeforeDelete& OnNotArticleIdsBeforeDelete() const {
    return handlers_.OnNotArticleIdsBeforeDelete;
  }
  const THttpGetStart& OnHttpReqBegin() const { return handlers_.OnHttpReqBegin; }
  const THttpGetEnd& OnHttpReqEnd() const { return handlers_.OnHttpReqEnd; }
  const TOnFeedsAddToOpml& OnFeedsAddToOpml() const { return handlers_.OnFeedsAddToOpml; }
  const TOnFeedsAddToOpml& OnFeedsDeleteFromOpml() const { return handlers_.OnFeedsDeleteFromOpml; }
  const TOnNeedToRefreshFolders& OnNeedToRefreshFolders() const { return handlers_.OnNeedToRefreshFolders; }
  const TOnDeleteFeed& OnDeleteFeed() const { return handlers_.OnDeleteFeed; }
  const TOnCacheTriggerURLRemappingAndSubItemDownload& OnCacheTriggerURLRemapSubItemDownload() const {
    return handlers_.OnCacheTriggerURLRemapSubItemDownload;
  }
  const TFatalError& OnFatalError() const { return handlers_.OnFatalError; }
  const TOnCommentFeedCreated& OnNewCommentFeedCreated() const { return handlers_.OnNewCommentFeedCreated; }
  const TSmrtUpdateTimer& OnSmrtUpdateTimer() const { return onSmrtUpdateTimer_; }
  const TOnOPMLImportStarted& OnOPMLImportStarted() const { return onOPMLImportStarted_; }
  const TOnOPMLImportStarted& OnOPMLImportEnded() const { return onOPMLImportEnded_; }
  const TOnOPMLNodeProcessingStart& OnOPMLNodeProcessingStart() const { return onOPMLNodeProcessingStart_; }
  const TOnOPMLReadNode& OnOPMLReadNode() const { return onOPMLReadNode_; }
  const TOnOPMLGroupStart& OnOPMLGroupStart() const { return onOPMLGroupStart_; }
  const TOnOPMLGroupStart& OnOPMLGroupEnd() const { return onOPMLGroupEnd_; }
  const TOnOPMLImportError& OPMLImportError() const { return oPMLImportError_; }
  const TOnOPMLHttpWork& OnOPMLHttpWork() const { return onOPMLHttpWork_; }
  const TOPMLExportEvent& OPMLExportEvent() const { return oPMLExportEvent_; }

  // Gives a worker every handler that workers fire, for a worker made after
  // the handlers were set.
  void CopyHandlersTo(TtidewellEventWorker& worker) const;

 protected:
  // The engine's workers; the engine owns them and they stay while listed.
  virtual std::vector<TtidewellEventWorker*> EventWorkers() const = 0;

  // What the workers hold as OnFeedProcessed: on the main thread, calls the
  // handler the engine holds at that moment, when assigned. From another
  // thread the call is handed over to the main thread first.
  TFeedProcessed FeedProcessedRelay() const;

 private:
  template <typename Handler>
  void AssignWorkerEvent(Handler TtidewellWorkerHandlers::*slot, Handler handler);
  void RefuseWhileWorking();
  TtidewellWorkerHandlers HandlersForWorkers() const;

  platform::MainLoop& main_loop_;
  // The stored handlers that workers fire; OnFeedProcessed is the
  // application's own handler here.
  TtidewellWorkerHandlers handlers_;
  TSmrtUpdateTimer onSmrtUpdateTimer_;
  TOnOPMLImportStarted onOPMLImportStarted_;
  TOnOPMLImportStarted onOPMLImportEnded_;
  TOnOPMLNodeProcessingStart onOPMLNodeProcessingStart_;
  TOnOPMLReadNode onOPMLReadNode_;
  TOnOPMLGroupStart onOPMLGroupStart_;
  TOnOPMLGroupStart onOPMLGroupEnd_;
  TOnOPMLImportError oPMLImportError_;
  TOnOPMLHttpWork onOPMLHttpWork_;
  TOPMLExportEvent oPMLExportEvent_;
};

}  // namespace tidewell
