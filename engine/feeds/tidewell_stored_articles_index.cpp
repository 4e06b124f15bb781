// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_stored_articles_index.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>

#include "engine/feeds/tidewell_feed_xml.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

// White space is what the wide-string trim takes (below 33): in UTF-8 the
// same bytes, none of them part of a longer character.
std::string Trimmed(const std::string& text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) < 33; };
  size_t begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string TrimmedFolded(const std::string& text) { return LowerAscii(Trimmed(text)); }

std::string LinkKey(const std::string& link) { return ComparableAddress(Trimmed(link)); }

// A site moved to https keeps its permalink keys.
std::string WithoutHttpScheme(const std::string& key) {
  for (const char* scheme : {"http://", "https://"}) {
    const size_t length = std::char_traits<char>::length(scheme);
    if (key.size() > length && LowerAscii(key.substr(0, length)) == scheme) return key.substr(length);
  }
  return key;
}

size_t Hash(const std::string& key) { return std::hash<std::string>()(key); }

std::vector<int32_t> Sorted(std::vector<int32_t> positions) {
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

}  // namespace

TStoredArticlesIndex::TStoredArticlesIndex(const TStoredArticles& stored, bool keysIgnoreCase,
                                           TLoadArticleFiles loadArticleFiles, TLoadFeedFiles loadFeedFiles)
    : stored_(stored),
      keysIgnoreCase_(keysIgnoreCase),
      loadArticleFiles_(std::move(loadArticleFiles)),
      loadFeedFiles_(std::move(loadFeedFiles)) {
  byKey_.reserve(stored.size());
  byTextKey_.reserve(stored.size());
  for (int32_t i = 0; i < static_cast<int32_t>(stored.size()); ++i) {
    const TStoredArticle& article = stored[static_cast<size_t>(i)];
    byKey_.emplace_back(Hash(ComparableKey(article.guid)), i);
    byTextKey_.emplace_back(Hash(TrimmedFolded(article.md5)), i);
    if (!IsContentKey(article.guid)) continue;
    keylessPositions_.emplace(article.id, i);
    const std::string link = LinkKey(article.link);
    if (!link.empty()) AddOnce(keylessByLink_, link, i);
    // Deleted unheard, it kept neither title nor files: its date stands
    // for them.
    if (article.deleted && article.titleEmpty && article.created > 0)
      AddOnce(titlelessByDate_, DateKey(article.created), i);
  }
  std::sort(byKey_.begin(), byKey_.end());
  std::sort(byTextKey_.begin(), byTextKey_.end());
}

void TStoredArticlesIndex::FindHashed(const THashedPositions& positions, const std::string& key, bool byKey,
                                      std::vector<int32_t>& found) const {
  const auto first = std::lower_bound(positions.begin(), positions.end(), std::make_pair(Hash(key), INT32_MIN));
  for (auto at = first; at != positions.end() && at->first == first->first; ++at) {
    const TStoredArticle& article = Article(at->second);
    if ((byKey ? ComparableKey(article.guid) : TrimmedFolded(article.md5)) == key) found.push_back(at->second);
  }
}

std::string TStoredArticlesIndex::ComparableKey(const std::string& key) const {
  return WithoutHttpScheme(keysIgnoreCase_ ? TrimmedFolded(key) : key);
}

std::string TStoredArticlesIndex::DateKey(TDateTime date) { return std::to_string(std::llround(date * 86400)); }

std::string TStoredArticlesIndex::TitleKey(const TEpisodeFacts& item) {
  return kt::WideToUtf8(item.title) + '\n' + LinkKey(item.link);
}

void TStoredArticlesIndex::AddOnce(TAllPositions& positions, const std::string& value, int32_t position) {
  std::vector<int32_t>& at = positions[value];
  if (at.empty() || at.back() != position) at.push_back(position);
}

const std::vector<int32_t>& TStoredArticlesIndex::FindAll(const TAllPositions& positions, const std::string& key) {
  static const std::vector<int32_t> none;
  const auto found = positions.find(key);
  return found == positions.end() ? none : found->second;
}

bool TStoredArticlesIndex::IsContentKey(const std::string& guid) {
  const std::string key = Trimmed(guid);
  if (key.size() != 36 || key.compare(0, 4, "MD5-") != 0) return false;
  return key.find_first_not_of("0123456789ABCDEFabcdef", 4) == std::string::npos;
}

void TStoredArticlesIndex::SetHomePage(const std::string& link) { homePage_ = LinkKey(link); }

void TStoredArticlesIndex::AddDocumentItem(const TEpisodeFacts& item) {
  if (!item.link.empty()) ++documentLinks_[LinkKey(item.link)];
  if (!item.files.empty()) ++documentFiles_[EnclosureFileIdentity(item.files.front().url)];
  if (item.date) ++documentDates_[DateKey(*item.date)];
  if (!item.title.empty()) ++documentTitles_[TitleKey(item)];
}

void TStoredArticlesIndex::LoadFeedFiles() {
  if (feedFilesLoaded_) return;
  feedFilesLoaded_ = true;
  for (const TStoredFile& stored : loadFeedFiles_()) {
    if (stored.file.url.empty()) continue;
    const auto position = keylessPositions_.find(stored.articleId);
    if (position == keylessPositions_.end()) continue;
    files_[stored.articleId].push_back(stored.file);
    AddOnce(keylessByFile_, EnclosureFileIdentity(stored.file.url), position->second);
  }
}

