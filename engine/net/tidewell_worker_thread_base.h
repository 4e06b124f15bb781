// SPDX-License-Identifier: MIT
// The thread class of the engine's workers: one HTTP client, one transfer per
// call of Download, with the engine's request profile (headers, conditional
// GET, proxy, credentials, TLS), size quotas, our own redirect following,
// authentication through the application, progress reports, and the result
// handed to the derived class's HandleResponse.
//
// Threads: Download runs on the worker's own thread (or any one thread at a
// time); the event handlers run on the main thread through Synchronize. The
// flags and values under lock_ may be read and written from any thread.
//
// Inputs: the shared worker connection (the look-ups of Download run in the
// worker's own transaction on it), the configuration (its proxy values), the
// global settings (the raw-data size limit), and the event handlers
// (the worker's copies in WorkerEvents(), set by the engine). Without a connection
// the look-ups answer "nothing known"; without a configuration the proxy
// values given to SetProxySettings apply.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_set>
#include <thread>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/net/http_exchange.h"
#include "engine/net/proxy_settings.h"
#include "engine/net/tidewell_trd_job_prop_class.h"
#include "engine/net/transfer_limits.h"
#include "engine/settings/configuration.h"
#include "engine/tidewell_event_worker.h"
#include "engine/tidewell_struct.h"
#include "platform/event.h"

namespace tidewell {

class TtidewellWorkerThreadBase : public TtidewellEventWorker {
 public:
  static constexpr int kRedirectMaximum = 6;
  static constexpr int64_t kFeedQuota = 5242880;
  // The authentication round at which the download gives up.
  static constexpr int kMaxAuthRounds = 11;
  static constexpr int64_t kQuotaMarker = -999999;
  static constexpr int32_t kKnownFeedCode = 2147483647;
  static constexpr int kPhaseOther = 0;
  static constexpr int kPhaseEnclosureStart = 1;
  static constexpr int kPhaseEnclosureEnd = 2;

  // Time-outs in milliseconds (the engine passes 55000 for both). connection
  // and settings may be nullptr and must outlive the worker. The thread does
  // not run until Start.
  TtidewellWorkerThreadBase(TDbConnWrapper* connection, int32_t readTimeoutMs, int32_t connectTimeoutMs,
                            TConfiguration* settings);
  // REQUIRES: the thread has ended (the derived class stops and waits for it
  // in its own destructor, since Execute belongs to it).
  ~TtidewellWorkerThreadBase() override;
  TtidewellWorkerThreadBase(const TtidewellWorkerThreadBase&) = delete;
  TtidewellWorkerThreadBase& operator=(const TtidewellWorkerThreadBase&) = delete;

  // The thread: Start runs Execute on a new thread; Terminate asks Execute to
  // end; WaitFor joins it.
  void Start();
  // Both wake an idle worker, so that it sees them at once.
  void Terminate() {
    terminated_ = true;
    wakeUpEvent_.Set();
  }
  bool Terminated() const { return terminated_; }
  void WaitFor();

  // Sets stop-requested: a transfer in progress ends within about a second,
  // and no further event is handed to the main thread.
  void RequestStop();
  // RequestStop and Terminate.
  void Stop();

  bool GetStopRequested() const;
  void SetStopRequested(bool value);
  bool GetWorking() override;
  void SetWorking(bool value);
  TQueueJobTypes GetJobType() const;
  void SetJobType(TQueueJobTypes value);
  std::string GetUserAgent() const;
  void SetUserAgent(const std::string& value);
  int32_t GetConnectTimeout() const;
  int32_t GetReadTimeout() const;

  // The proxy values that each Download uses: the configuration's when the
  // worker has one, else those set here.
  void SetProxySettings(const TProxySettings& settings);
  TProxySettings GetProxySettings() const;
  // The size limit of raw-data transfers: the global settings' (5242880
  // bytes) unless set here.
  void SetRawDataSizeLimit(int32_t bytes);
  int32_t GetRawDataSizeLimit() const;
  void SetTransferLimits(const TTransferLimits& limits);
  TTransferLimits GetTransferLimits() const;
  // Certificate authorities that TLS connections trust; "" (the default) is
  // the system's store. Certificates are always verified.
  void SetCaCertificateFile(const std::string& path);

