// SPDX-License-Identifier: MIT
// The request profile, conditional GET, redirects and authentication of the
// download, against a scripted server on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/net/http_auth.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"
#include "tests/engine/net/download_test_worker.h"

namespace tidewell {
namespace {

using testing::DownloadTestWorker;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

void Answer(TestHttpServer& server, const std::string& path, const std::string& body,
            testing_support::HeaderList headers = {}) {
  server.Handle(path, [body, headers](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", headers, body));
  });
}

void Redirect(TestHttpServer& server, const std::string& path, int status, const std::string& location) {
  server.Handle(path, [status, location](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(status, "Moved", {{"Location", location}, {"Set-Cookie", "s=1"}}, ""));
  });
}

std::vector<std::string> HeaderNames(const RecordedRequest& request) {
  std::vector<std::string> names;
  for (const auto& header : request.headers) names.push_back(header.first);
  return names;
}

TEST(DownloadRequestProfile, FeedRequestCarriesExactlyTheEngineHeaders) {
  TestHttpServer server;
  Answer(server, "/feed.xml", "<rss version=\"2.0\"/>", {{"ETag", "\"v2\""}, {"Last-Modified", "Mon, 07 Dec 2026 04:00:00 GMT"}});
  DownloadTestWorker worker;
  DownloadTestWorker::Job job;
  job.url = server.Url("/feed.xml");
  job.lastModified = "Sun, 06 Dec 2026 10:00:00 GMT";
  job.etag = "\"v1\"";
  const auto result = worker.Fetch(job);

  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.httpCode, 200);
  EXPECT_EQ(result.body, "<rss version=\"2.0\"/>");
  EXPECT_EQ(result.etag, "\"v2\"");
  EXPECT_EQ(result.lastModified, "Mon, 07 Dec 2026 04:00:00 GMT");
  const RecordedRequest request = server.Requests().at(0);
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/feed.xml");
  EXPECT_EQ(request.version, "HTTP/1.1");
  EXPECT_EQ(HeaderNames(request), (std::vector<std::string>{"Host", "If-Modified-Since", "If-None-Match", "Accept-Charset",
                                                            "Accept", "Accept-Encoding", "User-Agent"}));
  EXPECT_EQ(request.Header("If-Modified-Since"), "Sun, 06 Dec 2026 10:00:00 GMT");
  EXPECT_EQ(request.Header("If-None-Match"), "\"v1\"");
  EXPECT_EQ(request.Header("Accept-Charset"), "ISO-8859-1,utf-8;q=0.7,*;q=0.7");
  EXPECT_EQ(request.Header("Accept"), "*/*");
  EXPECT_EQ(request.Header("Accept-Encoding"), "gzip,identity");
  EXPECT_EQ(request.Header("User-Agent"), "Tidewell");
}

TEST(DownloadRequestProfile, ValidatorsAreLeftOutWhenUnknownAndEnclosuresAskForNoEncoding) {
  TestHttpServer server;
  Answer(server, "/a.mp3", "0123456789abc");
  DownloadTestWorker worker;
  worker.Fetch(server.Url("/a.mp3"), TQueueJobTypes::CgetArticle);
  EXPECT_EQ(HeaderNames(server.Requests().at(0)),
            (std::vector<std::string>{"Host", "Accept-Charset", "Accept", "Accept-Encoding", "User-Agent"}));

  testing_support::TempFolder folder;
  DownloadTestWorker::Job job;
  job.url = server.Url("/a.mp3");
  job.kind = TQueueJobTypes::CgetEnclosure;
  job.targetFolder = kt::Utf8ToWide(folder.Path());
  worker.Fetch(job);
  EXPECT_EQ(HeaderNames(server.Requests().at(1)),
            (std::vector<std::string>{"Host", "Accept-Charset", "Accept", "User-Agent"}));
}

