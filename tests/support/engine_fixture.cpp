// SPDX-License-Identifier: MIT
#include "support/engine_fixture.h"

#include <algorithm>
#include <filesystem>

#include "platform/main_loop.h"

namespace tidewell::testing {

using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

EngineFixture::EngineFixture(TtidewellOptions options, bool onServer) : db(std::move(options), onServer) {
  engine.SetOnFeedProcessed([this](uint32_t, int32_t, const std::string& url, int32_t feedId, const WideString&,
                                   int32_t items, TFeedOpType, void*, int32_t, int32_t, TErrorCategory errCat,
                                   const std::string& errMsg, const TDynIntArray& ids) {
    processed.push_back({feedId, items, errCat, errMsg, url, ids});
  });
  engine.SetOnEnclosureDownloaded([this](uint32_t, uint32_t encID, const std::string& url, int32_t,
                                         const std::string&, const WideString& localFileName, TErrorCategory errCat,
                                         const std::string& errMsg) {
    downloaded.push_back({encID, url, localFileName, errCat, errMsg});
  });
  // Every job ends with this event, also one that found its feed unchanged.
  engine.SetOnStopWorking([this](uint32_t, int32_t itemId, const std::string& url, int32_t, TQueueJobTypes kind) {
    ended.push_back({itemId, url, kind});
  });
}

bool EngineFixture::RunUntil(const std::function<bool()>& done) {
  return platform::MainThread().RunUntil(done, kWaitMs);
}

void EngineFixture::Pass(int32_t feedId) {
  const size_t before = ended.size();
  engine.UpdateFeed(feedId);
  // The job stays queued until it ended, and a queued feed is not queued again.
  ASSERT_TRUE(RunUntil([&] { return ended.size() > before && engine.QueuedJobCount() == 0; }));
}

void EngineFixture::RunJob(const std::string& url, TQueueJobTypes kind) {
  const size_t before = ended.size();
  engine.Worker(0)->AddJob(url, 0, kind, u"");
  ASSERT_TRUE(RunUntil([&] { return ended.size() > before && engine.QueuedJobCount() == 0; }));
}

bool EngineFixture::Ended(const std::string& url) const {
  return std::any_of(ended.begin(), ended.end(), [&](const EndedJob& job) { return job.url == url; });
}

bool EngineFixture::Ended(int32_t itemId) const {
  return std::any_of(ended.begin(), ended.end(), [&](const EndedJob& job) { return job.itemId == itemId; });
}

void EngineFixture::ServeDocument(const std::string& path, const std::string& type, const std::string& body) {
  server.Handle(path, [type, body](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", type}}, body));
  });
}

size_t EngineFixture::Fetched(const std::string& target) const {
  size_t count = 0;
  for (const RecordedRequest& request : server.Requests()) count += request.target == target ? 1 : 0;
  return count;
}

const Downloaded* EngineFixture::EventOf(int32_t enclosureId) const {
  for (const Downloaded& d : downloaded)
    if (d.encId == static_cast<uint32_t>(enclosureId)) return &d;
  return nullptr;
}

int32_t EngineFixture::EnclosureOfFeed(int32_t feedId) {
  return static_cast<int32_t>(db.QueryInt64(
      "select e.enclosure_id from enclosures e, articles a where e.article_id=a.id and a.feed_id=" +
      std::to_string(feedId)));
}

std::string EngineFixture::FeedColumn(const std::string& column, int32_t feedId) {
  return db.QueryText("select " + column + " from feeds where feed_id=" + std::to_string(feedId));
}

std::string EngineFixture::EnclosureColumn(const std::string& column, int32_t enclosureId) {
  return db.QueryText("select " + column + " from enclosures where enclosure_id=" + std::to_string(enclosureId));
}

std::vector<std::string> EngineFixture::FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tidewell::testing
