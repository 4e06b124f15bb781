// SPDX-License-Identifier: MIT
#include "toolkit/kt_unicode_html_writer.h"

#include "toolkit/kt_html_tag.h"

namespace kt {
namespace {

constexpr WideChar kReplacementChar = 0xFFFD;

const char16_t* PredefinedEntity(WideChar c, TKtPredefinedEntitiesSet set) {
  switch (c) {
    case u'<': return (set & peLt) ? u"&lt;" : nullptr;
    case u'>': return (set & peGt) ? u"&gt;" : nullptr;
    case u'&': return (set & peAmp) ? u"&amp;" : nullptr;
    case u'"': return (set & peQuot) ? u"&quot;" : nullptr;
    case u'\'': return (set & peApos) ? u"&apos;" : nullptr;
    case 0x00A0: return (set & peNbsp) ? u"&nbsp;" : nullptr;
    default: return nullptr;
  }
}

bool IsHighSurrogate(WideChar c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(WideChar c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

void TKtUnicodeHtmlWriter::WriteText(const WideChar* text, uint32_t count) {
  for (uint32_t i = 0; i < count;) {
    const WideChar c = text[i];
    if (const char16_t* entity = PredefinedEntity(c, PredefinedEntities)) {
      WriteStr(entity);
      ++i;
    } else if (c == kReplacementChar) {
      WriteInvalidChar(c);
      ++i;
    } else {
      i += WriteEncodedOrReference(text + i, count - i);
    }
  }
}

uint32_t TKtUnicodeHtmlWriter::WriteEncodedOrReference(const WideChar* text, uint32_t left) {
  const WideChar c = text[0];
  if (WriteMethods.WriteChar(*this, c)) return 1;
  if (IsHighSurrogate(c) && left > 1 && IsLowSurrogate(text[1]) && PendingSurrogate == 0) {
    WriteReference(0x10000 + ((c - 0xD800u) << 10) + (text[1] - 0xDC00u));
    return 2;
  }
  WriteReference(c);
  return 1;
}

void TKtUnicodeHtmlWriter::WriteReference(uint32_t code) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  WriteStr(u"&#x");
  int shift = 20;
  while (shift > 0 && (code >> shift) == 0) shift -= 4;
  for (; shift >= 0; shift -= 4) WriteChar(static_cast<WideChar>(kDigits[(code >> shift) & 0xF]));
  WriteChar(u';');
}

bool TKtUnicodeHtmlWriter::WriteHtmlAttribValue(std::u16string_view value) {
  return WriteAttribValue(value, QuoteHtmlTags, EmptyHtmlAttribValues, true);
}

bool TKtUnicodeHtmlWriter::WriteCustomAttribValue(std::u16string_view value) {
  return WriteAttribValue(value, QuoteCustomTags, EmptyCustomAttribValues, false);
}

bool TKtUnicodeHtmlWriter::WriteSsiAttribValue(std::u16string_view value) {
  return WriteAttribValue(value, QuoteSsiTags, EmptySsiAttribValues, false);
}

bool TKtUnicodeHtmlWriter::WriteAttribValue(std::u16string_view value, TKtQuoteTags quote, bool write_empty,
                                            bool html) {
  if (value.empty() && !write_empty) return false;
  WriteChar(u'=');
  const bool unquoted = !value.empty() && AttribValueGoesUnquoted(value, quote);
  bool escape_inside = false;
  const WideChar q = unquoted ? 0 : AttribQuoteChar(value, escape_inside);
  if (!unquoted) WriteChar(q);
  for (uint32_t i = 0; i < value.size();) {
    const WideChar c = value[i];
    if (c == u'&' && !(html && i + 1 < value.size() && value[i + 1] == u'{')) {
      WriteStr(u"&amp;");
      ++i;
    } else if (!unquoted && c == q) {
      WriteStr(q == u'"' ? u"&quot;" : u"&apos;");
      ++i;
    } else if (c == kReplacementChar) {
      WriteInvalidChar(c);
      ++i;
    } else {
      i += WriteEncodedOrReference(value.data() + i, static_cast<uint32_t>(value.size() - i));
    }
  }
  if (!unquoted) WriteChar(q);
  return unquoted;
}

}  // namespace kt
