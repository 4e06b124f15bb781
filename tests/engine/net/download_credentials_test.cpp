// SPDX-License-Identifier: MIT
// Credentials stay with the scheme, host and port they were given for: a
// redirect to another host (127.0.0.2), another port or from https to plain
// http meets a challenge that is asked anew, naming the URL that asks.
#include <gtest/gtest.h>
#include <httplib.h>

#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/net/http_auth.h"
#include "support/temp_folder.h"
#include "support/test_certificate.h"
#include "support/test_http_server.h"
#include "support/test_https_server.h"
#include "tests/engine/net/download_test_worker.h"

namespace tidewell {
namespace {

using testing::DownloadTestWorker;
using testing::RecordedResult;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

const std::string kFeed = "<rss version=\"2.0\"><channel><title>Private</title></channel></rss>";

std::string BasicOf(const std::string& user, const std::string& password) {
  return "Basic " + THttpAuthChallenge::Base64(user + ":" + password);
}

// Serves kFeed only to the given user; everybody else gets a Basic challenge.
void Guard(TestHttpServer& server, const std::string& path, const std::string& user, const std::string& password) {
  server.Handle(path, [answer = BasicOf(user, password)](const RecordedRequest& r, HttpConnection& c) {
    if (r.Header("Authorization") == answer) {
      c.Send(TestHttpServer::Response(200, "OK", {}, kFeed));
    } else {
      c.Send(TestHttpServer::Response(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"r\""}}, ""));
    }
  });
}

void Redirect(TestHttpServer& server, const std::string& path, int status, const std::string& location) {
  server.Handle(path, [status, location](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(status, "Moved", {{"Location", location}}, ""));
  });
}

size_t RequestsWithAuthorization(const TestHttpServer& server) {
  size_t count = 0;
  for (const RecordedRequest& r : server.Requests()) count += r.HasHeader("Authorization") ? 1 : 0;
  return count;
}

// What the authentication event was asked: the URL and the credentials it
// was handed.
struct Asked {
  std::string url;
  std::string user;
  std::string password;
  bool operator==(const Asked&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Asked& a) {
    return out << a.url << " [" << a.user << ":" << a.password << "]";
  }
};

class CredentialsTest : public ::testing::Test {
 protected:
  // The event records what it is asked and answers with answers[url], if any.
  void AnswerChallenges(std::map<std::string, std::pair<std::string, std::string>> answers) {
    worker.handlers.OnHttpAuthenticate = [this, answers](uint32_t, TFeedOpType, const std::string& url, int32_t,
                                                         TQueueJobTypes, std::string& user, std::string& password) {
      asked.push_back({url, user, password});
      const auto answer = answers.find(url);
      if (answer == answers.end()) return;
      user = answer->second.first;
      password = answer->second.second;
    };
  }
  RecordedResult FetchAsAnn(const std::string& url) {
    DownloadTestWorker::Job job;
    job.url = url;
    job.userName = "ann";
    job.password = "secret";
    return worker.Fetch(job);
  }

  TestHttpServer first;
  TestHttpServer otherHost{"127.0.0.2"};
  TestHttpServer otherPort;
  DownloadTestWorker worker;
  std::vector<Asked> asked;
};

TEST_F(CredentialsTest, AnotherHostOrPortIsAskedAnewNamingItsOwnUrl) {
  Redirect(first, "/to-host.xml", 302, otherHost.Url("/feed.xml"));
  Redirect(first, "/to-port.xml", 301, otherPort.Url("/feed.xml"));
  Guard(otherHost, "/feed.xml", "bob", "b0b");
  Guard(otherPort, "/feed.xml", "cy", "cy!");

  // Without an event the given credentials never leave their own place.
  for (const std::string path : {"/to-host.xml", "/to-port.xml"}) {
    const RecordedResult result = FetchAsAnn(first.Url(path));
    EXPECT_TRUE(result.error) << path;
    EXPECT_EQ(result.httpCode, 401) << path;
  }
  EXPECT_EQ(otherHost.RequestCount("/feed.xml"), 1u);
  EXPECT_EQ(RequestsWithAuthorization(otherHost), 0u);
  EXPECT_EQ(RequestsWithAuthorization(otherPort), 0u);

  // The event hears who asks, with nothing filled in, and its answer is sent there.
  AnswerChallenges({{otherHost.Url("/feed.xml"), {"bob", "b0b"}}, {otherPort.Url("/feed.xml"), {"cy", "cy!"}}});
  EXPECT_FALSE(FetchAsAnn(first.Url("/to-host.xml")).error);
  const RecordedResult moved = FetchAsAnn(first.Url("/to-port.xml"));
  EXPECT_FALSE(moved.error) << moved.errorText;
  EXPECT_EQ(asked, (std::vector<Asked>{{otherHost.Url("/feed.xml"), "", ""}, {otherPort.Url("/feed.xml"), "", ""}}));
  for (const RecordedRequest& r : otherHost.Requests()) EXPECT_NE(r.Header("Authorization"), BasicOf("ann", "secret"));

  // A feed with credentials is not moved for good to another place, where
  // its stored credentials would be sent unasked at the next pass; one
  // without them is.
  EXPECT_EQ(moved.url, first.Url("/to-port.xml"));
  Redirect(first, "/open.xml", 301, otherPort.Url("/open.xml"));
  otherPort.Handle("/open.xml", [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", {}, kFeed));
  });
  EXPECT_EQ(worker.Fetch(first.Url("/open.xml")).url, otherPort.Url("/open.xml"));
}

