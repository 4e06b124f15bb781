// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_stored_articles_index.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <functional>
#include <optional>
#include <string_view>

#include "engine/feeds/tidewell_feed_xml.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

// White space is what the wide-string trim takes (below 33): in UTF-8 the
// same bytes, none of them part of a longer character.
std::string_view TrimmedView(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) < 33; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string Trimmed(const std::string& text) { return std::string(TrimmedView(text)); }

std::string TrimmedFolded(const std::string& text) { return LowerAscii(Trimmed(text)); }

std::string LinkKey(const std::string& link) { return ComparableAddress(Trimmed(link)); }

char FoldedAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// FNV-1a, ASCII case folded where asked: tens of thousands of keys are
// hashed without a copy of any.
size_t Hash(std::string_view key, bool foldCase) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : key) {
    hash ^= static_cast<unsigned char>(foldCase ? FoldedAscii(c) : c);
    hash *= 1099511628211ull;
  }
  return static_cast<size_t>(hash);
}

// A site moved to https keeps its permalink keys: the part of the key
// after its scheme.
std::string_view WithoutHttpScheme(std::string_view key) {
  for (std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
    if (key.size() <= scheme.size()) continue;
    bool same = true;
    for (size_t i = 0; same && i < scheme.size(); ++i) same = FoldedAscii(key[i]) == scheme[i];
    if (same) return key.substr(scheme.size());
  }
  return key;
}

std::vector<int32_t> Sorted(std::vector<int32_t> positions) {
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

}  // namespace

std::vector<TEpisodeFile> KeptFiles(const std::string& list) {
  std::vector<TEpisodeFile> files;
  for (size_t start = 0; start < list.size();) {
    const size_t end = list.find('\n', start);
    if (end == std::string::npos) return {};
    const std::string line = list.substr(start, end - start);
    const size_t blank = line.find(' ');
    if (blank == std::string::npos || blank == 0 || blank + 1 == line.size() ||
        line.find_first_not_of("0123456789") != blank || blank > 9)
      return {};
    files.push_back({line.substr(blank + 1), static_cast<int32_t>(std::stol(line.substr(0, blank)))});
    start = end + 1;
  }
  return files;
}

TStoredArticlesIndex::TStoredArticlesIndex(TStoredArticles& stored, bool keysIgnoreCase,
                                           TStoredArticleLoaders loaders)
    : stored_(stored), keysIgnoreCase_(keysIgnoreCase), loaders_(std::move(loaders)) {
  byKey_.reserve(stored.size());
  byTextKey_.reserve(stored.size());
  bool everyDetailed = true;
  for (int32_t i = 0; i < static_cast<int32_t>(stored.size()); ++i) {
    const TStoredArticle& article = stored[static_cast<size_t>(i)];
    const std::string_view key = keysIgnoreCase_ ? TrimmedView(article.guid) : std::string_view(article.guid);
    byKey_.emplace_back(Hash(WithoutHttpScheme(key), keysIgnoreCase_), i);
    byTextKey_.emplace_back(Hash(TrimmedView(article.md5), true), i);
    everyDetailed = everyDetailed && article.detailed;
    if (IsContentKey(article.guid)) keylessPositions_.emplace_back(article.id, i);
  }
  std::sort(byKey_.begin(), byKey_.end());
  std::sort(byTextKey_.begin(), byTextKey_.end());
  std::sort(keylessPositions_.begin(), keylessPositions_.end());
  if (everyDetailed) IndexArticlesWithoutKey();
}

void TStoredArticlesIndex::IndexArticlesWithoutKey() {
  keylessIndexed_ = true;
  for (const auto& [id, position] : keylessPositions_) {
    const TStoredArticle& article = Article(position);
    const std::string link = LinkKey(article.link);
    if (!link.empty()) AddOnce(keylessByLink_, link, position);
    // Deleted unheard, it kept neither title nor files: its date stands
    // for them.
    if (article.deleted && article.titleEmpty && article.created > 0)
      AddOnce(titlelessByDate_, DateKey(article.created), position);
  }
  // Positions in load order, as a walk of the articles would add them.
  for (TAllPositions* positions : {&keylessByLink_, &titlelessByDate_})
    for (auto& [key, at] : *positions) std::sort(at.begin(), at.end());
}

