// SPDX-License-Identifier: MIT
// Helpers for the engine's tests: a pool worker that keeps its jobs queued
// (so the distribution of jobs can be read back) and a worker that will not
// stop in time.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/tidewell.h"
#include "engine/tidewell_worker_events.h"
#include "platform/event.h"
#include "support/engine_on_database.h"

namespace tidewell::testing {

// A worker whose jobs stay queued: nothing takes them.
class ParkedWorker : public TtidewellPoolWorker, public TtidewellEventWorker {
 public:
  struct Job {
    std::string url;
    int32_t itemId;
    TQueueJobTypes kind;
    WideString folder;
  };

  void AddFeedJob(int32_t feedId, bool atFront) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const Job job{"", feedId, TQueueJobTypes::CfeedOperation, {}};
    atFront ? jobs_.push_front(job) : jobs_.push_back(job);
  }
  void AddJob(const std::string& url, int32_t itemId, TQueueJobTypes kind, const WideString& folder) override {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_front({url, itemId, kind, folder});
  }
  int32_t GetQueueCount() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(jobs_.size());
  }
  bool IsJobKindQueued(TQueueJobTypes kind, int32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Job& job : jobs_)
      if (job.kind == kind && job.itemId != -9999) return true;
    return false;
  }
  bool IsJobQueued(int32_t itemId, TQueueJobTypes kind, int32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Job& job : jobs_)
      if (job.kind == kind && job.itemId == itemId) return true;
    return false;
  }
  void RequestStop() override { stopRequested = true; }
  void Stop() override { stopped = true; }
  void WaitFor() override {}
  TtidewellEventWorker& EventWorker() override { return *this; }
  bool GetWorking() override { return working; }
  TtidewellWorkerEvents& WorkerEvents() override { return events_; }

  std::vector<Job> Jobs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {jobs_.begin(), jobs_.end()};
  }
  std::vector<int32_t> ItemIds() {
    std::vector<int32_t> ids;
    for (const Job& job : Jobs()) ids.push_back(job.itemId);
    return ids;
  }

  std::atomic<bool> stopRequested{false};
  std::atomic<bool> stopped{false};
  std::atomic<bool> working{false};

 private:
  std::mutex mutex_;
  std::deque<Job> jobs_;
  TtidewellWorkerEvents events_;
};

// A worker whose thread ignores the stop until released.
class StuckWorker : public ParkedWorker {
 public:
  explicit StuckWorker(std::shared_ptr<platform::Event> release)
      : release_(std::move(release)), thread_([this] { release_->WaitFor(-1); }) {}
  ~StuckWorker() override { thread_.join(); }
  void WaitFor() override { release_->WaitFor(-1); }

 private:
  std::shared_ptr<platform::Event> release_;
  std::thread thread_;
};

// Makes ParkedWorkers and remembers them by slot.
struct ParkedPool {
  std::vector<ParkedWorker*> workers = std::vector<ParkedWorker*>(Ttidewell::kThreadCount, nullptr);
  TtidewellWorkerFactory Factory() {
    return [this](Ttidewell&, int slot) {
      auto worker = std::make_unique<ParkedWorker>();
      workers[slot] = worker.get();
      return std::unique_ptr<TtidewellPoolWorker>(std::move(worker));
    };
  }
};

}  // namespace tidewell::testing
