// SPDX-License-Identifier: MIT
// The feed engine: the component an application makes once. It owns the
// configuration, three connections to the database (the application's data
// access, the engine's own work, and the workers' shared one), the pool of
// five feed workers, the smart-update timer, the process's insert helper and
// the published events (tidewell_engine_events.h).
//
// Threads: every public operation belongs to the main thread. The workers run
// their own threads and reach the main thread through hand-overs.
//
// Lifetime: created (workers idle, timer off, not connected) -> connected ->
// smart update active -> shut down (StopThreads; thread count -1) ->
// destroyed. One engine per process: a second one fails to construct with
// "DB helper class already exists !".
//
// Shut-down never kills a thread and never deadlocks: while the main thread
// waits for a worker it keeps running the pending hand-overs (which a
// stopping worker drops anyway). A worker still running after the time-out
// is detached: it is left alive, and so are the workers' connection, the
// configuration and the insert helper it may still be using.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/download_order.h"
#include "engine/download_retries.h"
#include "engine/addresses/feed_address_claims.h"
#include "engine/feeds/tidewell_document_gate.h"
#include "engine/model/articles.h"
#include "engine/model/articles_by_filter.h"
#include "engine/model/feeds.h"
#include "engine/model/tidewell_filters.h"
#include "engine/model/tidewell_folders.h"
#include "engine/net/transfer_limits.h"
#include "engine/settings/configuration.h"
#include "engine/tidewell_engine_events.h"
#include "engine/tidewell_pool_worker.h"
#include "engine/tidewell_struct.h"
#include "engine/tidewell_timer.h"
#include "platform/main_loop.h"

namespace tidewell {

class TtidewellDbHelper;

// How the engine is made. The defaults are those of an application at run
// time.
struct TtidewellOptions {
  // At design time no worker is made and the timer cannot be switched on.
  bool designing = false;
  // Makes the workers of the pool; empty: the feed worker.
  TtidewellWorkerFactory workerFactory;
  // The main thread's loop, which must outlive the engine.
  platform::MainLoop* mainLoop = nullptr;
  // How long a shut-down waits for its workers in all (a stop without
  // shut-down: for each) before detaching those still running.
  int stopTimeoutMs = 30000;
  // The limits of every transfer of the feed workers.
  TTransferLimits transferLimits{};
};

class Ttidewell : public TtidewellEngineEvents {
 public:
  static constexpr int32_t kBatchSize = 250;
  static constexpr int16_t kThreadCount = 5;
  static constexpr int32_t kTimeoutMs = 55000;
  static constexpr uint32_t kFirstTickMs = 3000;
  static constexpr uint32_t kTimerOffIntervalMs = 1000;
  static constexpr uint32_t kErrorIntervalMs = 120000;
  static constexpr int kTimedOutPauseMs = 35000;
  static constexpr uint8_t kFeedsOptions = 5;

  // Called with the number of workers and the ordinal (from 1) of the one
  // being stopped.
  using TStopProgress = std::function<void(int32_t workerCount, int32_t ordinal)>;

  Ttidewell();
  explicit Ttidewell(TtidewellOptions options);
  // StopThreads with the shut-down flag, then frees everything.
  ~Ttidewell() override;
  Ttidewell(const Ttidewell&) = delete;
  Ttidewell& operator=(const Ttidewell&) = delete;

  // ---- Construction and shut-down ------------------------------------------

  // Stops and frees every worker (see the file comment); nothing when none
  // is left or a shut-down ran already. With shutDown the timer goes off and
  // the insert helper stops.
  void StopThreads(bool shutDown, const TStopProgress& progress = {});
  // The workers left; -1 after StopThreads.
  int16_t ThreadCount() const { return threadCount_; }
  // Whether a worker outlived the stop time-out and still runs: what it
  // uses must not be freed, so its process had better end without freeing.
  bool WorkerLeftRunning() const { return workerDetached_; }

  // While loading, the database setters change nothing and the getters read
  // empty; EndLoading ends it.
  void BeginLoading() { loading_ = true; }
  void EndLoading() { loading_ = false; }
  bool Loading() const { return loading_; }
  bool Designing() const { return designing_; }

  // ---- Published properties ------------------------------------------------

  const std::string& GetDbLoginname() const;
  void SetDbLoginname(const std::string& value);
  const std::string& GetDbPassword() const;
  void SetDbPassword(const std::string& value);
  const std::string& GetDbFilePath() const { return dbFilePath_; }
  // Raises "Database file "%s" not found" (unless loading) for a local file
  // that does not exist; a server's name ("host:path", "host/port:path",
  // "inet://host//path") is the server's to check.
  void SetDbFilePath(const std::string& value);
  // True connects the main, the engine's and the workers' connection, in
  // that order; false disconnects all three, but raises "All threads must
  // finish their job first" while a worker works or a job waits.
  bool GetConnected() const;
  void SetConnected(bool value);