// A validator holding a line break would smuggle a header of the server's
// choosing into the next request: it is neither kept nor sent.
TEST(DownloadConditionalGet, ValidatorsWithLineBreaksAreNeitherKeptNorSent) {
  TestHttpServer server;
  Answer(server, "/crafted.xml", "<rss/>",
         {{"ETag", "\"v1\"\rX-Injected: etag"}, {"Last-Modified", "Mon, 07 Dec 2026 04:00:00 GMT\rX-Injected: date"}});
  Answer(server, "/plain.xml", "<rss/>", {{"ETag", "\"v2\""}});
  DownloadTestWorker worker;
  const auto crafted = worker.Fetch(server.Url("/crafted.xml"));
  ASSERT_FALSE(crafted.error) << crafted.errorText;
  EXPECT_EQ(crafted.etag, "");
  EXPECT_EQ(crafted.lastModified, "");

  DownloadTestWorker::Job job;
  job.url = server.Url("/plain.xml");
  job.etag = "\"v1\"\r\nX-Injected: stored";
  job.lastModified = "Sun, 06 Dec 2026 10:00:00 GMT\nX-Injected: date";
  const auto plain = worker.Fetch(job);
  ASSERT_FALSE(plain.error) << plain.errorText;
  EXPECT_EQ(plain.etag, "\"v2\"");
  const RecordedRequest request = server.Requests().back();
  EXPECT_FALSE(request.HasHeader("X-Injected")) << request.head;
  EXPECT_FALSE(request.HasHeader("If-None-Match")) << request.head;
  EXPECT_FALSE(request.HasHeader("If-Modified-Since")) << request.head;
}

TEST(DownloadRequestProfile, UserAgentCanBeChanged) {
  TestHttpServer server;
  Answer(server, "/f", "0123456789");
  DownloadTestWorker worker;
  worker.SetUserAgent("Larkspur/1.0");
  worker.Fetch(server.Url("/f"));
  EXPECT_EQ(server.Requests().at(0).Header("User-Agent"), "Larkspur/1.0");
}

TEST(DownloadConditionalGet, NotModifiedIsNoError) {
  TestHttpServer server;
  server.Handle("/feed.xml", [](const RecordedRequest& r, HttpConnection& c) {
    if (r.Header("If-None-Match") == "\"v1\"") c.Send("HTTP/1.1 304 Not Modified\r\nETag: \"v1\"\r\n\r\n");
  });
  DownloadTestWorker worker;
  DownloadTestWorker::Job job;
  job.url = server.Url("/feed.xml");
  job.etag = "\"v1\"";
  const auto result = worker.Fetch(job);
  EXPECT_FALSE(result.error);
  EXPECT_EQ(result.httpCode, 304);
  EXPECT_EQ(result.body, "");
}

TEST(DownloadRedirects, FollowsRelativeAndAbsoluteHopsUpToSix) {
  TestHttpServer server;
  Redirect(server, "/r1", 302, "r2");                       // relative
  Redirect(server, "/r2", 307, server.Url("/r3"));          // absolute
  Redirect(server, "/r3", 302, "/r4");
  Redirect(server, "/r4", 302, "r5?x=1");
  Redirect(server, "/r5", 307, "/r6");
  Redirect(server, "/r6", 302, "/final");
  Answer(server, "/final", "<rss>six hops</rss>");
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/r1"));
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.body, "<rss>six hops</rss>");
  EXPECT_EQ(result.finalUrl, server.Url("/final"));
  EXPECT_EQ(result.url, server.Url("/r1"));  // only a 301 moves the feed
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_EQ(requests[4].target, "/r5?x=1");
  for (const auto& request : requests) EXPECT_FALSE(request.HasHeader("Cookie")) << request.target;
}

TEST(DownloadRedirects, SeventhRedirectFails) {
  TestHttpServer server;
  for (int i = 1; i <= 7; ++i) Redirect(server, "/r" + std::to_string(i), 302, "/r" + std::to_string(i + 1));
  Answer(server, "/r8", "never");
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/r1"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText, "Max redirects exceeded ! Max. 6");
  EXPECT_EQ(result.httpCode, 302);
  EXPECT_EQ(server.RequestCount("/r8"), 0u);
}

TEST(DownloadRedirects, SingleRelativeHopWorks) {
  TestHttpServer server;
  Redirect(server, "/old/feed", 302, "../new/feed.xml");
  Answer(server, "/new/feed.xml", "<rss>moved</rss>");
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/old/feed"));
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.finalUrl, server.Url("/new/feed.xml"));
}

