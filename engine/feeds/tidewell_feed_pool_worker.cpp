// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_pool_worker.h"

#include "engine/db/tidewell_db_helper_instance.h"
#include "engine/tidewell.h"

namespace tidewell {

namespace {

// A further attachment like the engine's workers' connection, connected
// when that one is.
std::unique_ptr<TDbConnWrapper> AttachmentLike(const TDbConnWrapper& model) {
  auto attachment = std::make_unique<TDbConnWrapper>();
  attachment->SetDBFileName(model.DBFileName());
  attachment->SetUser(model.User());
  attachment->SetPassword(model.Password());
  attachment->SetCharSet(model.CharSet());
  attachment->SetSQLDialect(model.SQLDialect());
  if (model.Connected()) attachment->Connect();
  return attachment;
}

}  // namespace

TtidewellFeedPoolWorker::TtidewellFeedPoolWorker(Ttidewell& engine)
    : attachment_(AttachmentLike(engine.WorkersConnection())),
      worker_(std::make_unique<TtidewellWorkerThreadPrAtomRssFeeds>(&engine, attachment_.get(),
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
