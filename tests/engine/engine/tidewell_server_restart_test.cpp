// SPDX-License-Identifier: MIT
// The engine on a Firebird server that the test stops and starts again:
// every attachment is lost then. The workers and the main thread attach
// anew once the server answers (also after one that rejected the new
// attachment as it restarted), the loss is told once, a close while the
// server is away ends normally, and a finished download whose record the
// database cannot take now (away, reset at any of its steps, the row held)
// keeps its file and is recorded once the database answers: one file per
// episode, each named by its row.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/db/attach_call.h"
#include "engine/db/server_waits.h"
#include "engine/db/update_conflict.h"
#include "engine/feeds/tidewell_worker_thread_pr_atom_rss_feeds.h"
#include "engine/tidewell.h"
#include "engine_test_support.h"
#include "platform/main_loop.h"
#include "support/firebird_test_server.h"
#include "support/tcp_relay.h"
#include "support/test_http_server.h"

namespace tidewell {
namespace {

using testing::EngineOnDatabase;
using testing_support::FirebirdTestServer;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TcpRelay;
using testing_support::TestHttpServer;

constexpr int kWaitMs = 30000;

// Pumps the main loop until done() holds or the wait runs out.
bool PumpUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::MainThread().RunUntil([] { return false; }, 20);
  }
  return true;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class ServerRestartTest : public ::testing::Test {
 protected:
  static constexpr size_t kEpisodeBytes = 256 * 1024;

  ServerRestartTest() {
    platform::MainThread().BindToCurrentThread();
    http.Handle("/feed.xml", [this](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, FeedText()));
    });
    // Half the episode, then a pause until the test opens the gate.
    http.Handle("/media/slow.mp3", [this](const RecordedRequest&, HttpConnection& c) {
      const std::string whole =
          TestHttpServer::Response(200, "OK", {{"Content-Type", "audio/mpeg"}}, std::string(kEpisodeBytes, 'a'));
      const size_t cut = whole.size() - kEpisodeBytes / 2;
      c.Send(whole.substr(0, cut));
      halfway = true;
      while (!gate && c.Wait(10)) {
      }
      c.Send(whole.substr(cut));
    });
    Ttidewell& engine = Engine();
    engine.SetOnFeedProcessed([this](uint32_t, int32_t, const std::string&, int32_t, const WideString&, int32_t,
                                     TFeedOpType, void*, int32_t, int32_t, TErrorCategory category,
                                     const std::string& error, const TDynIntArray&) {
      processed.push_back(category == TErrorCategory::noErrors ? "" : error);
    });
    engine.SetOnFatalError([this](uint32_t threadId, const std::string& error, const std::string&, int32_t,
                                  TQueueJobTypes) { fatal[threadId].push_back(error); });
    engine.SetOnEnclosureDownloaded([this](uint32_t, uint32_t, const std::string&, int32_t, const std::string&,
                                           const WideString&, TErrorCategory category, const std::string& error) {
      downloads.push_back(category == TErrorCategory::noErrors ? "" : "failed: " + error);
    });
  }

  ~ServerRestartTest() override {
    gate = true;
    server.Start();
  }

  // Each fetch brings a changed item, so that each is processed.
  std::string FeedText() {
    return "<rss version=\"2.0\"><channel><title>Slow</title><link>http://example.org/</link>"
           "<description>d</description><item><title>Slow one, fetch " + std::to_string(++fetches) +
           "</title><guid>slow</guid>"
           "<enclosure url=\"" + http.Url("/media/slow.mp3") + "\" length=\"" + std::to_string(kEpisodeBytes) +
           "\" type=\"audio/mpeg\"/></item></channel></rss>";
  }

  Ttidewell& Engine() { return database.Engine(); }

  // Fetches the feed once; true when it was processed without error.
  bool FetchFeed(int32_t feedId) {
    const size_t before = processed.size();
    Engine().UpdateFeed(feedId);
    if (!PumpUntil([&] { return processed.size() > before && Engine().QueuedJobCount() == 0; })) return false;
    return processed.back().empty();
  }

  int FatalCount() {
    int count = 0;
    for (const auto& [thread, errors] : fatal) count += static_cast<int>(errors.size());
    return count;
  }

  int32_t StoredEnclosure() { return static_cast<int32_t>(database.QueryInt64("select max(enclosure_id) from enclosures")); }

  // Starts the episode's download and waits until it is half way, its row
  // marked as downloading.
  void StartDownload(int32_t enclosureId) {
    Engine().DownloadEnclosures({enclosureId}, kt::Utf8ToWide(episodes));
    ASSERT_TRUE(PumpUntil([&] { return halfway.load(); }));
    const std::string status = "select download_status from enclosures where enclosure_id=" + std::to_string(enclosureId);
    ASSERT_TRUE(PumpUntil([&] { return database.QueryInt64(status) == 1; }));
  }

  void FinishDownload() {
    const size_t before = downloads.size();
    gate = true;
    ASSERT_TRUE(PumpUntil([&] { return downloads.size() > before && Engine().QueuedJobCount() == 0; }));
  }

  // Serves /same-names.xml: episodes 1..count, each a file named
  // episode.mp3 of its own length (1000 + its number).
  void ServeSameNames(int count) {
    std::string items;
    for (int n = 1; n <= count; ++n) {
      const std::string path = "/media/" + std::to_string(n) + "/episode.mp3";
      http.Handle(path, [n](const RecordedRequest&, HttpConnection& c) {
        c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "audio/mpeg"}}, std::string(1000 + n, 'a')));
      });
      items += "<item><guid>" + path + "</guid><enclosure url=\"" + http.Url(path) + "\" type=\"audio/mpeg\"/></item>";
    }
    http.Handle("/same-names.xml", [items](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}},
                                      "<rss version=\"2.0\"><channel><title>S</title>" + items + "</channel></rss>"));
    });
  }
  static std::string SameNameRow(int n) {
    return " from enclosures where url_ like '%/" + std::to_string(n) + "/episode.mp3'";
  }
  int32_t SameNameEnclosure(int n) {
    return static_cast<int32_t>(database.QueryInt64("select enclosure_id" + SameNameRow(n)));
  }
  // The episodes whose row says downloaded and names a file holding the
  // episode (its own length).
  int KeptSameNames(int count) {
    int kept = 0;
    for (int n = 1; n <= count; ++n) {
      const std::string file = database.QueryText("select filelocation" + SameNameRow(n) + " and download_status=2");
      kept += std::filesystem::exists(file) && std::filesystem::file_size(file) == 1000u + n ? 1 : 0;
    }
    return kept;
  }
  // The workers attach through the relay from now on.
  void RouteWorkersThrough(TcpRelay& relay, int attachBoundMs = db::kServerAttachMs) {
    for (int slot = 0; slot < Ttidewell::kThreadCount; ++slot) {
      TDbConnWrapper& attachment = *Engine().Worker(slot)->OwnConnection();
      const std::string path = attachment.DBFileName().substr(attachment.DBFileName().find(':'));
      attachment.SetDBFileName("127.0.0.1/" + std::to_string(relay.Port()) + path);
      attachment.SetAttachBoundMs(attachBoundMs);
      attachment.Reattach();
    }
  }

  // The fatal events (what the application writes on standard error) that
  // contain needle.
  int FatalWith(const std::string& needle) {
    int count = 0;
    for (const auto& [thread, errors] : fatal)
      for (const std::string& error : errors) count += error.find(needle) != std::string::npos ? 1 : 0;
    return count;
  }
  // Hands the download out and waits until it was told and no job is left.
  void Download(int32_t enclosureId) {
    const size_t before = downloads.size();
    Engine().DownloadEnclosures({enclosureId}, kt::Utf8ToWide(episodes));
    ASSERT_TRUE(PumpUntil([&] { return downloads.size() > before && Engine().QueuedJobCount() == 0; }));
  }
  // Hands the download out; once the test's hook made the relay refuse,
  // the server stays out of reach for a few attempts to attach again.
  void DownloadRefusedAWhile(TcpRelay& relay, int32_t enclosureId) {
    const size_t before = downloads.size();
    const int refused = relay.Refused();
    Engine().DownloadEnclosures({enclosureId}, kt::Utf8ToWide(episodes));
    ASSERT_TRUE(PumpUntil([&] { return downloads.size() > before || relay.Refused() >= refused + 4; }));
    relay.SetRefusing(false);
    ASSERT_TRUE(PumpUntil([&] { return downloads.size() > before && Engine().QueuedJobCount() == 0; }));
  }
  // What the application's pass does: downloads whose end the database
  // missed are put back to new, and every new one is handed out.
  void ApplicationPass() {
    Engine().ResetDownloadsLeftWithoutJob();
    for (int64_t id = 0;;) {
      id = database.QueryInt64("select min(enclosure_id) from enclosures where download_status=0 and enclosure_id>" +
                               std::to_string(id));
      if (id == 0) break;
      Download(static_cast<int32_t>(id));
    }
  }

  FirebirdTestServer& server = FirebirdTestServer::Shared();
  TestHttpServer http;
  EngineOnDatabase database{TtidewellOptions{}, true};
  std::string episodes = database.Folder().File("episodes/");
  std::atomic<int> fetches{0};
  std::atomic<bool> halfway{false};
  std::atomic<bool> gate{false};
  std::vector<std::string> processed;
  std::vector<std::string> downloads;
  std::map<uint32_t, std::vector<std::string>> fatal;
};

