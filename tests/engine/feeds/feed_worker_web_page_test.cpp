// SPDX-License-Identifier: MIT
// Article web pages and raw-data requests: the webpages row, answers handed
// back to the application, and the on-disk file cache with its filecache
// rows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/net/file_stream_ext.h"
#include "engine/tidewell_utilities.h"
#include "tests/engine/feeds/feed_worker_fixture.h"

namespace tidewell::feed_worker_testing {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string FileContent(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class WebPageJob : public FeedWorkerTest {
 protected:
  WebPageJob() { article_ = db_.InsertArticle(db_.InsertFeed(Url("/feed.xml")), u"A"); }
  int32_t article_ = 0;
};

TEST_F(WebPageJob, PageFetchedTwiceKeepsOneRowWithTheNewerContent) {
  int answers = 0;
  server_.Handle("/story", [&](const testing_support::RecordedRequest&, testing_support::HttpConnection& c) {
    const std::string body = ++answers == 1 ? "<p>first</p>" : "<p>second version</p>";
    c.Send(testing_support::TestHttpServer::Response(200, "OK", {{"Content-Type", "text/html"}}, body));
  });
  StartWorker();
  worker_->AddJob(Url("/story"), article_, TQueueJobTypes::CgetArticle, u"");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  const std::string where = " from webpages where article_id=" + std::to_string(article_);
  EXPECT_EQ(db_.QueryText("select content" + where), "<p>first</p>");
  const double firstTime = db_.QueryDateTime("select last_updated" + where);
  worker_->AddJob(Url("/story"), article_, TQueueJobTypes::CgetArticle, u"");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 2; }));
  EXPECT_EQ(db_.QueryInt64("select count(*)" + where), 1);
  EXPECT_EQ(db_.QueryText("select content" + where), "<p>second version</p>");
  EXPECT_GE(db_.QueryDateTime("select last_updated" + where), firstTime);
  EXPECT_EQ(db_.QueryInt64("select link_id" + where), 0);
  ASSERT_EQ(events_.webPages.size(), 2u);
  EXPECT_EQ(events_.webPages[1].articleId, article_);
  EXPECT_EQ(events_.webPages[1].errCat, TErrorCategory::noErrors);
  EXPECT_EQ(events_.webPages[1].size, 21);
  EXPECT_EQ(events_.webPages[1].url, Url("/story"));
}

TEST_F(WebPageJob, FailedFetchIsReportedAndStoresNothing) {
  Serve("/missing", 404, "text/html", "no");
  StartWorker();
  worker_->AddJob(Url("/missing"), article_, TQueueJobTypes::CgetArticle, u"");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  ASSERT_EQ(events_.webPages.size(), 1u);
  EXPECT_EQ(events_.webPages[0].errCat, TErrorCategory::ErrHttpGet);
  EXPECT_NE(events_.webPages[0].errMsg.find("404"), std::string::npos) << events_.webPages[0].errMsg;
  EXPECT_EQ(db_.QueryInt64("select count(*) from webpages"), 0);
}

TEST_F(WebPageJob, FailureWithoutErrorTextIsNamedByItsCode) {
  TestFeedWorker worker(&db_.Connection());
  std::vector<std::string> messages;
  worker.WorkerEvents().Change([&](TtidewellWorkerHandlers& h) {
    h.OnArticleWebPageDownLoaded = [&](uint32_t, int32_t, const std::string&, int32_t, TErrorCategory cat,
                                       const std::string& msg) {
      EXPECT_EQ(cat, TErrorCategory::ErrHttpGet);
      messages.push_back(msg);
    };
  });
  TtidewellTrdJobPropClass result(Url("/x"), nullptr, u"", TQueueJobTypes::CgetArticle);
  result.httpCode = 404;
  result.error = true;
  worker.Answer(TQueueJobTypes::CgetArticle, article_, result);
  result.errorText = "Read timed out.";
  result.httpCode = 999;
  worker.Answer(TQueueJobTypes::CgetArticle, article_, result);
  EXPECT_EQ(messages, (std::vector<std::string>{"HTTP ERROR 404", "Read timed out."}));
  EXPECT_EQ(db_.QueryInt64("select count(*) from webpages"), 0);
}

