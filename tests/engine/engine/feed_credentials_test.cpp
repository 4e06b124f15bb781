// SPDX-License-Identifier: MIT
// A feed's credentials through the engine's own workers, a real database and
// local servers on two loopback hosts (127.0.0.1, 127.0.0.2) and https with
// the test's certificate: they stay with the place they were given for when
// the feed moves, user-info is decoded before it is stored, and an OPML list
// finds a subscription by its address whatever credentials either holds.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <filesystem>
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
#include "support/engine_fixture.h"
#include "support/temp_folder.h"
#include "support/test_certificate.h"
#include "support/trusting_engine.h"
#include "support/test_https_server.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

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

class FeedCredentialsTest : public testing::TrustedCertificate, public testing::EngineFixture {
 protected:
  FeedCredentialsTest() : EngineFixture(testing::TrustingWorkers(certificate.certificateFile)) {
    engine.GetFolders()->SaveAll();
    engine.SetOnHttpAuthenticate([this](uint32_t, TFeedOpType, const std::string& url, int32_t, TQueueJobTypes,
                                        std::string& user, std::string& password) {
      asked.push_back({url, user, password});
    });
    engine.SetOnDeleteFeed([this](int32_t, int32_t feedId, bool) {
      offered.push_back(feedId);
      return true;
    });
  }

