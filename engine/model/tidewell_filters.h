// SPDX-License-Identifier: MIT
// Saved filters: trees of TFilter nodes, stored in SQLFilters and
// SQLFilterValues and compiled into the article select.
//
// A tree: the root is a container (OperType 0) whose Field is the filter's
// name; below it comparisons (3 to 15) of one "table.column" with values,
// and logical nodes (1 OR, 2 AND). A logical node joins itself to the
// sibling before it: its text is its operator followed by its children in
// parentheses, so "A, OR[B]" below a container reads "(A OR (B))". A
// comparison may also be a root on its own (the application's filter).
//
// Operators: 3 =, 4 !=, 5 >, 6 >=, 7 <, 8 <=, 9 contains, 10 does not
// contain, 11 starts with, 12 ends with, 13 in list, 14 not in list, 15 open
// comparison (the field expression alone). Data types: 1 text, 2 integer,
// 3 date-time ("+n"/"-n": UTC now plus n minutes; else a date-time text
// "yyyy-mm-dd[ hh:nn[:ss]]", compared with the stored UTC values as it
// stands), 4 UTF-8 text in a blob, searched with the schema's text-search
// functions. Operator 15 puts the field into the SQL text as it stands: it
// is for filters the application itself defines.
//
// Every value reaches the database as a bound parameter, except the values
// of integer in-lists, which are checked to be integers and written as such.
// Errors raise kt::Exception with the message table's texts.
//
// Threads: a tree is used by one thread at a time. SaveFilter and
// DeleteFilter serialise on one process-wide re-entrant lock; the auto-save
// writes serialise on the workshop's own statement.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

class TFilter;
class TFilterWorkShop;

// One value of a comparison.
class TFilterData {
 public:
  TFilterData() = default;
  explicit TFilterData(WideString value) : Value(std::move(value)) {}
  WideString Value;
};

// The child nodes of a filter node; frees them when owning.
class TFilterConditions {
 public:
  explicit TFilterConditions(bool ownsObjects) : OwnsObjects(ownsObjects) {}
  ~TFilterConditions();
  TFilterConditions(const TFilterConditions&) = delete;
  TFilterConditions& operator=(const TFilterConditions&) = delete;

  // The node's index when it is in the list already, else appends it.
  int32_t Add(TFilter* node);
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  // Raises "Invalid item index" outside 0 to Count() - 1.
  TFilter* GetItem(int32_t index) const;
  // Frees the nodes when owning, then empties the list.
  void Clear();

  bool OwnsObjects;
  std::vector<TFilter*> Items;
};

// Something a caller hangs on a node; freed with the node.
class TFilterExtra {
 public:
  virtual ~TFilterExtra() = default;
};

class TFilter {
 public:
  // workShop may be nullptr (no auto-save then); it is not owned.
  TFilter(TFilterWorkShop* workShop, bool ownsChildren, bool autoSave);
  ~TFilter();
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;

  // With AutoSave, a workshop and an Id above 0, these write the column
  // first (SetField only for a non-empty text); a failed write raises and
  // leaves the node unchanged.
  void SetField(const WideString& value);
  void SetDataType(uint8_t value);
  void SetWeight(int16_t value);
  const WideString& GetField() const { return field_; }
  uint8_t GetDataType() const { return data_type_; }
  int16_t GetWeight() const { return weight_; }

  // Appends a value; returns its index.
  int32_t AddValue(const WideString& value);
  int32_t GetValueCount() const { return static_cast<int32_t>(Values.size()); }
  // Raises "Invalid item index" outside 0 to GetValueCount() - 1.
  TFilterData* GetValue(int32_t index) const;

  bool OwnsChildren;
  bool AutoSave;
  TFilterWorkShop* WorkShop;
  int32_t FolderId = 0;
  int32_t Id = 0;               // SQLFilters.id; 0 while never saved
  TFilter* Parent = nullptr;    // nullptr for the root; set by the tree's builder
  std::unique_ptr<TFilterConditions> Conditions;
  uint8_t OperType = 0;
  std::vector<std::unique_ptr<TFilterData>> Values;
  std::unique_ptr<TFilterExtra> Extra;  // never set by this unit

 private:
  bool WritesThrough() const;

  int16_t weight_ = 0;
  uint8_t data_type_ = 1;
  WideString field_;
};

// The tables a condition refers to beyond articles.
struct TFilterTableUse {
  bool feeds = false;
  bool webpages = false;
  bool enclosures = false;
  bool imapLetterMapping = false;
};

