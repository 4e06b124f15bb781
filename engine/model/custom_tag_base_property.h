// SPDX-License-Identifier: MIT
// One custom tag or one attribute of a tag: its name, its text, and the id
// of the row that holds it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/model/base_property.h"

namespace tidewell {

class TCustomTagBaseProperty : public TBaseProperty {
 public:
  using TBaseProperty::TBaseProperty;

  std::string Name;      // the tag name, or the attribute name; UTF-8
  std::u16string Value;  // the tag's text, or the attribute's value
  int32_t RowId = 0;     // the row of the value or of the attribute; 0 for a new tag
};

}  // namespace tidewell
