// SPDX-License-Identifier: MIT
#include "engine/model/feed_yields.h"

#include <string>

#include "engine/addresses/feed_address.h"
#include "engine/model/model_support.h"

namespace tidewell {
namespace {

constexpr const char* kYieldType = "yieldto";
constexpr const char* kReachType = "reaches";

void ReleaseFeedsYieldingTo(TQueryWrapper* query, int32_t feedId) {
  const std::string id = std::to_string(feedId);
  model::SetSqlLines(query, {"update feeds set skipfeed=0,next_feedupdate=?",
                             "where link not starting with 'DELMARKED:' and feed_id in",
                             "(select itemid from variables where type_=? and value_=?)"});
  query->Params(0).SetDateTime(model::UtcNow());
  query->Params(1).SetString(kYieldType);
  query->Params(2).SetString(id);
  ExecQueryTimed(query, false);
  model::SetSqlLines(query, {"delete from variables where type_=? and value_=?"});
  query->Params(0).SetString(kYieldType);
  query->Params(1).SetString(id);
  ExecQueryTimed(query, false);
  SafeCloseQuery(query);
}

void ForgetOwn(TQueryWrapper* query, const char* type, int32_t feedId) {
  model::SetSqlLines(query, {"delete from variables where type_=? and itemid=?"});
  query->Params(0).SetString(type);
  query->Params(1).SetInteger(feedId);
  ExecQueryTimed(query, false);
  SafeCloseQuery(query);
}

}  // namespace

void RecordYield(TQueryWrapper* query, int32_t feedId, int32_t toFeedId) {
  EndYieldsOf(query, feedId);
  model::SetSqlLines(query, {"insert into variables(type_,itemid,variablename_,value_)", "values(?,?,'',?)"});
  query->Params(0).SetString(kYieldType);
  query->Params(1).SetInteger(feedId);
  query->Params(2).SetString(std::to_string(toFeedId));
  ExecQueryTimed(query, false);
  SafeCloseQuery(query);
}

void EndYieldsOf(TQueryWrapper* query, int32_t feedId) {
  ReleaseFeedsYieldingTo(query, feedId);
  ForgetOwn(query, kYieldType, feedId);
  ForgetOwn(query, kReachType, feedId);
}

void RecordReach(TQueryWrapper* query, int32_t feedId, const std::string& address) {
  ForgetOwn(query, kReachType, feedId);
  model::SetSqlLines(query, {"insert into variables(type_,itemid,variablename_,value_)", "values(?,?,'',?)"});
  query->Params(0).SetString(kReachType);
  query->Params(1).SetInteger(feedId);
  query->Params(2).SetString(address.substr(0, 1000));
  ExecQueryTimed(query, false);
  SafeCloseQuery(query);
}

int32_t FeedReaching(TQueryWrapper* query, int32_t feedId, const std::string& address) {
  model::SetSqlLines(query, {"select v.itemid,v.value_ from variables v join feeds f on f.feed_id=v.itemid",
                             "where v.type_=? and v.itemid<>? and f.link not starting with 'DELMARKED:'",
                             "order by v.itemid"});
  query->Params(0).SetString(kReachType);
  query->Params(1).SetInteger(feedId);
  ExecQueryTimed(query, true);
  const std::string key = FeedAddressKey(address);
  int32_t reaching = -1;
  for (; !query->Eof() && reaching < 1; query->Next())
    if (FeedAddressKey(query->Fields(1).AsString()) == key) reaching = query->Fields(0).AsInteger();
  SafeCloseQuery(query);
  return reaching;
}

}  // namespace tidewell
