// SPDX-License-Identifier: MIT
// Enclosure jobs: the row's download state while the transfer runs and after
// it, the file left in the target folder, and the events.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "engine/db/update_conflict.h"

#include "tests/engine/feeds/feed_worker_fixture.h"

namespace tidewell::feed_worker_testing {
namespace {

namespace fs = std::filesystem;

class EnclosureJob : public FeedWorkerTest {
 protected:
  EnclosureJob() {
    feed_ = db_.InsertFeed(Url("/feed.xml"));
    article_ = db_.InsertArticle(feed_, u"Episode");
    target_ = folder_.File("target/");
    fs::create_directories(target_);
  }

  int32_t Queue(const std::string& path) {
    const int32_t enclosure = db_.InsertEnclosure(article_, Url(path));
    worker_->AddJob(Url(path), enclosure, TQueueJobTypes::CgetEnclosure, kt::Utf8ToWide(target_));
    return enclosure;
  }

  std::string Column(const std::string& column, int32_t enclosure) {
    return db_.QueryText("select " + column + " from enclosures where enclosure_id=" + std::to_string(enclosure));
  }

  std::vector<std::string> FilesInTarget() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(target_)) names.push_back(entry.path().filename().string());
    return names;
  }

  int32_t feed_ = 0;
  int32_t article_ = 0;
  std::string target_;
};

TEST_F(EnclosureJob, SuccessfulDownloadIsStoredAndRecorded) {
  Serve("/media/episode-1.mp3", 200, "audio/mpeg", std::string(3000, 'a'));
  StartWorker();
  const int32_t enclosure = Queue("/media/episode-1.mp3");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  ASSERT_EQ(events_.enclosures.size(), 1u);
  const EnclosureEvent& e = events_.enclosures[0];
  EXPECT_EQ(e.encId, static_cast<uint32_t>(enclosure));
  EXPECT_EQ(e.errCat, TErrorCategory::noErrors) << e.errMsg;
  EXPECT_EQ(e.localFileName, target_ + "episode-1.mp3");
  EXPECT_EQ(e.mediaType, "audio/mpeg");
  EXPECT_EQ(e.size, 3000);
  EXPECT_EQ(Column("download_status", enclosure), "2");
  EXPECT_EQ(Column("filelocation", enclosure), target_ + "episode-1.mp3");
  EXPECT_EQ(Column("lasthttpcode", enclosure), "200");
  EXPECT_EQ(fs::file_size(target_ + "episode-1.mp3"), 3000u);
  EXPECT_TRUE(events_.fatalErrors.empty());
}

TEST_F(EnclosureJob, RowShowsTheTransferWhileItRuns) {
  server_.Handle("/slow.mp3", [](const testing_support::RecordedRequest&, testing_support::HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 4000\r\n\r\n");
    c.SendSlowly(std::string(4000, 'b'), 1000, 30);
  });
  std::string status, location, code;
  bool sameTimes = false;
  int32_t parent = -1;
  int32_t enclosure = 0;
  StartWorker([&](TtidewellWorkerHandlers& h) {
    h.OnDownloading = [&](uint32_t, int32_t, int32_t, const std::string&, int32_t parentId, int32_t, TQueueJobTypes,
                          bool&) {
      if (!status.empty()) return;
      parent = parentId;
      status = Column("download_status", enclosure);
      location = Column("filelocation", enclosure);
      code = Column("lasthttpcode", enclosure);
      sameTimes = db_.QueryInt64("select count(*) from enclosures where downloadStart=downloadEnd and enclosure_id=" +
                                 std::to_string(enclosure)) == 1;
    };
  });
  enclosure = Queue("/slow.mp3");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  EXPECT_EQ(status, "1");
  EXPECT_EQ(location.rfind(target_ + "download", 0), 0u) << location;
  EXPECT_EQ(location.substr(location.size() - 4), ".tmp");
  EXPECT_EQ(code, "0");
  EXPECT_TRUE(sameTimes);
  EXPECT_EQ(parent, article_);
  EXPECT_EQ(Column("download_status", enclosure), "2");
}

