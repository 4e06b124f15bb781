// SPDX-License-Identifier: MIT
// The feed worker as a worker of the engine's pool: made on an attachment of
// its own to the engine's database (the engine serialises nothing between
// workers then: one attachment runs one request at a time), with the engine's
// configuration, filing through the process's insert helper, running from
// construction.
#pragma once

#include <memory>

#include "engine/feeds/tidewell_worker_thread_pr_atom_rss_feeds.h"
#include "engine/tidewell_pool_worker.h"

namespace tidewell {

class TtidewellFeedPoolWorker : public TtidewellPoolWorker {
 public:
  // REQUIRES: the engine's insert helper exists.
  explicit TtidewellFeedPoolWorker(Ttidewell& engine);

  void AddFeedJob(int32_t feedId, bool atFront) override { worker_->AddFeedJob(feedId, atFront); }
  void AddJob(const std::string& url, int32_t itemId, TQueueJobTypes kind, const WideString& targetFolder) override {
    worker_->AddJob(url, itemId, kind, targetFolder);
  }
  void AddJobsAtHead(const std::vector<TJobRequest>& jobs) override { worker_->AddJobsAtHead(jobs); }
  int32_t GetQueueCount() override { return worker_->GetQueueCount(); }
  bool IsJobKindQueued(TQueueJobTypes kind, int32_t ignoreThreadId) override {
    return worker_->IsJobKindQueued(kind, ignoreThreadId);
  }
  bool IsJobQueued(int32_t itemId, TQueueJobTypes kind, int32_t ignoreThreadId) override {
    return worker_->IsJobQueued(itemId, kind, ignoreThreadId);
  }
  bool WithdrawWaitingJob(int32_t itemId, TQueueJobTypes kind) override {
    return worker_->WithdrawWaitingJob(itemId, kind);
  }
  TQueueJobTypes RunningFeedJobKind(int32_t itemId) override {
    if (!worker_->IsJobRunning(itemId, TQueueJobTypes::CfeedOperation)) return TQueueJobTypes::CNoJob;
    return worker_->IsMergingList() ? TQueueJobTypes::CgetOpmlData : worker_->GetJobType();
  }
  void RequestStop() override {
    worker_->RequestStop();
    worker_->WakeUp();
  }
  void Stop() override {
    worker_->Stop();
    worker_->WakeUp();
  }
  void WaitFor() override { worker_->WaitFor(); }
  TtidewellEventWorker& EventWorker() override { return *worker_; }
  TDbConnWrapper* OwnConnection() override { return attachment_.get(); }

  TtidewellWorkerThreadPrAtomRssFeeds& Worker() { return *worker_; }

 private:
  // Declared first: the worker's statements and transaction live on it.
  std::unique_ptr<TDbConnWrapper> attachment_;
  std::unique_ptr<TtidewellWorkerThreadPrAtomRssFeeds> worker_;
};

// The engine's default: a TtidewellFeedPoolWorker per slot.
TtidewellWorkerFactory FeedWorkerFactory();

}  // namespace tidewell
