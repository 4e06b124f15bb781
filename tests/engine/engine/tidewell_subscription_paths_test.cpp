// SPDX-License-Identifier: MIT
// Subscriptions whose address does not lead straight to a feed, and
// downloads that do not end in a file, with the engine's own workers, a real
// database and a real HTTP server: moved feeds, HTML pages, OPML lists given
// as feeds (also across a restart), redirected enclosures and downloads cut
// short by the end of the process.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/tidewell.h"
#include "platform/main_loop.h"
#include "support/engine_fixture.h"
#include "support/firebird_test_database.h"
#include "support/test_http_server.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

using testing_support::FirebirdTestDatabase;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

constexpr int kWaitMs = 30000;

using testing::Downloaded;
using testing::Processed;

std::string Rss(const std::string& title, const std::string& items) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><title>" + title +
         "</title><link>http://example.org/</link><description>d</description>" + items + "</channel></rss>";
}

std::string Opml(const std::vector<std::string>& feedUrls) {
  std::string outlines;
  for (size_t i = 0; i < feedUrls.size(); ++i)
    outlines += "<outline text=\"Feed " + std::to_string(i) + "\" type=\"rss\" xmlUrl=\"" + feedUrls[i] + "\"/>";
  return "<?xml version=\"1.0\"?><opml version=\"1.1\"><head><title>Podcasts</title></head><body>" + outlines +
         "</body></opml>";
}

class SubscriptionPathsTest : public ::testing::Test {
 protected:
  SubscriptionPathsTest() {
    StartEngine();
    server.Handle("/feed.xml", [](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}},
                                      Rss("Moved", "<item><title>One</title><guid>one</guid></item>")));
    });
  }
  ~SubscriptionPathsTest() override { engine.reset(); }

  void StartEngine() {
    engine = std::make_unique<Ttidewell>();
    engine->SetDbFilePath(database.Path());
    engine->SetConnected(true);
    std::string text;
    engine->CreateTables(text);
    engine->SetOnFeedProcessed([this](uint32_t, int32_t, const std::string& url, int32_t feedId, const WideString&,
                                      int32_t items, TFeedOpType, void*, int32_t, int32_t, TErrorCategory errCat,
                                      const std::string& errMsg, const TDynIntArray& ids) {
      processed.push_back({feedId, items, errCat, errMsg, url, ids});
    });
    engine->SetOnFeedAutoDiscovery([this](const std::string&, const TStrings& urls, const TStrings&) {
      discovered.insert(discovered.end(), urls.begin(), urls.end());
    });
    engine->SetOnEnclosureDownloaded([this](uint32_t, uint32_t encId, const std::string& url, int32_t,
                                            const std::string&, const WideString& localFileName,
                                            TErrorCategory errCat, const std::string& errMsg) {
      downloaded.push_back({encId, url, localFileName, errCat, errMsg});
    });
  }

  void Serve(const std::string& path, int status, const std::string& type, const std::string& body,
             const std::string& location = "") {
    server.Handle(path, [=](const RecordedRequest&, HttpConnection& c) {
      testing_support::HeaderList headers{{"Content-Type", type}};
      if (!location.empty()) headers.push_back({"Location", location});
      c.Send(TestHttpServer::Response(status, status == 200 ? "OK" : "Elsewhere", headers, body));
    });
  }

  // Subscribes the address and runs its update to the end.
  int32_t SubscribeAndUpdate(const std::string& path) {
    const int32_t feedId = engine->AddFeed(u"Feed", server.Url(path), u"");
    Update(feedId);
    return feedId;
  }
  void Update(int32_t feedId) {
    engine->UpdateFeed(feedId);
    ASSERT_TRUE(platform::MainThread().RunUntil([&] { return engine->QueuedJobCount() == 0; }, kWaitMs));
  }

  std::string Text(const std::string& sql) {
    std::string value;
    testing_support::RunStatement(database.Connection(), sql, [&](TQueryWrapper& q) {
      if (!q.Eof() && !q.Fields(0).IsNull()) value = q.Fields(0).AsString();
    });
    return value;
  }
  int64_t Number(const std::string& sql) {
    const std::string text = Text(sql);
    return text.empty() ? 0 : std::stoll(text);
  }
  std::string FeedColumn(const std::string& column, int32_t feedId) {
    return Text("select " + column + " from feeds where feed_id=" + std::to_string(feedId));
  }

  FirebirdTestDatabase database{16384};
  TestHttpServer server;
  std::unique_ptr<Ttidewell> engine;
  std::vector<Processed> processed;
  std::vector<std::string> discovered;
  std::vector<Downloaded> downloaded;
};

