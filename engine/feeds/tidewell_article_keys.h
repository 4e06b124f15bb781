// SPDX-License-Identifier: MIT
// Article keys and content digests as the stored articles know them. An
// article's key (its MD5 rule) and digest must come out the same for every
// document that was read before, even where the document is now decoded or
// written back differently; otherwise a stored article would be duplicated.
// So keys are made of the markup earlier versions wrote (LegacyKeyMarkup),
// and of the document as earlier versions decoded it when that differs.
//
// Threads: the worker's thread; the view only borrows the documents.
#pragma once

#include <pugixml.hpp>

namespace tidewell {

class TArticleKeyView {
 public:
  TArticleKeyView() = default;
  // legacyRoot: the document element of the same body as earlier versions
  // decoded it; an empty node when it decodes the same or could not be read.
  TArticleKeyView(const pugi::xml_node& root, const pugi::xml_node& legacyRoot)
      : root_(root), legacyRoot_(legacyRoot) {}

  // The node at the same place of the legacy document; node itself when
  // there is no legacy document or it has no such node.
  pugi::xml_node KeyNode(const pugi::xml_node& node) const;

 private:
  pugi::xml_node root_;
  pugi::xml_node legacyRoot_;
};

}  // namespace tidewell