TEST_F(EnclosureJob, NotFoundLeavesAFailedRowAndNoFile) {
  Serve("/gone.mp3", 404, "text/plain", "gone");
  StartWorker();
  const int32_t enclosure = Queue("/gone.mp3");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  EXPECT_EQ(Column("download_status", enclosure), "3");
  EXPECT_EQ(Column("filelocation", enclosure), "");
  EXPECT_EQ(Column("lasthttpcode", enclosure), "404");
  EXPECT_TRUE(FilesInTarget().empty());
  ASSERT_EQ(events_.fatalErrors.size(), 1u);
  EXPECT_EQ(events_.fatalErrors[0].rfind("Enclosure download failed !\r\n", 0), 0u) << events_.fatalErrors[0];
  ASSERT_EQ(events_.enclosures.size(), 1u);
  EXPECT_EQ(events_.enclosures[0].errCat, TErrorCategory::ErrHttpGet);
  EXPECT_EQ(events_.enclosures[0].errMsg, events_.fatalErrors[0]);
}

TEST_F(EnclosureJob, EnclosureOfADeletedArticleIsSkippedBeforeAnyTransfer) {
  Serve("/old.mp3", 200, "audio/mpeg", "abc");
  StartWorker();
  db_.Execute("update articles set deleted=1 where id=" + std::to_string(article_));
  const int32_t enclosure = Queue("/old.mp3");
  worker_->AddJob(Url("/old.mp3"), 999999, TQueueJobTypes::CgetEnclosure, kt::Utf8ToWide(target_));
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 2; }));
  EXPECT_EQ(events_.starts.size(), 2u);
  EXPECT_EQ(server_.Requests().size(), 0u);
  EXPECT_TRUE(events_.enclosures.empty());
  EXPECT_EQ(Column("download_status", enclosure), "0");
}

// A name that a row holds is not free, whether or not its file is there (a
// download whose end was lost, a file the user deleted): the row may yet be
// marked downloaded with whatever lies under that name.
TEST_F(EnclosureJob, ANameThatAnotherRowHoldsIsNotGivenToTheNextEpisode) {
  Serve("/b/episode.mp3", 200, "audio/mpeg", "second");
  db_.Execute("insert into enclosures (article_id, url_, download_status, filelocation) values (" +
              std::to_string(article_) + ", '" + Url("/a/episode.mp3") + "', 1, '" + target_ + "episode.mp3')");
  StartWorker();
  const int32_t enclosure = Queue("/b/episode.mp3");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  EXPECT_EQ(Column("download_status", enclosure), "2");
  EXPECT_EQ(Column("filelocation", enclosure), target_ + "episode(1).mp3");
  EXPECT_EQ(FilesInTarget(), std::vector<std::string>{"episode(1).mp3"});
}

// A pass storing the episode's row (a rotated token) while its download
// ends: the end write meets that transaction's, and is done again.
TEST_F(EnclosureJob, AnEndWriteThatMeetsAnotherWriterOfTheRowIsDoneAgain) {
  Serve("/held.mp3", 200, "audio/mpeg", std::string(4000, 'b'));
  TTranWrapper holder(&db_.Connection());
  TQueryWrapper hold;
  hold.SetTransaction(&holder);
  int32_t enclosure = 0;
  StartWorker([&](TtidewellWorkerHandlers& h) {
    h.OnDownloading = [&](uint32_t, int32_t, int32_t, const std::string&, int32_t, int32_t, TQueueJobTypes, bool&) {
      if (!hold.SQL.Text().empty()) return;
      holder.StartTransaction();
      hold.SQL.Add("update enclosures set url_=url_ where enclosure_id=" + std::to_string(enclosure));
      hold.ExecQuery();
    };
  });
  TEST_SetBeforeConflictRetry([&] {
    if (holder.InTransaction()) holder.Rollback();
  });
  const std::unique_ptr<void, void (*)(void*)> unhook(&holder, [](void*) { TEST_SetBeforeConflictRetry({}); });
  enclosure = Queue("/held.mp3");
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  ASSERT_FALSE(hold.SQL.Text().empty());
  EXPECT_EQ(Column("download_status", enclosure), "2");
  EXPECT_EQ(FilesInTarget(), std::vector<std::string>{"held.mp3"});
}

}  // namespace
}  // namespace tidewell::feed_worker_testing
