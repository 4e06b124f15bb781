// SPDX-License-Identifier: MIT
// The keywords of one article, user-defined ones first, then alphabetical.
#pragma once

#include <cstdint>
#include <string>

#include "engine/model/base_class.h"
#include "engine/model/base_property.h"

namespace tidewell {

class TArticleKeyWordProperty : public TBaseProperty {
 public:
  using TBaseProperty::TBaseProperty;

  int32_t KeywordId = 0;
  std::u16string Value;
  bool IsUserDefined = false;
};

class TArticleKeyWords : public TBaseClass {
 public:
  // parent: a TArticleProperty (else "Parent class is missing / invalid id /
  // incorrect parent class !"); Id := the row's article id.
  explicit TArticleKeyWords(TParentClass* parent);
  TArticleKeyWords(TDbConnWrapper* database, int32_t articleId);

  // Loads every keyword of the article; order and count are ignored.
  void Load(const std::string& order, int32_t count) override;
  // Load for another article id.
  void LoadById(int32_t articleId, const std::string& order, int32_t skip, int32_t count) override;
  // "Invalid item index" outside 0..GetCount()-1.
  TArticleKeyWordProperty* GetItem(int32_t index) const;
  const char* ClassName() const override { return "TArticleKeyWords"; }
};

}  // namespace tidewell
