// SPDX-License-Identifier: MIT
// What the engine needs of each worker of its pool: the queue operations it
// distributes jobs with, the stop it asks for at shut-down, and the handler
// copies its event setters fill. The feed worker is one (see
// tidewell_feed_pool_worker.h); the engine makes its workers through a
// factory, so a program may run the engine with workers of its own.
//
// Threads: the queue operations, RequestStop and Stop may be called from any
// thread; WaitFor from any thread but the worker's own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/tidewell_event_worker.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

class Ttidewell;
class TDbConnWrapper;

// One job for a URL (see TtidewellPoolWorker::AddJob).
struct TJobRequest {
  std::string url;
  int32_t itemId;
  TQueueJobTypes kind;
  WideString folder;
};

class TtidewellPoolWorker {
 public:
  virtual ~TtidewellPoolWorker() = default;

  // A CfeedOperation job for the feed, appended or put at the head.
  virtual void AddFeedJob(int32_t feedId, bool atFront) = 0;
  // A job for a URL at the head of the queue; raises "Invalid URL !" for an
  // empty URL.
  virtual void AddJob(const std::string& url, int32_t itemId, TQueueJobTypes kind,
                      const WideString& targetFolder) = 0;
  // Jobs for URLs at the head of the queue, jobs[0] first: an idle worker
  // starts with it whatever moment it wakes. By default one AddJob each,
  // the last first.
  virtual void AddJobsAtHead(const std::vector<TJobRequest>& jobs) {
    for (auto job = jobs.rbegin(); job != jobs.rend(); ++job) AddJob(job->url, job->itemId, job->kind, job->folder);
  }
  // The jobs queued, the running one included.
  virtual int32_t GetQueueCount() = 0;
  // Whether a job of the kind with a row (item id other than -9999) is
  // queued and not being run by ignoreThreadId (when 1 or more).
  virtual bool IsJobKindQueued(TQueueJobTypes kind, int32_t ignoreThreadId) = 0;
  // The same for the first job with exactly this item id and kind.
  virtual bool IsJobQueued(int32_t itemId, TQueueJobTypes kind, int32_t ignoreThreadId) = 0;
  // Removes the first job with this item id and kind that waits (one being
  // run stays); whether there was one. A worker that cannot do so keeps its
  // jobs where they are.
  virtual bool WithdrawWaitingJob(int32_t /*itemId*/, TQueueJobTypes /*kind*/) { return false; }
  // What the feed job for this item id is being run as now (a list's job
  // runs as CgetOpmlData); CNoJob when it only waits or is not queued, and
  // from a worker that cannot tell.
  virtual TQueueJobTypes RunningFeedJobKind(int32_t /*itemId*/) { return TQueueJobTypes::CNoJob; }

  // Asks the running job to end and drops the rest of the queue.
  virtual void RequestStop() = 0;
  // RequestStop, and the thread ends after the current job.
  virtual void Stop() = 0;
  // Blocks until the thread has ended.
  virtual void WaitFor() = 0;

  // The worker as the engine's event setters see it.
  virtual TtidewellEventWorker& EventWorker() = 0;
  // The worker's own attachment, which the engine points at its database,
  // connects and disconnects with its other connections; nullptr when the
  // worker works on the engine's workers' connection.
  virtual TDbConnWrapper* OwnConnection() { return nullptr; }
};

// Makes the worker of one pool slot (0-based) for the engine; the worker
// runs and waits for jobs from construction.
using TtidewellWorkerFactory = std::function<std::unique_ptr<TtidewellPoolWorker>(Ttidewell& engine, int slot)>;

}  // namespace tidewell
