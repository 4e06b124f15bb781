// SPDX-License-Identifier: MIT
// Finds the stored article an item of a document stands for, by the one
// rule of JudgeEpisode. Built once per document: the stored articles are
// indexed by the signals that can join them with an item (key, text key,
// link, file, date), each item's candidates are judged by the rule, and the
// document's own items tell which signals several of them share.
//
// A candidate joined by a stronger row of the rule wins over one joined by
// a weaker; among several of one row, the key and the text key take the
// first in load order (as a walk from the newest would), while a weaker
// row joined to several articles tells nothing.
//
// Stored files are read only where the rule needs them: through the
// loaders, per article or (for the look-up by file) once for the feed.
//
// The articles must outlive the look-up and stay unchanged while it is used.
// Threads: the worker's thread; one object per document.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/feeds/tidewell_episode_identity.h"

namespace tidewell {

// A stored article as the look-up reads it: only what the rule needs.
struct TStoredArticle {
  int32_t id = 0;
  bool deleted = false;
  bool titleEmpty = true;
  TDateTime created = -1;
  TDateTime modified = -1;
  std::string guid;
  std::string md5;
  std::string link;
  std::u16string title;  // only of an article keyed by its texts
};
using TStoredArticles = std::vector<TStoredArticle>;

// A stored enclosure: its article and file.
struct TStoredFile {
  int32_t articleId = 0;
  TEpisodeFile file;
};

class TStoredArticlesIndex {
 public:
  using TLoadArticleFiles = std::function<std::vector<TEpisodeFile>(int32_t articleId)>;
  using TLoadFeedFiles = std::function<std::vector<TStoredFile>()>;

  // keysIgnoreCase: keys are compared trimmed, ignoring ASCII case (RSS),
  // else exactly (Atom).
  TStoredArticlesIndex(const TStoredArticles& stored, bool keysIgnoreCase, TLoadArticleFiles loadArticleFiles,
                       TLoadFeedFiles loadFeedFiles);

  // The feed's home page, before the first Find: an item that links to
  // it has no page of its own.
  void SetHomePage(const std::string& link);
  // Each item of the document, before the first Find.
  void AddDocumentItem(const TEpisodeFacts& item);
  // The position (in load order) of the stored article the item stands
  // for, or -1; verdict tells by which row of the rule.
  int32_t Find(const TEpisodeFacts& item, TEpisodeVerdict* verdict = nullptr);

  // The stored article at a position.
  const TStoredArticle& Article(int32_t position) const { return stored_[static_cast<size_t>(position)]; }
  // Whether the stored guid is a key made of the article's texts.
  static bool IsContentKey(const std::string& guid);
  // The key as this look-up compares it.
  std::string ComparableKey(const std::string& key) const;

 private:
  using TAllPositions = std::unordered_map<std::string, std::vector<int32_t>>;
  // Positions by the hash of a key, sorted: a few bytes an article where
  // every article has one.
  using THashedPositions = std::vector<std::pair<size_t, int32_t>>;
  static void AddOnce(TAllPositions& positions, const std::string& value, int32_t position);
  static const std::vector<int32_t>& FindAll(const TAllPositions& positions, const std::string& key);
  void FindHashed(const THashedPositions& positions, const std::string& key, bool byKey,
                  std::vector<int32_t>& found) const;
  std::vector<int32_t> Candidates(const TEpisodeFacts& item);
  void LoadFeedFiles();
  TEpisodeFacts StoredFacts(int32_t position, bool withFiles);
  TEpisodeShares SharesOf(const TEpisodeFacts& item);
  static std::string DateKey(TDateTime date);
  static std::string TitleKey(const TEpisodeFacts& item);

  const TStoredArticles& stored_;
  const bool keysIgnoreCase_;
  TLoadArticleFiles loadArticleFiles_;
  TLoadFeedFiles loadFeedFiles_;
  THashedPositions byKey_, byTextKey_;
  TAllPositions keylessByLink_, keylessByFile_, titlelessByDate_;
  std::unordered_map<int32_t, int32_t> keylessPositions_;  // article id -> position
  std::unordered_map<int32_t, std::vector<TEpisodeFile>> files_;  // article id -> its files, once read
  bool feedFilesLoaded_ = false;
  std::string homePage_;
  // How many items of the document hold each link, file, date, title.
  std::map<std::string, int32_t> documentLinks_, documentFiles_, documentDates_, documentTitles_;
};

}  // namespace tidewell
