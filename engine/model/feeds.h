// SPDX-License-Identifier: MIT
// The feeds of the database: loads rows of table feeds into TFeedProperty
// rows, and deletes feeds (wholly, or by marking them deleted).
//
// A load never returns a feed marked deleted ("DELMARKED:" link) and leaves
// out OPML feeds unless the order text holds "[AllowOPML]", comment feeds,
// search roots and search results unless Options admits them (or TypeFilter
// names one kind).
#pragma once

#include <cstdint>
#include <string>

#include "engine/model/base_class.h"
#include "engine/model/feed_property.h"

namespace tidewell {

class TFeeds : public TBaseClass {
 public:
  static constexpr uint8_t kAdmitCommentFeeds = 0x01;
  static constexpr uint8_t kAdmitSearchRoots = 0x02;
  static constexpr uint8_t kAdmitSearchResults = 0x04;

  using TBaseClass::TBaseClass;

  // LoadFeeds with the one feed id, skip 0.
  void LoadById(int32_t feedId, const std::string& order, int32_t skip, int32_t count) override;
  // The kinds a load leaves out, quoted and comma-separated.
  virtual std::string GetExcludedTypes() const;
  // "Feed index out of bounds !" outside 0..GetCount()-1.
  virtual TFeedProperty* GetItem(int32_t index) const;
  // The feeds of the ids (any number of them). An empty array only clears.
  // An abort ends the load quietly with the rows read so far.
  virtual void LoadFeeds(const TDynIntArray& feedIds, std::string order, int32_t skip, int32_t count);

  const char* ClassName() const override { return "TFeeds"; }
  bool AcceptsFeedRows() const override { return true; }

  // Marks the feed deleted (markOnly) or deletes it with its articles, name
  // spaces and custom tags; a search root takes its search results with it.
  // Runs on the caller's statement and transaction: neither starts nor
  // commits; failures pass on.
  static void DeleteFeed(TQueryWrapper* query, int32_t feedId, bool markOnly);

  std::string TypeFilter;
  uint8_t Options = 0;

 private:
  static std::string FeedIdCondition(const TDynIntArray& feedIds);
  std::vector<std::string> FeedSelectLines(const TDynIntArray& feedIds, bool admitOpml, const std::string& order,
                                           int32_t skip, int32_t count) const;
  void ReadFeedRow(TQueryWrapper& query);
};

}  // namespace tidewell
