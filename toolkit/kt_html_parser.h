// SPDX-License-Identifier: MIT
// The HTML pull parser: ReadNextPiece returns the pieces its caller's
// filters show, hands the pieces that plugins ask for to their handlers, and
// passes the rest with the skipping readers, storing nothing. All filters
// (the caller's and those of every enabled plugin, per piece kind and per
// tag ID) are merged in advance whenever one of them changes, so reading a
// piece costs one flag test, and the plugin chain is walked only for pieces
// some plugin receives.
//
// The parser does not own its plugins or the TKtTagFilters sets it joins.
// A parser and its plugins are used by one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "toolkit/kt_html_filter_properties.h"
#include "toolkit/kt_html_tokenizer.h"

namespace kt {

class TKtHtmlParserPlugin;

class TKtHtmlParser : public TKtHtmlTokenizer, public TKtHtmlFilterProperties {
 public:
  TKtHtmlParser();
  // Removes every plugin (in chain order) and leaves the joined sets.
  ~TKtHtmlParser() override;
  std::string ClassName() const override { return "TKtHtmlParser"; }

  // Add a plugin first or last in the chain, taking it from the parser it
  // belongs to; nothing for null or a plugin already here. The plugin's
  // HandleReset is called.
  void AddPluginFirst(TKtHtmlParserPlugin* plugin);
  void AddPluginLast(TKtHtmlParserPlugin* plugin);
  // Nothing for null; a plugin of another parser (or of none) raises
  // kt::Exception "Class <plugin class>: Plugin does not belong to this
  // HtmlParser instance" and changes nothing.
  void RemovePlugin(TKtHtmlParserPlugin* plugin);
  // Plugins in the chain, enabled or not.
  int PluginCount() const { return static_cast<int>(plugins_.size()); }
  TKtHtmlParserPlugin* Plugin(int index) const { return plugins_[index]; }

  // Merges every filter of the caller and of the enabled plugins anew.
  // Runs by itself after each change; public for the plugins.
  void MergeFilters();

 protected:
  uint32_t PieceRoute(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID) const override;
  bool TagRoutesExist(TKtHtmlPieceKind kind) const override { return party_.HasTagWords(kind); }
  bool DeliverPiece(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID, bool show) override;
  void ResetNotify() override;
  void FiltersChanged() override { MergeFilters(); }

 private:
  void InsertPlugin(TKtHtmlParserPlugin* plugin, bool first);
  void MergeKind(const std::vector<TKtHtmlPartyFilters*>& parties, TKtHtmlPieceKind kind);
  void MergeTagIDs(const std::vector<TKtHtmlPartyFilters*>& parties, TKtHtmlPieceKind kind);

  std::vector<TKtHtmlParserPlugin*> plugins_;
  // The enabled plugins in chain order; rebuilt by every merge.
  std::vector<TKtHtmlParserPlugin*> enabled_;
};

}  // namespace kt
