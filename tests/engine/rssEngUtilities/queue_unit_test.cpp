// SPDX-License-Identifier: MIT
#include "rssEngUtilities/queue_unit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "toolkit/exception.h"

namespace {

using tidewell::TIRoundList;
using tidewell::TRoundListNode;
using tidewell::TUbinaryTree;
using tidewell::TUbinaryTreeNode;
using tidewell::TUbinaryTreePair;

void* Item(intptr_t value) { return reinterpret_cast<void*>(value); }
intptr_t Value(void* item) { return reinterpret_cast<intptr_t>(item); }

std::vector<intptr_t> Items(TIRoundList& list) {
  std::vector<intptr_t> items;
  for (TRoundListNode* node = list.First(); node != nullptr; node = list.Next(node)) items.push_back(Value(node->item));
  return items;
}

TEST(RoundListTest, AddsAtTailOrHead) {
  TIRoundList list;
  list.Add(Item(1), false);
  list.Add(Item(2), false);
  list.Add(Item(9), true);
  list.Add(Item(3), false);
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{9, 1, 2, 3}));
  EXPECT_EQ(list.GetCount(), 4);
}

TEST(RoundListTest, SingleNodeHasNoNextAndRemovingItEmptiesTheList) {
  std::vector<intptr_t> freed;
  TIRoundList list([&freed](void* item) { freed.push_back(Value(item)); });
  list.Add(Item(5), false);
  TRoundListNode* node = list.First();
  EXPECT_EQ(list.Next(node), nullptr);
  EXPECT_EQ(list.Next(nullptr), nullptr);
  list.Remove(node);
  EXPECT_EQ(node, nullptr);
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(freed, std::vector<intptr_t>{5});
}

TEST(RoundListTest, RemovesHeadTailAndMiddleNodes) {
  TIRoundList list;
  for (intptr_t i = 1; i <= 5; ++i) list.Add(Item(i), false);
  TRoundListNode* head = list.First();
  TRoundListNode* middle = list.Next(list.Next(head));
  TRoundListNode* tail = list.Find(nullptr, [](void* item, void*) { return Value(item) == 5; });
  list.Remove(middle);
  list.Remove(head);
  list.Remove(tail);
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{2, 4}));
  EXPECT_EQ(list.GetCount(), 2);
  list.Add(Item(6), false);  // the circle is still closed
  EXPECT_EQ(Items(list), (std::vector<intptr_t>{2, 4, 6}));
}

TEST(RoundListTest, RemovingAnUnlinkedNodeFailsWithItsMessage) {
  TIRoundList list;
  TRoundListNode stray;
  TRoundListNode* node = &stray;
  try {
    list.Remove(node);
    FAIL();
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "Previous item was not found ! ");
  }
  TRoundListNode* none = nullptr;
  EXPECT_THROW(list.Remove(none), kt::Exception);
}

TEST(RoundListTest, TakeFirstTakesTheHeadOnce) {
  TIRoundList list;
  EXPECT_EQ(list.TakeFirst(), nullptr);
  list.Add(Item(1), false);
  list.Add(Item(2), false);
  TRoundListNode* taken = list.TakeFirst();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(Value(taken->item), 1);
  EXPECT_TRUE(taken->taken);
  EXPECT_EQ(list.TakeFirst(), nullptr);
  list.Remove(taken);
  EXPECT_EQ(Value(list.TakeFirst()->item), 2);
}

TEST(RoundListTest, FindVisitsEachNodeOnceAndReturnsNullWithoutMatch) {
  TIRoundList list;
  for (intptr_t i = 1; i <= 4; ++i) list.Add(Item(i), false);
  int visits = 0;
  EXPECT_EQ(list.Find(nullptr, [&visits](void*, void*) { return ++visits > 100; }), nullptr);
  EXPECT_EQ(visits, 4);
  intptr_t wanted = 3;
  TRoundListNode* found =
      list.Find(&wanted, [](void* item, void* param) { return Value(item) == *static_cast<intptr_t*>(param); });
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Value(found->item), 3);
}