TEST(DownloadRedirects, PermanentRedirectMarksTheFeedAsMoved) {
  TestHttpServer server;
  Redirect(server, "/old", 301, "/new");
  Answer(server, "/new", "<rss>new home</rss>");
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/old"));
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.url, server.Url("/new"));
}

TEST(DownloadRedirects, SeeOtherIsNotFollowed) {
  TestHttpServer server;
  Redirect(server, "/form", 303, "/elsewhere");
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/form"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.httpCode, 303);
  EXPECT_EQ(result.errorText, "HTTP/1.1 303 Moved");
  EXPECT_EQ(server.RequestCount("/elsewhere"), 0u);
}

TEST(DownloadErrors, HttpFailureCarriesTheStatusLine) {
  TestHttpServer server;
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/missing"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.httpCode, 404);
  EXPECT_EQ(result.errorText, "HTTP/1.1 404 Not Found");
}

TEST(DownloadErrors, UrlWithoutHostFailsBeforeAnyConnection) {
  DownloadTestWorker worker;
  const auto result = worker.Fetch("http:///feed.xml");
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText, "Host name is empty ! http:///feed.xml ");
  EXPECT_EQ(result.httpCode, -1);
}

TEST(DownloadErrors, KnownFeedUrlIsRefusedForANewFeed) {
  TestHttpServer server;
  Answer(server, "/feed.xml", "<rss/>......");
  DownloadTestWorker worker;
  worker.knownFeeds = {server.Url("/feed.xml")};
  DownloadTestWorker::Job job;
  job.url = server.Url("/feed.xml");
  job.itemId = 0;
  const auto result = worker.Fetch(job);
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.httpCode, 2147483647);
  EXPECT_EQ(result.errorText, "Feed (" + server.Url("/feed.xml") + ") is already in database ");
  EXPECT_EQ(server.Requests().size(), 0u);
}

TEST(DownloadErrors, RefusedConnectionIsASocketErrorNeverA200) {
  int port;
  { TestHttpServer closed; port = closed.Port(); }
  DownloadTestWorker worker;
  const auto result = worker.Fetch("http://127.0.0.1:" + std::to_string(port) + "/feed.xml");
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.httpCode, 999);
  EXPECT_NE(result.errorText.find("Socket Error # "), std::string::npos) << result.errorText;
}

TEST(DownloadAuthentication, BasicCredentialsComeFromTheHandler) {
  TestHttpServer server;
  server.Handle("/private.xml", [](const RecordedRequest& r, HttpConnection& c) {
    if (r.Header("Authorization") == "Basic " + THttpAuthChallenge::Base64("ann:secret")) {
      c.Send(TestHttpServer::Response(200, "OK", {}, "<rss>private</rss>"));
    } else {
      c.Send(TestHttpServer::Response(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"feeds\""}}, ""));
    }
  });
  DownloadTestWorker worker;
  std::vector<std::string> asked;
  worker.handlers.OnHttpAuthenticate = [&](uint32_t, TFeedOpType operation, const std::string& url, int32_t itemId,
                                  TQueueJobTypes kind, std::string& user, std::string& password) {
    asked.push_back(url + " " + std::to_string(itemId) + " " + EnumName(operation) + " " + EnumName(kind) + " " + user);
    user = "ann";
    password = "secret";
  };
  DownloadTestWorker::Job job;
  job.url = server.Url("/private.xml");
  job.itemId = 12;
  job.userName = "stored";
  const auto result = worker.Fetch(job);
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.body, "<rss>private</rss>");
  EXPECT_EQ(asked, (std::vector<std::string>{server.Url("/private.xml") + " 12 cUpdate CfeedOperation stored"}));
  EXPECT_FALSE(server.Requests().at(0).HasHeader("Authorization"));
}

