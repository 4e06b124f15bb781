// SPDX-License-Identifier: MIT
#include "engine/settings/tidewell_globvars.h"

#include <mutex>
#include <shared_mutex>

namespace tidewell {

// Never freed: a worker that outlived the engine's stop time-out is left
// running and may still read the settings while the process exits.
TtidewellGlobalVars* GlobalVars = new TtidewellGlobalVars();

std::string TtidewellGlobalVars::GetCacheDirectory() const {
  std::shared_lock lock(lock_);
  return cache_directory_;
}

int32_t TtidewellGlobalVars::GetSizeLimit() const {
  std::shared_lock lock(lock_);
  return size_limit_;
}

bool TtidewellGlobalVars::GetDistinctSmartFeeds() const {
  std::shared_lock lock(lock_);
  return distinct_smart_feeds_;
}

bool TtidewellGlobalVars::GetSkipCustomFields() const {
  std::shared_lock lock(lock_);
  return skip_custom_fields_;
}

bool TtidewellGlobalVars::GetSkipCategoryKeywords() const {
  std::shared_lock lock(lock_);
  return skip_category_keywords_;
}

bool TtidewellGlobalVars::GetCommentFeedsEnabled() const {
  std::shared_lock lock(lock_);
  return comment_feeds_enabled_;
}

int32_t TtidewellGlobalVars::GetSecondsSetting() const {
  std::shared_lock lock(lock_);
  return seconds_setting_;
}

void TtidewellGlobalVars::SetDistinctSmartFeeds(bool value) {
  std::unique_lock lock(lock_);
  distinct_smart_feeds_ = value;
}

void TtidewellGlobalVars::TEST_SetSkipCustomFields(bool value) {
  std::unique_lock lock(lock_);
  skip_custom_fields_ = value;
}

void TtidewellGlobalVars::TEST_SetSkipCategoryKeywords(bool value) {
  std::unique_lock lock(lock_);
  skip_category_keywords_ = value;
}

void TtidewellGlobalVars::TEST_SetCommentFeedsEnabled(bool value) {
  std::unique_lock lock(lock_);
  comment_feeds_enabled_ = value;
}

}  // namespace tidewell
