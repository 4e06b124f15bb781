// SPDX-License-Identifier: MIT
// A parser plugin that writes every piece it receives back out as HTML
// through its own TKtUnicodeHtmlWriter: text re-escaped, tags rebuilt from
// their parsed form (attribute values as they are at the time of writing),
// everything else as read. Pieces it does not receive are dropped, so with
// the parser's filters it turns the parser into a filter-and-rewrite pipe.
// Handlers and WriteHtmlTag raise kt::Exception "Class TKtHtmlWriterPlugin:
// HtmlParser is not assigned" when the plugin belongs to no parser.
#pragma once

#include <memory>

#include "toolkit/kt_html_parser_plugin.h"
#include "toolkit/kt_unicode_html_writer.h"

namespace kt {

class TKtTag;

class TKtHtmlWriterPlugin : public TKtHtmlParserPlugin {
 public:
  TKtHtmlWriterPlugin();
  ~TKtHtmlWriterPlugin() override;
  std::string ClassName() const override { return "TKtHtmlWriterPlugin"; }

  // Written after "<" in custom tags.
  WideChar CustomTagChar = u'#';
  // The owned writer; the user sets its output (SetStream) and empties it
  // (Flush).
  TKtUnicodeHtmlWriter& Writer() { return *writer_; }
  // The writer's escaping and quoting settings, read and written here too.
  TKtPredefinedEntitiesSet PredefinedEntities() const { return writer_->PredefinedEntities; }
  void SetPredefinedEntities(TKtPredefinedEntitiesSet set) { writer_->PredefinedEntities = set; }
  TKtQuoteTags QuoteHtmlTags() const { return writer_->QuoteHtmlTags; }
  void SetQuoteHtmlTags(TKtQuoteTags quote) { writer_->QuoteHtmlTags = quote; }
  TKtQuoteTags QuoteCustomTags() const { return writer_->QuoteCustomTags; }
  void SetQuoteCustomTags(TKtQuoteTags quote) { writer_->QuoteCustomTags = quote; }
  TKtQuoteTags QuoteSsiTags() const { return writer_->QuoteSsiTags; }
  void SetQuoteSsiTags(TKtQuoteTags quote) { writer_->QuoteSsiTags = quote; }
  bool EmptyHtmlAttribValues() const { return writer_->EmptyHtmlAttribValues; }
  void SetEmptyHtmlAttribValues(bool write) { writer_->EmptyHtmlAttribValues = write; }
  bool EmptyCustomAttribValues() const { return writer_->EmptyCustomAttribValues; }
  void SetEmptyCustomAttribValues(bool write) { writer_->EmptyCustomAttribValues = write; }
  bool EmptySsiAttribValues() const { return writer_->EmptySsiAttribValues; }
  void SetEmptySsiAttribValues(bool write) { writer_->EmptySsiAttribValues = write; }

  // Writes the parser's current HTML tag (one the caller took out of
  // ReadNextPiece and may have changed).
  void WriteHtmlTag();
  // Writes a tag of the kind (pkHtmlTag, pkCustomTag or pkSsiTag); a null
  // tag raises "Tag is not assigned".
  void WriteTag(const TKtTag* tag, TKtHtmlPieceKind kind);

  void HandleASP(bool& show) override { WriteFramed(u"<%", u"%>"); }
  void HandleCDataSection(bool& show) override { WriteFramed(u"<![CDATA[", u"]]>"); }
  void HandleComment(bool& show) override { WriteFramed(u"<!--", u"-->"); }
  void HandleCustomTag(bool& show) override;
  void HandleDTD(bool& show) override { WriteFramed(u"<!DOCTYPE", u">"); }
  void HandleExclamationMarkup(bool& show) override { WriteFramed(u"<!", u">"); }
  void HandleHtmlPI(bool& show) override { WriteFramed(u"<?", u">"); }
  void HandlePHP(bool& show) override { WriteFramed(u"<?php", u"?>"); }
  void HandleScript(bool& show) override { WriteFramed(u"", u""); }
  void HandleSsiTag(bool& show) override;
  void HandleStyle(bool& show) override { WriteFramed(u"", u""); }
  void HandleHtmlTag(bool& show) override { WriteHtmlTag(); }
  void HandleText(bool& show) override { WriteEscapedData(); }
  void HandleTitle(bool& show) override { WriteEscapedData(); }
  void HandleXmlPI(bool& show) override { WriteFramed(u"<?xml", u"?>"); }

 private:
  TKtHtmlParser& Parser() const;
  void WriteFramed(const char16_t* open, const char16_t* close);
  void WriteEscapedData();
  // Writes the attributes; returns whether the last value went out
  // unquoted and whether the written attributes end in "-".
  void WriteAttribs(const TKtTag& tag, TKtHtmlPieceKind kind, bool& last_unquoted, bool& ends_in_dash);
  bool WriteAttribValue(std::u16string_view value, TKtHtmlPieceKind kind);
  bool WritesEmptyValues(TKtHtmlPieceKind kind) const;

  std::unique_ptr<TKtUnicodeHtmlWriter> writer_;
};

}  // namespace kt
