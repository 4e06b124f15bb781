// SPDX-License-Identifier: MIT
// How the download receives bodies: content decoding, transfer codings,
// quotas, cut-short bodies, time-outs, stop requests, progress events and
// raw-data requests.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/test_http_server.h"
#include "tests/engine/net/download_test_worker.h"

namespace tidewell {
namespace {

using testing::DownloadTestWorker;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

const std::string kFeed = "<rss version=\"2.0\"><channel><title>Tide tables</title></channel></rss>";

void AnswerRaw(TestHttpServer& server, const std::string& path, const std::string& bytes) {
  server.Handle(path, [bytes](const RecordedRequest&, HttpConnection& c) { c.Send(bytes); });
}

TEST(DownloadBodies, GzipAndDeflateBodiesAreDecoded) {
  TestHttpServer server;
  AnswerRaw(server, "/gzip", TestHttpServer::Response(200, "OK", {{"Content-Encoding", "gzip"}}, TestHttpServer::Gzip(kFeed)));
  AnswerRaw(server, "/zlib",
            TestHttpServer::Response(200, "OK", {{"Content-Encoding", "deflate"}}, TestHttpServer::Deflate(kFeed, false)));
  AnswerRaw(server, "/raw",
            TestHttpServer::Response(200, "OK", {{"Content-Encoding", "deflate"}}, TestHttpServer::Deflate(kFeed, true)));
  DownloadTestWorker worker;
  for (const char* path : {"/gzip", "/zlib", "/raw"}) {
    const auto result = worker.Fetch(server.Url(path));
    ASSERT_FALSE(result.error) << path << ": " << result.errorText;
    EXPECT_EQ(result.body, kFeed) << path;
  }
}

TEST(DownloadBodies, CorruptCompressedBodyIsAnError) {
  TestHttpServer server;
  AnswerRaw(server, "/bad", TestHttpServer::Response(200, "OK", {{"Content-Encoding", "gzip"}}, "this is not gzip data"));
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/bad"));
  EXPECT_TRUE(result.error);
  EXPECT_NE(result.errorText.find("Content decoding failed"), std::string::npos) << result.errorText;
}

TEST(DownloadBodies, ChunkedAndLengthlessBodiesArrive) {
  TestHttpServer server;
  AnswerRaw(server, "/chunked",
            TestHttpServer::Response(200, "OK", {{"Transfer-Encoding", "chunked"}},
                                     TestHttpServer::Chunked({kFeed.substr(0, 10), kFeed.substr(10)})));
  server.Handle("/lengthless", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n" + kFeed);
  });
  DownloadTestWorker worker;
  auto result = worker.Fetch(server.Url("/chunked"));
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.body, kFeed);
  EXPECT_EQ(result.contentLength, static_cast<int32_t>(kFeed.size()));  // the byte count stands in
  result = worker.Fetch(server.Url("/lengthless"));
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.body, kFeed);
}

TEST(DownloadBodies, LengthlessBodyOfFewerThanTenBytesIsALostConnection) {
  TestHttpServer server;
  server.Handle("/tiny", [](const RecordedRequest&, HttpConnection& c) { c.Send("HTTP/1.1 200 OK\r\n\r\n<rss/>"); });
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/tiny"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText, "Connection Closed Gracefully.");
}

TEST(DownloadBodies, BodyCutShortIsAnErrorWhateverTheStatusSaid) {
  TestHttpServer server;
  server.Handle("/short", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(400, 'x'));
  });
  server.Handle("/reset", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(20000, 'x'));
    c.Wait(100);
    c.Reset();
  });
  server.Handle("/chunks", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n20\r\n" + std::string(32, 'x') + "\r\n");
  });
  DownloadTestWorker worker;
  for (const char* path : {"/short", "/reset", "/chunks"}) {
    const auto result = worker.Fetch(server.Url(path));
    EXPECT_TRUE(result.error) << path;
    EXPECT_EQ(result.httpCode, 999) << path << ": " << result.errorText;
  }
  EXPECT_NE(worker.results[1].errorText.find("Socket Error # "), std::string::npos) << worker.results[1].errorText;
}

TEST(DownloadQuota, FeedGrowingBeyondTheQuotaIsStoppedWhileItStreams) {
  TestHttpServer server;
  std::atomic<bool> clientLeft{false};
  server.Handle("/huge.xml", [&](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string piece(64 * 1024, 'x');
    for (int i = 0; i < 400; ++i) {  // 25 MiB if nobody stops it
      if (!c.Send(TestHttpServer::Chunked({piece}).substr(0, piece.size() + 9))) {
        clientLeft = true;
        return;
      }
    }
  });
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/huge.xml"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.httpCode, 200);
  EXPECT_EQ(result.errorText.rfind("Feed size (", 0), 0u) << result.errorText;
  EXPECT_NE(result.errorText.find(" bytes) too large. Quata size 5242880 bytes"), std::string::npos);
  const long total = std::stol(result.errorText.substr(11));
  EXPECT_GT(total, 5242880);
  EXPECT_LT(total, 5242880 + 1024 * 1024);
}

