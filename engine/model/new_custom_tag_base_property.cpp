// SPDX-License-Identifier: MIT
#include "engine/model/new_custom_tag_base_property.h"

#include "engine/model/new_custom_tags_class.h"

namespace tidewell {

TNewCustomTagBaseProperty::TNewCustomTagBaseProperty()
    : TCustomTagBaseProperty(nullptr), children_(std::make_unique<TNewCustomTagsClass>()) {}

TNewCustomTagBaseProperty::~TNewCustomTagBaseProperty() = default;

}  // namespace tidewell
