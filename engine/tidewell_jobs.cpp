// SPDX-License-Identifier: MIT
// How the engine hands its work to the workers: feed updates spread over the
// workers that hold no enclosure job, enclosure downloads on the upper half
// of the pool, both by queue length; and the smart-update timer that queues
// the feeds whose next update is due.
#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "engine/download_order.h"
#include "engine/model/enclosures.h"
#include "engine/settings/tidewell_globvars.h"
#include "engine/tidewell.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "platform/file_ops.h"
#include "platform/system.h"

namespace tidewell {
namespace {

constexpr int kPauseBetweenSharesMs = 5;
constexpr int kPauseBeforeUpdateMs = 150;
constexpr size_t kIdGrowth = 255;
constexpr int kRowsBetweenQueueChecks = 4;
constexpr int32_t kNoRowItemId = -9999;
constexpr int32_t kEnclosureFailed = 3;
// The workers' pause after an error answer, and the longest adaptive
// interval, in minutes.
constexpr int kErrorRetryMinutes = 45;
constexpr int kLongestAdaptiveMinutes = 1440;

std::string TrimAscii(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool IsTimeOutMessage(std::string message) {
  std::transform(message.begin(), message.end(), message.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return message.find("timed out") != std::string::npos || message.find("time out") != std::string::npos ||
         message.find("timeout") != std::string::npos;
}

}  // namespace

void Ttidewell::DistributeJobs(int32_t jobs, int32_t workers, std::vector<int32_t>& counts) {
  counts.assign(workers > 0 ? workers : 0, 0);
  if (workers < 1 || jobs < 1) return;
  for (int32_t i = 0; i < workers; ++i) counts[i] = jobs / workers + (i < jobs % workers ? 1 : 0);
}

std::vector<int> Ttidewell::OrderByQueueLength(std::vector<int> slots) {
  std::vector<std::pair<int32_t, int>> lengths;
  for (int slot : slots) lengths.emplace_back(workers_[slot]->GetQueueCount(), slot);
  std::stable_sort(lengths.begin(), lengths.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < lengths.size(); ++i) slots[i] = lengths[i].second;
  return slots;
}

void Ttidewell::HandOut(const std::vector<int>& slots, int32_t jobs,
                        const std::function<void(int slot, int32_t job)>& add) {
  std::vector<int32_t> counts;
  DistributeJobs(jobs, static_cast<int32_t>(slots.size()), counts);
  int32_t next = 0;
  for (size_t i = 0; i < slots.size(); ++i) {
    if (counts[i] == 0) break;
    for (int32_t n = 0; n < counts[i]; ++n) add(slots[i], next++);
    platform::SleepMs(kPauseBetweenSharesMs);
  }
}

bool Ttidewell::PoolReady() const { return !stopping_ && threadCount_ > 0 && !workers_.empty(); }

void Ttidewell::UpdateFeeds(const TDynIntArray& feedIds, bool atFront) {
  RequireConnection();
  if (feedIds.empty() || !PoolReady()) return;
  const TDynIntArray wanted = FeedsNotQueued(feedIds, atFront);
  if (wanted.empty()) return;
  std::vector<int> eligible;
  for (int slot = 0; slot < static_cast<int>(workers_.size()); ++slot)
    if (workers_[slot] && !workers_[slot]->IsJobKindQueued(TQueueJobTypes::CgetEnclosure, 0)) eligible.push_back(slot);
  if (eligible.empty()) eligible.push_back(0);
  HandOut(OrderByQueueLength(eligible), static_cast<int32_t>(wanted.size()),
          [&](int slot, int32_t job) { workers_[slot]->AddFeedJob(wanted[job], atFront); });
}

// Two workers on one feed would store its articles twice; a job stays
// queued until it ends, so a feed being fetched is left alone, and so is one
// that waits, unless the request is for the front: its waiting job is taken
// back and queued again at the front. Only the main thread queues feed jobs,
// so nothing slips in between.
TDynIntArray Ttidewell::FeedsNotQueued(const TDynIntArray& feedIds, bool atFront) {
  TDynIntArray wanted;
  std::set<int32_t> seen;
  for (int32_t id : feedIds) {
    if (!seen.insert(id).second) continue;
    const bool queued = std::any_of(workers_.begin(), workers_.end(), [id](const auto& worker) {
      return worker && worker->IsJobQueued(id, TQueueJobTypes::CfeedOperation, 0);
    });
    if (!queued || (atFront && WithdrawWaitingFeedJob(id))) wanted.push_back(id);
  }
  return wanted;
}

bool Ttidewell::WithdrawWaitingFeedJob(int32_t feedId) {
  bool withdrawn = false;
  for (const auto& worker : workers_)
    if (worker && worker->WithdrawWaitingJob(feedId, TQueueJobTypes::CfeedOperation)) withdrawn = true;
  return withdrawn;
}

void Ttidewell::DownloadEnclosures(const TDynIntArray& enclosureIds, const WideString& targetFolder) {
  if (enclosureIds.empty() || !PoolReady()) return;
  std::map<int32_t, std::string> urls;
  {
    TEnclosures enclosures(mainConnection_.get(), 0);
    enclosures.LoadByIds(enclosureIds, "", 0, 0);
    for (int32_t i = 0; i < enclosures.GetCount(); ++i) {
      const TEnclosuresProperty* enclosure = enclosures.GetItem(i);
      const std::string url = TrimAscii(enclosure->Url);
      if (!url.empty()) urls[enclosure->EnclosureId] = url;
    }
  }
  if (urls.empty()) return;
  RemoveLeftTemporaryFiles(targetFolder);
  // Each job goes to the head of its worker's queue: every share is put
  // there whole, newest first, and the shares are dealt in turn.
  const std::vector<int32_t> order = NewestFirst(EpisodePlaces(urls));
  const int pool = static_cast<int>(workers_.size());
  std::vector<int> slots;
  const int upperHalf = std::max(1, pool / 2);
  for (int slot = pool - 1; slot >= pool - upperHalf; --slot) slots.push_back(slot);
  slots = OrderByQueueLength(slots);
  const std::vector<std::vector<size_t>> shares = DealInTurn(order.size(), slots.size());
  for (size_t i = 0; i < slots.size() && !shares[i].empty(); ++i) {
    std::vector<TJobRequest> jobs;
    for (const size_t job : shares[i]) {
      const int32_t id = order[job];
      {
        std::lock_guard<std::mutex> lock(enclosuresHandedOutMutex_);
        enclosuresHandedOut_.insert(id);
      }
      jobs.push_back({urls[id], id, TQueueJobTypes::CgetEnclosure, targetFolder});
    }
    workers_[slots[i]]->AddJobsAtHead(jobs);
  }
}

// A download killed with its process before its row named its temporary
// file leaves that file for good: the first hand-out into a folder in a
// run, before any job of this run writes there, removes the engine's own
// temporary files that no row names. A folder that cannot be swept now is
// swept at a later hand-out.
void Ttidewell::RemoveLeftTemporaryFiles(const WideString& targetFolder) {
  {
    std::lock_guard<std::mutex> lock(foldersSweptMutex_);
    if (!foldersSwept_.insert(targetFolder).second) return;
  }
  std::string folder = kt::WideToUtf8(targetFolder);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::vector<std::string> left;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(error) && IsEngineTemporaryName(name)) left.push_back(folder + name);
  }
  if (left.empty()) return;
  std::set<std::string> named;
  try {
    InEngineTransaction([&](TQueryWrapper& query) {
      named.clear();
      query.SQL.Add("select filelocation from enclosures where filelocation starting with ?");
      query.Params(0).SetString(folder);
      ExecQueryTimed(&query, true);
      for (; !query.Eof(); query.Next()) named.insert(query.Fields(0).AsString());
    });
  } catch (const std::exception&) {
    std::lock_guard<std::mutex> lock(foldersSweptMutex_);
    foldersSwept_.erase(targetFolder);
    return;
  }
  for (const std::string& file : left)
    if (named.count(file) == 0) platform::DeleteFile(file);
}

std::vector<TEpisodePlace> Ttidewell::EpisodePlaces(const std::map<int32_t, std::string>& urls) {
  std::vector<int32_t> ids;
  for (const auto& [id, url] : urls) ids.push_back(id);
  std::map<int32_t, TEpisodePlace> found;
  InEngineTransaction([&](TQueryWrapper& query) {
    found.clear();
    for (size_t from = 0; from < ids.size(); from += kBatchSize) {
      std::string list;
      for (size_t i = from; i < std::min(ids.size(), from + kBatchSize); ++i)
        list += (i == from ? "" : ",") + std::to_string(ids[i]);
      query.Close();
      query.SQL.Clear();
      query.SQL.Add("select e.enclosure_id,a.created,a.id from enclosures e join articles a on a.id=e.article_id");
      query.SQL.Add("where e.enclosure_id in (" + list + ")");
      ExecQueryTimed(&query, true);
      for (; !query.Eof(); query.Next()) {
        const int32_t id = query.Fields(0).AsInteger();
        found[id] = {id, query.Fields(1).IsNull() ? -1.0 : query.Fields(1).AsDateTime(), query.Fields(2).AsInteger()};
      }
      query.Close();
    }
  });
  std::vector<TEpisodePlace> places;
  for (const int32_t id : ids) {
    const auto place = found.find(id);
    places.push_back(place != found.end() ? place->second : TEpisodePlace{id, -1.0, INT32_MAX});
  }
  return places;
}

void Ttidewell::SetSmartUpdateActive(bool active) {
  if (designing_ || !timer_) return;
  if (!active) ++timerSwitchOffs_;
  timer_->SetEnabled(active);
  if (!active) timer_->SetInterval(kTimerOffIntervalMs);
}

int32_t Ttidewell::QueuedJobCount() {
  int32_t count = 0;
  for (const auto& worker : workers_)
    if (worker) count += worker->GetQueueCount();
  return count;
}

bool Ttidewell::IsJobQueued(TQueueJobTypes kind, int32_t ignoreThreadId) {
  for (const auto& worker : workers_) {
    if (!worker || worker->GetQueueCount() == 0) continue;
    if (worker->IsJobKindQueued(kind, ignoreThreadId)) return true;
    platform::SleepMs(kPauseBetweenSharesMs);
  }
  return false;
}

bool Ttidewell::IsEnclosureQueued(int32_t enclosureId) {
  for (const auto& worker : workers_)
    if (worker && worker->IsJobQueued(enclosureId, TQueueJobTypes::CgetEnclosure, -1)) return true;
  return false;
}

bool Ttidewell::IsFeedJobQueued() {
  for (const auto& worker : workers_)
    if (worker && worker->IsJobQueued(kNoRowItemId, TQueueJobTypes::CfeedOperation, -1)) return true;
  return false;
}

// ---- The smart-update timer -------------------------------------------------------

void Ttidewell::SmartUpdateTimer() {
  // The engine's transaction is the running tick's.
  if (timerPassRunning_) return;
  TTimerPass pass = BeginTimerPass();
  ReadTimerPass(pass);
  EndTimerPass(pass);
}

void Ttidewell::StartTimerPass() {
  if (timerPassRunning_ || shutDown_) return;
  auto pass = std::make_shared<TTimerPass>(BeginTimerPass());
  if (timerPassThread_.joinable()) timerPassThread_.join();  // its end came back already
  timerPassRunning_ = true;
  timerPassEnded_ = false;
  platform::MainLoop& loop = mainLoop_;
  const std::weak_ptr<bool> alive = alive_;
  try {
    timerPassThread_ = std::thread([this, pass, alive, &loop] {
      ReadTimerPass(*pass);
      // The engine may be freed from here on: only the loop is used.
      timerPassEnded_ = true;
      loop.Post([this, pass, alive] {
        if (!alive.lock()) return;
        timerPassRunning_ = false;
        EndTimerPass(*pass);
      });
    });
  } catch (...) {
    timerPassRunning_ = false;
    timerPassEnded_ = true;
    throw;
  }
}

// The period settles on a minute before the database is read, as the
// tick's failure may change it after.
Ttidewell::TTimerPass Ttidewell::BeginTimerPass() {
  TTimerPass pass;
  pass.switchOffs = timerSwitchOffs_;
  pass.selectFeeds = !(QueuedJobCount() > 0 && IsJobQueued(TQueueJobTypes::CfeedOperation, -1));
  if (!pass.selectFeeds || !GetConnected()) return pass;
  const int32_t seconds = GlobalVars != nullptr ? GlobalVars->GetSecondsSetting() : 0;
  const uint32_t period = static_cast<uint32_t>((60 - seconds) * 1000);
  if (period != timer_->Interval()) {
    timer_->SetEnabled(false);
    timer_->SetInterval(period);
    timer_->SetEnabled(true);
  }
  return pass;
}

void Ttidewell::ReadTimerPass(TTimerPass& pass) {
  try {
    HandOutDueDownloads();
    RequireConnection();
    if (!pass.selectFeeds) return;
    SelectDueFeeds(pass.feedIds);
    if (!pass.feedIds.empty()) platform::SleepMs(kPauseBeforeUpdateMs);
  } catch (...) {
    pass.failure = std::current_exception();
    try {
      if (engineTransaction_->InTransaction()) engineTransaction_->Rollback();
    } catch (...) {
    }
  }
}

void Ttidewell::EndTimerPass(const TTimerPass& pass) {
  if (shutDown_) return;
  std::exception_ptr failure = pass.failure;
  if (!failure) {
    try {
      if (!pass.selectFeeds) return;
      if (OnSmrtUpdateTimer()) OnSmrtUpdateTimer()(static_cast<int32_t>(pass.feedIds.size()));
      if (!pass.feedIds.empty()) UpdateFeeds(pass.feedIds, false);
      return;
    } catch (...) {
      failure = std::current_exception();
    }
  }
  std::string message;
  try {
    std::rethrow_exception(failure);
  } catch (...) {
    message = CurrentExceptionMessage();
  }
  const bool toldBefore = LossToldBefore(failure);
  ReportTimerError(message, !toldBefore, pass.switchOffs == timerSwitchOffs_);
}

void Ttidewell::WaitForTimerPass() {
  if (!timerPassThread_.joinable()) return;
  if (AwaitStopUntilTimeOut([this] { return timerPassEnded_.load(); })) {
    timerPassThread_.join();
    return;
  }
  timerPassThread_.detach();
  timerPassLeftRunning_ = true;
  workerDetached_ = true;
}

// A lost attachment is told once: the ticks that fail until the server
// answers again say nothing more.
bool Ttidewell::LossToldBefore(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return db::IsConnectionLost(error) && !engineConnection_->ClaimLossReport();
  } catch (...) {
    return false;
  }
}

