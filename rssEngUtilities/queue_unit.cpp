// SPDX-License-Identifier: MIT
#include "rssEngUtilities/queue_unit.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "platform/system.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

constexpr int kListTimeoutMs = 800;
constexpr int kTreeAddTimeoutMs = 1200;
constexpr int kTreeFindTimeoutMs = 1000;
constexpr int kTreeDeleteTimeoutMs = 3000;
constexpr int kDestroyTimeoutMs = 2000;

// Enters the lock, waits (bounded) for the wait set, and keeps the
// operation's own event reset until the operation ends, also by an exception.
// A time-out proceeds: the lock already excludes other threads.
class GuardedOperation {
 public:
  GuardedOperation(std::recursive_mutex& section, platform::Event& own, std::vector<platform::Event*> waitSet,
                   int timeoutMs)
      : lock_(section), own_(own) {
    if (!waitSet.empty()) platform::Event::WaitForAll(waitSet, timeoutMs);
    own_.Reset();
  }
  ~GuardedOperation() { own_.Set(); }
  GuardedOperation(const GuardedOperation&) = delete;
  GuardedOperation& operator=(const GuardedOperation&) = delete;

 private:
  std::lock_guard<std::recursive_mutex> lock_;
  platform::Event& own_;
};

// Hands every item to the disposer, going on after a failure; the first
// failure is raised at the end.
template <typename Dispose>
void DisposeAll(std::vector<void*>& items, const Dispose& dispose) {
  std::exception_ptr first;
  for (void* item : items) {
    try {
      dispose(item);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

std::string MessageOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown failure";
  }
}

}  // namespace

// ---------------------------------------------------------------- round list

TIRoundList::TIRoundList(TFreeItemMethod onFreeItem) : OnFreeItem(std::move(onFreeItem)) {}

TIRoundList::~TIRoundList() {
  try {
    TIRoundList::Clear();
  } catch (...) {
    // A destructor cannot report; the nodes are freed anyway.
  }
  platform::Event::WaitForAll({&clear_event_, &remove_event_, &add_event_, &read_event_}, kDestroyTimeoutMs);
}

int32_t TIRoundList::GetCount() const {
  std::shared_lock<std::shared_mutex> lock(count_lock_);
  return count_;
}

void TIRoundList::SetCount(int32_t count) {
  std::unique_lock<std::shared_mutex> lock(count_lock_);
  count_ = count;
}

void TIRoundList::AddToCount(int32_t delta) {
  std::unique_lock<std::shared_mutex> lock(count_lock_);
  count_ += delta;
}

TRoundListNode* TIRoundList::Next(TRoundListNode* node) {
  GuardedOperation guard(section_, read_event_, {&clear_event_, &remove_event_, &add_event_}, kListTimeoutMs);
  if (node == nullptr || node == tail_) return nullptr;
  return node->next;
}

TRoundListNode* TIRoundList::First() {
  GuardedOperation guard(section_, read_event_, {&clear_event_, &remove_event_, &add_event_}, kListTimeoutMs);
  return head_;
}

void TIRoundList::Add(void* item, bool atHead) {
  GuardedOperation guard(section_, add_event_, {&clear_event_, &remove_event_}, kListTimeoutMs);
  Link(item, atHead);
}

void TIRoundList::AddAllAtHead(const std::vector<void*>& items) {
  GuardedOperation guard(section_, add_event_, {&clear_event_, &remove_event_}, kListTimeoutMs);
  for (auto item = items.rbegin(); item != items.rend(); ++item) Link(*item, true);
}

void TIRoundList::Link(void* item, bool atHead) {
  auto* node = new TRoundListNode{item, false, nullptr, nullptr};
  AddToCount(1);
  if (head_ == nullptr) {
    node->previous = node->next = node;
    head_ = tail_ = node;
    return;
  }
  node->previous = tail_;
  node->next = head_;
  tail_->next = node;
  head_->previous = node;
  if (atHead)
    head_ = node;
  else
    tail_ = node;
}

void TIRoundList::Unlink(TRoundListNode* node) {
  if (node->next == node) {
    head_ = tail_ = nullptr;
    return;
  }
  node->previous->next = node->next;
  node->next->previous = node->previous;
  if (node == head_) head_ = node->next;
  if (node == tail_) tail_ = node->previous;
}

