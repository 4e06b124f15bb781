// SPDX-License-Identifier: MIT
// A growable array of items stored back to back in one block whose capacity
// follows the capacity steps. Item addresses stay valid until the next
// insert, SetCount or Clear.
#pragma once

#include "toolkit/kt_containers.h"
#include "toolkit/kt_raw_block.h"

namespace kt {

class TKtTree;

class TKtVector : public TKtLinearContainer {
 public:
  // Fails with "ItemHandler is nil" when handler is null; the handler must
  // outlive the vector.
  explicit TKtVector(TKtItemHandler* handler) : TKtVector("TKtVector", handler) {}
  ~TKtVector() override;

  // The block of Count items (nullptr when empty) and its room in items.
  void* Items() const { return block_.Data(); }
  int32_t Capacity() const { return block_.Capacity(); }
  // "List index out of bounds (%d)" for index outside 0..Count - 1.
  void* GetItem(int32_t index) const;

  // Frees removed items from the last one down, or initialises new ones.
  // "List index out of bounds (%d)" for n below 0 or above kKtMaxCount.
  void SetCount(int32_t n);
  // The index of the first item for which same(item, value) holds, or -1.
  int32_t IndexOf(const void* value, TKtSameItemsFunc same) const;
  // Takes the items of a vector or (in pre-order) of a tree. The item
  // handlers must be the same object and have OnCopyItem.
  void Assign(const TKtContainer& source) override;
  void AssignFromVector(const TKtVector& source);

  void Clear() override;
  void Iterate(TKtIterateItemsProc iterate, void* data) override;
  void* FirstThat(const void* value, TKtSameItemsFunc same) const override;
  void* LastThat(const void* value, TKtSameItemsFunc same) const override;
  void ReadFromStream(TKtBinaryReader& reader, TKtStreamOptions options, void* data) override;
  void WriteToStream(TKtBinaryWriter& writer, TKtStreamOptions options, void* data) override;

  void* InsertFirst() override;
  void* InsertFirstRaw() override;
  void* InsertLast() override;
  void* InsertLastRaw() override;
  // "List index out of bounds (%d)" when empty.
  void* First() const override;
  void* Last() const override;

 protected:
  TKtVector(const char* class_name, TKtItemHandler* handler) : TKtLinearContainer(class_name, handler) {}

 private:
  uint8_t* At(int32_t index) const;
  // Sizes the block, sized for old_count items, for new_count items by the
  // capacity steps.
  void Resize(int32_t old_count, int32_t new_count);
  void CheckCopyFrom(const TKtContainer& source) const;
  void AssignFromTree(const TKtTree& source);

  TKtRawBlock block_;
};

}  // namespace kt
