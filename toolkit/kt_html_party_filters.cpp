// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_party_filters.h"

#include "toolkit/kt_key_handlers.h"

namespace kt {

TKtHtmlPartyFilters::TKtHtmlPartyFilters() {
  for (auto& table : tag_words_) table = std::make_unique<TKtCardinalHash>(CardinalKeyHandler());
}

int TKtHtmlPartyFilters::TagIndex(TKtHtmlPieceKind kind) {
  switch (kind) {
    case TKtHtmlPieceKind::pkCustomTag:
      return 0;
    case TKtHtmlPieceKind::pkHtmlTag:
      return 1;
    default:
      return 2;
  }
}

bool TKtHtmlPartyFilters::SetFilter(TKtHtmlPieceKind kind, TKtFilter filter) {
  if (filters_[Index(kind)] == filter) return false;
  filters_[Index(kind)] = filter;
  return true;
}

TKtFilter TKtHtmlPartyFilters::EffectiveTagFilter(TKtHtmlPieceKind kind, uint32_t tagID, bool endTag) const {
  const TKtTagFilter& kind_filter = TagFilter(kind);
  if (const TKtTagFilters* set = TagFilters(kind)) {
    const uint8_t pattern = static_cast<uint8_t>(set->Word(tagID) >> (endTag ? 8 : 0));
    if (pattern != 0) return TagFilterOfPattern(pattern);
  }
  return endTag ? kind_filter.EndTags() : kind_filter.StartTags();
}

void TKtHtmlPartyFilters::ClearMerged() {
  words_.fill(0);
  for (auto& table : tag_words_) table->Clear();
}

uint16_t TKtHtmlPartyFilters::TagWord(TKtHtmlPieceKind kind, uint32_t tagID) const {
  const TKtCardinalHash& table = *tag_words_[TagIndex(kind)];
  if (tagID != 0 && table.Count() > 0) {
    const int32_t index = table.IndexOfKey(&tagID);
    if (index >= 0) return static_cast<uint16_t>(*static_cast<const uint32_t*>(table.GetItem(index)));
  }
  return words_[Index(kind)];
}

void TKtHtmlPartyFilters::SetTagWord(TKtHtmlPieceKind kind, uint32_t tagID, uint16_t word) {
  *static_cast<uint32_t*>(tag_words_[TagIndex(kind)]->InsertKey(&tagID)) = word;
}

uint8_t TKtHtmlPartyFilters::Byte(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID) const {
  if (!IsTagKind(kind)) return static_cast<uint8_t>(words_[Index(kind)]);
  const uint16_t word = TagWord(kind, tagID);
  return static_cast<uint8_t>(endTag ? word >> 8 : word);
}

}  // namespace kt
