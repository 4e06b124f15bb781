// SPDX-License-Identifier: MIT
// The application window against a real engine, database, HTTP server and
// configuration files: first start, second start, and a start that fails.
#include "app/main_form.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "engine/db/server_waits.h"
#include "engine/settings/configuration.h"
#include "platform/main_loop.h"
#include "qt_application.h"
#include "support/firebird_test_database.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

namespace larkspur {
namespace {

using testing::App;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

constexpr int kWaitMs = 30000;
const std::string kAudio = "ID3 an episode's bytes";

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() {
    App();
    testing_support::UsePrivateFirebirdLockFolder();
    ::setenv("XDG_CONFIG_HOME", folder.File("config").c_str(), 1);
    ServeFeed("/feed0.xml", "<item><title>One</title><guid>ep1</guid><enclosure url=\"" + server.Url("/ep1.mp3") +
                                "\" length=\"" + std::to_string(kAudio.size()) + "\" type=\"audio/mpeg\"/></item>");
    ServeFeed("/feed3.xml", "<item><title>Two</title><guid>text-only</guid></item>");
    server.Handle("/ep1.mp3", [](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "audio/mpeg"}}, kAudio));
    });
  }
  ~MainFormTest() override { ::unsetenv("XDG_CONFIG_HOME"); }

  void ServeFeed(const std::string& path, const std::string& items) {
    const std::string rss = "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><title>" + path +
                            "</title><link>http://example.org/</link><description>d</description>" + items +
                            "</channel></rss>";
    server.Handle(path, [rss](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, rss));
    });
  }

  void SetMisc(const std::string& name, const std::string& value) {
    tidewell::TConfiguration settings(platform::RegistryBaseFolders{folder.File("config"), folder.File("etc")});
    settings.LoadFromKeys({"HKCU=\\SOFTWARE\\Policies\\Pinwheel[RWC]"});
    std::string ignored;
    settings.Value("misc", name, ignored, tidewell::TValueMode::vmWrite, "", value);
  }

  std::unique_ptr<TForm1> Start(const std::string& programFolder) {
    TForm1Options options;
    options.programFolder = programFolder;
    options.showMessage = [this](const QString& text) { messages.push_back(text.toStdString()); };
    options.terminate = [this] { ++terminations; };
    return std::make_unique<TForm1>(options);
  }

  void Execute(TForm1& form, const std::string& sql) {
    tidewell::TTranWrapper transaction;
    form.Engine().BindTransaction(&transaction, false);
    tidewell::TQueryWrapper query;
    query.SetTransaction(&transaction);
    query.SQL.Add(sql);
    query.ExecQuery();
    query.Close();
    transaction.Commit();
  }

  int64_t FeedCount(TForm1& form) {
    tidewell::TTranWrapper transaction;
    form.Engine().BindTransaction(&transaction, false);
    tidewell::TQueryWrapper query;
    query.SetTransaction(&transaction);
    query.SQL.Add("select count(*) from feeds");
    query.ExecQuery();
    const int64_t count = query.Fields(0).AsInt64();
    query.Close();
    transaction.Commit();
    return count;
  }

  testing_support::TempFolder folder;
  TestHttpServer server;
  std::vector<std::string> messages;
  int terminations = 0;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST_F(MainFormTest, FirstStartSubscribesTheConfiguredFeedsAndDownloadsTheirEnclosures) {
  SetMisc("subscribefeed0", server.Url("/feed0.xml"));
  SetMisc("subscribefeed3", server.Url("/feed3.xml"));
  const std::string app = folder.File("app");
  const std::string episode = app + "/downloads/ep1.mp3";
  {
    auto form = Start(app);
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_EQ(FeedCount(*form), 2);
    EXPECT_TRUE(form->EnclosureTimerActive());
    // A feed that brings new articles starts an enclosure pass at once.
    EXPECT_TRUE(platform::MainThread().RunUntil(
        [&] { return std::filesystem::exists(episode) && form->Bar(0).property("tag").toLongLong() == 0; }, kWaitMs));
    EXPECT_EQ(ReadFile(episode), kAudio);
    EXPECT_EQ(server.RequestCount("/feed0.xml"), 1u);
    EXPECT_EQ(server.RequestCount("/feed3.xml"), 1u);
    EXPECT_EQ(form->QueuedUrls().count(server.Url("/ep1.mp3")), 1u);
    // An enclosure handed over once in a run is not handed over again. The
    // hand-over is made by the pass: an enclosure job queued right after it,
    // or a second request by one that ended already, would be one.
    ASSERT_TRUE(platform::MainThread().RunUntil(
        [&] { return !form->Engine().IsJobQueued(tidewell::TQueueJobTypes::CgetEnclosure, -1); }, kWaitMs));
    form->trigger_enclosure_downloads();
    ASSERT_TRUE(platform::MainThread().RunUntil([&] { return !form->PassRunning(); }, kWaitMs));
    EXPECT_FALSE(form->Engine().IsJobQueued(tidewell::TQueueJobTypes::CgetEnclosure, -1));
    EXPECT_EQ(server.RequestCount("/ep1.mp3"), 1u);
  }
  EXPECT_TRUE(std::filesystem::exists(app + "/rssengine.fdb"));
  // A second start finds feeds in the database and subscribes nothing more.
  SetMisc("subscribefeed5", server.Url("/feed5.xml"));
  auto again = Start(app);
  EXPECT_EQ(FeedCount(*again), 2);
  EXPECT_EQ(terminations, 0);
}

