// SPDX-License-Identifier: MIT
// Proxies from the settings only (never from the environment) and TLS with
// certificate verification.
#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>

#include <string>
#include <thread>

#include "engine/net/http_auth.h"
#include "support/temp_folder.h"
#include "support/test_certificate.h"
#include "support/test_http_server.h"
#include "support/test_https_server.h"
#include "tests/engine/net/download_test_worker.h"

namespace tidewell {
namespace {

using testing::DownloadTestWorker;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

const std::string kFeed = "<rss version=\"2.0\"><channel><title>Harbour news</title></channel></rss>";

void ServeFeed(TestHttpServer& server, const std::string& path) {
  server.Handle(path, [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", {}, kFeed));
  });
}

TProxySettings ProxyAt(const TestHttpServer& proxy) {
  TProxySettings settings;
  settings.enabled = true;
  settings.server = "127.0.0.1";
  settings.port = proxy.Port();
  return settings;
}

TEST(DownloadProxy, SettingsProxyCarriesTheRequestWithItsCredentials) {
  TestHttpServer proxy;
  proxy.Handle("/feed.xml", [](const RecordedRequest& r, HttpConnection& c) {
    if (r.Header("Proxy-Authorization") == "Basic " + THttpAuthChallenge::Base64("pu:pp")) {
      c.Send(TestHttpServer::Response(200, "OK", {}, kFeed));
    } else {
      c.Send(TestHttpServer::Response(407, "Proxy Authentication Required",
                                      {{"Proxy-Authenticate", "Basic realm=\"proxy\""}}, ""));
    }
  });
  DownloadTestWorker worker;
  TProxySettings settings = ProxyAt(proxy);
  settings.userName = "pu";
  settings.password = "pp";
  worker.SetProxySettings(settings);
  const auto result = worker.Fetch("http://feeds.invalid/feed.xml");
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.body, kFeed);
  const auto requests = proxy.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().target, "http://feeds.invalid/feed.xml");
  EXPECT_EQ(requests.back().Header("User-Agent"), "Tidewell");
  EXPECT_FALSE(requests.back().HasHeader("Proxy-Connection"));
}

TEST(DownloadProxy, BypassedAndDisabledProxiesAreNotUsed) {
  TestHttpServer proxy;
  TestHttpServer origin;
  ServeFeed(origin, "/feed.xml");
  DownloadTestWorker worker;
  TProxySettings settings = ProxyAt(proxy);
  settings.bypassProxyForAddresses = "intranet; 127.0.0.1*";
  worker.SetProxySettings(settings);
  EXPECT_FALSE(worker.Fetch(origin.Url("/feed.xml")).error);
  settings.bypassProxyForAddresses = "";
  settings.enabled = false;
  worker.SetProxySettings(settings);
  EXPECT_FALSE(worker.Fetch(origin.Url("/feed.xml")).error);
  EXPECT_EQ(proxy.Requests().size(), 0u);
  EXPECT_EQ(origin.RequestCount("/feed.xml"), 2u);
}

TEST(DownloadProxy, EnvironmentProxyVariablesAreIgnored) {
  TestHttpServer proxy;
  TestHttpServer origin;
  ServeFeed(origin, "/feed.xml");
  const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.Port());
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"}) {
    ::setenv(name, proxyUrl.c_str(), 1);
  }
  DownloadTestWorker worker;
  const auto result = worker.Fetch(origin.Url("/feed.xml"));
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"}) ::unsetenv(name);
  EXPECT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(proxy.Requests().size(), 0u);
}

// Serves the feed over HTTPS.
void ServeFeedOverHttps(httplib::SSLServer& server) {
  server.Get("/feed.xml", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kFeed, "text/xml");
  });
}

TEST(DownloadTls, SelfSignedCertificateIsRefusedUnlessItsAuthorityIsTrusted) {
  testing_support::TempFolder folder;
  const auto certificate = testing_support::MakeSelfSignedCertificate(folder.Path());
  testing_support::TestHttpsServer server(certificate, ServeFeedOverHttps);
  DownloadTestWorker worker;
  const auto refused = worker.Fetch(server.Url("/feed.xml"));
  EXPECT_TRUE(refused.error);
  EXPECT_EQ(refused.httpCode, -1);
  EXPECT_NE(refused.errorText.find("certificate"), std::string::npos) << refused.errorText;

  worker.SetCaCertificateFile(certificate.certificateFile);
  const auto trusted = worker.Fetch(server.Url("/feed.xml"));
  ASSERT_FALSE(trusted.error) << trusted.errorText;
  EXPECT_EQ(trusted.httpCode, 200);
  EXPECT_EQ(trusted.body, kFeed);
}

}  // namespace
}  // namespace tidewell
