// SPDX-License-Identifier: MIT
// One feed row: its columns, its articles and its custom tags (both owned,
// loaded on demand, borrowing the owner's statement and transaction).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/model/base_property.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

class TArticles;
class TFeedCustomTags;

class TFeedProperty : public TBaseProperty {
 public:
  // The change code SetUpdateInterval hands to OnChange.
  static constexpr int32_t kUpdateIntervalChanged = 1001;

  // owner: a TFeeds or an articles-by-filter collection, else "Parent class
  // is missing / invalid id / incorrect parent class !".
  TFeedProperty(TBaseClass* owner, int32_t feedId);
  ~TFeedProperty() override;

  // The stored password unscrambled.
  std::string GetPassword() const;
  // Stores the update interval (minutes, -2 skips the feed) and the next
  // update time derived from it, in a transaction of the owner's; raises
  // "Invalid update interval" outside -2 and 0..20000, "Can't perform
  // operation, query open ?" while the owner's statement is open. On failure
  // the row and the database are unchanged.
  void SetUpdateInterval(int32_t minutes);

  int32_t ParentFeed = 0;
  std::unique_ptr<TArticles> Articles;
  std::unique_ptr<TFeedCustomTags> FeedCustomTags;
  bool IsOpml = false;
  bool IsCommentFeed = false;
  bool IsSearchRoot = false;
  bool IsSearchResult = false;
  int32_t UpdateInterval = 0;
  int32_t FeedId = 0;
  std::u16string Title;
  std::string Link;
  std::string Homepage;
  std::string FavIcon;
  std::string Image;
  std::string ETag;
  std::string FeedMD5;
  std::string UserName;
  std::string Password;  // scrambled, as stored
  TDateTime FeedModified = -1.0;
  TDateTime PageLastModified = -1.0;
  double FetchSeconds = 0;
  TDateTime LastFeedUpdate = 0;
  TDateTime NextFeedUpdate = 0;
  int32_t ArchiveSize = 0;
  bool SkipFeed = false;
  int16_t FeedRating = 0;
  std::string KeywordSeparator;
  int16_t LastStatusCode = 0;
  std::string LastFeedProcessingError;
  int16_t RtlEnabled = 0;
  std::u16string OpmlDescr;
  std::u16string Description;
  std::string Language;
  int32_t Priority = 0;

 private:
  TDateTime UpdateBase();
  void StoreUpdateInterval(int32_t minutes);
  void StoreUpdateIntervalOnce(int32_t minutes);
};

}  // namespace tidewell
