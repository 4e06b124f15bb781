// SPDX-License-Identifier: MIT
// What one party of an HTML parser (its caller, or one plugin) asks for,
// and what the parser's filter merge worked out for it. The parser and each
// plugin own one; only the parser's merge writes the merged part.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "toolkit/kt_html_tag_filters.h"
#include "toolkit/kt_html_types.h"
#include "toolkit/kt_typed_containers.h"

namespace kt {

class TKtHtmlPartyFilters {
 public:
  // Merged flags of one side (a piece kind, or start or end tags): they are
  // the tokenizer's route flags, so a caller's byte is its route.
  static constexpr uint8_t kReceives = 1;      // this party receives the piece
  static constexpr uint8_t kSomeoneReads = 2;  // (caller) some party receives it
  static constexpr uint8_t kPluginsRead = 4;   // (caller) some plugin receives it

  TKtHtmlPartyFilters();

  static bool IsTagKind(TKtHtmlPieceKind kind) {
    return kind == TKtHtmlPieceKind::pkHtmlTag || kind == TKtHtmlPieceKind::pkCustomTag ||
           kind == TKtHtmlPieceKind::pkSsiTag;
  }

  // The party's own settings.
  TKtFilter Filter(TKtHtmlPieceKind kind) const { return filters_[Index(kind)]; }
  // Returns whether the filter changed. REQUIRES: not a tag kind.
  bool SetFilter(TKtHtmlPieceKind kind, TKtFilter filter);
  // REQUIRES: a tag kind.
  TKtTagFilter& TagFilter(TKtHtmlPieceKind kind) { return tag_filters_[TagIndex(kind)]; }
  const TKtTagFilter& TagFilter(TKtHtmlPieceKind kind) const { return tag_filters_[TagIndex(kind)]; }
  TKtTagFilters* TagFilters(TKtHtmlPieceKind kind) const { return tag_filter_sets_[TagIndex(kind)]; }
  void SetTagFilters(TKtHtmlPieceKind kind, TKtTagFilters* filters) { tag_filter_sets_[TagIndex(kind)] = filters; }
  // The party's filter for one side of a tag ID: its set's setting when the
  // set has one, else its tag-kind filter.
  TKtFilter EffectiveTagFilter(TKtHtmlPieceKind kind, uint32_t tagID, bool endTag) const;

  // The merged part.
  void ClearMerged();
  uint16_t KindWord(TKtHtmlPieceKind kind) const { return words_[Index(kind)]; }
  void SetKindWord(TKtHtmlPieceKind kind, uint16_t word) { words_[Index(kind)] = word; }
  // The merged word of a tag ID (start byte low, end byte high), or the
  // kind word when no party filters that ID.
  uint16_t TagWord(TKtHtmlPieceKind kind, uint32_t tagID) const;
  void SetTagWord(TKtHtmlPieceKind kind, uint32_t tagID, uint16_t word);
  bool HasTagWords(TKtHtmlPieceKind kind) const { return tag_words_[TagIndex(kind)]->Count() > 0; }
  // The merged byte for a piece (tags: of the side and tag ID).
  uint8_t Byte(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID) const;

 private:
  static int Index(TKtHtmlPieceKind kind) { return static_cast<int>(kind); }
  static int TagIndex(TKtHtmlPieceKind kind);

  std::array<TKtFilter, kHtmlPieceKindCount> filters_{};
  std::array<TKtTagFilter, 3> tag_filters_;
  std::array<TKtTagFilters*, 3> tag_filter_sets_{};
  std::array<uint16_t, kHtmlPieceKindCount> words_{};
  std::array<std::unique_ptr<TKtCardinalHash>, 3> tag_words_;
};

}  // namespace kt
