// SPDX-License-Identifier: MIT
// The process-wide switches and limits of the engine. The main thread and
// the workers read them at any time: every getter takes the shared side of
// the lock, the one setter the exclusive side, and none calls out while it
// holds the lock; a waiting writer goes ahead of later readers. All settings
// but "distinct_smartfeeds", which the configuration copies in at load, keep
// their built-in values.
#pragma once

#include <cstdint>
#include <string>

#include "platform/writer_preferring_mutex.h"

namespace tidewell {

class TtidewellGlobalVars {
 public:
  TtidewellGlobalVars() = default;
  TtidewellGlobalVars(const TtidewellGlobalVars&) = delete;
  TtidewellGlobalVars& operator=(const TtidewellGlobalVars&) = delete;

  // The folder below which the file cache keeps one folder per host; empty.
  std::string GetCacheDirectory() const;
  // The byte quota of raw-data transfers: 5242880.
  int32_t GetSizeLimit() const;
  // Whether filtered article lists leave out duplicates; false until a
  // configuration turns it on.
  bool GetDistinctSmartFeeds() const;
  // True: custom fields of feeds and articles are not stored.
  bool GetSkipCustomFields() const;
  // False: category tags become article keywords.
  bool GetSkipCategoryKeywords() const;
  // False: comment feeds are skipped.
  bool GetCommentFeedsEnabled() const;
  // 0: the update timer ticks every 60 - 0 seconds.
  int32_t GetSecondsSetting() const;

  void SetDistinctSmartFeeds(bool value);

  // Test hooks: the engine never changes these.
  void TEST_SetSkipCustomFields(bool value);
  void TEST_SetSkipCategoryKeywords(bool value);
  void TEST_SetCommentFeedsEnabled(bool value);

 private:
  mutable platform::WriterPreferringMutex lock_;
  // State below is protected by lock_.
  std::string cache_directory_;
  int32_t size_limit_ = 5242880;
  bool distinct_smart_feeds_ = false;
  bool skip_custom_fields_ = true;
  bool skip_category_keywords_ = false;
  bool comment_feeds_enabled_ = false;
  int32_t seconds_setting_ = 0;
};

// The process's one instance, made before main runs. Callers must cope with
// its absence (null): it is not there while other units' start-up code runs
// before this unit's, and a test may take it away.
extern TtidewellGlobalVars* GlobalVars;

}  // namespace tidewell