  static void Redirect(TestHttpServer& server, const std::string& path, int status, const std::string& location) {
    server.Handle(path, [status, location](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(status, "Moved", {{"Location", location}}, ""));
    });
  }
  // Serves the feed to whoever asks first; from then on only to a request
  // that carries an answer to its challenge (any answer: what it was sent
  // is what the test reads).
  static void OpenOnceThenGuarded(TestHttpServer& server, const std::string& path,
                                  const std::string& type = "application/rss+xml",
                                  const std::string& body = Rss("Moved")) {
    auto first = std::make_shared<std::atomic<bool>>(true);
    server.Handle(path, [first, type, body](const RecordedRequest& r, HttpConnection& c) {
      if (first->exchange(false) || r.HasHeader("Authorization")) {
        c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", type}}, body));
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

  TestHttpServer& a = server;
  TestHttpServer b{"127.0.0.2"};
  std::vector<Asked> asked;
  std::vector<int32_t> offered;
};

// Wherever a feed with credentials goes for good, they stay with the scheme,
// host and port they were given for: a 301 away from that place is not
// stored, a page's feed elsewhere is adopted without them, and the place a
// feed reaches asks for its own through the event, with nothing filled in.
TEST_F(FeedCredentialsTest, AFeedThatMovesLeavesItsCredentialsAtTheirPlace) {
  // An https feed whose 302 leads to plain http.
  testing_support::TestHttpsServer secure(certificate, [&](httplib::SSLServer& server) {
    server.Get("/r3.xml", [&](const httplib::Request&, httplib::Response& response) {
      response.set_redirect(a.Url("/x3.xml"), 302);
    });
  });
  Redirect(a, "/r1.xml", 302, b.Url("/x1.xml"));
  Redirect(b, "/x1.xml", 301, b.Url("/y1.xml"));
  OpenOnceThenGuarded(b, "/y1.xml");
  Redirect(a, "/r2.xml", 301, b.Url("/x2.xml"));
  Redirect(b, "/x2.xml", 301, b.Url("/y2.xml"));
  OpenOnceThenGuarded(b, "/y2.xml");
  Redirect(a, "/x3.xml", 301, a.Url("/y3.xml"));
  OpenOnceThenGuarded(a, "/y3.xml");
  const std::string page = "<html><head><link rel=\"alternate\" type=\"application/rss+xml\" href=\"" +
                           b.Url("/found.xml") + "\"></head><body>Members</body></html>";
  Guard(a, "/page.html", "ann", "secret", "text/html", page);
  OpenOnceThenGuarded(b, "/found.xml");
  Redirect(a, "/list-r.opml", 302, b.Url("/list.opml"));
  OpenOnceThenGuarded(b, "/list.opml", "text/xml", Opml(""));
  Redirect(a, "/new-r.xml", 302, b.Url("/new.xml"));
  OpenOnceThenGuarded(b, "/new.xml");

  struct Row {
    std::string name;
    std::string address;  // subscribed with ann:secret in it
    bool byJob;           // added by a job for the address, not by AddFeed
    TestHttpServer* target;  // where the feed ends up
    std::string targetPath;
    std::string linkAfter;
    std::string userAfter;
  };
  const std::vector<Row> rows = {
      {"302 to another host, then 301 there", a.Url("/r1.xml"), false, &b, "/y1.xml", a.Url("/r1.xml"), "ann"},
      {"301 to another host, then 301 there", a.Url("/r2.xml"), false, &b, "/y2.xml", a.Url("/r2.xml"), "ann"},
      {"https, 302 to plain http, then 301 there", secure.Url("/r3.xml"), false, &a, "/y3.xml",
       secure.Url("/r3.xml"), "ann"},
      {"a page announcing a feed on another host", a.Url("/page.html"), false, &b, "/found.xml",
       b.Url("/found.xml"), ""},
      {"a list whose 302 leads to another host", a.Url("/list-r.opml"), false, &b, "/list.opml",
       b.Url("/list.opml"), ""},
      {"a new feed whose 302 leads to another host", a.Url("/new-r.xml"), true, &b, "/new.xml", b.Url("/new.xml"),
       ""},
  };
  for (const Row& row : rows) {
    asked.clear();
    const std::string address = WithUserInfo(row.address, "ann:secret");
    int32_t feedId = 0;
    if (row.byJob) {
      RunJob(address, TQueueJobTypes::CfeedOperation);
      feedId = static_cast<int32_t>(db.QueryInt64("select max(feed_id) from feeds"));
    } else {
      feedId = engine.AddFeed(u"", address, u"");
      Pass(feedId);
    }
    for (int pass = 0; pass < 2; ++pass) Pass(feedId);
    EXPECT_EQ(SentTheSecret(*row.target, row.targetPath), 0u) << row.name;
    EXPECT_EQ(FeedColumn("link", feedId), row.linkAfter) << row.name;
    EXPECT_EQ(FeedColumn("username_", feedId), row.userAfter) << row.name;
    for (const Asked& question : asked) {
      if (question.url != row.target->Url(row.targetPath)) continue;
      EXPECT_EQ(question.user + question.password, "") << row.name << ": " << question;
    }
  }
}

// User-info is percent-decoded as UTF-8 before it goes into its columns, so
// that a password holding "/ ? # % @ :" or a non-ASCII character, or an
// e-mail user name, can be given in an address; a raw ":" in the password
// keeps working (a raw "@" is refused: see below).
TEST_F(FeedCredentialsTest, UserInfoIsDecodedBeforeItIsStoredAndSent) {
  struct Row {
    std::string path;
    std::string userInfo;
    std::string user;
    std::string password;
  };
  const std::vector<Row> rows = {
      {"/escaped-marks.xml", "alice:p%40ss%3Aw%2Frd", "alice", "p@ss:w/rd"},
      {"/mail-user.xml", "bob%40example.org:pw", "bob@example.org", "pw"},
      {"/non-ascii.xml", "caf%C3%A9:pw", "caf\xC3\xA9", "pw"},
      {"/query-marks.xml", "u:a%23b%3Fc%2Fd%25", "u", "a#b?c/d%"},
      {"/lower-hex.xml", "u:%e2%82%ac", "u", "\xE2\x82\xAC"},
      {"/no-escape.xml", "u:100%", "u", "100%"},
      {"/not-utf8.xml", "u:%E9t%E9", "u", "%E9t%E9"},
  };
  for (const Row& row : rows) {
    Guard(a, row.path, row.user, row.password, "application/rss+xml", Rss("Members"));
    const int32_t feedId = engine.AddFeed(u"", WithUserInfo(a.Url(row.path), row.userInfo), u"");
    EXPECT_EQ(FeedColumn("link", feedId), a.Url(row.path)) << row.userInfo;
    EXPECT_EQ(FeedColumn("username_", feedId), row.user) << row.userInfo;
    EXPECT_EQ(UnscrambleText(FeedColumn("password_", feedId)), row.password) << row.userInfo;
    Pass(feedId);
    EXPECT_EQ(FeedColumn("lastHTTPCode", feedId), "200") << row.userInfo;
  }
}

// Credentials that come by a second way (AddFeed, a list, a feed that moves
// to the address by 301) for a feed stored without any are the feed's.
TEST_F(FeedCredentialsTest, CredentialsGivenASecondWayAreKept) {
  enum class TWay { kAddFeed, kList, kMove };
  const struct {
    const char* name;
    TWay bare;
    TWay withCredentials;
  } rows[] = {
      {"a list filed it bare, AddFeed gives them", TWay::kList, TWay::kAddFeed},
      {"AddFeed (the settings) filed it bare, a list gives them", TWay::kAddFeed, TWay::kList},
      {"AddFeed filed it bare, a feed holding them moves to it by 301", TWay::kAddFeed, TWay::kMove},
      {"a list filed it bare, the changed list gives them", TWay::kList, TWay::kList},
  };
  int n = 0;
  for (const auto& row : rows) {
    const std::string path = "/guarded" + std::to_string(++n) + ".xml";
    Guard(a, path, "ann", "secret", "application/rss+xml", Rss("Guarded"));
    const auto subscribe = [&](TWay way, const std::string& userInfo) {
      const std::string at = "/" + std::to_string(n) + userInfo;
      const std::string address = userInfo.empty() ? a.Url(path) : WithUserInfo(a.Url(path), userInfo);
      if (way == TWay::kAddFeed) {
        engine.AddFeed(u"", address, u"");
      } else if (way == TWay::kList) {
        const std::string list = "/list" + std::to_string(n) + ".opml";
        ServeDocument(list, "text/xml", Opml(Outline("Guarded", address)));
        const int32_t stored = engine.FindFeedIdByUrl(a.Url(list), nullptr);
        if (stored > 0) Pass(stored);
        if (stored < 1) RunJob(a.Url(list), TQueueJobTypes::CgetOpmlData);
      } else {
        Redirect(a, at + ".xml", 301, a.Url(path));
        Pass(engine.AddFeed(u"", WithUserInfo(a.Url(at + ".xml"), userInfo), u""));
      }
    };
    subscribe(row.bare, "");
    subscribe(row.withCredentials, "ann:secret");
    const int32_t feedId = engine.FindFeedIdByUrl(a.Url(path), nullptr);
    Pass(feedId);
    EXPECT_EQ(FeedColumn("username_", feedId), "ann") << row.name;
    EXPECT_EQ(FeedColumn("lastHTTPCode", feedId), "200") << row.name;
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing '" + path + "'"), 1) << row.name;
  }
}

// A password holding a raw "/", "#" or "@" where libcurl cannot read the
// address is refused, whichever way it comes, with a text that asks for it
// percent-encoded: nothing is stored or shown, and the host that its raw "/"
// would name ("localhost" for the user name "localhost") is never asked.
TEST_F(FeedCredentialsTest, APasswordWithARawMarkIsRefusedAndGoesNowhere) {
  TestHttpServer named;  // 127.0.0.1 on a port of its own: "localhost:port"
  ServeDocument("/f.xml", "application/rss+xml", Rss("Members"));
  const std::string port = named.Url("").substr(named.Url("").rfind(':') + 1);
  const std::string viaSlash = "http://localhost:" + port + "se/cret@" + a.Url("/f.xml").substr(7);
  const std::string viaHash = "http://ann:se#cret@" + a.Url("/f.xml").substr(7);
  const std::string viaAt = "http://ann:se@cret@" + a.Url("/f.xml").substr(7);
  for (const std::string& address : {viaSlash, viaHash, viaAt}) {
    RunJob(address, TQueueJobTypes::CfeedOperation);
    ServeDocument("/raw.opml", "text/xml", Opml(Outline("Raw", address)));
    RunJob(a.Url("/raw.opml"), TQueueJobTypes::CgetOpmlData);
    try {
      engine.AddFeed(u"", address, u"");
      ADD_FAILURE() << "AddFeed took " << address;
    } catch (const std::exception& refusal) {
      EXPECT_NE(std::string(refusal.what()).find("percent-encoded"), std::string::npos) << refusal.what();
    }
  }
  EXPECT_EQ(named.Requests().size(), 0u);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'cret' or link containing 'f.xml'"), 0);
  for (const testing::EndedJob& job : ended) EXPECT_EQ(job.url.find("cret"), std::string::npos) << job.url;
  for (const testing::Processed& job : processed) EXPECT_EQ(job.url.find("cret"), std::string::npos) << job.url;
}

// A list naming a feed with credentials in its address finds that feed at
// every later merge, also once the feed's own pass took them out of its
// link, and finds a feed that AddFeed subscribed with them.
TEST_F(FeedCredentialsTest, AListFindsAFeedWhoseAddressHoldsCredentials) {
  Guard(a, "/private.xml", "ann", "secret", "application/rss+xml", Rss("Private"));
  Guard(a, "/added.xml", "ann", "secret", "application/rss+xml", Rss("Added"));
  ServeDocument("/open.xml", "application/rss+xml", Rss("Open"));
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
  std::vector<std::string> announced;  // what OnFeedsAddToOpml told
  engine.SetOnFeedsAddToOpml([&](int32_t, int32_t, const std::string&, const WideString&, const TStrings& feeds) {
    announced.insert(announced.end(), feeds.begin(), feeds.end());
  });
  RunJob(a.Url("/list.opml"), TQueueJobTypes::CgetOpmlData);
  const int32_t listId = static_cast<int32_t>(db.QueryInt64("select feed_id from feeds where type_='OPML'"));
  ASSERT_GT(listId, 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'added.xml'"), 1)
      << "AddFeed's subscription is the list's";
  const int32_t privateId =
      static_cast<int32_t>(db.QueryInt64("select feed_id from feeds where link containing 'private.xml'"));
  ASSERT_GT(privateId, 0);
  // Stored as AddFeed stores it, before its first pass.
  EXPECT_EQ(FeedColumn("link", privateId), a.Url("/private.xml"));
  EXPECT_EQ(FeedColumn("username_", privateId), "ann");
  EXPECT_EQ(UnscrambleText(FeedColumn("password_", privateId)), "secret");
  Pass(privateId);
  EXPECT_EQ(FeedColumn("lastHTTPCode", privateId), "200");
  const int64_t articles = db.QueryInt64("select count(*) from articles where feed_id=" + std::to_string(privateId));
  EXPECT_EQ(articles, 1);

  {
    std::lock_guard<std::mutex> lock(*listMutex);
    *list = Opml(Outline("Private", WithUserInfo(a.Url("/private.xml"), "ann:secret")) + Outline("Added", added) +
                 Outline("Open", WithUserInfo(a.Url("/open.xml"), "ann:secret")));
  }
  Pass(listId);
  ASSERT_FALSE(announced.empty());
  for (const std::string& text : announced) EXPECT_EQ(text.find("secret"), std::string::npos) << text;
  EXPECT_EQ(offered, std::vector<int32_t>{});
  EXPECT_EQ(FeedColumn("link", privateId), a.Url("/private.xml"));
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'private.xml'"), 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'added.xml'"), 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'secret'"), 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from articles where feed_id=" + std::to_string(privateId)), articles);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing 'open.xml'"), 1);
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

std::string RssWithEnclosures(const std::vector<std::string>& files) {
  std::string items;
  for (size_t i = 0; i < files.size(); ++i) {
    items += "<item><title>ep" + std::to_string(i) + "</title><guid>ep" + std::to_string(i) +
             "</guid><enclosure url=\"" + files[i] + "\" type=\"audio/mpeg\" length=\"12\"/></item>";
  }
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><title>Members</title>"
         "<link>http://example.org/</link><description>d</description>" + items + "</channel></rss>";
}

// "http://FEEDHOST:PORT/x@OTHERHOST/..." names FEEDHOST:PORT, as libcurl
// connects: an enclosure or a redirect (301, 302; absolute or relative) of a
// feed with credentials written so is fetched from the feed's own server,
// and OTHERHOST (127.0.0.2 here) never hears of it, nor of the password;
// ordinary feed addresses with a port and an "@" in their path or query
// are subscribed and fetched from their own server.
TEST_F(FeedCredentialsTest, AnAtAfterTheAuthorityNeverTakesAnAddressElsewhere) {
  const std::string other = b.Url("/").substr(7);  // "127.0.0.2:port/"
  const std::string path = "/x@" + other;         // "/x@127.0.0.2:port/"
  const std::string media = "ID3-episode!";
  for (const std::string file : {"ep1.mp3", "ep2.mp3", "ep3.mp3", "feed.xml"}) {
    Guard(b, "/" + file, "ann", "secret", "audio/mpeg", "elsewhere");
    Guard(a, path + file, "ann", "secret", file == "feed.xml" ? "application/rss+xml" : "audio/mpeg",
          file == "feed.xml" ? RssWithEnclosures({}) : media);
  }
  Redirect(a, "/r301.mp3", 301, a.Url(path + "ep2.mp3"));
  Redirect(a, "/r302.mp3", 302, path + "ep3.mp3");
  Guard(a, "/members.xml", "ann", "secret", "application/rss+xml",
        RssWithEnclosures({a.Url(path + "ep1.mp3"), a.Url("/r301.mp3"), a.Url("/r302.mp3")}));
  const int32_t feedId = engine.AddFeed(u"", WithUserInfo(a.Url("/members.xml"), "ann:secret"), u"");
  Pass(feedId);
  ASSERT_EQ(FeedColumn("lastHTTPCode", feedId), "200");
  std::vector<int32_t> enclosures;
  for (int row = 1; row <= 3; ++row)
    enclosures.push_back(static_cast<int32_t>(
        db.QueryInt64("select e.enclosure_id from enclosures e, articles r where e.article_id=r.id and r.feed_id=" +
                      std::to_string(feedId) + " order by e.enclosure_id rows " + std::to_string(row) + " to " +
                      std::to_string(row))));
  ASSERT_EQ(enclosures.size(), 3u);
  const std::string folder = db.Folder().File("episodes/");
  std::filesystem::create_directories(folder);
  engine.DownloadEnclosures(enclosures, kt::Utf8ToWide(folder));
  ASSERT_TRUE(RunUntil([&] { return downloaded.size() == enclosures.size(); }));
  for (const testing::Downloaded& d : downloaded) EXPECT_EQ(d.errCat, TErrorCategory::noErrors) << d.url << d.errMsg;
  EXPECT_EQ(FilesIn(folder).size(), 3u);

  // The feed itself moved for good by 301 to such an address of its own place.
  Redirect(a, "/moving.xml", 301, a.Url(path + "feed.xml"));
  const int32_t movingId = engine.AddFeed(u"", WithUserInfo(a.Url("/moving.xml"), "ann:secret"), u"");
  Pass(movingId);
  EXPECT_EQ(FeedColumn("lastHTTPCode", movingId), "200");
  EXPECT_EQ(FeedColumn("link", movingId), a.Url(path + "feed.xml"));
  EXPECT_EQ(FeedColumn("username_", movingId), "ann");

  // Ordinary addresses with a port and an "@" after the authority.
  for (const std::string address : {"/podcasts/me@home/feed.xml", "/@alice.rss", "/f?u=bob@x.org"}) {
    ServeDocument(address.substr(0, address.find('?')), "application/rss+xml", Rss("Ordinary"));
    const int32_t ordinary = engine.AddFeed(u"", a.Url(address), u"");
    Pass(ordinary);
    EXPECT_EQ(FeedColumn("lastHTTPCode", ordinary), "200") << address;
    EXPECT_EQ(FeedColumn("link", ordinary), a.Url(address)) << address;
  }
  // A list naming such addresses is filed whole.
  ServeDocument("/ordinary.opml", "text/xml",
                Opml(Outline("Home", a.Url("/list/me@home/feed.xml")) + Outline("Carol", a.Url("/list/@carol.rss")) +
                     Outline("Mail", a.Url("/list/f?u=bob@x.org"))));
  RunJob(a.Url("/ordinary.opml"), TQueueJobTypes::CgetOpmlData);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link containing '/list/'"), 3);
  EXPECT_EQ(b.Requests().size(), 0u);
  EXPECT_EQ(SentTheSecret(b, "/ep1.mp3") + SentTheSecret(b, "/ep2.mp3") + SentTheSecret(b, "/ep3.mp3"), 0u);
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

// Credentials a list gives for the address it names go to the row it finds
// only while that row's address is at their place: a row that moved to
// another host by 301 is given none, which would be sent there at every
// pass; one still at their place takes them.
TEST_F(FeedCredentialsTest, AListsCredentialsAreStoredOnlyOnARowAtTheirPlace) {
  Redirect(a, "/old.xml", 301, b.Url("/new.xml"));
  OpenOnceThenGuarded(b, "/new.xml");
  OpenOnceThenGuarded(a, "/stays.xml");
  auto list = std::make_shared<std::string>(Opml(Outline("Moves", a.Url("/old.xml")) +
                                                 Outline("Stays", a.Url("/stays.xml"))));
  auto listMutex = std::make_shared<std::mutex>();
  a.Handle("/list.opml", [list, listMutex](const RecordedRequest&, HttpConnection& c) {
    std::lock_guard<std::mutex> lock(*listMutex);
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "text/xml"}}, *list));
  });
  RunJob(a.Url("/list.opml"), TQueueJobTypes::CgetOpmlData);
  const int32_t listId = static_cast<int32_t>(db.QueryInt64("select feed_id from feeds where type_='OPML'"));
  const int32_t movedId =
      static_cast<int32_t>(db.QueryInt64("select feed_id from feeds where link containing 'old.xml'"));
  const int32_t staysId =
      static_cast<int32_t>(db.QueryInt64("select feed_id from feeds where link containing 'stays.xml'"));
  ASSERT_GT(listId, 0);
  ASSERT_GT(movedId, 0);
  ASSERT_GT(staysId, 0);
  Pass(movedId);
  Pass(staysId);
  ASSERT_EQ(FeedColumn("link", movedId), b.Url("/new.xml"));

  {
    std::lock_guard<std::mutex> lock(*listMutex);
    *list = Opml(Outline("Moves", WithUserInfo(a.Url("/old.xml"), "ann:secret")) +
                 Outline("Stays", WithUserInfo(a.Url("/stays.xml"), "ann:secret")));
  }
  Pass(listId);
  for (int pass = 0; pass < 2; ++pass) Pass(movedId);
  EXPECT_EQ(FeedColumn("username_", movedId), "");
  EXPECT_EQ(SentTheSecret(b, "/new.xml"), 0u);
  EXPECT_EQ(FeedColumn("username_", staysId), "ann");
  Pass(staysId);
  EXPECT_EQ(SentTheSecret(a, "/stays.xml"), 1u);
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