class RawDataJob : public FeedWorkerTest {
 protected:
  RawDataJob() { cache_ = folder_.File("cache/"); }

  TestFeedWorker& Start() {
    TestFeedWorker& worker = StartWorker();
    worker.cacheDirectory = cache_;
    return worker;
  }

  // A request for the file cache (delivery kind 1) in cache mode 2.
  static PHttpRawDataReq CacheRequest(int32_t articleId, uint8_t cacheMode = 2) {
    auto* request = new THttpRawDataReq;
    request->stream = new kt::TMemoryStream;
    request->flags = THttpRawDataReq::kOwnsStream;
    request->articleId = articleId;
    request->deliveryKind = THttpRawDataReq::kStoreInFileCache;
    request->cacheMode = cacheMode;
    return request;
  }

  void Fetch(const std::string& url, PHttpRawDataReq request) {
    const size_t before = events_.stops.size();
    ASSERT_TRUE(worker_->AddRawDataJob(url, request));
    ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == before + 1; }));
  }

  std::string CachedName(const std::string& url) const {
    std::string normalized;
    for (char c : Lower(url)) {
      if (c != ' ') normalized += c;
    }
    return Lower(BytesMD5Hex(normalized));
  }

  std::string Row(const std::string& column, int32_t articleId) {
    return db_.QueryText("select " + column + " from filecache where articleid=" + std::to_string(articleId));
  }

  std::string cache_;
};

TEST_F(RawDataJob, AnswerDeliveredByEventCarriesTheBodyAndFreesTheRequest) {
  Serve("/data.json", 200, "application/json", "{\"a\":1}");
  Start();
  auto* request = new THttpRawDataReq;
  request->stream = new kt::TMemoryStream;
  request->flags = THttpRawDataReq::kOwnsStream;
  Fetch(Url("/data.json"), request);
  ASSERT_EQ(events_.rawData.size(), 1u);
  EXPECT_EQ(events_.rawData[0].url, Url("/data.json"));
  EXPECT_EQ(events_.rawData[0].errorCode, 200);
  EXPECT_EQ(events_.rawData[0].contentType, "application/json");
  EXPECT_EQ(events_.rawData[0].contentSize, 7);
  EXPECT_EQ(events_.rawData[0].body, "{\"a\":1}");
}

TEST_F(RawDataJob, AnswerWrittenToAFileIsClosedBeforeTheApplicationIsTold) {
  Serve("/big.bin", 200, "application/octet-stream", "0123456789abcdef");
  Start();
  const std::string file = folder_.File("raw.bin");
  auto* request = new THttpRawDataReq;
  request->stream = new TFileStreamExt(kt::Utf8ToWide(file), TFileStreamExt::kCreate);
  request->flags = THttpRawDataReq::kOwnsStream;
  Fetch(Url("/big.bin"), request);
  ASSERT_EQ(events_.rawData.size(), 1u);
  EXPECT_EQ(events_.rawData[0].fileName, file);
  EXPECT_FALSE(events_.rawData[0].streamHeld);
  EXPECT_EQ(FileContent(file), "0123456789abcdef");
}

TEST_F(RawDataJob, AnswerWrittenToAFileIsCachedBeforeTheFileIsClosed) {
  Serve("/doc.html", 200, "text/html", "<html>in a file</html>");
  Start();
  PHttpRawDataReq request = CacheRequest(12);
  delete request->stream;
  request->stream = new TFileStreamExt(kt::Utf8ToWide(folder_.File("doc.tmp")), TFileStreamExt::kCreate);
  Fetch(Url("/doc.html"), request);
  EXPECT_EQ(FileContent(cache_ + "127.0.0.1/" + CachedName(Url("/doc.html")) + ".html"), "<html>in a file</html>");
  EXPECT_EQ(events_.cached.size(), 1u);
}

