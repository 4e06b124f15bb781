// SPDX-License-Identifier: MIT
#include "platform/file_ops.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {
namespace {

// Restores errno on leaving a scope, so clean-up keeps the first failure.
class KeepErrno {
 public:
  KeepErrno() : saved_(errno) {}
  ~KeepErrno() { errno = saved_; }

 private:
  int saved_;
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    KeepErrno keep;
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool CopyContents(int from, int to) {
  std::vector<char> block(256 * 1024);
  for (;;) {
    const ssize_t got = ::read(from, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(to, block.data(), got)) return false;
  }
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Moves a finished copy into place; link() keeps an existing target intact.
bool PlaceCopy(const std::string& copy, const std::string& target, uint32_t flags) {
  if (flags & kMoveReplaceExisting) return ::rename(copy.c_str(), target.c_str()) == 0;
  if (::link(copy.c_str(), target.c_str()) != 0) return false;
  ::unlink(copy.c_str());
  return true;
}

bool CopyBesideTarget(const std::string& oldPath, const std::string& newPath, uint32_t flags) {
  FileDescriptor source(::open(oldPath.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (source.get() < 0 || ::fstat(source.get(), &status) != 0) return false;
  if (!S_ISREG(status.st_mode)) {
    errno = EISDIR;
    return false;
  }
  std::string copy = FolderOf(newPath) + "/.moving-XXXXXX";
  FileDescriptor target(::mkostemp(copy.data(), O_CLOEXEC));
  if (target.get() < 0) return false;
  const bool copied = CopyContents(source.get(), target.get()) && ::fchmod(target.get(), status.st_mode & 07777) == 0 &&
                      (!(flags & kMoveWriteThrough) || ::fsync(target.get()) == 0) && target.Close() &&
                      PlaceCopy(copy, newPath, flags);
  if (!copied) {
    KeepErrno keep;
    ::unlink(copy.c_str());
    return false;
  }
  // The data is safe at its new place; a source that cannot be deleted stays.
  ::unlink(oldPath.c_str());
  return true;
}

bool RenameKeepingTarget(const std::string& oldPath, const std::string& newPath) {
  if (::renameat2(AT_FDCWD, oldPath.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot refuse replacing by itself.
  if (PathExists(newPath)) {
    errno = EEXIST;
    return false;
  }
  return ::rename(oldPath.c_str(), newPath.c_str()) == 0;
}

}  // namespace

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool FileExists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

bool MoveFile(const std::string& oldPath, const std::string& newPath, uint32_t flags) {
  const bool renamed = (flags & kMoveReplaceExisting) ? ::rename(oldPath.c_str(), newPath.c_str()) == 0
                                                      : RenameKeepingTarget(oldPath, newPath);
  if (renamed) return true;
  if (errno != EXDEV || !(flags & kMoveCopyAllowed)) return false;
  return CopyBesideTarget(oldPath, newPath, flags);
}

}  // namespace platform