// Only a row that still says failed is fetched again: one the user reset,
// or that a job holds, is the application's again.
void Ttidewell::HandOutDueDownloads() {
  if (!PoolReady()) return;
  const TDateTime nowUtc = LocalTimeToUTC(Now());
  const std::vector<TDownloadRetries::TDue> due = downloadRetries_.TakeDue(nowUtc);
  if (due.empty()) return;
  try {
    TDynIntArray ids;
    for (const TDownloadRetries::TDue& download : due) ids.push_back(download.enclosureId);
    TEnclosures enclosures(mainConnection_.get(), 0);
    enclosures.LoadByIds(ids, "", 0, 0);
    std::map<WideString, TDynIntArray> byFolder;
    for (int32_t i = 0; i < enclosures.GetCount(); ++i) {
      const TEnclosuresProperty& enclosure = *enclosures.GetItem(i);
      if (enclosure.DownloadStatus != kEnclosureFailed || IsEnclosureQueued(enclosure.EnclosureId)) continue;
      for (const TDownloadRetries::TDue& download : due) {
        if (download.enclosureId != enclosure.EnclosureId) continue;
        byFolder[download.targetFolder].push_back(download.enclosureId);
      }
    }
    for (const auto& [folder, folderIds] : byFolder) DownloadEnclosures(folderIds, folder);
  } catch (...) {
    downloadRetries_.PutBack(due, nowUtc);
    throw;
  }
}

