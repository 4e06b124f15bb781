// SPDX-License-Identifier: MIT
#include "engine/net/tidewell_worker_thread_base.h"

#include <curl/curl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <utility>

#include "engine/addresses/feed_address.h"
#include "engine/net/content_decoder.h"
#include "engine/net/database_wait.h"
#include "engine/net/download_file_stream.h"
#include "engine/net/http_auth.h"
#include "engine/net/line_share_pacer.h"
#include "engine/net/open_search_file_parser.h"
#include "engine/settings/tidewell_globvars.h"
#include "engine/settings/value_scrambling.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "engine/addresses/url_parts.h"
#include "platform/file_ops.h"
#include "platform/main_loop.h"
#include "platform/system.h"

namespace tidewell {
namespace {

const char kAuthorizationFailed[] = "Authorization failed ! (wrong password?)";
const char kClosedGracefully[] = "Connection Closed Gracefully.";
const char kReadTimedOut[] = "Read timed out.";
const char kDeadlinePassed[] = "Transfer timed out: no complete answer within %s";
const char kTooSlow[] = "Transfer timed out: fewer than %d bytes per second over %d seconds";
const char kRedirectRefused[] = "Redirect to an unsupported scheme refused: %s";
const char kDecodedTooLarge[] = "Content size (%d bytes) too large. Limit %d bytes";
const char kEmptyEnclosure[] = "Empty answer where the feed announced %d bytes";
const char kWebPageInstead[] = "A web page (%s) came instead of the announced %s";
const char kFileGone[] = "Can't write file %s \r\n%s";
const char kEnclosureDeleted[] = "The episode's feed or article was deleted: download stopped";
constexpr auto kWithdrawalCheckPeriod = std::chrono::seconds(1);

using Clock = std::chrono::steady_clock;

// The time limit as it was set: "1.5 seconds", "1 second", "300 seconds".
std::string SecondsText(int32_t ms) {
  std::string number = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    number += "." + fraction;
  }
  return number + (ms == 1000 ? " second" : " seconds");
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

int32_t ClampToInt32(int64_t value) { return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)); }

// The host part of a URL's authority, "" when it has none. curl would take
// "http:///x" for host "x"; the engine refuses such a URL instead.
std::string UrlHost(const std::string& url) { return TUrlParts::Split(url).host; }

// The request target of a URL: its path and query.
std::string RequestTarget(const std::string& url) {
  CURLU* handle = curl_url();
  std::string target = "/";
  char* path = nullptr;
  char* query = nullptr;
  if (curl_url_set(handle, CURLUPART_URL, url.c_str(), CURLU_GUESS_SCHEME) == CURLUE_OK) {
    if (curl_url_get(handle, CURLUPART_PATH, &path, 0) == CURLUE_OK) target = path;
    if (curl_url_get(handle, CURLUPART_QUERY, &query, 0) == CURLUE_OK) target += std::string("?") + query;
  }
  curl_free(path);
  curl_free(query);
  curl_url_cleanup(handle);
  return target;
}

