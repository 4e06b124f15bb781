// SPDX-License-Identifier: MIT
// Episodes whose place goes away while they download: the downloads folder
// renamed, or the episode's feed deleted. The engine's own workers fetch
// from a local HTTP server that holds each answer half-way until the test
// has made its change, into a real database and real folders.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/tidewell.h"
#include "support/engine_fixture.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

using testing::Downloaded;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;

constexpr size_t kEpisodeBytes = 4 * 1024 * 1024;

class EnclosureWithdrawalTest : public testing::EngineFixture {
 protected:
  ~EnclosureWithdrawalTest() override { released = true; }

  // A feed at path whose one episode is served at media: half of it at
  // once, the rest once released (never, when holdForever).
  int32_t FeedWithSlowEpisode(const std::string& path, const std::string& media, bool holdForever) {
    ServeDocument(path, "application/rss+xml",
                  "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + path +
                      "</title><link>http://example.org/</link><item><title>Episode</title><guid>" + media +
                      "</guid><enclosure url=\"" + server.Url(media) + "\" length=\"" +
                      std::to_string(kEpisodeBytes) + "\" type=\"audio/mpeg\"/></item></channel></rss>");
    ServeSlowly(media, holdForever);
    const int32_t feedId = engine.AddFeed(u"", server.Url(path), u"");
    Pass(feedId);
    return feedId;
  }
  void ServeSlowly(const std::string& media, bool holdForever) {
    server.Handle(media, [this, holdForever](const RecordedRequest&, HttpConnection& c) {
      const std::string half(kEpisodeBytes / 2, 'a');
      c.Send("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " + std::to_string(kEpisodeBytes) +
             "\r\n\r\n" + half);
      ++halfSent;
      while (holdForever || !released) {
        if (!c.Wait(20)) return;
      }
      c.Send(half);
    });
  }

  std::atomic<int> halfSent{0};
  std::atomic<bool> released{false};
};

// Two episodes are in flight (one per enclosure worker) and a third waits
// when the folder is renamed: the two fail saying why and leave nothing in
// the renamed folder; the third makes the folder again and arrives.
TEST_F(EnclosureWithdrawalTest, AFolderRenamedDuringTheDownloadFailsItAndTheNextEpisodeMakesTheFolderAgain) {
  const std::string folder = db.Folder().File("downloads/");
  const std::string renamed = db.Folder().File("downloads-renamed/");
  std::filesystem::create_directories(folder);
  const int32_t first = EnclosureOfFeed(FeedWithSlowEpisode("/one.xml", "/media/one.mp3", false));
  const int32_t second = EnclosureOfFeed(FeedWithSlowEpisode("/two.xml", "/media/two.mp3", false));
  const int32_t third = EnclosureOfFeed(FeedWithSlowEpisode("/three.xml", "/media/three.mp3", false));
  engine.DownloadEnclosures({first, second, third}, kt::Utf8ToWide(folder));
  ASSERT_TRUE(RunUntil([&] { return halfSent == 2; }));
  std::filesystem::rename(folder, renamed);
  released = true;
  ASSERT_TRUE(RunUntil([&] { return downloaded.size() == 3 && engine.QueuedJobCount() == 0; }));

  int failed = 0;
  for (int32_t id : {first, second, third}) {
    const Downloaded* d = EventOf(id);
    ASSERT_NE(d, nullptr) << id;
    if (d->errCat == TErrorCategory::noErrors) {
      EXPECT_EQ(EnclosureColumn("download_status", id), "2");
      EXPECT_EQ(kt::WideToUtf8(d->localFileName).rfind(folder, 0), 0u) << kt::WideToUtf8(d->localFileName);
      continue;
    }
    ++failed;
    EXPECT_EQ(d->errCat, TErrorCategory::ErrIO) << d->errMsg;
    EXPECT_EQ(d->errMsg.rfind("Enclosure download failed !\r\nCan't write file " + folder + "download", 0), 0u)
        << d->errMsg;
    EXPECT_NE(d->errMsg.find("No such file or directory"), std::string::npos) << d->errMsg;
    EXPECT_EQ(EnclosureColumn("download_status", id), "3");
    EXPECT_EQ(EnclosureColumn("filelocation", id), "");
  }
  EXPECT_EQ(failed, 2);
  EXPECT_EQ(FilesIn(renamed), std::vector<std::string>{});
  ASSERT_TRUE(std::filesystem::is_directory(folder));
  const std::vector<std::string> arrived = FilesIn(folder);
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(std::filesystem::file_size(folder + arrived[0]), kEpisodeBytes);
}

// One feed is deleted while both episodes stream: its transfer stops and
// its file goes; the other feed's episode arrives.
TEST_F(EnclosureWithdrawalTest, AFeedDeletedDuringItsEpisodesDownloadStopsItAndRemovesTheFile) {
  const std::string folder = db.Folder().File("downloads/");
  std::filesystem::create_directories(folder);
  const int32_t doomedFeed = FeedWithSlowEpisode("/doomed.xml", "/media/doomed.mp3", true);
  const int32_t doomed = EnclosureOfFeed(doomedFeed);
  const int32_t kept = EnclosureOfFeed(FeedWithSlowEpisode("/kept.xml", "/media/kept.mp3", false));
  engine.DownloadEnclosures({doomed, kept}, kt::Utf8ToWide(folder));
  ASSERT_TRUE(RunUntil([&] { return halfSent == 2; }));
  engine.DeleteFeeds({doomedFeed}, false);
  ASSERT_EQ(db.QueryInt64("select count(*) from enclosures where enclosure_id=" + std::to_string(doomed)), 0);
  // The doomed episode's server holds its answer until the test ends: only
  // the worker can end that transfer.
  ASSERT_TRUE(RunUntil([&] { return EventOf(doomed) != nullptr; }));
  EXPECT_EQ(EventOf(doomed)->errMsg,
            "Enclosure download failed !\r\nThe episode's feed or article was deleted: download stopped");
  released = true;
  ASSERT_TRUE(RunUntil([&] { return downloaded.size() == 2 && engine.QueuedJobCount() == 0; }));
  const Downloaded* arrived = EventOf(kept);
  ASSERT_NE(arrived, nullptr);
  EXPECT_EQ(arrived->errCat, TErrorCategory::noErrors) << arrived->errMsg;
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"kept.mp3"});
  EXPECT_EQ(EnclosureColumn("download_status", kept), "2");
}

}  // namespace
}  // namespace tidewell