TEpisodeShares TStoredArticlesIndex::SharesOf(const TEpisodeFacts& item) {
  const auto atMostOne = [](const std::map<std::string, int32_t>& counts, const std::string& key) {
    const auto found = counts.find(key);
    return found == counts.end() || found->second <= 1;
  };
  TEpisodeShares shares;
  const std::string link = LinkKey(item.link);
  shares.ownLink = !link.empty() && link != homePage_ && atMostOne(documentLinks_, link) &&
                   FindAll(keylessByLink_, link).size() <= 1;
  if (!item.files.empty() && feedFilesLoaded_) {
    const std::string file = EnclosureFileIdentity(item.files.front().url);
    shares.ownFile = atMostOne(documentFiles_, file) && FindAll(keylessByFile_, file).size() <= 1;
  }
  shares.ownDate = item.date && atMostOne(documentDates_, DateKey(*item.date));
  shares.ownTitle = !item.title.empty() && atMostOne(documentTitles_, TitleKey(item));
  return shares;
}

TEpisodeFacts TStoredArticlesIndex::StoredFacts(int32_t position, bool withFiles) {
  const TStoredArticle& article = Article(position);
  TEpisodeFacts facts;
  facts.keyed = !IsContentKey(article.guid);
  facts.key = ComparableKey(article.guid);
  facts.textKey = Trimmed(article.md5);
  facts.link = Trimmed(article.link);
  facts.title = ComparableTitle(article.title);
  facts.titleKnown = !article.titleEmpty && !facts.title.empty();
  // A deletion keeps only the files that were downloaded.
  facts.filesKnown = !article.deleted;
  facts.deleted = article.deleted;
  if (article.created > 0) facts.date = article.created;
  if (!withFiles || (article.deleted && article.titleEmpty)) return facts;
  auto files = files_.find(article.id);
  if (files == files_.end()) {
    const bool read = feedFilesLoaded_ && keylessPositions_.count(article.id) != 0;
    files = files_.emplace(article.id, read ? std::vector<TEpisodeFile>() : loadArticleFiles_(article.id)).first;
  }
  facts.files = files->second;
  return facts;
}

std::vector<int32_t> TStoredArticlesIndex::Candidates(const TEpisodeFacts& item) {
  std::vector<int32_t> candidates;
  const auto append = [&](const std::vector<int32_t>& positions) {
    candidates.insert(candidates.end(), positions.begin(), positions.end());
  };
  if (item.keyed) FindHashed(byKey_, item.key, true, candidates);
  FindHashed(byTextKey_, TrimmedFolded(item.textKey), false, candidates);
  // Articles without key, for an item with one too: its guids may be new.
  if (keylessPositions_.empty()) return Sorted(candidates);
  if (!item.link.empty()) append(FindAll(keylessByLink_, LinkKey(item.link)));
  if (!item.relativeLink.empty()) append(FindAll(keylessByLink_, LinkKey(item.relativeLink)));
  if (feedFilesLoaded_)
    for (const TEpisodeFile& file : item.files) append(FindAll(keylessByFile_, EnclosureFileIdentity(file.url)));
  if (item.date) append(FindAll(titlelessByDate_, DateKey(*item.date)));
  return Sorted(candidates);
}

namespace {

bool SharesAFile(const TEpisodeFacts& item, const TEpisodeFacts& stored) {
  for (const TEpisodeFile& a : item.files)
    for (const TEpisodeFile& b : stored.files)
      if (SameFile(a, b)) return true;
  return false;
}

}  // namespace

int32_t TStoredArticlesIndex::Find(const TEpisodeFacts& itemFacts, TEpisodeVerdict* verdictOut) {
  TEpisodeFacts item = itemFacts;
  item.key = ComparableKey(item.key);
  int32_t best = -1;
  TEpisodeRow bestRow = TEpisodeRow::none;
  bool bestUnchanged = false;
  bool ambiguous = false;
  const auto judgeAll = [&] {
    best = -1;
    bestRow = TEpisodeRow::none;
    ambiguous = false;
    // Several articles joined by a weak row are copies an earlier version
    // made when each holds the item's file (the newest is taken); else they
    // are episodes the row cannot tell apart.
    bool allHoldTheFile = true;
    const TEpisodeShares shares = SharesOf(item);
    for (int32_t position : Candidates(item)) {
      // The key decides alone; files are read only where it does not.
      const bool keyDecides = item.keyed && item.key == ComparableKey(Article(position).guid);
      const TEpisodeFacts stored = StoredFacts(position, !keyDecides);
      const TEpisodeVerdict verdict = JudgeEpisode(item, stored, shares);
      if (!verdict.same) continue;
      if (verdict.row < bestRow) {
        best = position;
        bestRow = verdict.row;
        bestUnchanged = verdict.unchanged;
        allHoldTheFile = SharesAFile(item, stored);
        ambiguous = false;
      } else if (verdict.row == bestRow && verdict.row >= TEpisodeRow::byOwnLink) {
        allHoldTheFile = allHoldTheFile && SharesAFile(item, stored);
        ambiguous = !allHoldTheFile;
      }
    }
  };
  judgeAll();
  // The files of the articles without key: the feed's files are read once.
  if ((best < 0 || bestRow > TEpisodeRow::byOwnLink) && !feedFilesLoaded_ && !item.files.empty() &&
      !keylessPositions_.empty()) {
    LoadFeedFiles();
    judgeAll();
  }
  if (ambiguous) best = -1;
  if (verdictOut != nullptr) *verdictOut = best < 0 ? TEpisodeVerdict{} : TEpisodeVerdict{true, bestRow, bestUnchanged};
  return best;
}

}  // namespace tidewell