TEST(DownloadQuota, AnnouncedLengthBeyondTheQuotaFailsAtOnce) {
  TestHttpServer server;
  server.Handle("/big.xml", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 6000000\r\n\r\n" + std::string(100, 'x'));
    c.Wait(5000);
  });
  DownloadTestWorker worker;
  const auto result = worker.Fetch(server.Url("/big.xml"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText, "Feed size (6000000 bytes) too large. Quata size 5242880 bytes");
}

TEST(DownloadQuota, RawDataOverTheSizeLimitFailsInsteadOfBeingCut) {
  TestHttpServer server;
  AnswerRaw(server, "/page", TestHttpServer::Response(200, "OK", {}, std::string(3000, 'p')));
  DownloadTestWorker worker;
  worker.SetRawDataSizeLimit(2000);
  kt::TMemoryStream received;
  THttpRawDataReq request;
  request.stream = &received;
  request.cacheMode = 2;
  DownloadTestWorker::Job job;
  job.url = server.Url("/page");
  job.kind = TQueueJobTypes::CgetRawData;
  job.rawDataReq = &request;
  auto result = worker.Fetch(job);
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText, "Can't determine content type");

  request.cacheMode = 0;  // not under the limit
  received.Clear();
  result = worker.Fetch(job);
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(received.Size(), 3000);
}

TEST(DownloadTimeouts, StallLongerThanTheReadTimeoutFails) {
  TestHttpServer server;
  server.Handle("/no-answer", [](const RecordedRequest&, HttpConnection& c) { c.Wait(20000); });
  server.Handle("/stalled-body", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
    c.Wait(20000);
  });
  DownloadTestWorker worker(1000);
  for (const char* path : {"/no-answer", "/stalled-body"}) {
    const auto result = worker.Fetch(server.Url(path));
    EXPECT_TRUE(result.error) << path;
    EXPECT_EQ(result.httpCode, 999) << path;
    EXPECT_EQ(result.errorText, "Read timed out.") << path;
  }
}

TEST(DownloadStop, StopRequestEndsATransferAtEveryStage) {
  TestHttpServer server;
  server.Handle("/no-answer", [](const RecordedRequest&, HttpConnection& c) { c.Wait(30000); });
  server.Handle("/stalled-body", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
    c.Wait(30000);
  });
  for (const char* path : {"/no-answer", "/stalled-body"}) {
    DownloadTestWorker worker;
    std::atomic<bool> finished{false};
    std::thread stopper([&] {
      while (server.RequestCount(path) == 0) platform::SleepMs(10);
      platform::SleepMs(200);
      worker.RequestStop();
    });
    const auto result = worker.Fetch(server.Url(path));
    stopper.join();
    EXPECT_TRUE(result.error) << path;
    EXPECT_EQ(result.errorText, "Fetch operation was aborted") << path;
  }
}

// A listener whose accept queue is full: further connections hang in their
// handshake, as with an unreachable host.
class FullListener {
 public:
  FullListener() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 0);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    for (int i = 0; i < 3; ++i) {
      const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
      clients_.push_back(client);
    }
    platform::SleepMs(100);
  }
  ~FullListener() {
    for (int client : clients_) ::close(client);
    ::close(listener_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/feed.xml"; }

 private:
  int listener_;
  int port_ = 0;
  std::vector<int> clients_;
};

TEST(DownloadStop, StopRequestEndsATransferStillConnecting) {
  FullListener listener;
  DownloadTestWorker worker;
  std::thread stopper([&] {
    platform::SleepMs(300);
    worker.RequestStop();
  });
  const auto result = worker.Fetch(listener.Url());
  stopper.join();
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.httpCode, -1);
  EXPECT_EQ(result.errorText, "Fetch operation was aborted");
}

TEST(DownloadProgress, DownloadingFiresOnTheMainThreadAndCanTerminate) {
  TestHttpServer server;
  server.Handle("/slow.xml", [](const RecordedRequest&, HttpConnection& c) {
    const std::string body(4000, 'x');
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n");
    c.SendSlowly(body, 500, 30);
  });
  DownloadTestWorker worker;
  std::vector<int32_t> downloaded;
  std::vector<uint32_t> threads;
  worker.handlers.OnDownloading = [&](uint32_t thread, int32_t bytes, int32_t total, const std::string& url, int32_t parent,
                             int32_t item, TQueueJobTypes kind, bool& terminate) {
    threads.push_back(platform::CurrentThreadId());
    downloaded.push_back(bytes);
    EXPECT_EQ(total, 4000);
    EXPECT_EQ(parent, 7);
    EXPECT_EQ(item, 1);
    EXPECT_EQ(thread, worker.WorkerThreadId());
    terminate = bytes >= 1500;
  };
  std::vector<std::string> begins;
  std::vector<int32_t> ends;
  worker.handlers.OnHttpReqBegin = [&](uint32_t, int32_t, const std::string& url, TQueueJobTypes) { begins.push_back(url); };
  worker.handlers.OnHttpReqEnd = [&](uint32_t, int32_t, const std::string&, TQueueJobTypes, int32_t code) { ends.push_back(code); };
  DownloadTestWorker::Job job;
  job.url = server.Url("/slow.xml");
  const auto result = worker.FetchOnWorkerThread(job);
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText, "Fetch operation was aborted");
  ASSERT_FALSE(downloaded.empty());
  EXPECT_GE(downloaded.back(), 1500);
  EXPECT_LT(downloaded.back(), 4000);
  for (uint32_t thread : threads) EXPECT_EQ(thread, platform::CurrentThreadId());
  EXPECT_EQ(begins, (std::vector<std::string>{server.Url("/slow.xml")}));
  EXPECT_EQ(ends, (std::vector<int32_t>{999}));
}

