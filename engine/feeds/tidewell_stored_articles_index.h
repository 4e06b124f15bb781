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
// What is read costs: a feed may hold 50,000 articles, and every row read
// costs whatever its columns. So the articles come with their keys only;
// the rest of a row (its texts, dates, deletion) is read for the articles
// the document's items find by key or text key, before the first item is
// stored, and for every article only when an item without keys, or
// unknown by them, needs the articles without key (rows weaker than the
// text key never win over it, so until then they cannot change a verdict).
// The titles of articles with a key of the publisher's are read only where
// an item's key decides nothing (the site's address on every item).
// Stored files are read only where the rule needs them: through the
// loaders, per article or (for the look-up by file) once for the feed.
//
// The articles must outlive the look-up and stay unchanged while it is used.
// Threads: the worker's thread; one object per document.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/feeds/tidewell_episode_identity.h"

namespace tidewell {

// A stored article as the look-up reads it: only what the rule needs. Id,
// guid and md5 are always read; the others once detailed.
struct TStoredArticle {
  int32_t id = 0;
  bool detailed = false;
  bool deleted = false;
  bool heard = false;  // deleted after its download: its downloaded files stay
  bool titleEmpty = true;
  TDateTime created = -1;
  TDateTime modified = -1;
  std::string guid;
  std::string md5;
  std::string link;
  std::u16string title;  // only of an article keyed by its texts, or once read (titleRead)
  bool titleRead = false;
  // Of an article deleted unheard: the files the deletion removed, a line
  // each ("length url"), the list ending in a line break; empty where the
  // deletion kept none (an earlier version's). Held apart: most articles
  // have none, and a feed may hold 50,000.
  std::shared_ptr<const std::string> keptFiles;
};

// The files a deletion kept the addresses of; none where the list is cut
// short or empty.
std::vector<TEpisodeFile> KeptFiles(const std::string& list);
using TStoredArticles = std::vector<TStoredArticle>;

// A stored enclosure: its article and file.
struct TStoredFile {
  int32_t articleId = 0;
  TEpisodeFile file;
};

// What the look-up reads of the database, when it needs it.
struct TStoredArticleLoaders {
  std::function<std::vector<TEpisodeFile>(int32_t articleId)> articleFiles;
  std::function<std::vector<TStoredFile>()> feedFiles;
  // Details the articles at these positions.
  std::function<void(TStoredArticles& articles, const std::vector<int32_t>& positions)> details;
  // Details every article.
  std::function<void(TStoredArticles& articles)> allDetails;
  // Reads the titles of the detailed articles at these positions.
  std::function<void(TStoredArticles& articles, const std::vector<int32_t>& positions)> titles;
  // Told once the document's items are known: whether every article was
  // best read at once for them (the next document's likely is too).
  std::function<void(bool everyArticle)> noteNeed;
};

class TStoredArticlesIndex {
 public:
  // keysIgnoreCase: keys are compared trimmed, ignoring ASCII case (RSS),
  // else exactly (Atom).
  TStoredArticlesIndex(TStoredArticles& stored, bool keysIgnoreCase, TStoredArticleLoaders loaders);

  // The feed's home page, before the first Find: an item that links to
  // it has no page of its own.
  void SetHomePage(const std::string& link);
  // Each item of the document, before the first Find.
  void AddDocumentItem(const TEpisodeFacts& item);
  // The position (in load order) of the stored article the item stands
  // for, or -1; verdict tells by which row of the rule. The first call
  // reads what the document's items need, so it comes before the
  // document writes.
  int32_t Find(const TEpisodeFacts& item, TEpisodeVerdict* verdict = nullptr);

  // The stored article at a position (detailed, where Find gave it).
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
  struct TJudgement {
    int32_t best = -1;
    TEpisodeRow row = TEpisodeRow::none;
    TFileMoves moves = TFileMoves::none;
    bool ambiguous = false;
  };
  std::vector<int32_t> KeyCandidates(const TEpisodeFacts& item) const;
  std::vector<int32_t> Candidates(const TEpisodeFacts& item);
  TJudgement JudgeCandidates(const TEpisodeFacts& item, const std::vector<int32_t>& candidates);
  static bool DecidedByKeys(const TJudgement& judgement);
  void ReadWhatItemsNeed();
  void NoteStampedDates();
  bool MostOfTheFeed(size_t articles) const;
  void Detail(const std::vector<int32_t>& positions);
  void ReadTitles(const std::vector<int32_t>& positions);
  void DetailEveryArticle();
  void IndexArticlesWithoutKey();
  void LoadFeedFiles();
  int32_t KeylessPosition(int32_t articleId) const;
  TEpisodeFacts StoredFacts(int32_t position, bool withFiles);
  TEpisodeShares SharesOf(const TEpisodeFacts& item);
  bool IsHomePage(const std::string& address) const;
  static std::string DateKey(TDateTime date);
  static std::string TitleKey(const TEpisodeFacts& item);

  TStoredArticles& stored_;
  const bool keysIgnoreCase_;
  TStoredArticleLoaders loaders_;
  bool itemsRead_ = false;        // what the document's items need is read
  bool keylessIndexed_ = false;   // the articles without key by link and date
  bool stampedDates_ = false;     // the document's dates are the feed's stamp
  std::vector<TEpisodeFacts> documentItems_;
  THashedPositions byKey_, byTextKey_;
  TAllPositions keylessByLink_, keylessByFile_, titlelessByDate_;
  std::vector<std::pair<int32_t, int32_t>> keylessPositions_;  // (article id, position), sorted
  std::unordered_map<int32_t, std::vector<TEpisodeFile>> files_;  // article id -> its files, once read
  bool feedFilesLoaded_ = false;
  std::string homePage_;
  // How many items of the document hold each link, file, date, title.
  std::map<std::string, int32_t> documentLinks_, documentFiles_, documentDates_, documentTitles_, documentKeys_;
};

}  // namespace tidewell
