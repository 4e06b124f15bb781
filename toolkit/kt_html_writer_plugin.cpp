// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_writer_plugin.h"

#include "toolkit/kt_html_parser.h"

namespace kt {
namespace {

bool EndsInDash(std::u16string_view s) { return !s.empty() && s.back() == u'-'; }

}  // namespace

TKtHtmlWriterPlugin::TKtHtmlWriterPlugin() : writer_(std::make_unique<TKtUnicodeHtmlWriter>()) {}

TKtHtmlWriterPlugin::~TKtHtmlWriterPlugin() = default;

TKtHtmlParser& TKtHtmlWriterPlugin::Parser() const {
  if (!HtmlParser()) Error("HtmlParser is not assigned");
  return *HtmlParser();
}

void TKtHtmlWriterPlugin::WriteFramed(const char16_t* open, const char16_t* close) {
  const TKtHtmlParser& parser = Parser();
  writer_->WriteStr(open);
  writer_->WriteBuf(parser.Data.get(), parser.DataLength);
  writer_->WriteStr(close);
}

void TKtHtmlWriterPlugin::WriteEscapedData() {
  const TKtHtmlParser& parser = Parser();
  writer_->WriteText(parser.Data.get(), parser.DataLength);
}

void TKtHtmlWriterPlugin::WriteHtmlTag() { WriteTag(&Parser().HtmlTag(), TKtHtmlPieceKind::pkHtmlTag); }

void TKtHtmlWriterPlugin::HandleCustomTag(bool& show) {
  WriteTag(&Parser().CustomTag(), TKtHtmlPieceKind::pkCustomTag);
}

void TKtHtmlWriterPlugin::HandleSsiTag(bool& show) { WriteTag(&Parser().SsiTag(), TKtHtmlPieceKind::pkSsiTag); }

bool TKtHtmlWriterPlugin::WritesEmptyValues(TKtHtmlPieceKind kind) const {
  switch (kind) {
    case TKtHtmlPieceKind::pkCustomTag: return writer_->EmptyCustomAttribValues;
    case TKtHtmlPieceKind::pkSsiTag: return writer_->EmptySsiAttribValues;
    default: return writer_->EmptyHtmlAttribValues;
  }
}

bool TKtHtmlWriterPlugin::WriteAttribValue(std::u16string_view value, TKtHtmlPieceKind kind) {
  switch (kind) {
    case TKtHtmlPieceKind::pkCustomTag: return writer_->WriteCustomAttribValue(value);
    case TKtHtmlPieceKind::pkSsiTag: return writer_->WriteSsiAttribValue(value);
    default: return writer_->WriteHtmlAttribValue(value);
  }
}

void TKtHtmlWriterPlugin::WriteAttribs(const TKtTag& tag, TKtHtmlPieceKind kind, bool& last_unquoted,
                                       bool& ends_in_dash) {
  for (int32_t i = 0; i < tag.Count(); ++i) {
    const WideString& name = tag.GetString(i);
    const WideString& value = tag.GetSecondString(i);
    writer_->WriteChar(u' ');
    writer_->WriteStr(name);
    last_unquoted = WriteAttribValue(value, kind);
    // Nothing written (an empty value): the tag's text ends in the name.
    const bool wrote_value = !value.empty() || WritesEmptyValues(kind);
    ends_in_dash = wrote_value ? (last_unquoted && EndsInDash(value)) : EndsInDash(name);
  }
}

void TKtHtmlWriterPlugin::WriteTag(const TKtTag* tag, TKtHtmlPieceKind kind) {
  if (!tag) Error("Tag is not assigned");
  const bool ssi = kind == TKtHtmlPieceKind::pkSsiTag;
  writer_->WriteStr(ssi ? u"<!--#" : u"<");
  if (kind == TKtHtmlPieceKind::pkCustomTag) writer_->WriteChar(CustomTagChar);
  if (tag->EndTag == 1) {
    writer_->WriteChar(u'/');
    writer_->WriteStr(tag->TagName);
    writer_->WriteStr(ssi ? u"-->" : u">");
    return;
  }
  writer_->WriteStr(tag->TagName);
  bool last_unquoted = false;
  bool ends_in_dash = EndsInDash(tag->TagName);
  WriteAttribs(*tag, kind, last_unquoted, ends_in_dash);
  const bool has_attribs = tag->Count() > 0;
  if (tag->EndTag == 2) {
    // Keep "/" from being read as part of an unquoted value (or an SSI name).
    const bool space = has_attribs ? last_unquoted : (ssi && EndsInDash(tag->TagName));
    if (space) writer_->WriteChar(u' ');
    writer_->WriteStr(ssi ? u"/-->" : u"/>");
  } else if (ssi) {
    if (ends_in_dash) writer_->WriteChar(u' ');
    writer_->WriteStr(u"-->");
  } else {
    writer_->WriteChar(u'>');
  }
}

}  // namespace kt
