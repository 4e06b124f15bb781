// SPDX-License-Identifier: MIT
// The engine's HTML helpers: a walker that runs the HTML parser over a page,
// reports the URLs of six kinds of tags to optional callbacks and can
// rewrite them, and the feed autodiscovery built on its LINK callback.
//
// Threads: a walker is used by one thread at a time; each walk makes and
// frees its own parser and plugins. The HTML name tables are filled once,
// before the first walker exists (EnsureHtmlNameTables).
#pragma once

#include <functional>
#include <string>

#include "engine/tidewell_events.h"
#include "toolkit/kt_unicode.h"
#include "toolkit/stream.h"
#include "toolkit/wide_string.h"

namespace kt {
class TKtHtmlCharSetPlugin;
}

namespace tidewell {

using kt::WideString;

// Fills the toolkit's element and attribute name tables, once per process.
void EnsureHtmlNameTables();

// The decoder of the table of encodings for a declared character set, found
// by the encoding's name or its description (any case); the ISO-8859-1
// decoder when the name is empty or unknown.
void FindCharSetEntry(const WideString& charSet, kt::TKtUnicodeReadMethods& readMethods);

class Ttidewell_htmlhelper {
 public:
  // The base URL of the page, and the tag's URL, which the callback may
  // change: the tag is then written out with the new URL.
  using TUrlCallback = std::function<void(const std::string& baseUrl, WideString& url)>;
  using TLinkCallback = std::function<void(const std::string& baseUrl, WideString& href, const WideString& title,
                                           const WideString& type, const WideString& rel)>;
  // The page as written back out, with every rewritten URL.
  using TEndCallback = std::function<void(const WideString& text)>;

  Ttidewell_htmlhelper();
  virtual ~Ttidewell_htmlhelper() = default;

  // When set, a character set the page declares selects the decoder.
  bool CharsetHandling = false;

  TUrlCallback OnAHref;
  TUrlCallback OnIFrameSrc;
  TUrlCallback OnFrameSrc;
  TUrlCallback OnScriptSrc;
  TUrlCallback OnImgSrc;
  TUrlCallback OnStyleSheetHref;
  TLinkCallback OnLink;
  TEndCallback OnEndOfPage;

  // Walks the page read from stream (from its current position); returns
  // true. Parser failures pass to the caller.
  bool Parse(const std::string& baseUrl, kt::TStream& stream);

 protected:
  void CharSetEvent(kt::TKtHtmlCharSetPlugin& sender, const WideString& charSet,
                    kt::TKtUnicodeReadMethods& readMethods, bool& allowChange);
};

// Collects the RSS and Atom feeds a page announces in its LINK tags.
class Ttidewell_autodiscoverRSSURL : public Ttidewell_htmlhelper {
 public:
  Ttidewell_autodiscoverRSSURL();

  // Appends to urls the absolute URLs of the page's feed links and to titles
  // their titles (UTF-8; the URL where a link has none), in document order.
  // Nothing happens when stream, titles or urls is missing. The stream is
  // rewound before and after the walk.
  void Discover(const std::string& baseUrl, kt::TStream* stream, TStrings* titles, TStrings* urls);

  const TStrings& FoundUrls() const { return urls_; }
  const TStrings& FoundTitles() const { return titles_; }

 protected:
  // A LINK whose type is "APPLICATION/RSS+XML" or "APPLICATION/ATOM+XML"
  // (trimmed, any case) is collected when it leads to an http or https URL.
  virtual void LinkFound(const std::string& baseUrl, WideString& href, const WideString& title,
                         const WideString& type);

 private:
  TStrings urls_;
  TStrings titles_;
};

}  // namespace tidewell
