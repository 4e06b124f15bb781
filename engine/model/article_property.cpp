// SPDX-License-Identifier: MIT
#include "engine/model/article_property.h"

#include "engine/model/article_keywords.h"
#include "engine/model/article_links.h"
#include "engine/model/article_web_page.h"
#include "engine/model/articles.h"
#include "engine/model/custom_tag_base.h"
#include "engine/model/enclosures.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

TBaseClass* ArticleRowOwner(TBaseClass* owner) {
  if (dynamic_cast<TArticles*>(owner) == nullptr) RaiseMessage(kParentClassInvalid);
  return owner;
}

}  // namespace

TArticleProperty::TArticleProperty(TBaseClass* owner, int32_t articleId)
    : TBaseProperty(ArticleRowOwner(owner)), ArticleId(articleId) {
  Links = std::make_unique<TArticleLinks>(this, articleId);
  CustomTags = std::make_unique<TArticleCustomTags>(this, articleId);
  Enclosures = std::make_unique<TEnclosures>(this, articleId);
  WebPage = std::make_unique<TArticleWebPage>(this, articleId);
  KeyWords = std::make_unique<TArticleKeyWords>(this);
}

TArticleProperty::~TArticleProperty() = default;

}  // namespace tidewell
