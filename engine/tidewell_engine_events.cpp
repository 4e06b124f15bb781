// SPDX-License-Identifier: MIT
#include "engine/tidewell_engine_events.h"

#include <utility>

#include "engine/tidewell_msg.h"

namespace tidewell {

TtidewellEngineEvents::TtidewellEngineEvents(platform::MainLoop& main_loop) : main_loop_(main_loop) {}

bool TtidewellEngineEvents::AnyThreadWorking() {
  for (TtidewellEventWorker* worker : EventWorkers())
    if (worker != nullptr && worker->GetWorking()) return true;
  return false;
}

void TtidewellEngineEvents::RefuseWhileWorking() {
  if (AnyThreadWorking()) RaiseMessage(kThreadsMustFinish);
}

template <typename Handler>
void TtidewellEngineEvents::AssignWorkerEvent(Handler TtidewellWorkerHandlers::*slot, Handler handler) {
  RefuseWhileWorking();
  handlers_.*slot = std::move(handler);
  const Handler for_workers = HandlersForWorkers().*slot;
  for (TtidewellEventWorker* worker : EventWorkers()) {
    if (worker == nullptr) continue;
    worker->WorkerEvents().Change([&](TtidewellWorkerHandlers& copies) { copies.*slot = for_workers; });
  }
}

TtidewellWorkerHandlers TtidewellEngineEvents::HandlersForWorkers() const {
  TtidewellWorkerHandlers copies = handlers_;
  if (copies.OnFeedProcessed) copies.OnFeedProcessed = FeedProcessedRelay();
  return copies;
}

void TtidewellEngineEvents::CopyHandlersTo(TtidewellEventWorker& worker) const {
  const TtidewellWorkerHandlers copies = HandlersForWorkers();
  worker.WorkerEvents().Change([&](TtidewellWorkerHandlers& handlers) { handlers = copies; });
}

TFeedProcessed TtidewellEngineEvents::FeedProcessedRelay() const {
  return
      [this](uint32_t threadID, int32_t jobCount, const std::string& url, int32_t feedId, const WideString& feedTitle,
             int32_t items, TFeedOpType feedOperation, void* userData, int32_t httpRCode, int32_t deletedItems,
             TErrorCategory errCat, const std::string& errMsg, const TDynIntArray& articleIds) {
        main_loop_.Synchronize([&] {
          // A copy, so that a handler which replaces itself keeps running intact.
          const TFeedProcessed handler = handlers_.OnFeedProcessed;
          if (handler)
            handler(threadID, jobCount, url, feedId, feedTitle, items, feedOperation, userData, httpRCode, deletedItems,
                    errCat, errMsg, articleIds);
        });
      };
}

void TtidewellEngineEvents::SetOnHttpAuthenticate(TOnHttpAuthenticate handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnHttpAuthenticate, std::move(handler));
}
void TtidewellEngineEvents::SetOnDownloading(TOnHttpWorkExt handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnDownloading, std::move(handler));
}
void TtidewellEngineEvents::SetOnStartWorking(TWorkStartEvent handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnStartWorking, std::move(handler));
}
void TtidewellEngineEvents::SetOnStopWorking(TWorkStartEvent handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnStopWorking, std::move(handler));
}
void TtidewellEngineEvents::SetOnNoNeedForUpdate(TNoNeedForUpdate handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnNoNeedForUpdate, std::move(handler));
}
void TtidewellEngineEvents::SetOnArticleWebPageDownLoaded(TWebPageDownLoaded handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnArticleWebPageDownLoaded, std::move(handler));
}
void TtidewellEngineEvents::SetOnEnclosureDownloaded(TEnclosureDownloaded handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnEnclosureDownloaded, std::move(handler));
}
void TtidewellEngineEvents::SetOnFeedAutoDiscovery(TFeedAutoDiscovery handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnFeedAutoDiscovery, std::move(handler));
}
void TtidewellEngineEvents::SetOnFeedProcessed(TFeedProcessed handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnFeedProcessed, std::move(handler));
}
void TtidewellEngineEvents::SetOnRawDataDownloaded(TOnRawDataFetchCompleted handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnRawDataDownloaded, std::move(handler));
}
void TtidewellEngineEvents::SetOnNotArticleIdsBeforeDelete(TOnNotArticleIdsBeforeDelete handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnNotArticleIdsBeforeDelete, std::move(handler));
}
void TtidewellEngineEvents::SetOnHttpReqBegin(THttpGetStart handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnHttpReqBegin, std::move(handler));
}
void TtidewellEngineEvents::SetOnHttpReqEnd(THttpGetEnd handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnHttpReqEnd, std::move(handler));
}
void TtidewellEngineEvents::SetOnFeedsAddToOpml(TOnFeedsAddToOpml handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnFeedsAddToOpml, std::move(handler));
}
void TtidewellEngineEvents::SetOnFeedsDeleteFromOpml(TOnFeedsAddToOpml handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnFeedsDeleteFromOpml, std::move(handler));
}
void TtidewellEngineEvents::SetOnNeedToRefreshFolders(TOnNeedToRefreshFolders handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnNeedToRefreshFolders, std::move(handler));
}
void TtidewellEngineEvents::SetOnDeleteFeed(TOnDeleteFeed handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnDeleteFeed, std::move(handler));
}
void TtidewellEngineEvents::SetOnCacheTriggerURLRemapSubItemDownload(
    TOnCacheTriggerURLRemappingAndSubItemDownload handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnCacheTriggerURLRemapSubItemDownload, std::move(handler));
}
void TtidewellEngineEvents::SetOnFatalError(TFatalError handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnFatalError, std::move(handler));
}
void TtidewellEngineEvents::SetOnNewCommentFeedCreated(TOnCommentFeedCreated handler) {
  AssignWorkerEvent(&TtidewellWorkerHandlers::OnNewCommentFeedCreated, std::move(handler));
}

}  // namespace tidewell
