// SPDX-License-Identifier: MIT
// A feed whose address answers 301 to another stored feed's yields to that
// feed: it leaves timed updates (skipfeed), and the other one fetches the
// show. It yields for as long as that feed fetches: once the feed it
// yielded to is deleted, or yields in turn (two 301s swapped), it is
// fetched again at once and finds where the show is now.
//
// Kept as a row of the variables table: type_ "yieldto", itemid the feed
// that yielded, value_ the id of the feed it yielded to.
#pragma once

#include <cstdint>
#include <string>

#include "engine/db/tidewell_compability.h"

namespace tidewell {

// A feed whose 301 leaves its credentials' place stays at its address, and
// the address it reaches is noted ("reaches", value_ the address): a feed
// whose 301 leads there later yields to it, as to a feed stored there.
void RecordReach(TQueryWrapper* query, int32_t feedId, const std::string& address);
// The live feed other than feedId (the lowest id) noted as reaching the
// address (FeedAddressKey), -1 when none.
int32_t FeedReaching(TQueryWrapper* query, int32_t feedId, const std::string& address);

// Notes that feedId yields to toFeedId (and reaches nothing); what yielded
// to feedId is fetched again. The caller sets feedId's skipfeed.
void RecordYield(TQueryWrapper* query, int32_t feedId, int32_t toFeedId);
// The feed is deleted: what yielded to it is fetched again, and it yields
// to nothing and reaches nothing.
void EndYieldsOf(TQueryWrapper* query, int32_t feedId);

}  // namespace tidewell
