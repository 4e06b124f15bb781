// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_article_keys.h"

#include <cstring>
#include <vector>

namespace tidewell {

pugi::xml_node TArticleKeyView::KeyNode(const pugi::xml_node& node) const {
  if (!legacyRoot_ || !node) return node;
  // Both documents come from the same bytes, so the place of a node is the
  // index of each of its ancestors among their siblings.
  std::vector<size_t> path;
  pugi::xml_node at = node;
  for (; at && at != root_; at = at.parent()) {
    size_t index = 0;
    for (pugi::xml_node sibling = at.previous_sibling(); sibling; sibling = sibling.previous_sibling()) ++index;
    path.push_back(index);
  }
  if (at != root_) return node;
  pugi::xml_node twin = legacyRoot_;
  for (auto index = path.rbegin(); index != path.rend() && twin; ++index) {
    twin = twin.first_child();
    for (size_t i = 0; i < *index && twin; ++i) twin = twin.next_sibling();
  }
  if (!twin || twin.type() != node.type() || std::strcmp(twin.name(), node.name()) != 0) return node;
  return twin;
}

}  // namespace tidewell
