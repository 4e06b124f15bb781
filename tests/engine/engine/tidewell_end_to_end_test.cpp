// SPDX-License-Identifier: MIT
// The engine with its own feed workers, a real database and a real HTTP
// server: a feed is subscribed, fetched and stored, and its enclosure
// downloaded.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/tidewell.h"
#include "engine_test_support.h"
#include "platform/file_ops.h"
#include "platform/main_loop.h"
#include "support/test_http_server.h"
#include "toolkit/exception.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

using testing::EngineOnDatabase;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

constexpr int kWaitMs = 30000;
const std::string kAudio = "ID3 not really an episode, but bytes all the same";

struct Processed {
  int32_t feedId;
  int32_t items;
  TErrorCategory errCat;
  std::string errMsg;
};

struct Downloaded {
  uint32_t encId;
  std::string url;
  WideString localFileName;
  TErrorCategory errCat;
  std::string errMsg;
};

class EngineEndToEndTest : public ::testing::Test {
 protected:
  explicit EngineEndToEndTest(bool onServer = false) : db({}, onServer) {
    engine.SetOnFeedProcessed([this](uint32_t, int32_t, const std::string&, int32_t feedId, const WideString&,
                                     int32_t items, TFeedOpType, void*, int32_t, int32_t, TErrorCategory errCat,
                                     const std::string& errMsg, const TDynIntArray&) {
      processed.push_back({feedId, items, errCat, errMsg});
    });
    engine.SetOnEnclosureDownloaded([this](uint32_t, uint32_t encID, const std::string& url, int32_t,
                                           const std::string&, const WideString& localFileName,
                                           TErrorCategory errCat, const std::string& errMsg) {
      downloaded.push_back({encID, url, localFileName, errCat, errMsg});
    });
  }
  void ServeFeed() {
    const std::string rss =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<rss version=\"2.0\"><channel><title>Harbour radio</title><link>http://example.org/</link>"
        "<description>Episodes</description>"
        "<item><title>Episode one</title><link>http://example.org/1</link><guid>ep1</guid>"
        "<enclosure url=\"" + server.Url("/media/ep1.mp3") + "\" length=\"" + std::to_string(kAudio.size()) +
        "\" type=\"audio/mpeg\"/></item>"
        "</channel></rss>";
    server.Handle("/feed.xml", [rss](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, rss));
    });
    server.Handle("/media/ep1.mp3", [](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "audio/mpeg"}}, kAudio));
    });
  }
  bool RunUntil(const std::function<bool()>& done) { return platform::MainThread().RunUntil(done, kWaitMs); }

  TestHttpServer server;
  EngineOnDatabase db;
  Ttidewell& engine = db.Engine();
  std::vector<Processed> processed;
  std::vector<Downloaded> downloaded;
};

// Once with the embedded engine, once through a Firebird server.
class EngineEndToEndOnBothTest : public ::testing::WithParamInterface<bool>, public EngineEndToEndTest {
 protected:
  EngineEndToEndOnBothTest() : EngineEndToEndTest(GetParam()) {}
};

