// SPDX-License-Identifier: MIT
// A parser plugin that switches the parser's decoder when the document
// declares its character set: a META "charset" attribute, a META
// "Content-Type" whose content has a "charset" parameter, or the encoding of
// an XML declaration. The first declaration whose set is found (in the
// table or by the owner) and allowed wins: later ones are ignored until the
// parser is reset. The name is
// looked up in the table of encodings (by name or description, ignoring
// case); the owner may confirm or replace the choice through
// OnCharSetChange. Characters decoded before the declaration stay as read.
// A name that is unknown (or a 16/32-bit encoding, which a document read
// so far with 8-bit units cannot be in) keeps the current decoder, and so
// does any name while the page is read in 16- or 32-bit units.
#pragma once

#include <functional>
#include <memory>

#include "toolkit/kt_html_parser_plugin.h"
#include "toolkit/kt_html_tag.h"
#include "toolkit/kt_html_tag_filters.h"
#include "toolkit/kt_unicode.h"

namespace kt {

class TKtHtmlCharSetPlugin;

// readMethods comes in as the decoder chosen for charSet (the parser's
// current one when the name is unknown); the handler may replace it, or set
// allowChange to false to keep the current decoder.
using TKtHtmlCharSetPluginEvent = std::function<void(TKtHtmlCharSetPlugin& sender, const WideString& charSet,
                                                     TKtUnicodeReadMethods& readMethods, bool& allowChange)>;

class TKtHtmlCharSetPlugin : public TKtHtmlParserPlugin {
 public:
  // Receives every META start tag and every XML declaration, without making
  // them count as shown.
  TKtHtmlCharSetPlugin();
  ~TKtHtmlCharSetPlugin() override;
  std::string ClassName() const override { return "TKtHtmlCharSetPlugin"; }

  TKtHtmlCharSetPluginEvent OnCharSetChange;
  // What HandleReset gives the parser: ISO-8859-1.
  TKtUnicodeReadMethods DefaultReadMethods;

  void HandleHtmlTag(bool& show) override;
  void HandleXmlPI(bool& show) override;
  void HandleReset() override;

 private:
  void SwitchTo(const WideString& charSet);

  std::unique_ptr<TKtTagFilters> tag_filters_;
  bool declared_ = false;
};

// The charset name of a META content value ("text/html; charset=utf-8"):
// the name characters after "charset", white space and "="; false when
// there is no "charset" followed by "=".
bool CharSetOfContent(const WideString& content, WideString& charSet);
// The charset a META tag declares: its "charset" attribute when that holds
// more than white space, else the "charset" parameter of the content of an
// http-equiv "Content-Type"; false when it declares none.
bool CharSetOfMeta(const TKtHtmlTag& tag, WideString& charSet);
// The decoder of the table of encodings for a name or description (any
// case); false when there is none that reads.
bool FindCharSetReadMethods(const WideString& charSet, TKtUnicodeReadMethods& readMethods);

}  // namespace kt