void TIRoundList::Remove(TRoundListNode*& node) {
  GuardedOperation guard(section_, remove_event_, {&clear_event_, &remove_event_, &add_event_, &read_event_},
                         kListTimeoutMs);
  if (node == nullptr || node->previous == nullptr) throw kt::Exception("Previous item was not found ! ");
  std::unique_ptr<TRoundListNode> removed(std::exchange(node, nullptr));
  Unlink(removed.get());
  AddToCount(-1);
  if (OnFreeItem) OnFreeItem(removed->item);
}

TRoundListNode* TIRoundList::Find(void* param, const TMatchMethod& match) {
  GuardedOperation guard(section_, read_event_, {&clear_event_, &remove_event_, &add_event_}, kListTimeoutMs);
  TRoundListNode* node = head_;
  if (node == nullptr) return nullptr;
  do {
    if (match(node->item, param)) return node;
    node = node->next;
  } while (node != head_);
  return nullptr;
}

bool TIRoundList::RemoveWaiting(void* param, const TMatchMethod& match) {
  GuardedOperation guard(section_, remove_event_, {&clear_event_, &remove_event_, &add_event_, &read_event_},
                         kListTimeoutMs);
  TRoundListNode* node = head_;
  if (node == nullptr) return false;
  while (node->taken || !match(node->item, param)) {
    node = node->next;
    if (node == head_) return false;
  }
  std::unique_ptr<TRoundListNode> removed(node);
  Unlink(node);
  AddToCount(-1);
  if (OnFreeItem) OnFreeItem(removed->item);
  return true;
}

TRoundListNode* TIRoundList::TakeFirst() {
  GuardedOperation guard(section_, read_event_, {&clear_event_, &remove_event_, &add_event_}, kListTimeoutMs);
  if (head_ == nullptr || head_->taken) return nullptr;
  head_->taken = true;
  return head_;
}

// The list is emptied before any item is disposed of, so a failing disposer
// cannot leave freed nodes linked.
void TIRoundList::Clear() {
  GuardedOperation guard(section_, clear_event_, {&clear_event_, &remove_event_, &add_event_, &read_event_},
                         kListTimeoutMs);
  std::vector<void*> items;
  if (tail_ != nullptr) tail_->next = nullptr;
  for (TRoundListNode* node = head_; node != nullptr;) {
    items.push_back(node->item);
    delete std::exchange(node, node->next);
  }
  head_ = tail_ = nullptr;
  SetCount(0);
  DisposeAll(items, [this](void* item) {
    if (OnFreeItem) OnFreeItem(item);
  });
}

// ---------------------------------------------------------------- binary tree

TUbinaryTree::TUbinaryTree(TVisitMethod onVisit, TFreeItemMethod onFreeItem)
    : OnVisit(std::move(onVisit)), OnFreeItem(std::move(onFreeItem)) {}

TUbinaryTree::~TUbinaryTree() {
  try {
    TUbinaryTree::Clear();
  } catch (...) {
    // A destructor cannot report; the nodes are freed anyway.
  }
  platform::Event::WaitForAll({&clear_event_, &delete_event_, &add_event_, &find_event_, &walk_event_},
                              kDestroyTimeoutMs);
}

TUbinaryTreeNode* TUbinaryTree::Add(int32_t key, void* data) {
  TUbinaryTreeNode* node = nullptr;
  try {
    node = Insert(key, data);
  } catch (...) {
    platform::YieldThread();
    throw;
  }
  platform::YieldThread();
  return node;
}

TUbinaryTreeNode* TUbinaryTree::Insert(int32_t key, void* data) {
  GuardedOperation guard(section_, add_event_, {&clear_event_, &delete_event_}, kTreeAddTimeoutMs);
  auto node = std::make_unique<TUbinaryTreeNode>(TUbinaryTreeNode{key, data, nullptr, nullptr, nullptr});
  if (root_ == nullptr) {
    node->parent = node.get();
    root_ = node.release();
    return root_;
  }
  TUbinaryTreeNode* place = root_;
  for (;;) {
    if (key == place->key) throw kt::EAbort();  // the node made for it is freed with `node`
    TUbinaryTreeNode*& child = key < place->key ? place->left : place->right;
    if (child == nullptr) {
      node->parent = place;
      child = node.release();
      return child;
    }
    place = child;
  }
}

TUbinaryTreeNode* TUbinaryTree::Find(int32_t key) {
  GuardedOperation guard(section_, find_event_, {&clear_event_, &delete_event_}, kTreeFindTimeoutMs);
  TUbinaryTreeNode* node = root_;
  while (node != nullptr && node->key != key) node = key < node->key ? node->left : node->right;
  return node;
}

