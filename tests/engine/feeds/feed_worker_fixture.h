// SPDX-License-Identifier: MIT
// The feed worker tests' common ground: a real database with the full
// schema, a real HTTP server on 127.0.0.1, a temporary folder, a worker on
// its own thread, and the events it hands over, recorded on the main thread
// (the test's thread, which pumps the main loop while it waits).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/feeds/tidewell_worker_thread_pr_atom_rss_feeds.h"
#include "platform/main_loop.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"
#include "tests/engine/model/model_test_database.h"

namespace tidewell::feed_worker_testing {

// The worker with the two hooks that the tests supply: the cache folder and
// the feed links found in an HTML page. It records which feed processing
// entry point a job reached.
class TestFeedWorker : public TtidewellWorkerThreadPrAtomRssFeeds {
 public:
  explicit TestFeedWorker(TDbConnWrapper* connection)
      : TtidewellWorkerThreadPrAtomRssFeeds(nullptr, connection, nullptr, true, 55000) {}
  ~TestFeedWorker() override { StopAndWaitFor(); }

  // Hands a made-up transfer result to the worker as its job's answer, on
  // the calling thread. REQUIRES: the worker's thread was not started.
  void Answer(TQueueJobTypes kind, int32_t itemId, TtidewellTrdJobPropClass& result, int phase = kPhaseOther) {
    SetJobType(kind);
    itemId_ = itemId;
    HandleResponse(result, nullptr, phase, nullptr);
  }

  std::string cacheDirectory;
  TStrings discoverable;
  // Runs the worker's own autodiscovery instead of answering discoverable.
  bool realDiscovery = false;
  std::atomic<int> insertParses{0};
  std::atomic<int> updateParses{0};
  std::atomic<int> discoveries{0};

 protected:
  std::string CacheDirectory() const override { return cacheDirectory; }
  void DiscoverFeeds(const std::string& url, kt::TStream& page, TStrings& urls, TStrings& titles) override {
    ++discoveries;
    if (realDiscovery) return TtidewellWorkerThreadPrAtomRssFeeds::DiscoverFeeds(url, page, urls, titles);
    for (const std::string& url : discoverable) {
      urls.push_back(url);
      titles.push_back("Title of " + url);
    }
  }
  void ParseFeedForInsert(int32_t& feedId, WideString& feedTitle, TtidewellTrdJobPropClass& result,
                          int32_t& items) override {
    ++insertParses;
    TtidewellWorkerThreadPrAtomRssFeeds::ParseFeedForInsert(feedId, feedTitle, result, items);
  }
  void ParseFeedForUpdate(TFeedProperty* feedRecord, WideString& feedTitle, TtidewellTrdJobPropClass& result,
                          int32_t& items) override {
    ++updateParses;
    TtidewellWorkerThreadPrAtomRssFeeds::ParseFeedForUpdate(feedRecord, feedTitle, result, items);
  }
};

struct WorkEvent {
  uint32_t threadId;
  int32_t itemId;
  std::string url;
  int32_t itemsInQueue;
  TQueueJobTypes jobType;
};

struct FeedProcessedEvent {
  int32_t feedId;
  std::string url;
  TFeedOpType operation;
  int32_t httpCode;
  TErrorCategory errCat;
  std::string errMsg;
};

struct EnclosureEvent {
  uint32_t encId;
  int32_t size;
  std::string mediaType;
  std::string localFileName;
  TErrorCategory errCat;
  std::string errMsg;
};

struct WebPageEvent {
  int32_t articleId;
  std::string url;
  int32_t size;
  TErrorCategory errCat;
  std::string errMsg;
};

struct RawDataEvent {
  std::string url;
  std::string errorMsg;
  int32_t errorCode;
  std::string contentType;
  int32_t contentSize;
  std::string body;
  std::string fileName;
  bool streamHeld;
};

struct CacheEvent {
  std::string url;
  int32_t articleId;
  int32_t cachedItemId;
  std::string fileName;
};

struct DownloadingEvent {
  int32_t parentItemId;
  int32_t itemId;
};

// What the worker handed over, in order of arrival.
struct RecordedEvents {
  std::vector<WorkEvent> starts;
  std::vector<WorkEvent> stops;
  std::vector<FeedProcessedEvent> processed;
  std::vector<EnclosureEvent> enclosures;
  std::vector<WebPageEvent> webPages;
  std::vector<RawDataEvent> rawData;
  std::vector<CacheEvent> cached;
  std::vector<std::string> fatalErrors;
  std::vector<TStrings> discovered;
  std::vector<DownloadingEvent> downloading;
};

class FeedWorkerTest : public ::testing::Test {
 protected:
  FeedWorkerTest() { platform::MainThread().BindToCurrentThread(); }

  // Makes the worker, connects the recorders, then starts its thread.
  TestFeedWorker& StartWorker(const std::function<void(TtidewellWorkerHandlers&)>& extra = nullptr);
  // Pumps the main loop until done() holds; false after 20 s.
  bool WaitUntil(const std::function<bool()>& done);
  // Pumps for a while, so that anything still coming has arrived.
  void Settle(int ms = 300);

  std::string Url(const std::string& path) const { return server_.Url(path); }
  void Serve(const std::string& path, int status, const std::string& contentType, const std::string& body);

  model_testing::ModelTestDatabase db_;
  testing_support::TempFolder folder_;
  testing_support::TestHttpServer server_;
  RecordedEvents events_;
  std::unique_ptr<TestFeedWorker> worker_;  // last: it goes first
};

}  // namespace tidewell::feed_worker_testing
