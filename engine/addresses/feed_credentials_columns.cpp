// SPDX-License-Identifier: MIT
#include "engine/addresses/feed_credentials_columns.h"

#include "engine/addresses/feed_address.h"
#include "engine/settings/value_scrambling.h"

namespace tidewell {

namespace {

bool RowIsAtPlace(TQueryWrapper& query, int32_t feedId, const std::string& givenFor) {
  query.Close();
  query.SQL.Clear();
  query.SQL.Add("select link from feeds where feed_id=?");
  query.Params(0).SetInteger(feedId);
  ExecQueryTimed(&query, true);
  const bool atPlace = !query.Eof() && SamePlace(query.Fields(0).AsString(), givenFor);
  query.Close();
  return atPlace;
}

// Writes the credentials into the feed's row (onlyWhereNone: a row that
// holds none); whether the row was written.
bool UpdateCredentials(TQueryWrapper& query, int32_t feedId, const std::string& givenFor,
                       const std::string& userName, const std::string& password, bool onlyWhereNone) {
  if (!RowIsAtPlace(query, feedId, givenFor)) return false;
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

bool StoreFeedCredentials(TQueryWrapper& query, int32_t feedId, const std::string& givenFor,
                          const std::string& userName, const std::string& password) {
  return UpdateCredentials(query, feedId, givenFor, userName, password, false);
}

bool StoreFeedCredentialsIfNone(TQueryWrapper& query, int32_t feedId, const std::string& givenFor,
                                const std::string& userName, const std::string& password) {
  return UpdateCredentials(query, feedId, givenFor, userName, password, true);
}

}  // namespace tidewell
