// SPDX-License-Identifier: MIT
#include "support/small_file_system.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace testing_support {
namespace {

constexpr const char* kFillerName = ".filler";

}  // namespace

SmallFileSystem::SmallFileSystem(int64_t bytes) : path_(folder_.File("small/")) {
  std::filesystem::create_directories(path_);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
    mounted_ = true;
    return;
  }
  reason_ = "a small file system cannot be mounted here (mount: " +
            std::error_code(errno, std::generic_category()).message() + "; it needs root)";
}

SmallFileSystem::~SmallFileSystem() {
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

// Written, not sized: every block taken for real.
void FillToLastBlock(const std::string& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot make " + file);
  const std::vector<char> block(64 * 1024, 'f');
  int error = 0;
  while (error == 0) {
    if (::write(fd, block.data(), block.size()) < 0 && errno != EINTR) error = errno;
  }
  ::close(fd);
  if (error != ENOSPC) throw std::runtime_error("filling up to " + file + " ended without ENOSPC");
}

void SmallFileSystem::Fill(int64_t leaving) {
  if (leaving == 0) return FillToLastBlock(path_ + kFillerName);
  const int fd = ::open((path_ + kFillerName).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const std::vector<char> block(4096, 'f');
  while (fd >= 0 && FreeBytes() > leaving && ::write(fd, block.data(), block.size()) > 0) {
  }
  if (fd >= 0) ::close(fd);
}

void SmallFileSystem::Empty() {
  std::error_code ignored;
  std::filesystem::remove(path_ + kFillerName, ignored);
}

int64_t SmallFileSystem::FreeBytes() const {
  struct statvfs info {};
  if (::statvfs(path_.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

}  // namespace testing_support
