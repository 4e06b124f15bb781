// SPDX-License-Identifier: MIT
#include "engine/net/download_file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

const char kCantCreateFile[] = "Can't create file %s \r\n%s";
const char kCantWriteFile[] = "Can't write file %s \r\n%s";

}  // namespace

TDownloadFileStream::TDownloadFileStream(const kt::WideString& fileName) : path_(kt::WideToUtf8(fileName)) {
  const size_t slash = path_.rfind('/');
  folder_ = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
  name_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  OpenFolder();
  fd_ = ::openat(folderFd_, name_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    const int error = errno;
    ::close(folderFd_);
    throw EFCreateError(FormatText(kCantCreateFile, path_, std::strerror(error)));
  }
}

// A folder deleted or renamed while episodes were queued is made again, so
// that the next episode does not fail for it.
void TDownloadFileStream::OpenFolder() {
  folderFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd_ < 0 && errno == ENOENT && (::mkdir(folder_.c_str(), 0755) == 0 || errno == EEXIST))
    folderFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd_ < 0) throw EFCreateError(FormatText(kCantCreateFile, path_, std::strerror(errno)));
}

TDownloadFileStream::~TDownloadFileStream() {
  if (fd_ >= 0) ::close(fd_);
  if (folderFd_ >= 0) ::close(folderFd_);
}

std::string TDownloadFileStream::GoneReason() const {
  if (fd_ < 0) return {};
  struct stat open {};
  struct stat named {};
  if (::fstat(fd_, &open) != 0) return {};
  if (::stat(path_.c_str(), &named) != 0) return std::strerror(errno);
  if (named.st_dev != open.st_dev || named.st_ino != open.st_ino) return std::strerror(ENOENT);
  return {};
}

void TDownloadFileStream::Discard() {
  if (folderFd_ >= 0) ::unlinkat(folderFd_, name_.c_str(), 0);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int64_t TDownloadFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || fd_ < 0) return 0;
  ssize_t got;
  do {
    got = ::read(fd_, buffer, static_cast<size_t>(count));
  } while (got < 0 && errno == EINTR);
  if (got < 0) throw kt::EStreamError("Stream read error");
  return got;
}

int64_t TDownloadFileStream::Write(const void* buffer, int64_t count) {
  if (fd_ < 0) RaiseWriteError(EBADF);
  const char* bytes = static_cast<const char*>(buffer);
  int64_t written = 0;
  while (written < count) {
    const ssize_t done = ::write(fd_, bytes + written, static_cast<size_t>(count - written));
    if (done < 0 && errno == EINTR) continue;
    // A write that stores nothing without a reason leaves the disk full.
    if (done <= 0) RaiseWriteError(done < 0 ? errno : ENOSPC);
    written += done;
  }
  return written;
}

int64_t TDownloadFileStream::Seek(int64_t offset, kt::SeekOrigin origin) {
  const int whence = origin == kt::SeekOrigin::Beginning ? SEEK_SET
                     : origin == kt::SeekOrigin::Current ? SEEK_CUR
                                                          : SEEK_END;
  const off_t position = fd_ < 0 ? -1 : ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (position < 0) throw kt::EStreamError("Stream seek error");
  return position;
}

void TDownloadFileStream::SetSize(int64_t size) {
  if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) RaiseWriteError(fd_ < 0 ? EBADF : errno);
}

void TDownloadFileStream::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  // Some file systems report a failed write-back only here.
  if (::close(fd) != 0 && errno != EINTR) RaiseWriteError(errno);
}

void TDownloadFileStream::RaiseWriteError(int error) const {
  throw EFWriteError(FormatText(kCantWriteFile, path_, std::strerror(error)), error);
}

bool EFWriteError::Passes() const { return IsRoomFailure(systemError_); }

bool IsRoomFailure(int systemError) { return systemError == ENOSPC || systemError == EDQUOT; }

}  // namespace tidewell
