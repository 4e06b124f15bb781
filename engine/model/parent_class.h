// SPDX-License-Identifier: MIT
// The common root of the data model's collections and rows, so that a
// collection can hang under either another collection or a row.
#pragma once

namespace tidewell {

class TParentClass {
 public:
  TParentClass() = default;
  virtual ~TParentClass() = default;
  TParentClass(const TParentClass&) = delete;
  TParentClass& operator=(const TParentClass&) = delete;
};

}  // namespace tidewell
