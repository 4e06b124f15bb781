// SPDX-License-Identifier: MIT
// The items of one document that have no guid, so that their key is made of
// their texts: when those texts change (a play counter, "3 hours ago", a
// rotating advert) the key changes with them. Such an item stands for the
// stored keyless article of its feed that is the same episode
// (SameEpisode: its title) under the same link, or, without a link, with
// the same file (EnclosureFileIdentity). An episode that several keyless
// items of the document (or several stored articles) could be tells
// nothing: those items stay told apart by their texts, as before.
//
// Threads: the worker's thread; one object per document.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/feeds/tidewell_episode_identity.h"

namespace tidewell {

class TStoredArticlesIndex;

class TKeylessItems {
 public:
  using TResolve = std::function<std::string(const std::string&)>;
  using TLoadUrls = std::function<std::vector<std::pair<int32_t, std::string>>()>;

  // A keyless item of the document.
  void Add(const TKeylessItem& item);

  // The position in index of the stored article the keyless item stands
  // for, or -1. Links and URLs are compared as given and made absolute by
  // resolve; loadUrls gives the stored enclosure URLs the first time they
  // are needed.
  int32_t Find(TStoredArticlesIndex& index, const TKeylessItem& item, const TResolve& resolve,
               const TLoadUrls& loadUrls) const;

 private:
  // Title and link, else title and file; empty with neither.
  static std::string EpisodeKey(const TKeylessItem& item);
  // The stored keyless articles under the item's link, else its file;
  // one may come more than once.
  static std::vector<int32_t> Candidates(TStoredArticlesIndex& index, const TKeylessItem& item,
                                         const TResolve& resolve, const TLoadUrls& loadUrls);

  std::unordered_map<std::string, int32_t> counts_;
};

}  // namespace tidewell
