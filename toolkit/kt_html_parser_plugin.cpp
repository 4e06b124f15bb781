// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_parser_plugin.h"

#include "toolkit/exception.h"
#include "toolkit/kt_html_parser.h"

namespace kt {

static_assert(TKtHtmlPartyFilters::kReceives == TKtHtmlTokenizer::kRouteShow &&
                  TKtHtmlPartyFilters::kSomeoneReads == TKtHtmlTokenizer::kRouteRead &&
                  TKtHtmlPartyFilters::kPluginsRead == TKtHtmlTokenizer::kRoutePlugins,
              "a caller's merged byte is its route");

TKtHtmlParserPlugin::TKtHtmlParserPlugin() = default;

TKtHtmlParserPlugin::~TKtHtmlParserPlugin() {
  if (parser_) parser_->RemovePlugin(this);
}

void TKtHtmlParserPlugin::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (parser_) parser_->MergeFilters();
}

void TKtHtmlParserPlugin::SetHtmlParser(TKtHtmlParser* parser) {
  if (parser_ == parser) return;
  if (parser_) parser_->RemovePlugin(this);
  if (parser) parser->AddPluginLast(this);
}

void TKtHtmlParserPlugin::FiltersChanged() {
  if (parser_) parser_->MergeFilters();
}

void TKtHtmlParserPlugin::Error(const std::string& message) const {
  throw Exception("Class " + ClassName() + ": " + message);
}

void TKtHtmlParserPlugin::Handle(TKtHtmlPieceKind kind, bool& show) {
  using K = TKtHtmlPieceKind;
  switch (kind) {
    case K::pkASP: return HandleASP(show);
    case K::pkCDataSection: return HandleCDataSection(show);
    case K::pkComment: return HandleComment(show);
    case K::pkCustomTag: return HandleCustomTag(show);
    case K::pkDTD: return HandleDTD(show);
    case K::pkExclamationMarkup: return HandleExclamationMarkup(show);
    case K::pkHtmlPI: return HandleHtmlPI(show);
    case K::pkPHP: return HandlePHP(show);
    case K::pkScript: return HandleScript(show);
    case K::pkSsiTag: return HandleSsiTag(show);
    case K::pkStyle: return HandleStyle(show);
    case K::pkHtmlTag: return HandleHtmlTag(show);
    case K::pkText: return HandleText(show);
    case K::pkTitle: return HandleTitle(show);
    case K::pkXmlPI: return HandleXmlPI(show);
    case K::pkNone: return;
  }
}

}  // namespace kt
