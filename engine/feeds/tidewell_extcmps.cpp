// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_extcmps.h"

#include <cctype>
#include <memory>
#include <mutex>

#include "engine/tidewell_utilities.h"
#include "toolkit/kt_html_charset_plugin.h"
#include "toolkit/kt_html_names.h"
#include "toolkit/kt_html_parser.h"
#include "toolkit/kt_html_tag.h"
#include "toolkit/kt_html_tag_filters.h"
#include "toolkit/kt_html_writer_plugin.h"
#include "toolkit/kt_unicode_encodings.h"
#include "toolkit/kt_utils.h"

namespace tidewell {
namespace {

using kt::TKtFilter;

// Element IDs of the name tables.
constexpr uint32_t kTagA = 1;
constexpr uint32_t kTagFrame = 42;
constexpr uint32_t kTagIFrame = 56;
constexpr uint32_t kTagImg = 58;
constexpr uint32_t kTagLink = 67;
constexpr uint32_t kTagScript = 86;

WideString AsciiCase(WideString text, bool upper) {
  for (char16_t& c : text) {
    if (upper && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    if (!upper && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return text;
}

uint32_t AttribId(const char16_t* name) { return kt::HtmlAttribID(WideString(name)); }

// The bytes of the rewritten page, read back as the writer's 8-bit text.
WideString Latin1ToWide(const kt::TMemoryStream& stream) {
  WideString text;
  text.reserve(stream.Bytes().size());
  for (uint8_t byte : stream.Bytes()) text += static_cast<char16_t>(byte);
  return text;
}

// Hands one URL attribute of a shown tag to its callback and writes a
// changed value back onto the tag.
void OfferUrl(kt::TKtHtmlTag& tag, const char16_t* attribute, const std::string& baseUrl,
              const Ttidewell_htmlhelper::TUrlCallback& callback) {
  if (!callback) return;
  const uint32_t id = AttribId(attribute);
  WideString url = tag.StringOfCardinal(id);
  if (url.empty()) return;
  const WideString before = url;
  callback(baseUrl, url);
  if (url != before) tag.SetAttribValue(id, attribute, url);
}

bool IsWebUrl(const std::string& url) {
  std::string scheme = url.substr(0, url.find(':'));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return url.find(':') != std::string::npos && (scheme == "http" || scheme == "https");
}

}  // namespace

void EnsureHtmlNameTables() {
  static std::once_flag once;
  std::call_once(once, [] {
    kt::RegisterHtmlTagNames();
    kt::RegisterHtmlAttribNames();
  });
}

void FindCharSetEntry(const WideString& charSet, kt::TKtUnicodeReadMethods& readMethods) {
  readMethods = kt::ReadMethods_ISO_8859_1;
  // By name as well as by description: a page declaring "windows-1251" or
  // "ISO-8859-2" is read in that set, not as Latin-1.
  if (!charSet.empty()) kt::FindCharSetReadMethods(charSet, readMethods);
}

Ttidewell_htmlhelper::Ttidewell_htmlhelper() { EnsureHtmlNameTables(); }

void Ttidewell_htmlhelper::CharSetEvent(kt::TKtHtmlCharSetPlugin&, const WideString& charSet,
                                        kt::TKtUnicodeReadMethods& readMethods, bool& allowChange) {
  FindCharSetEntry(charSet, readMethods);
  allowChange = true;
}

bool Ttidewell_htmlhelper::Parse(const std::string& baseUrl, kt::TStream& stream) {
  kt::TMemoryStream output;
  // The page's text keeps its escapes when written back: the writer's
  // default entities stay, so "&lt;script&gt;" never becomes markup.
  kt::TKtHtmlWriterPlugin writer;
  writer.SetFilterText(TKtFilter::fiShow);
  writer.FilterHtmlTags().SetStartAndEndTags(TKtFilter::fiShowHidden);
  std::unique_ptr<kt::TKtHtmlCharSetPlugin> charset;
  // The filters and plugins outlive the parser that refers to them.
  kt::TKtTagFilters filters;
  kt::TKtHtmlParser parser;
  if (CharsetHandling) {
    charset = std::make_unique<kt::TKtHtmlCharSetPlugin>();
    charset->OnCharSetChange = [this](kt::TKtHtmlCharSetPlugin& sender, const WideString& name,
                                      kt::TKtUnicodeReadMethods& methods,
                                      bool& allow) { CharSetEvent(sender, name, methods, allow); };
    parser.AddPluginFirst(charset.get());
  }
  parser.AddPluginLast(&writer);
  writer.Writer().SetStream(&output);
  parser.Reset();
  parser.SourceStream(&stream);
  parser.SetHtmlTagFilters(&filters);
  filters.SetTagFilters({kTagFrame, kTagScript, kTagA, kTagImg, kTagLink, kTagIFrame}, TKtFilter::fiShow);

  while (parser.ReadNextPiece()) {
    if (parser.PieceKind() != kt::TKtHtmlPieceKind::pkHtmlTag) continue;
    kt::TKtHtmlTag& tag = parser.HtmlTag();
    if (tag.EndTag != 1) {
      switch (tag.TagID) {
        case kTagA: OfferUrl(tag, u"href", baseUrl, OnAHref); break;
        case kTagIFrame: OfferUrl(tag, u"src", baseUrl, OnIFrameSrc); break;
        case kTagFrame: OfferUrl(tag, u"src", baseUrl, OnFrameSrc); break;
        case kTagScript: OfferUrl(tag, u"src", baseUrl, OnScriptSrc); break;
        case kTagImg: OfferUrl(tag, u"src", baseUrl, OnImgSrc); break;
        case kTagLink: {
          const WideString rel = AsciiCase(tag.StringOfCardinal(AttribId(u"rel")), false);
          if (rel == u"stylesheet") OfferUrl(tag, u"href", baseUrl, OnStyleSheetHref);
          if (OnLink) {
            WideString href = tag.StringOfCardinal(AttribId(u"href"));
            const WideString before = href;
            OnLink(baseUrl, href, tag.StringOfCardinal(AttribId(u"title")), tag.StringOfCardinal(AttribId(u"type")),
                   rel);
            if (href != before) tag.SetAttribValue(AttribId(u"href"), u"href", href);
          }
          break;
        }
        default: break;
      }
    }
    writer.WriteHtmlTag();
  }
  writer.Writer().Flush();
  if (OnEndOfPage) OnEndOfPage(Latin1ToWide(output));
  return true;
}

Ttidewell_autodiscoverRSSURL::Ttidewell_autodiscoverRSSURL() { CharsetHandling = true; }

void Ttidewell_autodiscoverRSSURL::Discover(const std::string& baseUrl, kt::TStream* stream, TStrings* titles,
                                            TStrings* urls) {
  if (stream == nullptr || titles == nullptr || urls == nullptr) return;
  stream->SetPosition(0);
  OnLink = [this](const std::string& base, WideString& href, const WideString& title, const WideString& type,
                  const WideString&) { LinkFound(base, href, title, type); };
  Parse(baseUrl, *stream);
  stream->SetPosition(0);
  urls->insert(urls->end(), urls_.begin(), urls_.end());
  titles->insert(titles->end(), titles_.begin(), titles_.end());
}

void Ttidewell_autodiscoverRSSURL::LinkFound(const std::string& baseUrl, WideString& href, const WideString& title,
                                             const WideString& type) {
  const WideString kind = AsciiCase(kt::TrimW(type), true);
  if (kind != u"APPLICATION/RSS+XML" && kind != u"APPLICATION/ATOM+XML") return;
  const std::string url = ResolveUrl(baseUrl, kt::WideToUtf8(href));
  // A page may announce a local file or another protocol: only the web's own
  // schemes may take a subscription's place.
  if (!IsWebUrl(url)) return;
  urls_.push_back(url);
  const WideString trimmed = kt::TrimW(title);
  titles_.push_back(trimmed.empty() ? url : kt::WideToUtf8(trimmed));
}

}  // namespace tidewell
