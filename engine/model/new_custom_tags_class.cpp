// SPDX-License-Identifier: MIT
#include "engine/model/new_custom_tags_class.h"

#include "engine/tidewell_msg.h"

namespace tidewell {

TNewCustomTagsClass::~TNewCustomTagsClass() = default;

void TNewCustomTagsClass::Clear() { List.clear(); }

TNewCustomTagBaseProperty* TNewCustomTagsClass::GetItem(int32_t index) const {
  if (index < 0 || index >= Count()) RaiseMessage(kInvalidItemIndex);
  return List[static_cast<size_t>(index)].get();
}

TNewCustomTagBaseProperty* TNewCustomTagsClass::Add(const std::string& name, const std::u16string& value) {
  auto row = std::make_unique<TNewCustomTagBaseProperty>();
  row->Name = name;
  row->Value = value;
  List.push_back(std::move(row));
  return List.back().get();
}

}  // namespace tidewell