TEST(RoundListTest, ClearDisposesEveryItemAndEmptiesEvenWhenTheDisposerThrows) {
  std::vector<intptr_t> freed;
  TIRoundList list([&freed](void* item) {
    freed.push_back(Value(item));
    if (Value(item) == 2) throw std::runtime_error("cannot free 2");
  });
  for (intptr_t i = 1; i <= 3; ++i) list.Add(Item(i), false);
  EXPECT_THROW(list.Clear(), std::runtime_error);
  EXPECT_EQ(freed, (std::vector<intptr_t>{1, 2, 3}));
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.First(), nullptr);
  list.Add(Item(4), false);
  EXPECT_EQ(Items(list), std::vector<intptr_t>{4});
}

TEST(RoundListTest, RemoveFreesTheNodeEvenWhenTheDisposerThrows) {
  TIRoundList list([](void*) { throw std::runtime_error("no"); });
  list.Add(Item(1), false);
  list.Add(Item(2), false);
  TRoundListNode* node = list.First();
  EXPECT_THROW(list.Remove(node), std::runtime_error);
  EXPECT_EQ(node, nullptr);
  EXPECT_EQ(list.GetCount(), 1);
  list.OnFreeItem = nullptr;
}

TEST(RoundListTest, ReentrantCallsFromACallbackProceed) {
  TIRoundList list;
  list.Add(Item(1), false);
  int32_t countSeen = -1;
  list.Find(nullptr, [&](void*, void*) {
    countSeen = list.GetCount();  // the count lock is apart from the lock
    list.Add(Item(2), false);
    TRoundListNode* added = list.Next(list.First());
    list.Remove(added);  // waits out the running Read (bounded), then proceeds
    return true;
  });
  EXPECT_EQ(countSeen, 1);
  EXPECT_EQ(Items(list), std::vector<intptr_t>{1});
}

TEST(RoundListTest, ThreadsAddingAndTakingKeepTheCountExact) {
  TIRoundList list;
  constexpr int kThreads = 6;
  constexpr int kPerThread = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&list, t] {
      for (int i = 0; i < kPerThread; ++i) list.Add(Item(t * kPerThread + i + 1), (i % 2) == 0);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(list.GetCount(), kThreads * kPerThread);

  std::atomic<int> removed{0};
  threads.clear();
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&list, &removed] {
      for (;;) {
        TRoundListNode* node = list.TakeFirst();
        if (node == nullptr) {
          if (list.GetCount() == 0) return;
          std::this_thread::yield();
          continue;
        }
        list.Remove(node);
        ++removed;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(removed.load(), kThreads * kPerThread);
  EXPECT_EQ(list.GetCount(), 0);
}

// ---------------------------------------------------------------- tree

std::vector<int32_t> Keys(TUbinaryTree& tree) {
  std::vector<TUbinaryTreePair> pairs;
  tree.ToList(pairs);
  std::vector<int32_t> keys;
  for (const auto& pair : pairs) keys.push_back(pair.key);
  return keys;
}

TEST(BinaryTreeTest, ListsKeysInAscendingOrderWithoutNodesWithoutData) {
  TUbinaryTree tree;
  tree.Add(5, Item(50));
  tree.Add(3, Item(30));
  tree.Add(8, Item(80));
  tree.Add(-2, Item(-20));
  tree.Add(4, nullptr);
  std::vector<TUbinaryTreePair> pairs;
  tree.ToList(pairs);
  ASSERT_EQ(pairs.size(), 4u);
  EXPECT_EQ(Keys(tree), (std::vector<int32_t>{-2, 3, 5, 8}));
  EXPECT_EQ(Value(pairs[2].data), 50);

  std::vector<intptr_t> visited;
  tree.OnVisit = [&visited](void* data) { visited.push_back(Value(data)); };
  tree.ForEach();
  EXPECT_EQ(visited, (std::vector<intptr_t>{-20, 30, 50, 80}));
}

TEST(BinaryTreeTest, DuplicateKeyAbortsSilentlyAndLeavesTheTreeUnchanged) {
  TUbinaryTree tree;
  tree.Add(7, Item(1));
  EXPECT_THROW(tree.Add(7, Item(2)), kt::EAbort);
  EXPECT_EQ(Keys(tree), std::vector<int32_t>{7});
  EXPECT_EQ(Value(tree.Find(7)->data), 1);
}

TEST(BinaryTreeTest, FindsByKey) {
  TUbinaryTree tree;
  for (int32_t key : {10, 5, 15, 12, -3}) tree.Add(key, Item(key));
  EXPECT_EQ(tree.Find(12)->key, 12);
  EXPECT_EQ(tree.Find(-3)->key, -3);
  EXPECT_EQ(tree.Find(11), nullptr);
}

TEST(BinaryTreeTest, DeletingTheRootPromotesItsRightChild) {
  std::vector<intptr_t> freed;
  TUbinaryTree tree(nullptr, [&freed](void* data) { freed.push_back(Value(data)); });
  tree.Add(5, Item(5));
  tree.Add(3, Item(3));
  tree.Add(8, Item(8));
  TUbinaryTreeNode* root = tree.Find(5);
  tree.Delete(root);
  EXPECT_EQ(root, nullptr);
  TUbinaryTreeNode* newRoot = tree.Root();
  ASSERT_NE(newRoot, nullptr);
  EXPECT_EQ(newRoot->key, 8);
  EXPECT_EQ(newRoot->parent, newRoot);
  ASSERT_NE(newRoot->left, nullptr);
  EXPECT_EQ(newRoot->left->key, 3);
  EXPECT_EQ(freed, std::vector<intptr_t>{5});
}

TEST(BinaryTreeTest, DeletesInnerNodesAndLeavesKeepingTheOrder) {
  TUbinaryTree tree;
  for (int32_t key : {50, 30, 70, 20, 40, 35, 45, 60, 80, 65}) tree.Add(key, Item(key));
  for (int32_t key : {30, 65, 70, 20, 50}) {
    TUbinaryTreeNode* node = tree.Find(key);
    ASSERT_NE(node, nullptr) << key;
    tree.Delete(node);
    EXPECT_EQ(tree.Find(key), nullptr) << key;
  }
  EXPECT_EQ(Keys(tree), (std::vector<int32_t>{35, 40, 45, 60, 80}));
  TUbinaryTreeNode* none = nullptr;
  tree.Delete(none);
}

TEST(BinaryTreeTest, DeletingANodeItsParentDoesNotLinkFails) {
  TUbinaryTree tree;
  tree.Add(1, Item(1));
  TUbinaryTreeNode stray{9, nullptr, tree.Root(), nullptr, nullptr};
  TUbinaryTreeNode* node = &stray;
  try {
    tree.Delete(node);
    FAIL();
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "Unclear deleting condition: Tree damaged ? 9");
  }
  EXPECT_EQ(Keys(tree), std::vector<int32_t>{1});
}