// Every text of a list's filters (their names), through the whole tree.
void CollectFilterNames(TFolder* folder, std::vector<std::string>& names) {
  for (TFilter* filter : folder->Filters) names.push_back(kt::WideToUtf8(filter->GetField()));
  for (TFolder* sub : folder->SubFolders->List) CollectFilterNames(sub, names);
}

// A list entry written without "scheme://" but with user-info is given its
// "http://" before its credentials are taken out: the password is shown and
// kept nowhere but in the credentials' columns (the list's event, the
// outline's name, the feed's title and link, the list's memory rows).
TEST_F(FeedCredentialsTest, AnEntryWithoutSchemeKeepsItsPasswordOnlyInItsColumns) {
  Guard(a, "/www.feed.xml", "ann", "s3cr3t", "application/rss+xml", Rss("Members"));
  const std::string entry = "ann:s3cr3t@" + a.Url("/www.feed.xml").substr(7);
  ServeDocument("/bare.opml", "text/xml",
                Opml("<outline type=\"rss\" xmlUrl=\"" + entry + "\"/>" + Outline("Named", "ann:s3cr3t@www.x.y/")));
  std::vector<std::string> announced;
  engine.SetOnFeedsAddToOpml([&](int32_t, int32_t, const std::string&, const WideString&, const TStrings& feeds) {
    announced.insert(announced.end(), feeds.begin(), feeds.end());
  });
  RunJob(a.Url("/bare.opml"), TQueueJobTypes::CgetOpmlData);
  const int32_t feedId =
      static_cast<int32_t>(db.QueryInt64("select feed_id from feeds where link containing 'www.feed.xml'"));
  ASSERT_GT(feedId, 0);
  EXPECT_EQ(FeedColumn("link", feedId), a.Url("/www.feed.xml"));
  EXPECT_EQ(FeedColumn("username_", feedId), "ann");
  Pass(feedId);
  EXPECT_EQ(FeedColumn("lastHTTPCode", feedId), "200");
  ASSERT_FALSE(announced.empty());
  for (const std::string& text : announced) EXPECT_EQ(text.find("s3cr3t"), std::string::npos) << text;
  std::vector<std::string> names;
  CollectFilterNames(engine.GetFolders()->GetRootFolder(), names);
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) EXPECT_EQ(name.find("s3cr3t"), std::string::npos) << name;
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where title containing 's3cr3t' or link containing 's3cr3t'"), 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from variables where value_ containing 's3cr3t'"), 0);
  EXPECT_GT(db.QueryInt64("select count(*) from variables where value_ containing 'www.feed.xml'"), 0);
}

}  // namespace
}  // namespace tidewell
