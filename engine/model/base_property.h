// SPDX-License-Identifier: MIT
// One row object of the data model: the columns of one loaded row, and the
// collection that created it.
//
// Ownership: a row never owns its Owner; the Owner (a collection) owns the
// row. Threads: used by the thread that uses its collection.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/model/parent_class.h"

namespace tidewell {

class TBaseClass;
class TBaseProperty;

// Sender, the row's Tag, and a change code (1001: update interval changed).
using TPropertyChangeEvent = std::function<void(TBaseProperty* sender, int32_t tag, int32_t code)>;

class TBaseProperty : public TParentClass {
 public:
  // owner may be nullptr for a row that lives outside a collection.
  explicit TBaseProperty(TBaseClass* owner) : Owner(owner) {}

  TBaseClass* Owner = nullptr;
  TPropertyChangeEvent OnChange;
  int32_t Tag = 0;
};

}  // namespace tidewell