TEST_F(RawDataJob, CachedPageIsWrittenUnderItsHostAndRecorded) {
  Serve("/Page%20One.html", 200, "text/html", "<html>cached</html>");
  Start();
  const std::string url = Url("/Page%20One.html");
  Fetch(url, CacheRequest(41));
  const std::string path = cache_ + "127.0.0.1/" + CachedName(Url("/Page One.html")) + ".html";
  EXPECT_EQ(FileContent(path), "<html>cached</html>");
  EXPECT_EQ(Row("hostdir", 41), "127.0.0.1");
  EXPECT_EQ(Row("filename", 41), CachedName(Url("/Page One.html")) + ".html");
  EXPECT_EQ(Row("lasthttpcode", 41), "200");
  EXPECT_EQ(Row("contenttype", 41), "text/html");
  ASSERT_EQ(events_.cached.size(), 1u);
  EXPECT_EQ(events_.cached[0].articleId, 41);
  EXPECT_EQ(std::to_string(events_.cached[0].cachedItemId), Row("id", 41));
  EXPECT_EQ(events_.cached[0].fileName, path);
  EXPECT_TRUE(events_.rawData.empty());
}

TEST_F(RawDataJob, UrlsDifferingInCaseAndBlanksShareOneCacheFile) {
  Serve("/Page%20One", 200, "text/html", "<html>1</html>");
  Serve("/PAGEONE", 200, "text/html", "<html>2</html>");
  Start();
  Fetch(Url("/Page%20One"), CacheRequest(1));
  Fetch(Url("/PAGEONE"), CacheRequest(2));
  EXPECT_EQ(Row("filename", 1), Row("filename", 2));
  EXPECT_EQ(Row("hostdir", 1), Row("hostdir", 2));
}

TEST_F(RawDataJob, SecondAnswerForACachedArticleOnlyRefreshesItsCode) {
  int answers = 0;
  server_.Handle("/p", [&](const testing_support::RecordedRequest&, testing_support::HttpConnection& c) {
    const bool first = ++answers == 1;
    c.Send(testing_support::TestHttpServer::Response(first ? 200 : 404, first ? "OK" : "Not Found",
                                                     {{"Content-Type", "text/html"}}, first ? "<html/>" : "x"));
  });
  Start();
  Fetch(Url("/p"), CacheRequest(5));
  const std::string name = Row("filename", 5);
  Fetch(Url("/p"), CacheRequest(5));
  EXPECT_EQ(db_.QueryInt64("select count(*) from filecache"), 1);
  EXPECT_EQ(Row("lasthttpcode", 5), "404");
  EXPECT_EQ(Row("filename", 5), name);
  EXPECT_EQ(events_.cached.size(), 1u);
}

TEST_F(RawDataJob, ContentTypeIsGuessedFromAnHtmlStartTag) {
  Serve("/untyped", 200, "", "  <HTML><BODY>x</BODY></HTML>");
  Start();
  Fetch(Url("/untyped"), CacheRequest(8));
  EXPECT_EQ(Row("filename", 8), CachedName(Url("/untyped")) + ".html");
}

TEST_F(RawDataJob, UnknownContentIsRecordedAsAnErrorWithoutAFile) {
  Serve("/blob", 200, "", std::string("\x01\x02\x03 binary", 10));
  Start();
  Fetch(Url("/blob"), CacheRequest(9));
  EXPECT_EQ(Row("filename", 9), "error:|can't determine content type@@" + CachedName(Url("/blob")));
  EXPECT_FALSE(fs::exists(cache_ + "127.0.0.1/" + CachedName(Url("/blob"))));
  EXPECT_TRUE(events_.cached.empty());
}

TEST_F(RawDataJob, RequestOutsideCacheModeTwoStoresNothing) {
  Serve("/skip", 200, "text/html", "<html/>");
  Start();
  Fetch(Url("/skip"), CacheRequest(10, 1));
  EXPECT_EQ(db_.QueryInt64("select count(*) from filecache"), 0);
  EXPECT_FALSE(fs::exists(cache_));
  EXPECT_TRUE(events_.cached.empty());
  EXPECT_TRUE(events_.rawData.empty());
}

TEST_F(RawDataJob, WithoutACacheFolderNothingIsWritten) {
  Serve("/nocache", 200, "text/html", "<html/>");
  StartWorker();
  Fetch(Url("/nocache"), CacheRequest(11));
  EXPECT_EQ(db_.QueryInt64("select count(*) from filecache"), 0);
  EXPECT_TRUE(events_.cached.empty());
}

}  // namespace
}  // namespace tidewell::feed_worker_testing
