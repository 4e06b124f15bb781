// SPDX-License-Identifier: MIT
// The file an enclosure is written into while it downloads. Every write goes
// straight to the file, so that a full disk or any other failure to store
// the body shows at the write that met it, with the system's reason, and
// never later in a flush that nobody checks.
// Threads: one worker's, like the transfer.
#pragma once

#include <cstdint>
#include <string>

#include "engine/net/file_stream_ext.h"
#include "toolkit/stream.h"
#include "toolkit/wide_string.h"

namespace tidewell {

// Raised when the body cannot be written to its file: "Can't write file %s
// \r\n%s" (file name, the system's reason).
class EFWriteError : public kt::EStreamError {
 public:
  explicit EFWriteError(const std::string& message, int systemError = 0)
      : kt::EStreamError(message), systemError_(systemError) {}
  // The system's error number; 0 when the failure was no system's.
  int SystemError() const { return systemError_; }
  // Whether the write may succeed later as it is: the disk (or the user's
  // quota) was full, and room may be made. Any other failure stays.
  bool Passes() const;

 private:
  int systemError_;
};

// Whether the system's error number says the disk, or the user's quota,
// was full: a failure that passes once room is made.
bool IsRoomFailure(int systemError);

class TDownloadFileStream : public kt::TStream {
 public:
  // Creates (or empties) the file, making its folder first when that is
  // missing (its parent is not made); raises EFCreateError with "Can't
  // create file %s \r\n%s" when it cannot.
  explicit TDownloadFileStream(const kt::WideString& fileName);
  ~TDownloadFileStream() override;
  TDownloadFileStream(const TDownloadFileStream&) = delete;
  TDownloadFileStream& operator=(const TDownloadFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  // Writes all count bytes or raises EFWriteError.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, kt::SeekOrigin origin) override;
  void SetSize(int64_t size) override;

  // Closes the file, raising EFWriteError when the system reports that what
  // was written did not reach it. Later calls do nothing.
  void Close();

  // The system's reason why the file being written is no longer at its
  // name (its folder was renamed or deleted), or "" while it is. Only
  // meaningful before Close.
  std::string GoneReason() const;
  // Closes the file and removes it wherever its folder went. Failures are
  // ignored.
  void Discard();

 private:
  [[noreturn]] void RaiseWriteError(int error) const;
  void OpenFolder();

  std::string path_;
  std::string folder_;
  std::string name_;
  // The folder stays open, so that the file can be removed after the folder
  // was renamed.
  int folderFd_ = -1;
  int fd_ = -1;
};

}  // namespace tidewell
