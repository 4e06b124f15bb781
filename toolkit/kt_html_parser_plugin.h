// SPDX-License-Identifier: MIT
// The base of everything that hooks into a TKtHtmlParser: the plugin's own
// filters (which pieces it receives), its place in the parser's chain, and
// one handler per piece kind, called for each piece the plugin receives.
// Handlers read the piece through HtmlParser() (PieceKind, GetData, the
// current tags) and may set Show, which says whether ReadNextPiece returns
// the piece to the caller. The base handlers do nothing.
#pragma once

#include <string>

#include "toolkit/kt_html_filter_properties.h"

namespace kt {

class TKtHtmlParser;

class TKtHtmlParserPlugin : public TKtHtmlFilterProperties {
 public:
  TKtHtmlParserPlugin();
  // Removes the plugin from its parser and leaves its sets.
  ~TKtHtmlParserPlugin() override;
  virtual std::string ClassName() const { return "TKtHtmlParserPlugin"; }

  bool Enabled() const { return enabled_; }
  // A disabled plugin stays in the chain but receives nothing.
  void SetEnabled(bool enabled);
  // The parser the plugin belongs to, or null. Setting removes it from the
  // old parser and adds it last to the new one.
  TKtHtmlParser* HtmlParser() const { return parser_; }
  void SetHtmlParser(TKtHtmlParser* parser);

  // Whether the merged filters let this plugin receive the piece.
  bool Receives(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID) const {
    return (party_.Byte(kind, endTag, tagID) & TKtHtmlPartyFilters::kReceives) != 0;
  }

  virtual void HandleASP(bool& show) {}
  virtual void HandleCDataSection(bool& show) {}
  virtual void HandleComment(bool& show) {}
  virtual void HandleCustomTag(bool& show) {}
  virtual void HandleDTD(bool& show) {}
  virtual void HandleExclamationMarkup(bool& show) {}
  virtual void HandleHtmlPI(bool& show) {}
  virtual void HandlePHP(bool& show) {}
  virtual void HandleScript(bool& show) {}
  virtual void HandleSsiTag(bool& show) {}
  virtual void HandleStyle(bool& show) {}
  virtual void HandleHtmlTag(bool& show) {}
  virtual void HandleText(bool& show) {}
  virtual void HandleTitle(bool& show) {}
  virtual void HandleXmlPI(bool& show) {}
  // When the plugin is added to a parser and on every Reset of it.
  virtual void HandleReset() {}

  // Calls the handler of the kind.
  void Handle(TKtHtmlPieceKind kind, bool& show);

 protected:
  void FiltersChanged() override;
  // Raises kt::Exception "Class <class>: <message>".
  [[noreturn]] void Error(const std::string& message) const;

 private:
  friend class TKtHtmlParser;

  TKtHtmlParser* parser_ = nullptr;
  bool enabled_ = true;
};

}  // namespace kt
