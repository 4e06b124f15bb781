// SPDX-License-Identifier: MIT
// A tag read from markup: its name, element ID, start/end/empty-element
// flag and its attributes as (name, value, attribute ID) items in document
// order, duplicates kept. The parser keeps one tag object per tag kind and
// refills it for every tag; callers read and replace attribute values by ID.
// Used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "toolkit/kt_html_types.h"
#include "toolkit/kt_typed_containers.h"

namespace kt {

class TKtTag : public TKtWideString2CardinalVector {
 public:
  // The element ID of TagName (0 when the name is not in the element table).
  uint32_t TagID = 0;
  // The name as written in the document.
  WideString TagName;
  // 0 start tag, 1 end tag, 2 empty-element tag ("/>").
  uint8_t EndTag = 0;

  // Removes the attributes and empties TagID, TagName and EndTag.
  void Clear() override;
  // Removes the attributes only, keeping the room they took.
  void ClearAttribs() { SetCount(0); }
  // From another tag: attributes, TagID, TagName and EndTag; from any other
  // container the vector's assignment.
  void Assign(const TKtContainer& source) override;
  // The vector's items, then TagName, EndTag and TagID as typed values.
  void ReadFromStream(TKtBinaryReader& reader, TKtStreamOptions options, void* data) override;
  void WriteToStream(TKtBinaryWriter& writer, TKtStreamOptions options, void* data) override;

  // Sets the value of the first attribute with AttribID and returns true;
  // without one, appends (name, value, attribID) and returns false.
  bool SetAttribValue(uint32_t attribID, std::u16string_view name, std::u16string_view value);
  // Replaces this tag with the first HTML tag found in s (cleared when s
  // holds none).
  void ParseTagString(const WideString& s);

  // Appends "=" and the value to buffer (its first `used` characters in
  // use) by the quoting rules; nothing for an empty value. True when the
  // value went out unquoted.
  virtual bool AppendAttribValue(std::u16string_view value, WideString& buffer, int& used,
                                 TKtQuoteTags quote) const = 0;

 protected:
  explicit TKtTag(const char* class_name);
  // The quoting rules, with or without the "&{" exception of HTML.
  static bool AppendQuoted(std::u16string_view value, WideString& buffer, int& used, TKtQuoteTags quote,
                           bool keep_amp_before_brace);
};

// HTML tags: an "&" directly followed by "{" is not escaped.
class TKtHtmlTag : public TKtTag {
 public:
  TKtHtmlTag() : TKtTag("TKtHtmlTag") {}
  bool AppendAttribValue(std::u16string_view value, WideString& buffer, int& used,
                         TKtQuoteTags quote) const override;
};

// Custom tags ("<#name ...>"): every "&" escaped.
class TKtCustomTag : public TKtTag {
 public:
  TKtCustomTag() : TKtTag("TKtCustomTag") {}
  bool AppendAttribValue(std::u16string_view value, WideString& buffer, int& used,
                         TKtQuoteTags quote) const override;
};

// Server-side includes ("<!--#name ...-->"): every "&" escaped.
class TKtSsiTag : public TKtTag {
 public:
  TKtSsiTag() : TKtTag("TKtSsiTag") {}
  bool AppendAttribValue(std::u16string_view value, WideString& buffer, int& used,
                         TKtQuoteTags quote) const override;
};

std::unique_ptr<TKtHtmlTag> NewHtmlTag();
std::unique_ptr<TKtCustomTag> NewCustomTag();
std::unique_ptr<TKtSsiTag> NewSsiTag();

// The quoting decision shared with the HTML writer: whether a value goes
// out without quotes under the mode, and otherwise the quote character and
// whether occurrences of it inside must be written as a reference.
bool AttribValueGoesUnquoted(std::u16string_view value, TKtQuoteTags quote);
WideChar AttribQuoteChar(std::u16string_view value, bool& escape_inside);

}  // namespace kt
