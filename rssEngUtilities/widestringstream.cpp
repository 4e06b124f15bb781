// SPDX-License-Identifier: MIT
#include "rssEngUtilities/widestringstream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tidewell {

namespace {

constexpr int32_t kEmptyTextRoom = 32768;
constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();

[[noreturn]] void RaiseInvalidSize() { throw kt::EStreamError("Invalid size !"); }

}  // namespace

TWideStringStream::TWideStringStream(const kt::WideString& text) {
  if (text.empty()) {
    Reallocate(kEmptyTextRoom);
    return;
  }
  const int64_t bytes = 2 * static_cast<int64_t>(text.size());
  if (bytes > kMaxSize) RaiseInvalidSize();
  Reallocate(static_cast<int32_t>(bytes));
  // Little-endian whatever the machine, so that digests agree everywhere.
  for (size_t i = 0; i < text.size(); ++i) {
    buffer_[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    buffer_[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  size_ = static_cast<int32_t>(bytes);
  position_ = size_;
}

void TWideStringStream::Reallocate(int32_t capacity) {
  auto block = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity));  // zero-filled
  if (buffer_) std::memcpy(block.get(), buffer_.get(), static_cast<size_t>(std::min(capacity, capacity_)));
  buffer_ = std::move(block);
  capacity_ = capacity;
}

void TWideStringStream::Grow(int64_t by) {
  if (by < 0) RaiseInvalidSize();
  if (by == 0) return;
  const int64_t size = size_ + by;
  if (size > kMaxSize) RaiseInvalidSize();
  if (size > capacity_) Reallocate(static_cast<int32_t>(size));
  size_ = static_cast<int32_t>(size);
}

void TWideStringStream::SetSize(int64_t n) {
  if (n == 0) {
    buffer_.reset();
    size_ = capacity_ = position_ = 0;
    return;
  }
  if (n < 0 || 2 * n > kMaxSize) RaiseInvalidSize();
  const auto size = static_cast<int32_t>(2 * n);
  position_ = std::min(position_, size);
  if (size > capacity_) Reallocate(size);
  size_ = size;
}

int64_t TWideStringStream::Read(void* buffer, int64_t count) {
  const int64_t n = std::min<int64_t>(count, size_ - position_);
  if (n <= 0) return 0;
  std::memcpy(buffer, buffer_.get() + position_, static_cast<size_t>(n));
  position_ += static_cast<int32_t>(n);
  return n;
}

int64_t TWideStringStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (count > kMaxSize - position_) RaiseInvalidSize();
  const int64_t end = position_ + count;
  if (end > size_) Grow(end - size_);
  std::memcpy(buffer_.get() + position_, buffer, static_cast<size_t>(count));
  position_ = static_cast<int32_t>(end);
  return count;
}

int64_t TWideStringStream::Seek(int64_t offset, kt::SeekOrigin origin) {
  // Any offset beyond the 32-bit range lands on a bound anyway; limiting it
  // first keeps the sums below from overflowing.
  offset = std::clamp<int64_t>(offset, -2 * kMaxSize, 2 * kMaxSize);
  int64_t position = offset;
  if (origin == kt::SeekOrigin::Current) position = position_ + offset;
  if (origin == kt::SeekOrigin::End) position = size_ - offset;
  position_ = static_cast<int32_t>(std::clamp<int64_t>(position, 0, size_));
  return position_;
}

}  // namespace tidewell
