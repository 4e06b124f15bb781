// SPDX-License-Identifier: MIT
// The items a document lists more than once: an episode listed twice in
// one document is one episode, stored and fetched once. Two listings are
// the same when every element, attribute and text of them is.
//
// Threads: one object per document, on the worker's thread.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include <pugixml.hpp>

namespace tidewell {

class TItemListings {
 public:
  // Whether the document listed this item before; the first listing of
  // each item is remembered.
  bool ListedBefore(const pugi::xml_node& item);

 private:
  std::unordered_map<uint64_t, std::vector<pugi::xml_node>> listed_;  // by hash
};

// Whether two elements hold the same names, attributes and texts.
bool SameListing(const pugi::xml_node& a, const pugi::xml_node& b);

}  // namespace tidewell