  // One transfer; the result reaches HandleResponse (phase 1 before and
  // phase 2 after an enclosure transfer, phase 0 for the other kinds) and is
  // never returned. Nothing is raised but what HandleResponse raises.
  // targetFolder and fileName are used by CgetEnclosure jobs, rawDataReq by
  // CgetRawData jobs; rawDataReq and context are passed on unchanged.
  void Download(const std::string& url, const std::string& lastModified, const std::string& etag,
                const std::string& userName, const std::string& password, const kt::WideString& targetFolder,
                const kt::WideString& fileName, PHttpRawDataReq rawDataReq, void* context);

  // The worker's copies of the engine's handlers; unset ones are not called.
  TtidewellWorkerEvents& WorkerEvents() override { return events_; }

 protected:
  // The owner of an enclosure: its feed's link and credentials (password
  // already unscrambled), and the type and length that the feed announced
  // for the enclosure ("" and 0 when it announced none).
  struct TEnclosureOwner {
    std::string feedLink;
    std::string userName;
    std::string password;
    std::string announcedType;
    int64_t announcedSize = 0;
  };

  virtual void Execute() = 0;
  virtual void HandleResponse(TtidewellTrdJobPropClass& result, PHttpRawDataReq rawDataReq, int phase,
                              void* context) = 0;
  // The name a finished enclosure download is about to be moved to. A
  // derived class records it, so that a start after a crash between the
  // move and the final state finds the file instead of fetching it again:
  // no file is ever moved to a name its row does not hold. False (stop
  // asked for while the database was away) leaves the file unmoved.
  virtual bool BeforeEnclosureMove(const kt::WideString& finalName) { return true; }
  // Runs step, a database step of a finished download, until the database
  // takes it: a lost connection or a write conflict is waited out
  // (RunUntilTheDatabaseTakesIt), so that a download is never lost to the
  // database. False once a stop was asked for; other failures pass on.
  bool AwaitDatabase(const std::function<void()>& step);
  // A derived class may supply its own proxy; false uses the settings.
  virtual bool GetProxyOverride(std::string& host, int32_t& port, std::string& userName, std::string& password);
  // The database look-ups, in the worker's own transaction (started and
  // committed here unless the derived class holds it active). Failures
  // propagate.
  // True when a stored feed has this address (SameFeedAddress).
  virtual bool IsFeedUrlKnown(const std::string& url);
  // The owner of the enclosure row; false when it is not found.
  virtual bool GetEnclosureCredentials(int32_t enclosureId, TEnclosureOwner& owner);
  // False once the enclosure's row, or its article, is gone or deleted (its
  // feed was deleted); true without a connection.
  virtual bool IsEnclosureWanted(int32_t enclosureId);
  // The files that enclosure rows other than the job's name (as downloaded,
  // under way or failed alike) whose paths begin with prefix; none without a
  // connection. One look-up serves every numbered candidate of a name.
  virtual std::unordered_set<kt::WideString> FilesNamedByOtherRows(const kt::WideString& prefix);
  // The search feed's link and its root's URL template; false when either
  // row is missing.
  virtual bool GetOpenSearchQuery(int32_t feedId, std::string& searchTerms, std::string& urlTemplate);
  // Runs fire on the main thread with the handlers of that moment while this
  // thread waits; false when it did not run (stop requested, shut-down). A
  // handler's failure is reported as OnFatalError with its message.
  virtual bool HandOver(const TtidewellWorkerEvents::Fire& fire);

  // The URL of a search feed's query (the job's OpenSearch flag set), the
  // URL itself otherwise; "localhost" when the rows are missing.
  std::string ResolveOpenSearchUrl(const std::string& url);

  // url: the place that asks, without credentials.
  void DoHttpAuthenticate(const std::string& url, std::string& userName, std::string& password);
  void DoHttpReqBegin();
  void DoHttpReqEnd(int32_t httpCode);
  void DoDownloading(int64_t bytesDownloaded, int64_t bytesTotal);

  // The current job's values, set by the derived class before Download.
  int32_t itemId_ = 0;  // below 1: the item has no row yet
  int32_t parentItemId_ = 0;
  std::string url_;
  bool openSearch_ = false;
  bool moved_ = false;  // set when a 301 redirect was followed
  // The target of the last 301 followed, stored as the address or not
  // (credentials stay at their place); empty when none.
  std::string permanentTarget_;
  // Set when the job's address must not be requested at all: the job fails
  // with this text, and nothing is sent. Cleared by Download.
  std::string addressRefusal_;
  PHttpRawDataReq rawDataReq_ = nullptr;
  std::atomic<bool> terminateDownload_{false};