TEST(DownloadAuthentication, CredentialsInANewFeedsUrlAreSentAsCredentials) {
  TestHttpServer server;
  server.Handle("/p.xml", [](const RecordedRequest& r, HttpConnection& c) {
    if (r.Header("Authorization") == "Basic " + THttpAuthChallenge::Base64("bob:pa:ss")) {
      c.Send(TestHttpServer::Response(200, "OK", {}, "<rss>bob's</rss>"));
    } else {
      c.Send(TestHttpServer::Response(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"x\""}}, ""));
    }
  });
  DownloadTestWorker worker;
  DownloadTestWorker::Job job;
  job.url = "http://bob:pa:ss@127.0.0.1:" + std::to_string(server.Port()) + "/p.xml";
  job.itemId = 0;
  const auto result = worker.Fetch(job);
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.url, server.Url("/p.xml"));
  EXPECT_EQ(server.Requests().at(0).Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_FALSE(server.Requests().at(0).HasHeader("Authorization"));
}

// Checks a Digest answer as RFC 2617 computes it (qop auth).
bool DigestMatches(const RecordedRequest& r, const std::string& user, const std::string& password) {
  const std::string header = r.Header("Authorization");
  if (header.rfind("Digest ", 0) != 0) return false;
  auto p = THttpAuthChallenge::ParseParams(header.substr(7));
  const std::string ha1 = THttpAuthChallenge::Md5Hex(user + ":" + p["realm"] + ":" + password);
  const std::string ha2 = THttpAuthChallenge::Md5Hex(r.method + ":" + p["uri"]);
  const std::string expected =
      THttpAuthChallenge::Md5Hex(ha1 + ":" + p["nonce"] + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
  return p["username"] == user && p["uri"] == r.target && p["nonce"] == "n0nce" && p["opaque"] == "0paque" &&
         p["response"] == expected;
}

// Offered beside Basic, Digest is taken: the password never travels in clear.
TEST(DownloadAuthentication, DigestChallengeIsAnsweredAlsoWhenBasicIsOffered) {
  TestHttpServer server;
  server.Handle("/digest.xml", [](const RecordedRequest& r, HttpConnection& c) {
    if (DigestMatches(r, "ann", "secret")) {
      c.Send(TestHttpServer::Response(200, "OK", {}, "<rss>digest</rss>"));
    } else {
      c.Send(TestHttpServer::Response(
          401, "Unauthorized",
          {{"WWW-Authenticate", "Basic realm=\"feeds@h\""},
           {"WWW-Authenticate", "Digest realm=\"feeds@h\", qop=\"auth,auth-int\", nonce=\"n0nce\", opaque=\"0paque\""}},
          ""));
    }
  });
  DownloadTestWorker worker;
  int asked = 0;
  worker.handlers.OnHttpAuthenticate = [&](uint32_t, TFeedOpType, const std::string&, int32_t, TQueueJobTypes,
                                  std::string& user, std::string& password) {
    ++asked;
    user = "ann";
    password = "secret";
  };
  const auto result = worker.Fetch(server.Url("/digest.xml?page=1"));
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.body, "<rss>digest</rss>");
  EXPECT_EQ(asked, 1);
  for (const RecordedRequest& r : server.Requests()) EXPECT_NE(r.Header("Authorization").rfind("Basic", 0), 0u);
}

TEST(DownloadAuthentication, GivesUpAtTheEleventhChallenge) {
  TestHttpServer server;
  server.Handle("/locked", [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"x\""}}, ""));
  });
  DownloadTestWorker worker;
  int asked = 0;
  worker.handlers.OnHttpAuthenticate = [&](uint32_t, TFeedOpType, const std::string&, int32_t, TQueueJobTypes,
                                  std::string& user, std::string& password) {
    ++asked;
    user = "ann";
    password = "wrong";
  };
  const auto result = worker.Fetch(server.Url("/locked"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText, "Authorization failed ! (wrong password?)");
  EXPECT_EQ(result.httpCode, 401);
  EXPECT_EQ(server.RequestCount("/locked"), 11u);
  EXPECT_EQ(asked, 10);
}

TEST(DownloadAuthentication, NoCredentialsEndsWithTheChallenge) {
  TestHttpServer server;
  server.Handle("/locked", [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"x\""}}, ""));
  });
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/locked"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.httpCode, 401);
  EXPECT_EQ(result.errorText, "HTTP/1.1 401 Unauthorized");
  EXPECT_EQ(server.RequestCount("/locked"), 1u);
}

}  // namespace
}  // namespace tidewell
