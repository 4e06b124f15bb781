// SPDX-License-Identifier: MIT
// Loaded custom tags: the elements of a feed document that have no column of
// their own, stored per feed (TFeedCustomTags) or per article
// (TArticleCustomTags). Rows are TCustomTagProperty objects; their
// attributes are loaded on demand through each row's Attributes.
//
// A tag collection hangs under a feed or article row (or another tag
// collection) and borrows its statement and transaction.
#pragma once

#include <cstdint>
#include <string>

#include "engine/model/base_class.h"
#include "engine/model/custom_tag_base_property.h"

namespace tidewell {

class TCustomTagBase : public TBaseClass {
 public:
  // parent: a TArticleCustomTags, TFeedCustomTags, TArticleProperty or
  // TFeedProperty, else "Parent class is missing / invalid id / incorrect
  // parent class !". Id := key (the feed id or the article id).
  TCustomTagBase(TParentClass* parent, int32_t key);

  using TBaseClass::Load;
  // LoadById with the own Id.
  virtual void Load(const std::string& order, int32_t count, int32_t skip);
  void LoadById(int32_t key, const std::string& order, int32_t skip, int32_t count) override;
  // "Feed index out of bounds !" outside 0..GetCount()-1.
  virtual TCustomTagBaseProperty* GetItem(int32_t index) const;
  const char* ClassName() const override { return "TCustomTagBase"; }

  // The tables of the class; empty for a collection that has none.
  virtual std::string ValuesTable() const { return {}; }
  virtual std::string AttributeTable() const { return {}; }
  virtual std::string KeyColumn() const { return {}; }
};

class TFeedCustomTags : public TCustomTagBase {
 public:
  using TCustomTagBase::TCustomTagBase;
  const char* ClassName() const override { return "TFeedCustomTags"; }
  std::string ValuesTable() const override { return "feeds_customfields"; }
  std::string AttributeTable() const override { return "feeds_customfields_attr"; }
  std::string KeyColumn() const override { return "feed_id"; }
};

class TArticleCustomTags : public TCustomTagBase {
 public:
  using TCustomTagBase::TCustomTagBase;
  const char* ClassName() const override { return "TArticleCustomTags"; }
  std::string ValuesTable() const override { return "articles_customfields"; }
  std::string AttributeTable() const override { return "articles_customfields_attr"; }
  std::string KeyColumn() const override { return "article_id"; }
};

}  // namespace tidewell