  // Stored in the engine, its folder management and its filter workshop.
  void SetOwnerId(int32_t id);
  int32_t OwnerId() const { return ownerId_; }

  // ---- Operations for applications -----------------------------------------

  // A new database file at path (a folder, with or without a file name):
  // true when a file was made. Never raises: errorText gets the reason and
  // fileName is cleared. fileName receives the full name, also made the
  // engine's database file.
  bool CreateDatabase(const std::string& path, const std::string& userName, const std::string& password,
                      std::string& fileName, std::string& errorText);
  // The missing tables and upgrades of the schema, then ClearBuffer.
  void CreateTables(std::string& text);
  // Empties table buffer; true.
  bool ClearBuffer();
  // Subscribes a feed; its first download comes from the timer or
  // UpdateFeed. Returns the new feed's id, 0 for a blank URL; an address
  // that names a stored feed (SameFeedAddress) gives that feed's id, also
  // when a list files it at the same moment. An address longer than the
  // feeds' link column raises "Feed address too long: %d characters, the
  // limit is %d".
  int32_t AddFeed(const WideString& title, const std::string& url, const WideString& opmlDescription);
  // Makes the feed due now and queues it at the head of a worker's queue.
  // Raises "Feed (%d) not found" when no feed has the id, and "Feed (%d) is
  // being updated now: try again once that update has ended" while a worker
  // merges the feed as an OPML list.
  void UpdateFeed(int32_t feedId);
  // Whether a worker is merging the feed as an OPML list now.
  bool IsListJobRunning(int32_t feedId);
  // The id of the feed with that link (any case), -1 when none. Runs in
  // transaction when given, else in one of its own.
  int32_t FindFeedIdByUrl(const std::string& url, TTranWrapper* transaction = nullptr);
  // The addresses whose feed rows are being filed now (lists, AddFeed,
  // moves): one address, one feed row.
  TFeedAddressClaims& AddressClaims() { return addressClaims_; }
  // The engine's feeds on the main connection.
  TFeeds* GetFeeds();
  TArticles* GetArticles() { return articles_.get(); }
  TFilterWorkShop* GetFilterWorkShop() { return filterWorkShop_.get(); }
  // The folder tree of saved filters, on the main connection.
  TFolderManagement* GetFolders() { return folders_.get(); }
  // A new filter of the engine's workshop, owning its children and saving
  // through.
  std::unique_ptr<TFilter> NewFilter();
  TFilter* CloneFilter(TFilter* source, TFilter* target, bool keepIds);
  // Loads the articles that filter selects into a new list handed to the
  // caller (see TArticlesByFilter::LoadByFilter for request, whose root is
  // ignored, and for when a cancelled load leaves list empty). The filter
  // is read for ownerId when above 0, else for the engine's owner id; the
  // caller's filter is not touched.
  void GetArticlesByFilter(std::unique_ptr<TArticlesByFilter>& list, TFilter* filter, TFilterLoadRequest request,
                           int32_t ownerId);
  // Deletes the feeds (or marks them deleted) with their articles, as
  // TFeeds::DeleteFeed does, in one transaction of the engine.
  void DeleteFeeds(const TDynIntArray& feedIds, bool markOnly);
  // Deletes (purge) or empties the articles of the ids, as
  // TArticles::DeleteArticles does, in one transaction of the engine.
  // These operations, and the others that write, run again when a worker
  // writing the same rows at that moment made the database refuse them.
  void DeleteArticles(const TDynIntArray& articleIds, bool purge);
  // Queues again every interrupted or failed download: of the ids given, or
  // with none all but those that ended in 404. Partial ".tmp" files are
  // deleted.
  void ResetEnclosureDownloads(const TDynIntArray& enclosureIds = {});
  // Puts back to new each download that this engine handed out, that its
  // row still calls under way, and that no worker holds a job for any more:
  // its end could not be recorded (the database was away when the transfer
  // ended). One whose row names a finished file that no other row names is
  // marked downloaded instead. Returns the ids put back, to be handed out
  // again. Any thread, not while StopThreads runs.
  TDynIntArray ResetDownloadsLeftWithoutJob();
  // The text with its character and entity references resolved; unchanged
  // when it is no well-formed XML text (an "&" without ";", say).
  static void UnescapeXmlText(const WideString& text, bool option, WideString& result);
  // Binds transaction to the engine's own connection and starts it unless
  // doNotStart; returns that connection.
  TDbConnWrapper* BindTransaction(TTranWrapper* transaction, bool doNotStart);

  // ---- Job distribution and the update timer -------------------------------

