// SPDX-License-Identifier: MIT
#include "engine/model/feed_yields.h"

#include <string>

#include "engine/model/model_support.h"

namespace tidewell {
namespace {

constexpr const char* kYieldType = "yieldto";

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

void ForgetYield(TQueryWrapper* query, int32_t feedId) {
  model::SetSqlLines(query, {"delete from variables where type_=? and itemid=?"});
  query->Params(0).SetString(kYieldType);
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
  ForgetYield(query, feedId);
}

}  // namespace tidewell
