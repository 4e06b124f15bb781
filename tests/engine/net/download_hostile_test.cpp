// SPDX-License-Identifier: MIT
// Servers that try to hold a worker or fill its memory: compressed bodies
// that expand far beyond the quota, and answers that trickle in a byte now
// and then, which never trip the read time-out.
#include <gtest/gtest.h>

#include <string>

#include "support/temp_folder.h"
#include "support/test_http_server.h"
#include "tests/engine/net/download_test_worker.h"

namespace tidewell {
namespace {

using testing::DownloadTestWorker;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

// 64 MiB of blanks, gzipped to some 64 KiB.
const std::string& GzipBomb() {
  static const std::string bomb = TestHttpServer::Gzip(std::string(64 * 1024 * 1024, ' '));
  return bomb;
}

void ServeBomb(TestHttpServer& server, const std::string& path) {
  server.Handle(path, [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Encoding", "gzip"}}, GzipBomb()));
  });
}

// The number after the opening parenthesis of a quota message.
int64_t SizeInMessage(const std::string& message) {
  const size_t open = message.find('(');
  return open == std::string::npos ? -1 : std::stoll(message.substr(open + 1));
}

TEST(HostileServers, CompressedBodiesAreHeldToTheirQuotaByTheirDecodedSize) {
  TestHttpServer server;
  ServeBomb(server, "/bomb.xml");
  ServeBomb(server, "/bomb.html");
  DownloadTestWorker worker;
  TTransferLimits limits;
  limits.decodedBodyCeiling = 8 * 1024 * 1024;
  worker.SetTransferLimits(limits);

  const auto feed = worker.Fetch(server.Url("/bomb.xml"));
  EXPECT_TRUE(feed.error);
  EXPECT_EQ(feed.errorText.rfind("Feed size (", 0), 0u) << feed.errorText;
  EXPECT_NE(feed.errorText.find("Quata size 5242880 bytes"), std::string::npos) << feed.errorText;
  EXPECT_GT(SizeInMessage(feed.errorText), 5242880);
  EXPECT_LT(SizeInMessage(feed.errorText), 5242880 + 1024 * 1024);
  EXPECT_LT(feed.body.size(), 5242880u + 1024 * 1024);

  // Kinds without a quota of their own stop at the ceiling.
  const auto page = worker.Fetch(server.Url("/bomb.html"), TQueueJobTypes::CgetArticle);
  EXPECT_TRUE(page.error);
  EXPECT_EQ(page.errorText.rfind("Content size (", 0), 0u) << page.errorText;
  EXPECT_NE(page.errorText.find("Limit 8388608 bytes"), std::string::npos) << page.errorText;
  EXPECT_LT(SizeInMessage(page.errorText), 8388608 + 1024 * 1024);
}

// Headers at once, then one byte of the body every 100 ms: never idle long
// enough for the read time-out.
void ServeTrickle(TestHttpServer& server, const std::string& path, const std::string& head) {
  server.Handle(path, [head](const RecordedRequest&, HttpConnection& c) {
    c.Send(head);
    for (int i = 0; i < 600; ++i) {
      if (!c.Send("x") || !c.Wait(100)) return;
    }
  });
}

TEST(HostileServers, TrickledAnswersEndAtTheTransfersDeadline) {
  TestHttpServer server;
  ServeTrickle(server, "/trickle.xml", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
  // The head itself trickles, in short lines: no body ever begins.
  server.Handle("/trickle-head.xml", [](const RecordedRequest&, HttpConnection& c) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 100; ++i) head += "X-F: " + std::to_string(i % 10) + "\r\n";
    for (char ch : head) {
      if (!c.Send(std::string(1, ch)) || !c.Wait(40)) return;
    }
  });
  DownloadTestWorker worker(1000);
  TTransferLimits limits;
  limits.deadlineMs = 1500;
  worker.SetTransferLimits(limits);
  for (const char* path : {"/trickle.xml", "/trickle-head.xml"}) {
    const auto result = worker.Fetch(server.Url(path));
    EXPECT_TRUE(result.error) << path;
    EXPECT_EQ(result.httpCode, 999) << path;
    EXPECT_EQ(result.errorText, "Transfer timed out: no complete answer within 1.5 seconds") << path;
  }
}

TEST(HostileServers, EnclosuresMustKeepAMinimumAverageSpeed) {
  TestHttpServer server;
  ServeTrickle(server, "/trickle.mp3", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
  // Slow but moving: 20 pieces of 100 bytes, one every 50 ms (2000 bytes/s),
  // with a pause of 300 ms that the rest of the window makes up for.
  server.Handle("/slow.mp3", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 2000\r\n\r\n");
    for (int i = 0; i < 20; ++i) {
      if (!c.Send(std::string(100, 'a')) || !c.Wait(i == 5 ? 300 : 50)) return;
    }
  });
  testing_support::TempFolder folder;
  DownloadTestWorker worker;
  TTransferLimits limits;
  limits.deadlineMs = 500;  // not for enclosures
  limits.lowSpeedBytesPerSecond = 200;
  limits.lowSpeedWindowMs = 1000;
  worker.SetTransferLimits(limits);
  DownloadTestWorker::Job job;
  job.kind = TQueueJobTypes::CgetEnclosure;
  job.targetFolder = kt::Utf8ToWide(folder.Path());
  job.fileName = u"episode.mp3";

  job.url = server.Url("/trickle.mp3");
  const auto trickled = worker.Fetch(job);
  EXPECT_TRUE(trickled.error);
  EXPECT_EQ(trickled.httpCode, 999);
  EXPECT_EQ(trickled.errorText, "Transfer timed out: fewer than 200 bytes per second over 1 seconds");

  job.url = server.Url("/slow.mp3");
  const auto slow = worker.Fetch(job);
  EXPECT_FALSE(slow.error) << slow.errorText;
  EXPECT_EQ(slow.httpCode, 200);
}

}  // namespace
}  // namespace tidewell
