// SPDX-License-Identifier: MIT
// The longest address a feed row keeps: its link column's width as the
// schema declares it. A longer one is never stored cut short (the cut
// address would be fetched, and fail, at every pass).
#pragma once

#include <cstdint>
#include <string>

namespace tidewell {

// The characters the feeds' link column takes.
int64_t FeedLinkLimit();
// The address's length in characters (UTF-8 code points).
int64_t FeedLinkLength(const std::string& link);
bool FitsFeedLinkColumn(const std::string& link);
// Raises "Feed address too long: N characters, the limit is M" for an
// address longer than the column.
void CheckFeedLinkLength(const std::string& link);

}  // namespace tidewell
