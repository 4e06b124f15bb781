// SPDX-License-Identifier: MIT
// One custom tag that a feed processor read and the insert helper will save:
// name and markup (Name, Value), its attributes as name/value rows of
// Children, the id of the article or feed it belongs to, and whether it is
// to be stored.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/model/custom_tag_base_property.h"

namespace tidewell {

class TNewCustomTagsClass;

class TNewCustomTagBaseProperty : public TCustomTagBaseProperty {
 public:
  // The row has no collection owner: the list that makes it is no
  // collection of the database.
  TNewCustomTagBaseProperty();
  ~TNewCustomTagBaseProperty() override;

  // The tag's attributes (owned, created with the row, empty at first).
  TNewCustomTagsClass& Children() { return *children_; }
  const TNewCustomTagsClass& Children() const { return *children_; }

  // The article or feed the tag belongs to; 0 until a processor sets it.
  int32_t OwnerId = 0;
  // Whether the insert helper stores the tag; false at creation.
  bool Store = false;

 private:
  std::unique_ptr<TNewCustomTagsClass> children_;
};

}  // namespace tidewell
