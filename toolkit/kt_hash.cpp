// SPDX-License-Identifier: MIT
#include "toolkit/kt_hash.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>

namespace kt {
namespace {

constexpr char kHashSignature[] = "KTHC";
constexpr int32_t kNone = INT32_MIN;  // the top bit alone
constexpr int32_t kDeletedBit = 1 << 30;
constexpr int32_t kInitialHashCount = 7;

// The largest alignment (up to 8) that a block of size bytes can carry.
int32_t AlignmentOf(int32_t size) {
  if (size % 8 == 0) return 8;
  if (size % 4 == 0) return 4;
  return size % 2 == 0 ? 2 : 1;
}

int32_t AlignUp(int32_t value, int32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

}  // namespace

TKtHash::TKtHash(const char* class_name, TKtItemHandler* item_handler, TKtKeyHandler* key_handler)
    : TKtContainer(class_name, item_handler), key_handler_(key_handler), first_deleted_(kNone) {
  if (key_handler == nullptr) Error("KeyHandler is nil");
  const int32_t key_size = key_handler->KeySize();
  const int32_t item_size = item_handler->ItemSize();
  key_offset_ = AlignUp(4, AlignmentOf(key_size));
  item_offset_ = AlignUp(key_offset_ + key_size, AlignmentOf(item_size));
  entry_size_ = AlignUp(item_offset_ + item_size, std::max({4, AlignmentOf(key_size), AlignmentOf(item_size)}));
  buckets_.assign(kInitialHashCount, kNone);
  key_handler_->AddUser();
}

TKtHash::~TKtHash() {
  try {
    FreeLiveEntries();
  } catch (...) {  // a destructor never throws; a failing free leaks instead
  }
  key_handler_->RemoveUser();
}

uint8_t* TKtHash::Entry(int32_t index) const {
  return block_.Data() + static_cast<size_t>(index) * static_cast<size_t>(entry_size_);
}

int32_t& TKtHash::Header(int32_t index) const { return *reinterpret_cast<int32_t*>(Entry(index)); }
uint8_t* TKtHash::KeyOf(int32_t index) const { return Entry(index) + key_offset_; }
uint8_t* TKtHash::ItemOf(int32_t index) const { return Entry(index) + item_offset_; }

int32_t TKtHash::BucketOf(uint32_t hash) const { return static_cast<int32_t>(hash % buckets_.size()); }

int32_t& TKtHash::LinkOf(const Position& position) {
  return position.prev < 0 ? buckets_[position.bucket] : Header(position.prev);
}

TKtHash::Position TKtHash::Find(const void* key) const {
  if (key_handler_->OnHashKey() == nullptr) Error("OnHashKey not assigned");
  if (key_handler_->OnSameKeys() == nullptr) Error("OnSameKeys not assigned");
  Position position{-1, -1, BucketOf(key_handler_->OnHashKey()(key))};
  for (int32_t index = buckets_[position.bucket]; index >= 0; index = Header(index)) {
    if (key_handler_->OnSameKeys()(key, KeyOf(index))) {
      position.index = index;
      return position;
    }
    position.prev = index;
  }
  return position;
}

int32_t TKtHash::IndexOfKey(const void* key) const { return Find(key).index; }

TKtHash::Position TKtHash::FindBuf(const void* buffer, int32_t length) const {
  if (key_handler_->OnHashKeyBuf() == nullptr) Error("OnHashKeyBuf not assigned");
  if (key_handler_->OnSameKeyBuf() == nullptr) Error("OnSameKeyBuf not assigned");
  Position position{-1, -1, BucketOf(key_handler_->OnHashKeyBuf()(buffer, length))};
  for (int32_t index = buckets_[position.bucket]; index >= 0; index = Header(index)) {
    if (key_handler_->OnSameKeyBuf()(KeyOf(index), buffer, length)) {
      position.index = index;
      return position;
    }
    position.prev = index;
  }
  return position;
}

int32_t TKtHash::IndexOfKeyBuf(const void* buffer, int32_t length) const { return FindBuf(buffer, length).index; }

void TKtHash::SetCapacityFor(int32_t slots) {
  if (slots > block_.Capacity()) block_.Resize(GrowCapacity(slots), entry_size_);
}

// The entry a new key goes to: the first deleted one, else a new one at the
// end of the block. Nothing is committed; next_first_deleted tells what
// FirstDeleted becomes once the entry is taken.
int32_t TKtHash::TakeFreeEntry(int32_t& next_first_deleted) {
  if (first_deleted_ >= 0) {
    next_first_deleted = Header(first_deleted_) & ~kDeletedBit;
    return first_deleted_;
  }
  SetCapacityFor(slots_ + 1);
  next_first_deleted = first_deleted_;
  return slots_;
}

int32_t TKtHash::InsertKeyIndex(const void* key) {
  if (key_handler_->OnStoreKey() == nullptr) Error("OnStoreKey not assigned");
  const Position position = Find(key);
  if (position.index >= 0) return position.index;
  return AddEntry(position, [&](void* dest) { key_handler_->OnStoreKey()(key, dest); });
}

int32_t TKtHash::InsertKeyBufIndex(const void* buffer, int32_t length) {
  if (key_handler_->OnStoreKeyBuf() == nullptr) Error("OnStoreKeyBuf not assigned");
  const Position position = FindBuf(buffer, length);
  if (position.index >= 0) return position.index;
  return AddEntry(position, [&](void* dest) { key_handler_->OnStoreKeyBuf()(buffer, length, dest); });
}

int32_t TKtHash::AddEntry(const Position& position, const std::function<void(void*)>& store_key) {
  if (count_ >= kKtMaxCount) Error("List index out of bounds (%d)", count_);
  int32_t next_first_deleted = kNone;
  const int32_t index = TakeFreeEntry(next_first_deleted);
  // Key and item are filled before the entry is linked and counted, so a
  // failing routine leaves the table as it was.
  std::memset(KeyOf(index), 0, static_cast<size_t>(entry_size_ - key_offset_));
  store_key(KeyOf(index));
  try {
    InitItem(ItemOf(index));
  } catch (...) {
    if (key_handler_->OnFreeKey() != nullptr) key_handler_->OnFreeKey()(KeyOf(index));
    throw;
  }
  if (index == slots_) ++slots_;
  first_deleted_ = next_first_deleted;
  Header(index) = kNone;
  LinkOf(position) = index;
  ++count_;
  GrowBucketsIfFull();
  return index;
}

void* TKtHash::InsertKey(const void* key) { return ItemOf(InsertKeyIndex(key)); }

void* TKtHash::InsertKeyBuf(const void* buffer, int32_t length) { return ItemOf(InsertKeyBufIndex(buffer, length)); }

void TKtHash::GrowBucketsIfFull() {
  if (count_ >= HashCount()) SetHashCount(GrowCapacity(count_));
}

void TKtHash::DeleteKey(const void* key) {
  const Position position = Find(key);
  if (position.index < 0) return;
  const int32_t index = position.index;
  LinkOf(position) = Header(index);
  Header(index) = first_deleted_ | kDeletedBit;
  first_deleted_ = index;
  --count_;
  if (key_handler_->OnFreeKey() != nullptr) key_handler_->OnFreeKey()(KeyOf(index));
  FreeItem(ItemOf(index));
  if (ShrinkCapacity(slots_) > count_) Pack();
}

void TKtHash::CheckEntryIndex(int32_t index) const {
  CheckIndex(index, slots_);
  if (IsDeleted(index)) Error("Item is deleted");
}

void* TKtHash::GetItem(int32_t index) const {
  CheckEntryIndex(index);
  return ItemOf(index);
}

void* TKtHash::GetKey(int32_t index) const {
  CheckEntryIndex(index);
  return KeyOf(index);
}

bool TKtHash::IsDeleted(int32_t index) const {
  CheckIndex(index, slots_);
  return (Header(index) & kDeletedBit) != 0;
}

void TKtHash::SetHashCount(int32_t n) {
  if (n < count_) Error("Invalid HashCount (%d)", n);
  const int32_t hash_count = n | 7;
  if (hash_count == HashCount()) return;
  if (count_ > 0 && key_handler_->OnHashKey() == nullptr) Error("OnHashKey not assigned");
  std::vector<int32_t>(static_cast<size_t>(hash_count), kNone).swap(buckets_);
  Rehash();
}

void TKtHash::Rehash() {
  std::fill(buckets_.begin(), buckets_.end(), kNone);
  for (int32_t index = 0; index < slots_; ++index) {
    if ((Header(index) & kDeletedBit) != 0) continue;
    int32_t& bucket = buckets_[BucketOf(key_handler_->OnHashKey()(KeyOf(index)))];
    Header(index) = bucket;
    bucket = index;
  }
}

void TKtHash::Pack() {
  if (first_deleted_ < 0) return;
  if (count_ > 0 && key_handler_->OnHashKey() == nullptr) Error("OnHashKey not assigned");
  int32_t live = 0;
  for (int32_t index = 0; index < slots_; ++index) {
    if ((Header(index) & kDeletedBit) != 0) continue;
    if (live != index) std::memcpy(Entry(live), Entry(index), static_cast<size_t>(entry_size_));
    ++live;
  }
  slots_ = live;
  first_deleted_ = kNone;
  block_.Resize(GrowCapacity(live), entry_size_);
  Rehash();
}

void TKtHash::FreeLiveEntries() {
  for (int32_t index = 0; index < slots_; ++index) {
    if ((Header(index) & kDeletedBit) != 0) continue;
    // Marked first, so an entry whose routine fails is never freed twice.
    Header(index) = kNone | kDeletedBit;
    --count_;
    if (key_handler_->OnFreeKey() != nullptr) key_handler_->OnFreeKey()(KeyOf(index));
    FreeItem(ItemOf(index));
  }
}

void TKtHash::Clear() {
  buckets_.assign(kInitialHashCount, kNone);
  FreeLiveEntries();
  block_.Resize(0, entry_size_);
  slots_ = 0;
  count_ = 0;
  first_deleted_ = kNone;
}

void TKtHash::Iterate(TKtIterateItemsProc iterate, void* data) {
  CheckIterateItems(iterate);
  for (int32_t index = 0; index < slots_; ++index) {
    if ((Header(index) & kDeletedBit) == 0) iterate(ItemOf(index), data);
  }
}

void* TKtHash::FirstThat(const void* value, TKtSameItemsFunc same) const {
  CheckSameItems(same);
  for (int32_t index = 0; index < slots_; ++index) {
    if ((Header(index) & kDeletedBit) == 0 && same(ItemOf(index), value)) return ItemOf(index);
  }
  return nullptr;
}

void* TKtHash::LastThat(const void* value, TKtSameItemsFunc same) const {
  CheckSameItems(same);
  for (int32_t index = slots_ - 1; index >= 0; --index) {
    if ((Header(index) & kDeletedBit) == 0 && same(ItemOf(index), value)) return ItemOf(index);
  }
  return nullptr;
}

void TKtHash::Assign(const TKtContainer& source) {
  const auto* hash = dynamic_cast<const TKtHash*>(&source);
  if (hash == nullptr) {
    TKtContainer::Assign(source);
    return;
  }
  if (&hash->ItemHandler() != item_handler_ || hash->key_handler_ != key_handler_) {
    Error("Itemhandlers do not match");
  }
  if (item_handler_->OnCopyItem() == nullptr) Error("OnCopyItems not assigned");
  if (key_handler_->OnStoreKey() == nullptr) Error("OnStoreKey not assigned");
  if (key_handler_->OnHashKey() == nullptr) Error("OnHashKey not assigned");
  if (key_handler_->OnSameKeys() == nullptr) Error("OnSameKeys not assigned");
  if (hash == this) return;
  Clear();
  for (int32_t index = 0; index < hash->slots_; ++index) {
    if (!hash->IsDeleted(index)) item_handler_->OnCopyItem()(hash->ItemOf(index), InsertKey(hash->KeyOf(index)));
  }
}

void TKtHash::WriteToStream(TKtBinaryWriter& writer, TKtStreamOptions options, void* data) {
  CheckCanWrite();
  if (key_handler_->OnWriteKey() == nullptr) Error("OnWriteKey not assigned");
  WritePrologue(writer, options, data, kHashSignature);
  writer.WriteCardinal(static_cast<uint32_t>(count_));
  for (int32_t index = 0; index < slots_; ++index) {
    if ((Header(index) & kDeletedBit) != 0) continue;
    key_handler_->OnWriteKey()(*this, writer, KeyOf(index), data);
    item_handler_->OnWriteItem()(*this, writer, ItemOf(index), data);
  }
}

void TKtHash::ReadFromStream(TKtBinaryReader& reader, TKtStreamOptions options, void* data) {
  CheckCanRead();
  if (key_handler_->OnReadKey() == nullptr) Error("OnReadKey not assigned");
  if (key_handler_->OnHashKey() == nullptr) Error("OnHashKey not assigned");
  ReadPrologue(reader, options, data, kHashSignature);
  Clear();
  const uint32_t count = reader.ReadCardinal();
  if (count > static_cast<uint32_t>(kKtMaxCount)) Error("Invalid stream format");
  try {
    ReadEntries(reader, count, data);
  } catch (...) {
    // What was read stays, findable.
    if (count_ >= HashCount()) buckets_.assign(static_cast<size_t>(GrowCapacity(count_) | 7), kNone);
    Rehash();
    throw;
  }
  if (count_ >= HashCount()) buckets_.assign(static_cast<size_t>(GrowCapacity(count_) | 7), kNone);
  Rehash();
}

// Entries are appended one by one without look-ups, so the block grows only
// as far as the data really goes: a count that the stream does not back ends
// in a read error, not in one large allocation.
void TKtHash::ReadEntries(TKtBinaryReader& reader, uint32_t count, void* data) {
  for (uint32_t i = 0; i < count; ++i) {
    SetCapacityFor(slots_ + 1);
    const int32_t index = slots_;
    std::memset(KeyOf(index), 0, static_cast<size_t>(entry_size_ - key_offset_));
    Header(index) = kNone;
    // Initialised before its key is read, so that it can be freed whatever
    // step fails.
    InitItem(ItemOf(index));
    ++slots_;
    ++count_;
    try {
      key_handler_->OnReadKey()(*this, reader, KeyOf(index), data);
      item_handler_->OnReadItem()(*this, reader, ItemOf(index), data);
    } catch (...) {
      DropLastEntry();
      throw;
    }
  }
}

// Takes back the entry being read when its reading fails.
void TKtHash::DropLastEntry() {
  const int32_t index = --slots_;
  --count_;
  if (key_handler_->OnFreeKey() != nullptr) key_handler_->OnFreeKey()(KeyOf(index));
  FreeItem(ItemOf(index));
}

}  // namespace kt