TEST_F(ServerRestartTest, WorkersAndTheMainThreadAttachAgainOnceTheServerAnswersAndTellTheLossOnce) {
  Ttidewell& engine = Engine();
  const int32_t feedId = engine.AddFeed(u"", http.Url("/feed.xml"), u"");
  ASSERT_TRUE(FetchFeed(feedId));

  server.Stop();
  // While the server is away a call fails clearly, and jobs fail; each
  // thread tells the loss once, however many of its jobs fail.
  EXPECT_THROW(engine.UpdateFeed(feedId), kt::Exception);
  for (int job = 0; job < 3; ++job) {
    engine.UpdateFeeds({feedId}, true);
    ASSERT_TRUE(PumpUntil([&] { return engine.QueuedJobCount() == 0; }));
  }
  engine.SmartUpdateTimer();
  engine.SmartUpdateTimer();
  EXPECT_EQ(engine.TimerInterval(), Ttidewell::kErrorIntervalMs);
  EXPECT_GE(FatalCount(), 2);  // a worker's and the timer's
  for (const auto& [thread, errors] : fatal) EXPECT_EQ(errors.size(), 1u) << errors.back();

  const int told = FatalCount();
  server.Start();
  // The main thread's connections and the worker's attachment are made anew.
  EXPECT_EQ(database.QueryInt64("select count(*) from feeds"), 1);
  EXPECT_TRUE(FetchFeed(feedId)) << processed.back();
  // The timer finds due feeds again and hands them out.
  database.Execute("update feeds set next_feedupdate='2000-01-01'");
  const size_t before = processed.size();
  engine.SmartUpdateTimer();
  ASSERT_TRUE(PumpUntil([&] { return processed.size() > before && engine.QueuedJobCount() == 0; }));
  EXPECT_EQ(processed.back(), "");
  EXPECT_EQ(FatalCount(), told);
}

