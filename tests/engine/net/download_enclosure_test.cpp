// SPDX-License-Identifier: MIT
// Enclosure downloads: the temporary file, the final name and where it may
// go, and what a failed transfer leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/net/http_auth.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"
#include "tests/engine/net/download_test_worker.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::DownloadTestWorker;
using testing::RecordedResult;
using testing_support::HeaderList;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

const std::string kAudio(3000, 'a');

class EnclosureDownload : public ::testing::Test {
 protected:
  void Serve(const std::string& path, const HeaderList& headers, const std::string& body = kAudio, int status = 200) {
    server_.Handle(path, [=](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(status, status == 200 ? "OK" : "Not Found", headers, body));
    });
  }

  RecordedResult Fetch(const std::string& path, const std::string& proposedName = "episode.bin") {
    DownloadTestWorker::Job job;
    job.url = server_.Url(path);
    job.kind = TQueueJobTypes::CgetEnclosure;
    job.targetFolder = kt::Utf8ToWide(target_);
    job.fileName = kt::Utf8ToWide(proposedName);
    return worker_.Fetch(job);
  }

  std::vector<std::string> FilesIn(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static std::string Content(const kt::WideString& file) {
    std::ifstream in(kt::WideToUtf8(file), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  testing_support::TempFolder root_;
  const std::string target_ = [this] {
    fs::create_directories(root_.File("a/b/target"));
    return root_.File("a/b/target/");
  }();
  TestHttpServer server_;
  DownloadTestWorker worker_;
};

TEST_F(EnclosureDownload, WritesATemporaryFileAndNamesItAfterTheUrl) {
  Serve("/media/episode-12.mp3", {{"Content-Type", "audio/mpeg"}});
  std::string temporary;
  worker_.onResponse = [&](TtidewellTrdJobPropClass& result, int phase) {
    if (phase == 1) temporary = kt::WideToUtf8(result.localFileName);
  };
  const RecordedResult result = Fetch("/media/episode-12.mp3");
  ASSERT_FALSE(result.error) << result.errorText;
  ASSERT_EQ(worker_.results.size(), 2u);
  EXPECT_EQ(worker_.results[0].phase, 1);
  EXPECT_EQ(result.phase, 2);
  EXPECT_EQ(temporary.rfind(target_ + "download", 0), 0u) << temporary;
  EXPECT_EQ(temporary.substr(temporary.size() - 4), ".tmp");
  EXPECT_EQ(kt::WideToUtf8(result.localFileName), target_ + "episode-12.mp3");
  EXPECT_EQ(Content(result.localFileName), kAudio);
  EXPECT_EQ(FilesIn(target_), (std::vector<std::string>{"episode-12.mp3"}));
}

TEST_F(EnclosureDownload, SecondFileOfTheSameNameGetsANumber) {
  Serve("/ep.mp3", {});
  Fetch("/ep.mp3");
  const RecordedResult second = Fetch("/ep.mp3");
  ASSERT_FALSE(second.error) << second.errorText;
  EXPECT_EQ(kt::WideToUtf8(second.localFileName), target_ + "ep(1).mp3");
}

TEST_F(EnclosureDownload, ContentDispositionNameIsUsedWithItsBlanks) {
  Serve("/get.mp3", {{"Content-Disposition", "attachment; filename=\"Tide%20Talk%2E01.mp3\""}});
  const RecordedResult result = Fetch("/get.mp3");
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(kt::WideToUtf8(result.localFileName), target_ + "Tide Talk.01.mp3");
}

TEST_F(EnclosureDownload, ShortContentDispositionNameKeepsTheUrlName) {
  Serve("/show.ogg", {{"Content-Disposition", "attachment; filename=a.b"}});
  const RecordedResult result = Fetch("/show.ogg");
  EXPECT_EQ(kt::WideToUtf8(result.localFileName), target_ + "show.ogg");
}

TEST_F(EnclosureDownload, ContentDispositionNeverLeavesTheTargetFolder) {
  Serve("/x1", {{"Content-Disposition", "attachment; filename=\"../../evil.mp3\""}});
  Serve("/x2", {{"Content-Disposition", "attachment; filename=..\\..\\worse.mp3"}});
  Serve("/x3", {{"Content-Disposition", "attachment; filename=\"%2E%2E/%2E%2E/x.mp3\""}});
  for (const char* path : {"/x1", "/x2", "/x3"}) {
    const RecordedResult result = Fetch(path, "episode.mp3");
    ASSERT_FALSE(result.error) << path << ": " << result.errorText;
  }
  EXPECT_EQ(FilesIn(target_), (std::vector<std::string>{"evil.mp3", "worse.mp3", "x.mp3"}));
  EXPECT_EQ(FilesIn(root_.File("a/b")), (std::vector<std::string>{"target"}));
  EXPECT_EQ(FilesIn(root_.File("a")), (std::vector<std::string>{"b"}));
}

TEST_F(EnclosureDownload, ContentTypeSuppliesAMissingExtension) {
  Serve("/get.php", {{"Content-Type", "audio/mpeg"}});
  const RecordedResult result = Fetch("/get.php", "episode");
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(kt::WideToUtf8(result.localFileName), target_ + "episode.mp3");
}

TEST_F(EnclosureDownload, FailedTransfersLeaveNoFile) {
  Serve("/gone.mp3", {}, "missing", 404);
  server_.Handle("/cut.mp3", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1000, 'x'));
  });
  server_.Handle("/same.mp3", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 304 Not Modified\r\n\r\n");
  });
  const RecordedResult gone = Fetch("/gone.mp3");
  EXPECT_TRUE(gone.error);
  EXPECT_EQ(gone.httpCode, 404);
  const RecordedResult cut = Fetch("/cut.mp3");
  EXPECT_TRUE(cut.error);
  EXPECT_EQ(cut.httpCode, 999);
  EXPECT_NE(cut.errorText.find("Connection Closed Gracefully."), std::string::npos) << cut.errorText;
  const RecordedResult same = Fetch("/same.mp3");
  EXPECT_TRUE(same.error);  // a 304 stores no enclosure
  EXPECT_EQ(same.httpCode, 304);
  EXPECT_EQ(same.errorText, "HTTP/1.1 304 Not Modified");
  EXPECT_TRUE(FilesIn(target_).empty());
}

