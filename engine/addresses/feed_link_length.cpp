// SPDX-License-Identifier: MIT
#include "engine/addresses/feed_link_length.h"

#include <algorithm>

#include "engine/db/tidewell_schema_texts.h"
#include "engine/tidewell_msg.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

const char kFeedAddressTooLong[] = "Feed address too long: %d characters, the limit is %d";

}  // namespace

int64_t FeedLinkLimit() {
  for (const TableDefinition& table : SchemaTables()) {
    if (std::string(table.name) != "Feeds") continue;
    for (const TableColumn& column : table.columns) {
      const std::string type = column.type;
      if (std::string(column.name) == "link" && type.rfind("VARCHAR(", 0) == 0) return std::stoll(type.substr(8));
    }
  }
  throw kt::Exception("Feeds.link is not described");
}

int64_t FeedLinkLength(const std::string& link) {
  return std::count_if(link.begin(), link.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

bool FitsFeedLinkColumn(const std::string& link) { return FeedLinkLength(link) <= FeedLinkLimit(); }

// The database would refuse a longer address with a truncation error that
// names no limit.
void CheckFeedLinkLength(const std::string& link) {
  if (!FitsFeedLinkColumn(link))
    throw kt::Exception(FormatText(kFeedAddressTooLong, FeedLinkLength(link), FeedLinkLimit()));
}

}  // namespace tidewell
