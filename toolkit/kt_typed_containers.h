// SPDX-License-Identifier: MIT
// Containers with a fixed item layout and typed look-ups: vectors of strings
// and of (string, string, number) items, hashes of string and of number
// items. They add no state to the untyped containers. Used by one thread at a
// time.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "toolkit/kt_hash.h"
#include "toolkit/kt_item_handlers.h"
#include "toolkit/kt_vector.h"

namespace kt {

// A vector whose items begin with a string (TKtWideStringRef).
class TKtWideStringVector : public TKtVector {
 public:
  explicit TKtWideStringVector(TKtItemHandler* handler = WideStringItemHandler())
      : TKtWideStringVector("TKtWideStringVector", handler) {}

  // The string of the item at index; "List index out of bounds (%d)" outside
  // 0..Count - 1. The reference lasts until the item changes.
  const WideString& GetString(int32_t index) const;
  // Appends an item holding text; returns it.
  void* AddString(std::u16string_view text);

 protected:
  TKtWideStringVector(const char* class_name, TKtItemHandler* handler) : TKtVector(class_name, handler) {}
};

// A vector whose items begin with two strings.
class TKtWideString2Vector : public TKtWideStringVector {
 public:
  explicit TKtWideString2Vector(TKtItemHandler* handler = WideString2CardinalItemHandler())
      : TKtWideString2Vector("TKtWideString2Vector", handler) {}

  // The second string of the item at index; "List index out of bounds (%d)"
  // outside 0..Count - 1.
  const WideString& GetSecondString(int32_t index) const;

 protected:
  TKtWideString2Vector(const char* class_name, TKtItemHandler* handler) : TKtWideStringVector(class_name, handler) {}
};

// A vector of (first, second, number) items: in a tag, the attributes'
// names, values and numbers.
class TKtWideString2CardinalVector : public TKtWideString2Vector {
 public:
  explicit TKtWideString2CardinalVector(TKtItemHandler* handler = WideString2CardinalItemHandler())
      : TKtWideString2CardinalVector("TKtWideString2CardinalVector", handler) {}

  // Appends an item; returns it.
  TKtWideString2CardinalItem* AddItem(std::u16string_view first, std::u16string_view second, uint32_t number);
  // The index of the first item whose number is value, or -1.
  int32_t IndexOfCardinal(uint32_t value) const;
  // The first item whose number is value, or nullptr.
  TKtWideString2CardinalItem* FindCardinal(uint32_t value) const;
  // The second string of the first item whose number is value, or an empty
  // string when there is none.
  WideString StringOfCardinal(uint32_t value) const;

 protected:
  TKtWideString2CardinalVector(const char* class_name, TKtItemHandler* handler)
      : TKtWideString2Vector(class_name, handler) {}
};

// A hash of string items under keys of the given key handler.
class TKtWideStringHash : public TKtHash {
 public:
  explicit TKtWideStringHash(TKtKeyHandler* key_handler)
      : TKtHash("TKtWideStringHash", WideStringItemHandler(), key_handler) {}
};

// A hash of number items under keys of the given key handler.
class TKtCardinalHash : public TKtHash {
 public:
  explicit TKtCardinalHash(TKtKeyHandler* key_handler)
      : TKtHash("TKtCardinalHash", CardinalItemHandler(), key_handler) {}

  // The number stored under the key given as a character buffer and its
  // length, or 0 when the key is absent.
  uint32_t ValueOfKey(const WideChar* buffer, int32_t length) const;
};

std::unique_ptr<TKtWideStringHash> NewWideStringHash(TKtKeyHandler* key_handler);
std::unique_ptr<TKtCardinalHash> NewCardinalHash(TKtKeyHandler* key_handler);

}  // namespace kt