TEST_F(SubscriptionPathsTest, APermanentRedirectIsStoredAfterTheFetchATemporaryOneIsNot) {
  Serve("/moved.xml", 301, "text/plain", "", server.Url("/feed.xml"));
  Serve("/visiting.xml", 302, "text/plain", "", server.Url("/feed.xml"));
  Serve("/broken-move.xml", 301, "text/plain", "", server.Url("/missing.xml"));
  const int32_t moved = SubscribeAndUpdate("/moved.xml");
  const int32_t visiting = SubscribeAndUpdate("/visiting.xml");
  const int32_t broken = SubscribeAndUpdate("/broken-move.xml");
  EXPECT_EQ(FeedColumn("link", moved), server.Url("/feed.xml"));
  EXPECT_EQ(FeedColumn("link", visiting), server.Url("/visiting.xml"));
  EXPECT_EQ(FeedColumn("link", broken), server.Url("/broken-move.xml")) << "a move that fails is not followed";
  Update(moved);
  EXPECT_EQ(server.RequestCount("/moved.xml"), 1u) << "the next fetch goes to the new address";
}

// One feed under two spellings of its address, or under an address that now
// answers 301 to another subscription's (also at another place, where the
// credentials do not go), is one subscription: its episodes are stored
// once, and the feed whose address moved leaves timed updates.
TEST_F(SubscriptionPathsTest, OneFeedUnderTwoAddressesIsStoredOnce) {
  TestHttpServer v6("::1");
  const std::string item = Rss("Show", "<item><title>One</title><guid>one</guid></item>");
  for (const char* path : {"/~show/feed.xml", "/%7Eshow/feed.xml", "/show/feed.xml", "/new.xml"})
    Serve(path, 200, "application/rss+xml", item);
  v6.Handle("/feed.xml", [item](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, item));
  });
  Serve("/old.xml", 301, "text/plain", "", server.Url("/new.xml"));
  Serve("/old-v6.xml", 301, "text/plain", "", v6.Url("/feed.xml"));
  const std::string v6Long = "http://[0:0:0:0:0:0:0:1]:" + v6.Url("").substr(v6.Url("").rfind(':') + 1);
  const struct {
    std::string first, second;
  } rows[] = {
      {server.Url("/~show/feed.xml"), server.Url("/%7Eshow/feed.xml")},
      {server.Url("/show/feed.xml"), server.Url("/a/../show/./feed.xml")},
      {v6.Url("/feed.xml"), v6Long + "/feed.xml"},
      {server.Url("/new.xml"), server.Url("/old.xml")},
      {v6.Url("/feed.xml"), "http://ann:secret@" + server.Url("/old-v6.xml").substr(7)},
  };
  for (const auto& row : rows) {
    const int32_t first = engine->AddFeed(u"Feed", row.first, u"");
    Update(first);
    const int32_t second = engine->AddFeed(u"Feed", row.second, u"");
    Update(second);
    Update(second);
    const std::string both = "(" + std::to_string(first) + "," + std::to_string(second) + ")";
    EXPECT_EQ(Number("select count(*) from articles where feed_id in " + both), 1) << row.second;
    if (second != first) {
      EXPECT_EQ(FeedColumn("skipfeed", second), "1") << row.second;
    }
    EXPECT_EQ(FeedColumn("username_", first), "") << "credentials stay at their place: " << row.second;
  }
  // A feed added by its address alone is known under its other spelling.
  const int64_t feeds = Number("select count(*) from feeds");
  engine->Worker(0)->AddJob(v6Long + "/feed.xml", 0, TQueueJobTypes::CfeedOperation, u"");
  ASSERT_TRUE(platform::MainThread().RunUntil([&] { return engine->QueuedJobCount() == 0; }, kWaitMs));
  EXPECT_EQ(Number("select count(*) from feeds"), feeds);
}

