// SPDX-License-Identifier: MIT
// The Unicode writer with the escaping HTML output needs: text with the
// predefined entities, attribute values quoted per tag kind, and characters
// the output character set cannot hold as hexadecimal character references.
// Used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/kt_html_types.h"
#include "toolkit/kt_unicode.h"

namespace kt {

// Characters that text is written with as entities (a bit set).
using TKtPredefinedEntitiesSet = uint32_t;
constexpr TKtPredefinedEntitiesSet peLt = 1;
constexpr TKtPredefinedEntitiesSet peGt = 2;
constexpr TKtPredefinedEntitiesSet peAmp = 4;
constexpr TKtPredefinedEntitiesSet peQuot = 8;
constexpr TKtPredefinedEntitiesSet peApos = 16;
constexpr TKtPredefinedEntitiesSet peNbsp = 32;

class TKtUnicodeHtmlWriter : public TKtUnicodeWriter {
 public:
  std::string ClassName() const override { return "TKtUnicodeHtmlWriter"; }

  TKtPredefinedEntitiesSet PredefinedEntities = peLt | peGt | peAmp | peQuot;
  TKtQuoteTags QuoteCustomTags = TKtQuoteTags::qtSpecialChars;
  TKtQuoteTags QuoteHtmlTags = TKtQuoteTags::qtSpecialChars;
  TKtQuoteTags QuoteSsiTags = TKtQuoteTags::qtSpecialChars;
  // When true an empty value is still written, as ="" (a bare "=" would
  // take the next attribute as its value).
  bool EmptyCustomAttribValues = false;
  bool EmptyHtmlAttribValues = false;
  bool EmptySsiAttribValues = false;

  // Text with the predefined entities; characters the character set cannot
  // hold become "&#x...;", U+FFFD goes to the invalid-character fallback.
  void WriteText(const WideChar* text, uint32_t count);
  void WriteText(std::u16string_view text) { WriteText(text.data(), static_cast<uint32_t>(text.size())); }

  // "=" and the value by the quoting rules of the tag kind, or nothing for
  // an empty value unless the kind's Empty...AttribValues is set. True when
  // the value went out unquoted.
  bool WriteHtmlAttribValue(std::u16string_view value);
  bool WriteCustomAttribValue(std::u16string_view value);
  bool WriteSsiAttribValue(std::u16string_view value);

 private:
  bool WriteAttribValue(std::u16string_view value, TKtQuoteTags quote, bool write_empty, bool html);
  // Through the character set, else as a hexadecimal reference; a
  // surrogate pair the set cannot hold becomes one reference. Returns the
  // characters used (1 or 2).
  uint32_t WriteEncodedOrReference(const WideChar* text, uint32_t left);
  void WriteReference(uint32_t code);
};

}  // namespace kt
