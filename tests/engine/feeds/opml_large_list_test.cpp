// SPDX-License-Identifier: MIT
// Generated OPML lists of many feeds, fetched by the engine's own worker from
// a local HTTP server into a real database: the list is filed in committed
// steps, and the list cannot be queued again while its job runs. The
// worker is held at its hand-overs (the events run on this thread while it
// waits) to look at the database part-way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/tidewell.h"
#include "platform/main_loop.h"
#include "support/test_http_server.h"
#include "tests/engine/engine/engine_test_support.h"
#include "toolkit/exception.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

using testing::EngineOnDatabase;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

constexpr int kWaitMs = 120000;

std::string GeneratedList(int from, int count) {
  std::string body = "<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>Big list</title></head><body>";
  for (int i = from; i < from + count; ++i) {
    const std::string n = std::to_string(i);
    body += "<outline text=\"Show " + n + "\" type=\"rss\" xmlUrl=\"http://feeds.example.org/show/" + n + ".xml\"/>";
  }
  return body + "</body></opml>";
}

class OpmlLargeListTest : public ::testing::Test {
 protected:
  OpmlLargeListTest() {
    engine.GetFolders()->SaveAll();
    engine.SetOnStopWorking([this](uint32_t, int32_t, const std::string&, int32_t, TQueueJobTypes) { ++jobsEnded; });
    engine.SetOnFeedProcessed([this](uint32_t, int32_t, const std::string&, int32_t, const WideString&, int32_t,
                                     TFeedOpType, void*, int32_t, int32_t, TErrorCategory,
                                     const std::string& errMsg, const TDynIntArray&) { errors.push_back(errMsg); });
    server.Handle("/list.opml", [this](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "text/xml"}}, body));
    });
  }
  void Fetch(int32_t listId) {
    const int before = jobsEnded;
    engine.UpdateFeed(listId);
    ASSERT_TRUE(platform::MainThread().RunUntil([&] { return jobsEnded > before; }, kWaitMs));
  }
  int64_t OwnFeeds(int32_t listId) {
    return db.QueryInt64("select count(*) from feeds where parentfeed=" + std::to_string(listId));
  }

  TestHttpServer server;
  EngineOnDatabase db;
  Ttidewell& engine = db.Engine();
  std::string body;
  int jobsEnded = 0;
  std::vector<std::string> errors;
};

TEST_F(OpmlLargeListTest, AListBeingMergedIsNotUpdatedAgainAndSaysWhy) {
  body = GeneratedList(0, 3);
  const int32_t listId = engine.AddFeed(u"", server.Url("/list.opml"), u"");
  std::string refusal;
  bool probe = true;
  engine.SetOnFeedsAddToOpml([&](int32_t, int32_t, const std::string&, const WideString&, const TStrings&) {
    if (!probe) return;
    try {
      engine.UpdateFeed(listId);
    } catch (const kt::Exception& e) {
      refusal = e.Message();
    }
  });
  Fetch(listId);
  EXPECT_EQ(refusal, "Feed (" + std::to_string(listId) + ") is being updated now: try again once that update has ended");
  ASSERT_EQ(errors, std::vector<std::string>{});
  EXPECT_EQ(OwnFeeds(listId), 3);
  // Once the job ended the list may be updated again.
  probe = false;
  body = GeneratedList(0, 4);
  Fetch(listId);
  EXPECT_EQ(OwnFeeds(listId), 4);
}

// The list's only feed vanishes while 1,200 new ones arrive: when the
// vanished feed is offered for deletion, the new ones are filed and
// committed (in steps, and the rest before the application is asked, which
// may meanwhile add a feed the list files).
TEST_F(OpmlLargeListTest, AThousandNewFeedsAreCommittedInStepsWhileTheListIsMerged) {
  body = GeneratedList(0, 1);
  const int32_t listId = engine.AddFeed(u"", server.Url("/list.opml"), u"");
  Fetch(listId);
  ASSERT_EQ(OwnFeeds(listId), 1);

  body = GeneratedList(1, 1200);
  int64_t visibleMeanwhile = -1;
  engine.SetOnDeleteFeed([&](int32_t, int32_t, bool) {
    visibleMeanwhile = OwnFeeds(listId);
    return true;
  });
  Fetch(listId);
  ASSERT_EQ(errors, std::vector<std::string>{});
  EXPECT_GE(visibleMeanwhile, 1 + 1000);
  EXPECT_EQ(visibleMeanwhile, 1 + 1200);
  EXPECT_EQ(OwnFeeds(listId), 1 + 1200);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link like 'DELMARKED:%'"), 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds2opmlmapping where opmlid=" + std::to_string(listId)), 1200);
  TFolder* folder = nullptr;
  for (TFolder* sub : engine.GetFolders()->GetRootFolder()->SubFolders->List)
    if (kt::WideToUtf8(sub->GetName()) == "Big list") folder = sub;
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->FilterCount(), 1200);
}

}  // namespace
}  // namespace tidewell
