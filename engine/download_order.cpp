// SPDX-License-Identifier: MIT
#include "engine/download_order.h"

#include <algorithm>
#include <tuple>

namespace tidewell {

std::vector<int32_t> NewestFirst(std::vector<TEpisodePlace> places) {
  const auto key = [](const TEpisodePlace& place) {
    const bool dated = place.date >= 0;
    // Later dates first; undated ones after every dated one.
    return std::make_tuple(!dated, dated ? -place.date : 0.0, place.articleId, place.enclosureId);
  };
  std::stable_sort(places.begin(), places.end(),
                   [&](const TEpisodePlace& a, const TEpisodePlace& b) { return key(a) < key(b); });
  std::vector<int32_t> ids;
  for (const TEpisodePlace& place : places) ids.push_back(place.enclosureId);
  return ids;
}

std::vector<std::vector<size_t>> DealInTurn(size_t jobs, size_t workers) {
  std::vector<std::vector<size_t>> shares(workers);
  if (workers == 0) return shares;
  for (size_t job = 0; job < jobs; ++job) shares[job % workers].push_back(job);
  return shares;
}

}  // namespace tidewell
