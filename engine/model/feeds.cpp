// SPDX-License-Identifier: MIT
#include "engine/model/feeds.h"

#include <chrono>
#include <thread>

#include "engine/model/articles.h"
#include "engine/model/feed_yields.h"
#include "engine/model/model_support.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

constexpr const char* kAllowOpmlMarker = "[AllowOPML]";
constexpr TDateTime kMarkedDeletedNextUpdate = 54789.0;  // 2050-01-01 00:00

// Removes every occurrence of the marker, in any letter case.
std::string WithoutOpmlMarker(std::string order) {
  const std::string marker = model::UpperAscii(kAllowOpmlMarker);
  for (size_t at = model::UpperAscii(order).find(marker); at != std::string::npos;
       at = model::UpperAscii(order).find(marker))
    order.erase(at, marker.size());
  return order;
}

std::string FeedType(TQueryWrapper* query, int32_t feedId) {
  model::SetSqlLines(query, {"select type_", "from feeds ", "where feed_id=" + std::to_string(feedId)});
  ExecQueryTimed(query, true);
  std::string type = query->Eof() ? std::string() : query->Fields(0).AsString();
  SafeCloseQuery(query);
  return model::UpperAscii(type);
}

TDynIntArray SearchResultsOf(TQueryWrapper* query, int32_t rootId) {
  model::SetSqlLines(query, {"select feed_id", "from feeds ", "where parentfeed=" + std::to_string(rootId),
                             " and type_='OSRC'"});
  ExecQueryTimed(query, true);
  TDynIntArray ids;
  for (; !query->Eof(); query->Next()) ids.push_back(query->Fields(0).AsInteger());
  SafeCloseQuery(query);
  return ids;
}

void MarkFeedDeleted(TQueryWrapper* query, int32_t feedId) {
  model::SetSqlLines(query, {"update feeds", "set next_feedupdate=?,skipfeed=1,link='DELMARKED:'||coalesce(link,''),",
                             "description='',OPMLdescr=''", "where feed_id=?"});
  query->Params(0).SetDateTime(kMarkedDeletedNextUpdate);
  query->Params(1).SetInteger(feedId);
  ExecQueryTimed(query, false);
  // Articles deleted before keep their state and time: a feed brought back
  // brings back only what its deletion took.
  model::SetSqlLines(query, {"update articles", "set deleted=1,syncmodified=?",
                             "where feed_id=" + std::to_string(feedId) + " and coalesce(deleted,0)=0"});
  query->Params(0).SetDateTime(model::UtcNow());
  ExecQueryTimed(query, false);
}

void PurgeFeed(TQueryWrapper* query, int32_t feedId) {
  TArticles::DeleteArticles(query, {}, feedId, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string id = std::to_string(feedId);
  model::ExecLines(query, {"delete from feed_namespaces where feed_id=" + id});
  model::ExecLines(query, {"delete from feeds_customfields_attr", "where exists(select *",
                           "             from feeds_customfields",
                           "             where  feeds_customfields.feed_id=" + id,
                           "             and feeds_customfields_attr.feed_customfield_id=feeds_customfields.id)"});
  model::ExecLines(query, {"delete from feeds_customfields where feed_id=" + id});
  model::ExecLines(query, {"delete from feeds where feed_id=" + id});
}

}  // namespace

void TFeeds::LoadById(int32_t feedId, const std::string& order, int32_t /*skip*/, int32_t count) {
  LoadFeeds({feedId}, order, 0, count);
}

std::string TFeeds::GetExcludedTypes() const {
  std::string types = "'OPML'";
  if (!(Options & kAdmitCommentFeeds)) types += ",'COMMFEED'";
  if (!(Options & kAdmitSearchRoots)) types += ",'OSRCROOT'";
  if (!(Options & kAdmitSearchResults)) types += ",'OSRC'";
  return types;
}

TFeedProperty* TFeeds::GetItem(int32_t index) const {
  return static_cast<TFeedProperty*>(ItemAt(index, kFeedIndexOutOfBounds));
}

// One feed, as a worker loads them, is a parameter: the select is prepared
// once for all feeds instead of once per feed.
std::string TFeeds::FeedIdCondition(const TDynIntArray& feedIds) {
  return feedIds.size() == 1 ? "feed_id in (?)" : model::InListCondition("feed_id", feedIds);
}

