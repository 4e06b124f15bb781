// SPDX-License-Identifier: MIT
// The attributes of one loaded custom tag, read from the feed or the article
// attribute table; rows are TCustomTagBaseProperty (attribute name, value,
// attribute id).
#pragma once

#include <cstdint>
#include <string>

#include "engine/model/custom_tag_base.h"

namespace tidewell {

class TCustomTagAttributes : public TCustomTagBase {
 public:
  // parent: a TCustomTagBase (else "Parent class is missing / invalid id /
  // incorrect parent class !"); rowId: the tag's value row; attrTable:
  // "feeds_customfields_attr" or "articles_customfields_attr".
  TCustomTagAttributes(TParentClass* parent, int32_t rowId, const std::string& attrTable);

  void LoadById(int32_t rowId, const std::string& order, int32_t skip, int32_t count) override;
  TCustomTagBaseProperty* GetItem(int32_t index) const override;
  const char* ClassName() const override { return "TCustomTagAttributes"; }

  std::string AttrTable;
};

}  // namespace tidewell
