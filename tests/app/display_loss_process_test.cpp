// SPDX-License-Identifier: MIT
// The built application on a display server of the test's own that dies
// during a download: the process closes as on "Close" (engine stopped, the
// partial file removed), and the next start finishes the download.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <string>

#include "app_process.h"
#include "support/test_http_server.h"

namespace larkspur::testing {
namespace {

using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

class DisplayLossProcessTest : public AppProcessTest {};

bool HasPartialDownload(const std::vector<std::string>& names) {
  for (const std::string& name : names)
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) return true;
  return false;
}

TEST_F(DisplayLossProcessTest, LosingTheDisplayDuringADownloadClosesTheApplicationAndTheNextStartFinishesIt) {
  if (!TestDisplay::Available()) GTEST_SKIP() << "Xvfb is not installed";
  const std::string episode(200000, 'e');
  std::atomic<bool> stall{true};
  TestHttpServer server;
  server.Handle("/feed.xml", [&](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(
        200, "OK", {{"Content-Type", "application/rss+xml"}},
        "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title><link>http://example.org/</link>"
        "<description>d</description><item><title>One</title><guid>ep1</guid><enclosure url=\"" +
            server.Url("/ep1.mp3") + "\" length=\"200000\" type=\"audio/mpeg\"/></item></channel></rss>"));
  });
  server.Handle("/ep1.mp3", [&](const RecordedRequest&, HttpConnection& c) {
    if (!stall) return void(c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "audio/mpeg"}}, episode)));
    // Half the episode, then nothing until the test ends.
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 200000\r\n\r\n" + episode.substr(0, 100000));
    c.Wait(kProcessWaitSeconds * 2000);
  });
  SetMisc("subscribefeed0", server.Url("/feed.xml"));

  TestDisplay display;
  ASSERT_FALSE(display.Name().empty());
  auto app = Start("first.err", {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", display.Name()}});
  ASSERT_TRUE(app->Started());
  ASSERT_TRUE(WaitFor([&] { return HasPartialDownload(Downloads()) || !app->Running(); }));
  ASSERT_TRUE(app->Running()) << app->ErrorOutput();

  display.Kill();
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitFor([&] { return !app->Running(); })) << "still running without its display";
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
  RecordProperty("seconds_to_close", std::to_string(seconds));
  EXPECT_FALSE(HasPartialDownload(Downloads())) << app->ErrorOutput();

  stall = false;
  auto again = Start("second.err");
  ASSERT_TRUE(WaitFor([&] { return ReadFile(programFolder + "/downloads/ep1.mp3") == episode || !again->Running(); }));
  ASSERT_TRUE(again->Running()) << again->ErrorOutput();
  again->Signal(SIGTERM);
  EXPECT_EQ(again->WaitForExitCode(), 0) << again->ErrorOutput();
}

}  // namespace
}  // namespace larkspur::testing
