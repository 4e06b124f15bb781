// SPDX-License-Identifier: MIT
#include "toolkit/kt_tree.h"

#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "toolkit/kt_vector.h"

namespace kt {
namespace {

constexpr char kTreeSignature[] = "KTTC";

}  // namespace

TKtTree::~TKtTree() {
  try {
    Clear();
  } catch (...) {  // a destructor never throws; a failing free leaks instead
  }
}

void* TKtTree::ItemOf(Node* node) { return node == nullptr ? nullptr : reinterpret_cast<uint8_t*>(node) + sizeof(Node); }

TKtTree::Node* TKtTree::NodeOf(void* item) {
  return reinterpret_cast<Node*>(static_cast<uint8_t*>(item) - sizeof(Node));
}

TKtTree::Node* TKtTree::NewNode(Node* parent, bool at_end) {
  if (count_ >= kKtMaxCount) Error("List index out of bounds (%d)", count_);
  auto* node = static_cast<Node*>(std::malloc(sizeof(Node) + static_cast<size_t>(item_handler_->ItemSize())));
  if (node == nullptr) throw std::bad_alloc();
  *node = Node{parent, nullptr, nullptr, nullptr, nullptr};
  if (at_end) {
    node->prev = parent->last_child;
    (parent->last_child != nullptr ? parent->last_child->next : parent->first_child) = node;
    parent->last_child = node;
  } else {
    node->next = parent->first_child;
    (parent->first_child != nullptr ? parent->first_child->prev : parent->last_child) = node;
    parent->first_child = node;
  }
  ++count_;
  return node;
}

void* TKtTree::InsertFirstRaw() { return ItemOf(NewNode(&root_, false)); }
void* TKtTree::InsertLastRaw() { return ItemOf(NewNode(&root_, true)); }

void* TKtTree::InsertFirst() {
  void* item = InsertFirstRaw();
  InitItem(item);
  return item;
}

void* TKtTree::InsertLast() {
  void* item = InsertLastRaw();
  InitItem(item);
  return item;
}

void* TKtTree::NewChild(void* parent) {
  void* item = ItemOf(NewNode(parent == nullptr ? &root_ : NodeOf(parent), true));
  InitItem(item);
  return item;
}

void* TKtTree::First() const { return ItemOf(root_.first_child); }

void* TKtTree::Last() const {
  Node* node = root_.last_child;
  while (node != nullptr && node->last_child != nullptr) node = node->last_child;
  return ItemOf(node);
}

void* TKtTree::Next(void* item) const {
  Node* node = NodeOf(item);
  if (node->first_child != nullptr) return ItemOf(node->first_child);
  for (; node != &root_; node = node->parent) {
    if (node->next != nullptr) return ItemOf(node->next);
  }
  return nullptr;
}

void* TKtTree::Prev(void* item) const {
  Node* node = NodeOf(item);
  if (node->prev == nullptr) return node->parent == &root_ ? nullptr : ItemOf(node->parent);
  node = node->prev;
  while (node->last_child != nullptr) node = node->last_child;
  return ItemOf(node);
}

int32_t TKtTree::ChildCount(void* item) const {
  int32_t count = 0;
  for (Node* child = NodeOf(item)->first_child; child != nullptr; child = child->next) ++count;
  return count;
}

void* TKtTree::Parent(void* item) const {
  Node* parent = NodeOf(item)->parent;
  return parent == &root_ ? nullptr : ItemOf(parent);
}

void* TKtTree::FirstChild(void* item) const { return ItemOf(NodeOf(item)->first_child); }
void* TKtTree::NextSibling(void* item) const { return ItemOf(NodeOf(item)->next); }

// Frees the leaves one by one, always the first child's subtree first, so
// every node's children are freed before the node itself.
void TKtTree::FreeDescendants(Node* top) {
  Node* node = top;
  while (true) {
    if (node->first_child != nullptr) {
      node = node->first_child;
      continue;
    }
    if (node == top) return;
    Node* parent = node->parent;
    parent->first_child = node->next;
    (node->next != nullptr ? node->next->prev : parent->last_child) = nullptr;
    --count_;
    try {
      FreeItem(ItemOf(node));
    } catch (...) {
      std::free(node);
      throw;
    }
    std::free(node);
    node = parent;
  }
}

void TKtTree::Clear() { FreeDescendants(&root_); }

void TKtTree::Iterate(TKtIterateItemsProc iterate, void* data) {
  CheckIterateItems(iterate);
  for (void* item = First(); item != nullptr; item = Next(item)) iterate(item, data);
}

void* TKtTree::FirstThat(const void* value, TKtSameItemsFunc same) const {
  CheckSameItems(same);
  for (void* item = First(); item != nullptr; item = Next(item)) {
    if (same(item, value)) return item;
  }
  return nullptr;
}

void* TKtTree::LastThat(const void* value, TKtSameItemsFunc same) const {
  CheckSameItems(same);
  for (void* item = Last(); item != nullptr; item = Prev(item)) {
    if (same(item, value)) return item;
  }
  return nullptr;
}

void TKtTree::CheckCopyFrom(const TKtContainer& source) const {
  if (&source.ItemHandler() != item_handler_) Error("Itemhandlers do not match");
  if (item_handler_->OnCopyItem() == nullptr) Error("OnCopyItems not assigned");
}

void TKtTree::Assign(const TKtContainer& source) {
  if (const auto* tree = dynamic_cast<const TKtTree*>(&source)) {
    AssignFromTree(*tree);
  } else if (const auto* vector = dynamic_cast<const TKtVector*>(&source)) {
    AssignFromVector(*vector);
  } else {
    TKtLinearContainer::Assign(source);
  }
}

void TKtTree::AssignFromTree(const TKtTree& source) {
  CheckCopyFrom(source);
  if (&source == this) return;
  Clear();
  // Pairs of (source node, copy) along the path from the top to the node
  // last copied; a source node's parent is always on it.
  std::vector<std::pair<Node*, Node*>> path;
  for (void* item = source.First(); item != nullptr; item = source.Next(item)) {
    Node* from = NodeOf(item);
    while (!path.empty() && path.back().first != from->parent) path.pop_back();
    Node* parent = path.empty() ? &root_ : path.back().second;
    void* copy = NewChild(parent == &root_ ? nullptr : ItemOf(parent));
    item_handler_->OnCopyItem()(item, copy);
    path.emplace_back(from, NodeOf(copy));
  }
}

void TKtTree::AssignFromVector(const TKtVector& source) {
  CheckCopyFrom(source);
  Clear();
  for (int32_t i = 0; i < source.Count(); ++i) item_handler_->OnCopyItem()(source.GetItem(i), InsertLast());
}

void TKtTree::WriteToStream(TKtBinaryWriter& writer, TKtStreamOptions options, void* data) {
  CheckCanWrite();
  WritePrologue(writer, options, data, kTreeSignature);
  int32_t top_level = 0;
  for (Node* node = root_.first_child; node != nullptr; node = node->next) ++top_level;
  writer.WriteInteger(top_level);
  // Pre-order is exactly the order of the stream: each node's child count
  // and item, then its children.
  for (void* item = First(); item != nullptr; item = Next(item)) {
    writer.WriteInteger(ChildCount(item));
    item_handler_->OnWriteItem()(*this, writer, item, data);
  }
}

void TKtTree::ReadFromStream(TKtBinaryReader& reader, TKtStreamOptions options, void* data) {
  CheckCanRead();
  ReadPrologue(reader, options, data, kTreeSignature);
  Clear();
  struct Pending {
    Node* parent;
    int32_t children_left;
  };
  std::vector<Pending> pending{{&root_, reader.ReadInteger()}};
  while (!pending.empty()) {
    Pending& top = pending.back();
    if (top.children_left < 0) Error("Invalid stream format");
    if (top.children_left == 0) {
      pending.pop_back();
      continue;
    }
    --top.children_left;
    Node* parent = top.parent;
    const int32_t children = reader.ReadInteger();
    void* item = NewChild(parent == &root_ ? nullptr : ItemOf(parent));
    item_handler_->OnReadItem()(*this, reader, item, data);
    pending.push_back({NodeOf(item), children});
  }
}

}  // namespace kt
