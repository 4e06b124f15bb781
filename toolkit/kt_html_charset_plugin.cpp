// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_charset_plugin.h"

#include "toolkit/kt_html_parser.h"
#include "toolkit/kt_name_chars.h"
#include "toolkit/kt_unicode_codecs.h"
#include "toolkit/kt_unicode_encodings.h"
#include "toolkit/kt_utils.h"

namespace kt {
namespace {

bool SameMethods(const TKtUnicodeReadMethods& a, const TKtUnicodeReadMethods& b) {
  return a.Init == b.Init && a.ReadChar == b.ReadChar && a.Done == b.Done;
}

// Text read so far in 8-bit units cannot be in these; switching to them
// would garble the rest of the page.
bool IsWideUnitCharSet(const WideString& name) {
  for (std::u16string_view prefix : {u"UTF-16", u"UTF-32", u"UCS-2", u"UCS-4", u"UNICODE"}) {
    if (name.size() >= prefix.size() && SameTextW(std::u16string_view(name).substr(0, prefix.size()), prefix)) {
      return true;
    }
  }
  return false;
}

// A page being read in 16- or 32-bit units declares the set it was made
// in, not the one it travels in; its declaration is no reason to switch.
bool IsWideUnitDecoder(const TKtUnicodeReadMethods& methods) {
  for (auto read : {Read_UTF_16LE, Read_UTF_16BE, Read_UTF_32LE, Read_UTF_32BE, Read_UCS_2LE, Read_UCS_2BE,
                    Read_UCS_4LE, Read_UCS_4BE}) {
    if (methods.ReadChar == read) return true;
  }
  return false;
}

}  // namespace

bool CharSetOfContent(const WideString& content, WideString& charSet) {
  const int found = StrPosIW(u"charset", content);
  if (found == 0) return false;
  size_t i = static_cast<size_t>(found - 1) + 7;
  while (i < content.size() && IsCharWhiteSpaceW(content[i])) ++i;
  if (i >= content.size() || content[i] != u'=') return false;
  ++i;
  while (i < content.size() && IsCharWhiteSpaceW(content[i])) ++i;
  size_t end = i;
  while (end < content.size() && IsNameChar(content[end])) ++end;
  charSet = content.substr(i, end - i);
  return true;
}

bool CharSetOfMeta(const TKtHtmlTag& tag, WideString& charSet) {
  if (tag.FindCardinal(html_id::kAttribCharset)) {
    WideString name = TrimW(tag.StringOfCardinal(html_id::kAttribCharset));
    if (!name.empty()) {
      charSet = std::move(name);
      return true;
    }
  }
  if (!SameTextW(tag.StringOfCardinal(html_id::kAttribHttpEquiv), u"Content-Type")) return false;
  const WideString content = tag.StringOfCardinal(html_id::kAttribContent);
  return !content.empty() && CharSetOfContent(content, charSet);
}

bool FindCharSetReadMethods(const WideString& charSet, TKtUnicodeReadMethods& readMethods) {
  if (charSet.empty() || IsWideUnitCharSet(charSet)) return false;
  for (const TKtUnicodeEncoding& encoding : UnicodeEncodings) {
    if (!encoding.ReadMethods.ReadChar) continue;
    if (SameTextW(encoding.Description, charSet) || (!encoding.Name.empty() && SameTextW(encoding.Name, charSet))) {
      readMethods = encoding.ReadMethods;
      return true;
    }
  }
  return false;
}

TKtHtmlCharSetPlugin::TKtHtmlCharSetPlugin()
    : DefaultReadMethods(ReadMethods_ISO_8859_1), tag_filters_(std::make_unique<TKtTagFilters>()) {
  SetHtmlTagFilters(tag_filters_.get());
  tag_filters_->SetStartTagFilter(html_id::kMeta, TKtFilter::fiShowLocal);
  SetFilterXmlPIs(TKtFilter::fiShowLocal);
}

TKtHtmlCharSetPlugin::~TKtHtmlCharSetPlugin() { SetHtmlTagFilters(nullptr); }

void TKtHtmlCharSetPlugin::HandleReset() {
  declared_ = false;
  if (HtmlParser()) HtmlParser()->SetReadMethods(DefaultReadMethods);
}

void TKtHtmlCharSetPlugin::HandleHtmlTag(bool& show) {
  if (!HtmlParser() || declared_) return;
  const TKtHtmlTag& tag = HtmlParser()->HtmlTag();
  if (tag.TagID != html_id::kMeta || tag.EndTag == 1) return;
  WideString charSet;
  if (CharSetOfMeta(tag, charSet)) SwitchTo(charSet);
}

void TKtHtmlCharSetPlugin::HandleXmlPI(bool& show) {
  if (!HtmlParser() || declared_) return;
  TKtHtmlTag declaration;
  declaration.ParseTagString(u"<XML " + HtmlParser()->GetData() + u">");
  if (!declaration.FindCardinal(html_id::kAttribEncoding)) return;
  SwitchTo(TrimW(declaration.StringOfCardinal(html_id::kAttribEncoding)));
}

void TKtHtmlCharSetPlugin::SwitchTo(const WideString& charSet) {
  TKtHtmlParser& parser = *HtmlParser();
  TKtUnicodeReadMethods methods = parser.ReadMethods;
  const bool found = !IsWideUnitDecoder(methods) && FindCharSetReadMethods(charSet, methods);
  bool allow = true;
  if (OnCharSetChange) OnCharSetChange(*this, charSet, methods, allow);
  if (!allow) return;
  // A name neither the table nor the owner knows (or a 16/32-bit one, which
  // keeps the decoder) is no declaration: a later valid one still decides.
  if (!found && SameMethods(methods, parser.ReadMethods)) return;
  // A later declaration (a stray one further down, or the other form) would
  // re-read the rest of the page in another set than the one it started in.
  declared_ = true;
  // Installing the same decoder again would restart its state.
  if (!SameMethods(methods, parser.ReadMethods)) parser.SetReadMethods(methods);
}

}  // namespace kt
