// SPDX-License-Identifier: MIT
// The engine's construction, published properties and shut-down. The
// operations for applications are in tidewell_operations.cpp, the job
// distribution and the update timer in tidewell_jobs.cpp.
#include "engine/tidewell.h"

#include <atomic>
#include <thread>
#include <utility>

#include "engine/db/database_location.h"
#include "engine/db/server_waits.h"
#include "engine/db/tidewell_db_helper_instance.h"
#include "engine/feeds/tidewell_feed_pool_worker.h"
#include "engine/tidewell_msg.h"
#include "platform/file_ops.h"
#include "platform/system.h"

namespace tidewell {
namespace {

constexpr int kPauseBetweenStopRequestsMs = 3;
// How long a shut-down lets the workers finish what they wait on a server
// for before their attachments are cut.
constexpr int kStopCutMs = 2000;

}  // namespace

Ttidewell::Ttidewell() : Ttidewell(TtidewellOptions{}) {}

Ttidewell::Ttidewell(TtidewellOptions options)
    : TtidewellEngineEvents(options.mainLoop != nullptr ? *options.mainLoop : platform::MainThread()),
      mainLoop_(options.mainLoop != nullptr ? *options.mainLoop : platform::MainThread()),
      designing_(options.designing),
      stopTimeoutMs_(options.stopTimeoutMs),
      transferLimits_(options.transferLimits) {
  configuration_ = std::make_unique<TConfiguration>();
  EnablePools();
  MakeConnections();
  feeds_ = std::make_unique<TFeeds>(mainConnection_.get());
  feeds_->Options = kFeedsOptions;
  articles_ = std::make_unique<TArticles>(mainConnection_.get(), 0);
  // The helper is made before any worker runs, so that a second engine fails
  // without starting threads of its own.
  TtidewellDbHelper& helper = CreateDbHelperInstance();
  madeDbHelper_ = true;
  try {
    folders_ = std::make_unique<TFolderManagement>(mainConnection_.get(), &helper);
    if (!designing_) MakeWorkers(options.workerFactory);
    timer_ = std::make_unique<TtidewellTimer>(mainLoop_);
    timer_->SetOnTimer([this](TtidewellTimer*) { StartTimerPass(); });
    timer_->SetInterval(kFirstTickMs);
    timer_->SetEnabled(false);
    filterWorkShop_ = std::make_unique<TFilterWorkShop>(mainConnection_.get());
    SetOwnerId(0);
  } catch (...) {
    StopThreads(true);
    FreeAfterShutDown();
    throw;
  }
}

Ttidewell::~Ttidewell() {
  alive_.reset();
  StopThreads(true);
  WaitForTimerPass();
  FreeAfterShutDown();
}

void Ttidewell::MakeConnections() {
  mainConnection_ = std::make_unique<TDbConnWrapper>();
  engineConnection_ = std::make_unique<TDbConnWrapper>();
  workersConnection_ = std::make_unique<TDbConnWrapper>();
  ForEachConnection([](TDbConnWrapper& connection) {
    connection.SetCharSet("UTF8");
    connection.SetSQLDialect(3);
  });
  engineTransaction_ = std::make_unique<TTranWrapper>();
  engineTransaction_->SetDatabase(engineConnection_.get());
  engineQuery_ = std::make_unique<TQueryWrapper>();
  engineQuery_->SetTransaction(engineTransaction_.get());
}

void Ttidewell::MakeWorkers(const TtidewellWorkerFactory& factory) {
  const TtidewellWorkerFactory make = factory ? factory : FeedWorkerFactory();
  for (int slot = 0; slot < threadCount_; ++slot) {
    workers_.push_back(make(*this, slot));
    CopyHandlersTo(workers_.back()->EventWorker());
  }
}

void Ttidewell::ForEachConnection(const std::function<void(TDbConnWrapper&)>& apply) {
  apply(*mainConnection_);
  apply(*engineConnection_);
  apply(*workersConnection_);
  for (const auto& worker : workers_)
    if (worker && worker->OwnConnection() != nullptr) apply(*worker->OwnConnection());
}

// ---- Shut-down ----------------------------------------------------------------

void Ttidewell::StopThreads(bool shutDown, const TStopProgress& progress) {
  if (threadCount_ < 1 || shutDown_) return;
  if (shutDown) {
    shutDown_ = true;
    shutDownBegan_ = std::chrono::steady_clock::now();
    // A connection lost now is not made again: attaching could wait on a
    // server that answers nothing.
    ForEachConnection([](TDbConnWrapper& connection) { connection.RefuseAttaching(); });
    if (timer_) SetSmartUpdateActive(false);
    if (madeDbHelper_ && DbHelperInstance() != nullptr) DbHelperInstance()->SetStopFlag(true);
  }
  // The tick's thread may use the pool: it ends first. One left running
  // keeps the pool as it is.
  WaitForTimerPass();
  if (timerPassLeftRunning_) return;
  // While the main loop is pumped below, a tick or a posted call may try to
  // hand out jobs: the pool is half gone then, so they find none.
  stopping_ = true;
  // Every worker is asked first, so that they all wind down at once.
  for (int slot = static_cast<int>(workers_.size()) - 1; slot >= 0; --slot) {
    try {
      if (workers_[slot]) workers_[slot]->RequestStop();
    } catch (...) {
    }
    platform::SleepMs(kPauseBetweenStopRequestsMs);
  }
  for (int slot = static_cast<int>(workers_.size()) - 1; slot >= 0; --slot) {
    if (!workers_[slot]) break;
    StopWorker(slot, progress);
  }
  workers_.clear();
  threadCount_ = -1;
  stopping_ = false;
}

void Ttidewell::StopWorker(int slot, const TStopProgress& progress) {
  const int32_t count = static_cast<int32_t>(workers_.size());
  try {
    if (progress) progress(count, count - slot);
    workers_[slot]->Stop();
    if (WaitForWorker(*workers_[slot])) {
      workers_[slot].reset();
    } else {
      // Never freed under a thread that may still touch it.
      workers_[slot].release();
      workerDetached_ = true;
    }
  } catch (...) {
  }
  workers_[slot] = nullptr;
}

bool Ttidewell::AwaitStopUntilTimeOut(const std::function<bool()>& hasEnded) {
  const auto deadline = (shutDown_ ? shutDownBegan_ : std::chrono::steady_clock::now()) +
                        std::chrono::milliseconds(stopTimeoutMs_);
  while (!hasEnded() && std::chrono::steady_clock::now() < deadline) {
    EndServerWaitsOfSlowStop();
    // A thread may be waiting in a hand-over: keep serving them.
    try {
      if (mainLoop_.IsMainThread()) {
        mainLoop_.RunUntil(hasEnded, 50);
      } else {
        platform::SleepMs(10);
      }
    } catch (...) {
    }
  }
  return hasEnded();
}

bool Ttidewell::WaitForWorker(TtidewellPoolWorker& worker) {
  auto ended = std::make_shared<std::atomic<bool>>(false);
  std::thread waiter([&worker, ended] {
    worker.WaitFor();
    ended->store(true);
  });
  if (AwaitStopUntilTimeOut([&] { return ended->load(); })) {
    waiter.join();
    return true;
  }
  waiter.detach();
  return false;
}

// A close must not wait on a server that takes connections and answers
// nothing: the waits of workers still running end as lost connections.
void Ttidewell::EndServerWaitsOfSlowStop() {
  if (!shutDown_ || serverWaitsEnded_) return;
  if (std::chrono::steady_clock::now() - shutDownBegan_ < std::chrono::milliseconds(kStopCutMs)) return;
  serverWaitsEnded_ = true;
  ForEachConnection([](TDbConnWrapper& connection) { connection.CutAttachment(); });
}

void Ttidewell::FreeAfterShutDown() {
  if (timerPassLeftRunning_) return LeaveEverythingToTheProcessEnd();
  timer_.reset();
  feeds_.reset();
  articles_.reset();
  folders_.reset();
  filterWorkShop_.reset();
  engineQuery_.reset();
  engineTransaction_.reset();
  if (workerDetached_) {
    // A detached worker may still use these; they stay for the process's life.
    configuration_.release();
    workersConnection_.release();
    if (madeDbHelper_) AbandonDbHelperInstance();
  } else if (madeDbHelper_) {
    FreeDbHelperInstance();
  }
  madeDbHelper_ = false;
  configuration_.reset();
  workersConnection_.reset();
  engineConnection_.reset();
  mainConnection_.reset();
}

// The tick's thread may still use any of these.
void Ttidewell::LeaveEverythingToTheProcessEnd() {
  for (auto& worker : workers_) worker.release();
  timer_.release();
  feeds_.release();
  articles_.release();
  folders_.release();
  filterWorkShop_.release();
  engineQuery_.release();
  engineTransaction_.release();
  configuration_.release();
  workersConnection_.release();
  engineConnection_.release();
  mainConnection_.release();
  if (madeDbHelper_) AbandonDbHelperInstance();
  madeDbHelper_ = false;
}

// ---- Published properties -------------------------------------------------

const std::string& Ttidewell::GetDbLoginname() const {
  static const std::string empty;
  return loading_ ? empty : dbLoginname_;
}

void Ttidewell::SetDbLoginname(const std::string& value) {
  if (loading_) return;
  dbLoginname_ = value;
  ForEachConnection([&](TDbConnWrapper& connection) { connection.SetUser(value); });
}

const std::string& Ttidewell::GetDbPassword() const {
  static const std::string empty;
  return loading_ ? empty : dbPassword_;
}

void Ttidewell::SetDbPassword(const std::string& value) {
  if (loading_) return;
  dbPassword_ = value;
  ForEachConnection([&](TDbConnWrapper& connection) { connection.SetPassword(value); });
}

void Ttidewell::SetDbFilePath(const std::string& value) {
  if (!loading_ && !db::IsServerPath(value) && !platform::FileExists(value)) RaiseMessage(kDatabaseFileNotFound, value);
  dbFilePath_ = value;
  ForEachConnection([&](TDbConnWrapper& connection) { connection.SetDBFileName(value); });
}

bool Ttidewell::GetConnected() const { return !loading_ && mainConnection_->Connected(); }

void Ttidewell::SetConnected(bool value) {
  if (loading_) return;
  if (value) {
    const bool wasConnected = mainConnection_->Connected();
    ForEachConnection([](TDbConnWrapper& connection) {
      if (!connection.Connected()) connection.Connect();
    });
    if (!wasConnected) ReadStoredState();
  } else {
    // A worker's transaction runs on the workers' connection: pulling the
    // connection from under it would free what it still uses.
    if (AnyThreadWorking() || QueuedJobCount() > 0) RaiseMessage(kThreadsMustFinish);
    ForEachConnection([](TDbConnWrapper& connection) { connection.Disconnect(); });
  }
}

// What earlier runs left: the folder tree that holds the subscription
// lists, and downloads cut short by the end of the process, whose rows name
// a temporary file that is gone. A new database has no tables yet: this runs
// again once they are made, and the first list that needs the tree reads (or
// makes) it as well.
void Ttidewell::ReadStoredState() {
  try {
    if (folders_) folders_->LoadFromDatabase();
  } catch (const std::exception&) {
  }
  try {
    ForgetMissingDownloadFiles();
  } catch (const std::exception&) {
  }
}

void Ttidewell::SetOwnerId(int32_t id) {
  ownerId_ = id;
  if (filterWorkShop_) filterWorkShop_->UserId = id;
  if (folders_) folders_->UserId = id;
}

TFeeds* Ttidewell::GetFeeds() {
  if (!feeds_) {
    feeds_ = std::make_unique<TFeeds>(mainConnection_.get());
    feeds_->Options = kFeedsOptions;
  }
  return feeds_.get();
}

TtidewellPoolWorker* Ttidewell::Worker(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(workers_.size())) return nullptr;
  return workers_[slot].get();
}

std::vector<TtidewellEventWorker*> Ttidewell::EventWorkers() const {
  std::vector<TtidewellEventWorker*> result;
  for (const auto& worker : workers_)
    if (worker) result.push_back(&worker->EventWorker());
  return result;
}

void Ttidewell::RequireConnection() const {
  if (!GetConnected()) RaiseMessage(kNoActiveConnection);
}

}  // namespace tidewell