// A server that dies while it holds the worker's new connection unanswered,
// as one that restarts does, makes the client say "connection rejected by
// remote interface": a lost connection like any other, told once, and the
// worker attaches again once a server answers.
TEST_F(ServerRestartTest, AServerThatRejectsTheNewAttachmentWhileItRestartsIsALostConnectionToldOnce) {
  Ttidewell& engine = Engine();
  const int32_t feedId = engine.AddFeed(u"", http.Url("/feed.xml"), u"");
  ASSERT_TRUE(FetchFeed(feedId));
  server.Stop();
  for (int round = 0; round < 3; ++round) {
    server.Start();
    server.Pause();
    engine.UpdateFeeds({feedId}, true);
    // The worker's own request, not a connection the server's start left.
    ASSERT_TRUE(PumpUntil([&] { return server.UnreadRequests() > 0; }));
    server.Kill();
    ASSERT_TRUE(PumpUntil([&] { return engine.QueuedJobCount() == 0; }));
  }
  server.Start();
  EXPECT_TRUE(FetchFeed(feedId)) << processed.back();
  ASSERT_EQ(FatalCount(), 1);
  EXPECT_NE(fatal.begin()->second.front().find("connection rejected by remote interface"), std::string::npos)
      << fatal.begin()->second.front();
}