TEST_F(EnclosureDownload, TerminatedTransferLeavesNoFileAndSaysWhy) {
  server_.Handle("/long.mp3", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
    c.SendSlowly(std::string(100000, 'x'), 1000, 20);
  });
  worker_.handlers.OnDownloading = [](uint32_t, int32_t bytes, int32_t, const std::string&, int32_t, int32_t, TQueueJobTypes,
                             bool& terminate) { terminate = bytes > 2000; };
  const RecordedResult result = Fetch("/long.mp3");
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText, "Fetch operation was aborted");
  EXPECT_TRUE(FilesIn(target_).empty());
}

TEST_F(EnclosureDownload, UnwritableTargetFolderIsAnError) {
  Serve("/ep.mp3", {});
  DownloadTestWorker::Job job;
  job.url = server_.Url("/ep.mp3");
  job.kind = TQueueJobTypes::CgetEnclosure;
  job.targetFolder = kt::Utf8ToWide(root_.File("no/such/folder/"));
  const RecordedResult result = worker_.Fetch(job);
  EXPECT_TRUE(result.error);
  EXPECT_EQ(result.errorText.rfind("Can't create file ", 0), 0u) << result.errorText;
  EXPECT_EQ(server_.Requests().size(), 0u);
}

TEST_F(EnclosureDownload, OwnersCredentialsAndLinkAreUsed) {
  server_.Handle("/feeds/ep.mp3", [](const RecordedRequest& r, HttpConnection& c) {
    if (r.Header("Authorization") == "Basic " + THttpAuthChallenge::Base64("owner:pw")) {
      c.Send(TestHttpServer::Response(200, "OK", {}, kAudio));
    } else {
      c.Send(TestHttpServer::Response(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"r\""}}, ""));
    }
  });
  worker_.enclosureOwnerFound = true;
  worker_.enclosureOwner = {server_.Url("/feeds/rss.xml"), "owner", "pw", "", 0};
  DownloadTestWorker::Job job;
  job.url = "ep.mp3";
  job.kind = TQueueJobTypes::CgetEnclosure;
  job.targetFolder = kt::Utf8ToWide(target_);
  const RecordedResult result = worker_.Fetch(job);
  ASSERT_FALSE(result.error) << result.errorText;
  EXPECT_EQ(kt::WideToUtf8(result.localFileName), target_ + "ep.mp3");
}

}  // namespace
}  // namespace tidewell
