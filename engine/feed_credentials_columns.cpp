// SPDX-License-Identifier: MIT
#include "engine/feed_credentials_columns.h"

#include "engine/settings/value_scrambling.h"

namespace tidewell {

namespace {

// Writes the credentials into the feed's row (onlyWhereNone: a row that
// holds none); whether the row was written.
bool UpdateCredentials(TQueryWrapper& query, int32_t feedId, const std::string& userName,
                       const std::string& password, bool onlyWhereNone) {
  query.Close();
  query.SQL.Clear();
  query.SQL.Add("update feeds");
  query.SQL.Add("set username_=?,password_=?");
  query.SQL.Add("where feed_id=?");
  if (onlyWhereNone) query.SQL.Add(" and coalesce(username_,'')='' and coalesce(password_,'') in ('',?)");
  query.Params(0).SetString(userName);
  query.Params(1).SetString(ScrambleText(password));
  query.Params(2).SetInteger(feedId);
  if (onlyWhereNone) query.Params(3).SetString(ScrambleText(""));
  ExecQueryTimed(&query, false);
  return query.RowsAffected() == 1;
}

}  // namespace

void StoreFeedCredentials(TQueryWrapper& query, int32_t feedId, const std::string& userName,
                          const std::string& password) {
  UpdateCredentials(query, feedId, userName, password, false);
}

bool StoreFeedCredentialsIfNone(TQueryWrapper& query, int32_t feedId, const std::string& userName,
                                const std::string& password) {
  return UpdateCredentials(query, feedId, userName, password, true);
}

}  // namespace tidewell
