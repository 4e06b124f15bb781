// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_tag_filters.h"

#include <algorithm>

#include "toolkit/kt_key_handlers.h"

namespace kt {
namespace {

constexpr uint8_t kPatterns[] = {0x81, 0x82, 0x84, 0xE8, 0xF0};

}  // namespace

uint8_t TagFilterPattern(TKtFilter filter) { return kPatterns[static_cast<int>(filter)]; }

TKtFilter TagFilterOfPattern(uint8_t pattern) {
  for (int i = 0; i < 5; ++i) {
    if (kPatterns[i] == pattern) return static_cast<TKtFilter>(i);
  }
  return TKtFilter::fiHide;
}

void TKtTagFilter::SetStartTags(TKtFilter filter) { Set(filter, end_tags_); }
void TKtTagFilter::SetEndTags(TKtFilter filter) { Set(start_tags_, filter); }

void TKtTagFilter::Set(TKtFilter start, TKtFilter end) {
  if (start == start_tags_ && end == end_tags_) return;
  start_tags_ = start;
  end_tags_ = end;
  if (OnChange) OnChange();
}

TKtTagFilters::TKtTagFilters() : table_(CardinalKeyHandler()) {}

TKtTagFilters::~TKtTagFilters() {
  // An owner may leave while it is told; work on a copy.
  const std::vector<Owner> owners = owners_;
  for (const Owner& entry : owners) entry.owner->TagFiltersDestroyed(*this);
}

void TKtTagFilters::AddOwner(TKtTagFiltersOwner* owner) {
  auto it = std::find_if(owners_.begin(), owners_.end(), [owner](const Owner& o) { return o.owner == owner; });
  if (it != owners_.end()) {
    ++it->uses;
  } else {
    owners_.insert(owners_.begin(), Owner{owner, 1});
  }
}

void TKtTagFilters::RemoveOwner(TKtTagFiltersOwner* owner) {
  auto it = std::find_if(owners_.begin(), owners_.end(), [owner](const Owner& o) { return o.owner == owner; });
  if (it == owners_.end()) return;
  if (--it->uses <= 0) owners_.erase(it);
}

void TKtTagFilters::SetStartTagFilter(uint32_t tagID, TKtFilter filter) { SetByte(tagID, filter, 0); }
void TKtTagFilters::SetEndTagFilter(uint32_t tagID, TKtFilter filter) { SetByte(tagID, filter, 8); }

void TKtTagFilters::SetTagFilters(std::span<const uint32_t> tagIDs, TKtFilter filter) {
  for (uint32_t id : tagIDs) SetStartTagFilter(id, filter);
}

void TKtTagFilters::SetByte(uint32_t tagID, TKtFilter filter, int shift) {
  if (tagID == 0) return;
  auto* word = static_cast<uint32_t*>(table_.InsertKey(&tagID));
  const uint32_t pattern = static_cast<uint32_t>(TagFilterPattern(filter)) << shift;
  if ((*word & (0xFFu << shift)) == pattern) return;
  *word = (*word & ~(0xFFu << shift)) | pattern;
  const std::vector<Owner> owners = owners_;
  for (const Owner& entry : owners) entry.owner->TagFilterChanged(*this, tagID);
}

uint16_t TKtTagFilters::Word(uint32_t tagID) const {
  const int32_t index = table_.IndexOfKey(&tagID);
  return index < 0 ? 0 : static_cast<uint16_t>(*static_cast<const uint32_t*>(table_.GetItem(index)));
}

std::vector<uint32_t> TKtTagFilters::TagIDs() const {
  std::vector<uint32_t> ids;
  for (int32_t i = 0; i < table_.Slots(); ++i) {
    if (!table_.IsDeleted(i)) ids.push_back(*static_cast<const uint32_t*>(table_.GetKey(i)));
  }
  return ids;
}

}  // namespace kt
