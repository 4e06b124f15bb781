// SPDX-License-Identifier: MIT
#include "toolkit/kt_vector.h"

#include <cstring>

#include "toolkit/kt_tree.h"

namespace kt {
namespace {

constexpr char kVectorSignature[] = "KTVC";

}  // namespace

TKtVector::~TKtVector() {
  try {
    Clear();
  } catch (...) {  // a destructor never throws; a failing free leaks instead
  }
}

uint8_t* TKtVector::At(int32_t index) const {
  return block_.Data() + static_cast<size_t>(index) * static_cast<size_t>(item_handler_->ItemSize());
}

void* TKtVector::GetItem(int32_t index) const {
  CheckIndex(index, count_);
  return At(index);
}

void TKtVector::Resize(int32_t old_count, int32_t new_count) {
  if (new_count > block_.Capacity() || new_count < ShrinkCapacity(old_count)) {
    block_.Resize(GrowCapacity(new_count), item_handler_->ItemSize());
  }
}

void TKtVector::SetCount(int32_t n) {
  if (n < 0 || n > kKtMaxCount) Error("List index out of bounds (%d)", n);
  const int32_t old_count = count_;
  while (count_ > n) {
    FreeItem(At(count_ - 1));
    --count_;
  }
  Resize(old_count, n);
  while (count_ < n) {
    InitItem(At(count_));
    ++count_;
  }
}

void TKtVector::Clear() {
  for (int32_t i = 0; i < count_; ++i) FreeItem(At(i));
  count_ = 0;
  block_.Resize(0, item_handler_->ItemSize());
}

int32_t TKtVector::IndexOf(const void* value, TKtSameItemsFunc same) const {
  CheckSameItems(same);
  for (int32_t i = 0; i < count_; ++i) {
    if (same(At(i), value)) return i;
  }
  return -1;
}

void* TKtVector::FirstThat(const void* value, TKtSameItemsFunc same) const {
  const int32_t index = IndexOf(value, same);
  return index < 0 ? nullptr : At(index);
}

void* TKtVector::LastThat(const void* value, TKtSameItemsFunc same) const {
  CheckSameItems(same);
  for (int32_t i = count_ - 1; i >= 0; --i) {
    if (same(At(i), value)) return At(i);
  }
  return nullptr;
}

void TKtVector::Iterate(TKtIterateItemsProc iterate, void* data) {
  CheckIterateItems(iterate);
  for (int32_t i = 0; i < count_; ++i) iterate(At(i), data);
}

void* TKtVector::InsertFirstRaw() {
  if (count_ >= kKtMaxCount) Error("List index out of bounds (%d)", count_);
  Resize(count_, count_ + 1);
  std::memmove(At(1), At(0), static_cast<size_t>(count_) * static_cast<size_t>(item_handler_->ItemSize()));
  ++count_;
  return At(0);
}

void* TKtVector::InsertFirst() {
  void* item = InsertFirstRaw();
  InitItem(item);
  return item;
}

void* TKtVector::InsertLastRaw() {
  if (count_ >= kKtMaxCount) Error("List index out of bounds (%d)", count_);
  Resize(count_, count_ + 1);
  ++count_;
  return At(count_ - 1);
}

void* TKtVector::InsertLast() {
  void* item = InsertLastRaw();
  InitItem(item);
  return item;
}

void* TKtVector::First() const { return GetItem(0); }

void* TKtVector::Last() const { return GetItem(count_ - 1); }

void TKtVector::CheckCopyFrom(const TKtContainer& source) const {
  if (&source.ItemHandler() != item_handler_) Error("Itemhandlers do not match");
  if (item_handler_->OnCopyItem() == nullptr) Error("OnCopyItems not assigned");
}

void TKtVector::Assign(const TKtContainer& source) {
  if (const auto* vector = dynamic_cast<const TKtVector*>(&source)) {
    AssignFromVector(*vector);
  } else if (const auto* tree = dynamic_cast<const TKtTree*>(&source)) {
    AssignFromTree(*tree);
  } else {
    TKtLinearContainer::Assign(source);
  }
}

void TKtVector::AssignFromVector(const TKtVector& source) {
  CheckCopyFrom(source);
  if (&source == this) return;
  SetCount(source.Count());
  for (int32_t i = 0; i < count_; ++i) item_handler_->OnCopyItem()(source.At(i), At(i));
}

void TKtVector::AssignFromTree(const TKtTree& source) {
  CheckCopyFrom(source);
  SetCount(source.Count());
  int32_t i = 0;
  for (void* node = source.First(); node != nullptr; node = source.Next(node)) {
    item_handler_->OnCopyItem()(node, At(i++));
  }
}

void TKtVector::WriteToStream(TKtBinaryWriter& writer, TKtStreamOptions options, void* data) {
  CheckCanWrite();
  WritePrologue(writer, options, data, kVectorSignature);
  writer.WriteInteger(count_);
  for (int32_t i = 0; i < count_; ++i) item_handler_->OnWriteItem()(*this, writer, At(i), data);
}

void TKtVector::ReadFromStream(TKtBinaryReader& reader, TKtStreamOptions options, void* data) {
  CheckCanRead();
  ReadPrologue(reader, options, data, kVectorSignature);
  Clear();
  const int32_t count = reader.ReadInteger();
  if (count < 0 || count > kKtMaxCount) Error("Invalid stream format");
  // Items are appended as they are read, so a count that the data does not
  // back ends in a read error, not in one large allocation. The item whose
  // reading fails is dropped; those read before it stay.
  for (int32_t i = 0; i < count; ++i) {
    void* item = InsertLast();
    try {
      item_handler_->OnReadItem()(*this, reader, item, data);
    } catch (...) {
      SetCount(count_ - 1);
      throw;
    }
  }
}

}  // namespace kt