TEST(DownloadRawData, PutAndPostSendTheRequestsStream) {
  TestHttpServer server;
  AnswerRaw(server, "/upload", TestHttpServer::Response(201, "Created", {}, "stored"));
  DownloadTestWorker worker;
  for (uint8_t kind : {THttpRawDataReq::kPut, THttpRawDataReq::kPost}) {
    kt::TMemoryStream payload;
    payload.WriteBuffer("payload bytes", 13);
    THttpRawDataReq request;
    request.requestKind = kind;
    request.stream = &payload;
    DownloadTestWorker::Job job;
    job.url = server.Url("/upload");
    job.kind = TQueueJobTypes::CgetRawData;
    job.rawDataReq = &request;
    const auto result = worker.Fetch(job);
    EXPECT_FALSE(result.error) << result.errorText;
    EXPECT_EQ(result.httpCode, 201);
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "PUT");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/octet-stream");
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].Header("Content-Type"), "text/html");
  for (const auto& request : requests) {
    EXPECT_EQ(request.body, "payload bytes");
    EXPECT_EQ(request.Header("Pragma"), "no-cache");
    EXPECT_EQ(request.Header("Content-Length"), "13");
    EXPECT_FALSE(request.HasHeader("Expect"));
  }
}

TEST(DownloadRawData, MissingRequestRecordIsAnInternalError) {
  DownloadTestWorker worker;
  const auto result = worker.Fetch("http://127.0.0.1:1/x", TQueueJobTypes::CgetRawData);
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText, "Internal buffer rec is NIL");
}

TEST(DownloadOpenSearch, SearchFeedsFetchTheirQueryUrl) {
  TestHttpServer server;
  AnswerRaw(server, "/search", TestHttpServer::Response(200, "OK", {}, kFeed));
  DownloadTestWorker worker;
  worker.openSearchTerms = "tide tables";
  worker.openSearchTemplate = server.Url("/search?q={searchTerms}&n={count}&start={startIndex}&lang={language}");
  DownloadTestWorker::Job job;
  job.url = "http://feeds.example/search-feed";
  job.openSearch = true;
  const auto result = worker.Fetch(job);
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(server.Requests().at(0).target, "/search?q=tide%20tables&n=1000&start=1&lang=*");
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

TEST(DownloadEvents, HandlersFailureIsReportedAsFatalErrorAndTheTransferGoesOn) {
  TestHttpServer server;
  AnswerRaw(server, "/feed.xml", TestHttpServer::Response(200, "OK", {}, kFeed));
  DownloadTestWorker worker;
  worker.handlers.OnHttpReqBegin = [](uint32_t, int32_t, const std::string&, TQueueJobTypes) {
    throw kt::Exception("handler broke");
  };
  std::vector<std::string> fatal;
  worker.handlers.OnFatalError = [&](uint32_t, const std::string& message, const std::string& url, int32_t,
                                     TQueueJobTypes) { fatal.push_back(message + " " + url); };
  const auto result = worker.Fetch(server.Url("/feed.xml"));
  EXPECT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(result.body, kFeed);
  EXPECT_EQ(fatal, (std::vector<std::string>{"handler broke " + server.Url("/feed.xml")}));
}

TEST(DownloadEvents, NoEventFiresOnceAStopIsRequested) {
  TestHttpServer server;
  AnswerRaw(server, "/feed.xml", TestHttpServer::Response(200, "OK", {}, kFeed));
  DownloadTestWorker worker;
  int fired = 0;
  worker.handlers.OnHttpReqBegin = [&](uint32_t, int32_t, const std::string&, TQueueJobTypes) { ++fired; };
  worker.handlers.OnHttpReqEnd = [&](uint32_t, int32_t, const std::string&, TQueueJobTypes, int32_t) { ++fired; };
  worker.RequestStop();
  const auto result = worker.Fetch(server.Url("/feed.xml"));
  EXPECT_TRUE(result.error);
  EXPECT_EQ(fired, 0);
}

}  // namespace
}  // namespace tidewell
