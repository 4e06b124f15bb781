// SPDX-License-Identifier: MIT
// The byte stream abstraction shared by the toolkit and the engine: read,
// write, seek and size over memory or a file. Failures raise EStreamError.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/exception.h"

namespace kt {

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads at most count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes; returns how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Beginning); }
  int64_t Size();

  // Read or write exactly count bytes, raising EStreamError otherwise.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes (all of source from its start when count is 0).
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream in memory; the position may lie past the end, a write there fills
// the gap with zero bytes.
class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t size) override;

  void Clear();
  const uint8_t* Memory() const { return data_.data(); }
  uint8_t* Memory() { return data_.data(); }
  const std::vector<uint8_t>& Bytes() const { return data_; }
  std::string ToString() const { return std::string(data_.begin(), data_.end()); }
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path) const;

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

enum class FileMode { Create, OpenRead, OpenReadWrite };

// A stream over a file (the path is UTF-8). Opening failures raise
// EStreamError with the system's reason.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& path, FileMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t size) override;

  const std::string& FileName() const { return path_; }
  void Flush();

 private:
  // Writes reach the file in calls of this size: a download that hands
  // over a few KiB at a time would otherwise make a system call for each.
  static constexpr size_t kWriteBufferSize = 1 << 20;

  std::string path_;
  std::unique_ptr<char[]> writeBuffer_;  // outlives file_
  std::FILE* file_ = nullptr;
};

}  // namespace kt
