// SPDX-License-Identifier: MIT
#include "support/trusting_engine.h"

#include <memory>

#include "engine/feeds/tidewell_feed_pool_worker.h"

namespace tidewell::testing {

TtidewellOptions TrustingWorkers(const std::string& caFile) {
  TtidewellOptions options;
  options.workerFactory = [caFile](Ttidewell& engine, int) {
    auto worker = std::make_unique<TtidewellFeedPoolWorker>(engine);
    worker->Worker().SetCaCertificateFile(caFile);
    return std::unique_ptr<TtidewellPoolWorker>(std::move(worker));
  };
  return options;
}

}  // namespace tidewell::testing
