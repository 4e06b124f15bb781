// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_keyless_items.h"

#include "engine/feeds/tidewell_stored_articles_index.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

std::string Trimmed(const std::string& text) { return kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(text))); }

}  // namespace

std::string TKeylessItems::EpisodeKey(const TKeylessItem& item) {
  const std::string title = kt::WideToUtf8(StoredTitleOf(item.title)) + '\n';
  const std::string link = Trimmed(item.link);
  if (!link.empty()) return title + "link " + link;
  if (!item.enclosureUrl.empty()) return title + "file " + EnclosureFileIdentity(item.enclosureUrl);
  return {};
}

void TKeylessItems::Add(const TKeylessItem& item) {
  const std::string key = EpisodeKey(item);
  if (!key.empty()) ++counts_[key];
}

// Earlier versions stored links as the document had them, this one
// resolved.
std::vector<int32_t> TKeylessItems::Candidates(TStoredArticlesIndex& index, const TKeylessItem& item,
                                               const TResolve& resolve, const TLoadUrls& loadUrls) {
  std::vector<int32_t> candidates;
  const auto append = [&](const std::vector<int32_t>& positions) {
    candidates.insert(candidates.end(), positions.begin(), positions.end());
  };
  const std::string link = Trimmed(item.link);
  if (!link.empty()) {
    append(index.KeylessByLink(resolve(link)));
    append(index.KeylessByLink(link));
    return candidates;
  }
  if (!index.HasEnclosureUrls()) index.AddEnclosureUrls(loadUrls());
  append(index.KeylessByFile(EnclosureFileIdentity(resolve(item.enclosureUrl))));
  append(index.KeylessByFile(EnclosureFileIdentity(item.enclosureUrl)));
  return candidates;
}

int32_t TKeylessItems::Find(TStoredArticlesIndex& index, const TKeylessItem& item, const TResolve& resolve,
                            const TLoadUrls& loadUrls) const {
  const auto count = counts_.find(EpisodeKey(item));
  if (count == counts_.end() || count->second != 1) return -1;
  int32_t found = -1;
  for (int32_t position : Candidates(index, item, resolve, loadUrls)) {
    if (position == found || !SameEpisode(index.Article(position), item)) continue;
    // Two stored articles are this episode: it tells nothing.
    if (found >= 0) return -1;
    found = position;
  }
  return found;
}

}  // namespace tidewell