TEST_F(CredentialsTest, ARedirectWithinTheSamePlaceKeepsThem) {
  Redirect(first, "/old.xml", 302, first.Url("/new.xml"));
  Guard(first, "/new.xml", "ann", "secret");
  const RecordedResult withoutEvent = FetchAsAnn(first.Url("/old.xml"));
  ASSERT_FALSE(withoutEvent.error) << withoutEvent.errorText;
  EXPECT_EQ(withoutEvent.body, kFeed);

  AnswerChallenges({});
  EXPECT_FALSE(FetchAsAnn(first.Url("/old.xml")).error);
  EXPECT_EQ(asked, (std::vector<Asked>{{first.Url("/new.xml"), "ann", "secret"}}));

  // Away to another host and back: the place's own challenge is answered
  // with its own credentials again.
  asked.clear();
  Redirect(first, "/away.xml", 302, otherHost.Url("/back.xml"));
  Redirect(otherHost, "/back.xml", 302, first.Url("/new.xml"));
  const RecordedResult roundTrip = FetchAsAnn(first.Url("/away.xml"));
  EXPECT_FALSE(roundTrip.error) << roundTrip.errorText;
  EXPECT_EQ(asked, (std::vector<Asked>{{first.Url("/new.xml"), "ann", "secret"}}));
  EXPECT_EQ(RequestsWithAuthorization(otherHost), 0u);
}

TEST_F(CredentialsTest, EnclosuresKeepTheirFeedsCredentialsAtTheFeedsPlace) {
  testing_support::TempFolder folder;
  Redirect(first, "/ep.mp3", 302, otherHost.Url("/ep.mp3"));
  Guard(otherHost, "/ep.mp3", "ann", "secret");
  Guard(first, "/own.mp3", "ann", "secret");
  worker.enclosureOwnerFound = true;
  worker.enclosureOwner = {first.Url("/feed.xml"), "ann", "secret", "", 0};
  DownloadTestWorker::Job job;
  job.kind = TQueueJobTypes::CgetEnclosure;
  job.targetFolder = kt::Utf8ToWide(folder.Path());
  job.url = first.Url("/ep.mp3");
  const RecordedResult moved = worker.Fetch(job);
  EXPECT_TRUE(moved.error);
  EXPECT_EQ(RequestsWithAuthorization(otherHost), 0u);

  job.url = first.Url("/own.mp3");
  const RecordedResult own = worker.Fetch(job);
  EXPECT_FALSE(own.error) << own.errorText;
}

// An https server whose every answer sends the client to location.
auto RedirectEverythingTo(const std::string& location) {
  return [location](httplib::SSLServer& server) {
    server.Get(".*", [location](const httplib::Request&, httplib::Response& response) {
      response.set_redirect(location, 302);
    });
  };
}

TEST_F(CredentialsTest, CredentialsGivenForHttpsAreNeverSentOverPlainHttp) {
  testing_support::TempFolder folder;
  const auto certificate = testing_support::MakeSelfSignedCertificate(folder.Path());
  Guard(first, "/feed.xml", "ann", "secret");
  testing_support::TestHttpsServer secure(certificate, RedirectEverythingTo(first.Url("/feed.xml")));
  worker.SetCaCertificateFile(certificate.certificateFile);
  AnswerChallenges({});
  const RecordedResult result = FetchAsAnn(secure.Url("/feed.xml"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.httpCode, 401);
  EXPECT_EQ(first.RequestCount("/feed.xml"), 1u);
  EXPECT_EQ(RequestsWithAuthorization(first), 0u);
  EXPECT_EQ(asked, (std::vector<Asked>{{first.Url("/feed.xml"), "", ""}}));

  // Nor does an episode of an https feed get them on plain http.
  Guard(first, "/ep.mp3", "ann", "secret");
  worker.enclosureOwnerFound = true;
  worker.enclosureOwner = {secure.Url("/feed.xml"), "ann", "secret", "", 0};
  DownloadTestWorker::Job job;
  job.kind = TQueueJobTypes::CgetEnclosure;
  job.targetFolder = kt::Utf8ToWide(folder.Path());
  job.url = first.Url("/ep.mp3");
  EXPECT_TRUE(worker.Fetch(job).error);
  EXPECT_EQ(RequestsWithAuthorization(first), 0u);
}

}  // namespace
}  // namespace tidewell
