// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_pool_worker.h"

#include "engine/db/tidewell_db_helper_instance.h"
#include "engine/tidewell.h"

namespace tidewell {

TtidewellFeedPoolWorker::TtidewellFeedPoolWorker(Ttidewell& engine)
    : worker_(std::make_unique<TtidewellWorkerThreadPrAtomRssFeeds>(&engine, &engine.WorkersConnection(),
                                                                    engine.Configuration(), true,
                                                                    Ttidewell::kTimeoutMs)) {
  // The helper is set before the thread runs, so that every job files
  // through the process's one helper.
  if (DbHelperInstance() != nullptr) worker_->SetDbHelper(*DbHelperInstance());
  worker_->SetTransferLimits(engine.TransferLimits());
  worker_->Start();
}

TtidewellWorkerFactory FeedWorkerFactory() {
  return [](Ttidewell& engine, int) { return std::make_unique<TtidewellFeedPoolWorker>(engine); };
}

}  // namespace tidewell