TEST_F(ServerRestartTest, AnEngineClosedWhileItsServerIsAwayEndsNormally) {
  const int32_t feedId = Engine().AddFeed(u"", http.Url("/feed.xml"), u"");
  ASSERT_TRUE(FetchFeed(feedId));
  server.Stop();
  // Every worker and collection gives back statements prepared on an
  // attachment that is gone.
  Engine().StopThreads(true);
  EXPECT_EQ(Engine().ThreadCount(), -1);
  EXPECT_NO_THROW(Engine().SetConnected(false));
}

TEST_F(ServerRestartTest, ADownloadWhoseServerCameBackMeanwhileIsRecorded) {
  ASSERT_TRUE(FetchFeed(Engine().AddFeed(u"", http.Url("/feed.xml"), u"")));
  const int32_t enclosureId = StoredEnclosure();
  std::filesystem::create_directories(episodes);
  StartDownload(enclosureId);
  // Its job runs: it is no download left without one.
  EXPECT_EQ(Engine().ResetDownloadsLeftWithoutJob(), TDynIntArray{});
  server.Restart();
  FinishDownload();
  EXPECT_EQ(downloads.back(), "");
  const std::string row = " from enclosures where enclosure_id=" + std::to_string(enclosureId);
  EXPECT_EQ(database.QueryInt64("select download_status" + row), 2);
  EXPECT_EQ(database.QueryText("select filelocation" + row), episodes + "slow.mp3");
  EXPECT_EQ(FilesIn(episodes), std::vector<std::string>{"slow.mp3"});
}

// The database goes away while the episode streams in: the file that came
// waits for it, and is recorded once the server answers. Nothing is fetched
// twice and nothing is thrown away.
TEST_F(ServerRestartTest, ADownloadWhoseEndCannotBeRecordedYetKeepsItsFileAndIsRecordedOnceTheServerAnswers) {
  ASSERT_TRUE(FetchFeed(Engine().AddFeed(u"", http.Url("/feed.xml"), u"")));
  const int32_t enclosureId = StoredEnclosure();
  std::filesystem::create_directories(episodes);
  StartDownload(enclosureId);
  server.Stop();
  const size_t before = downloads.size();
  gate = true;
  // The whole episode is in its temporary file, and the database is away.
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto& entry : std::filesystem::directory_iterator(episodes))
      if (entry.is_regular_file() && entry.file_size() == kEpisodeBytes) return true;
    return false;
  }));
  EXPECT_EQ(downloads.size(), before);
  server.Start();
  ASSERT_TRUE(PumpUntil([&] { return downloads.size() > before && Engine().QueuedJobCount() == 0; }));
  EXPECT_EQ(downloads.back(), "");
  const std::string row = " from enclosures where enclosure_id=" + std::to_string(enclosureId);
  EXPECT_EQ(database.QueryInt64("select download_status" + row), 2);
  EXPECT_EQ(database.QueryText("select filelocation" + row), episodes + "slow.mp3");
  EXPECT_EQ(FilesIn(episodes), std::vector<std::string>{"slow.mp3"});
  EXPECT_EQ(Engine().ResetDownloadsLeftWithoutJob(), TDynIntArray{});
  size_t fetched = 0;
  for (const RecordedRequest& request : http.Requests()) fetched += request.target == "/media/slow.mp3" ? 1 : 0;
  EXPECT_EQ(fetched, 1u);
}

