// SPDX-License-Identifier: MIT
// Which stored feed row an address that a list names is, and what a list
// keeps to find it again: the address it named each of its feeds by (a 301
// rewrites the feed's link, not the list), and the feeds that a change of
// the list unsubscribed (so that they return, rather than a copy of them).
//
// Stored as rows of the variables table, itemid the feed's id and
// variablename_ the list's:
//   type_ "opmlfeed": value_ the address the list names the feed by, without
//                     credentials;
//   type_ "opmlleft": value_ the time the list's change unsubscribed the feed.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/tidewell_struct.h"

namespace tidewell {

// What a list does with an address it names. The rows of the address are
// those whose link (behind the deleted mark too) or whose address named by
// a list has its key (FeedAddressKey); the first line that applies decides:
//
//   rows of the address                       | verdict     | the list ...
//   ------------------------------------------+-------------+--------------------------------------------
//   a live one                                | kLive       | maps the oldest live one
//   all deleted, the newest by a list's change| kReturning  | brings it back: link, articles, downloads
//   all deleted, the newest by the listener   | kKeptDeleted| maps it, deleted: fetches nothing
//   none                                      | kNone       | stores a new row
//
// The newest row decides among deleted ones: one address has one live row
// at a time, so the newest is the one deleted last, and its deletion is the
// last word on the show. A deletion the listener made is kept: a list that
// names the show (again) must not undo it. A change of the list is no
// deletion of the listener's: a list served empty once, or a show taken out
// and put back, finds the show with its episodes as they were.
enum class TListFeedVerdict { kNone, kLive, kReturning, kKeptDeleted };
struct TListFeedMatch {
  int32_t feedId = -1;
  TListFeedVerdict verdict = TListFeedVerdict::kNone;
};

// A link as the address it names: a deleted row's link without its mark.
std::string LinkBehindDeletedMark(const std::string& link);
bool IsDeletedLink(const std::string& link);

// The stored rows by the key of their addresses, read once per list job.
class TStoredFeedIndex {
 public:
  void Clear();
  // Rows in the order of their ids.
  void AddRow(int32_t feedId, const std::string& link);
  void AddNamedAddress(int32_t feedId, const std::string& address);
  void MarkLeftList(int32_t feedId);
  // A row stored or brought back by this job, live from now on.
  void AddLive(int32_t feedId, const std::string& address);
  TListFeedMatch Find(const std::string& address) const;

 private:
  struct Row {
    bool deleted = false;
    bool leftList = false;
  };
  std::unordered_map<int32_t, Row> rows_;
  std::unordered_map<std::string, std::vector<int32_t>> idsByKey_;
};

// The addresses the list named its feeds by, by feed id.
std::unordered_map<int32_t, std::string> LoadListAddresses(TQueryWrapper& query, int32_t listId);
// Reads every row of the feed table and what the lists keep into index.
void LoadStoredFeedIndex(TQueryWrapper& query, TStoredFeedIndex& index);
// replacing: the list named the feed by another address so far.
void RememberListAddress(TQueryWrapper& query, int32_t listId, int32_t feedId, const std::string& address,
                         bool replacing);
void ForgetListAddress(TQueryWrapper& query, int32_t listId, int32_t feedId);
// Notes that the list's change unsubscribed the feed, before it is marked
// deleted: the articles its deletion marks are those to bring back.
void NoteLeftList(TQueryWrapper& query, int32_t listId, int32_t feedId);
// Another live list that names the feed (the lowest id), -1 when none.
int32_t OtherListNaming(TQueryWrapper& query, int32_t listId, int32_t feedId);
// The feed is the list's from now on: the list that drops it last takes it
// out, not the first.
void HandOverToList(TQueryWrapper& query, int32_t feedId, int32_t listId);
// The listener named a feed that a list filed (AddFeed): it is the
// listener's own from now on, and no list takes it out.
void KeepForListener(TQueryWrapper& query, int32_t feedId);
// Undoes the deletion of a feed that a list's change unsubscribed: its link
// and its articles as they were (those the listener deleted stay deleted),
// its downloads untouched; due at once, and the list's that brings it back.
void BringBackFeed(TQueryWrapper& query, int32_t feedId, int32_t listId);

}  // namespace tidewell
