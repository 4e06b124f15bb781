// SPDX-License-Identifier: MIT
// The stored web page of one article: rows of TArticleWebPageProperty, each
// with the page's bytes in a memory stream positioned at its start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/model/base_class.h"
#include "engine/model/base_property.h"
#include "toolkit/stream.h"

namespace tidewell {

class TArticleWebPageProperty : public TBaseProperty {
 public:
  // Lives outside any collection's ownership check (no owner).
  TArticleWebPageProperty() : TBaseProperty(nullptr), Content(std::make_unique<kt::TMemoryStream>()) {}

  int32_t PageId = 0;
  std::unique_ptr<kt::TMemoryStream> Content;
};

class TArticleWebPage : public TBaseClass {
 public:
  TArticleWebPage(TParentClass* parent, int32_t articleId);
  TArticleWebPage(TDbConnWrapper* database, int32_t articleId);

  // The pages of the article; order, skip and count are ignored.
  void LoadById(int32_t articleId, const std::string& order, int32_t skip, int32_t count) override;
  // "Invalid item index" outside 0..GetCount()-1.
  virtual TArticleWebPageProperty* GetItem(int32_t index) const;
  const char* ClassName() const override { return "TArticleWebPage"; }
};

}  // namespace tidewell
