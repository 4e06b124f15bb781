// SPDX-License-Identifier: MIT
#include "engine/feed_credentials_columns.h"

#include "engine/settings/value_scrambling.h"

namespace tidewell {

void StoreFeedCredentials(TQueryWrapper& query, int32_t feedId, const std::string& userName,
                          const std::string& password) {
  query.Close();
  query.SQL.Clear();
  query.SQL.Add("update feeds");
  query.SQL.Add("set username_=?,password_=?");
  query.SQL.Add("where feed_id=?");
  query.Params(0).SetString(userName);
  query.Params(1).SetString(ScrambleText(password));
  query.Params(2).SetInteger(feedId);
  ExecQueryTimed(&query, false);
}

}  // namespace tidewell
