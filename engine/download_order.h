// SPDX-License-Identifier: MIT
// The order in which new downloads are handed out: newest first, as a
// listener expects of a show with a back catalogue. Each download worker
// takes its share newest first, and the shares are dealt in turn, so that
// the workers together go from the newest episode back.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/tidewell_struct.h"

namespace tidewell {

// What places an episode's download in time: its article's date (below 0
// when it has none) and the article's id, which follows the items' order in
// the document that brought them (the first item, usually the newest,
// stored first).
struct TEpisodePlace {
  int32_t enclosureId = 0;
  TDateTime date = -1;
  int32_t articleId = 0;
};

// The enclosure ids newest first:
//
//   | a and b                               | a comes first when         |
//   |---------------------------------------|----------------------------|
//   | both dated, the dates differ          | a's date is later          |
//   | one dated                             | a is the dated one         |
//   | same date, or both undated            | a is earlier in its document |
//   | same article                          | a's enclosure comes first  |
std::vector<int32_t> NewestFirst(std::vector<TEpisodePlace> places);

// The shares of workers for jobs in that order: share k holds the jobs k,
// k + workers, k + 2 * workers, ... in order.
std::vector<std::vector<size_t>> DealInTurn(size_t jobs, size_t workers);

}  // namespace tidewell
