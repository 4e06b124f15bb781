// SPDX-License-Identifier: MIT
// A stand-in for the feed worker in the processor tests: the worker's
// fields, its transaction and statement on a fresh database with the whole
// schema, the insert helper, next-update scheduling, and counters of the
// events the processor asks the worker to hand over.
//
//   FeedTestWorker worker;
//   worker.Insert(worker.ReadData("rss20.xml"), "http://harbour.example/rss");
//   int32_t feedId = worker.itemId;
//   worker.Update(feedId, body);                    // the stored row as record
//   EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 3);
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/db/tidewell_db_helper.h"
#include "engine/feeds/tidewell_db_schedule_store.h"
#include "engine/feeds/tidewell_feed_processor.h"
#include "engine/feeds/tidewell_update_scheduler.h"
#include "engine/model/model_test_database.h"
#include "engine/net/tidewell_trd_job_prop_class.h"

namespace feeds_testing {

class FeedTestWorker {
 public:
  FeedTestWorker();
  ~FeedTestWorker();

  // The folder tests/engine/feeds/data, and the bytes of a file in it.
  static std::string DataFolder();
  static std::string ReadData(const std::string& name);
  // A job result with the code, the body and the given response values.
  static std::unique_ptr<tidewell::TtidewellTrdJobPropClass> MakeJob(const std::string& url, int32_t code,
                                                                     const std::string& body);

  // Adds a new feed from body (itemId becomes its id, or -1).
  void Insert(const std::string& body, const std::string& url, int32_t code = 200);
  // Processes body for the stored feed, with its row loaded as the record.
  void Update(int32_t feedId, const std::string& body, int32_t code = 200);
  // Runs a job through the processor (for tests that build their own job).
  void RunUpdate(int32_t feedId, tidewell::TtidewellTrdJobPropClass& job);
  // Clears the per-job values, as the worker does after each job.
  void ResetJob();

  model_testing::ModelTestDatabase db;
  tidewell::TTranWrapper transaction;
  tidewell::TQueryWrapper query;
  tidewell::TtidewellDbHelper helper;
  tidewell::TtidewellDbScheduleStore scheduleStore;
  tidewell::TtidewellUpdateScheduler scheduler;

  // The worker's fields.
  int32_t defaultArchiveSize = 0;
  int32_t itemId = 0;
  std::string url;
  std::string contentType = "application/rss+xml";
  std::string userName;
  std::string password;
  bool commentFeed = false;
  std::u16string feedTitle;
  int32_t items = 0;
  tidewell::TFeedOpType feedOperation = tidewell::TFeedOpType::cunknown;
  int32_t deletedItems = 0;
  tidewell::TErrorCategory errorCategory = tidewell::TErrorCategory::noErrors;
  std::string errorText;
  std::string notice;
  tidewell::TDynIntArray articleIds;
  int32_t articleIdCount = -1;
  std::vector<std::string> articleKeys;
  int32_t commentFeedId = 0;
  int32_t parentArticleId = 0;
  std::string xmlBase;
  int16_t whitespaceSetting = 0;
  bool reencode = false;
  bool stopRequested = false;

  // Events asked for.
  int feedProcessed = 0;
  int noNeedForUpdate = 0;
  int commentFeedsCreated = 0;
  std::vector<tidewell::TDynIntArray> idsBeforeDelete;

  tidewell::TtidewellFeedContext context;
  tidewell::TtidewellFeedProcessor processor;
};

}  // namespace feeds_testing
