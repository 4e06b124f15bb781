// SPDX-License-Identifier: MIT
#include "support/firebird_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace testing_support {
namespace {

constexpr const char* kServerProgram = "/usr/sbin/firebird";
constexpr int kStartTimeoutMs = 20000;
constexpr int kLaunchAttempts = 3;

std::string TemporaryRoot() {
  const char* base = std::getenv("TIDEWELL_TEST_TMP");
  const std::filesystem::path folder =
      base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
  std::filesystem::create_directories(folder);
  std::string pattern = (folder / "fbserver-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create the Firebird server folder");
  return pattern;
}

// The folder that holds the server's message file: Debian installs it per
// architecture.
std::filesystem::path FirebirdLibraryFolder() {
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib")) {
    const auto candidate = entry.path() / "firebird" / "3.0";
    if (std::filesystem::exists(candidate / "firebird.msg")) return candidate;
  }
  throw std::runtime_error("firebird3.0 is not installed");
}

int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(s);
    throw std::runtime_error("no free port");
  }
  ::close(s);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(s);
  return connected;
}

// The process's environment with the server's own Firebird variables.
std::vector<std::string> ServerEnvironment(const std::string& root) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    if (text.rfind("FIREBIRD", 0) != 0) variables.push_back(text);
  }
  variables.push_back("FIREBIRD=" + root);
  variables.push_back("FIREBIRD_LOCK=" + root + "/lock");
  variables.push_back("FIREBIRD_TMP=" + root + "/tmp");
  return variables;
}

pid_t Spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            const std::string& input = "", const std::string& output = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!input.empty()) posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& variable : environment) envp.push_back(const_cast<char*>(variable.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void StopSharedServer();

FirebirdTestServer*& SharedServer() {
  static FirebirdTestServer* server = nullptr;
  return server;
}

void StopSharedServer() {
  delete SharedServer();
  SharedServer() = nullptr;
}

}  // namespace

FirebirdTestServer& FirebirdTestServer::Shared() {
  if (SharedServer() == nullptr) {
    SharedServer() = new FirebirdTestServer();
    std::atexit(StopSharedServer);
  }
  return *SharedServer();
}

FirebirdTestServer::FirebirdTestServer() : root_(TemporaryRoot()) {
  try {
    std::filesystem::create_directories(root_ + "/lock");
    std::filesystem::create_directories(root_ + "/tmp");
    std::filesystem::create_symlink(FirebirdLibraryFolder() / "firebird.msg", root_ + "/firebird.msg");
    CreateSecurityDatabase();
    for (int attempt = 0; attempt < kLaunchAttempts; ++attempt)
      if (Launch()) return;
    throw std::runtime_error("the Firebird server did not start; see " + root_ + "/server.log");
  } catch (...) {
    Stop();
    throw;
  }
}

FirebirdTestServer::~FirebirdTestServer() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string FirebirdTestServer::DatabaseName(const std::string& path) const {
  return "127.0.0.1/" + std::to_string(port_) + ":" + path;
}

void FirebirdTestServer::WriteConfiguration() {
  std::ofstream(root_ + "/firebird.conf") << "RemoteServicePort = " << port_ << "\n"
                                          << "RemoteBindAddress = 127.0.0.1\n"
                                          << "SecurityDatabase = " << root_ << "/security3.fdb\n"
                                          << "ServerMode = Super\n";
  std::ofstream(root_ + "/databases.conf") << "security.db = " << root_ << "/security3.fdb\n";
}

// Made by the embedded engine under the server's configuration; the Srp
// plugin makes its user table on the first user.
void FirebirdTestServer::CreateSecurityDatabase() {
  WriteConfiguration();
  const std::string script = root_ + "/security.sql";
  std::ofstream(script) << "create database '" << root_ << "/security3.fdb';\n"
                        << "create user " << user_ << " password '" << password_ << "' using plugin Srp;\n"
                        << "commit;\n";
  const pid_t isql = Spawn({"isql-fb", "-q", "-user", user_}, ServerEnvironment(root_), script, root_ + "/isql.log");
  if (isql < 0 || WaitFor(isql) != 0)
    throw std::runtime_error("cannot create the security database; see " + root_ + "/isql.log");
}

void FirebirdTestServer::Start() {
  if (pid_ > 0) {
    ::kill(pid_, SIGCONT);
    return;
  }
  for (int attempt = 0; attempt < kLaunchAttempts; ++attempt)
    if (Launch(true)) return;
  throw std::runtime_error("the Firebird server did not start again; see " + root_ + "/server.log");
}

bool FirebirdTestServer::Launch(bool samePort) {
  if (!samePort) port_ = FreePort();
  WriteConfiguration();
  pid_ = Spawn({kServerProgram}, ServerEnvironment(root_), "", root_ + "/server.log");
  if (pid_ < 0) throw std::runtime_error(std::string("cannot run ") + kServerProgram);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;  // The port was taken meanwhile, or the server refused.
      return false;
    }
    if (Accepts(port_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop();
  return false;
}

void FirebirdTestServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::kill(pid_, SIGCONT);
  for (int waited = 0; waited < 10000; waited += 20) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid_, SIGKILL);
  WaitFor(pid_);
  pid_ = -1;
}

void FirebirdTestServer::Pause() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void FirebirdTestServer::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  WaitFor(pid_);
  pid_ = -1;
}

// The connections of the server's port that hold received bytes nobody read.
int FirebirdTestServer::UnreadRequests() const {
  std::ifstream table("/proc/net/tcp");
  char local[16];
  std::snprintf(local, sizeof local, "0100007F:%04X", static_cast<unsigned>(port_));
  int requests = 0;
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, address, remote, state, queues;
    fields >> slot >> address >> remote >> state >> queues;
    const auto colon = queues.find(':');
    // "01": established; a listening socket ("0A") counts waiting connections there.
    if (address != local || state != "01" || colon == std::string::npos) continue;
    if (std::stoul(queues.substr(colon + 1), nullptr, 16) > 0) ++requests;
  }
  return requests;
}

}  // namespace testing_support