// An article gone since its keys were read is taken as deleted: nothing
// is written to it, and the next document no longer finds it.
void TStoredArticlesIndex::Detail(const std::vector<int32_t>& positions) {
  std::vector<int32_t> missing;
  for (int32_t position : positions)
    if (!Article(position).detailed) missing.push_back(position);
  if (missing.empty()) return;
  if (MostOfTheFeed(missing.size())) return DetailEveryArticle();
  loaders_.details(stored_, missing);
  for (int32_t position : missing) {
    TStoredArticle& article = stored_[static_cast<size_t>(position)];
    if (!article.detailed) article.deleted = article.detailed = true;
  }
}

// Articles are detailed without the titles of those with a key of the
// publisher's: where that key decides nothing, their titles are read.
void TStoredArticlesIndex::ReadTitles(const std::vector<int32_t>& positions) {
  std::vector<int32_t> missing;
  for (int32_t position : positions) {
    const TStoredArticle& article = Article(position);
    if (!article.titleRead && !article.titleEmpty) missing.push_back(position);
  }
  if (!missing.empty() && loaders_.titles) loaders_.titles(stored_, missing);
}

// Where the items find much of the feed, one read of it costs less.
bool TStoredArticlesIndex::MostOfTheFeed(size_t articles) const { return articles * 4 > stored_.size(); }

void TStoredArticlesIndex::DetailEveryArticle() {
  if (keylessIndexed_) return;
  loaders_.allDetails(stored_);
  for (TStoredArticle& article : stored_)
    if (!article.detailed) article.deleted = article.detailed = true;
  IndexArticlesWithoutKey();
}

void TStoredArticlesIndex::FindHashed(const THashedPositions& positions, const std::string& key, bool byKey,
                                      std::vector<int32_t>& found) const {
  const size_t hash = Hash(key, byKey ? keysIgnoreCase_ : true);
  const auto first = std::lower_bound(positions.begin(), positions.end(), std::make_pair(hash, INT32_MIN));
  for (auto at = first; at != positions.end() && at->first == hash; ++at) {
    const TStoredArticle& article = Article(at->second);
    if ((byKey ? ComparableKey(article.guid) : TrimmedFolded(article.md5)) == key) found.push_back(at->second);
  }
}

std::string TStoredArticlesIndex::ComparableKey(const std::string& key) const {
  const std::string compared = keysIgnoreCase_ ? TrimmedFolded(key) : key;
  return std::string(WithoutHttpScheme(compared));
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
  const std::string_view key = TrimmedView(guid);
  if (key.size() != 36 || key.compare(0, 4, "MD5-") != 0) return false;
  return key.find_first_not_of("0123456789ABCDEFabcdef", 4) == std::string::npos;
}

int32_t TStoredArticlesIndex::KeylessPosition(int32_t articleId) const {
  const auto found = std::lower_bound(keylessPositions_.begin(), keylessPositions_.end(),
                                      std::make_pair(articleId, INT32_MIN));
  return found != keylessPositions_.end() && found->first == articleId ? found->second : -1;
}

namespace {

std::string WithoutTrailingSlash(std::string address) {
  while (!address.empty() && address.back() == '/') address.pop_back();
  return address;
}

}  // namespace

void TStoredArticlesIndex::SetHomePage(const std::string& link) { homePage_ = LinkKey(link); }

bool TStoredArticlesIndex::IsHomePage(const std::string& address) const {
  return !homePage_.empty() && WithoutTrailingSlash(LinkKey(address)) == WithoutTrailingSlash(homePage_);
}

void TStoredArticlesIndex::AddDocumentItem(const TEpisodeFacts& item) {
  documentItems_.push_back(item);
  if (!item.link.empty()) ++documentLinks_[LinkKey(item.link)];
  if (!item.files.empty()) ++documentFiles_[EnclosureFileIdentity(item.files.front().url)];
  if (item.date) ++documentDates_[DateKey(*item.date)];
  if (!item.title.empty()) ++documentTitles_[TitleKey(item)];
  if (item.keyed) ++documentKeys_[ComparableKey(item.key)];
}

