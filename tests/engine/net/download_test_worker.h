// SPDX-License-Identifier: MIT
// A worker for the download tests: Download runs on the calling thread (the
// main thread, so the event hand-overs run at once) or on the worker's own
// thread while the main thread pumps; every result handed to HandleResponse
// is recorded, and the database look-ups answer from plain fields.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/net/tidewell_worker_thread_base.h"
#include "platform/main_loop.h"
#include "platform/system.h"

namespace tidewell::testing {

struct RecordedResult {
  int phase = -1;
  bool error = false;
  int32_t httpCode = 0;
  std::string errorText;
  std::string body;
  std::string url;
  std::string finalUrl;
  std::string lastModified;
  std::string etag;
  std::string contentType;
  std::string contentEncoding;
  int32_t contentLength = -1;
  kt::WideString localFileName;
  std::vector<std::string> headers;
};

class DownloadTestWorker : public TtidewellWorkerThreadBase {
 public:
  explicit DownloadTestWorker(int32_t readTimeoutMs = 55000, int32_t connectTimeoutMs = 55000,
                              TDbConnWrapper* connection = nullptr, TConfiguration* settings = nullptr)
      : TtidewellWorkerThreadBase(connection, readTimeoutMs, connectTimeoutMs, settings) {}
  ~DownloadTestWorker() override {
    Stop();
    WaitFor();
  }

  struct Job {
    std::string url;
    TQueueJobTypes kind = TQueueJobTypes::CfeedOperation;
    int32_t itemId = 1;
    std::string lastModified;
    std::string etag;
    std::string userName;
    std::string password;
    kt::WideString targetFolder;
    kt::WideString fileName;
    PHttpRawDataReq rawDataReq = nullptr;
    bool openSearch = false;
  };

  // Runs the job on the calling thread; returns the final result.
  RecordedResult Fetch(const Job& job) {
    Prepare(job);
    Download(job.url, job.lastModified, job.etag, job.userName, job.password, job.targetFolder, job.fileName,
             job.rawDataReq, nullptr);
    return results.back();
  }
  RecordedResult Fetch(const std::string& url, TQueueJobTypes kind = TQueueJobTypes::CfeedOperation) {
    Job job;
    job.url = url;
    job.kind = kind;
    return Fetch(job);
  }
  // Runs the job on the worker's thread while the main thread pumps.
  RecordedResult FetchOnWorkerThread(const Job& job) {
    pending_ = job;
    done_ = false;
    // The loop takes the thread that first asks for it as the main thread.
    platform::MainThread().BindToCurrentThread();
    Start();
    platform::MainThread().RunUntil([this] { return done_.load(); }, -1);
    WaitFor();
    return results.back();
  }

  uint32_t WorkerThreadId() const { return workerThreadId_; }

  // Database answers: from the worker's connection when useDatabase, else
  // from the fields below.
  bool useDatabase = false;
  std::vector<std::string> knownFeeds;
  bool enclosureOwnerFound = false;
  TEnclosureOwner enclosureOwner;
  std::string openSearchTerms;
  std::string openSearchTemplate;

  // Handed to the worker's copies before each job.
  TtidewellWorkerHandlers handlers;

  std::vector<RecordedResult> results;
  // Called for each result before it is recorded.
  std::function<void(TtidewellTrdJobPropClass&, int phase)> onResponse;

 protected:
  void Execute() override {
    workerThreadId_ = platform::CurrentThreadId();
    Fetch(pending_);
    done_ = true;
  }

  void HandleResponse(TtidewellTrdJobPropClass& result, PHttpRawDataReq, int phase, void*) override {
    if (onResponse) onResponse(result, phase);
    RecordedResult r;
    r.phase = phase;
    r.error = result.error;
    r.httpCode = result.httpCode;
    r.errorText = result.errorText;
    r.url = result.url;
    r.finalUrl = result.finalUrl;
    r.lastModified = result.lastModified;
    r.etag = result.etag;
    r.contentType = result.contentType;
    r.contentEncoding = result.contentEncoding;
    r.contentLength = result.contentLength;
    r.localFileName = result.localFileName;
    r.headers = result.headers;
    if (auto* memory = dynamic_cast<kt::TMemoryStream*>(result.Stream())) r.body = memory->ToString();
    results.push_back(r);
  }

  bool IsFeedUrlKnown(const std::string& url) override {
    if (useDatabase) return TtidewellWorkerThreadBase::IsFeedUrlKnown(url);
    for (const std::string& known : knownFeeds) {
      if (known == url) return true;
    }
    return false;
  }
  bool GetEnclosureCredentials(int32_t id, TEnclosureOwner& owner) override {
    if (useDatabase) return TtidewellWorkerThreadBase::GetEnclosureCredentials(id, owner);
    owner = enclosureOwner;
    return enclosureOwnerFound;
  }
  bool GetOpenSearchQuery(int32_t id, std::string& terms, std::string& urlTemplate) override {
    if (useDatabase) return TtidewellWorkerThreadBase::GetOpenSearchQuery(id, terms, urlTemplate);
    terms = openSearchTerms;
    urlTemplate = openSearchTemplate;
    return !openSearchTemplate.empty();
  }

 private:
  void Prepare(const Job& job) {
    WorkerEvents().Change([this](TtidewellWorkerHandlers& h) { h = handlers; });
    SetJobType(job.kind);
    itemId_ = job.itemId;
    parentItemId_ = 7;
    url_ = job.url;
    openSearch_ = job.openSearch;
  }

  Job pending_;
  std::atomic<bool> done_{false};
  std::atomic<uint32_t> workerThreadId_{0};
};

}  // namespace tidewell::testing