  // counts[i] for worker i of workers: jobs div workers, the first
  // jobs mod workers one more.
  static void DistributeJobs(int32_t jobs, int32_t workers, std::vector<int32_t>& counts);
  // One feed job per id, spread over the workers holding no enclosure job,
  // shortest queue first. A feed whose job runs is left alone; one whose job
  // waits too, unless atFront, which moves it to the front. Raises "No
  // active connection" when not connected. Without a pool (design time, shut
  // down) nothing is queued.
  void UpdateFeeds(const TDynIntArray& feedIds, bool atFront);
  // One enclosure job per enclosure with a URL, on the upper half of the
  // pool, shortest queue first, handed out so that the workers take them
  // newest first (NewestFirst), before the jobs they already hold. Any
  // thread, not while StopThreads runs.
  void DownloadEnclosures(const TDynIntArray& enclosureIds, const WideString& targetFolder);
  void SetSmartUpdateActive(bool active);
  bool SmartUpdateActive() const { return timer_->Enabled(); }
  uint32_t TimerInterval() const { return timer_->Interval(); }
  int32_t QueuedJobCount();
  bool IsJobQueued(TQueueJobTypes kind, int32_t ignoreThreadId);
  bool IsFeedJobQueued();
  // Whether a worker holds a job (waiting or running) for the enclosure.
  bool IsEnclosureQueued(int32_t enclosureId);
  // The timer's tick: hands out again the downloads whose passing failure's
  // pause is over (TDownloadRetries), then queues the feeds whose next
  // update is due. Called, it waits for the database on the calling (main)
  // thread; the timer's own ticks read and write the database on a thread
  // of their own and end on the main thread through the main loop, so a
  // slow or hanging server never holds the main thread. A tick that comes
  // while the last one's database work runs is left out.
  void SmartUpdateTimer();
  // Whether a tick of the timer started its database work and its end has
  // not come back yet.
  bool TimerPassRunning() const { return timerPassRunning_; }

  // ---- Access for workers and tests ----------------------------------------

  TConfiguration* Configuration() { return configuration_.get(); }
  TDbConnWrapper& MainConnection() { return *mainConnection_; }
  TDbConnWrapper& EngineConnection() { return *engineConnection_; }
  TDbConnWrapper& WorkersConnection() { return *workersConnection_; }
  // The pool slot's worker; nullptr for an empty slot or after shut-down.
  TtidewellPoolWorker* Worker(int slot) const;
  platform::MainLoop& MainLoop() const { return mainLoop_; }
  const TTransferLimits& TransferLimits() const { return transferLimits_; }
  // Shared with the workers, which may outlive the engine when detached.
  const std::shared_ptr<TDocumentGate>& DocumentGate() const { return documentGate_; }
  // Where the workers note failed downloads. Any thread.
  TDownloadRetries& DownloadRetries() { return downloadRetries_; }

 protected:
  std::vector<TtidewellEventWorker*> EventWorkers() const override;

 private:
  void MakeConnections();
  void MakeWorkers(const TtidewellWorkerFactory& factory);
  void ForEachConnection(const std::function<void(TDbConnWrapper&)>& apply);
  void StopWorker(int slot, const TStopProgress& progress);
  // Serves the main loop and cuts slow server waits until hasEnded() or the
  // stop time-out (counted from the shut-down's start); whether it ended.
  bool AwaitStopUntilTimeOut(const std::function<bool()>& hasEnded);
  bool WaitForWorker(TtidewellPoolWorker& worker);
  void EndServerWaitsOfSlowStop();
  void FreeAfterShutDown();
  void RequireConnection() const;
  void ReadStoredState();
  static void MakeSchemaIn(const std::string& fileName, const std::string& userName, const std::string& password);
  void ForgetMissingDownloadFiles();
  // Whether jobs can be handed out: a pool that is not being stopped.
  bool PoolReady() const;
  // Slots of workers ordered by queue length, shortest first (a stable
  // order, so equal lengths keep the pool order).
  std::vector<int> OrderByQueueLength(std::vector<int> slots);
  // The ids, each once, of the feeds that no worker holds a job for; with
  // atFront also those whose waiting job was taken back to be queued anew.
  TDynIntArray FeedsNotQueued(const TDynIntArray& feedIds, bool atFront);
  // Takes the feed's waiting jobs out of the queues; whether there was one.
  bool WithdrawWaitingFeedJob(int32_t feedId);
  void HandOut(const std::vector<int>& slots, int32_t jobs, const std::function<void(int slot, int32_t job)>& add);
  // The dates and articles of the downloads (TEpisodePlace); one without its
  // rows comes last.
  std::vector<TEpisodePlace> EpisodePlaces(const std::map<int32_t, std::string>& urls);
  void RemoveLeftTemporaryFiles(const WideString& targetFolder);
  // What a tick found: read on the pass's thread, acted on on the main
  // thread.
  struct TTimerPass {
    bool selectFeeds = false;  // no feed job was queued at the tick
    uint64_t switchOffs = 0;   // timerSwitchOffs_ at the tick
    TDynIntArray feedIds;
    std::exception_ptr failure;
  };
  // The main thread's part before and after the database work.
  TTimerPass BeginTimerPass();
  void EndTimerPass(const TTimerPass& pass);
  // Any thread; the main thread leaves the pool alone meanwhile.
  void ReadTimerPass(TTimerPass& pass);
  void StartTimerPass();
  // Waits for the tick's thread, cutting its server waits as a shut-down's
  // workers'; one that outlives the stop time-out is left running.
  void WaitForTimerPass();
  void LeaveEverythingToTheProcessEnd();
  void HandOutDueDownloads();
  void SelectDueFeeds(TDynIntArray& ids);
  void PullBackFarUpdates(TDateTime nowUtc);
  // With tell false only the period changes: nothing is fired.
  // With mayRearm false the timer was switched off meanwhile: it stays so.
  void ReportTimerError(const std::string& message, bool tell, bool mayRearm);
  bool LossToldBefore(const std::exception_ptr& failure);
  // Runs work in a pooled transaction with a pooled statement on the
  // engine's own connection, committed after work; rolled back on failure,
  // and run again after an update conflict.
  void InEngineTransaction(const std::function<void(TQueryWrapper& query)>& work);
  void InOneEngineTransaction(const std::function<void(TQueryWrapper& query)>& work);
  // The stored feed that the (normalised) address names, or -1.
  int32_t FeedIdOfAddress(TQueryWrapper& query, const std::string& link);
  void ResetEnclosureDownloadsOnce(const TDynIntArray& enclosureIds);
  bool EndDownloadLeftWithoutJob(TQueryWrapper& query, int32_t enclosureId, bool finished);
  bool HandedOut(int32_t enclosureId);

