// SPDX-License-Identifier: MIT
#include "toolkit/kt_vector.h"

#include <gtest/gtest.h>

#include "support/kt_container_fixtures.h"
#include "toolkit/kt_hash.h"
#include "toolkit/kt_tree.h"

namespace kt {
namespace {

using namespace kt::testing;

std::vector<int32_t> ValuesOf(const TKtVector& vector) {
  std::vector<int32_t> values;
  for (int32_t i = 0; i < vector.Count(); ++i) values.push_back(IntAt(vector.GetItem(i)));
  return values;
}

bool SameInt(const void* item, const void* value) { return IntAt(const_cast<void*>(item)) == *static_cast<const int32_t*>(value); }

TEST(KtCapacityTest, GrowAndShrinkSteps) {
  const std::vector<std::pair<int32_t, int32_t>> grow = {{0, 0},  {1, 1},  {2, 2},   {3, 4},   {4, 4},
                                                         {5, 6},  {9, 10}, {17, 20}, {100, 112}, {1024, 1024}};
  for (const auto& [n, expected] : grow) EXPECT_EQ(GrowCapacity(n), expected) << n;
  EXPECT_EQ(GrowCapacity(kKtMaxCount), 1 << 30);
  EXPECT_EQ(ShrinkCapacity(2), 2);
  EXPECT_EQ(ShrinkCapacity(10), 9);
  EXPECT_EQ(ShrinkCapacity(16), 15);
}

TEST(KtVectorTest, BlockGrowsAndShrinksByTheCapacitySteps) {
  IntItemHandler handler;
  TKtVector vector(&handler);
  std::vector<int32_t> capacities;
  for (int i = 0; i < 12; ++i) {
    vector.InsertLast();
    capacities.push_back(vector.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{1, 2, 4, 4, 6, 6, 8, 8, 10, 10, 12, 12}));
  vector.SetCount(100);
  EXPECT_EQ(vector.Capacity(), 112);
  vector.SetCount(98);
  EXPECT_EQ(vector.Capacity(), 112);
  vector.SetCount(90);
  EXPECT_EQ(vector.Capacity(), 96);
  vector.Clear();
  EXPECT_EQ(vector.Capacity(), 0);
  EXPECT_EQ(vector.Items(), nullptr);
}

TEST(KtVectorTest, InsertsPlaceAndInitialiseItems) {
  IntItemHandler handler;
  TKtVector vector(&handler);
  IntAt(vector.InsertLast()) = 2;
  IntAt(vector.InsertFirst()) = 1;
  IntAt(vector.InsertLast()) = 3;
  EXPECT_EQ(ValuesOf(vector), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(IntAt(vector.First()), 1);
  EXPECT_EQ(IntAt(vector.Last()), 3);

  const int32_t live = testing::LiveItems();
  IntAt(vector.InsertFirstRaw()) = 0;
  IntAt(vector.InsertLastRaw()) = 4;
  EXPECT_EQ(testing::LiveItems(), live);
  EXPECT_EQ(ValuesOf(vector), (std::vector<int32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(IntAt(vector.InsertLast()), IntItemHandler::kInitValue);
}

TEST(KtVectorTest, SetCountFreesFromTheLastDownAndInitialisesNewItems) {
  IntItemHandler handler;
  TKtVector vector(&handler);
  vector.SetCount(2);
  EXPECT_EQ(ValuesOf(vector), (std::vector<int32_t>{-7, -7}));
  for (int32_t i = 0; i < 5; ++i) IntAt(i < 2 ? vector.GetItem(i) : vector.InsertLast()) = i;
  testing::FreedItems().clear();
  vector.SetCount(2);
  EXPECT_EQ(testing::FreedItems(), (std::vector<int32_t>{4, 3, 2}));
  EXPECT_EQ(ContainerErrorOf([&] { vector.SetCount(-1); }), "Class TKtVector: List index out of bounds (-1)");
  EXPECT_EQ(vector.Count(), 2);
}

TEST(KtVectorTest, IndexErrorsAndEmptyEnds) {
  IntItemHandler handler;
  TKtVector vector(&handler);
  EXPECT_EQ(ContainerErrorOf([&] { vector.First(); }), "Class TKtVector: List index out of bounds (0)");
  EXPECT_EQ(ContainerErrorOf([&] { vector.Last(); }), "Class TKtVector: List index out of bounds (-1)");
  vector.InsertLast();
  EXPECT_EQ(ContainerErrorOf([&] { vector.GetItem(1); }), "Class TKtVector: List index out of bounds (1)");
}

TEST(KtVectorTest, SearchesAndIteration) {
  IntItemHandler handler;
  TKtVector vector(&handler);
  for (int32_t value : {5, 6, 5, 7}) IntAt(vector.InsertLast()) = value;
  const int32_t five = 5;
  const int32_t nine = 9;
  EXPECT_EQ(vector.IndexOf(&five, SameInt), 0);
  EXPECT_EQ(vector.IndexOf(&nine, SameInt), -1);
  EXPECT_EQ(vector.FirstThat(&five, SameInt), vector.GetItem(0));
  EXPECT_EQ(vector.LastThat(&five, SameInt), vector.GetItem(2));
  EXPECT_EQ(vector.LastThat(&nine, SameInt), nullptr);
  EXPECT_TRUE(vector.ContainsFromFirst(&five, SameInt));
  EXPECT_FALSE(vector.ContainsFromLast(&nine, SameInt));
  int32_t sum = 0;
  vector.Iterate([](void* item, void* data) { *static_cast<int32_t*>(data) += IntAt(item); }, &sum);
  EXPECT_EQ(sum, 23);
  EXPECT_EQ(ContainerErrorOf([&] { vector.IndexOf(&five, nullptr); }), "Class TKtVector: SameItems not assigned");
  EXPECT_EQ(ContainerErrorOf([&] { vector.Iterate(nullptr, nullptr); }), "Class TKtVector: IterateItems not assigned");
}

TEST(KtVectorTest, AssignCopiesFromVectorsAndTreesWithTheSameHandler) {
  IntItemHandler handler;
  TKtVector source(&handler);
  for (int32_t value : {1, 2, 3}) IntAt(source.InsertLast()) = value;
  TKtVector copy(&handler);
  IntAt(copy.InsertLast()) = 99;
  copy.Assign(source);
  EXPECT_EQ(ValuesOf(copy), (std::vector<int32_t>{1, 2, 3}));
  copy.Assign(copy);
  EXPECT_EQ(ValuesOf(copy), (std::vector<int32_t>{1, 2, 3}));

  TKtTree tree(&handler);
  void* a = tree.InsertLast();
  IntAt(a) = 10;
  IntAt(tree.NewChild(a)) = 11;
  IntAt(tree.InsertLast()) = 20;
  copy.Assign(tree);
  EXPECT_EQ(ValuesOf(copy), (std::vector<int32_t>{10, 11, 20}));

  IntItemHandler other;
  TKtVector stranger(&other);
  EXPECT_EQ(ContainerErrorOf([&] { stranger.Assign(source); }), "Class TKtVector: Itemhandlers do not match");
  TKtItemHandler no_copy;
  no_copy.SetItemSize(4);
  TKtVector plain(&no_copy);
  TKtVector plain2(&no_copy);
  EXPECT_EQ(ContainerErrorOf([&] { plain.Assign(plain2); }), "Class TKtVector: OnCopyItems not assigned");
  testing::UIntKeyHandler keys;
  TKtHash hash(&handler, &keys);
  try {
    copy.Assign(hash);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TKtHash to a TKtVector");
  }
}

Bytes WrittenVector(TKtVector& vector, TKtStreamOptions options = kKtStreamAll) {
  return testing::WrittenBytes(vector, options);
}

void ReadVector(TKtVector& vector, const Bytes& bytes) { testing::ReadBytes(vector, bytes); }

TEST(KtVectorStreamTest, WritesSignatureVersionHeaderCountAndItems) {
  IntItemHandler handler;
  TKtVector vector(&handler);
  EXPECT_EQ(WrittenVector(vector), Concat({BytesOf("KTVC"), {2, 1}, {2, 4}, {2, 0}}));
  IntAt(vector.InsertLast()) = 5;
  IntAt(vector.InsertLast()) = -1;
  const Bytes bytes = WrittenVector(vector);
  EXPECT_EQ(bytes, Concat({BytesOf("KTVC"), {2, 1}, {2, 4}, {2, 2}, {2, 5}, {1, 0xFF}}));
  EXPECT_EQ(WrittenVector(vector, 0), (Bytes{2, 2, 2, 5, 1, 0xFF}));

  TKtVector copy(&handler);
  IntAt(copy.InsertLast()) = 42;
  ReadVector(copy, bytes);
  EXPECT_EQ(ValuesOf(copy), (std::vector<int32_t>{5, -1}));
}

TEST(KtVectorStreamTest, CorruptStreamsFailWithClearErrors) {
  IntItemHandler handler;
  TKtVector vector(&handler);
  IntAt(vector.InsertLast()) = 3;
  EXPECT_EQ(ContainerErrorOf([&] { ReadVector(vector, Concat({BytesOf("KTHC"), {2, 1}, {2, 4}, {2, 0}})); }),
            "Class TKtVector: Invalid stream format");
  EXPECT_EQ(ContainerErrorOf([&] { ReadVector(vector, Concat({BytesOf("KTVC"), {2, 2}, {2, 4}, {2, 0}})); }),
            "Class TKtVector: Invalid stream format");
  EXPECT_EQ(vector.Count(), 1) << "a failed check leaves the vector as it was";
  EXPECT_EQ(ContainerErrorOf([&] { ReadVector(vector, Concat({BytesOf("KTVC"), {2, 1}, {2, 4}, {1, 0xFF}})); }),
            "Class TKtVector: Invalid stream format");
  try {
    ReadVector(vector, Concat({BytesOf("KTVC"), {2, 1}, {2, 4}, {11, 0xFF, 0xFF, 0xFF, 0x3F}, {2, 8}}));
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  EXPECT_EQ(ValuesOf(vector), (std::vector<int32_t>{8})) << "items read before the failure stay";
}

TEST(KtVectorStreamTest, StreamingNeedsTheItemRoutines) {
  TKtItemHandler bare;
  bare.SetItemSize(4);
  TKtVector vector(&bare);
  EXPECT_EQ(WriteErrorOf(vector), "Class TKtVector: OnWriteItem not assigned");
  EXPECT_EQ(ReadErrorOf(vector), "Class TKtVector: OnReadItem not assigned");
}

TEST(KtVectorStreamTest, ComponentStreamingRoundTripAndNilStream) {
  IntItemHandler handler;
  TKtVector vector(&handler);
  EXPECT_FALSE(vector.HasData());
  EXPECT_EQ(vector.PropertyName(), "TKtVector");
  for (int32_t i = 0; i < 3000; ++i) IntAt(vector.InsertLast()) = i * 1000;
  TMemoryStream stream;
  vector.WriteData(&stream);
  stream.WriteBuffer("tail", 4);
  stream.SetPosition(0);
  TKtVector copy(&handler);
  copy.ReadData(&stream);
  EXPECT_EQ(ValuesOf(copy), ValuesOf(vector));
  char tail[4];
  stream.ReadBuffer(tail, 4);
  EXPECT_EQ(std::string(tail, 4), "tail");
  EXPECT_EQ(ContainerErrorOf([&] { copy.ReadData(nullptr); }), "Class TKtVector: Stream is nil");
  EXPECT_EQ(ContainerErrorOf([&] { copy.WriteData(nullptr); }), "Class TKtVector: Stream is nil");
}

TEST(KtHandlerTest, HandlersRefuseChangesWhileInUse) {
  IntItemHandler handler;
  testing::UIntKeyHandler keys;
  {
    TKtHash hash(&handler, &keys);
    EXPECT_EQ(handler.Users(), 1);
    TKtVector vector(&handler);
    EXPECT_EQ(handler.Users(), 2);
    EXPECT_EQ(ContainerErrorOf([&] { handler.SetItemSize(8); }),
              "Class TKtItemHandler: ItemHandler in use while setting ItemSize");
    EXPECT_EQ(ContainerErrorOf([&] { handler.SetOnInitItem(nullptr); }),
              "Class TKtItemHandler: ItemHandler in use while assigning OnInitItem");
    EXPECT_EQ(ContainerErrorOf([&] { handler.SetOnWriteHeader(nullptr); }),
              "Class TKtItemHandler: ItemHandler in use while assigning OnWriteHeader");
    EXPECT_EQ(ContainerErrorOf([&] { keys.SetKeySize(8); }),
              "Class TKtKeyHandler: ItemHandler in use while setting KeySize");
    EXPECT_EQ(ContainerErrorOf([&] { keys.SetOnSameKeyBuf(nullptr); }),
              "Class TKtKeyHandler: ItemHandler in use while assigning OnSameKeyBuf");
    EXPECT_EQ(handler.ItemSize(), 4);
  }
  EXPECT_EQ(handler.Users(), 0);
  EXPECT_EQ(keys.Users(), 0);
  handler.SetItemSize(8);
  EXPECT_EQ(ContainerErrorOf([&] { handler.SetItemSize(-1); }), "Class TKtItemHandler: Invalid ItemSize (-1)");
  EXPECT_EQ(handler.ItemSize(), 8);
}

TEST(KtHandlerTest, ContainersNeedTheirHandlers) {
  IntItemHandler handler;
  EXPECT_EQ(ContainerErrorOf([] { TKtVector vector(nullptr); }), "Class TKtVector: ItemHandler is nil");
  EXPECT_EQ(ContainerErrorOf([] { TKtTree tree(nullptr); }), "Class TKtTree: ItemHandler is nil");
  EXPECT_EQ(ContainerErrorOf([&] { TKtHash hash(&handler, nullptr); }), "Class TKtHash: KeyHandler is nil");
  EXPECT_EQ(handler.Users(), 0) << "a hash refused for its key handler gives its item handler up";
}

#ifndef NDEBUG
TEST(KtHandlerDeathTest, DestroyingAHandlerInUseIsCaughtByAnAssertion) {
  EXPECT_DEATH(
      {
        auto* handler = new IntItemHandler;
        TKtVector vector(handler);
        delete handler;
      },
      "in use during destruction");
}
#endif

}  // namespace
}  // namespace kt