void TStoredArticlesIndex::LoadFeedFiles() {
  if (feedFilesLoaded_) return;
  feedFilesLoaded_ = true;
  for (const TStoredFile& stored : loaders_.feedFiles()) {
    if (stored.file.url.empty()) continue;
    const int32_t position = KeylessPosition(stored.articleId);
    if (position < 0) continue;
    files_[stored.articleId].push_back(stored.file);
    AddOnce(keylessByFile_, EnclosureFileIdentity(stored.file.url), position);
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
  // The site's address as the guid is every item's, though a feed of its
  // latest episode shows one item at a time.
  shares.sharedKey = item.keyed && (!atMostOne(documentKeys_, item.key) || IsHomePage(item.key));
  shares.stampedDate = stampedDates_;
  return shares;
}

TEpisodeFacts TStoredArticlesIndex::StoredFacts(int32_t position, bool withFiles) {
  Detail({position});
  const TStoredArticle& article = Article(position);
  TEpisodeFacts facts;
  facts.keyed = !IsContentKey(article.guid);
  facts.key = ComparableKey(article.guid);
  facts.textKey = Trimmed(article.md5);
  facts.link = Trimmed(article.link);
  facts.title = ComparableTitle(article.title);
  facts.titleKnown = !article.titleEmpty && !facts.title.empty();
  // A deletion heard keeps the files that were downloaded; one unheard the
  // addresses of its files (unless an earlier version deleted it).
  facts.filesKnown = !article.deleted || article.heard;
  facts.deleted = article.deleted;
  if (article.created > 0) facts.date = article.created;
  if (article.deleted && !article.heard) {
    if (article.keptFiles) facts.files = KeptFiles(*article.keptFiles);
    facts.filesKnown = !facts.files.empty();
    return facts;
  }
  if (!withFiles) return facts;
  auto files = files_.find(article.id);
  if (files == files_.end()) {
    const bool read = feedFilesLoaded_ && KeylessPosition(article.id) >= 0;
    files = files_.emplace(article.id, read ? std::vector<TEpisodeFile>() : loaders_.articleFiles(article.id)).first;
  }
  facts.files = files->second;
  return facts;
}

std::vector<int32_t> TStoredArticlesIndex::KeyCandidates(const TEpisodeFacts& item) const {
  std::vector<int32_t> candidates;
  if (item.keyed) FindHashed(byKey_, item.key, true, candidates);
  FindHashed(byTextKey_, TrimmedFolded(item.textKey), false, candidates);
  return Sorted(candidates);
}

std::vector<int32_t> TStoredArticlesIndex::Candidates(const TEpisodeFacts& item) {
  std::vector<int32_t> candidates = KeyCandidates(item);
  const auto append = [&](const std::vector<int32_t>& positions) {
    candidates.insert(candidates.end(), positions.begin(), positions.end());
  };
  // Articles without key, for an item with one too: its guids may be new.
  if (keylessPositions_.empty()) return candidates;
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

// Only the key and the text key give these rows: a candidate found another
// way is judged weaker, so it cannot change the verdict.
bool TStoredArticlesIndex::DecidedByKeys(const TJudgement& judgement) {
  return judgement.best >= 0 && (judgement.row == TEpisodeRow::byKey || judgement.row == TEpisodeRow::byTextKey);
}

// Several articles joined by a weak row are copies an earlier version made
// when each holds the item's file (the newest is taken); else they are
// episodes the row cannot tell apart.
TStoredArticlesIndex::TJudgement TStoredArticlesIndex::JudgeCandidates(const TEpisodeFacts& item,
                                                                       const std::vector<int32_t>& candidates) {
  Detail(candidates);
  TJudgement judgement;
  bool allHoldTheFile = true;
  const TEpisodeShares shares = SharesOf(item);
  if (shares.sharedKey) ReadTitles(candidates);
  for (int32_t position : candidates) {
    // The key decides alone; files are read only where it does not.
    const bool keyDecides = item.keyed && !shares.sharedKey && !Article(position).deleted &&
                            item.key == ComparableKey(Article(position).guid);
    const TEpisodeFacts stored = StoredFacts(position, !keyDecides);
    const TEpisodeVerdict verdict = JudgeEpisode(item, stored, shares);
    if (!verdict.same) continue;
    if (verdict.row < judgement.row) {
      judgement = {position, verdict.row, verdict.moves, false};
      allHoldTheFile = SharesAFile(item, stored);
    } else if (verdict.row == judgement.row && verdict.row >= TEpisodeRow::byOwnLink) {
      allHoldTheFile = allHoldTheFile && SharesAFile(item, stored);
      judgement.ambiguous = !allHoldTheFile;
    }
  }
  return judgement;
}

// Before the document writes: the articles its items find by their keys;
// every article where these are most of the feed or where an item needs
// the articles without key.
void TStoredArticlesIndex::ReadWhatItemsNeed() {
  itemsRead_ = true;
  std::vector<int32_t> positions;
  for (TEpisodeFacts& item : documentItems_) {
    item.key = ComparableKey(item.key);
    const std::vector<int32_t> candidates = KeyCandidates(item);
    positions.insert(positions.end(), candidates.begin(), candidates.end());
  }
  positions = Sorted(positions);
  Detail(positions);
  NoteStampedDates();
  bool everyArticle = MostOfTheFeed(positions.size());
  if (!everyArticle && !keylessPositions_.empty())
    for (const TEpisodeFacts& item : documentItems_)
      if (!DecidedByKeys(JudgeCandidates(item, KeyCandidates(item)))) {
        everyArticle = true;
        break;
      }
  documentItems_ = {};
  if (everyArticle) DetailEveryArticle();
  if (loaders_.noteNeed) loaders_.noteNeed(everyArticle);
}

// A feed that dates its items at every fetch gives every item one date,
// or moves the date of every item whose texts are as they were by the same
// amount since it was stored.
void TStoredArticlesIndex::NoteStampedDates() {
  constexpr double kSecond = 1.0 / 86400;
  std::optional<TDateTime> oneDate, shift;
  size_t dated = 0, moved = 0;
  bool allOneDate = true, allAlike = true;
  for (const TEpisodeFacts& item : documentItems_) {
    if (!item.date) continue;
    ++dated;
    allOneDate = allOneDate && (!oneDate || std::fabs(*oneDate - *item.date) < kSecond);
    oneDate = item.date;
    // Only an item whose texts are as they were tells how far its date
    // moved: a key the publisher gives the next episode tells nothing.
    for (int32_t position : KeyCandidates(item)) {
      const TStoredArticle& article = Article(position);
      if (TrimmedFolded(article.md5) != TrimmedFolded(item.textKey) || article.created <= 0) continue;
      const TDateTime by = *item.date - article.created;
      allAlike = allAlike && (!shift || std::fabs(*shift - by) < kSecond);
      shift = by;
      ++moved;
      break;
    }
  }
  stampedDates_ = (dated >= 2 && allOneDate) || (moved >= 2 && allAlike && std::fabs(*shift) >= kSecond);
}

int32_t TStoredArticlesIndex::Find(const TEpisodeFacts& itemFacts, TEpisodeVerdict* verdictOut) {
  if (!itemsRead_) ReadWhatItemsNeed();
  TEpisodeFacts item = itemFacts;
  item.key = ComparableKey(item.key);
  const bool keylessWereIndexed = keylessIndexed_;
  TJudgement judgement = JudgeCandidates(item, Candidates(item));
  // An item the document did not announce (none does today), or articles
  // without key indexed only while its candidates were detailed.
  if (!DecidedByKeys(judgement) && !keylessPositions_.empty() && !keylessWereIndexed) {
    DetailEveryArticle();
    judgement = JudgeCandidates(item, Candidates(item));
  }
  // The files of the articles without key: the feed's files are read once.
  if ((judgement.best < 0 || judgement.row > TEpisodeRow::byOwnLink) && !feedFilesLoaded_ && !item.files.empty() &&
      !keylessPositions_.empty()) {
    LoadFeedFiles();
    judgement = JudgeCandidates(item, Candidates(item));
  }
  if (judgement.ambiguous) judgement.best = -1;
  if (verdictOut != nullptr)
    *verdictOut = judgement.best < 0 ? TEpisodeVerdict{} : TEpisodeVerdict{true, judgement.row, judgement.moves};
  return judgement.best;
}

}  // namespace tidewell
