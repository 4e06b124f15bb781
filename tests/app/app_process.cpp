// SPDX-License-Identifier: MIT
#include "app_process.h"

#include "engine/settings/configuration.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

// Last: its macros (None, Status, Bool) would clash with the headers above.
#include <X11/Xlib.h>

extern char** environ;

namespace larkspur::testing {

constexpr const char* kXvfb = "/usr/bin/Xvfb";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool WaitFor(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kProcessWaitSeconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::vector<std::string> EnvironmentWith(const std::map<std::string, std::string>& changes) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (changes.count(text.substr(0, text.find('='))) == 0) environment.push_back(text);
  }
  for (const auto& [name, value] : changes)
    if (!value.empty()) environment.push_back(name + "=" + value);
  return environment;
}

namespace {

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// In the forked child: only async-signal-safe calls until exec.
[[noreturn]] void ExecAsUser(const char* executable, char* const* argv, char* const* envp, int errorFd, uid_t user) {
  if (::dup2(errorFd, STDERR_FILENO) < 0) ::_exit(126);
  if (user > 0 && (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)) ::_exit(126);
  ::execve(executable, argv, envp);
  ::_exit(127);
}

}  // namespace

AppProcess::AppProcess(const std::string& executable, const std::vector<std::string>& environment,
                       const std::string& errorFile, uid_t runAsUser)
    : errorFile_(errorFile) {
  const int errorFd = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (errorFd < 0) return;
  std::vector<char*> argv = Pointers({executable});
  std::vector<char*> envp = Pointers(environment);
  pid_ = ::fork();
  if (pid_ == 0) ExecAsUser(executable.c_str(), argv.data(), envp.data(), errorFd, runAsUser);
  ::close(errorFd);
}