void Ttidewell::SelectDueFeeds(TDynIntArray& ids) {
  engineQuery_->Close();
  engineQuery_->SQL.Clear();
  engineQuery_->SQL.Add("select " + SqlPagingPrefix(kBatchSize, 0) + " feed_id");
  engineQuery_->SQL.Add("from feeds ");
  engineQuery_->SQL.Add("where next_feedupdate<=?");
  engineQuery_->SQL.Add("  and skipFeed=0");
  engineQuery_->SQL.Add("  and type_ not in ('ARCHIVE','OSRCROOT')");
  engineQuery_->SQL.Add("order by priority desc,next_feedupdate asc" + SqlPagingSuffix(kBatchSize, 0));
  const TDateTime nowUtc = LocalTimeToUTC(Now());
  engineTransaction_->StartTransaction();
  PullBackFarUpdates(nowUtc);
  engineQuery_->Params(0).SetDateTime(nowUtc);
  ExecQueryTimed(engineQuery_.get(), true);
  int rows = 0;
  for (; !engineQuery_->Eof(); engineQuery_->Next()) {
    if (ids.size() == ids.capacity()) ids.reserve(ids.size() + kIdGrowth);
    ids.push_back(engineQuery_->FieldByName("FEED_ID").AsInteger());
    if (++rows % kRowsBetweenQueueChecks == 0 && IsFeedJobQueued()) break;
  }
  engineQuery_->Close();
  engineTransaction_->Commit();
}

