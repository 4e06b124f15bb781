// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_list_feed_rows.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "engine/addresses/feed_address.h"
#include "engine/model/model_support.h"
#include "engine/addresses/url_parts.h"

namespace tidewell {
namespace {

constexpr const char* kDeletedMark = "DELMARKED:";
constexpr size_t kDeletedMarkLength = 10;
constexpr const char* kNamedType = "opmlfeed";
constexpr const char* kLeftType = "opmlleft";

// A date-time as text that reads back to the same value.
std::string ExactText(TDateTime value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// When the list's change unsubscribed the feed; -1 when none did.
TDateTime LeftListAt(TQueryWrapper& query, int32_t feedId) {
  model::SetSqlLines(&query, {"select value_ from variables where type_=? and itemid=?"});
  query.Params(0).SetString(kLeftType);
  query.Params(1).SetInteger(feedId);
  ExecQueryTimed(&query, true);
  TDateTime at = -1;
  for (; !query.Eof(); query.Next()) at = std::max(at, std::strtod(query.Fields(0).AsString().c_str(), nullptr));
  SafeCloseQuery(&query);
  return at;
}

void DeleteVariable(TQueryWrapper& query, const char* type, int32_t feedId, const std::string& listName) {
  model::SetSqlLines(&query, {"delete from variables where type_=? and itemid=?" +
                              std::string(listName.empty() ? "" : " and variablename_=?")});
  query.Params(0).SetString(type);
  query.Params(1).SetInteger(feedId);
  if (!listName.empty()) query.Params(2).SetString(listName);
  ExecQueryTimed(&query, false);
  SafeCloseQuery(&query);
}

void InsertVariable(TQueryWrapper& query, const char* type, int32_t feedId, int32_t listId, const std::string& value) {
  model::SetSqlLines(&query, {"insert into variables(type_,itemid,variablename_,value_)", "values(?,?,?,?)"});
  query.Params(0).SetString(type);
  query.Params(1).SetInteger(feedId);
  query.Params(2).SetString(std::to_string(listId));
  query.Params(3).SetString(value.substr(0, 1000));
  ExecQueryTimed(&query, false);
  SafeCloseQuery(&query);
}

}  // namespace

bool IsDeletedLink(const std::string& link) { return link.compare(0, kDeletedMarkLength, kDeletedMark) == 0; }

std::string LinkBehindDeletedMark(const std::string& link) {
  return IsDeletedLink(link) ? link.substr(kDeletedMarkLength) : link;
}

void TStoredFeedIndex::Clear() {
  rows_.clear();
  idsByKey_.clear();
}

void TStoredFeedIndex::AddRow(int32_t feedId, const std::string& link) {
  rows_[feedId].deleted = IsDeletedLink(link);
  idsByKey_[FeedAddressKey(LinkBehindDeletedMark(link))].push_back(feedId);
}

void TStoredFeedIndex::AddNamedAddress(int32_t feedId, const std::string& address) {
  if (rows_.count(feedId) != 0) idsByKey_[FeedAddressKey(address)].push_back(feedId);
}

void TStoredFeedIndex::MarkLeftList(int32_t feedId) {
  const auto row = rows_.find(feedId);
  if (row != rows_.end()) row->second.leftList = true;
}

void TStoredFeedIndex::AddLive(int32_t feedId, const std::string& address) {
  rows_[feedId] = Row{};
  idsByKey_[FeedAddressKey(address)].push_back(feedId);
}

TListFeedMatch TStoredFeedIndex::Find(const std::string& address) const {
  const auto ids = idsByKey_.find(FeedAddressKey(address));
  if (ids == idsByKey_.end()) return {};
  int32_t oldestLive = -1;
  int32_t newestDeleted = -1;
  for (int32_t id : ids->second) {
    if (!rows_.at(id).deleted) {
      if (oldestLive < 1 || id < oldestLive) oldestLive = id;
    } else {
      newestDeleted = std::max(newestDeleted, id);
    }
  }
  if (oldestLive >= 1) return {oldestLive, TListFeedVerdict::kLive};
  if (newestDeleted < 1) return {};
  const bool leftList = rows_.at(newestDeleted).leftList;
  return {newestDeleted, leftList ? TListFeedVerdict::kReturning : TListFeedVerdict::kKeptDeleted};
}

std::unordered_map<int32_t, std::string> LoadListAddresses(TQueryWrapper& query, int32_t listId) {
  std::unordered_map<int32_t, std::string> addresses;
  model::SetSqlLines(&query, {"select itemid,value_ from variables where type_=? and variablename_=?"});
  query.Params(0).SetString(kNamedType);
  query.Params(1).SetString(std::to_string(listId));
  ExecQueryTimed(&query, true);
  for (; !query.Eof(); query.Next()) addresses[query.Fields(0).AsInteger()] = query.Fields(1).AsString();
  SafeCloseQuery(&query);
  return addresses;
}

void LoadStoredFeedIndex(TQueryWrapper& query, TStoredFeedIndex& index) {
  index.Clear();
  model::SetSqlLines(&query, {"select feed_id,link from feeds where link is not null order by feed_id"});
  ExecQueryTimed(&query, true);
  for (; !query.Eof(); query.Next()) index.AddRow(query.Fields(0).AsInteger(), query.Fields(1).AsString());
  SafeCloseQuery(&query);
  model::SetSqlLines(&query, {"select itemid,type_,value_ from variables where type_ in (?,?)"});
  query.Params(0).SetString(kNamedType);
  query.Params(1).SetString(kLeftType);
  ExecQueryTimed(&query, true);
  for (; !query.Eof(); query.Next()) {
    const int32_t feedId = query.Fields(0).AsInteger();
    if (query.Fields(1).AsString() == kLeftType)
      index.MarkLeftList(feedId);
    else
      index.AddNamedAddress(feedId, query.Fields(2).AsString());
  }
  SafeCloseQuery(&query);
}

void RememberListAddress(TQueryWrapper& query, int32_t listId, int32_t feedId, const std::string& address,
                         bool replacing) {
  if (replacing) ForgetListAddress(query, listId, feedId);
  InsertVariable(query, kNamedType, feedId, listId, UrlWithoutCredentials(address));
}

void ForgetListAddress(TQueryWrapper& query, int32_t listId, int32_t feedId) {
  DeleteVariable(query, kNamedType, feedId, std::to_string(listId));
}

void NoteLeftList(TQueryWrapper& query, int32_t listId, int32_t feedId) {
  DeleteVariable(query, kLeftType, feedId, "");
  InsertVariable(query, kLeftType, feedId, listId, ExactText(model::UtcNow()));
}

int32_t OtherListNaming(TQueryWrapper& query, int32_t listId, int32_t feedId) {
  model::SetSqlLines(&query, {"select min(m.opmlid) from feeds2opmlmapping m join feeds f on f.feed_id=m.opmlid",
                              "where m.boundwithfeed=? and m.opmlid<>? and f.type_='OPML'",
                              "and f.link not starting with 'DELMARKED:'"});
  query.Params(0).SetInteger(feedId);
  query.Params(1).SetInteger(listId);
  ExecQueryTimed(&query, true);
  const int32_t other = query.Eof() || query.Fields(0).IsNull() ? -1 : query.Fields(0).AsInteger();
  SafeCloseQuery(&query);
  return other;
}

void HandOverToList(TQueryWrapper& query, int32_t feedId, int32_t listId) {
  model::SetSqlLines(&query, {"update feeds set parentfeed=? where feed_id=?"});
  query.Params(0).SetInteger(listId);
  query.Params(1).SetInteger(feedId);
  ExecQueryTimed(&query, false);
  SafeCloseQuery(&query);
}

void KeepForListener(TQueryWrapper& query, int32_t feedId) {
  model::SetSqlLines(&query, {"update feeds set parentfeed=0 where feed_id=?",
                              "and parentfeed in (select feed_id from feeds where type_='OPML')"});
  query.Params(0).SetInteger(feedId);
  ExecQueryTimed(&query, false);
  SafeCloseQuery(&query);
}

void BringBackFeed(TQueryWrapper& query, int32_t feedId, int32_t listId) {
  const TDateTime leftAt = LeftListAt(query, feedId);
  model::SetSqlLines(&query, {"update feeds",
                              "set link=substring(link from 11 for 1000),skipfeed=0,next_feedupdate=?,parentfeed=?",
                              "where feed_id=? and link starting with 'DELMARKED:'"});
  query.Params(0).SetDateTime(model::UtcNow());
  query.Params(1).SetInteger(listId);
  query.Params(2).SetInteger(feedId);
  ExecQueryTimed(&query, false);
  SafeCloseQuery(&query);
  if (leftAt > 0) {
    // The feed's deletion stamped the articles it marked; those the
    // listener deleted before carry their own, earlier time.
    model::SetSqlLines(&query, {"update articles set deleted=0", "where feed_id=? and deleted=1 and syncmodified>=?"});
    query.Params(0).SetInteger(feedId);
    query.Params(1).SetDateTime(leftAt);
    ExecQueryTimed(&query, false);
    SafeCloseQuery(&query);
  }
  DeleteVariable(query, kLeftType, feedId, "");
}

}  // namespace tidewell
