// SPDX-License-Identifier: MIT
#include "toolkit/kt_tree.h"

#include <gtest/gtest.h>

#include "support/kt_container_fixtures.h"
#include "toolkit/kt_vector.h"

namespace kt {
namespace {

using namespace kt::testing;

// The items in pre-order, and the shape as "value(children)" text.
std::vector<int32_t> PreOrder(const TKtTree& tree) {
  std::vector<int32_t> values;
  for (void* item = tree.First(); item != nullptr; item = tree.Next(item)) values.push_back(IntAt(item));
  return values;
}

std::string Shape(const TKtTree& tree, void* first) {
  std::string text;
  for (void* item = first; item != nullptr; item = tree.NextSibling(item)) {
    text += std::to_string(IntAt(item));
    if (tree.FirstChild(item) != nullptr) text += "(" + Shape(tree, tree.FirstChild(item)) + ")";
    if (tree.NextSibling(item) != nullptr) text += " ";
  }
  return text;
}

void* Add(TKtTree& tree, void* parent, int32_t value) {
  void* item = tree.NewChild(parent);
  IntAt(item) = value;
  return item;
}

// 1(2(3 4) 5) 6(7)
class KtTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    void* one = Add(tree_, nullptr, 1);
    void* two = Add(tree_, one, 2);
    Add(tree_, two, 3);
    Add(tree_, two, 4);
    Add(tree_, one, 5);
    void* six = Add(tree_, nullptr, 6);
    Add(tree_, six, 7);
  }

  Bytes Written(TKtTree& tree) { return testing::WrittenBytes(tree); }
  void Read(TKtTree& tree, const Bytes& bytes) { testing::ReadBytes(tree, bytes); }

  IntItemHandler items_;
  TKtTree tree_{&items_};
};