std::vector<std::string> TFeeds::FeedSelectLines(const TDynIntArray& feedIds, bool admitOpml, const std::string& order,
                                                 int32_t skip, int32_t count) const {
  std::vector<std::string> lines = {
      "select " + model::PagingClause(skip, count) + "feed_Id,title,link,homepage,favIcon,",
      "image,feedmodified,eTag,feedMD5,page_lastmodified,",
      "httpGetTime,update_interval,username_,password_,last_feedupdate,",
      "next_feedupdate,archivesize,feedrating,keywordSeparator,lastHTTPCode,skipFeed,",
      "rtlEnabled,type_,parentFeed,OPMLdescr,language_,description,priority,lastFeedProcessingError",
      "from feeds",
      "where " + FeedIdCondition(feedIds)};
  if (!admitOpml) {
    // The filter is a type name of the caller's; quotes in it are doubled so
    // it stays one SQL literal.
    std::string quoted;
    for (char c : TypeFilter) quoted += (c == '\'') ? std::string("''") : std::string(1, c);
    lines.push_back(" and " + (TypeFilter.empty() ? " type_ not in (" + GetExcludedTypes() + ")"
                                                  : " type_='" + quoted + "'"));
  }
  lines.push_back(" and  link not like 'DELMARKED:%'");
  if (!order.empty()) lines.push_back("order by " + order);
  return lines;
}

void TFeeds::LoadFeeds(const TDynIntArray& feedIds, std::string order, int32_t skip, int32_t count) {
  Clear();
  if (feedIds.empty()) return;
  const bool admitOpml = order.find(kAllowOpmlMarker) != std::string::npos;
  if (admitOpml) order = WithoutOpmlMarker(order);
  LoadRequest request;
  request.lines = FeedSelectLines(feedIds, admitOpml, order, skip, count);
  if (feedIds.size() == 1)
    request.bind = [id = feedIds.front()](TQueryWrapper& query) { query.Params(0).SetInteger(id); };
  request.quietAbort = true;
  RunLoad(request, [this](TQueryWrapper& query) { ReadFeedRow(query); });
}

void TFeeds::ReadFeedRow(TQueryWrapper& q) {
  auto row = std::make_unique<TFeedProperty>(this, q.Fields(0).AsInteger());
  TFeedProperty& f = *row;
  Items.push_back(std::move(row));
  f.FeedId = q.Fields(0).AsInteger();
  f.Title = q.Fields(1).AsWideString();
  f.Link = q.Fields(2).AsString();
  f.Homepage = q.Fields(3).AsString();
  f.FavIcon = q.Fields(4).AsString();
  f.Image = q.Fields(5).AsString();
  f.FeedModified = model::DateTimeOrMinusOne(q.Fields(6));
  f.ETag = q.Fields(7).AsString();
  f.FeedMD5 = q.Fields(8).AsString();
  f.PageLastModified = model::DateTimeOrMinusOne(q.Fields(9));
  f.FetchSeconds = q.Fields(10).AsInteger() / 1000.0;
  f.UpdateInterval = q.Fields(11).AsInteger();
  f.UserName = q.Fields(12).AsString();
  f.Password = q.Fields(13).AsString();
  f.LastFeedUpdate = q.Fields(14).AsDateTime();
  f.NextFeedUpdate = q.Fields(15).AsDateTime();
  f.ArchiveSize = q.Fields(16).AsInteger();
  f.FeedRating = static_cast<int16_t>(q.Fields(17).AsInteger());
  f.KeywordSeparator = q.Fields(18).AsString();
  f.LastStatusCode = static_cast<int16_t>(q.Fields(19).AsInteger());
  f.SkipFeed = q.Fields(20).AsInteger() == 1;
  f.RtlEnabled = static_cast<int16_t>(q.Fields(21).AsInteger());
  const std::string type = model::UpperAscii(q.Fields(22).AsString());
  f.IsOpml = type == "OPML";
  f.IsCommentFeed = type == "COMMFEED";
  f.IsSearchRoot = type == "OSRCROOT";
  f.IsSearchResult = type == "OSRC";
  f.ParentFeed = q.Fields(23).AsInteger();
  f.OpmlDescr = q.Fields(24).AsWideString();
  f.Language = q.Fields(25).AsString();
  f.Description = q.Fields(26).AsWideString();
  f.Priority = q.Fields(27).AsInteger();
  f.LastFeedProcessingError = q.Fields(28).AsString();
  if (f.SkipFeed && !f.IsSearchRoot) f.UpdateInterval = -2;
}

void TFeeds::DeleteFeed(TQueryWrapper* query, int32_t feedId, bool markOnly) {
  if (FeedType(query, feedId) == "OSRCROOT") {
    for (int32_t resultId : SearchResultsOf(query, feedId)) DeleteFeed(query, resultId, markOnly);
  }
  // A feed that yielded to this one fetches its show again.
  EndYieldsOf(query, feedId);
  if (markOnly) {
    MarkFeedDeleted(query, feedId);
  } else {
    PurgeFeed(query, feedId);
  }
  SafeCloseQuery(query);
  query->SQL.Clear();
}

}  // namespace tidewell
