// SPDX-License-Identifier: MIT
// Where a feed row keeps the credentials given in its address: the user name
// in username_, the password scrambled in password_, never in its link; and
// only on a row whose address is at their place (CredentialsPlace of the
// address they were given in): a row that moved to another host, port or
// scheme by a 301 is given none, which would be sent there at every pass.
#pragma once

#include <cstdint>
#include <string>

#include "engine/db/tidewell_compability.h"

namespace tidewell {

// Runs in the query's transaction; failures propagate. givenFor is the
// address the credentials came with. True when the row took them.
bool StoreFeedCredentials(TQueryWrapper& query, int32_t feedId, const std::string& givenFor,
                          const std::string& userName, const std::string& password);

// The same for a row that holds none (no user name, no password): a row
// that holds some keeps its own.
bool StoreFeedCredentialsIfNone(TQueryWrapper& query, int32_t feedId, const std::string& givenFor,
                                const std::string& userName, const std::string& password);

}  // namespace tidewell