TEST_F(KtTreeTest, WalksInPreOrderBothWays) {
  EXPECT_EQ(tree_.Count(), 7);
  EXPECT_EQ(PreOrder(tree_), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(IntAt(tree_.First()), 1);
  EXPECT_EQ(IntAt(tree_.Last()), 7);
  std::vector<int32_t> backwards;
  for (void* item = tree_.Last(); item != nullptr; item = tree_.Prev(item)) backwards.push_back(IntAt(item));
  EXPECT_EQ(backwards, (std::vector<int32_t>{7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(tree_.ChildCount(tree_.First()), 2);
  EXPECT_EQ(tree_.Parent(tree_.First()), nullptr);
  EXPECT_EQ(tree_.Parent(tree_.FirstChild(tree_.First())), tree_.First());
}

TEST_F(KtTreeTest, TopLevelInsertsGoBeforeOrAfterTheOthers) {
  IntAt(tree_.InsertFirst()) = 0;
  IntAt(tree_.InsertLast()) = 8;
  EXPECT_EQ(Shape(tree_, tree_.First()), "0 1(2(3 4) 5) 6(7) 8");
  EXPECT_EQ(IntAt(tree_.InsertLast()), IntItemHandler::kInitValue);
  const int32_t live = testing::LiveItems();
  tree_.InsertFirstRaw();
  tree_.InsertLastRaw();
  EXPECT_EQ(testing::LiveItems(), live);
  EXPECT_EQ(tree_.Count(), 12);
}

TEST_F(KtTreeTest, FreeingFreesEveryChildBeforeItsParent) {
  testing::FreedItems().clear();
  tree_.Clear();
  EXPECT_EQ(testing::FreedItems(), (std::vector<int32_t>{3, 4, 2, 5, 1, 7, 6}));
  EXPECT_EQ(tree_.Count(), 0);
  EXPECT_EQ(tree_.First(), nullptr);
  EXPECT_EQ(tree_.Last(), nullptr);
}

TEST_F(KtTreeTest, SearchesGoInPreOrder) {
  Add(tree_, tree_.Last(), 2);
  const int32_t two = 2;
  const auto same = [](const void* item, const void* value) {
    return IntAt(const_cast<void*>(item)) == *static_cast<const int32_t*>(value);
  };
  EXPECT_EQ(tree_.FirstThat(&two, same), tree_.FirstChild(tree_.First()));
  EXPECT_EQ(tree_.LastThat(&two, same), tree_.Last());
  int32_t sum = 0;
  tree_.Iterate([](void* item, void* data) { *static_cast<int32_t*>(data) += IntAt(item); }, &sum);
  EXPECT_EQ(sum, 30);
}

TEST_F(KtTreeTest, StreamHoldsChildCountsAndItemsInPreOrder) {
  const Bytes bytes = Written(tree_);
  const Bytes expected = Concat({BytesOf("KTTC"), {2, 1}, {2, 4}, {2, 2},  // two top-level nodes
                                 {2, 2, 2, 1}, {2, 2, 2, 2}, {2, 0, 2, 3}, {2, 0, 2, 4}, {2, 0, 2, 5},
                                 {2, 1, 2, 6}, {2, 0, 2, 7}});
  EXPECT_EQ(bytes, expected);
  TKtTree copy(&items_);
  Add(copy, nullptr, 99);
  Read(copy, bytes);
  EXPECT_EQ(Shape(copy, copy.First()), "1(2(3 4) 5) 6(7)");
  EXPECT_EQ(copy.Count(), 7);

  TKtTree empty(&items_);
  EXPECT_EQ(Written(empty), Concat({BytesOf("KTTC"), {2, 1}, {2, 4}, {2, 0}}));
}

TEST_F(KtTreeTest, CorruptStreamsFailWithClearErrors) {
  TKtTree copy(&items_);
  EXPECT_EQ(ContainerErrorOf([&] { Read(copy, Concat({BytesOf("KTTC"), {2, 1}, {2, 4}, {1, 0xFF}})); }),
            "Class TKtTree: Invalid stream format");
  EXPECT_EQ(ContainerErrorOf([&] { Read(copy, Concat({BytesOf("KTTC"), {2, 1}, {2, 4}, {2, 1}, {1, 0xFE, 2, 1}})); }),
            "Class TKtTree: Invalid stream format");
  EXPECT_THROW(Read(copy, Concat({BytesOf("KTTC"), {2, 1}, {2, 4}, {11, 0xFF, 0xFF, 0xFF, 0x7F}, {2, 0, 2, 1}})),
               EReadError);
  EXPECT_EQ(Shape(copy, copy.First()), "1");
}

TEST_F(KtTreeTest, AssignCopiesTreesNodeByNodeAndVectorsAsTopLevelNodes) {
  TKtTree copy(&items_);
  copy.Assign(tree_);
  EXPECT_EQ(Shape(copy, copy.First()), "1(2(3 4) 5) 6(7)");
  copy.Assign(copy);
  EXPECT_EQ(copy.Count(), 7);
  TKtVector vector(&items_);
  for (int32_t value : {4, 5}) IntAt(vector.InsertLast()) = value;
  copy.Assign(vector);
  EXPECT_EQ(Shape(copy, copy.First()), "4 5");
  IntItemHandler other;
  TKtTree stranger(&other);
  EXPECT_EQ(ContainerErrorOf([&] { stranger.Assign(tree_); }), "Class TKtTree: Itemhandlers do not match");
}

TEST(KtDeepTreeTest, DeepTreesAreWalkedStreamedAndFreedWithoutRecursion) {
  IntItemHandler items;
  TKtTree tree(&items);
  void* node = nullptr;
  for (int32_t depth = 0; depth < 200000; ++depth) node = Add(tree, node, depth);
  EXPECT_EQ(IntAt(tree.Last()), 199999);
  TMemoryStream stream;
  tree.WriteData(&stream);
  stream.SetPosition(0);
  TKtTree copy(&items);
  copy.ReadData(&stream);
  EXPECT_EQ(copy.Count(), 200000);
  EXPECT_EQ(IntAt(copy.Last()), 199999);
  copy.Clear();
  EXPECT_EQ(copy.Count(), 0);
}

}  // namespace
}  // namespace kt
