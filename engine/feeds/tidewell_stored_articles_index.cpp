// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_stored_articles_index.h"

#include "engine/feeds/tidewell_episode_identity.h"
#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/model/articles.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

std::string TrimmedFolded(const std::string& text) {
  return LowerAscii(kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(text))));
}

std::string ContentKey(const std::string& md5, const std::string& link) {
  return LowerAscii(md5) + '\n' + LowerAscii(link);
}

}  // namespace

TStoredArticlesIndex::TStoredArticlesIndex(const TArticles& stored) : stored_(stored) {
  // emplace keeps the first position of a key.
  for (int32_t i = 0; i < stored.GetCount(); ++i) {
    const TArticleProperty* article = stored.GetItem(i);
    guidFolded_.emplace(TrimmedFolded(article->Guid), i);
    guidExact_.emplace(article->Guid, i);
    md5Folded_.emplace(TrimmedFolded(article->ArticleMD5), i);
    md5Exact_.emplace(article->ArticleMD5, i);
    contents_.insert(ContentKey(article->ArticleMD5, article->Link));
    if (!IsContentKey(article->Guid)) continue;
    keylessPositions_.emplace(article->ArticleId, i);
    const std::string link = kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(article->Link)));
    if (!link.empty()) AddOnce(keylessByLink_, link, i);
  }
}

void TStoredArticlesIndex::AddOnce(TAllPositions& positions, const std::string& value, int32_t position) {
  std::vector<int32_t>& at = positions[value];
  if (at.empty() || at.back() != position) at.push_back(position);
}

bool TStoredArticlesIndex::IsContentKey(const std::string& guid) {
  const std::string key = kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(guid)));
  if (key.size() != 36 || key.compare(0, 4, "MD5-") != 0) return false;
  return key.find_first_not_of("0123456789ABCDEFabcdef", 4) == std::string::npos;
}

const std::vector<int32_t>& TStoredArticlesIndex::KeylessByLink(const std::string& link) const {
  return FindAll(keylessByLink_, link);
}

void TStoredArticlesIndex::AddEnclosureUrls(const std::vector<std::pair<int32_t, std::string>>& urls) {
  enclosuresAdded_ = true;
  for (const auto& [articleId, url] : urls) {
    const auto position = keylessPositions_.find(articleId);
    if (position != keylessPositions_.end() && !url.empty())
      AddOnce(keylessByFile_, EnclosureFileIdentity(url), position->second);
  }
}

const std::vector<int32_t>& TStoredArticlesIndex::KeylessByFile(const std::string& fileIdentity) const {
  return FindAll(keylessByFile_, fileIdentity);
}

const TArticleProperty& TStoredArticlesIndex::Article(int32_t position) const { return *stored_.GetItem(position); }

const std::vector<int32_t>& TStoredArticlesIndex::FindAll(const TAllPositions& positions, const std::string& key) {
  static const std::vector<int32_t> none;
  const auto found = positions.find(key);
  return found == positions.end() ? none : found->second;
}

int32_t TStoredArticlesIndex::Find(const TFirstPositions& positions, const std::string& key) {
  const auto found = positions.find(key);
  return found == positions.end() ? -1 : found->second;
}

int32_t TStoredArticlesIndex::FirstByGuidIgnoringCase(const std::string& guid) const {
  return Find(guidFolded_, TrimmedFolded(guid));
}

int32_t TStoredArticlesIndex::FirstByGuid(const std::string& guid) const { return Find(guidExact_, guid); }

int32_t TStoredArticlesIndex::FirstByMd5IgnoringCase(const std::string& md5) const {
  return Find(md5Folded_, TrimmedFolded(md5));
}

int32_t TStoredArticlesIndex::FirstByMd5(const std::string& md5) const { return Find(md5Exact_, md5); }

bool TStoredArticlesIndex::HasContent(const std::string& md5, const std::string& link) const {
  return contents_.count(ContentKey(md5, link)) > 0;
}

}  // namespace tidewell
