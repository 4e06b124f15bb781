// SPDX-License-Identifier: MIT
#include "engine/db/lock_folder_room.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "toolkit/exception.h"

// Exported by libfbclient, not declared in its headers: the lock folder the
// engine uses, followed by root.
extern "C" void gds__prefix_lock(char* string, const char* root);

namespace tidewell::db {
namespace {

// The start of the lock table's file name ("fb_lock_" and the database's id).
constexpr const char* kLockTableName = "fb_lock_";

// The engine cuts its folder names at 4096 bytes; the rest is room.
constexpr size_t kPathRoom = 2 * 4096 + 16;

std::string NearestExistingFolder(std::filesystem::path folder) {
  std::error_code error;
  while (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
    if (folder == folder.parent_path()) return "";
    folder = folder.parent_path();
  }
  return folder.string();
}

// A file without a name where the system can make one, so that nothing is
// left behind whatever happens; else a named one, unlinked at once.
int OpenNamelessFile(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
  std::string name = folder + "/.tidewell-room-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

// 0, or the error that refused the blocks. posix_fallocate writes where the
// file system cannot reserve, so the blocks are real either way.
int ReserveBlocks(const std::string& folder, int64_t bytes) {
  const int fd = OpenNamelessFile(folder);
  if (fd < 0) return errno;
  const int error = ::posix_fallocate(fd, 0, bytes);
  ::close(fd);
  return error;
}

// Only reserves: no byte is written and the size stays, whatever the engine
// does with the file meanwhile. Writing zeros where the system cannot
// reserve would race with the engine's writes through its mapping.
// The lock table also gets blocks past its end: the engine grows it by
// sizing the file, and the blocks reserved there are the ones it then uses.
void GiveBlocks(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, info.st_size);
    if (file.filename().string().rfind(kLockTableName, 0) == 0)
      ::fallocate(fd, FALLOC_FL_KEEP_SIZE, info.st_size, kLockTableGrowthBytes);
  }
  ::close(fd);
}

// The bytes of real blocks that the files of folder hold: lock files left
// by an earlier process (killed, say) that the engine takes up again.
int64_t BytesHeld(const std::string& folder) {
  int64_t bytes = 0;
  std::error_code error;
  std::filesystem::directory_iterator entry(folder, error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    struct stat info {};
    if (::lstat(entry->path().c_str(), &info) == 0 && S_ISREG(info.st_mode)) bytes += int64_t{info.st_blocks} * 512;
  }
  return bytes;
}

std::string MiB(int64_t bytes) { return std::to_string((bytes + (int64_t{1} << 20) - 1) >> 20) + " MiB"; }

// The folders whose check passed in this process: the engine made its lock
// files there at its first attachment, and they keep their blocks. Never
// freed: a worker may attach while the process ends.
struct FoldersWithRoom {
  std::mutex mutex;
  std::set<std::string> folders;  // guarded by mutex
};

FoldersWithRoom& Checked() {
  static auto* checked = new FoldersWithRoom;
  return *checked;
}

std::string WithoutTrailingSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

std::string EngineLockFolder() {
  std::vector<char> path(kPathRoom, '\0');
  gds__prefix_lock(path.data(), "");
  return WithoutTrailingSlash(path.data());
}

void RequireRoomForLockFiles(int64_t bytes) {
  const std::string folder = EngineLockFolder();
  FoldersWithRoom& checked = Checked();
  std::lock_guard<std::mutex> lock(checked.mutex);
  if (checked.folders.count(folder) > 0) return;
  const std::string existing = NearestExistingFolder(folder);
  if (existing.empty()) return;
  const int64_t held = existing == folder ? BytesHeld(folder) : 0;
  const int64_t shortfall = bytes - held;
  const int error = shortfall > 0 ? ReserveBlocks(existing, shortfall) : 0;
  if (error != ENOSPC && error != EDQUOT) {
    checked.folders.insert(folder);
    return;
  }
  throw kt::Exception(std::error_code(error, std::generic_category()).message() +
                      " for the database engine's lock files in \"" + folder + "\": they need " + MiB(bytes) +
                      " there" + (held > 0 ? ", " + MiB(shortfall) + " more than they hold" : ""));
}

void GiveLockFilesTheirBlocks() {
  std::error_code error;
  std::filesystem::directory_iterator entry(EngineLockFolder(), error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
    GiveBlocks(entry->path());
}

}  // namespace tidewell::db