TUbinaryTreeNode* TUbinaryTree::Root() {
  GuardedOperation guard(section_, find_event_, {&clear_event_, &delete_event_}, kTreeFindTimeoutMs);
  return root_;
}

namespace {

// Hangs `subtree` as the left child of the leftmost node below `top`.
void HangLeftmost(TUbinaryTreeNode* top, TUbinaryTreeNode* subtree) {
  if (subtree == nullptr) return;
  TUbinaryTreeNode* leftmost = top;
  while (leftmost->left != nullptr) leftmost = leftmost->left;
  leftmost->left = subtree;
  subtree->parent = leftmost;
}

// What takes the place of a node that is not the root.
TUbinaryTreeNode* Replacement(TUbinaryTreeNode* node) {
  TUbinaryTreeNode* heir = node->right;
  if (heir != nullptr)
    HangLeftmost(heir, node->left);
  else
    heir = node->left;
  if (heir != nullptr) heir->parent = node->parent;
  return heir;
}

}  // namespace

void TUbinaryTree::Unlink(TUbinaryTreeNode* node) {
  if (node == root_ && node->parent == node) {
    root_ = Replacement(node);
    if (root_ != nullptr) root_->parent = root_;
    return;
  }
  TUbinaryTreeNode* parent = node->parent;
  if (parent != nullptr && parent != node && parent->left == node)
    parent->left = Replacement(node);
  else if (parent != nullptr && parent != node && parent->right == node)
    parent->right = Replacement(node);
  else
    throw kt::Exception("Unclear deleting condition: Tree damaged ? " + std::to_string(node->key));
}

void TUbinaryTree::Delete(TUbinaryTreeNode*& node) {
  GuardedOperation guard(section_, delete_event_,
                         {&clear_event_, &delete_event_, &add_event_, &find_event_, &walk_event_},
                         kTreeDeleteTimeoutMs);
  if (node == nullptr) return;
  Unlink(node);
  std::unique_ptr<TUbinaryTreeNode> removed(std::exchange(node, nullptr));
  if (OnFreeItem) OnFreeItem(removed->data);
}

void TUbinaryTree::Clear() {
  std::exception_ptr failure;
  {
    GuardedOperation guard(section_, clear_event_,
                           {&clear_event_, &delete_event_, &add_event_, &find_event_, &walk_event_},
                           kTreeDeleteTimeoutMs);
    // Right subtree, then left subtree, then the node itself; iterative, as
    // an unbalanced tree can be as deep as it is large.
    std::vector<void*> data;
    std::vector<std::pair<TUbinaryTreeNode*, bool>> pending;
    if (root_ != nullptr) pending.emplace_back(root_, false);
    root_ = nullptr;
    while (!pending.empty()) {
      auto [node, childrenDone] = pending.back();
      pending.pop_back();
      if (childrenDone) {
        data.push_back(node->data);
        delete node;
        continue;
      }
      pending.emplace_back(node, true);
      if (node->left != nullptr) pending.emplace_back(node->left, false);
      if (node->right != nullptr) pending.emplace_back(node->right, false);
    }
    try {
      DisposeAll(data, [this](void* item) {
        if (OnFreeItem) OnFreeItem(item);
      });
    } catch (...) {
      failure = std::current_exception();
    }
  }
  platform::YieldThread();
  if (failure) throw kt::Exception("Error occurred when deleting nodes! " + MessageOf(failure));
}

template <typename Visit>
void TUbinaryTree::WalkInOrder(Visit&& visit) {
  std::vector<TUbinaryTreeNode*> pending;
  TUbinaryTreeNode* node = root_;
  while (node != nullptr || !pending.empty()) {
    while (node != nullptr) {
      pending.push_back(node);
      node = node->left;
    }
    node = pending.back();
    pending.pop_back();
    if (node->data != nullptr) visit(node);
    node = node->right;
  }
}

void TUbinaryTree::ForEach() {
  GuardedOperation guard(section_, walk_event_, {}, 0);
  WalkInOrder([this](TUbinaryTreeNode* node) {
    if (OnVisit) OnVisit(node->data);
  });
}

void TUbinaryTree::ToList(std::vector<TUbinaryTreePair>& list) {
  GuardedOperation guard(section_, walk_event_, {}, 0);
  WalkInOrder([&list](TUbinaryTreeNode* node) { list.push_back({node->key, node->data}); });
}

}  // namespace tidewell
