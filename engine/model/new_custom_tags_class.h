// SPDX-License-Identifier: MIT
// The in-memory list of custom tags that the feed processors fill while they
// read a channel or an item, and that the insert helper saves. The list owns
// its rows; a row owns its attribute list (Children).
//
//   TNewCustomTagsClass tags;
//   TNewCustomTagBaseProperty* tag = tags.Add("media:rating", u"adult");
//   tag->OwnerId = articleId;
//   tag->Store = true;
//   tag->Children().Add("scheme", u"urn:simple");
//
// Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/model/new_custom_tag_base_property.h"

namespace tidewell {

class TNewCustomTagsClass {
 public:
  TNewCustomTagsClass() = default;
  virtual ~TNewCustomTagsClass();
  TNewCustomTagsClass(const TNewCustomTagsClass&) = delete;
  TNewCustomTagsClass& operator=(const TNewCustomTagsClass&) = delete;

  // Frees every row.
  virtual void Clear();
  // The row at the 0-based index; "Invalid item index" outside 0..Count()-1.
  virtual TNewCustomTagBaseProperty* GetItem(int32_t index) const;
  // Appends a row with the name (UTF-8) and value and returns it; the list
  // keeps the order of the calls.
  virtual TNewCustomTagBaseProperty* Add(const std::string& name, const std::u16string& value);

  int32_t Count() const { return static_cast<int32_t>(List.size()); }

  std::vector<std::unique_ptr<TNewCustomTagBaseProperty>> List;
};

}  // namespace tidewell
