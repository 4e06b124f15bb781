// SPDX-License-Identifier: MIT
// A feed's credentials through the engine's own workers, a real database and
// local servers on two loopback hosts (127.0.0.1, 127.0.0.2) and https with
// the test's certificate: they stay with the place they were given for when
// the feed moves, user-info is decoded before it is stored, and an OPML list
// finds a subscription by its address whatever credentials either holds.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "engine/feeds/tidewell_feed_pool_worker.h"
#include "engine/net/http_auth.h"
#include "engine/settings/value_scrambling.h"
#include "engine/tidewell.h"
#include "platform/main_loop.h"
#include "support/temp_folder.h"
#include "support/test_certificate.h"
#include "support/test_http_server.h"
#include "support/test_https_server.h"
#include "tests/engine/engine/engine_test_support.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

using testing::EngineOnDatabase;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

constexpr int kWaitMs = 30000;

std::string Rss(const std::string& title) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><title>" + title +
         "</title><link>http://example.org/</link><description>d</description>"
         "<item><title>one</title><guid>one</guid></item></channel></rss>";
}

std::string BasicOf(const std::string& user, const std::string& password) {
  return "Basic " + THttpAuthChallenge::Base64(user + ":" + password);
}

std::string Outline(const std::string& title, const std::string& url) {
  return "<outline text=\"" + title + "\" type=\"rss\" xmlUrl=\"" + url + "\"/>";
}

std::string Opml(const std::string& outlines) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<opml version=\"1.0\"><head><title>Members</title></head>"
         "<body>" + outlines + "</body></opml>";
}

// The address with user-info put in after the scheme.
std::string WithUserInfo(const std::string& url, const std::string& userInfo) {
  const size_t at = url.find("://") + 3;
  return url.substr(0, at) + userInfo + "@" + url.substr(at);
}

struct Asked {
  std::string url;
  std::string user;
  std::string password;
  friend std::ostream& operator<<(std::ostream& out, const Asked& a) {
    return out << a.url << " [" << a.user << ":" << a.password << "]";
  }
};

class FeedCredentialsTest : public ::testing::Test {
 protected:
  FeedCredentialsTest() {
    engine.GetFolders()->SaveAll();
    engine.SetOnStopWorking([this](uint32_t, int32_t, const std::string&, int32_t, TQueueJobTypes kind) {
      if (kind == TQueueJobTypes::CfeedOperation || kind == TQueueJobTypes::CgetOpmlData) ++jobsEnded;
    });
    engine.SetOnHttpAuthenticate([this](uint32_t, TFeedOpType, const std::string& url, int32_t, TQueueJobTypes,
                                        std::string& user, std::string& password) {
      asked.push_back({url, user, password});
    });
    engine.SetOnDeleteFeed([this](int32_t, int32_t feedId, bool) {
      offered.push_back(feedId);
      return true;
    });
  }

  // The engine's own feed workers, trusting the test's certificate.
  TtidewellOptions Options() {
    TtidewellOptions options;
    options.workerFactory = [this](Ttidewell& engine, int) {
      auto worker = std::make_unique<TtidewellFeedPoolWorker>(engine);
      worker->Worker().SetCaCertificateFile(certificate.certificateFile);
      return std::unique_ptr<TtidewellPoolWorker>(std::move(worker));
    };
    return options;
  }

  void Pass(int32_t feedId) {
    const int before = jobsEnded;
    engine.UpdateFeed(feedId);
    ASSERT_TRUE(platform::MainThread().RunUntil(
        [&] { return jobsEnded > before && engine.QueuedJobCount() == 0; }, kWaitMs));
  }
  void SubscribeList(const std::string& url) {
    const int before = jobsEnded;
    engine.Worker(0)->AddJob(url, 0, TQueueJobTypes::CgetOpmlData, u"");
    ASSERT_TRUE(platform::MainThread().RunUntil(
        [&] { return jobsEnded > before && engine.QueuedJobCount() == 0; }, kWaitMs));
  }
  std::string Column(const std::string& column, int32_t feedId) {
    return db.QueryText("select " + column + " from feeds where feed_id=" + std::to_string(feedId));
  }

