// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_item_listings.h"

#include <cstring>
#include <string_view>

namespace tidewell {
namespace {

void HashInto(uint64_t& hash, std::string_view text) {
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  hash ^= 0xff;  // ends the text
  hash *= 1099511628211ull;
}

void HashNode(uint64_t& hash, const pugi::xml_node& node) {
  HashInto(hash, node.name());
  HashInto(hash, node.value());
  for (pugi::xml_attribute attribute : node.attributes()) {
    HashInto(hash, attribute.name());
    HashInto(hash, attribute.value());
  }
  for (pugi::xml_node child : node.children()) HashNode(hash, child);
  HashInto(hash, "/");
}

}  // namespace

bool SameListing(const pugi::xml_node& a, const pugi::xml_node& b) {
  if (a.type() != b.type() || std::strcmp(a.name(), b.name()) != 0 || std::strcmp(a.value(), b.value()) != 0)
    return false;
  pugi::xml_attribute x = a.first_attribute(), y = b.first_attribute();
  for (; x && y; x = x.next_attribute(), y = y.next_attribute())
    if (std::strcmp(x.name(), y.name()) != 0 || std::strcmp(x.value(), y.value()) != 0) return false;
  if (x || y) return false;
  pugi::xml_node c = a.first_child(), d = b.first_child();
  for (; c && d; c = c.next_sibling(), d = d.next_sibling())
    if (!SameListing(c, d)) return false;
  return !c && !d;
}

bool TItemListings::ListedBefore(const pugi::xml_node& item) {
  uint64_t hash = 14695981039346656037ull;
  HashNode(hash, item);
  std::vector<pugi::xml_node>& same = listed_[hash];
  for (const pugi::xml_node& earlier : same)
    if (SameListing(earlier, item)) return true;
  same.push_back(item);
  return false;
}

}  // namespace tidewell
