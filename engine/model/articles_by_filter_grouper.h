// SPDX-License-Identifier: MIT
// Groups the rows of a filtered article load while it reads them (by age of
// the created or modified date, by feed title, by keyword) and reports each
// group change to a callback that can stop the load.
//
// Ownership: the grouper keeps lists of row pointers; the rows belong to the
// collection, which resets the grouper before it frees them.
// Threads: used by the thread that runs the load.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rssEngUtilities/queue_unit.h"

namespace tidewell {

class TFilteredArticleProperty;

// The rows of one group, in load order.
struct TArticleGroup {
  int32_t key = 0;
  std::vector<TFilteredArticleProperty*> rows;
};

// Event codes of the grouping callback.
enum : uint8_t { kGroupNew = 0, kGroupRowAdded = 1, kGroupClosed = 2 };

// Arguments: group key, the row (nullptr for a closing group), last-row flag,
// the group data (nullptr, or in sort mode 5 the group's keyword), the
// group's rows, the event code, the sort mode. Returns whether to go on.
using TArticleGroupCallback =
    std::function<bool(int32_t key, TFilteredArticleProperty* row, bool lastRow, const std::u16string* groupData,
                       const std::vector<TFilteredArticleProperty*>& groupRows, uint8_t event, uint8_t sortMode)>;

class TArticlesByFilterGrouper {
 public:
  TArticlesByFilterGrouper(uint8_t mode, TArticleGroupCallback onGroup);
  ~TArticlesByFilterGrouper();
  TArticlesByFilterGrouper(const TArticlesByFilterGrouper&) = delete;
  TArticlesByFilterGrouper& operator=(const TArticlesByFilterGrouper&) = delete;

  // No current group, no groups.
  void Reset();
  // Files the row under key and calls back (see the implementation);
  // goOn receives the callback's answer. A callback that raises sets goOn
  // false and raises "Error in grouping function ! \r\n\r\n" + its message.
  void AddRow(int32_t key, TFilteredArticleProperty* row, bool& goOn, bool lastRow, const std::u16string* groupData);
  // AddRow keyed by the hash of the text's UTF-8 bytes.
  void AddRowByText(const std::u16string& text, TFilteredArticleProperty* row, bool& goOn, bool lastRow,
                    const std::u16string* groupData);

  TUbinaryTreeNode* CurrentGroup = nullptr;  // the group rows go to; nullptr at start
  TArticleGroupCallback OnGroup;
  uint8_t Mode;
  std::unique_ptr<TUbinaryTree> Groups;  // node data: a TArticleGroup of GroupLists
  std::vector<std::unique_ptr<TArticleGroup>> GroupLists;

 private:
  TArticleGroup* NewGroup(int32_t key);
  bool Call(TUbinaryTreeNode* group, TFilteredArticleProperty* row, bool lastRow, const std::u16string* groupData,
            uint8_t event);
  bool CloseGroup(TUbinaryTreeNode* group, bool lastRow);
};

}  // namespace tidewell
