// SPDX-License-Identifier: MIT
// Feed bodies as they come off the network: decoded (the answer's charset,
// UTF-16/32), bare "&" escaped, repaired, parsed (and parsed as earlier
// versions did, for keys), and walked as the processors walk them. A refusal
// is kt::Exception; nothing else may escape, and nothing may crash.
#include <pugixml.hpp>

#include "engine/feeds/tidewell_article_keys.h"
#include "engine/feeds/tidewell_feed_document.h"
#include "engine/feeds/tidewell_feed_store.h"
#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/tidewell_date.h"
#include "fuzz/fuzz_checks.h"
#include "toolkit/exception.h"

namespace {

void WalkElements(const pugi::xml_node& parent, const tidewell::TArticleKeyView& keys) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() != pugi::node_element) continue;
    const bool preserve = tidewell::IsXmlSpacePreserve(child);
    const std::u16string markup = tidewell::NodeToMarkup(child, preserve, true, {});
    (void)tidewell::NodeToMarkup(child, preserve, false, {});
    const pugi::xml_node keyNode = keys.KeyNode(child);
    if (tidewell::MakeMD5Key(tidewell::NodeText(keyNode), tidewell::LegacyKeyMarkup(keyNode, preserve, false, {}))
            .size() != 36)
      fuzzing::Broken();
    std::string date = tidewell::NodeTextUtf8(child);
    tidewell::TDateTime utc = 0;
    std::string zone;
    (void)tidewell::ReadFeedDate(date, utc, zone);
    tidewell::TArticleLinkPairs pairs;
    tidewell::ExtractHtmlLinks("http://fuzz.example/feed/", markup, 1, pairs, {});
    if (tidewell::MakeMD5Key(tidewell::NodeText(child), markup).size() != 36) fuzzing::Broken();
  }
}

}  // namespace

// The first byte picks the answer's Content-Type, so that the charset
// override runs too.
std::string ContentTypeOf(uint8_t selector) {
  static const char* const kTypes[] = {"", "text/xml; charset=iso-8859-1", "application/rss+xml; charset=utf-8",
                                       "application/xml; charset=UTF-16", "text/xml; charset=windows-1251",
                                       "application/atom+xml; charset=\"utf-32\""};
  return kTypes[selector % (sizeof(kTypes) / sizeof(kTypes[0]))];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string raw = fuzzing::TextOf(data + 1, size - 1);
  std::string body = tidewell::FixXmlProlog(tidewell::EscapeBareAmpersands(
      tidewell::DecodeFeedBody(raw, tidewell::AnswerCharset(ContentTypeOf(data[0])))));
  tidewell::FixBareCarriageReturns(body);
  pugi::xml_document document;
  bool refused = false;
  try {
    tidewell::ParseXmlBody(body, document, refused);
  } catch (const kt::Exception&) {
    return 0;
  }
  pugi::xml_document legacy;
  try {
    tidewell::ParseXmlBody(tidewell::FixXmlProlog(raw), legacy, refused, false);
  } catch (const kt::Exception&) {
    legacy.reset();
  }
  const pugi::xml_node root = document.document_element();
  const tidewell::TArticleKeyView keys(root, legacy.document_element());
  tidewell::DropRss10Prefixes(root, {});
  WalkElements(root, keys);
  WalkElements(tidewell::FindChildElement(root, "CHANNEL", {}), keys);
  (void)tidewell::ResolveXmlBase(tidewell::AttributeText(root, "xml:base"));
  return 0;
}
