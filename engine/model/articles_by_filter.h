// SPDX-License-Identifier: MIT
// The articles a saved filter selects: runs the select that the filter
// workshop compiles and reads each row into a TFilteredArticleProperty,
// optionally with its feed, optionally once per article ("distinct_smartfeeds"
// of the global settings), optionally grouped while read.
//
// Sort modes: 2 by age of the created date, 3 by age of the modified date,
// 4 by feed title, 5 by keyword (one row per article and keyword); 0 and 1
// load without grouping. Without an order text the mode's own order is used.
//
// Threads: one thread loads; another may only set Cancel (see LoadByFilter).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/model/articles.h"
#include "engine/model/articles_by_filter_grouper.h"
#include "engine/model/feed_property.h"
#include "engine/model/tidewell_filters.h"

namespace tidewell {

class TFilteredArticleProperty : public TArticleProperty {
 public:
  // owner: a TArticlesByFilter.
  TFilteredArticleProperty(TBaseClass* owner, int32_t feedId, int32_t articleId);
  ~TFilteredArticleProperty() override;

  std::unique_ptr<TFeedProperty> Feed;  // only when feed columns are loaded
};

// The arguments of a load by filter.
struct TFilterLoadRequest {
  TFilter* root = nullptr;          // not owned
  bool feedColumns = false;         // read each row's feed into Feed
  int32_t skip = 0;
  int32_t rowCount = 0;             // 0: all rows
  std::string order;                // empty: the sort mode's order
  TArticleGroupCallback onGroup;    // may be empty
  uint8_t sortMode = 0;
  uint16_t columnMask = 0;          // bits of the filter select's columns; 0: all
  TDateTime createdSince = 0;       // above 0: only articles created since
};

class TArticlesByFilter : public TArticles {
 public:
  explicit TArticlesByFilter(TDbConnWrapper* database);
  ~TArticlesByFilter() override;

  // Resets the grouper (its lists point at the rows), then frees the rows.
  void Clear() override;
  // "Feed index out of bounds !" outside 0..GetCount()-1.
  TFilteredArticleProperty* GetItem(int32_t index) const;
  bool AcceptsFeedRows() const override { return true; }
  const char* ClassName() const override { return "TArticlesByFilter"; }

  // Loads the rows of the filter into collection's Items.
  //
  // Ownership: whoever sets Cancel while the load runs hands the collection
  // over to the load and must not touch it afterwards: a load that ends with
  // Cancel set (normally or by a failure) frees the collection and leaves
  // `collection` null. The caller owns the collection exactly when
  // `collection` is not null on return; a Cancel set before the load starts
  // is cleared by it.
  //
  // Raises "Group item inpropertly defined" when the mask or the feed flag
  // cannot serve the sort mode (nothing loaded), "Error in grouping function
  // ! ..." when the callback raises; other failures pass on, an abort ends
  // the load quietly. Rows read before a failure stay; Finished is set.
  // A null collection does nothing.
  static void LoadByFilter(std::unique_ptr<TArticlesByFilter>& collection, const TFilterLoadRequest& request);

  bool Finished = false;  // false while a load runs
  std::unique_ptr<TArticlesByFilterGrouper> Grouper;

 protected:
  // The load without the hand-over of a cancelled collection.
  virtual void RunFilterLoad(const TFilterLoadRequest& request);

 private:
  void CheckSortMode(const TFilterLoadRequest& request) const;
  void ReadRows(const TFilterLoadRequest& request, TUbinaryTree* seenArticles);
  TFilteredArticleProperty* ReadRow(const TFilterLoadRequest& request, TUbinaryTree* seenArticles);
  void ReadArticleColumns(TQueryWrapper& q, int& column, uint16_t mask, TFilteredArticleProperty& a);
  void ReadFeedColumns(TQueryWrapper& q, int& column, TFilteredArticleProperty& a);
  void GroupRow(TFilteredArticleProperty* row, uint8_t sortMode, bool lastRow, bool& goOn);

  TDateTime reference_time_ = 0;  // local time at the start of the load
};

}  // namespace tidewell