TEST_P(EngineEndToEndOnBothTest, ASubscribedFeedIsFetchedStoredAndItsEnclosureDownloaded) {
  ServeFeed();
  const int32_t feedId = engine.AddFeed(u"", server.Url("/feed.xml"), u"");
  ASSERT_GT(feedId, 0);
  engine.UpdateFeed(feedId);
  ASSERT_TRUE(RunUntil([&] { return !processed.empty(); }));
  EXPECT_EQ(processed[0].feedId, feedId);
  EXPECT_EQ(processed[0].errCat, TErrorCategory::noErrors) << processed[0].errMsg;
  EXPECT_EQ(processed[0].items, 1);
  const std::string feedClause = " where feed_id=" + std::to_string(feedId);
  EXPECT_EQ(db.QueryInt64("select count(*) from articles" + feedClause), 1);
  EXPECT_EQ(db.QueryInt64("select lasthttpcode from feeds" + feedClause), 200);
  const int32_t enclosureId = static_cast<int32_t>(
      db.QueryInt64("select e.enclosure_id from enclosures e, articles a where e.article_id=a.id and a.feed_id=" +
                    std::to_string(feedId)));
  ASSERT_GT(enclosureId, 0);

  // The application makes the folder; the engine only fills it.
  const std::string target = db.Folder().File("episodes/");
  std::filesystem::create_directories(target);
  engine.DownloadEnclosures({enclosureId}, kt::Utf8ToWide(target));
  ASSERT_TRUE(RunUntil([&] { return !downloaded.empty(); }));
  const Downloaded& d = downloaded[0];
  EXPECT_EQ(d.encId, static_cast<uint32_t>(enclosureId));
  EXPECT_EQ(d.errCat, TErrorCategory::noErrors) << d.errMsg;
  EXPECT_EQ(d.url, server.Url("/media/ep1.mp3"));
  const std::string file = kt::WideToUtf8(d.localFileName);
  ASSERT_TRUE(platform::FileExists(file)) << file;
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), kAudio);
  EXPECT_EQ(db.QueryInt64("select download_status from enclosures where enclosure_id=" + std::to_string(enclosureId)),
            2);
  // The job leaves its queue once it has ended.
  EXPECT_TRUE(RunUntil([&] { return engine.QueuedJobCount() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(EmbeddedAndServer, EngineEndToEndOnBothTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Server" : "Embedded";
                         });

TEST_F(EngineEndToEndTest, AnEnclosureGoneFromTheServerIsNotQueuedAgainByTheReset) {
  ServeFeed();
  server.Handle("/media/ep1.mp3", [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(404, "Not Found", {{"Content-Type", "text/plain"}}, "gone"));
  });
  const int32_t feedId = engine.AddFeed(u"", server.Url("/feed.xml"), u"");
  engine.UpdateFeed(feedId);
  ASSERT_TRUE(RunUntil([&] { return !processed.empty(); }));
  const int32_t enclosureId = static_cast<int32_t>(db.QueryInt64("select max(enclosure_id) from enclosures"));
  ASSERT_GT(enclosureId, 0);
  const std::string target = db.Folder().File("episodes/");
  std::filesystem::create_directories(target);
  engine.DownloadEnclosures({enclosureId}, kt::Utf8ToWide(target));
  ASSERT_TRUE(RunUntil([&] { return !downloaded.empty(); }));
  EXPECT_NE(downloaded[0].errCat, TErrorCategory::noErrors);
  ASSERT_TRUE(RunUntil([&] { return engine.QueuedJobCount() == 0; }));
  const std::string row = " from enclosures where enclosure_id=" + std::to_string(enclosureId);
  EXPECT_EQ(db.QueryInt64("select download_status" + row), 3);
  EXPECT_EQ(db.QueryInt64("select lasthttpcode" + row), 404);
  engine.ResetEnclosureDownloads();
  EXPECT_EQ(db.QueryInt64("select download_status" + row), 3);
  engine.ResetEnclosureDownloads({enclosureId});
  EXPECT_EQ(db.QueryInt64("select download_status" + row), 0);
}

TEST_F(EngineEndToEndTest, TheUpdateTimerFetchesADueFeed) {
  ServeFeed();
  const int32_t feedId = engine.AddFeed(u"", server.Url("/feed.xml"), u"");
  std::vector<int32_t> ticks;
  engine.SetOnSmrtUpdateTimer([&](int32_t count) { ticks.push_back(count); });
  engine.SetSmartUpdateActive(true);
  ASSERT_TRUE(RunUntil([&] { return !processed.empty(); }));
  engine.SetSmartUpdateActive(false);
  EXPECT_EQ(ticks, std::vector<int32_t>{1});
  EXPECT_EQ(processed[0].feedId, feedId);
  EXPECT_EQ(processed[0].errCat, TErrorCategory::noErrors) << processed[0].errMsg;
}

TEST(EngineShutDownTest, AWorkerInAStalledTransferIsStoppedAndReportsNothing) {
  TestHttpServer server;
  std::atomic<bool> requested{false};
  server.Handle("/stalled.xml", [&](const RecordedRequest&, HttpConnection& c) {
    requested = true;
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 100000\r\n\r\n<rss>");
    c.Wait(120000);
  });
  std::vector<int32_t> processed;
  {
    EngineOnDatabase db;
    Ttidewell& engine = db.Engine();
    engine.SetOnFeedProcessed([&](uint32_t, int32_t, const std::string&, int32_t feedId, const WideString&, int32_t,
                                  TFeedOpType, void*, int32_t, int32_t, TErrorCategory, const std::string&,
                                  const TDynIntArray&) { processed.push_back(feedId); });
    engine.UpdateFeed(engine.AddFeed(u"", server.Url("/stalled.xml"), u""));
    ASSERT_TRUE(platform::MainThread().RunUntil([&] { return requested.load(); }, kWaitMs));
    EXPECT_TRUE(engine.AnyThreadWorking());
    try {
      engine.SetOnStartWorking([](uint32_t, int32_t, const std::string&, int32_t, TQueueJobTypes) {});
      ADD_FAILURE() << "a handler was changed while a worker works";
    } catch (const kt::Exception& e) {
      EXPECT_EQ(e.Message(), "All threads must finish their job first");
    }
    int32_t reports = 0;
    engine.StopThreads(true, [&](int32_t, int32_t) { ++reports; });
    EXPECT_EQ(reports, 5);
    EXPECT_EQ(engine.ThreadCount(), -1);
  }
  platform::MainThread().Pump();
  EXPECT_EQ(processed, std::vector<int32_t>{});
}

}  // namespace
}  // namespace tidewell
