// SPDX-License-Identifier: MIT
// A 16-bit string held through one pointer to a heap string. Containers move
// their items as raw bytes (inserts at the front, growth, packing), which a
// std::u16string does not survive; a pointer does. Items and keys that carry
// text therefore hold a TKtWideStringRef, and all bits zero is the empty
// string, so a zeroed item is a valid one.
#pragma once

#include <string_view>
#include <type_traits>

#include "toolkit/wide_string.h"

namespace kt {

class TKtWideStringRef {
 public:
  // A reference to text the caller keeps, for looking a key up or inserting
  // it without building an owned copy first. It must never be released or
  // assigned, and must not outlive text.
  static TKtWideStringRef Borrow(const WideString& text);

  // The text; an empty string when none is held.
  const WideString& Get() const;
  bool Empty() const { return text_ == nullptr || text_->empty(); }
  // Replaces the text (an owned copy is kept; empty text holds nothing).
  void Assign(std::u16string_view text);
  // Frees the text; the reference is empty afterwards.
  void Release();

 private:
  WideString* text_;  // null for the empty string
};

static_assert(std::is_trivially_copyable_v<TKtWideStringRef>, "moved as raw bytes");
static_assert(sizeof(TKtWideStringRef) == sizeof(void*), "one pointer");

}  // namespace kt