 private:
  struct TTransfer;

  std::unique_ptr<TtidewellTrdJobPropClass> MakeResult(TTransfer& t, const kt::WideString& targetFolder,
                                                       const kt::WideString& fileName, PHttpRawDataReq rawDataReq);
  void RunTransfer(TTransfer& t, TtidewellTrdJobPropClass& result, const std::string& lastModified,
                   const std::string& etag, PHttpRawDataReq rawDataReq, void* context);
  THttpExchangeRequest BuildRequest(TTransfer& t, const std::string& lastModified, const std::string& etag,
                                    PHttpRawDataReq rawDataReq);
  void ApplyProxy(const std::string& url, THttpExchangeRequest& request);
  void PerformWithRedirects(TTransfer& t, THttpExchangeRequest& request);
  THttpExchangeReply PerformOnce(TTransfer& t, const THttpExchangeRequest& request);
  bool OnHeaders(TTransfer& t, const THttpExchangeReply& reply);
  bool OnBody(TTransfer& t, const char* data, size_t size);
  bool OnBlock(TTransfer& t, int64_t bodyBytes);
  bool WithinQuota(TTransfer& t);
  int64_t DecodedBodyLimit(const TTransfer& t) const;
  void ApplyTransferLimits(TTransfer& t, THttpExchangeRequest& request);
  bool FollowRedirect(TTransfer& t, const THttpExchangeReply& reply, THttpExchangeRequest& request);
  void Authenticate(TTransfer& t, const THttpExchangeReply& reply, const THttpExchangeRequest& request);
  void CheckCompleteBody(TTransfer& t, const THttpExchangeReply& reply);
  void CaptureError(TTransfer& t, TtidewellTrdJobPropClass& result, const std::string& message);
  void CopyResponseValues(TTransfer& t, TtidewellTrdJobPropClass& result);
  void FinishEnclosure(TTransfer& t, TtidewellTrdJobPropClass& result, const kt::WideString& targetFolder,
                       const kt::WideString& fileName);
  std::string FinalEnclosureName(TTransfer& t, TtidewellTrdJobPropClass& result, const kt::WideString& fileName);
  // A body that came whole but is no episode: why, or "" when it is one.
  static std::string UnwantedBodyText(const TTransfer& t, const TtidewellTrdJobPropClass& result, int64_t written);
  // Removes the temporary file and marks the result failed (with reason,
  // code 999, in the second form).
  void FailEnclosure(TTransfer& t, TtidewellTrdJobPropClass& result);
  void FailEnclosure(TTransfer& t, TtidewellTrdJobPropClass& result, const std::string& reason);
  bool StopOrTerminate() const;
  // Whether an enclosure transfer should stop because its file's folder
  // went away or its row was deleted; looked at once a second at most, the
  // reason kept in t.
  bool EnclosureWithdrawn(TTransfer& t);
  // The same check, now: the reason, or "" while the enclosure is wanted.
  std::string WithdrawalReason(TTransfer& t, TtidewellTrdJobPropClass& result);

  // Runs the select in query_ and hands each row to read; false without a
  // connection or without rows.
  bool RunLookup(const std::vector<std::string>& sql, const std::function<void(TQueryWrapper&)>& bind,
                 const std::function<void(TQueryWrapper&)>& read);

  // Constant after construction.
  const int32_t readTimeoutMs_;
  const int32_t connectTimeoutMs_;
  TDbConnWrapper* const connection_;
  TConfiguration* const settings_;

 protected:
  // The worker's own transaction and statement on the shared connection.
  TTranWrapper transaction_;
  TQueryWrapper query_;
  // For the job loop of the derived worker: its lock, and the event an idle
  // worker waits on (auto-reset, not set at first; set by every new job and
  // by RequestStop and Terminate).
  std::recursive_mutex criticalSection_;
  platform::Event wakeUpEvent_{false, false};

 private:

  THttpExchange exchange_;
  TtidewellWorkerEvents events_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};

  mutable std::shared_mutex lock_;
  // State below is protected by lock_.
  bool stopRequested_ = false;
  bool working_ = false;
  TQueueJobTypes jobType_ = TQueueJobTypes::CNoJob;
  std::string userAgent_ = "Tidewell";
  TProxySettings proxy_;
  int32_t rawDataSizeLimit_ = -1;  // -1: the global settings' limit
  TTransferLimits transferLimits_;
  std::string caFile_;
};

}  // namespace tidewell
