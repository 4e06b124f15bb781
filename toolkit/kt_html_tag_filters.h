// SPDX-License-Identifier: MIT
// Tag filters: which start and end tags a party (the parser's caller or one
// plugin) receives. TKtTagFilter holds a party's setting for a whole tag
// kind; TKtTagFilters is a table of settings per tag ID that several
// parsers and plugins can use at once, each registered as an owner that is
// told when a setting changes and when the table goes away.
// Used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <vector>

#include "toolkit/kt_html_types.h"
#include "toolkit/kt_typed_containers.h"

namespace kt {

class TKtTagFilters;

// One party's filter for start tags and for end tags of one tag kind.
class TKtTagFilter {
 public:
  TKtFilter StartTags() const { return start_tags_; }
  TKtFilter EndTags() const { return end_tags_; }
  // Each setter calls OnChange once when something changed.
  void SetStartTags(TKtFilter filter);
  void SetEndTags(TKtFilter filter);
  void SetStartAndEndTags(TKtFilter filter) { Set(filter, filter); }
  void Assign(const TKtTagFilter& source) { Set(source.start_tags_, source.end_tags_); }

  // Called after any change; set by the filter's owner.
  std::function<void()> OnChange;

 private:
  void Set(TKtFilter start, TKtFilter end);

  TKtFilter start_tags_ = TKtFilter::fiHide;
  TKtFilter end_tags_ = TKtFilter::fiHide;
};

// Told by a TKtTagFilters set about its changes.
class TKtTagFiltersOwner {
 public:
  virtual ~TKtTagFiltersOwner() = default;
  // The set is being destroyed: drop every reference to it.
  virtual void TagFiltersDestroyed(TKtTagFilters& filters) = 0;
  // The setting of one tag ID changed.
  virtual void TagFilterChanged(TKtTagFilters& filters, uint32_t tagID) = 0;
};

// Per tag ID, one 16-bit word: the start-tag setting in the low byte and the
// end-tag setting in the next; a byte is 0 (no setting) or the pattern of
// its TKtFilter (TagFilterPattern).
class TKtTagFilters {
 public:
  TKtTagFilters();
  // Tells every owner that the set goes away.
  ~TKtTagFilters();
  TKtTagFilters(const TKtTagFilters&) = delete;
  TKtTagFilters& operator=(const TKtTagFilters&) = delete;

  // Raises the owner's use count (a new owner starts at 1).
  void AddOwner(TKtTagFiltersOwner* owner);
  // Lowers it and forgets the owner at 0; an unknown owner is ignored.
  void RemoveOwner(TKtTagFiltersOwner* owner);

  // Sets one side of a tag ID's word (tag ID 0 is ignored) and notifies the
  // owners when the byte changed.
  void SetStartTagFilter(uint32_t tagID, TKtFilter filter);
  void SetEndTagFilter(uint32_t tagID, TKtFilter filter);
  // SetStartTagFilter for each ID in order.
  void SetTagFilters(std::span<const uint32_t> tagIDs, TKtFilter filter);
  void SetTagFilters(std::initializer_list<uint32_t> tagIDs, TKtFilter filter) {
    SetTagFilters(std::span<const uint32_t>(tagIDs.begin(), tagIDs.size()), filter);
  }

  // The word of a tag ID, 0 when the set has no setting for it.
  uint16_t Word(uint32_t tagID) const;
  // Every tag ID that has an entry.
  std::vector<uint32_t> TagIDs() const;

 private:
  void SetByte(uint32_t tagID, TKtFilter filter, int shift);

  struct Owner {
    TKtTagFiltersOwner* owner;
    int32_t uses;
  };
  TKtCardinalHash table_;
  std::vector<Owner> owners_;
};

// The table byte of a filter: its delivery flags with the "set" bit 0x80
// (fiHide 0x81, fiShowHidden 0x82, fiShowShown 0x84, fiShowLocal 0xE8,
// fiShow 0xF0).
uint8_t TagFilterPattern(TKtFilter filter);
// The filter of a table byte; REQUIRES: the byte is a pattern (not 0).
TKtFilter TagFilterOfPattern(uint8_t pattern);

}  // namespace kt