  static void Redirect(TestHttpServer& server, const std::string& path, int status, const std::string& location) {
    server.Handle(path, [status, location](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(status, "Moved", {{"Location", location}}, ""));
    });
  }
  // Serves the feed to whoever asks first; from then on only to a request
  // that carries an answer to its challenge (any answer: what it was sent
  // is what the test reads).
  static void OpenOnceThenGuarded(TestHttpServer& server, const std::string& path) {
    auto first = std::make_shared<std::atomic<bool>>(true);
    server.Handle(path, [first](const RecordedRequest& r, HttpConnection& c) {
      if (first->exchange(false) || r.HasHeader("Authorization")) {
        c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, Rss("Moved")));
      } else {
        c.Send(TestHttpServer::Response(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"r\""}}, ""));
      }
    });
  }
  static void Guard(TestHttpServer& server, const std::string& path, const std::string& user,
                    const std::string& password, const std::string& type, const std::string& body) {
    server.Handle(path, [answer = BasicOf(user, password), type, body](const RecordedRequest& r, HttpConnection& c) {
      if (r.Header("Authorization") == answer) {
        c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", type}}, body));
      } else {
        c.Send(TestHttpServer::Response(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"m\""}}, ""));
      }
    });
  }
  static size_t SentTheSecret(const TestHttpServer& server, const std::string& path) {
    size_t count = 0;
    for (const RecordedRequest& r : server.Requests())
      count += r.path == path && r.Header("Authorization") == BasicOf("ann", "secret") ? 1 : 0;
    return count;
  }

  testing_support::TempFolder certificateFolder;
  testing_support::TestCertificate certificate =
      testing_support::MakeSelfSignedCertificate(certificateFolder.Path());
  TestHttpServer a;
  TestHttpServer b{"127.0.0.2"};
  EngineOnDatabase db{Options()};
  Ttidewell& engine = db.Engine();
  int jobsEnded = 0;
  std::vector<Asked> asked;
  std::vector<int32_t> offered;
};

// A list naming a feed with credentials in its address finds that feed at
// every later merge, also once the feed's own pass took them out of its
// link, and finds a feed that AddFeed subscribed with them.
TEST_F(FeedCredentialsTest, AListFindsAFeedWhoseAddressHoldsCredentials) {
  Guard(a, "/private.xml", "ann", "secret", "application/rss+xml", Rss("Private"));
  Guard(a, "/added.xml", "ann", "secret", "application/rss+xml", Rss("Added"));
  a.Handle("/open.xml", [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, Rss("Open")));
  });
  const std::string added = WithUserInfo(a.Url("/added.xml"), "ann:secret");
  const int32_t addedId = engine.AddFeed(u"", added, u"");
  Pass(addedId);
  auto list = std::make_shared<std::string>(Opml(Outline("Private", WithUserInfo(a.Url("/private.xml"), "ann:secret")) +
                                                 Outline("Added", added)));
  auto listMutex = std::make_shared<std::mutex>();
  a.Handle("/list.opml", [list, listMutex](const RecordedRequest&, HttpConnection& c) {
    std::lock_guard<std::mutex> lock(*listMutex);
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "text/xml"}}, *list));
  });
  SubscribeList(a.Url("/list.opml"));
  const int32_t listId = static_cast<int32_t>(db.QueryInt64("select feed_id from feeds where type_='OPML'"));
  ASSERT_GT(listId, 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'added.xml'"), 1)
      << "AddFeed's subscription is the list's";
  const int32_t privateId =
      static_cast<int32_t>(db.QueryInt64("select feed_id from feeds where link containing 'private.xml'"));
  ASSERT_GT(privateId, 0);
  // Stored as AddFeed stores it, before its first pass.
  EXPECT_EQ(Column("link", privateId), a.Url("/private.xml"));
  EXPECT_EQ(Column("username_", privateId), "ann");
  EXPECT_EQ(UnscrambleText(Column("password_", privateId)), "secret");
  Pass(privateId);
  EXPECT_EQ(Column("lastHTTPCode", privateId), "200");
  const int64_t articles = db.QueryInt64("select count(*) from articles where feed_id=" + std::to_string(privateId));
  EXPECT_EQ(articles, 1);

  {
    std::lock_guard<std::mutex> lock(*listMutex);
    *list = Opml(Outline("Private", WithUserInfo(a.Url("/private.xml"), "ann:secret")) + Outline("Added", added) +
                 Outline("Open", a.Url("/open.xml")));
  }
  Pass(listId);
  EXPECT_EQ(offered, std::vector<int32_t>{});
  EXPECT_EQ(Column("link", privateId), a.Url("/private.xml"));
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'private.xml'"), 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'added.xml'"), 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'secret'"), 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from articles where feed_id=" + std::to_string(privateId)), articles);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'open.xml'"), 1);
}

}  // namespace
}  // namespace tidewell
