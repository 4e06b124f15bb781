// SPDX-License-Identifier: MIT
// The built application as a process of its own, copied into a folder of the
// test (its database and "downloads" live beside the executable), on Qt's
// offscreen platform: a start that cannot open its database ends the process
// with a failure code, and the stop signals end it in every state.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/settings/configuration.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

extern char** environ;

namespace larkspur {
namespace {

using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

constexpr auto kWait = std::chrono::seconds(60);
const std::string kStartFailure = "Application cannot start. Detailed error message is following:";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool WaitFor(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + kWait;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// One run of the application; killed when the test leaves it running.
class AppProcess {
 public:
  AppProcess(const std::string& executable, const std::vector<std::string>& environment, const std::string& errorFile)
      : errorFile_(errorFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv{const_cast<char*>(executable.c_str()), nullptr};
    std::vector<char*> envp;
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~AppProcess() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool Started() const { return pid_ > 0; }
  bool Running() {
    if (ended_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    ended_ = true;
    status_ = status;
    return false;
  }
  std::string ErrorOutput() const { return ReadFile(errorFile_); }
  void Signal(int number) { ::kill(pid_, number); }
  // The exit code once the process ended by itself; -1 when it was killed
  // by a signal or did not end in time.
  int WaitForExitCode() {
    if (!WaitFor([this] { return !Running(); })) return -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

 private:
  std::string errorFile_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
};

class StartupProcessTest : public ::testing::Test {
 protected:
  StartupProcessTest() {
    std::filesystem::create_directories(programFolder);
    std::filesystem::create_directories(folder.File("locks"));
    std::filesystem::copy_file(LARKSPUR_EXECUTABLE, executable);
    std::filesystem::permissions(executable, std::filesystem::perms::owner_all);
  }

  std::vector<std::string> Environment() const {
    std::vector<std::string> environment;
    const auto replaced = [](const std::string& entry) {
      for (const char* name : {"QT_QPA_PLATFORM=", "XDG_CONFIG_HOME=", "FIREBIRD_LOCK="})
        if (entry.rfind(name, 0) == 0) return true;
      return false;
    };
    for (char** entry = environ; *entry != nullptr; ++entry)
      if (!replaced(*entry)) environment.push_back(*entry);
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    environment.push_back("XDG_CONFIG_HOME=" + folder.File("config"));
    environment.push_back("FIREBIRD_LOCK=" + folder.File("locks"));
    return environment;
  }

  void SubscribeOnFirstStart(const std::string& url) {
    tidewell::TConfiguration settings(platform::RegistryBaseFolders{folder.File("config"), folder.File("etc")});
    settings.LoadFromKeys({"HKCU=\\SOFTWARE\\Policies\\Pinwheel[RWC]"});
    std::string ignored;
    settings.Value("misc", "subscribefeed0", ignored, tidewell::TValueMode::vmWrite, "", url);
  }

  std::unique_ptr<AppProcess> Start(const std::string& errorName) {
    return std::make_unique<AppProcess>(executable, Environment(), folder.File(errorName));
  }

  // The failure message is shown and the process waits in its message box
  // until a stop signal closes it; then it ends with a failure code.
  void ExpectFailedStartEndsOnSignal(AppProcess& app, int signal) {
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(WaitFor([&] { return app.ErrorOutput().find(kStartFailure) != std::string::npos || !app.Running(); }))
        << app.ErrorOutput();
    EXPECT_NE(app.ErrorOutput().find(kStartFailure), std::string::npos) << app.ErrorOutput();
    ASSERT_TRUE(app.Running()) << "the message box should wait for its answer";
    app.Signal(signal);
    const int code = app.WaitForExitCode();
    EXPECT_GT(code, 0) << app.ErrorOutput();
  }

  testing_support::TempFolder folder;
  const std::string programFolder = folder.File("program");
  const std::string executable = programFolder + "/larkspur";
};

TEST_F(StartupProcessTest, AFolderInPlaceOfTheDatabaseEndsTheApplicationWithAFailureCode) {
  std::filesystem::create_directories(programFolder + "/rssengine.fdb");
  auto app = Start("first.err");
  ExpectFailedStartEndsOnSignal(*app, SIGTERM);
}

TEST_F(StartupProcessTest, ASecondInstanceInTheSameFolderEndsWhileTheFirstRunsOnUntilStopped) {
  TestHttpServer server;
  server.Handle("/feed.xml", [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}},
                                    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title>"
                                    "<link>http://example.org/</link><description>d</description></channel></rss>"));
  });
  SubscribeOnFirstStart(server.Url("/feed.xml"));
  auto first = Start("first.err");
  ASSERT_TRUE(first->Started());
  // The first instance has its database open once it fetched its feed.
  ASSERT_TRUE(WaitFor([&] { return server.RequestCount("/feed.xml") > 0 || !first->Running(); }));
  ASSERT_TRUE(first->Running()) << first->ErrorOutput();

  auto second = Start("second.err");
  ExpectFailedStartEndsOnSignal(*second, SIGINT);

  ASSERT_TRUE(first->Running()) << first->ErrorOutput();
  first->Signal(SIGTERM);
  EXPECT_EQ(first->WaitForExitCode(), 0) << first->ErrorOutput();
}

}  // namespace
}  // namespace larkspur
