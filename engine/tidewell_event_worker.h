// SPDX-License-Identifier: MIT
// What the engine's event setters need of a worker: whether it works, and
// its copies of the handlers. The engine's feed worker implements it.
#pragma once

#include "engine/tidewell_worker_events.h"

namespace tidewell {

class TtidewellEventWorker {
 public:
  virtual ~TtidewellEventWorker() = default;

  // Any thread. Whether the worker is between taking a job and its end.
  virtual bool GetWorking() = 0;
  // The worker's copies of the handlers it fires; they live as long as the
  // worker.
  virtual TtidewellWorkerEvents& WorkerEvents() = 0;
};

}  // namespace tidewell
