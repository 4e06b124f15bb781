// SPDX-License-Identifier: MIT
// Where a feed row keeps the credentials given in its address: the user name
// in username_, the password scrambled in password_, never in its link.
#pragma once

#include <cstdint>
#include <string>

#include "engine/db/tidewell_compability.h"

namespace tidewell {

// Runs in the query's transaction; failures propagate.
void StoreFeedCredentials(TQueryWrapper& query, int32_t feedId, const std::string& userName,
                          const std::string& password);

// The same for a row that holds none (no user name, no password): a row
// that holds some keeps its own. True when the row took them.
bool StoreFeedCredentialsIfNone(TQueryWrapper& query, int32_t feedId, const std::string& userName,
                                const std::string& password);

}  // namespace tidewell