// A validator is sent back in a request header: one holding a line break
// or NUL would add headers of the server's choosing.
bool IsSafeHeaderValue(const std::string& value) {
  return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string TransportErrorText(const THttpExchangeReply& reply) {
  switch (reply.curlCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR: {
      const long number = reply.osErrno != 0 ? reply.osErrno : reply.curlCode;
      return "Socket Error # " + std::to_string(number) + "\r\n" + reply.errorText;
    }
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return std::string(kClosedGracefully) + "\r\n" + reply.errorText;
    default:
      return reply.errorText;
  }
}

// Whether a failed exchange may succeed when tried again later: the line or
// the server failed for a while, or the server asked to be asked later. The
// server's word that the file is not there (404, the other 4xx), a refused
// redirect or certificate, and the engine's own refusals (a web page
// instead of the episode) stay failed. A full disk passes as well
// (EFWriteError::Passes, IsRoomFailure).
//
//   | what happened                                        | passes |
//   |------------------------------------------------------|--------|
//   | host not resolved, connection refused or reset       | yes    |
//   | nothing or part of the answer before the line closed | yes    |
//   | no byte for the read time-out, too slow, deadline    | yes    |
//   | 5xx answer                                           | yes    |
//   | 408 (request time-out), 429 (too many requests)      | yes    |
//   | any other transport failure (TLS, protocol)          | no     |
//   | any other answer                                     | no     |
bool IsPassingFailure(const THttpExchangeReply& reply) {
  if (reply.status >= 500 && reply.status < 600) return true;
  if (reply.status == 408 || reply.status == 429) return true;
  switch (reply.outcome) {
    case THttpExchangeReply::Outcome::ReadTimedOut:
    case THttpExchangeReply::Outcome::DeadlinePassed:
    case THttpExchangeReply::Outcome::TooSlow:
      return true;
    case THttpExchangeReply::Outcome::Failed:
      break;
    default:
      return false;
  }
  for (const CURLcode code : {CURLE_COULDNT_RESOLVE_HOST, CURLE_COULDNT_CONNECT, CURLE_SEND_ERROR, CURLE_RECV_ERROR,
                              CURLE_GOT_NOTHING, CURLE_PARTIAL_FILE, CURLE_OPERATION_TIMEDOUT})
    if (reply.curlCode == code) return true;
  return false;
}

std::string MakeClientNonce() {
  static std::mutex mutex;
  static std::mt19937_64 random{std::random_device{}()};
  std::lock_guard<std::mutex> lock(mutex);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
  return text;
}

std::string ChangeFileExt(const std::string& name, const std::string& extension) {
  int32_t position = 0, length = 0;
  WideString current;
  ExtractFileExtPos(kt::Utf8ToWide(name), position, length, current);
  return position == 0 ? name + extension : kt::WideToUtf8(kt::Utf8ToWide(name).substr(0, position - 1)) + extension;
}

std::string LastPathComponent(const std::string& name) {
  const size_t separator = name.find_last_of("/\\");
  return separator == std::string::npos ? name : name.substr(separator + 1);
}

// The name that a "Content-Disposition" header proposes, reduced to its last
// path component so that it never points outside the target folder.
std::string DispositionFileName(const std::string& header) {
  const size_t at = header.find("filename=");
  if (at == std::string::npos) return {};
  std::string name;
  for (size_t i = at + 9; i < header.size() && header[i] != ';' && header[i] != '\0'; ++i) {
    if (header[i] != '"' && header[i] != '\'') name += header[i];
  }
  return Trim(LastPathComponent(Trim(name)));
}

std::string FolderWithSeparator(const kt::WideString& folder) {
  std::string path = kt::WideToUtf8(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

int64_t FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

// "text/html; charset=utf-8" -> "text/html".
std::string MediaType(const std::string& contentType) {
  return Lower(Trim(contentType.substr(0, contentType.find(';'))));
}

bool IsWebPageType(const std::string& mediaType) {
  return mediaType == "text/html" || mediaType == "application/xhtml+xml";
}

}  // namespace

// The state of one call of Download.
struct TtidewellWorkerThreadBase::TTransfer {
  TQueueJobTypes jobType = TQueueJobTypes::CNoJob;
  std::string jobUrl;      // the job's URL; a 301 moves it
  std::string currentUrl;  // the URL of the request in flight
  std::string userName;  // the credentials given for the job
  std::string password;
  // The place the given credentials belong to: the feed's for an
  // enclosure, else the first request's.
  std::string credentialsFor;
  // Credentials by the place (CredentialsPlace) they are sent to, and only there.
  std::map<std::string, std::pair<std::string, std::string>> credentials;
  std::string downloadFile;  // the enclosure's temporary file
  std::string announcedType;  // what the feed announced for the enclosure
  int64_t announcedSize = 0;
  TtidewellTrdJobPropClass* result = nullptr;
  PHttpRawDataReq rawDataReq = nullptr;
  int32_t responseCode = -1;  // -1 until a status line arrived
  std::string statusLine;
  THttpExchangeReply lastReply;
  bool passingFailure = false;  // the last exchange failed for a passing reason
  int redirects = 0;
  int authRounds = 0;
  std::string authorization;  // the header value of the next request
  std::string movedTarget;
  int64_t contentLength = -1;
  int64_t total = 0;
  int64_t current = 0;
  int64_t decoded = 0;  // bytes the decoder made of the body so far
  int64_t quotaMarker = 0;
  std::string quotaMessage;
  bool bodyWanted = false;
  bool aborted = false;
  // Why an enclosure transfer was stopped from within: its folder went away
  // (a file error) or its row was deleted.
  std::string withdrawnReason;
  bool withdrawnFileError = false;
  Clock::time_point lastWithdrawalCheck;
  std::unique_ptr<TContentDecoder> decoder;
  std::exception_ptr callbackFailure;
  TTransferLimits limits;
  Clock::time_point started;  // of the first request
  TLineSharePacer pacer;
};

TtidewellWorkerThreadBase::TtidewellWorkerThreadBase(TDbConnWrapper* connection, int32_t readTimeoutMs,
                                                     int32_t connectTimeoutMs, TConfiguration* settings)
    : readTimeoutMs_(readTimeoutMs),
      connectTimeoutMs_(connectTimeoutMs),
      connection_(connection),
      settings_(settings),
      transaction_(connection) {
  query_.SetTransaction(&transaction_);
}

TtidewellWorkerThreadBase::~TtidewellWorkerThreadBase() {
  if (thread_.joinable()) {
    Stop();
    thread_.join();
  }
}

void TtidewellWorkerThreadBase::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void TtidewellWorkerThreadBase::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TtidewellWorkerThreadBase::RequestStop() {
  SetStopRequested(true);
  wakeUpEvent_.Set();
}

void TtidewellWorkerThreadBase::Stop() {
  RequestStop();
  Terminate();
}

bool TtidewellWorkerThreadBase::GetStopRequested() const {
  std::shared_lock lock(lock_);
  return stopRequested_;
}

void TtidewellWorkerThreadBase::SetStopRequested(bool value) {
  std::unique_lock lock(lock_);
  stopRequested_ = value;
}

bool TtidewellWorkerThreadBase::GetWorking() {
  std::shared_lock lock(lock_);
  return working_;
}

void TtidewellWorkerThreadBase::SetWorking(bool value) {
  std::unique_lock lock(lock_);
  working_ = value;
}

TQueueJobTypes TtidewellWorkerThreadBase::GetJobType() const {
  std::shared_lock lock(lock_);
  return jobType_;
}

void TtidewellWorkerThreadBase::SetJobType(TQueueJobTypes value) {
  std::unique_lock lock(lock_);
  jobType_ = value;
}

std::string TtidewellWorkerThreadBase::GetUserAgent() const {
  std::shared_lock lock(lock_);
  return userAgent_;
}

void TtidewellWorkerThreadBase::SetUserAgent(const std::string& value) {
  std::unique_lock lock(lock_);
  userAgent_ = value;
}

int32_t TtidewellWorkerThreadBase::GetConnectTimeout() const {
  std::shared_lock lock(lock_);
  return connectTimeoutMs_;
}

int32_t TtidewellWorkerThreadBase::GetReadTimeout() const {
  std::shared_lock lock(lock_);
  return readTimeoutMs_;
}

void TtidewellWorkerThreadBase::SetProxySettings(const TProxySettings& settings) {
  std::unique_lock lock(lock_);
  proxy_ = settings;
}

TProxySettings TtidewellWorkerThreadBase::GetProxySettings() const {
  if (settings_ != nullptr) {
    TProxySettings fromConfiguration;
    fromConfiguration.enabled = settings_->ProxyEnabled();
    fromConfiguration.server = settings_->ProxyServer();
    fromConfiguration.port = settings_->ProxyPort();
    fromConfiguration.userName = settings_->ProxyUserName();
    fromConfiguration.password = settings_->ProxyPassword();
    fromConfiguration.bypassProxyForAddresses = settings_->BypassProxyForAddresses();
    return fromConfiguration;
  }
  std::shared_lock lock(lock_);
  return proxy_;
}

void TtidewellWorkerThreadBase::SetRawDataSizeLimit(int32_t bytes) {
  std::unique_lock lock(lock_);
  rawDataSizeLimit_ = bytes;
}

int32_t TtidewellWorkerThreadBase::GetRawDataSizeLimit() const {
  {
    std::shared_lock lock(lock_);
    if (rawDataSizeLimit_ >= 0) return rawDataSizeLimit_;
  }
  return GlobalVars != nullptr ? GlobalVars->GetSizeLimit() : 5242880;
}

void TtidewellWorkerThreadBase::SetTransferLimits(const TTransferLimits& limits) {
  std::unique_lock lock(lock_);
  transferLimits_ = limits;
}

TTransferLimits TtidewellWorkerThreadBase::GetTransferLimits() const {
  std::shared_lock lock(lock_);
  return transferLimits_;
}

void TtidewellWorkerThreadBase::SetCaCertificateFile(const std::string& path) {
  std::unique_lock lock(lock_);
  caFile_ = path;
}

bool TtidewellWorkerThreadBase::GetProxyOverride(std::string&, int32_t&, std::string&, std::string&) { return false; }

bool TtidewellWorkerThreadBase::RunLookup(const std::vector<std::string>& sql,
                                          const std::function<void(TQueryWrapper&)>& bind,
                                          const std::function<void(TQueryWrapper&)>& read) {
  if (connection_ == nullptr) return false;
  const bool ownTransaction = !transaction_.InTransaction();
  if (ownTransaction) transaction_.StartTransaction();
  bool found = false;
  try {
    query_.SQL.Clear();
    for (const std::string& line : sql) query_.SQL.Add(line);
    if (bind) bind(query_);
    ExecQueryTimed(&query_, true);
    for (; !query_.Eof(); query_.Next()) {
      read(query_);
      found = true;
    }
    SafeCloseQuery(&query_);
    if (ownTransaction) transaction_.Commit();
  } catch (...) {
    SafeCloseQuery(&query_);
    if (ownTransaction && transaction_.InTransaction()) transaction_.Rollback();
    throw;
  }
  return found;
}

bool TtidewellWorkerThreadBase::IsFeedUrlKnown(const std::string& url) {
  // The database narrows the rows down to those holding the address's
  // look-up text; which of them name this feed is the address rule's to say.
  bool known = false;
  RunLookup({std::string("select link from feeds where ") + kFeedAddressLookupCondition},
            [&](TQueryWrapper& q) { q.Params(0).SetString(FeedAddressLookupText(url)); },
            [&](TQueryWrapper& q) { known = known || SameFeedAddress(q.Fields(0).AsString(), url); });
  return known;
}

bool TtidewellWorkerThreadBase::GetEnclosureCredentials(int32_t enclosureId, TEnclosureOwner& owner) {
  return RunLookup({"select f.link,f.username_,f.password_,e.type_,e.size_", "from enclosures e ", ", articles a ",
                    ", feeds f ", FormatText("where e.enclosure_id=%d", enclosureId), " and a.id=e.article_id",
                    " and f.feed_id=a.feed_id"},
                   nullptr, [&](TQueryWrapper& q) {
                     owner.feedLink = q.Fields(0).AsString();
                     owner.userName = q.Fields(1).AsString();
                     owner.password = UnscrambleText(q.Fields(2).AsString());
                     owner.announcedType = q.Fields(3).AsString();
                     owner.announcedSize = q.Fields(4).AsInt64();
                   });
}

bool TtidewellWorkerThreadBase::IsEnclosureWanted(int32_t enclosureId) {
  int64_t live = 1;
  RunLookup({"select count(*)", "from enclosures e ", ", articles a ", FormatText("where e.enclosure_id=%d", enclosureId),
             " and a.id=e.article_id", " and a.deleted=0"},
            nullptr, [&](TQueryWrapper& q) { live = q.Fields(0).AsInt64(); });
  return live > 0;
}

std::unordered_set<kt::WideString> TtidewellWorkerThreadBase::FilesNamedByOtherRows(const kt::WideString& prefix) {
  std::unordered_set<kt::WideString> named;
  RunLookup({"select filelocation from enclosures where filelocation starting with ? and enclosure_id<>?"},
            [&](TQueryWrapper& q) {
              q.Params(0).SetWideString(prefix);
              q.Params(1).SetInteger(itemId_);
            },
            [&](TQueryWrapper& q) { named.insert(q.Fields(0).AsWideString()); });
  return named;
}

bool TtidewellWorkerThreadBase::GetOpenSearchQuery(int32_t feedId, std::string& searchTerms,
                                                   std::string& urlTemplate) {
  int32_t parent = 0;
  const bool feedFound = RunLookup({"select parentfeed,link", "from feeds ", FormatText("where feed_id=%d", feedId)},
                                   nullptr, [&](TQueryWrapper& q) {
                                     parent = q.Fields(0).AsInteger();
                                     searchTerms = q.Fields(1).AsString();
                                   });
  if (!feedFound) return false;
  return RunLookup({"select description", "from feeds ", FormatText("where feed_id=%d", parent),
                    std::string(" and type_=") + "'OSRCROOT'"},
                   nullptr, [&](TQueryWrapper& q) { urlTemplate = q.Fields(0).AsString(); });
}

bool TtidewellWorkerThreadBase::HandOver(const TtidewellWorkerEvents::Fire& fire) {
  const uint32_t thread = platform::CurrentThreadId();
  const TQueueJobTypes jobType = GetJobType();
  return events_.HandOver(
      fire, [this] { return GetStopRequested(); },
      [&](const std::string& message) { events_.FireFatalError(thread, message, url_, itemId_, jobType); });
}

std::string TtidewellWorkerThreadBase::ResolveOpenSearchUrl(const std::string& url) {
  if (!openSearch_) return url;
  std::string searchTerms, urlTemplate;
  if (!GetOpenSearchQuery(itemId_, searchTerms, urlTemplate)) return "localhost";
  return TOpenSearchFileParser::BuildUrl(urlTemplate, kt::Utf8ToWide(searchTerms), 1, 1, 1000, "*", "UTF-8",
                                         "UTF-8");
}

void TtidewellWorkerThreadBase::DoHttpAuthenticate(const std::string& url, std::string& userName,
                                                   std::string& password) {
  if (!events_.Snapshot().OnHttpAuthenticate) return;
  const TFeedOpType operation = itemId_ < 1 ? TFeedOpType::cInsert : TFeedOpType::cUpdate;
  const uint32_t thread = platform::CurrentThreadId();
  const TQueueJobTypes jobType = GetJobType();
  HandOver([&](const TtidewellWorkerHandlers& h) {
    if (h.OnHttpAuthenticate) h.OnHttpAuthenticate(thread, operation, url, itemId_, jobType, userName, password);
  });
}

void TtidewellWorkerThreadBase::DoHttpReqBegin() {
  if (!events_.Snapshot().OnHttpReqBegin) return;
  const uint32_t thread = platform::CurrentThreadId();
  const TQueueJobTypes jobType = GetJobType();
  HandOver([&](const TtidewellWorkerHandlers& h) {
    if (h.OnHttpReqBegin) h.OnHttpReqBegin(thread, itemId_, url_, jobType);
  });
}

void TtidewellWorkerThreadBase::DoHttpReqEnd(int32_t httpCode) {
  if (!events_.Snapshot().OnHttpReqEnd) return;
  const uint32_t thread = platform::CurrentThreadId();
  const TQueueJobTypes jobType = GetJobType();
  HandOver([&](const TtidewellWorkerHandlers& h) {
    if (h.OnHttpReqEnd) h.OnHttpReqEnd(thread, itemId_, url_, jobType, httpCode);
  });
}

void TtidewellWorkerThreadBase::DoDownloading(int64_t bytesDownloaded, int64_t bytesTotal) {
  // Without a handler the block costs no trip to the main thread.
  if (!events_.Snapshot().OnDownloading) return;
  const uint32_t thread = platform::CurrentThreadId();
  const TQueueJobTypes jobType = GetJobType();
  bool terminate = terminateDownload_;
  HandOver([&](const TtidewellWorkerHandlers& h) {
    if (h.OnDownloading) {
      h.OnDownloading(thread, ClampToInt32(bytesDownloaded), ClampToInt32(bytesTotal), url_, parentItemId_, itemId_,
                      jobType, terminate);
    }
  });
  if (terminate) terminateDownload_ = true;
}

bool TtidewellWorkerThreadBase::AwaitDatabase(const std::function<void()>& step) {
  return RunUntilTheDatabaseTakesIt(step, [this](int ms) {
    if (GetStopRequested()) return false;
    wakeUpEvent_.WaitFor(ms);
    return !GetStopRequested();
  });
}

bool TtidewellWorkerThreadBase::StopOrTerminate() const { return terminateDownload_ || GetStopRequested(); }

void TtidewellWorkerThreadBase::Download(const std::string& url, const std::string& lastModified,
                                         const std::string& etag, const std::string& userName,
                                         const std::string& password, const kt::WideString& targetFolder,
                                         const kt::WideString& fileName, PHttpRawDataReq rawDataReq, void* context) {
  TTransfer t;
  t.jobType = GetJobType();
  t.jobUrl = url;
  t.userName = userName;
  t.password = password;
  t.rawDataReq = rawDataReq;
  t.limits = GetTransferLimits();
  terminateDownload_ = false;
  moved_ = false;
  permanentTarget_.clear();
  if (t.jobType == TQueueJobTypes::CfeedOperation && itemId_ < 1) {
    ExtractUrlCredentials(t.jobUrl, t.userName, t.password);
  }
  url_ = t.jobUrl;
  std::unique_ptr<TtidewellTrdJobPropClass> result = MakeResult(t, targetFolder, fileName, rawDataReq);
  t.result = result.get();
  if (!addressRefusal_.empty()) CaptureError(t, *result, std::exchange(addressRefusal_, std::string()));
  if (!result->error) RunTransfer(t, *result, lastModified, etag, rawDataReq, context);
  try {
    if (result->Succeeded()) CopyResponseValues(t, *result);
  } catch (const std::exception& failure) {
    CaptureError(t, *result, failure.what());
  }
  const bool enclosure = t.jobType == TQueueJobTypes::CgetEnclosure;
  if (enclosure) FinishEnclosure(t, *result, targetFolder, fileName);
  HandleResponse(*result, rawDataReq, enclosure ? kPhaseEnclosureEnd : kPhaseOther, context);
}

std::unique_ptr<TtidewellTrdJobPropClass> TtidewellWorkerThreadBase::MakeResult(TTransfer& t,
                                                                                const kt::WideString& targetFolder,
                                                                                const kt::WideString& fileName,
                                                                                PHttpRawDataReq rawDataReq) {
  try {
    switch (t.jobType) {
      case TQueueJobTypes::CgetEnclosure: {
        TEnclosureOwner owner;
        if (GetEnclosureCredentials(itemId_, owner)) {
          // They were given for the feed, and belong to its place.
          t.userName = owner.userName;
          t.password = owner.password;
          t.credentialsFor = owner.feedLink;
          t.announcedType = owner.announcedType;
          t.announcedSize = owner.announcedSize;
          if (t.jobUrl.find("://") == std::string::npos) t.jobUrl = ResolveUrl(owner.feedLink, t.jobUrl);
        }
        t.downloadFile = FolderWithSeparator(targetFolder) + MakeTempDownloadFileName();
        return std::make_unique<TtidewellTrdJobPropClass>(t.jobUrl, nullptr, kt::Utf8ToWide(t.downloadFile),
                                                          t.jobType);
      }
      case TQueueJobTypes::CgetRawData:
        // A raw-data job without its request record is a caller's error.
        if (rawDataReq == nullptr) throw std::logic_error("Internal buffer rec is NIL");
        return std::make_unique<TtidewellTrdJobPropClass>(t.jobUrl, rawDataReq->stream, fileName, t.jobType);
      default:
        return std::make_unique<TtidewellTrdJobPropClass>(t.jobUrl, nullptr, fileName, t.jobType);
    }
  } catch (const std::exception& failure) {
    auto result = std::make_unique<TtidewellTrdJobPropClass>(t.jobUrl, nullptr, fileName, TQueueJobTypes::CNoJob);
    result->localFileName = kt::Utf8ToWide(t.downloadFile);
    CaptureError(t, *result, failure.what());
    result->fileError = dynamic_cast<const EFCreateError*>(&failure) != nullptr;
    return result;
  }
}

void TtidewellWorkerThreadBase::RunTransfer(TTransfer& t, TtidewellTrdJobPropClass& result,
                                            const std::string& lastModified, const std::string& etag,
                                            PHttpRawDataReq rawDataReq, void* context) {
  try {
    THttpExchangeRequest request = BuildRequest(t, lastModified, etag, rawDataReq);
    if (t.credentialsFor.empty()) t.credentialsFor = request.url;
    t.credentials[CredentialsPlace(t.credentialsFor)] = {t.userName, t.password};
    if (!GetStopRequested()) {
      DoHttpReqBegin();
      if (t.jobType == TQueueJobTypes::CgetEnclosure) HandleResponse(result, rawDataReq, kPhaseEnclosureStart, context);
    }
    if (t.jobType == TQueueJobTypes::CfeedOperation && itemId_ < 1 && IsFeedUrlKnown(t.jobUrl)) {
      t.responseCode = kKnownFeedCode;
      RaiseMessage(kFeedAlreadyInDatabase, t.jobUrl);
    }
    t.started = Clock::now();
    PerformWithRedirects(t, request);
    result.httpCode = t.responseCode;
    if (moved_) result.url = t.movedTarget;
    if (t.contentLength < 0) t.contentLength = t.total;
  } catch (const EFWriteError& failure) {
    CaptureError(t, result, failure.what());
    result.fileError = true;
    result.passingFailure = failure.Passes();
  } catch (const std::exception& failure) {
    CaptureError(t, result, failure.what());
  }
  if (!GetStopRequested()) DoHttpReqEnd(result.httpCode);
}

THttpExchangeRequest TtidewellWorkerThreadBase::BuildRequest(TTransfer& t, const std::string& lastModified,
                                                             const std::string& etag, PHttpRawDataReq rawDataReq) {
  THttpExchangeRequest request;
  if (!lastModified.empty() && IsSafeHeaderValue(lastModified)) {
    request.headers.push_back("If-Modified-Since: " + lastModified);
  }
  if (!etag.empty() && IsSafeHeaderValue(etag)) request.headers.push_back("If-None-Match: " + etag);
  request.headers.push_back("Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7");
  request.headers.push_back("Accept: */*");
  if (t.jobType != TQueueJobTypes::CgetEnclosure) request.headers.push_back("Accept-Encoding: gzip,identity");
  request.headers.push_back("User-Agent: " + GetUserAgent());
  request.connectTimeoutMs = GetConnectTimeout();
  request.readTimeoutMs = GetReadTimeout();
  {
    std::shared_lock lock(lock_);
    request.caFile = caFile_;
  }
  request.url = t.jobUrl;
  if (t.jobType == TQueueJobTypes::CgetRawData && rawDataReq->requestKind != THttpRawDataReq::kGet) {
    const bool put = rawDataReq->requestKind == THttpRawDataReq::kPut;
    if (!put && rawDataReq->requestKind != THttpRawDataReq::kPost) {
      throw kt::Exception("Unknown request kind " + std::to_string(rawDataReq->requestKind));
    }
    request.method = put ? THttpExchangeRequest::Method::Put : THttpExchangeRequest::Method::Post;
    request.headers.push_back(put ? "Content-Type: application/octet-stream" : "Content-Type: text/html");
    request.headers.push_back("Pragma: no-cache");
    request.upload = rawDataReq->stream;
  } else {
    request.url = ResolveOpenSearchUrl(t.jobUrl);
  }
  ApplyProxy(t.jobUrl, request);
  return request;
}

void TtidewellWorkerThreadBase::ApplyProxy(const std::string& url, THttpExchangeRequest& request) {
  if (GetProxyOverride(request.proxyHost, request.proxyPort, request.proxyUserName, request.proxyPassword)) return;
  const TProxySettings proxy = GetProxySettings();
  if (!proxy.enabled || IsProxyBypassed(url, proxy.bypassProxyForAddresses)) return;
  request.proxyHost = proxy.server;
  request.proxyPort = proxy.port;
  request.proxyUserName = proxy.userName;
  request.proxyPassword = proxy.password;
}

void TtidewellWorkerThreadBase::PerformWithRedirects(TTransfer& t, THttpExchangeRequest& request) {
  for (;;) {
    THttpExchangeReply reply = PerformOnce(t, request);
    if (t.callbackFailure) std::rethrow_exception(t.callbackFailure);
    if (t.quotaMarker == kQuotaMarker) throw kt::Exception(t.quotaMessage);
    if (t.withdrawnFileError) throw EFWriteError(t.withdrawnReason);
    if (!t.withdrawnReason.empty()) throw kt::Exception(t.withdrawnReason);
    if (t.aborted) RaiseMessage(kFetchAborted);
    if (reply.outcome == THttpExchangeReply::Outcome::ReadTimedOut) throw kt::Exception(kReadTimedOut);
    if (reply.outcome == THttpExchangeReply::Outcome::DeadlinePassed) {
      throw kt::Exception(FormatText(kDeadlinePassed, SecondsText(t.limits.deadlineMs)));
    }
    if (reply.outcome == THttpExchangeReply::Outcome::TooSlow) {
      throw kt::Exception(FormatText(kTooSlow, t.limits.lowSpeedBytesPerSecond, t.limits.lowSpeedWindowMs / 1000));
    }
    if (reply.outcome == THttpExchangeReply::Outcome::Failed) throw kt::Exception(TransportErrorText(reply));
    const int32_t status = reply.status;
    if (status >= 300 && status < 400 && status != 304 && FollowRedirect(t, reply, request)) continue;
    if (status == 401) {
      Authenticate(t, reply, request);
      continue;
    }
    if (status < 200 || status >= 300) throw kt::Exception(reply.statusLine);
    CheckCompleteBody(t, reply);
    return;
  }
}

THttpExchangeReply TtidewellWorkerThreadBase::PerformOnce(TTransfer& t, const THttpExchangeRequest& request) {
  if (UrlHost(request.url).empty())
    throw kt::Exception("Host name is empty ! " + UrlWithoutCredentials(request.url) + " ");
  THttpExchangeRequest sent = request;
  ApplyTransferLimits(t, sent);
  // curl never authenticates by itself. What it is handed names the place
  // the credentials were looked up by, or nothing is sent.
  sent.url = RequestUrl(request.url);
  if (!t.authorization.empty()) sent.headers.push_back("Authorization: " + t.authorization);
  t.currentUrl = request.url;
  t.responseCode = -1;
  t.statusLine.clear();
  t.decoder.reset();
  // A sink callback must not throw through curl: failures are kept and
  // raised once the exchange returned.
  auto guarded = [&t](auto body) {
    try {
      return body();
    } catch (...) {
      t.callbackFailure = std::current_exception();
      return false;
    }
  };
  THttpExchangeSink sink;
  sink.onHeaders = [&](const THttpExchangeReply& reply) { return guarded([&] { return OnHeaders(t, reply); }); };
  sink.onBody = [&](const char* data, size_t size) { return guarded([&] { return OnBody(t, data, size); }); };
  sink.onBlock = [&](int64_t bytes) { return guarded([&] { return OnBlock(t, bytes); }); };
  sink.keepGoing = [&] {
    if (StopOrTerminate() || EnclosureWithdrawn(t)) t.aborted = true;
    return !t.aborted;
  };
  t.lastReply = exchange_.Perform(sent, sink);
  t.passingFailure = IsPassingFailure(t.lastReply);
  if (t.lastReply.status != -1) t.responseCode = t.lastReply.status;
  t.statusLine = t.lastReply.statusLine;
  return t.lastReply;
}

bool TtidewellWorkerThreadBase::OnHeaders(TTransfer& t, const THttpExchangeReply& reply) {
  t.responseCode = reply.status;
  t.bodyWanted = reply.status >= 200 && reply.status < 300;
  // curl answers a proxy's challenge itself, on the same connection, when
  // the settings hold proxy credentials.
  if (reply.status == 407) return true;
  // Answers that lead to another request, and failures, need no body.
  if (!t.bodyWanted) return false;
  t.contentLength = reply.contentLength;
  t.current = 0;
  t.total = std::max<int64_t>(reply.contentLength, 0);
  if (!WithinQuota(t)) return false;
  kt::TStream* stream = t.result->Stream();
  const std::string encoding = reply.Header("Content-Encoding");
  if (t.jobType != TQueueJobTypes::CgetEnclosure && stream != nullptr && TContentDecoder::Handles(encoding)) {
    t.decoder = std::make_unique<TContentDecoder>(encoding, *stream);
    t.decoder->SetOutputLimit(DecodedBodyLimit(t));
  }
  return true;
}

// The quota of the job kind, or the ceiling when that is smaller or the kind
// has none: what the decoder may write before the transfer is stopped.
int64_t TtidewellWorkerThreadBase::DecodedBodyLimit(const TTransfer& t) const {
  int64_t limit = t.limits.decodedBodyCeiling;
  if (t.jobType == TQueueJobTypes::CfeedOperation) limit = std::min(limit, kFeedQuota);
  const bool limited = t.jobType == TQueueJobTypes::CgetRawData && t.rawDataReq != nullptr &&
                       (t.rawDataReq->cacheMode == 2 || t.rawDataReq->cacheMode == 4);
  if (limited) limit = std::min<int64_t>(limit, GetRawDataSizeLimit());
  return limit;
}

void TtidewellWorkerThreadBase::ApplyTransferLimits(TTransfer& t, THttpExchangeRequest& request) {
  if (t.jobType == TQueueJobTypes::CgetEnclosure) {
    request.lowSpeedBytesPerSecond = t.limits.lowSpeedBytesPerSecond;
    request.lowSpeedWindowMs = t.limits.lowSpeedWindowMs;
    return;
  }
  if (t.limits.deadlineMs <= 0) return;
  // One deadline for the job, redirects and authentication rounds included.
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t.started).count();
  const int64_t left = t.limits.deadlineMs - spent;
  if (left <= 0) throw kt::Exception(FormatText(kDeadlinePassed, SecondsText(t.limits.deadlineMs)));
  request.deadlineMs = static_cast<int32_t>(left);
}

bool TtidewellWorkerThreadBase::OnBody(TTransfer& t, const char* data, size_t size) {
  if (!t.bodyWanted) return true;
  t.current += static_cast<int64_t>(size);
  t.total = std::max(t.total, t.current);
  if (!WithinQuota(t)) return false;
  if (t.decoder != nullptr) {
    if (!t.decoder->Write(data, size)) throw kt::Exception("Content decoding failed: " + t.decoder->Error());
    t.decoded = t.decoder->DecodedBytes();
    if (!WithinQuota(t)) return false;
  } else if (t.result->Stream() != nullptr) {
    t.result->Stream()->WriteBuffer(data, static_cast<int64_t>(size));
  }
  return true;
}

bool TtidewellWorkerThreadBase::OnBlock(TTransfer& t, int64_t bodyBytes) {
  if (StopOrTerminate()) {
    t.aborted = true;
    return false;
  }
  DoDownloading(bodyBytes, t.total);
  if (StopOrTerminate()) {
    t.aborted = true;
    return false;
  }
  // Lets the other workers and the main thread share the line.
  t.pacer.OnBlock();
  return true;
}

// The quotas count the larger of the bytes on the line and the bytes they
// decoded to: a small compressed body may expand a thousandfold.
bool TtidewellWorkerThreadBase::WithinQuota(TTransfer& t) {
  const int64_t size = std::max(t.total, t.decoded);
  if (t.jobType == TQueueJobTypes::CfeedOperation && size > kFeedQuota) {
    t.quotaMarker = kQuotaMarker;
    t.quotaMessage = FormatText(MessageText(kFeedTooLarge), size, kFeedQuota);
    return false;
  }
  const bool limited = t.jobType == TQueueJobTypes::CgetRawData && t.rawDataReq != nullptr &&
                       (t.rawDataReq->cacheMode == 2 || t.rawDataReq->cacheMode == 4);
  if (limited && size > GetRawDataSizeLimit()) {
    t.quotaMarker = kQuotaMarker;
    t.quotaMessage = MessageText(kCantDetermineContentType);
    return false;
  }
  if (t.decoder != nullptr && t.decoder->OverLimit()) {
    t.quotaMarker = kQuotaMarker;
    t.quotaMessage = FormatText(kDecodedTooLarge, t.decoded, DecodedBodyLimit(t));
    return false;
  }
  return true;
}

bool TtidewellWorkerThreadBase::FollowRedirect(TTransfer& t, const THttpExchangeReply& reply,
                                               THttpExchangeRequest& request) {
  ++t.redirects;
  if (t.redirects > kRedirectMaximum) RaiseMessage(kMaxRedirectsExceeded, kRedirectMaximum);
  const int32_t status = reply.status;
  const std::string location = reply.Header("Location");
  if ((status != 301 && status != 302 && status != 307) || location.empty()) return false;
  const std::string target = ResolveUrl(request.url, location);
  // Only the web's own schemes are followed: a feed must not point the
  // engine at a local file or another protocol.
  const std::string scheme = Lower(target.substr(0, target.find(':')));
  if (scheme != "http" && scheme != "https") throw kt::Exception(FormatText(kRedirectRefused, target));
  // Weighed against the place the credentials were given for, not the hop
  // before: after a 302 elsewhere, a 301 there is still away from them.
  const bool withCredentials = !t.userName.empty() || !t.password.empty();
  if (status == 301) permanentTarget_ = target;
  if (status == 301 && DecideAddressMove(TAddressChange::kPermanentRedirect, t.credentialsFor, target,
                                         withCredentials) == TAddressMove::kMove) {
    moved_ = true;
    t.movedTarget = target;
    t.jobUrl = target;
  }
  if (status != 307 && request.method != THttpExchangeRequest::Method::Get) {
    request.method = THttpExchangeRequest::Method::Get;
    request.upload = nullptr;
  }
  // An answer computed for one place is not handed to the next.
  t.authorization.clear();
  request.url = target;
  platform::SleepMs(45);
  return true;
}

void TtidewellWorkerThreadBase::Authenticate(TTransfer& t, const THttpExchangeReply& reply,
                                             const THttpExchangeRequest& request) {
  ++t.authRounds;
  if (t.authRounds >= kMaxAuthRounds) throw kt::Exception(kAuthorizationFailed);
  const THttpAuthChallenge challenge = THttpAuthChallenge::Select(reply.HeaderValues("WWW-Authenticate"));
  if (challenge.scheme() == THttpAuthChallenge::Scheme::None) throw kt::Exception(reply.statusLine);
  // Only the place that was given credentials gets them; any other place is
  // asked for anew, under its own URL, and nothing is filled in for it.
  auto& [userName, password] = t.credentials[CredentialsPlace(request.url)];
  DoHttpAuthenticate(UrlWithoutCredentials(request.url), userName, password);
  if (userName.empty() && password.empty()) throw kt::Exception(reply.statusLine);
  const char* method = request.method == THttpExchangeRequest::Method::Get   ? "GET"
                       : request.method == THttpExchangeRequest::Method::Put ? "PUT"
                                                                             : "POST";
  t.authorization = challenge.Authorization(method, RequestTarget(request.url), userName, password, MakeClientNonce());
}

void TtidewellWorkerThreadBase::CheckCompleteBody(TTransfer& t, const THttpExchangeReply& reply) {
  if (t.decoder != nullptr && !t.decoder->Finished()) throw kt::Exception("Content decoding failed: data incomplete");
  // Without an announced length the server's close ends the body; a body of
  // fewer than 10 bytes is then taken as a lost connection.
  const bool lengthless = reply.contentLength < 0 && !reply.chunked && reply.status != 204;
  if (lengthless && reply.bodyBytes < 10) {
    t.passingFailure = true;
    throw kt::Exception(kClosedGracefully);
  }
}

void TtidewellWorkerThreadBase::CaptureError(TTransfer& t, TtidewellTrdJobPropClass& result,
                                             const std::string& message) {
  result.error = true;
  result.httpCode = t.responseCode;
  result.passingFailure = t.passingFailure;
  if (result.httpCode == 304) result.error = false;
  result.errorText = message.empty() ? t.statusLine : message;
  const std::string lowered = Lower(result.errorText);
  const bool transport = lowered.find("socket error") != std::string::npos ||
                         lowered.find("timeout") != std::string::npos || lowered.find("timed out") != std::string::npos;
  if (transport && result.httpCode == -1) result.httpCode = 999;
  // An answer cut short after a good status line (in its head or its body)
  // is a failed transfer, whatever that line said; the quota failures keep
  // their code.
  const bool cutShort = t.quotaMarker != kQuotaMarker && t.responseCode >= 200 && t.responseCode < 300;
  if (cutShort) result.httpCode = 999;
  for (const auto& [name, value] : t.lastReply.headers) result.headers.push_back(name + ": " + value);
}

void TtidewellWorkerThreadBase::CopyResponseValues(TTransfer& t, TtidewellTrdJobPropClass& result) {
  const THttpExchangeReply& reply = t.lastReply;
  if (result.Stream() != nullptr) result.Stream()->SetPosition(0);
  const std::string lastModified = reply.Header("Last-Modified");
  const std::string etag = reply.Header("ETag");
  result.lastModified = IsSafeHeaderValue(lastModified) ? lastModified : "";
  result.etag = IsSafeHeaderValue(etag) ? etag : "";
  result.finalUrl = t.currentUrl;
  result.server = reply.Header("Server");
  result.contentType = reply.Header("Content-Type");
  result.contentEncoding = reply.Header("Content-Encoding");
  result.contentLength = ClampToInt32(t.contentLength);
  result.headers.clear();
  for (const auto& [name, value] : reply.headers) result.headers.push_back(name + ": " + value);
}

bool TtidewellWorkerThreadBase::EnclosureWithdrawn(TTransfer& t) {
  if (t.jobType != TQueueJobTypes::CgetEnclosure || t.result == nullptr) return false;
  const Clock::time_point now = Clock::now();
  if (now - t.lastWithdrawalCheck < kWithdrawalCheckPeriod) return false;
  t.lastWithdrawalCheck = now;
  t.withdrawnReason = WithdrawalReason(t, *t.result);
  return !t.withdrawnReason.empty();
}

// A file whose folder was renamed or deleted would be finished where nobody
// looks for it; an episode whose feed was deleted would stay on disk named
// by no row.
std::string TtidewellWorkerThreadBase::WithdrawalReason(TTransfer& t, TtidewellTrdJobPropClass& result) {
  const std::string gone = result.FileGoneReason();
  if (!gone.empty()) {
    t.withdrawnFileError = true;
    return FormatText(kFileGone, t.downloadFile, gone);
  }
  try {
    if (!IsEnclosureWanted(itemId_)) return kEnclosureDeleted;
  } catch (...) {
    // A database that cannot answer now decides nothing: the row is
    // written when the transfer ends.
  }
  return {};
}

void TtidewellWorkerThreadBase::FinishEnclosure(TTransfer& t, TtidewellTrdJobPropClass& result,
                                                const kt::WideString& targetFolder, const kt::WideString& fileName) {
  if (!result.Succeeded() || StopOrTerminate()) return FailEnclosure(t, result);
  const std::string withdrawn = WithdrawalReason(t, result);
  if (!withdrawn.empty()) {
    result.fileError = t.withdrawnFileError;
    return FailEnclosure(t, result, withdrawn);
  }
  try {
    result.CloseFile();
  } catch (const EFWriteError& failure) {
    result.fileError = true;
    FailEnclosure(t, result, failure.what());
    result.passingFailure = failure.Passes();
    return;
  }
  const int64_t written = FileSize(t.downloadFile);
  if (result.contentLength > 1 && result.contentLength > written) {
    FailEnclosure(t, result, MessageText(kFilesizeMismatch));
    result.passingFailure = true;  // the line closed before the whole body came
    return;
  }
  const std::string unwanted = UnwantedBodyText(t, result, written);
  if (!unwanted.empty()) return FailEnclosure(t, result, unwanted);
  const std::string folder = FolderWithSeparator(targetFolder);
  const std::string name = FinalEnclosureName(t, result, fileName);
  int error = EEXIST;
  WideString target;
  std::optional<std::unordered_set<WideString>> named;
  const auto namedByRow = [&](const WideString& path) {
    if (!named) named = FilesNamedByOtherRows(NumberedNamesPrefix(path));
    return named->count(path) > 0;
  };
  // Another download may take the same name meanwhile; the move never
  // replaces a file, so the next free name is tried.
  for (int attempt = 0; attempt < 8 && error == EEXIST; ++attempt) {
    bool everyNameTaken = false;
    try {
      // Without the rows no name is known to be free: the file waits for
      // the database.
      const bool answered = AwaitDatabase([&] {
        named.reset();
        target = MakeUniqueFileName(kt::Utf8ToWide(folder + name), namedByRow);
        // Every numbered name taken: the name itself is given back, and a
        // row may hold it though no file lies there.
        everyNameTaken = namedByRow(target);
      });
      if (!answered) return FailEnclosure(t, result);
    } catch (const std::exception& failure) {
      return FailEnclosure(t, result, failure.what());
    }
    if (everyNameTaken) break;
    if (!BeforeEnclosureMove(target)) return FailEnclosure(t, result);
    const bool moved = MoveFileUni(kt::Utf8ToWide(t.downloadFile), target,
                                   platform::kMoveCopyAllowed | platform::kMoveWriteThrough);
    error = moved ? 0 : errno;
  }
  if (error == 0) {
    result.localFileName = target;
    return;
  }
  result.fileError = true;
  FailEnclosure(t, result, FormatText(MessageText(kEnclosureRenameFailed), error));
  result.passingFailure = IsRoomFailure(error);
}

// A captive portal's login page, or nothing at all, is no episode.
std::string TtidewellWorkerThreadBase::UnwantedBodyText(const TTransfer& t, const TtidewellTrdJobPropClass& result,
                                                        int64_t written) {
  if (written == 0 && t.announcedSize > 0) return FormatText(kEmptyEnclosure, t.announcedSize);
  const std::string received = MediaType(result.contentType);
  const std::string announced = MediaType(t.announcedType);
  if (IsWebPageType(received) && !announced.empty() && !IsWebPageType(announced)) {
    return FormatText(kWebPageInstead, received, announced);
  }
  return {};
}

std::string TtidewellWorkerThreadBase::FinalEnclosureName(TTransfer& t, TtidewellTrdJobPropClass& result,
                                                          const kt::WideString& fileName) {
  std::string name = kt::WideToUtf8(fileName);
  const std::string document = UrlDocumentToFileName(result.finalUrl);
  if (IsUsableFileExtension(document)) name = document;
  const std::string proposed = DispositionFileName(t.lastReply.Header("Content-Disposition"));
  if (proposed.size() > 3 && IsUsableFileExtension(proposed)) name = proposed;
  name = Trim(ReplaceAll(ReplaceAll(name, "%20", " "), "%2E", "."));
  // The proposed name may hold separators again ("%2E%2E/"), so only its last
  // component counts; dots-only names are replaced.
  name = MakeSafeFileName(LastPathComponent(name));
  if (!IsUsableFileExtension(name)) {
    const std::string extension = GetExtensionForContentType(result.contentType);
    if (!extension.empty() && extension[0] == '.') name = ChangeFileExt(name, extension);
  }
  return name;
}

void TtidewellWorkerThreadBase::FailEnclosure(TTransfer& t, TtidewellTrdJobPropClass& result,
                                              const std::string& reason) {
  result.error = true;
  result.httpCode = 999;
  result.errorText = reason;
  FailEnclosure(t, result);
}

void TtidewellWorkerThreadBase::FailEnclosure(TTransfer& t, TtidewellTrdJobPropClass& result) {
  result.DiscardFile();
  if (!t.downloadFile.empty()) DeleteFileUni(kt::Utf8ToWide(t.downloadFile));
  if (!result.error && result.errorText.empty() && StopOrTerminate()) result.errorText = MessageText(kFetchAborted);
  if (result.errorText.empty()) result.errorText = t.statusLine;
  result.error = true;
  if (result.httpCode == 200) result.httpCode = 999;
}

}  // namespace tidewell
