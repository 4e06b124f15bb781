// SPDX-License-Identifier: MIT
#include "tests/engine/feeds/feed_worker_fixture.h"

#include "toolkit/stream.h"

namespace tidewell::feed_worker_testing {

TestFeedWorker& FeedWorkerTest::StartWorker(const std::function<void(TtidewellWorkerHandlers&)>& extra) {
  worker_ = std::make_unique<TestFeedWorker>(&db_.Connection());
  RecordedEvents& e = events_;
  worker_->WorkerEvents().Change([&](TtidewellWorkerHandlers& h) {
    h.OnStartWorking = [&e](uint32_t t, int32_t id, const std::string& url, int32_t n, TQueueJobTypes kind) {
      e.starts.push_back({t, id, url, n, kind});
    };
    h.OnStopWorking = [&e](uint32_t t, int32_t id, const std::string& url, int32_t n, TQueueJobTypes kind) {
      e.stops.push_back({t, id, url, n, kind});
    };
    h.OnFeedProcessed = [&e](uint32_t, int32_t, const std::string& url, int32_t feedId, const WideString&, int32_t,
                             TFeedOpType op, void*, int32_t code, int32_t, TErrorCategory cat, const std::string& msg,
                             const TDynIntArray&) { e.processed.push_back({feedId, url, op, code, cat, msg}); };
    h.OnEnclosureDownloaded = [&e](uint32_t, uint32_t id, const std::string&, int32_t size, const std::string& type,
                                   const WideString& file, TErrorCategory cat, const std::string& msg) {
      e.enclosures.push_back({id, size, type, kt::WideToUtf8(file), cat, msg});
    };
    h.OnArticleWebPageDownLoaded = [&e](uint32_t, int32_t id, const std::string& url, int32_t size,
                                        TErrorCategory cat, const std::string& msg) {
      e.webPages.push_back({id, url, size, cat, msg});
    };
    h.OnRawDataDownloaded = [&e](int32_t, const std::string& url, const std::string& msg, int32_t code,
                                 const std::string& type, int32_t size, const std::string& file,
                                 PHttpRawDataReq req) {
      std::string body;
      if (auto* memory = dynamic_cast<kt::TMemoryStream*>(req->stream)) body = memory->ToString();
      e.rawData.push_back({url, msg, code, type, size, body, file, req->stream != nullptr});
    };
    h.OnCacheTriggerURLRemapSubItemDownload = [&e](int32_t, const std::string& url, int32_t id, int32_t cachedId,
                                                   const std::string& file) {
      e.cached.push_back({url, id, cachedId, file});
    };
    h.OnFatalError = [&e](uint32_t, const std::string& msg, const std::string&, int32_t, TQueueJobTypes) {
      e.fatalErrors.push_back(msg);
    };
    h.OnFeedAutoDiscovery = [&e](const std::string&, const TStrings& urls, const TStrings&) {
      e.discovered.push_back(urls);
    };
    if (extra) extra(h);
  });
  worker_->Start();
  return *worker_;
}

bool FeedWorkerTest::WaitUntil(const std::function<bool()>& done) {
  return platform::MainThread().RunUntil(done, 20000);
}

void FeedWorkerTest::Settle(int ms) {
  platform::MainThread().RunUntil([] { return false; }, ms);
}

void FeedWorkerTest::Serve(const std::string& path, int status, const std::string& contentType,
                           const std::string& body) {
  server_.Handle(path, [=](const testing_support::RecordedRequest&, testing_support::HttpConnection& c) {
    testing_support::HeaderList headers;
    if (!contentType.empty()) headers.push_back({"Content-Type", contentType});
    c.Send(testing_support::TestHttpServer::Response(status, status == 200 ? "OK" : "Not Found", headers, body));
  });
}

}  // namespace tidewell::feed_worker_testing
