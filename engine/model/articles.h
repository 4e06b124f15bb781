// SPDX-License-Identifier: MIT
// The articles of the database: loads rows of table Articles into
// TArticleProperty rows (by feed, by ids, or a column-selective page of one
// feed) and deletes articles with everything that hangs on them.
//
// Loads read live articles only (deleted 0) unless LoadPage is asked for
// deleted ones too. A load by feed, by ids or by page ends quietly on an
// abort, keeping the rows read so far.
#pragma once

#include <cstdint>
#include <string>

#include "engine/model/article_property.h"
#include "engine/model/base_class.h"

namespace tidewell {

class TArticles : public TBaseClass {
 public:
  // LoadPage mask bits: a set bit leaves its column out.
  enum PageColumn : uint16_t {
    kPageGuid = 1 << 0,
    kPageCreated = 1 << 1,
    kPageModified = 1 << 2,
    kPageTitle = 1 << 3,
    kPageSummary = 1 << 4,
    kPageCreator = 1 << 5,
    kPageLink = 1 << 6,
    kPageReadStatus = 1 << 7,
    kPageFlag = 1 << 8,
    kPageRating = 1 << 9,
    kPageArticleMD5 = 1 << 10,
    kPageBody = 1 << 11,
    kPageEnclosureCount = 1 << 12,
    kPageKeywordCache = 1 << 13,
  };
  // The page the feed processors read: title, summary, creator, body,
  // enclosure count and keyword cache left out.
  static constexpr uint16_t kProcessorPageMask = 14392;

  // parent: a TFeedProperty or a TArticleProperty (else "Parent class is
  // missing / invalid id / incorrect parent class !").
  TArticles(TParentClass* parent, int32_t feedId);
  TArticles(TDbConnWrapper* database, int32_t feedId);

  // The live articles of one feed.
  void LoadById(int32_t feedId, const std::string& order, int32_t skip, int32_t count) override;
  // "Article index out of bounds" outside 0..GetCount()-1 (and for a
  // collection whose rows are no articles).
  TArticleProperty* GetItem(int32_t index) const;
  virtual void LoadByArticleId(int32_t articleId, bool skipBody, int32_t skip, int32_t count,
                               const std::string& order);
  // The live articles of the ids (any number); an empty array only clears.
  void LoadByIds(const TDynIntArray& ids, bool skipBody, int32_t skip, int32_t count, const std::string& order);
  // The articles of a feed with only the columns the mask keeps.
  void LoadPage(int32_t feedId, uint16_t mask, int32_t skip, int32_t count, const std::string& order,
                bool includeDeleted);
  const char* ClassName() const override { return "TArticles"; }

  // Deletes the articles of the ids (feedId below 1) or of the feed: their
  // enclosures (but downloaded ones), links, keywords, web pages, custom
  // tags and comment feeds; articles with a downloaded enclosure stay as
  // stubs (deleted 2), the others are purged or blanked (deleted 1). Runs on
  // the caller's statement and transaction: neither starts nor commits.
  static void DeleteArticles(TQueryWrapper* query, const TDynIntArray& ids, int32_t feedId, bool purge);

 protected:
  // For subclasses that check their parent themselves.
  struct ParentChecked {};
  TArticles(TParentClass* parent, int32_t id, ParentChecked);

 private:
  void LoadArticles(const std::string& whereLine, bool byIds, bool skipBody, int32_t skip, int32_t count,
                    const std::string& order);
  void ReadArticleRow(TQueryWrapper& query, bool skipBody);
  void ReadPageRow(TQueryWrapper& query, uint16_t mask);
};

}  // namespace tidewell
