// SPDX-License-Identifier: MIT
// The links found in one article (table articles_links joined with links).
#pragma once

#include <cstdint>
#include <string>

#include "engine/model/articles.h"
#include "engine/model/base_property.h"

namespace tidewell {

class TArticleLinks;

class TArticleLinksProperty : public TBaseProperty {
 public:
  // owner: a TArticleLinks (else "Parent class is missing / invalid id /
  // incorrect parent class !").
  TArticleLinksProperty(TBaseClass* owner, int32_t linkId);

  int32_t LinkId = 0;
  std::string Link;
};

class TArticleLinks : public TArticles {
 public:
  // parent: a TArticleProperty (else "Parent class is missing / invalid id /
  // incorrect parent class !").
  TArticleLinks(TParentClass* parent, int32_t articleId);

  // Counts the article's links first; with none, nothing else runs.
  void LoadById(int32_t articleId, const std::string& order, int32_t skip, int32_t count) override;
  // "Link index out of bound" outside 0..GetCount()-1.
  TArticleLinksProperty* GetItem(int32_t index) const;
  const char* ClassName() const override { return "TArticleLinks"; }

 private:
  int32_t CountLinks(int32_t articleId);
};

}  // namespace tidewell