TEST(BinaryTreeTest, ClearEmptiesTheTreeEvenWhenTheDisposerThrows) {
  std::vector<intptr_t> freed;
  TUbinaryTree tree(nullptr, [&freed](void* data) {
    freed.push_back(Value(data));
    if (Value(data) == 3) throw std::runtime_error("bad 3");
  });
  for (int32_t key : {5, 3, 8, 9}) tree.Add(key, Item(key));
  try {
    tree.Clear();
    FAIL();
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "Error occurred when deleting nodes! bad 3");
  }
  EXPECT_EQ(freed, (std::vector<intptr_t>{9, 8, 3, 5}));  // right, left, then the node
  EXPECT_EQ(tree.Root(), nullptr);
  tree.OnFreeItem = nullptr;
  tree.Add(1, Item(1));
  EXPECT_EQ(Keys(tree), std::vector<int32_t>{1});
}

TEST(BinaryTreeTest, DeepDegenerateTreeIsWalkedAndClearedWithoutRecursion) {
  TUbinaryTree tree;
  constexpr int32_t kCount = 30000;
  // Sorted keys make a chain as deep as the tree is large.
  for (int32_t key = 0; key < kCount; key += 1) tree.Add(key, Item(key + 1));
  std::vector<TUbinaryTreePair> pairs;
  tree.ToList(pairs);
  EXPECT_EQ(pairs.size(), static_cast<size_t>(kCount));
  tree.Clear();
  EXPECT_EQ(tree.Root(), nullptr);
}

TEST(BinaryTreeTest, ThreadsAddingDistinctKeysAllLand) {
  TUbinaryTree tree;
  std::vector<std::thread> threads;
  std::atomic<int> aborted{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&tree, &aborted, t] {
      for (int32_t i = 0; i < 300; ++i) {
        try {
          tree.Add((i * 7919 + t) % 600, Item(1));
        } catch (const kt::EAbort&) {
          ++aborted;
        }
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(Keys(tree).size() + static_cast<size_t>(aborted.load()), 1200u);
}

}  // namespace