// A reset of the worker's connection while a finished download looks up
// the names other rows hold: the look-up is made again on a new
// attachment, and the episode is recorded under a name of its own.
TEST_F(ServerRestartTest, AResetWhileAFinishedDownloadLooksUpTheNamesOfOtherRowsCostsNoDownload) {
  constexpr int kEpisodes = 3;
  ServeSameNames(kEpisodes);
  TcpRelay relay(server.Port());
  RouteWorkersThrough(relay);
  ASSERT_TRUE(FetchFeed(Engine().AddFeed(u"", http.Url("/same-names.xml"), u"")));
  std::filesystem::create_directories(episodes);
  std::atomic<bool> armed{false};
  TEST_SetBeforeEnclosureStep([&](TEnclosureStep step, int32_t) {
    if (step == TEnclosureStep::kNamesLookUp && armed.exchange(false)) relay.CutAtNextAnswer();
  });
  const std::unique_ptr<void, void (*)(void*)> unhook(&relay, [](void*) { TEST_SetBeforeEnclosureStep({}); });
  for (int n = 1; n <= kEpisodes; ++n) {
    armed = true;
    Download(SameNameEnclosure(n));
    EXPECT_EQ(downloads.back(), "") << n;
  }
  EXPECT_EQ(relay.Cuts(), kEpisodes);
  EXPECT_EQ(KeptSameNames(kEpisodes), kEpisodes);
  EXPECT_EQ(FilesIn(episodes), (std::vector<std::string>{"episode(1).mp3", "episode(2).mp3", "episode.mp3"}));
}

// A reset just before the update that names the finished file reaches the
// server, and new attachments refused for a while: the file is moved only
// once its row names it, so that each episode ends as one file its row
// names, also after the application's next pass.
TEST_F(ServerRestartTest, AResetBeforeTheFinishedFileIsNamedLeavesOneFilePerEpisodeEachNamedByItsRow) {
  constexpr int kEpisodes = 3;
  ServeSameNames(kEpisodes);
  TcpRelay relay(server.Port());
  RouteWorkersThrough(relay);
  ASSERT_TRUE(FetchFeed(Engine().AddFeed(u"", http.Url("/same-names.xml"), u"")));
  std::filesystem::create_directories(episodes);
  std::atomic<bool> armed{false};
  TEST_SetBeforeEnclosureStep([&](TEnclosureStep step, int32_t) {
    if (step != TEnclosureStep::kNameRecord || !armed.exchange(false)) return;
    relay.CutAtNextAnswer();
    relay.SetRefusing(true);
  });
  const std::unique_ptr<void, void (*)(void*)> unhook(&relay, [](void*) { TEST_SetBeforeEnclosureStep({}); });
  for (int n = 1; n <= kEpisodes; ++n) {
    armed = true;
    DownloadRefusedAWhile(relay, SameNameEnclosure(n));
  }
  ApplicationPass();
  EXPECT_EQ(relay.Cuts(), kEpisodes);
  EXPECT_EQ(KeptSameNames(kEpisodes), kEpisodes);
  EXPECT_EQ(FilesIn(episodes), (std::vector<std::string>{"episode(1).mp3", "episode(2).mp3", "episode.mp3"}));
  EXPECT_EQ(database.QueryInt64("select count(*) from enclosures where download_status<>2"), 0);
}

