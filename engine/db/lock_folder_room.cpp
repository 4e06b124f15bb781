// SPDX-License-Identifier: MIT
#include "engine/db/lock_folder_room.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <filesystem>
#include <vector>

#include "toolkit/exception.h"

// Exported by libfbclient, not declared in its headers: the lock folder the
// engine uses, followed by root.
extern "C" void gds__prefix_lock(char* string, const char* root);

namespace tidewell::db {
namespace {

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
  const std::string existing = NearestExistingFolder(folder);
  if (existing.empty()) return;
  const int error = ReserveBlocks(existing, bytes);
  if (error != ENOSPC && error != EDQUOT) return;
  throw kt::Exception(std::error_code(error, std::generic_category()).message() + " for the database engine's lock files in \"" + folder +
                      "\": they need " + std::to_string(bytes >> 20) + " MiB there");
}

}  // namespace tidewell::db
