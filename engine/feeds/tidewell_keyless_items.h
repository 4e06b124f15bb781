// SPDX-License-Identifier: MIT
// The items of one document that have no guid, so that their key is made of
// their texts: when those texts change (a play counter, "3 hours ago", a
// rotating advert) the key changes with them. Such an item stands for the
// stored keyless article of its feed with the same link, or, without a
// link, with the same enclosure URL. A link or URL that several keyless
// items of the document (or several stored articles) share tells nothing:
// those items stay told apart by their texts, as before.
//
// Threads: the worker's thread; one object per document.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tidewell {

class TStoredArticlesIndex;

class TKeylessItems {
 public:
  using TResolve = std::function<std::string(const std::string&)>;
  using TLoadUrls = std::function<std::vector<std::pair<int32_t, std::string>>()>;

  // A keyless item of the document: its link and its first enclosure URL,
  // as the document has them (either may be empty).
  void Add(const std::string& link, const std::string& enclosureUrl);

  // The position in index of the stored article the keyless item stands
  // for, or -1. Values are compared as given and made absolute by resolve;
  // loadUrls gives the stored enclosure URLs the first time they are needed.
  int32_t Find(TStoredArticlesIndex& index, const std::string& link, const std::string& enclosureUrl,
               const TResolve& resolve, const TLoadUrls& loadUrls) const;

 private:
  bool OnlyOne(const std::unordered_map<std::string, int32_t>& counts, const std::string& value) const;

  std::unordered_map<std::string, int32_t> links_, urls_;
};

}  // namespace tidewell
