// SPDX-License-Identifier: MIT
#include "engine/net/file_stream_ext.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

kt::FileMode ModeFor(uint16_t mode) {
  if (mode == TFileStreamExt::kCreate) return kt::FileMode::Create;
  return (mode & 3) == 0 ? kt::FileMode::OpenRead : kt::FileMode::OpenReadWrite;
}

std::string PathOf(const kt::WideString& fileName, uint16_t mode) {
  const std::string path = kt::WideToUtf8(fileName);
  const int flags = mode == TFileStreamExt::kCreate ? O_RDWR | O_CREAT | O_TRUNC
                    : (mode & 3) == 0              ? O_RDONLY
                                                   : O_RDWR;
  // Opening it here first gives the system's reason before the stream tries.
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    const std::string reason = std::strerror(errno);
    const std::string format = mode == TFileStreamExt::kCreate ? "Can't create file %s \r\n%s" : "Can't open file %s \r\n%s";
    throw EFCreateError(FormatText(format, path, reason));
  }
  ::close(fd);
  return path;
}

}  // namespace

TFileStreamExt::TFileStreamExt(const kt::WideString& fileName, uint16_t mode)
    : kt::TFileStream(PathOf(fileName, mode), ModeFor(mode)) {}

}  // namespace tidewell
