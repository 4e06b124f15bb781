// SPDX-License-Identifier: MIT
// The stored articles of a feed, found by the keys that the feed processors
// match a document's items with. Built once per document, so that each item
// costs a look-up instead of a walk over every stored article (and a
// re-encoding of its texts).
//
// Every look-up answers the position (in load order) of the first stored
// article that matches, as a walk from the first article would find it; -1
// when none matches. Texts are UTF-8; "trimmed" is white space at both ends
// as the wide-string trim sees it, "ignoring case" is ASCII case.
//
// The articles must outlive the index and stay unchanged while it is used.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tidewell {

class TArticles;
class TArticleProperty;

class TStoredArticlesIndex {
 public:
  explicit TStoredArticlesIndex(const TArticles& stored);

  // The stored guid equals the text, both trimmed, ignoring case.
  int32_t FirstByGuidIgnoringCase(const std::string& guid) const;
  // The stored guid equals the text exactly.
  int32_t FirstByGuid(const std::string& guid) const;
  // The stored MD5 key equals the text, both trimmed, ignoring case.
  int32_t FirstByMd5IgnoringCase(const std::string& md5) const;
  // The stored MD5 key equals the text exactly.
  int32_t FirstByMd5(const std::string& md5) const;
  // Whether an article with this MD5 key and this link is stored (each
  // compared ignoring case, untrimmed).
  bool HasContent(const std::string& md5, const std::string& link) const;

  // Articles stored without a guid (keyed by their texts) are found by what
  // stays when those texts change: the link, else the file of an
  // enclosure. Positions in load order (an article with several rows of
  // one file may come more than once); none: empty.
  // Those whose trimmed link is the link (exactly).
  const std::vector<int32_t>& KeylessByLink(const std::string& link) const;
  // Enclosure URLs of the stored articles (article id, URL), once.
  void AddEnclosureUrls(const std::vector<std::pair<int32_t, std::string>>& urls);
  bool HasEnclosureUrls() const { return enclosuresAdded_; }
  // Those with an enclosure of this file (EnclosureFileIdentity).
  const std::vector<int32_t>& KeylessByFile(const std::string& fileIdentity) const;
  // The stored article at a position.
  const TArticleProperty& Article(int32_t position) const;
  // Whether the stored guid is a key made of the article's texts.
  static bool IsContentKey(const std::string& guid);

 private:
  using TFirstPositions = std::unordered_map<std::string, int32_t>;
  using TAllPositions = std::unordered_map<std::string, std::vector<int32_t>>;
  static int32_t Find(const TFirstPositions& positions, const std::string& key);
  static const std::vector<int32_t>& FindAll(const TAllPositions& positions, const std::string& key);
  static void AddOnce(TAllPositions& positions, const std::string& value, int32_t position);

  const TArticles& stored_;
  TFirstPositions guidFolded_, guidExact_, md5Folded_, md5Exact_;
  std::unordered_set<std::string> contents_;
  TAllPositions keylessByLink_, keylessByFile_;
  std::unordered_map<int32_t, int32_t> keylessPositions_;  // article id -> position
  bool enclosuresAdded_ = false;
};

}  // namespace tidewell
