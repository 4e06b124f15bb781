// SPDX-License-Identifier: MIT
// Where the application keeps its database: a server named in its settings,
// a server that goes away and comes back, and a database that a newer
// release has written.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "engine/settings/configuration.h"
#include "platform/main_loop.h"
#include "qt_application.h"
#include "support/firebird_test_database.h"
#include "support/firebird_test_server.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

namespace larkspur {
namespace {

class MainFormDatabaseTest : public ::testing::Test {
 protected:
  MainFormDatabaseTest() {
    testing::App();
    testing_support::UsePrivateFirebirdLockFolder();
    ::setenv("XDG_CONFIG_HOME", folder.File("config").c_str(), 1);
  }
  ~MainFormDatabaseTest() override { ::unsetenv("XDG_CONFIG_HOME"); }

  // Written as the application's own settings store writes them (passwords
  // scrambled).
  void SetMisc(const std::string& name, const std::string& value) {
    tidewell::TConfiguration settings(platform::RegistryBaseFolders{folder.File("config"), folder.File("etc")});
    settings.LoadFromKeys({"HKCU=\\SOFTWARE\\Policies\\Pinwheel[RWC]"});
    std::string ignored;
    settings.Value("misc", name, ignored, tidewell::TValueMode::vmWrite, "", value);
  }

  std::unique_ptr<TForm1> Start() {
    TForm1Options options;
    options.programFolder = folder.File("app");
    options.showMessage = [this](const QString& text) { messages.push_back(text.toStdString()); };
    options.terminate = [this] { ++terminations; };
    options.retryPassMs = 100;
    return std::make_unique<TForm1>(options);
  }

  testing_support::TempFolder folder;
  std::vector<std::string> messages;
  int terminations = 0;
};

TEST_F(MainFormDatabaseTest, TheSettingsCanNameADatabaseOnAServer) {
  auto& server = testing_support::FirebirdTestServer::Shared();
  const std::string data = folder.File("server-data/");
  std::filesystem::create_directories(data);
  SetMisc("dblocation", server.DatabaseName(data));
  SetMisc("dbusername", server.User());
  SetMisc("dbpassword", server.Password());
  auto form = Start();
  EXPECT_TRUE(messages.empty()) << messages.front();
  EXPECT_EQ(form->Engine().GetDbFilePath(), server.DatabaseName(data + "rssengine.fdb"));
  EXPECT_TRUE(std::filesystem::exists(data + "rssengine.fdb"));
  EXPECT_FALSE(std::filesystem::exists(folder.File("app/rssengine.fdb")));
  EXPECT_EQ(terminations, 0);
}

// Two episodes download slowly on the two enclosure workers when the server
// goes away: their ends cannot be recorded yet, and their files wait for
// the server. A third is handed over behind them. Once the server is back,
// the two are recorded and the third is fetched: each episode fetched once,
// one copy of each.
TEST_F(MainFormDatabaseTest, EpisodesWhoseJobsFailedWhileTheServerWasAwayAreHandedOverAgainOnceItAnswers) {
  using testing_support::HttpConnection;
  using testing_support::RecordedRequest;
  using testing_support::TestHttpServer;
  auto& server = testing_support::FirebirdTestServer::Shared();
  TestHttpServer http;
  std::atomic<int> waiting{0};
  std::atomic<int> sent{0};
  std::atomic<bool> open{false};
  std::atomic<bool> withThird{false};
  const auto item = [&](const std::string& name) {
    return "<item><title>" + name + "</title><guid>" + name + "</guid><enclosure url=\"" + http.Url("/" + name + ".mp3") +
           "\" length=\"4096\" type=\"audio/mpeg\"/></item>";
  };
  http.Handle("/feed.xml", [&](const RecordedRequest&, HttpConnection& c) {
    const std::string rss = "<rss version=\"2.0\"><channel><title>F</title><link>http://example.org/</link>"
                            "<description>d</description>" + item("a") + item("b") +
                            (withThird ? item("c") : "") + "</channel></rss>";
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, rss));
  });
  for (const char* slow : {"/a.mp3", "/b.mp3"}) {
    http.Handle(slow, [&](const RecordedRequest&, HttpConnection& c) {
      const std::string whole = TestHttpServer::Response(200, "OK", {{"Content-Type", "audio/mpeg"}}, std::string(4096, 'a'));
      c.Send(whole.substr(0, whole.size() - 2048));
      ++waiting;
      while (!open && c.Wait(10)) {
      }
      c.Send(whole.substr(whole.size() - 2048));
      ++sent;
    });
  }
  http.Handle("/c.mp3", [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "audio/mpeg"}}, std::string(4096, 'c')));
  });
  const std::string data = folder.File("server-data/");
  std::filesystem::create_directories(data);
  SetMisc("dblocation", server.DatabaseName(data));
  SetMisc("dbusername", server.User());
  SetMisc("dbpassword", server.Password());
  SetMisc("subscribefeed0", http.Url("/feed.xml"));
  // The engine's events and the form's timer both run.
  const auto pumpUntil = [](const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      platform::MainThread().RunUntil(done, 10);
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
  };
  auto form = Start();
  ASSERT_TRUE(messages.empty()) << messages.front();
  tidewell::Ttidewell& engine = form->Engine();
  ASSERT_TRUE(pumpUntil([&] { return waiting == 2; }));
  withThird = true;
  engine.UpdateFeed(engine.FindFeedIdByUrl(http.Url("/feed.xml")));
  ASSERT_TRUE(pumpUntil([&] { return form->QueuedUrls().count(http.Url("/c.mp3")) == 1; }));

  server.Stop();
  open = true;
  ASSERT_TRUE(pumpUntil([&] { return sent == 2; }));
  server.Start();
  const auto downloaded = [&] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.File("app/downloads")))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> all{"a.mp3", "b.mp3", "c.mp3"};
  EXPECT_TRUE(pumpUntil([&] { return downloaded() == all && engine.QueuedJobCount() == 0; }));
  EXPECT_EQ(downloaded(), all);
  // A later pass finds nothing more to fetch.
  form->trigger_enclosure_downloads();
  ASSERT_TRUE(pumpUntil([&] { return !form->PassRunning() && engine.QueuedJobCount() == 0; }));
  EXPECT_EQ(http.RequestCount("/a.mp3"), 1u);
  EXPECT_EQ(http.RequestCount("/b.mp3"), 1u);
  EXPECT_EQ(http.RequestCount("/c.mp3"), 1u);
  EXPECT_EQ(downloaded(), all);
}

TEST_F(MainFormDatabaseTest, ADatabaseOfANewerReleaseIsRefusedNamingBothVersions) {
  Start().reset();
  {
    tidewell::TDbConnWrapper connection;
    connection.SetDBFileName(folder.File("app/rssengine.fdb"));
    connection.Connect();
    testing_support::RunStatement(connection, "update variables set value_='1030' where type_='dbVerChk'");
  }
  messages.clear();
  auto form = Start();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Application cannot start.", 0), 0u) << messages[0];
  EXPECT_NE(messages[0].find("1030"), std::string::npos) << messages[0];
  EXPECT_NE(messages[0].find("1029"), std::string::npos) << messages[0];
  EXPECT_EQ(terminations, 1);
}

}  // namespace
}  // namespace larkspur
