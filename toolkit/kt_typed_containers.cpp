// SPDX-License-Identifier: MIT
#include "toolkit/kt_typed_containers.h"

namespace kt {
namespace {

const TKtWideString2CardinalItem& TripleAt(const TKtVector& vector, int32_t index) {
  return *static_cast<const TKtWideString2CardinalItem*>(vector.GetItem(index));
}

}  // namespace

const WideString& TKtWideStringVector::GetString(int32_t index) const {
  return static_cast<const TKtWideStringRef*>(GetItem(index))->Get();
}

void* TKtWideStringVector::AddString(std::u16string_view text) {
  void* item = InsertLast();
  static_cast<TKtWideStringRef*>(item)->Assign(text);
  return item;
}

const WideString& TKtWideString2Vector::GetSecondString(int32_t index) const {
  return TripleAt(*this, index).second.Get();
}

TKtWideString2CardinalItem* TKtWideString2CardinalVector::AddItem(std::u16string_view first,
                                                                   std::u16string_view second, uint32_t number) {
  auto* item = static_cast<TKtWideString2CardinalItem*>(InsertLast());
  item->first.Assign(first);
  item->second.Assign(second);
  item->number = number;
  return item;
}

int32_t TKtWideString2CardinalVector::IndexOfCardinal(uint32_t value) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (TripleAt(*this, i).number == value) return i;
  }
  return -1;
}

TKtWideString2CardinalItem* TKtWideString2CardinalVector::FindCardinal(uint32_t value) const {
  const int32_t index = IndexOfCardinal(value);
  return index < 0 ? nullptr : static_cast<TKtWideString2CardinalItem*>(GetItem(index));
}

WideString TKtWideString2CardinalVector::StringOfCardinal(uint32_t value) const {
  const TKtWideString2CardinalItem* item = FindCardinal(value);
  return item == nullptr ? WideString() : item->second.Get();
}

uint32_t TKtCardinalHash::ValueOfKey(const WideChar* buffer, int32_t length) const {
  const int32_t index = IndexOfKeyBuf(buffer, length);
  return index < 0 ? 0 : *static_cast<const uint32_t*>(GetItem(index));
}

std::unique_ptr<TKtWideStringHash> NewWideStringHash(TKtKeyHandler* key_handler) {
  return std::make_unique<TKtWideStringHash>(key_handler);
}

std::unique_ptr<TKtCardinalHash> NewCardinalHash(TKtKeyHandler* key_handler) {
  return std::make_unique<TKtCardinalHash>(key_handler);
}

}  // namespace kt
