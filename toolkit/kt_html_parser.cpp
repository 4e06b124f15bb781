// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_parser.h"

#include <algorithm>
#include <set>

#include "toolkit/exception.h"
#include "toolkit/kt_html_parser_plugin.h"

namespace kt {
namespace {

using PartyFilters = TKtHtmlPartyFilters;

bool Receives(TKtFilter filter, bool shown) {
  switch (filter) {
    case TKtFilter::fiShow:
    case TKtFilter::fiShowLocal:
      return true;
    case TKtFilter::fiShowHidden:
      return !shown;
    case TKtFilter::fiShowShown:
      return shown;
    case TKtFilter::fiHide:
      break;
  }
  return false;
}

// The merged bytes of one side for every party (the caller first), given
// each party's effective filter.
std::vector<uint8_t> MergeSide(const std::vector<TKtFilter>& filters) {
  const bool shown = std::find(filters.begin(), filters.end(), TKtFilter::fiShow) != filters.end();
  std::vector<uint8_t> bytes(filters.size(), 0);
  bool someone = false;
  bool plugins = false;
  for (size_t i = 0; i < filters.size(); ++i) {
    if (!Receives(filters[i], shown)) continue;
    bytes[i] = PartyFilters::kReceives;
    someone = true;
    plugins = plugins || i > 0;
  }
  bytes[0] |= (someone ? PartyFilters::kSomeoneReads : 0) | (plugins ? PartyFilters::kPluginsRead : 0);
  return bytes;
}

}  // namespace

TKtHtmlParser::TKtHtmlParser() { MergeFilters(); }

TKtHtmlParser::~TKtHtmlParser() {
  while (!plugins_.empty()) RemovePlugin(plugins_.front());
}

void TKtHtmlParser::AddPluginFirst(TKtHtmlParserPlugin* plugin) { InsertPlugin(plugin, true); }
void TKtHtmlParser::AddPluginLast(TKtHtmlParserPlugin* plugin) { InsertPlugin(plugin, false); }

void TKtHtmlParser::InsertPlugin(TKtHtmlParserPlugin* plugin, bool first) {
  if (!plugin || plugin->parser_ == this) return;
  if (plugin->parser_) plugin->parser_->RemovePlugin(plugin);
  plugins_.insert(first ? plugins_.begin() : plugins_.end(), plugin);
  plugin->parser_ = this;
  plugin->HandleReset();
  MergeFilters();
}

void TKtHtmlParser::RemovePlugin(TKtHtmlParserPlugin* plugin) {
  if (!plugin) return;
  const auto it = std::find(plugins_.begin(), plugins_.end(), plugin);
  if (plugin->parser_ != this || it == plugins_.end()) {
    plugin->Error("Plugin does not belong to this HtmlParser instance");
  }
  plugins_.erase(it);
  plugin->parser_ = nullptr;
  plugin->party_.ClearMerged();
  MergeFilters();
}

// Recomputed from scratch, in this one place, so that the words of the
// caller and of every plugin always come from the same settings.
void TKtHtmlParser::MergeFilters() {
  enabled_.clear();
  std::vector<PartyFilters*> parties = {&party_};
  for (TKtHtmlParserPlugin* plugin : plugins_) {
    plugin->party_.ClearMerged();
    if (!plugin->enabled_) continue;
    enabled_.push_back(plugin);
    parties.push_back(&plugin->party_);
  }
  party_.ClearMerged();
  for (int k = 1; k < kHtmlPieceKindCount; ++k) MergeKind(parties, static_cast<TKtHtmlPieceKind>(k));
  for (TKtHtmlPieceKind kind :
       {TKtHtmlPieceKind::pkCustomTag, TKtHtmlPieceKind::pkHtmlTag, TKtHtmlPieceKind::pkSsiTag}) {
    MergeTagIDs(parties, kind);
  }
}

void TKtHtmlParser::MergeKind(const std::vector<PartyFilters*>& parties, TKtHtmlPieceKind kind) {
  std::vector<TKtFilter> start(parties.size());
  std::vector<TKtFilter> end(parties.size());
  const bool tag = PartyFilters::IsTagKind(kind);
  for (size_t i = 0; i < parties.size(); ++i) {
    start[i] = tag ? parties[i]->TagFilter(kind).StartTags() : parties[i]->Filter(kind);
    end[i] = tag ? parties[i]->TagFilter(kind).EndTags() : TKtFilter::fiHide;
  }
  const std::vector<uint8_t> start_bytes = MergeSide(start);
  const std::vector<uint8_t> end_bytes = tag ? MergeSide(end) : std::vector<uint8_t>(parties.size(), 0);
  for (size_t i = 0; i < parties.size(); ++i) {
    parties[i]->SetKindWord(kind, static_cast<uint16_t>(start_bytes[i] | end_bytes[i] << 8));
  }
}

void TKtHtmlParser::MergeTagIDs(const std::vector<PartyFilters*>& parties, TKtHtmlPieceKind kind) {
  std::set<uint32_t> ids;
  for (const PartyFilters* party : parties) {
    if (const TKtTagFilters* set = party->TagFilters(kind)) {
      for (uint32_t id : set->TagIDs()) ids.insert(id);
    }
  }
  std::vector<TKtFilter> start(parties.size());
  std::vector<TKtFilter> end(parties.size());
  for (uint32_t id : ids) {
    for (size_t i = 0; i < parties.size(); ++i) {
      start[i] = parties[i]->EffectiveTagFilter(kind, id, false);
      end[i] = parties[i]->EffectiveTagFilter(kind, id, true);
    }
    const std::vector<uint8_t> start_bytes = MergeSide(start);
    const std::vector<uint8_t> end_bytes = MergeSide(end);
    for (size_t i = 0; i < parties.size(); ++i) {
      parties[i]->SetTagWord(kind, id, static_cast<uint16_t>(start_bytes[i] | end_bytes[i] << 8));
    }
  }
}

uint32_t TKtHtmlParser::PieceRoute(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID) const {
  // The merged flags are the route flags (see TKtHtmlPartyFilters).
  return party_.Byte(kind, endTag, tagID) & (kRouteShow | kRouteRead | kRoutePlugins);
}

bool TKtHtmlParser::DeliverPiece(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID, bool show) {
  // Indexes, not iterators: a handler may change the chain.
  for (size_t i = 0; i < enabled_.size(); ++i) {
    TKtHtmlParserPlugin* plugin = enabled_[i];
    if (plugin->Receives(kind, endTag, tagID)) plugin->Handle(kind, show);
  }
  return show;
}

void TKtHtmlParser::ResetNotify() {
  for (size_t i = 0; i < plugins_.size(); ++i) plugins_[i]->HandleReset();
}

}  // namespace kt