AppProcess::~AppProcess() {
  if (pid_ > 0 && !ended_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool AppProcess::Running() {
  if (ended_ || pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
  ended_ = true;
  status_ = status;
  return false;
}

void AppProcess::Signal(int number) {
  if (Running()) ::kill(pid_, number);
}

int AppProcess::WaitForExitCode() {
  if (!WaitFor([this] { return !Running(); })) return -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

bool TestDisplay::Available() { return ::access(kXvfb, X_OK) == 0; }

TestDisplay::TestDisplay() {
  int numberPipe[2];
  if (!Available() || ::pipe2(numberPipe, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Xvfb writes the display number it took to descriptor 3.
  posix_spawn_file_actions_adddup2(&actions, numberPipe[1], 3);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv = Pointers({kXvfb, "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
  if (posix_spawn(&pid_, kXvfb, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(numberPipe[1]);
  std::string number;
  char c = 0;
  while (pid_ > 0 && ::read(numberPipe[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(numberPipe[0]);
  if (!number.empty()) name_ = ":" + number;
}

TestDisplay::~TestDisplay() { Kill(); }

void TestDisplay::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

namespace {

// The client library is loaded when a test clicks: the tests do not link it.
struct XClient {
  decltype(&::XOpenDisplay) openDisplay = nullptr;
  decltype(&::XCloseDisplay) closeDisplay = nullptr;
  decltype(&::XDefaultRootWindow) rootWindow = nullptr;
  decltype(&::XQueryTree) queryTree = nullptr;
  decltype(&::XFetchName) fetchName = nullptr;
  decltype(&::XFree) free = nullptr;
  decltype(&::XSendEvent) sendEvent = nullptr;
  decltype(&::XFlush) flush = nullptr;

  XClient() {
    void* library = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return;
    Load(library, "XOpenDisplay", openDisplay);
    Load(library, "XCloseDisplay", closeDisplay);
    Load(library, "XDefaultRootWindow", rootWindow);
    Load(library, "XQueryTree", queryTree);
    Load(library, "XFetchName", fetchName);
    Load(library, "XFree", free);
    Load(library, "XSendEvent", sendEvent);
    Load(library, "XFlush", flush);
  }
  template <typename F>
  static void Load(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(::dlsym(library, name));
  }
  bool Loaded() const {
    return openDisplay && closeDisplay && rootWindow && queryTree && fetchName && free && sendEvent && flush;
  }
};

Window FindWindow(const XClient& x, Display* display, const std::string& title) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (x.queryTree(display, x.rootWindow(display), &root, &parent, &children, &count) == 0) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    if (x.fetchName(display, children[i], &name) != 0 && name != nullptr) {
      if (std::string(name).find(title) != std::string::npos) found = children[i];
      x.free(name);
    }
  }
  if (children != nullptr) x.free(children);
  return found;
}

}  // namespace

bool TestDisplay::Click(const std::string& title, int x, int y) const {
  static const XClient client;
  if (name_.empty() || !client.Loaded()) return false;
  Display* display = client.openDisplay(name_.c_str());
  if (display == nullptr) return false;
  const Window window = FindWindow(client, display, title);
  if (window != 0) {
    for (const int type : {ButtonPress, ButtonRelease}) {
      XEvent event{};
      event.xbutton.type = type;
      event.xbutton.display = display;
      event.xbutton.window = window;
      event.xbutton.root = client.rootWindow(display);
      event.xbutton.x = x;
      event.xbutton.y = y;
      event.xbutton.same_screen = True;
      event.xbutton.button = Button1;
      event.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
      client.sendEvent(display, window, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
    }
    client.flush(display);
  }
  client.closeDisplay(display);
  return window != 0;
}

const std::string kStartFailure = "Application cannot start. Detailed error message is following:";

AppProcessTest::AppProcessTest() {
  std::filesystem::create_directories(programFolder);
  std::filesystem::create_directories(folder.File("locks"));
  std::filesystem::copy_file(LARKSPUR_EXECUTABLE, executable);
  std::filesystem::permissions(executable, std::filesystem::perms::owner_all);
}

void AppProcessTest::SetMisc(const std::string& name, const std::string& value) {
  tidewell::TConfiguration settings(platform::RegistryBaseFolders{folder.File("config"), folder.File("etc")});
  settings.LoadFromKeys({"HKCU=\\SOFTWARE\\Policies\\Pinwheel[RWC]"});
  std::string ignored;
  settings.Value("misc", name, ignored, tidewell::TValueMode::vmWrite, "", value);
}

std::unique_ptr<AppProcess> AppProcessTest::Start(const std::string& errorName,
                                                  const std::map<std::string, std::string>& changes,
                                                  uid_t runAsUser) {
  std::map<std::string, std::string> all{{"QT_QPA_PLATFORM", "offscreen"},
                                         {"XDG_CONFIG_HOME", folder.File("config")},
                                         {"FIREBIRD_LOCK", folder.File("locks")}};
  for (const auto& [name, value] : changes) all[name] = value;
  return std::make_unique<AppProcess>(executable, EnvironmentWith(all), folder.File(errorName), runAsUser);
}

void AppProcessTest::ExpectFailedStartEnds(AppProcess& app, const std::string& reason) {
  ASSERT_TRUE(app.Started());
  EXPECT_EQ(app.WaitForExitCode(), 1) << app.ErrorOutput();
  EXPECT_NE(app.ErrorOutput().find(kStartFailure), std::string::npos) << app.ErrorOutput();
  EXPECT_NE(app.ErrorOutput().find(reason), std::string::npos) << app.ErrorOutput();
}

void AppProcessTest::ExpectFailedStartEndsOnSignal(AppProcess& app, int signal, const std::string& reason) {
  ASSERT_TRUE(app.Started());
  ASSERT_TRUE(WaitFor([&] { return app.ErrorOutput().find(kStartFailure) != std::string::npos || !app.Running(); }))
      << app.ErrorOutput();
  EXPECT_NE(app.ErrorOutput().find(kStartFailure), std::string::npos) << app.ErrorOutput();
  EXPECT_NE(app.ErrorOutput().find(reason), std::string::npos) << app.ErrorOutput();
  ASSERT_TRUE(app.Running()) << "the message box should wait for its answer";
  app.Signal(signal);
  EXPECT_EQ(app.WaitForExitCode(), 1) << app.ErrorOutput();
}

std::vector<std::string> AppProcessTest::Downloads() const {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(programFolder + "/downloads", ignored))
    names.push_back(entry.path().filename().string());
  return names;
}

}  // namespace larkspur::testing
