// SPDX-License-Identifier: MIT
#include "app/engine_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace larkspur {
namespace {

constexpr const char* kFolderName = "larkspur-firebird";

std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : "";
}

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

std::string HomeFolder() {
  std::string home = AbsoluteVariable("HOME");
  if (!home.empty()) return home;
  const passwd* entry = ::getpwuid(::geteuid());
  return entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/' ? entry->pw_dir : "";
}

std::string CacheFolder() {
  std::string cache = AbsoluteVariable("XDG_CACHE_HOME");
  if (!cache.empty()) return cache;
  const std::string home = HomeFolder();
  return home.empty() ? "" : home + "/.cache";
}

// A folder of our own, not a link someone else laid there.
bool IsOwnFolder(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

bool MakeOwnFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return IsOwnFolder(path) && ::access(path.c_str(), R_OK | W_OK | X_OK) == 0;
}

std::vector<std::string> Candidates() {
  std::vector<std::string> folders;
  // The runtime folder is the user's own and lives in memory, as lock files should.
  const std::string runtime = AbsoluteVariable("XDG_RUNTIME_DIR");
  if (!runtime.empty() && IsOwnFolder(runtime)) folders.push_back(runtime + "/" + kFolderName);
  const std::string cache = CacheFolder();
  if (!cache.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(cache, ignored);
    folders.push_back(cache + "/" + kFolderName);
  }
  folders.push_back(std::string("/tmp/") + kFolderName + "-" + std::to_string(::geteuid()));
  return folders;
}

std::string ChooseFolder() {
  for (const std::string& folder : Candidates())
    if (MakeOwnFolder(folder)) return folder;
  return "";
}

}  // namespace

std::string UseUserFoldersForEmbeddedEngine() {
  const bool haveLock = IsSet("FIREBIRD_LOCK");
  const bool haveTemp = IsSet("FIREBIRD_TMP");
  if (haveLock && haveTemp) return "";
  const std::string folder = ChooseFolder();
  if (folder.empty()) return "";
  if (!haveLock) ::setenv("FIREBIRD_LOCK", folder.c_str(), 1);
  if (!haveTemp) ::setenv("FIREBIRD_TMP", folder.c_str(), 1);
  return folder;
}

}  // namespace larkspur