TEST_F(SubscriptionPathsTest, AnHtmlPageGivenAsAFeedIsReplacedByTheFirstFeedItAnnounces) {
  Serve("/page.html", 200, "text/html; charset=utf-8",
        "<html><head><title>Show</title>"
        "<link rel=\"alternate\" type=\"application/rss+xml\" title=\"Main\" href=\"/feed.xml\">"
        "<link rel=\"alternate\" type=\"application/atom+xml\" title=\"Atom\" href=\"/atom.xml\">"
        "</head><body>Episodes</body></html>");
  Serve("/plain.html", 200, "text/html", "<html><head><title>Nothing</title></head><body>none</body></html>");
  const int32_t page = SubscribeAndUpdate("/page.html");
  EXPECT_EQ(discovered, (std::vector<std::string>{server.Url("/feed.xml"), server.Url("/atom.xml")}));
  EXPECT_EQ(FeedColumn("link", page), server.Url("/feed.xml"));
  processed.clear();
  Update(page);
  ASSERT_EQ(processed.size(), 1u);
  EXPECT_EQ(processed[0].errCat, TErrorCategory::noErrors) << processed[0].errMsg;
  EXPECT_EQ(Number("select count(*) from articles where feed_id=" + std::to_string(page)), 1);
  // A feed that brought its document once keeps its address when its server
  // answers with a page for a while.
  Serve("/feed.xml", 200, "text/html",
        "<html><head><link rel=\"alternate\" type=\"application/rss+xml\" href=\"/other.xml\"></head></html>");
  Update(page);
  EXPECT_EQ(FeedColumn("link", page), server.Url("/feed.xml"));

  processed.clear();
  const int32_t plain = SubscribeAndUpdate("/plain.html");
  ASSERT_EQ(processed.size(), 1u);
  EXPECT_EQ(processed[0].feedId, plain);
  EXPECT_NE(processed[0].errCat, TErrorCategory::noErrors);
  EXPECT_EQ(processed[0].errMsg.find("No RSS URLs found !"), 0u) << processed[0].errMsg;
  EXPECT_EQ(FeedColumn("link", plain), server.Url("/plain.html"));
}

// Only the web's own schemes are taken from a page: any other link is as
// good as none, and the subscription keeps its address.
TEST_F(SubscriptionPathsTest, APageAnnouncingOnlyNonWebFeedsIsAFailedDiscovery) {
  const std::string others =
      "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"file:///etc/passwd\">"
      "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"ftp://127.0.0.1/feed.xml\">"
      "<link rel=\"alternate\" type=\"application/atom+xml\" href=\"gopher://127.0.0.1/1/feed\">";
  Serve("/others.html", 200, "text/html", "<html><head>" + others + "</head><body>x</body></html>");
  Serve("/mixed.html", 200, "text/html",
        "<html><head>" + others + "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"/feed.xml\">" +
            "</head><body>x</body></html>");
  const int32_t refused = SubscribeAndUpdate("/others.html");
  ASSERT_EQ(processed.size(), 1u);
  EXPECT_NE(processed[0].errCat, TErrorCategory::noErrors);
  EXPECT_EQ(processed[0].errMsg.find("No RSS URLs found !"), 0u) << processed[0].errMsg;
  EXPECT_EQ(FeedColumn("link", refused), server.Url("/others.html"));
  EXPECT_TRUE(discovered.empty());

  const int32_t mixed = SubscribeAndUpdate("/mixed.html");
  EXPECT_EQ(discovered, (std::vector<std::string>{server.Url("/feed.xml")}));
  EXPECT_EQ(FeedColumn("link", mixed), server.Url("/feed.xml"));
}

TEST_F(SubscriptionPathsTest, AnOpmlListGivenAsAFeedIsASubscriptionListAlsoAfterARestart) {
  std::string list = Opml({server.Url("/a.xml"), server.Url("/b.xml")});
  server.Handle("/list.opml", [&list](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "text/x-opml"}}, list));
  });
  const int32_t listId = SubscribeAndUpdate("/list.opml");
  EXPECT_EQ(FeedColumn("type_", listId), "OPML");
  EXPECT_EQ(Number("select count(*) from folders where parentFolder=0 and foldername='*'"), 1);
  EXPECT_EQ(Number("select count(*) from feeds where parentfeed=" + std::to_string(listId)), 2);
  EXPECT_EQ(Number("select count(*) from sqlfilters where parent_node=0 or parent_node is null"), 2);
  for (const Processed& p : processed) EXPECT_EQ(p.errCat, TErrorCategory::noErrors) << p.errMsg;

  // A new run reads the tree back and merges the changed list into it.
  engine.reset();
  StartEngine();
  ASSERT_EQ(engine->GetFolders()->GetRootFolder()->SubFolderCount(), 1);
  TFolder* listFolder = engine->GetFolders()->GetRootFolder()->GetSubFolder(0);
  EXPECT_EQ(listFolder->Access, listId);
  EXPECT_EQ(listFolder->FilterCount(), 2);
  list = Opml({server.Url("/a.xml"), server.Url("/b.xml"), server.Url("/c.xml")});
  Update(listId);
  EXPECT_EQ(Number("select count(*) from feeds where parentfeed=" + std::to_string(listId)), 3);
  EXPECT_EQ(listFolder->FilterCount(), 3);
  EXPECT_EQ(Number("select count(*) from sqlfilters where parent_node=0 or parent_node is null"), 3);
  EXPECT_EQ(Number("select count(*) from folders"), 2);
}