  platform::MainLoop& mainLoop_;
  const bool designing_;
  const int stopTimeoutMs_;
  const TTransferLimits transferLimits_;
  bool loading_ = false;

  std::unique_ptr<TConfiguration> configuration_;
  std::recursive_mutex criticalSection_;
  std::shared_mutex multiReadLock_;

  std::unique_ptr<TDbConnWrapper> mainConnection_;
  std::unique_ptr<TDbConnWrapper> engineConnection_;
  std::unique_ptr<TDbConnWrapper> workersConnection_;
  std::unique_ptr<TTranWrapper> engineTransaction_;
  std::unique_ptr<TQueryWrapper> engineQuery_;
  std::string dbLoginname_;
  std::string dbPassword_;
  std::string dbFilePath_;

  std::unique_ptr<TFeeds> feeds_;
  std::unique_ptr<TArticles> articles_;
  std::unique_ptr<TFilterWorkShop> filterWorkShop_;
  std::unique_ptr<TFolderManagement> folders_;
  TFeedAddressClaims addressClaims_;

  int16_t threadCount_ = kThreadCount;
  std::vector<std::unique_ptr<TtidewellPoolWorker>> workers_;
  std::shared_ptr<TDocumentGate> documentGate_ = std::make_shared<TDocumentGate>();
  // Every enclosure handed to the workers by this engine; downloads are
  // handed out on the main thread and on an application's pass thread.
  std::mutex enclosuresHandedOutMutex_;
  std::set<int32_t> enclosuresHandedOut_;  // guarded by enclosuresHandedOutMutex_
  TDownloadRetries downloadRetries_;
  // The folders whose left temporary files were removed in this run.
  std::mutex foldersSweptMutex_;
  std::set<WideString> foldersSwept_;  // guarded by foldersSweptMutex_
  // Set while StopThreads takes the pool apart.
  bool stopping_ = false;
  // Set when a worker outlived the stop time-out and was left running.
  bool workerDetached_ = false;
  // When the shut-down's stop began; workers still waiting on a server
  // kStopCutMs later have their attachments cut.
  std::chrono::steady_clock::time_point shutDownBegan_;
  bool serverWaitsEnded_ = false;

  std::unique_ptr<TtidewellTimer> timer_;
  // The thread of the timer's tick; joined before the pool changes or
  // anything it uses is freed.
  std::thread timerPassThread_;
  std::atomic<bool> timerPassEnded_{true};
  bool timerPassRunning_ = false;
  // The tick's thread outlived a stop: nothing it may touch is changed or
  // freed (the process must end without destroying the engine).
  bool timerPassLeftRunning_ = false;
  uint64_t timerSwitchOffs_ = 0;
  // A posted end of a tick finds the engine gone once this is.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool madeDbHelper_ = false;
  bool shutDown_ = false;
  int32_t ownerId_ = 0;
};

}  // namespace tidewell
