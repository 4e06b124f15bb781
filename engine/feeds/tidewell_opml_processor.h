// SPDX-License-Identifier: MIT
// Reads a subscribed OPML list and mirrors it in the engine's folder tree:
// the list owns one folder below the root folder, each outline group a
// subfolder, each feed a feed row (made when missing) and, in its folder, a
// saved filter selecting that feed's articles. A later fetch of a changed
// list adds new feeds and groups and takes vanished ones out; feeds the list
// itself created are offered for deletion.
//
// Threads: the worker's thread; the hand-overs in the context reach the
// main thread. The folder tree is changed under a temporary edit right.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/feeds/tidewell_list_feed_rows.h"
#include "engine/model/feed_property.h"
#include "engine/model/tidewell_folders.h"
#include "engine/net/tidewell_trd_job_prop_class.h"
#include "engine/tidewell_events.h"
#include "engine/tidewell_struct.h"
#include "toolkit/wide_string.h"

namespace pugi {
class xml_document;
class xml_node;
}

namespace tidewell {

class Ttidewell;
class TtidewellDbHelper;

// The worker's side of one OPML job: its statement, fields and hand-overs.
struct TtidewellOpmlContext {
  Ttidewell* owner = nullptr;
  TTranWrapper* transaction = nullptr;
  TQueryWrapper* query = nullptr;
  TtidewellDbHelper* dbHelper = nullptr;
  int64_t threadId = 0;
  int32_t* itemId = nullptr;
  WideString* feedTitle = nullptr;
  TStrings* added = nullptr;
  TStrings* removed = nullptr;
  // The OnDeleteFeed exchange.
  int32_t* deleteFeedId = nullptr;
  bool* deleteEnded = nullptr;
  bool* deleteAnswer = nullptr;
  std::string userName;
  std::string password;
  std::function<bool()> stopping;
  std::function<void()> feedsAdded;
  std::function<void()> feedsRemoved;
  std::function<void()> refreshFolders;
  std::function<void()> deleteFeed;
  std::function<void()> noNeedForUpdate;
  // Next update and last HTTP code of a stored list that was not answered
  // with a body.
  std::function<void(int32_t feedId, int32_t httpCode)> reschedule;
};

class TtidewellOpmlProcessor {
 public:
  static constexpr int32_t kDefaultIntervalMinutes = 720;
  // Feeds filed per transaction: a list of thousands is committed in steps,
  // so that it holds no rows for minutes.
  static constexpr int32_t kFeedsPerStep = 500;

  explicit TtidewellOpmlProcessor(TtidewellOpmlContext& context) : c_(context) {}

  // Processes the answer for the list (record: its stored row, or nullptr
  // for a new list). Never raises: a failure is rolled back and left in
  // errorCategory/errorText.
  void Process(TtidewellTrdJobPropClass& result, TFeedProperty* record, TErrorCategory& errorCategory,
               std::string& errorText);

  // Reads node and its following outline siblings into folder.
  static void ReadOPMLOutlines(TFolderManagement* management, TFolder* folder, const pugi::xml_node& node,
                               int32_t level, TStrings& urls);
  // Every filter of folder and of its subfolders, depth first.
  static void CollectFolderFeeds(TFolder* folder, std::vector<TFilter*>& list);

 private:
  std::string PreconditionError();
  void RefreshUnchanged(TtidewellTrdJobPropClass& result, TFeedProperty* record, const std::string& digest);
  void Subscribe(TtidewellTrdJobPropClass& result, TFeedProperty* record, const std::string& digest);
  void ParseList(TtidewellTrdJobPropClass& result, pugi::xml_document& document);
  TFolder* MakeListFolder(const WideString& title, bool& changed);
  TFolder* StoredListFolder();
  WideString DatabaseUpperCase(const WideString& text);
  int32_t SelectInt(const std::vector<std::string>& lines, const std::function<void(TQueryWrapper&)>& bind);
  void StoreListRow(TtidewellTrdJobPropClass& result, TFeedProperty* record, const WideString& title,
                    const std::string& digest, int32_t interval);

  bool UpdateOPMLSubscription(int32_t subscriptionId, TFolder* stored, TFolder* fresh, bool& changed,
                              std::string& errorText, TDynIntArray& found);
  bool SyncOPMLFolder(bool dryRun, int32_t subscriptionId, std::vector<TFolder*>& vanished, TFolder* removedFolder,
                      int32_t level, TFolder* fresh, TFolder* stored, TDynIntArray& found);
  void SyncItems(bool dryRun, int32_t subscriptionId, TFolder* removedFolder, TFolder* fresh, TFolder* stored,
                 TDynIntArray& found);
  bool AddOPMLFeed(int32_t subscriptionId, const std::vector<TFilter*>& items, TDynIntArray& found);
  void FileItems(int32_t subscriptionId, const std::vector<TFilter*>& items, TFolder* from, TFolder* into,
                 TDynIntArray& found);
  void ReportRemovedFeeds(TFolder* removedFolder, bool& changed);
  std::unordered_set<int32_t> NamedFeeds(TFolder* stored, const TDynIntArray& found);
  void OfferRemovedFeeds(int32_t subscriptionId, TFolder* removedFolder, const std::unordered_set<int32_t>& named);
  void AddUnique(TStrings& list, const std::string& text);
  bool Stopping() const { return c_.stopping && c_.stopping(); }
  void RollbackQuietly();
  // The stored feed that this URL names (TListFeedVerdict); the feed table
  // is read once per job.
  TListFeedMatch StoredFeed(const std::string& url);
  void LoadFeedUrls();
  TListFeedMatch StoredFeedOrClaim(const std::string& url);
  // The feed filed for an item: found, brought back, or stored new.
  int32_t FileFeed(int32_t subscriptionId, const std::string& url, const std::string& title, TDynIntArray& found);
  // The address the list names the feed by; read once per job.
  const std::string* ListAddress(int32_t subscriptionId, int32_t feedId);
  void KeepListAddress(int32_t subscriptionId, int32_t feedId, const std::string& url);
  // A stored feed without credentials takes those the list names it with.
  void TakeListedCredentials(int32_t feedId, const std::string& url);
  TDynIntArray FeedIdsOf(TFilter* filter);
  // Takes the feed out of the list; one the list made is offered for
  // deletion, and noted so that it returns when the list names it again.
  void TakeOutOfList(int32_t subscriptionId, int32_t feedId, bool ended);
  // Ends this job's claims on addresses, once its transaction has ended.
  void ReleaseAddresses();
  // Whether the list is mapped to the feed already; read once per job.
  bool IsMapped(int32_t subscriptionId, int32_t feedId);
  void CommitStep();

  TtidewellOpmlContext& c_;
  TFolderManagement* folders_ = nullptr;
  std::string url_;
  // Per job: what the list's merge looks up for every entry.
  bool feedUrlsLoaded_ = false;
  TStoredFeedIndex storedFeeds_;
  bool listAddressesLoaded_ = false;
  std::unordered_map<int32_t, std::string> listAddresses_;
  uint64_t loadedGeneration_ = 0;
  bool mappingLoaded_ = false;
  std::unordered_set<int32_t> mappedFeeds_;
  std::unordered_set<std::string> addedTexts_;
  int32_t feedsInStep_ = 0;
  // A new list's folder, attached to the root folder once its row is
  // committed by a step.
  TFolder* pendingListFolder_ = nullptr;
  bool stepCommitted_ = false;
};

}  // namespace tidewell