TEST_F(MainFormTest, TheUpdateIntervalIsReadAlsoWhenWrittenAsANumber) {
  const std::string keyFile = folder.File("config/SOFTWARE/Policies/Pinwheel.reg");
  std::filesystem::create_directories(std::filesystem::path(keyFile).parent_path());
  std::ofstream(keyFile) << "Windows Registry Editor Version 5.00\n\n"
                         << "[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Pinwheel]\n"
                         << "\"subscribefeed0\"=\"" << server.Url("/feed0.xml") << "\"\n"
                         << "\"defaultupdateinterval\"=dword:0000002d\n";
  auto form = Start(folder.File("app"));
  EXPECT_TRUE(messages.empty()) << messages.front();
  tidewell::TTranWrapper transaction;
  form->Engine().BindTransaction(&transaction, false);
  tidewell::TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("select update_interval from feeds");
  query.ExecQuery();
  ASSERT_FALSE(query.Eof());
  EXPECT_EQ(query.Fields(0).AsInteger(), 45);
  query.Close();
  transaction.Commit();
}

TEST_F(MainFormTest, AStartWithoutAUsableFolderSaysWhyAndEnds) {
  const std::string blocker = folder.File("not-a-folder");
  std::ofstream(blocker) << "a file where the program folder should be";
  auto form = Start(blocker + "/app");
  ASSERT_EQ(messages.size(), 1u);
  const std::string expected = "Application cannot start. Detailed error message is following:\r" +
                               std::string(64, '-') + "\r";
  EXPECT_EQ(messages[0].substr(0, expected.size()), expected) << messages[0];
  EXPECT_GT(messages[0].size(), expected.size());
  EXPECT_EQ(terminations, 1);
  EXPECT_FALSE(form->EnclosureTimerActive());
}

