// SPDX-License-Identifier: MIT
#include "feed_test_worker.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "engine/model/feed_property.h"
#include "engine/model/feeds.h"

namespace feeds_testing {

using namespace tidewell;

FeedTestWorker::FeedTestWorker()
    : transaction(&db.Connection()), scheduleStore(transaction, query), scheduler(scheduleStore) {
  query.SetTransaction(&transaction);
  scheduler.Options().stopRequested = [this] { return stopRequested; };
  context.connection = &db.Connection();
  // As through a server, so that the statements of several articles are
  // what these tests exercise; the engine's own tests run one to a statement.
  context.articlesPerStatement = 4;
  context.transaction = &transaction;
  context.query = &query;
  context.dbHelper = &helper;
  context.threadId = 77;
  context.defaultArchiveSize = &defaultArchiveSize;
  context.itemId = &itemId;
  context.url = &url;
  context.contentType = &contentType;
  context.userName = &userName;
  context.password = &password;
  context.commentFeed = &commentFeed;
  context.feedTitle = &feedTitle;
  context.items = &items;
  context.feedOperation = &feedOperation;
  context.deletedItems = &deletedItems;
  context.errorCategory = &errorCategory;
  context.errorText = &errorText;
  context.notice = &notice;
  context.articleIds = &articleIds;
  context.articleIdCount = &articleIdCount;
  context.articleKeys = &articleKeys;
  context.commentFeedId = &commentFeedId;
  context.parentArticleId = &parentArticleId;
  context.xmlBase = &xmlBase;
  context.whitespaceSetting = &whitespaceSetting;
  context.reencode = &reencode;
  context.StopRequested = [this] { return stopRequested; };
  context.Terminated = [] { return false; };
  context.SyncFeedProcessed = [this] { ++feedProcessed; };
  context.SyncNoNeedForUpdate = [this] { ++noNeedForUpdate; };
  context.SyncNewCommentFeedCreated = [this] { ++commentFeedsCreated; };
  context.OnNotArticleIdsBeforeDelete = [this](uint32_t, int32_t, const TDynIntArray& ids) {
    idsBeforeDelete.push_back(ids);
  };
  context.ScheduleNextUpdate = [this](int32_t feedId, bool useInterval, int32_t code) {
    scheduler.ScheduleNextUpdate(feedId, useInterval, code);
  };
  context.ComputeAdaptiveInterval = [this](int32_t feedId, TDateTime& newest) {
    return scheduler.ComputeAdaptiveInterval(feedId, newest);
  };
}

FeedTestWorker::~FeedTestWorker() {
  query.Close();
  if (transaction.InTransaction()) transaction.Rollback();
}

std::string FeedTestWorker::DataFolder() { return std::string(TIDEWELL_TESTS_DIR) + "/engine/feeds/data"; }

std::string FeedTestWorker::ReadData(const std::string& name) {
  std::ifstream file(DataFolder() + "/" + name, std::ios::binary);
  if (!file) throw std::runtime_error("missing test file " + name);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::unique_ptr<TtidewellTrdJobPropClass> FeedTestWorker::MakeJob(const std::string& url, int32_t code,
                                                                  const std::string& body) {
  auto job = std::make_unique<TtidewellTrdJobPropClass>(url, nullptr, u"", TQueueJobTypes::CfeedOperation);
  job->httpCode = code;
  job->finalUrl = url;
  if (!body.empty()) job->Stream()->Write(body.data(), static_cast<int64_t>(body.size()));
  job->Stream()->SetPosition(0);
  return job;
}

void FeedTestWorker::ResetJob() {
  items = 0;
  deletedItems = 0;
  errorCategory = TErrorCategory::noErrors;
  errorText.clear();
  notice.clear();
  feedTitle.clear();
  articleIds.assign(255, 0);
  articleIdCount = 0;
  feedProcessed = noNeedForUpdate = 0;
}

void FeedTestWorker::Insert(const std::string& body, const std::string& feedUrl, int32_t code) {
  ResetJob();
  itemId = 0;
  url = feedUrl;
  feedOperation = TFeedOpType::cInsert;
  auto job = MakeJob(feedUrl, code, body);
  processor.ParseFeedForInsert(context, *job);
}

void FeedTestWorker::Update(int32_t feedId, const std::string& body, int32_t code) {
  auto job = MakeJob(url.empty() ? "http://feed.example/rss" : url, code, body);
  RunUpdate(feedId, *job);
}

void FeedTestWorker::RunUpdate(int32_t feedId, TtidewellTrdJobPropClass& job) {
  ResetJob();
  itemId = feedId;
  feedOperation = TFeedOpType::cUpdate;
  if (url.empty()) url = job.url;
  TFeeds feeds(&db.Connection());
  feeds.Options = 5;
  feeds.LoadById(feedId, "", 0, 0);
  if (feeds.GetCount() != 1) throw std::runtime_error("feed row not found");
  processor.ParseFeedForUpdate(context, *feeds.GetItem(0), job);
}

}  // namespace feeds_testing