// Another transaction holds the episode's row when its end is to be
// recorded, for longer than the write's own retries: the file waits for the
// row, and is recorded once the row is free, without a second fetch.
TEST_F(ServerRestartTest, AWriteConflictThatOutlastsTheRetriesKeepsTheFinishedFile) {
  ASSERT_TRUE(FetchFeed(Engine().AddFeed(u"", http.Url("/feed.xml"), u"")));
  const int32_t enclosureId = StoredEnclosure();
  std::filesystem::create_directories(episodes);
  const std::string row = " from enclosures where enclosure_id=" + std::to_string(enclosureId);
  TTranWrapper holder(&Engine().MainConnection());
  TQueryWrapper hold;
  hold.SetTransaction(&holder);
  std::atomic<bool> held{false};
  TEST_SetBeforeEnclosureStep([&](TEnclosureStep step, int32_t) {
    if (step != TEnclosureStep::kEndRecord || held.exchange(true)) return;
    holder.StartTransaction();
    hold.SQL.Add("update enclosures set valid=valid where enclosure_id=" + std::to_string(enclosureId));
    ExecQueryTimed(&hold, false);
  });
  const std::unique_ptr<void, void (*)(void*)> unhook(&held, [](void*) { TEST_SetBeforeEnclosureStep({}); });
  const int64_t seen = UpdateConflictCounts().seen;
  const size_t before = downloads.size();
  gate = true;
  Engine().DownloadEnclosures({enclosureId}, kt::Utf8ToWide(episodes));
  ASSERT_TRUE(PumpUntil([&] {
    return downloads.size() > before || UpdateConflictCounts().seen >= seen + 2 * kUpdateConflictAttempts;
  }));
  hold.Close();
  holder.Rollback();
  ASSERT_TRUE(PumpUntil([&] { return downloads.size() > before && Engine().QueuedJobCount() == 0; }));
  EXPECT_EQ(downloads.back(), "");
  EXPECT_EQ(database.QueryInt64("select download_status" + row), 2);
  EXPECT_EQ(database.QueryText("select filelocation" + row), episodes + "slow.mp3");
  EXPECT_EQ(FilesIn(episodes), std::vector<std::string>{"slow.mp3"});
  size_t fetched = 0;
  for (const RecordedRequest& request : http.Requests()) fetched += request.target == "/media/slow.mp3" ? 1 : 0;
  EXPECT_EQ(fetched, 1u);
}

// The commit that records a finished download reaches the server, but its
// answer is lost with the connection, and the attachment made at once is
// refused as well. The download was recorded: it keeps its file, and the
// next episode of the same name gets a name of its own.
TEST_F(ServerRestartTest, ADownloadWhoseRecordedEndWentUnheardKeepsItsFile) {
  constexpr int kEpisodes = 3;
  ServeSameNames(kEpisodes);
  TcpRelay relay(server.Port());
  RouteWorkersThrough(relay);
  ASSERT_TRUE(FetchFeed(Engine().AddFeed(u"", http.Url("/same-names.xml"), u"")));
  std::filesystem::create_directories(episodes);
  std::atomic<bool> armed{false};
  TEST_SetBeforeEnclosureEndCommit([&](int32_t) {
    if (!armed.exchange(false)) return;
    relay.CutAtNextAnswer();
    relay.SetRefusing(true);
  });
  const std::unique_ptr<void, void (*)(void*)> unhook(&relay, [](void*) { TEST_SetBeforeEnclosureEndCommit({}); });
  for (int n = 1; n <= kEpisodes; ++n) {
    armed = true;
    DownloadRefusedAWhile(relay, SameNameEnclosure(n));
  }
  // Each row the server calls downloaded names a file holding its episode (its own length).
  EXPECT_EQ(relay.Cuts(), kEpisodes);
  EXPECT_EQ(kEpisodes - KeptSameNames(kEpisodes), 0) << "episodes lost in " << kEpisodes << " cuts";
  EXPECT_EQ(FilesIn(episodes), (std::vector<std::string>{"episode(1).mp3", "episode(2).mp3", "episode.mp3"}));
}

