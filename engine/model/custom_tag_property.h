// SPDX-License-Identifier: MIT
// One loaded custom tag, with its attribute collection (owned, loaded on
// demand with Attributes->Load).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/model/custom_tag_attributes.h"
#include "engine/model/custom_tag_base_property.h"

namespace tidewell {

class TCustomTagProperty : public TCustomTagBaseProperty {
 public:
  // owner: the tag collection that loads the row; attrTable: the attribute
  // table of that collection.
  TCustomTagProperty(TCustomTagBase* owner, int32_t rowId, const std::string& attrTable)
      : TCustomTagBaseProperty(owner), Attributes(std::make_unique<TCustomTagAttributes>(owner, rowId, attrTable)) {}

  std::unique_ptr<TCustomTagAttributes> Attributes;
};

}  // namespace tidewell
