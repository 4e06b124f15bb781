// SPDX-License-Identifier: MIT
#include "toolkit/kt_hash.h"

#include <gtest/gtest.h>

#include <map>

#include "support/kt_container_fixtures.h"

namespace kt {
namespace {

using namespace kt::testing;

class KtHashTest : public ::testing::Test {
 protected:
  void Insert(uint32_t key, int32_t value) { IntAt(hash_.InsertKey(&key)) = value; }
  int32_t IndexOf(uint32_t key) { return hash_.IndexOfKey(&key); }
  void Delete(uint32_t key) { hash_.DeleteKey(&key); }

  // Live keys and items, by key.
  std::map<uint32_t, int32_t> Contents(const TKtHash& hash) {
    std::map<uint32_t, int32_t> contents;
    for (int32_t i = 0; i < hash.Slots(); ++i) {
      if (!hash.IsDeleted(i)) contents[*static_cast<uint32_t*>(hash.GetKey(i))] = IntAt(hash.GetItem(i));
    }
    return contents;
  }

  Bytes Written(TKtHash& hash) { return testing::WrittenBytes(hash); }
  void Read(TKtHash& hash, const Bytes& bytes) { testing::ReadBytes(hash, bytes); }

  IntItemHandler items_;
  UIntKeyHandler keys_;
  TKtHash hash_{&items_, &keys_};
};

TEST_F(KtHashTest, BucketCountGrowsByCapacityStepsWithItsLowBitsSet) {
  EXPECT_EQ(hash_.HashCount(), 7);
  std::vector<int32_t> counts;
  for (uint32_t key = 1; key <= 16; ++key) {
    Insert(key, static_cast<int32_t>(key));
    counts.push_back(hash_.HashCount());
  }
  EXPECT_EQ(counts[5], 7);
  EXPECT_EQ(counts[6], 15) << "the 7th key";
  EXPECT_EQ(counts[13], 15);
  EXPECT_EQ(counts[14], 23) << "the 15th key";
  for (uint32_t key = 1; key <= 16; ++key) EXPECT_EQ(IntAt(hash_.GetItem(IndexOf(key))), static_cast<int32_t>(key));
  hash_.Clear();
  EXPECT_EQ(hash_.HashCount(), 7);
  EXPECT_EQ(hash_.Count(), 0);
  EXPECT_EQ(hash_.Slots(), 0);
}

TEST_F(KtHashTest, InsertingAPresentKeyReturnsItsItemUnchanged) {
  Insert(5, 50);
  const uint32_t key = 5;
  void* item = hash_.InsertKey(&key);
  EXPECT_EQ(IntAt(item), 50);
  EXPECT_EQ(hash_.Count(), 1);
  EXPECT_EQ(hash_.InsertKeyIndex(&key), IndexOf(5));
}

TEST_F(KtHashTest, EntryIndexesSurviveRehashing) {
  std::vector<int32_t> indexes;
  for (uint32_t key = 0; key < 100; ++key) indexes.push_back(hash_.InsertKeyIndex(&key));
  for (uint32_t key = 0; key < 100; ++key) EXPECT_EQ(IndexOf(key), indexes[key]);
  hash_.SetHashCount(1000);
  EXPECT_EQ(hash_.HashCount(), 1007);
  for (uint32_t key = 0; key < 100; ++key) EXPECT_EQ(IndexOf(key), indexes[key]);
  EXPECT_EQ(IndexOf(100), -1);
  const uint32_t buffer_key = 42;
  EXPECT_EQ(hash_.IndexOfKeyBuf(&buffer_key, 1), indexes[42]);
}

TEST_F(KtHashTest, DeletedSlotIsReusedBeforeTheBlockGrows) {
  for (uint32_t key = 0; key < 10; ++key) Insert(key, static_cast<int32_t>(key));
  const int32_t deleted = IndexOf(3);
  testing::FreedItems().clear();
  Delete(3);
  Delete(77);
  EXPECT_EQ(testing::FreedItems(), (std::vector<int32_t>{3}));
  EXPECT_EQ(hash_.Count(), 9);
  EXPECT_EQ(hash_.Slots(), 10);
  EXPECT_TRUE(hash_.IsDeleted(deleted));
  EXPECT_EQ(IndexOf(3), -1);
  EXPECT_EQ(ContainerErrorOf([&] { hash_.GetItem(deleted); }), "Class TKtHash: Item is deleted");
  EXPECT_EQ(ContainerErrorOf([&] { hash_.GetItem(10); }), "Class TKtHash: List index out of bounds (10)");
  EXPECT_EQ(ContainerErrorOf([&] { hash_.IsDeleted(-1); }), "Class TKtHash: List index out of bounds (-1)");

  const uint32_t key = 50;
  EXPECT_EQ(hash_.InsertKeyIndex(&key), deleted);
  EXPECT_EQ(hash_.Slots(), 10);
  EXPECT_FALSE(hash_.IsDeleted(deleted));
  EXPECT_EQ(IntAt(hash_.GetItem(deleted)), IntItemHandler::kInitValue);
}

TEST_F(KtHashTest, DeletingFarBelowTheBlockPacksIt) {
  for (uint32_t key = 0; key < 20; ++key) Insert(key, static_cast<int32_t>(key));
  EXPECT_EQ(hash_.Capacity(), 20);
  for (uint32_t key = 0; key < 20; key += 2) Delete(key);
  EXPECT_EQ(hash_.Count(), 10);
  EXPECT_LT(hash_.Slots(), 20) << "packed on the way down";
  EXPECT_LE(hash_.Capacity(), GrowCapacity(hash_.Slots()));
  std::map<uint32_t, int32_t> expected;
  for (uint32_t key = 1; key < 20; key += 2) expected[key] = static_cast<int32_t>(key);
  EXPECT_EQ(Contents(hash_), expected);
  for (uint32_t key = 1; key < 20; key += 2) EXPECT_GE(IndexOf(key), 0);

  hash_.Pack();
  EXPECT_EQ(hash_.Slots(), 10);
  for (int32_t i = 0; i < hash_.Slots(); ++i) EXPECT_FALSE(hash_.IsDeleted(i));
}

TEST_F(KtHashTest, HashCountBelowCountIsRefusedAndChangesNothing) {
  for (uint32_t key = 0; key < 10; ++key) Insert(key, 1);
  EXPECT_EQ(ContainerErrorOf([&] { hash_.SetHashCount(9); }), "Class TKtHash: Invalid HashCount (9)");
  EXPECT_EQ(hash_.HashCount(), 15);
  for (uint32_t key = 0; key < 10; ++key) EXPECT_GE(IndexOf(key), 0);
  hash_.SetHashCount(10);
  EXPECT_EQ(hash_.HashCount(), 15);
}

TEST_F(KtHashTest, SearchesVisitLiveItemsInBlockOrder) {
  for (uint32_t key = 0; key < 4; ++key) Insert(key, static_cast<int32_t>(key % 2));
  Delete(0);
  const int32_t zero = 0;
  const auto same = [](const void* item, const void* value) {
    return IntAt(const_cast<void*>(item)) == *static_cast<const int32_t*>(value);
  };
  EXPECT_EQ(hash_.FirstThat(&zero, same), hash_.GetItem(IndexOf(2)));
  EXPECT_EQ(hash_.LastThat(&zero, same), hash_.GetItem(IndexOf(2)));
  EXPECT_TRUE(hash_.ContainsFromLast(&zero, same));
  int32_t visited = 0;
  hash_.Iterate([](void*, void* data) { ++*static_cast<int32_t*>(data); }, &visited);
  EXPECT_EQ(visited, 3);
}

TEST_F(KtHashTest, KeyRoutinesMustBeAssigned) {
  TKtKeyHandler bare;
  bare.SetKeySize(4);
  TKtHash hash(&items_, &bare);
  const uint32_t key = 1;
  EXPECT_EQ(ContainerErrorOf([&] { hash.InsertKey(&key); }), "Class TKtHash: OnStoreKey not assigned");
  EXPECT_EQ(ContainerErrorOf([&] { hash.IndexOfKey(&key); }), "Class TKtHash: OnHashKey not assigned");
  EXPECT_EQ(ContainerErrorOf([&] { hash.IndexOfKeyBuf(&key, 1); }), "Class TKtHash: OnHashKeyBuf not assigned");
  TKtKeyHandler hash_only;
  hash_only.SetOnHashKey([](const void*) { return 0u; });
  hash_only.SetOnHashKeyBuf([](const void*, int32_t) { return 0u; });
  TKtHash hash2(&items_, &hash_only);
  EXPECT_EQ(ContainerErrorOf([&] { hash2.IndexOfKey(&key); }), "Class TKtHash: OnSameKeys not assigned");
  EXPECT_EQ(ContainerErrorOf([&] { hash2.IndexOfKeyBuf(&key, 1); }), "Class TKtHash: OnSameKeyBuf not assigned");
  EXPECT_EQ(WriteErrorOf(hash), "Class TKtHash: OnWriteKey not assigned");
  EXPECT_EQ(ReadErrorOf(hash), "Class TKtHash: OnReadKey not assigned");
}

TEST_F(KtHashTest, WritingSkipsDeletedEntriesAndCountsOnlyLiveOnes) {
  for (uint32_t key = 0; key < 10; ++key) Insert(key, static_cast<int32_t>(key) - 1);
  Delete(3);
  EXPECT_EQ(hash_.Slots(), 10);
  Bytes expected = Concat({BytesOf("KTHC"), {2, 1}, {2, 4}, {2, 9}});
  for (uint8_t key = 0; key < 10; ++key) {
    if (key == 3) continue;
    const Bytes item = key == 0 ? Bytes{1, 0xFF} : Bytes{2, static_cast<uint8_t>(key - 1)};
    expected = Concat({expected, {2, key}, item});
  }
  const Bytes bytes = Written(hash_);
  EXPECT_EQ(bytes, expected);

  TKtHash copy(&items_, &keys_);
  const uint32_t stale = 99;
  copy.InsertKey(&stale);
  Read(copy, bytes);
  EXPECT_EQ(Contents(copy), Contents(hash_));
  EXPECT_EQ(copy.IndexOfKey(&stale), -1);
}

TEST_F(KtHashTest, RoundTripOfALargeTableKeepsEveryEntryFindable) {
  for (uint32_t key = 0; key < 5000; ++key) Insert(key * 7919, static_cast<int32_t>(key));
  for (uint32_t key = 0; key < 5000; key += 3) Delete(key * 7919);
  TKtHash copy(&items_, &keys_);
  Read(copy, Written(hash_));
  EXPECT_EQ(copy.Count(), hash_.Count());
  EXPECT_EQ(copy.HashCount(), GrowCapacity(copy.Count()) | 7);
  EXPECT_EQ(Contents(copy), Contents(hash_));
  for (uint32_t key = 1; key < 5000; key += 3) {
    const uint32_t stored = key * 7919;
    EXPECT_EQ(IntAt(copy.GetItem(copy.IndexOfKey(&stored))), static_cast<int32_t>(key));
  }
}

TEST_F(KtHashTest, CorruptCountsFailWithoutTakingMemoryForThem) {
  const Bytes huge = Concat({BytesOf("KTHC"), {2, 1}, {2, 4}, {11, 0xFF, 0xFF, 0xFF, 0x3F}, {2, 1}, {2, 10}});
  try {
    Read(hash_, huge);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  EXPECT_EQ(hash_.Count(), 1) << "the entry read before the failure stays";
  EXPECT_EQ(IntAt(hash_.GetItem(IndexOf(1))), 10);
  EXPECT_EQ(ContainerErrorOf([&] { Read(hash_, Concat({BytesOf("KTHC"), {2, 1}, {2, 4}, {12, 0, 0, 0, 0xFF}})); }),
            "Class TKtHash: Invalid stream format");
}

TEST_F(KtHashTest, AssignCopiesLiveEntries) {
  for (uint32_t key = 0; key < 30; ++key) Insert(key, static_cast<int32_t>(key) * 2);
  Delete(4);
  TKtHash copy(&items_, &keys_);
  copy.Assign(hash_);
  EXPECT_EQ(Contents(copy), Contents(hash_));
  UIntKeyHandler other_keys;
  TKtHash stranger(&items_, &other_keys);
  EXPECT_EQ(ContainerErrorOf([&] { stranger.Assign(hash_); }), "Class TKtHash: Itemhandlers do not match");
}

}  // namespace
}  // namespace kt
