// SPDX-License-Identifier: MIT
#include "engine/model/articles_by_filter_grouper.h"

#include <algorithm>
#include <exception>
#include <string>

#include "engine/model/articles_by_filter.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

constexpr uint8_t kModeByCreated = 2;
constexpr uint8_t kModeByModified = 3;
constexpr uint8_t kModeByKeyword = 5;

TArticleGroup* GroupOf(TUbinaryTreeNode* node) { return static_cast<TArticleGroup*>(node->data); }

}  // namespace

TArticlesByFilterGrouper::TArticlesByFilterGrouper(uint8_t mode, TArticleGroupCallback onGroup)
    : OnGroup(std::move(onGroup)), Mode(mode), Groups(std::make_unique<TUbinaryTree>()) {}

// The tree goes before the lists its nodes point into.
TArticlesByFilterGrouper::~TArticlesByFilterGrouper() {
  Groups.reset();
  GroupLists.clear();
}

void TArticlesByFilterGrouper::Reset() {
  CurrentGroup = nullptr;
  Groups->Clear();
  GroupLists.clear();
}

TArticleGroup* TArticlesByFilterGrouper::NewGroup(int32_t key) {
  GroupLists.push_back(std::make_unique<TArticleGroup>());
  GroupLists.back()->key = key;
  return GroupLists.back().get();
}

bool TArticlesByFilterGrouper::Call(TUbinaryTreeNode* group, TFilteredArticleProperty* row, bool lastRow,
                                    const std::u16string* groupData, uint8_t event) {
  return OnGroup(group->key, row, lastRow, groupData, GroupOf(group)->rows, event, Mode);
}

bool TArticlesByFilterGrouper::CloseGroup(TUbinaryTreeNode* group, bool lastRow) {
  const TArticleGroup* list = GroupOf(group);
  const std::u16string* data = nullptr;
  if (Mode == kModeByKeyword && list != nullptr && !list->rows.empty()) data = &list->rows.front()->Keyword;
  if (list == nullptr) return true;
  return Call(group, nullptr, lastRow, data, kGroupClosed);
}

// A row opens a group or joins a known one. Every group is closed once its
// rows are in: the previous group when a row goes to another one, the
// current group after the last row. So the events come in load order: close
// of the previous group, the row's own event, the close after the last row.
void TArticlesByFilterGrouper::AddRow(int32_t key, TFilteredArticleProperty* row, bool& goOn, bool lastRow,
                                      const std::u16string* groupData) {
  TUbinaryTreeNode* node = Groups->Find(key);
  TUbinaryTreeNode* const previous = CurrentGroup;
  goOn = true;
  bool known = true;
  TArticleGroup* list = nullptr;
  if ((Mode == kModeByCreated || Mode == kModeByModified) && node != nullptr && node->data == nullptr) {
    list = NewGroup(key);
    node->data = list;
    CurrentGroup = node;
    known = false;
  } else if (node == nullptr) {
    if (row != nullptr) list = NewGroup(key);
    try {
      node = Groups->Add(key, list);
    } catch (...) {
      throw kt::Exception("Grp node is invalid (tidewell_BaseClasses.pas, line 5409)");
    }
    CurrentGroup = row != nullptr ? node : nullptr;
    known = false;
  } else {
    list = GroupOf(node);
    // Rows of one group need not arrive together when the caller orders
    // them otherwise; the row is reported with the group it joins.
    CurrentGroup = node;
  }
  if (list == nullptr) return;
  if (row != nullptr && std::find(list->rows.begin(), list->rows.end(), row) == list->rows.end())
    list->rows.push_back(row);
  if (!OnGroup) return;
  try {
    // A false answer ends the calls too: the load stops after this row.
    if (previous != nullptr && previous != CurrentGroup) goOn = CloseGroup(previous, false);
    if (goOn) goOn = Call(CurrentGroup, row, lastRow, groupData, known ? kGroupRowAdded : kGroupNew);
    if (goOn && lastRow) goOn = CloseGroup(CurrentGroup, true);
  } catch (const std::exception& e) {
    goOn = false;
    RaiseMessage(kGroupingFunctionError, std::string(e.what()));
  } catch (...) {
    goOn = false;
    RaiseMessage(kGroupingFunctionError, std::string());
  }
}

void TArticlesByFilterGrouper::AddRowByText(const std::u16string& text, TFilteredArticleProperty* row, bool& goOn,
                                            bool lastRow, const std::u16string* groupData) {
  const auto key = static_cast<int32_t>(StringHash(kt::WideToUtf8(text)));
  AddRow(key, row, goOn, lastRow, groupData);
}

}  // namespace tidewell