// One entry of MapFeedLinks: the links of a filter's feeds, each followed by
// "%==-".
struct TFilterLinkEntry {
  std::string text;
  TFilter* filter = nullptr;
};
using TFilterLinkList = std::vector<TFilterLinkEntry>;

class TFilterWorkShop {
 public:
  // REQUIRES: database outlives the workshop.
  explicit TFilterWorkShop(TDbConnWrapper* database);
  ~TFilterWorkShop();
  TFilterWorkShop(const TFilterWorkShop&) = delete;
  TFilterWorkShop& operator=(const TFilterWorkShop&) = delete;

  // Write one column of a saved node in the workshop's own transaction;
  // a failure rolls back and passes on.
  void UpdateNodeField(TFilter* node, const WideString& value);
  void UpdateNodeDataType(TFilter* node, uint8_t value);
  void UpdateNodeWeight(TFilter* node, int16_t value);

  // Stores the tree under the root (which must have OperType 0), replacing
  // its previously saved children; assigns ids. transaction: the caller's
  // (not committed here) or nullptr for an own one. A failure rolls back
  // the transaction used (the caller's too) and passes on; the nodes get
  // back the ids they had before, matching the rolled-back rows.
  void SaveFilter(TFilter* root, TTranWrapper* transaction);
  // Deletes the node's rows and those of its children, with their Variables
  // rows; with keepRootRow the row of a node without Parent stays.
  void DeleteFilter(TFilter* node, bool keepRootRow, TTranWrapper* transaction);

  // The condition text of a node (see the file comment); empty for no node
  // or a container without children. With bind, values are bound to query
  // from paramIndex on, which is raised past them.
  void BuildWhereClause(TFilter* node, std::string& text, bool skipOperator, TQueryWrapper* query, bool bind,
                        int32_t& paramIndex, bool keywordsJoined, int32_t& aliasCounter, TFilterTableUse& tables);
  // The article select of a root: lines joined by "\n"; empty when the
  // condition is empty. Column mask bits as the select lists them (0: all).
  void BuildArticleSQL(TFilter* root, std::string& sql, TDateTime createdSince, uint16_t columnMask,
                       uint8_t sortMode, int32_t skip, int32_t rowCount, bool feedColumns, bool countOnly,
                       const std::string& extraCondition, const std::string& orderText);
  // Puts the article select into query's SQL, prepares and binds it. Returns
  // false, leaving the SQL untouched, when the filter selects nothing.
  bool PrepareArticleQuery(TQueryWrapper* query, TFilter* root, TDateTime createdSince, uint16_t columnMask,
                           uint8_t sortMode, bool feedColumns, int32_t skip, int32_t rowCount,
                           const std::string& orderText);

  // The feed ids a root selects (see the implementation for the two shapes);
  // ids is emptied when the result is false.
  bool GetFeedIDs(TFilter* root, TDynIntArray& ids);
  // For each filter that selects feeds: its feeds' links, each followed by
  // "%==-", in the entry whose filter it is (replacing that entry's text),
  // or in a new entry.
  void MapFeedLinks(const std::vector<TFilter*>& filters, TFilterLinkList& list);

  // Copies source's tree below target (a new root of this workshop when
  // target is nullptr, owned by the caller); with keepIds the copies keep
  // the ids of their originals. Returns the target.
  TFilter* CloneFilter(TFilter* source, TFilter* target, bool keepIds);
  static void FreeFilter(TFilter*& filter);

  int32_t UserId = 0;
  TDbConnWrapper* Database;
  TTranWrapper* Transaction;
  TQueryWrapper* Query;

 private:
  void SaveFilterOnce(TFilter* root, TTranWrapper* transaction);
  void UpdateNodeColumn(TFilter* node, const char* setLine, const std::function<void(db::Param&)>& bindValue);
  void DeleteNode(TQueryWrapper* query, TFilter* node, bool spareThisRow);
  void InsertNode(TQueryWrapper* query, TFilter* node, int32_t parentId);
  void UpdateRootRow(TQueryWrapper* query, TFilter* root);
  void SaveNodeTree(TQueryWrapper* query, TFilter* node, TFilter* root, int32_t parentId);
  void CopyNode(TFilter* source, TFilter* newParent, bool keepIds);

  std::mutex own_statement_mutex_;  // guards Transaction and Query
};

}  // namespace tidewell