// Markup in an address that a feed named is shown as it stands, not rendered.
TEST_F(MainFormTest, TheDownloadingLineShowsTheServersTextAsPlainText) {
  // Shared with the server's thread, which may outlive a failed test's body.
  auto release = std::make_shared<std::atomic<bool>>(false);
  ServeFeed("/marked.xml", "<item><title>M</title><guid>m</guid><enclosure url=\"" +
                               server.Url("/ep2.mp3?&lt;b&gt;bold&lt;/b&gt;") + "\" length=\"" +
                               std::to_string(kAudio.size()) + "\" type=\"audio/mpeg\"/></item>");
  server.Handle("/ep2.mp3", [release](const RecordedRequest&, HttpConnection& c) {
    const std::string answer = TestHttpServer::Response(200, "OK", {{"Content-Type", "audio/mpeg"}}, kAudio);
    c.Send(answer.substr(0, answer.size() - 4));
    while (!release->load() && c.Wait(20)) {
    }
    c.Send(answer.substr(answer.size() - 4));
  });
  SetMisc("subscribefeed0", server.Url("/marked.xml"));
  const std::string app = folder.File("app");
  auto form = Start(app);
  const std::string shown = "Downloading " + server.Url("/ep2.mp3?<b>bold</b>");
  EXPECT_TRUE(platform::MainThread().RunUntil(
      [&] { return form->BarLabel(0).text().toStdString() == shown; }, kWaitMs))
      << form->BarLabel(0).text().toStdString();
  EXPECT_EQ(form->BarLabel(0).textFormat(), Qt::PlainText);
  *release = true;
  EXPECT_TRUE(platform::MainThread().RunUntil(
      [&] { return std::filesystem::exists(app + "/downloads/ep2.mp3") && form->BarLabel(0).text().isEmpty(); },
      kWaitMs));
  EXPECT_EQ(form->BarLabel(1).textFormat(), Qt::PlainText);
}

// The window's enclosure pass reads and writes the database on a thread of
// its own: the window's thread makes no database call for it, so a slow or
// hanging server never holds the window.
TEST_F(MainFormTest, TheEnclosurePassMakesNoDatabaseCallOnTheWindowsThread) {
  SetMisc("subscribefeed0", server.Url("/feed0.xml"));
  const std::string app = folder.File("app");
  auto form = Start(app);
  ASSERT_TRUE(messages.empty()) << messages.front();
  form->Engine().SetSmartUpdateActive(false);  // the engine's own timer reads the database here too
  const auto quiet = [&] {
    return std::filesystem::exists(app + "/downloads/ep1.mp3") && !form->PassRunning() &&
           !form->Engine().IsJobQueued(tidewell::TQueueJobTypes::CgetEnclosure, -1) &&
           !form->Engine().IsFeedJobQueued();
  };
  ASSERT_TRUE(platform::MainThread().RunUntil(quiet, kWaitMs));
  const uint64_t before = tidewell::db::DatabaseCallsOfThisThread();
  form->trigger_enclosure_downloads();
  ASSERT_TRUE(platform::MainThread().RunUntil([&] { return !form->PassRunning(); }, kWaitMs));
  EXPECT_EQ(tidewell::db::DatabaseCallsOfThisThread(), before);
  EXPECT_TRUE(form->EnclosureTimerActive());
}

// The engine's update timer reads and writes the database on a thread of
// its own too: its tick makes no database call on the window's thread.
TEST_F(MainFormTest, TheUpdateTimersTickMakesNoDatabaseCallOnTheWindowsThread) {
  SetMisc("subscribefeed0", server.Url("/feed0.xml"));
  const std::string app = folder.File("app");
  auto form = Start(app);
  ASSERT_TRUE(messages.empty()) << messages.front();
  tidewell::Ttidewell& engine = form->Engine();
  engine.SetSmartUpdateActive(false);
  const auto quiet = [&] {
    return std::filesystem::exists(app + "/downloads/ep1.mp3") && !form->PassRunning() &&
           !engine.IsJobQueued(tidewell::TQueueJobTypes::CgetEnclosure, -1) && !engine.IsFeedJobQueued();
  };
  ASSERT_TRUE(platform::MainThread().RunUntil(quiet, kWaitMs));
  // The feed is due again: the tick selects it and hands it out.
  Execute(*form, "update feeds set next_feedupdate='2001-01-01'");
  std::vector<int32_t> ticks;
  engine.SetOnSmrtUpdateTimer([&](int32_t count) { ticks.push_back(count); });
  const uint64_t before = tidewell::db::DatabaseCallsOfThisThread();
  engine.SetSmartUpdateActive(true);
  ASSERT_TRUE(platform::MainThread().RunUntil([&] { return !ticks.empty() && !engine.TimerPassRunning(); }, kWaitMs));
  EXPECT_EQ(tidewell::db::DatabaseCallsOfThisThread(), before);
  EXPECT_EQ(ticks, std::vector<int32_t>{1});
  engine.SetSmartUpdateActive(false);
}

}  // namespace
}  // namespace larkspur