// A next update further ahead than the feed's own interval was computed
// while the clock was wrong (set ahead, then put right): the feed is taken
// as due one interval from now. An adaptive interval counts as its longest,
// a day; a failed feed's pause (longer than a short interval) is left alone.
// Its own statement: when the rows are busy the next tick tries again, and
// the select below still runs.
void Ttidewell::PullBackFarUpdates(TDateTime nowUtc) {
  TQueryWrapper* query = NewQuery(true);
  try {
    query->SetTransaction(engineTransaction_.get());
    const std::string longest = std::to_string(kLongestAdaptiveMinutes);
    const std::string interval = "(case when update_interval<1 then " + longest + " else update_interval end)";
    const std::string bound = "(case when update_interval<1 then " + longest + " else maxvalue(update_interval," +
                              std::to_string(kErrorRetryMinutes) + ") end)";
    // In double precision: a numeric quotient is cut to its scale, which
    // would make a pause of exactly the bound look longer. A minute's margin
    // keeps a next update written a moment ago out of reach.
    query->SQL.Add("update feeds");
    query->SQL.Add("set next_feedupdate=cast(? as timestamp)+cast(" + interval + " as double precision)/1440");
    query->SQL.Add("where skipFeed=0");
    query->SQL.Add("  and next_feedupdate>cast(? as timestamp)+cast(" + bound + "+1 as double precision)/1440");
    query->Params(0).SetDateTime(nowUtc);
    query->Params(1).SetDateTime(nowUtc);
    ExecQueryTimed(query, false);
  } catch (...) {
  }
  SafeCloseQuery(query);
  ReleaseQuery(query);
}

void Ttidewell::ReportTimerError(const std::string& message, bool tell, bool mayRearm) {
  if (IsTimeOutMessage(message)) {
    // The next tick waits that much longer; the main thread does not.
    if (mayRearm && timer_->Enabled()) {
      timer_->SetEnabled(false);
      timer_->SetInterval(static_cast<uint32_t>(kTimedOutPauseMs));
      timer_->SetEnabled(true);
    }
    return;
  }
  if (!mayRearm) return;
  timer_->SetInterval(kErrorIntervalMs);
  timer_->SetEnabled(true);
  if (tell && OnFatalError()) {
    try {
      OnFatalError()(platform::CurrentThreadId(), "Error in update timer: \r\n\r\n" + message, "", -1,
                     TQueueJobTypes::CNoJob);
    } catch (...) {
    }
  }
}

}  // namespace tidewell