TEST_F(SubscriptionPathsTest, AnEnclosureBehindARedirectLoopFailsAndLeavesNoFile) {
  Serve("/loop.mp3", 302, "text/plain", "", server.Url("/loop.mp3"));
  Serve("/episodes.xml", 200, "application/rss+xml",
        Rss("Loop", "<item><title>Ep</title><guid>ep</guid><enclosure url=\"" + server.Url("/loop.mp3") +
                        "\" length=\"10\" type=\"audio/mpeg\"/></item>"));
  SubscribeAndUpdate("/episodes.xml");
  const int32_t enclosure = static_cast<int32_t>(Number("select max(enclosure_id) from enclosures"));
  ASSERT_GT(enclosure, 0);
  const std::string target = database.Folder().File("episodes/");
  std::filesystem::create_directories(target);
  engine->DownloadEnclosures({enclosure}, kt::Utf8ToWide(target));
  ASSERT_TRUE(platform::MainThread().RunUntil([&] { return engine->QueuedJobCount() == 0; }, kWaitMs));
  ASSERT_EQ(downloaded.size(), 1u);
  EXPECT_EQ(downloaded[0].errCat, TErrorCategory::ErrHttpGet) << downloaded[0].errMsg;
  EXPECT_EQ(downloaded[0].errMsg.find("Enclosure download failed !\r\n"), 0u) << downloaded[0].errMsg;
  const std::string row = " from enclosures where enclosure_id=" + std::to_string(enclosure);
  EXPECT_EQ(Number("select download_status" + row), 3);
  EXPECT_EQ(Number("select lasthttpcode" + row), 302);
  EXPECT_EQ(Text("select filelocation" + row), "");
  EXPECT_TRUE(std::filesystem::is_empty(target));
}

TEST_F(SubscriptionPathsTest, ADownloadCutShortByTheEndOfTheProcessNamesNoFileInTheNextRun) {
  server.Handle("/slow.mp3", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 100000\r\n\r\n");
    while (c.Send(std::string(100, 'x')) && c.Wait(50)) {
    }
  });
  Serve("/episodes.xml", 200, "application/rss+xml",
        Rss("Slow", "<item><title>Ep</title><guid>ep</guid><enclosure url=\"" + server.Url("/slow.mp3") +
                        "\" length=\"100000\" type=\"audio/mpeg\"/></item>"));
  SubscribeAndUpdate("/episodes.xml");
  const int32_t enclosure = static_cast<int32_t>(Number("select max(enclosure_id) from enclosures"));
  const std::string row = " from enclosures where enclosure_id=" + std::to_string(enclosure);
  const std::string target = database.Folder().File("episodes/");
  std::filesystem::create_directories(target);
  engine->DownloadEnclosures({enclosure}, kt::Utf8ToWide(target));
  ASSERT_TRUE(platform::MainThread().RunUntil([&] { return Number("select download_status" + row) == 1; }, kWaitMs));
  const std::string partial = Text("select filelocation" + row);
  ASSERT_FALSE(partial.empty());
  engine.reset();
  EXPECT_FALSE(std::filesystem::exists(partial)) << "the worker removes its partial file when it stops";
  ASSERT_EQ(Number("select download_status" + row), 1);

  StartEngine();
  EXPECT_EQ(Text("select filelocation" + row), "");
  engine->ResetEnclosureDownloads();
  EXPECT_EQ(Number("select download_status" + row), 0);
}

}  // namespace
}  // namespace tidewell
