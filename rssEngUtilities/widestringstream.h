// SPDX-License-Identifier: MIT
// A stream over a growable memory block that starts as a copy of a 16-bit
// text (its code units, little-endian); the article key's digest reads it.
//
// Its rules differ from the usual streams: after creation the position is at
// the end of the text, seeks are clamped to the data, a seek from the end
// counts backwards (size - offset), and SetSize counts characters (two bytes
// each) where every other operation counts bytes. Sizes are 32-bit: growing
// past that raises EStreamError "Invalid size !".
#pragma once

#include <cstdint>
#include <memory>

#include "toolkit/stream.h"
#include "toolkit/wide_string.h"

namespace tidewell {

class TWideStringStream : public kt::TStream {
 public:
  // An empty text gives an empty stream with 32768 zero bytes of room.
  explicit TWideStringStream(const kt::WideString& text);
  TWideStringStream(const TWideStringStream&) = delete;
  TWideStringStream& operator=(const TWideStringStream&) = delete;

  // n characters, that is 2n bytes; 0 frees the block.
  void SetSize(int64_t n) override;
  // Counts below 1 read or write nothing and return 0.
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, kt::SeekOrigin origin) override;

  // The bytes allocated.
  int32_t Capacity() const { return capacity_; }

 private:
  void Grow(int64_t by);
  void Reallocate(int32_t capacity);

  std::unique_ptr<uint8_t[]> buffer_;
  int32_t size_ = 0;
  int32_t capacity_ = 0;
  int32_t position_ = 0;
};

}  // namespace tidewell
