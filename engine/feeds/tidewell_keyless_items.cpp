// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_keyless_items.h"

#include "engine/feeds/tidewell_stored_articles_index.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

std::string Trimmed(const std::string& text) { return kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(text))); }

}  // namespace

void TKeylessItems::Add(const std::string& link, const std::string& enclosureUrl) {
  const std::string trimmed = Trimmed(link);
  if (!trimmed.empty()) ++links_[trimmed];
  // Only an item without a link is found by its enclosure.
  else if (!enclosureUrl.empty()) ++urls_[enclosureUrl];
}

bool TKeylessItems::OnlyOne(const std::unordered_map<std::string, int32_t>& counts, const std::string& value) const {
  const auto found = counts.find(value);
  return found != counts.end() && found->second == 1;
}

int32_t TKeylessItems::Find(TStoredArticlesIndex& index, const std::string& link, const std::string& enclosureUrl,
                            const TResolve& resolve, const TLoadUrls& loadUrls) const {
  const std::string trimmed = Trimmed(link);
  // Earlier versions stored links as the document had them, this one
  // resolved.
  if (!trimmed.empty()) {
    if (!OnlyOne(links_, trimmed)) return -1;
    const int32_t position = index.OnlyKeylessByLink(resolve(trimmed));
    return position >= 0 ? position : index.OnlyKeylessByLink(trimmed);
  }
  if (enclosureUrl.empty() || !OnlyOne(urls_, enclosureUrl)) return -1;
  if (!index.HasEnclosureUrls()) index.AddEnclosureUrls(loadUrls());
  const int32_t position = index.OnlyKeylessByEnclosure(resolve(enclosureUrl));
  return position >= 0 ? position : index.OnlyKeylessByEnclosure(enclosureUrl);
}

}  // namespace tidewell
