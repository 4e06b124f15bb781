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

bool StoreFeedCredentialsIfNone(TQueryWrapper& query, int32_t feedId, const std::string& userName,
                                const std::string& password) {
  query.Close();
  query.SQL.Clear();
  query.SQL.Add("update feeds");
  query.SQL.Add("set username_=?,password_=?");
  query.SQL.Add("where feed_id=? and coalesce(username_,'')='' and coalesce(password_,'') in ('',?)");
  query.Params(0).SetString(userName);
  query.Params(1).SetString(ScrambleText(password));
  query.Params(2).SetInteger(feedId);
  query.Params(3).SetString(ScrambleText(""));
  ExecQueryTimed(&query, false);
  return query.RowsAffected() == 1;
}

}  // namespace tidewell
