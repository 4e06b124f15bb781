// SPDX-License-Identifier: MIT
// A hash table of key and item pairs, both stored by value in one block of
// entries. Deleted entries are chained and reused before the block grows, and
// packed away once the live count falls a capacity step below the block.
//
// An entry is a 32-bit header, then the key, then the item. Key and item are
// placed at offsets aligned to what their sizes allow (up to 8 bytes), so a
// key or item holding a pointer is read in place. The header of a live entry
// holds the index of the next entry of its bucket; that of a deleted entry has
// bit 30 set and holds the index of the next deleted entry. A negative link
// (the top bit alone) means none.
#pragma once

#include <functional>
#include <vector>

#include "toolkit/kt_containers.h"
#include "toolkit/kt_raw_block.h"

namespace kt {

class TKtHash : public TKtContainer {
 public:
  // Fails with "ItemHandler is nil" or "KeyHandler is nil"; both handlers
  // must outlive the hash. Starts with 7 buckets.
  TKtHash(TKtItemHandler* item_handler, TKtKeyHandler* key_handler) : TKtHash("TKtHash", item_handler, key_handler) {}
  ~TKtHash() override;

  TKtKeyHandler& KeyHandler() const { return *key_handler_; }
  int32_t HashCount() const { return static_cast<int32_t>(buckets_.size()); }
  // Entries in the block, deleted ones included.
  int32_t Slots() const { return slots_; }
  // Room of the block in entries.
  int32_t Capacity() const { return block_.Capacity(); }

  // The item stored under key, inserted (key stored, item initialised) when
  // absent. key is the address of a key in the stored layout.
  void* InsertKey(const void* key);
  // The same, giving the entry index, which stays valid until an entry is
  // deleted (a delete may pack the block).
  int32_t InsertKeyIndex(const void* key);
  // InsertKey and InsertKeyIndex for a key given as a character buffer and
  // its length; the key is stored with OnStoreKeyBuf.
  void* InsertKeyBuf(const void* buffer, int32_t length);
  int32_t InsertKeyBufIndex(const void* buffer, int32_t length);
  // The entry index of a key, or -1.
  int32_t IndexOfKey(const void* key) const;
  // The same for a key given as a character buffer and its length.
  int32_t IndexOfKeyBuf(const void* buffer, int32_t length) const;
  // Frees the key and item of key's entry, if present.
  void DeleteKey(const void* key);
  // "List index out of bounds (%d)" outside 0..Slots - 1; "Item is deleted"
  // for a deleted entry.
  void* GetItem(int32_t index) const;
  void* GetKey(int32_t index) const;
  bool IsDeleted(int32_t index) const;
  // Sets the bucket count to n with its three low bits set (7, 15, 23, ...)
  // and rehashes. "Invalid HashCount (%d)" when n is below Count.
  void SetHashCount(int32_t n);
  // Moves the live entries together and shrinks the block.
  void Pack();

  // Takes the entries of a hash with the same item and key handlers; the
  // item handler must have OnCopyItem and the key handler OnStoreKey.
  void Assign(const TKtContainer& source) override;
  // Back to 7 buckets and no entries.
  void Clear() override;
  // Live items only, in block order.
  void Iterate(TKtIterateItemsProc iterate, void* data) override;
  void* FirstThat(const void* value, TKtSameItemsFunc same) const override;
  void* LastThat(const void* value, TKtSameItemsFunc same) const override;
  void ReadFromStream(TKtBinaryReader& reader, TKtStreamOptions options, void* data) override;
  void WriteToStream(TKtBinaryWriter& writer, TKtStreamOptions options, void* data) override;

 protected:
  TKtHash(const char* class_name, TKtItemHandler* item_handler, TKtKeyHandler* key_handler);

 private:
  // Where a search ended: the entry found (or -1), the entry before it in
  // its chain (or -1 when the bucket itself points at it) and the bucket.
  // Indexes, not addresses, so that growing the block keeps them valid.
  struct Position {
    int32_t index;
    int32_t prev;
    int32_t bucket;
  };

  uint8_t* Entry(int32_t index) const;
  int32_t& Header(int32_t index) const;
  uint8_t* KeyOf(int32_t index) const;
  uint8_t* ItemOf(int32_t index) const;
  int32_t BucketOf(uint32_t hash) const;
  int32_t& LinkOf(const Position& position);
  Position Find(const void* key) const;
  Position FindBuf(const void* buffer, int32_t length) const;
  int32_t AddEntry(const Position& position, const std::function<void(void*)>& store_key);
  void CheckEntryIndex(int32_t index) const;
  int32_t TakeFreeEntry(int32_t& next_first_deleted);
  void FreeLiveEntries();
  void Rehash();
  void GrowBucketsIfFull();
  void SetCapacityFor(int32_t slots);
  void DropLastEntry();
  void ReadEntries(TKtBinaryReader& reader, uint32_t count, void* data);

  TKtKeyHandler* key_handler_;
  // Constant after construction: where key and item sit in an entry.
  int32_t key_offset_;
  int32_t item_offset_;
  int32_t entry_size_;

  std::vector<int32_t> buckets_;
  TKtRawBlock block_;
  int32_t slots_ = 0;
  int32_t first_deleted_;
};

}  // namespace kt
