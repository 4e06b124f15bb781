// SPDX-License-Identifier: MIT
#include "toolkit/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kt {

int64_t TStream::Size() {
  const int64_t here = Position();
  const int64_t end = Seek(0, SeekOrigin::End);
  Seek(here, SeekOrigin::Beginning);
  return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> block(64 * 1024);
  int64_t left = count;
  while (left > 0) {
    const int64_t step = std::min<int64_t>(left, static_cast<int64_t>(block.size()));
    source.ReadBuffer(block.data(), step);
    WriteBuffer(block.data(), step);
    left -= step;
  }
  return count;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t size = static_cast<int64_t>(data_.size());
  if (count <= 0 || position_ >= size) return 0;
  const int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = position_ + count;
  if (end > static_cast<int64_t>(data_.size())) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  if (origin == SeekOrigin::Current) base = position_;
  if (origin == SeekOrigin::End) base = static_cast<int64_t>(data_.size());
  position_ = std::max<int64_t>(0, base + offset);
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
  position_ = std::min(position_, static_cast<int64_t>(data_.size()));
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EStreamError("Cannot open file \"" + path + "\"");
  data_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EStreamError("Cannot create file \"" + path + "\"");
  out.write(reinterpret_cast<const char*>(data_.data()), static_cast<std::streamsize>(data_.size()));
  if (!out) throw EStreamError("Stream write error");
}

TFileStream::TFileStream(const std::string& path, FileMode mode) : path_(path) {
  const char* how = mode == FileMode::Create ? "w+b" : mode == FileMode::OpenRead ? "rb" : "r+b";
  file_ = std::fopen(path.c_str(), how);
  if (file_ == nullptr) {
    const std::string verb = mode == FileMode::Create ? "create" : "open";
    throw EStreamError("Cannot " + verb + " file \"" + path + "\". " + std::strerror(errno));
  }
  if (mode != FileMode::OpenRead) {
    writeBuffer_ = std::make_unique_for_overwrite<char[]>(kWriteBufferSize);
    std::setvbuf(file_, writeBuffer_.get(), _IOFBF, kWriteBufferSize);
  }
}

TFileStream::~TFileStream() {
  if (file_ != nullptr) std::fclose(file_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return static_cast<int64_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  const int whence = origin == SeekOrigin::Beginning ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
  if (std::fseek(file_, static_cast<long>(offset), whence) != 0) throw EStreamError("Stream seek error");
  return static_cast<int64_t>(std::ftell(file_));
}

void TFileStream::SetSize(int64_t size) {
  std::fflush(file_);
  std::error_code error;
  std::filesystem::resize_file(path_, static_cast<uintmax_t>(size), error);
  if (error) throw EStreamError("Cannot resize file \"" + path_ + "\". " + error.message());
  if (Position() > size) Seek(size, SeekOrigin::Beginning);
}

void TFileStream::Flush() { std::fflush(file_); }

}  // namespace kt
