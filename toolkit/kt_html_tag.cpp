// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_tag.h"

#include "toolkit/kt_html_tokenizer.h"
#include "toolkit/kt_item_handlers.h"
#include "toolkit/kt_unicode_encodings.h"
#include "toolkit/kt_utils.h"

namespace kt {
namespace {

bool IsWhiteSpaceOrGt(WideChar c) { return c < 0x21 || c == u'>'; }

size_t CountOf(std::u16string_view value, WideChar c) {
  size_t n = 0;
  for (WideChar v : value) n += v == c;
  return n;
}

// Reads only the HTML tags of a text, storing their attributes.
class TagStringReader : public TKtHtmlTokenizer {
 protected:
  uint32_t PieceRoute(TKtHtmlPieceKind kind, bool, uint32_t) const override {
    return kind == TKtHtmlPieceKind::pkHtmlTag ? kRouteShow | kRouteRead : 0;
  }
};

}  // namespace

bool AttribValueGoesUnquoted(std::u16string_view value, TKtQuoteTags quote) {
  switch (quote) {
    case TKtQuoteTags::qtSpecialChars:
      return StrAllCharsW(value, IsNameChar);
    case TKtQuoteTags::qtWhiteSpace:
      return value.empty() ||
             (!StrAnyCharW(value, IsWhiteSpaceOrGt) && value.front() != u'"' && value.front() != u'\'');
    case TKtQuoteTags::qtAlways:
      break;
  }
  return false;
}

WideChar AttribQuoteChar(std::u16string_view value, bool& escape_inside) {
  const size_t quotes = CountOf(value, u'"');
  const size_t apostrophes = CountOf(value, u'\'');
  escape_inside = quotes > 0 && apostrophes > 0;
  if (quotes == 0) return u'"';
  if (apostrophes == 0) return u'\'';
  return quotes > apostrophes ? u'\'' : u'"';
}

TKtTag::TKtTag(const char* class_name)
    : TKtWideString2CardinalVector(class_name, WideString2CardinalItemHandler()) {}

void TKtTag::Clear() {
  TKtWideString2CardinalVector::Clear();
  TagID = 0;
  TagName.clear();
  EndTag = 0;
}

void TKtTag::Assign(const TKtContainer& source) {
  TKtWideString2CardinalVector::Assign(source);
  if (const auto* tag = dynamic_cast<const TKtTag*>(&source)) {
    TagID = tag->TagID;
    TagName = tag->TagName;
    EndTag = tag->EndTag;
  }
}

void TKtTag::ReadFromStream(TKtBinaryReader& reader, TKtStreamOptions options, void* data) {
  TKtWideString2CardinalVector::ReadFromStream(reader, options, data);
  TagName = reader.ReadWideStr();
  EndTag = reader.ReadByte();
  TagID = reader.ReadCardinal();
}

void TKtTag::WriteToStream(TKtBinaryWriter& writer, TKtStreamOptions options, void* data) {
  TKtWideString2CardinalVector::WriteToStream(writer, options, data);
  writer.WriteWideStr(TagName);
  writer.WriteByte(EndTag);
  writer.WriteCardinal(TagID);
}

bool TKtTag::SetAttribValue(uint32_t attribID, std::u16string_view name, std::u16string_view value) {
  if (TKtWideString2CardinalItem* item = FindCardinal(attribID)) {
    item->second.Assign(value);
    return true;
  }
  AddItem(name, value, attribID);
  return false;
}

void TKtTag::ParseTagString(const WideString& s) {
  TagStringReader reader;
  reader.SetReadMethods(ReadMethods_UTF_16LE);
  reader.SourceWideStr(s);
  if (reader.ReadNextPiece()) {
    Assign(reader.HtmlTag());
  } else {
    Clear();
  }
}

bool TKtTag::AppendQuoted(std::u16string_view value, WideString& buffer, int& used, TKtQuoteTags quote,
                          bool keep_amp_before_brace) {
  if (value.empty()) return false;
  AppendCharW(u'=', buffer, used);
  if (AttribValueGoesUnquoted(value, quote)) {
    AppendStrW(value, buffer, used);
    return true;
  }
  bool escape_inside = false;
  const WideChar q = AttribQuoteChar(value, escape_inside);
  AppendCharW(q, buffer, used);
  if (!escape_inside) {
    AppendStrW(value, buffer, used);
  } else {
    for (size_t i = 0; i < value.size(); ++i) {
      const WideChar c = value[i];
      if (c == q) {
        AppendStrW(q == u'"' ? u"&quot;" : u"&apos;", buffer, used);
      } else if (c == u'&' && !(keep_amp_before_brace && i + 1 < value.size() && value[i + 1] == u'{')) {
        AppendStrW(u"&amp;", buffer, used);
      } else {
        AppendCharW(c, buffer, used);
      }
    }
  }
  AppendCharW(q, buffer, used);
  return false;
}

bool TKtHtmlTag::AppendAttribValue(std::u16string_view value, WideString& buffer, int& used,
                                   TKtQuoteTags quote) const {
  return AppendQuoted(value, buffer, used, quote, true);
}

bool TKtCustomTag::AppendAttribValue(std::u16string_view value, WideString& buffer, int& used,
                                     TKtQuoteTags quote) const {
  return AppendQuoted(value, buffer, used, quote, false);
}

bool TKtSsiTag::AppendAttribValue(std::u16string_view value, WideString& buffer, int& used,
                                  TKtQuoteTags quote) const {
  return AppendQuoted(value, buffer, used, quote, false);
}

std::unique_ptr<TKtHtmlTag> NewHtmlTag() { return std::make_unique<TKtHtmlTag>(); }
std::unique_ptr<TKtCustomTag> NewCustomTag() { return std::make_unique<TKtCustomTag>(); }
std::unique_ptr<TKtSsiTag> NewSsiTag() { return std::make_unique<TKtSsiTag>(); }

}  // namespace kt
