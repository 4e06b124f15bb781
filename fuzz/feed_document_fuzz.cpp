// SPDX-License-Identifier: MIT
// Feed bodies as they come off the network: repaired, parsed, and walked as
// the processors walk them. A refusal is kt::Exception; nothing else may
// escape, and nothing may crash.
#include <pugixml.hpp>

#include "engine/feeds/tidewell_feed_document.h"
#include "engine/feeds/tidewell_feed_store.h"
#include "engine/feeds/tidewell_feed_xml.h"
#include "fuzz/fuzz_checks.h"
#include "toolkit/exception.h"

namespace {

void WalkElements(const pugi::xml_node& parent) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() != pugi::node_element) continue;
    const std::u16string markup = tidewell::NodeToMarkup(child, tidewell::IsXmlSpacePreserve(child), true, {});
    tidewell::TArticleLinkPairs pairs;
    tidewell::ExtractHtmlLinks("http://fuzz.example/feed/", markup, 1, pairs, {});
    if (tidewell::MakeMD5Key(tidewell::NodeText(child), markup).size() != 36) fuzzing::Broken();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string body = tidewell::FixXmlProlog(fuzzing::TextOf(data, size));
  tidewell::FixBareCarriageReturns(body);
  pugi::xml_document document;
  bool refused = false;
  try {
    tidewell::ParseXmlBody(body, document, refused);
  } catch (const kt::Exception&) {
    return 0;
  }
  const pugi::xml_node root = document.document_element();
  WalkElements(root);
  WalkElements(tidewell::FindChildElement(root, "CHANNEL", {}));
  (void)tidewell::ResolveXmlBase(tidewell::AttributeText(root, "xml:base"));
  return 0;
}
