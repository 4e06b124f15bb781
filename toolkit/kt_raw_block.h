// SPDX-License-Identifier: MIT
// One heap block of equal-sized elements, resized in place where the heap
// allows. Elements are moved as raw bytes, so they must be trivially
// relocatable. Failure to allocate raises std::bad_alloc; the block is then
// unchanged.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>

namespace kt {

class TKtRawBlock {
 public:
  TKtRawBlock() = default;
  ~TKtRawBlock() { std::free(data_); }
  TKtRawBlock(const TKtRawBlock&) = delete;
  TKtRawBlock& operator=(const TKtRawBlock&) = delete;

  uint8_t* Data() const { return data_; }
  // Elements the block has room for.
  int32_t Capacity() const { return capacity_; }

  // Makes room for capacity elements of element_size bytes; 0 frees the block.
  void Resize(int32_t capacity, int32_t element_size) {
    const size_t bytes = static_cast<size_t>(capacity) * static_cast<size_t>(element_size);
    if (capacity == 0 || bytes == 0) {
      std::free(data_);
      data_ = nullptr;
      capacity_ = capacity;
      return;
    }
    void* grown = std::realloc(data_, bytes);
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(grown);
    capacity_ = capacity;
  }

 private:
  uint8_t* data_ = nullptr;
  int32_t capacity_ = 0;
};

}  // namespace kt
