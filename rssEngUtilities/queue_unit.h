// SPDX-License-Identifier: MIT
// Two small thread-safe containers: TIRoundList, a circular doubly linked
// list of untyped items (object pools' records, worker job queues), and
// TUbinaryTree, an unbalanced binary search tree keyed by a signed 32-bit
// integer.
//
// Contract (both):
// - Any thread may call any operation. One recursive lock serialises all
//   operations of a container; callbacks (OnFreeItem, match and visit
//   methods) run inside it.
// - Besides the lock, each operation kind has a manual-reset event: an
//   operation waits (bounded) until the events of its wait set are all set,
//   resets its own event while it works and sets it again when done, also
//   when it fails. Since the lock already excludes other threads, this only
//   makes a re-entrant call from a callback wait out its time-out before it
//   proceeds.
// - Items (list) and data (tree) stay owned by the caller; the containers
//   only hand them to OnFreeItem when their node is removed or cleared.
//   Nodes are owned by the container: a node pointer is valid until the node
//   is removed.
// - Clear leaves the container empty even when OnFreeItem throws; the first
//   failure is raised after every node is freed.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "platform/event.h"

namespace tidewell {

struct TRoundListNode {
  void* item = nullptr;
  bool taken = false;  // set by TakeFirst
  TRoundListNode* previous = nullptr;
  TRoundListNode* next = nullptr;
};

class TIRoundList {
 public:
  using TFreeItemMethod = std::function<void(void* item)>;
  // Returns whether the item is the one looked for; may change the item (it
  // runs inside the lock, so testing and taking is one step).
  using TMatchMethod = std::function<bool(void* item, void* param)>;

  explicit TIRoundList(TFreeItemMethod onFreeItem = nullptr);
  // Clears the list (failures of OnFreeItem are swallowed).
  virtual ~TIRoundList();
  TIRoundList(const TIRoundList&) = delete;
  TIRoundList& operator=(const TIRoundList&) = delete;

  // The node after the given one; nullptr for nullptr or for the tail.
  virtual TRoundListNode* Next(TRoundListNode* node);
  // A new node at the tail, or at the head when atHead.
  virtual void Add(void* item, bool atHead);
  // New nodes at the head in one step, items[0] the new head: a reader
  // never takes one of them before all are in.
  void AddAllAtHead(const std::vector<void*>& items);
  // Unlinks the node, hands its item to OnFreeItem, frees it and sets the
  // variable to nullptr. A node that is not linked (nullptr included) raises
  // "Previous item was not found ! ". The node is gone also when OnFreeItem
  // throws (the failure is then raised).
  virtual void Remove(TRoundListNode*& node);
  // The first node from the head whose item matches, or nullptr.
  virtual TRoundListNode* Find(void* param, const TMatchMethod& match);
  // Removes the first node from the head whose item matches and that is not
  // taken, as Remove does; whether there was one. Testing and removing is
  // one step, so a node cannot be taken in between.
  bool RemoveWaiting(void* param, const TMatchMethod& match);
  virtual void Clear();

  // The head node, or nullptr when the list is empty.
  TRoundListNode* First();
  // The head node after marking it taken; nullptr when the list is empty or
  // the head is taken already. The node stays linked.
  TRoundListNode* TakeFirst();
  // Readable from any thread while another operation holds the lock.
  int32_t GetCount() const;

  TFreeItemMethod OnFreeItem;

 private:
  void SetCount(int32_t count);
  void AddToCount(int32_t delta);
  void Unlink(TRoundListNode* node);
  // A new node, under the caller's lock.
  void Link(void* item, bool atHead);

  mutable std::shared_mutex count_lock_;
  int32_t count_ = 0;  // guarded by count_lock_

  std::recursive_mutex section_;
  // Events in the order Clear, Remove, Add, Read.
  platform::Event clear_event_{true, true};
  platform::Event remove_event_{true, true};
  platform::Event add_event_{true, true};
  platform::Event read_event_{true, true};
  TRoundListNode* head_ = nullptr;  // guarded by section_
  TRoundListNode* tail_ = nullptr;  // guarded by section_
};

struct TUbinaryTreeNode {
  int32_t key = 0;
  void* data = nullptr;
  TUbinaryTreeNode* parent = nullptr;  // the root is its own parent
  TUbinaryTreeNode* left = nullptr;    // smaller keys
  TUbinaryTreeNode* right = nullptr;   // larger keys
};

struct TUbinaryTreePair {
  int32_t key;
  void* data;
};

class TUbinaryTree {
 public:
  using TVisitMethod = std::function<void(void* data)>;
  using TFreeItemMethod = std::function<void(void* data)>;

  explicit TUbinaryTree(TVisitMethod onVisit = nullptr, TFreeItemMethod onFreeItem = nullptr);
  // Clears the tree (failures of OnFreeItem are swallowed).
  virtual ~TUbinaryTree();
  TUbinaryTree(const TUbinaryTree&) = delete;
  TUbinaryTree& operator=(const TUbinaryTree&) = delete;

  // Inserts a node and returns it. A key already present raises kt::EAbort
  // and leaves the tree unchanged.
  virtual TUbinaryTreeNode* Add(int32_t key, void* data);
  // The node with the key, or nullptr.
  virtual TUbinaryTreeNode* Find(int32_t key);
  // Removes the node, hands its data to OnFreeItem, frees it and sets the
  // variable to nullptr; nullptr does nothing. A node whose parent does not
  // link to it raises "Unclear deleting condition: Tree damaged ? " + key.
  virtual void Delete(TUbinaryTreeNode*& node);
  // Removes every node; a failing OnFreeItem raises "Error occurred when
  // deleting nodes! " + its message after all nodes are freed.
  virtual void Clear();
  // OnVisit for the data of every node whose data is not nullptr, in
  // ascending key order.
  virtual void ForEach();
  // Appends {key, data} of every node whose data is not nullptr, in
  // ascending key order.
  virtual void ToList(std::vector<TUbinaryTreePair>& list);

  // The root node, or nullptr when the tree is empty.
  TUbinaryTreeNode* Root();

  TVisitMethod OnVisit;
  TFreeItemMethod OnFreeItem;

 private:
  TUbinaryTreeNode* Insert(int32_t key, void* data);
  void Unlink(TUbinaryTreeNode* node);
  template <typename Visit>
  void WalkInOrder(Visit&& visit);

  std::recursive_mutex section_;
  // Events in the order Clear, Delete, Add, Find, Walk.
  platform::Event clear_event_{true, true};
  platform::Event delete_event_{true, true};
  platform::Event add_event_{true, true};
  platform::Event find_event_{true, true};
  platform::Event walk_event_{true, true};
  TUbinaryTreeNode* root_ = nullptr;  // guarded by section_
};

}  // namespace tidewell