// A server that takes the worker's new connection, accepts its handshake
// and answers nothing more (a host that hangs, a route dropped while the
// worker attaches again): the attach gives up at its bound, the job fails
// and says why, and the worker attaches anew once the server answers.
TEST_F(ServerRestartTest, AnAttachThatHangsAfterTheHandshakeGivesUpAndSaysSo) {
  TcpRelay relay(server.Port());
  constexpr int kShortBoundMs = 1000;  // the bound itself is not what is tested
  RouteWorkersThrough(relay, kShortBoundMs);
  const int32_t feedId = Engine().AddFeed(u"", http.Url("/feed.xml"), u"");
  ASSERT_TRUE(FetchFeed(feedId));
  relay.SetHoldingAfterHandshake(true);
  relay.CutAtNextAnswer();
  for (int job = 0; job < 2; ++job) {
    Engine().UpdateFeeds({feedId}, true);
    ASSERT_TRUE(PumpUntil([&] { return Engine().QueuedJobCount() == 0; })) << "a worker waits in its attach";
  }
  EXPECT_GE(relay.Held(), 1);
  EXPECT_EQ(FatalWith("did not complete the attachment"), 1) << "told once";
  relay.SetHoldingAfterHandshake(false);
  EXPECT_TRUE(FetchFeed(feedId)) << processed.back();
}

// The engine closes while a worker waits in an attach that the server holds
// after the handshake: the close leaves the attach, and every worker ends
// (none is left running, nothing is freed under one).
TEST_F(ServerRestartTest, AnEngineClosedWhileAWorkerAttachesToAHungServerEndsEveryWorker) {
  TcpRelay relay(server.Port());
  RouteWorkersThrough(relay);
  const int32_t feedId = Engine().AddFeed(u"", http.Url("/feed.xml"), u"");
  ASSERT_TRUE(FetchFeed(feedId));
  relay.SetHoldingAfterHandshake(true);
  relay.CutAtNextAnswer();
  Engine().UpdateFeeds({feedId}, true);
  ASSERT_TRUE(PumpUntil([&] { return relay.Held() > 0; }));
  Engine().StopThreads(true);
  EXPECT_EQ(Engine().ThreadCount(), -1);
  EXPECT_FALSE(Engine().WorkerLeftRunning());
}

// A server that answers slowly (each answer a little over 2 s late) is not
// a lost one: a call of a thread whose waits are bounded (the window's)
// waits for its answers, and nothing is cut. (The bound lasts for the rest
// of the test's process.)
TEST_F(ServerRestartTest, ASlowServerIsNotCutByTheBoundOfTheWindowsThread) {
  TcpRelay relay(server.Port());
  TDbConnWrapper& main = Engine().MainConnection();
  main.SetDBFileName("127.0.0.1/" + std::to_string(relay.Port()) + main.DBFileName().substr(main.DBFileName().find(':')));
  main.Reattach();
  db::BoundServerWaitsOfThisThread();
  relay.SetAnswerDelayMs(2200);
  EXPECT_NO_THROW(EXPECT_EQ(database.QueryInt64("select count(*) from rdb$database"), 1));
}


// A healthy server that answers each reply as late as a slow one does (3 s
// under the attach's bound of 20 s, here scaled down) is attached to: the
// bound leaves out only a server that answers nothing.
TEST_F(ServerRestartTest, AnAttachToAServerThatAnswersEveryReplyLateIsNotGivenUp) {
  constexpr int kSlowestReplyMs = 3000;
  constexpr int kBoundMs = 4000;
  TcpRelay relay(server.Port());
  TDbConnWrapper& main = Engine().MainConnection();
  main.SetDBFileName("127.0.0.1/" + std::to_string(relay.Port()) + main.DBFileName().substr(main.DBFileName().find(':')));
  main.SetAttachBoundMs(kBoundMs);
  relay.SetAnswerDelayMs(kBoundMs * kSlowestReplyMs / db::kServerAttachMs);
  EXPECT_NO_THROW(main.Reattach());
}

}  // namespace
}  // namespace tidewell
