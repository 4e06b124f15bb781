// SPDX-License-Identifier: MIT
// One article row: its columns, and the collections that hang on it (links,
// custom tags, enclosures, keywords, web page), owned, loaded on demand and
// borrowing the owner's statement and transaction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/model/base_property.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

class TArticleLinks;
class TArticleCustomTags;
class TEnclosures;
class TArticleKeyWords;
class TArticleWebPage;

class TArticleProperty : public TBaseProperty {
 public:
  // owner: a TArticles (else "Parent class is missing / invalid id /
  // incorrect parent class !").
  TArticleProperty(TBaseClass* owner, int32_t articleId);
  ~TArticleProperty() override;

  std::u16string Keyword;  // set by the filtered load only
  std::unique_ptr<TArticleLinks> Links;
  std::unique_ptr<TArticleCustomTags> CustomTags;
  std::unique_ptr<TEnclosures> Enclosures;
  std::unique_ptr<TArticleKeyWords> KeyWords;
  std::unique_ptr<TArticleWebPage> WebPage;
  int32_t ArticleId = 0;
  int32_t FeedId = 0;
  std::string Guid;  // UTF-8
  TDateTime Created = -1.0;
  TDateTime Modified = -1.0;
  std::u16string Title;
  std::u16string Summary;
  std::u16string Creator;
  std::u16string Body;
  std::string Link;
  TArticleReadStatus ReadStatus = TArticleReadStatus::cmarkasUnRead;
  TArticleFlagType Flag = TArticleFlagType::cFTNoFlag;
  int32_t Rating = 0;
  std::string ArticleMD5;
  bool Deleted = false;  // set by the column-selective load only
  int32_t EnclosureCount = 0;
  std::u16string KeywordCache;
};

}  // namespace tidewell
