// SPDX-License-Identifier: MIT
// A hierarchy of items kept in insertion order: no keys, no ordering, no
// balancing. Each node is one heap block, its links followed by its item, and
// is addressed by its item's address, which stays valid until the node is
// freed. The order of the tree is pre-order: a node, then its children from
// first to last, each with its own children. Walks, freeing and streaming are
// iterative, so a deep tree never exhausts the call stack.
#pragma once

#include "toolkit/kt_containers.h"

namespace kt {

class TKtVector;

class TKtTree : public TKtLinearContainer {
 public:
  // Fails with "ItemHandler is nil" when handler is null; the handler must
  // outlive the tree.
  explicit TKtTree(TKtItemHandler* handler) : TKtTree("TKtTree", handler) {}
  ~TKtTree() override;

  // Top-level nodes: InsertFirst before, InsertLast after the existing ones.
  void* InsertFirst() override;
  void* InsertFirstRaw() override;
  void* InsertLast() override;
  void* InsertLastRaw() override;
  // Adds an initialised node as the last child of parent (a top-level node
  // when parent is nullptr).
  void* NewChild(void* parent);

  // The first top-level item, and the last item in pre-order (the deepest
  // last child); nullptr when the tree is empty.
  void* First() const override;
  void* Last() const override;
  // The item after or before item in pre-order, or nullptr.
  void* Next(void* item) const;
  void* Prev(void* item) const;
  int32_t ChildCount(void* item) const;
  // The parent (nullptr for a top-level item), first child and next sibling
  // of item, or nullptr.
  void* Parent(void* item) const;
  void* FirstChild(void* item) const;
  void* NextSibling(void* item) const;

  // Takes the structure of a tree, or the items of a vector as top-level
  // nodes. The item handlers must be the same object and have OnCopyItem.
  void Assign(const TKtContainer& source) override;
  void Clear() override;
  void Iterate(TKtIterateItemsProc iterate, void* data) override;
  void* FirstThat(const void* value, TKtSameItemsFunc same) const override;
  void* LastThat(const void* value, TKtSameItemsFunc same) const override;
  void ReadFromStream(TKtBinaryReader& reader, TKtStreamOptions options, void* data) override;
  void WriteToStream(TKtBinaryWriter& writer, TKtStreamOptions options, void* data) override;

 protected:
  TKtTree(const char* class_name, TKtItemHandler* handler) : TKtLinearContainer(class_name, handler) {}

 private:
  struct Node {
    Node* parent;  // the root record for top-level nodes
    Node* prev;
    Node* next;
    Node* first_child;
    Node* last_child;
  };

  static void* ItemOf(Node* node);
  static Node* NodeOf(void* item);
  Node* NewNode(Node* parent, bool at_end);
  void FreeDescendants(Node* parent);
  void CheckCopyFrom(const TKtContainer& source) const;
  void AssignFromTree(const TKtTree& source);
  void AssignFromVector(const TKtVector& source);

  Node root_{};  // only its child links are used
};

}  // namespace kt
