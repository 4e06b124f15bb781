// SPDX-License-Identifier: MIT
#include "engine/net/http_exchange.h"

#include <curl/curl.h>
#include <strings.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <mutex>

namespace tidewell {
namespace {

using Clock = std::chrono::steady_clock;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string TrimLineEnd(const char* data, size_t size) {
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int32_t ParseStatus(const std::string& statusLine) {
  const size_t blank = statusLine.find(' ');
  if (blank == std::string::npos) return -1;
  const int status = std::atoi(statusLine.c_str() + blank + 1);
  return status >= 100 && status <= 999 ? status : -1;
}

}  // namespace

std::string THttpExchangeReply::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return {};
}

std::vector<std::string> THttpExchangeReply::HeaderValues(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) values.push_back(value);
  }
  return values;
}

struct THttpExchange::Run {
  Run(const THttpExchangeRequest& request, THttpExchangeSink& sink, CURL* curl)
      : request(request), sink(sink), curl(curl), started(Clock::now()), lastActivity(started), windowStart(started) {}
  ~Run() {
    curl_slist_free_all(headerList);
    curl_slist_free_all(proxyHeaderList);
  }

  bool FlushBlock() {
    if (pendingBlockBytes == 0) return true;
    pendingBlockBytes = 0;
    return !sink.onBlock || sink.onBlock(reply.bodyBytes);
  }
  // Returned from a curl callback to end the transfer.
  size_t Stop() {
    stoppedByOwner = true;
    return 0;
  }
  void HeadersComplete() {
    headersDone = true;
    const std::string length = reply.Header("Content-Length");
    reply.contentLength = length.empty() ? -1 : std::strtoll(length.c_str(), nullptr, 10);
    std::string coding = reply.Header("Transfer-Encoding");
    for (char& ch : coding) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    reply.chunked = coding.find("chunked") != std::string::npos;
  }

  const THttpExchangeRequest& request;
  THttpExchangeSink& sink;
  CURL* curl;
  THttpExchangeReply reply;
  curl_slist* headerList = nullptr;
  curl_slist* proxyHeaderList = nullptr;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  bool headersDone = false;
  bool stoppedByOwner = false;
  bool readTimedOut = false;
  bool deadlinePassed = false;
  bool tooSlow = false;
  int64_t pendingBlockBytes = 0;
  int64_t receivedBytes = 0;  // headers and body, as they came off the line
  Clock::time_point started;
  Clock::time_point lastActivity;
  // The low-speed window: its start and the bytes received before it.
  Clock::time_point windowStart;
  int64_t windowStartBytes = 0;
};

THttpExchange::THttpExchange() {
  InitCurlOnce();
  curl_ = curl_easy_init();
}

THttpExchange::~THttpExchange() { curl_easy_cleanup(curl_); }

size_t THttpExchange::OnHeaderLine(char* data, size_t size, size_t count, void* context) {
  Run& run = *static_cast<Run*>(context);
  const size_t bytes = size * count;
  run.lastActivity = Clock::now();
  run.receivedBytes += static_cast<int64_t>(bytes);
  const std::string line = TrimLineEnd(data, bytes);
  THttpExchangeReply& reply = run.reply;
  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new answer begins (after an interim 1xx one, for instance).
    reply.statusLine = line;
    reply.status = ParseStatus(line);
    reply.headers.clear();
    run.headersDone = false;
  } else if (line.empty()) {
    if (reply.status >= 100 && reply.status < 200) return bytes;
    run.HeadersComplete();
    if (run.sink.onHeaders && !run.sink.onHeaders(reply)) return run.Stop();
  } else if ((line[0] == ' ' || line[0] == '\t') && !reply.headers.empty()) {
    reply.headers.back().second += " " + Trim(line);
  } else {
    const size_t colon = line.find(':');
    if (colon != std::string::npos) reply.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
  }
  return bytes;
}

size_t THttpExchange::OnBodyData(char* data, size_t size, size_t count, void* context) {
  Run& run = *static_cast<Run*>(context);
  const size_t bytes = size * count;
  run.lastActivity = Clock::now();
  run.receivedBytes += static_cast<int64_t>(bytes);
  run.reply.bodyBytes += static_cast<int64_t>(bytes);
  run.pendingBlockBytes += static_cast<int64_t>(bytes);
  if (run.sink.onBody && !run.sink.onBody(data, bytes)) return run.Stop();
  if (run.pendingBlockBytes >= kReceiveBufferSize && !run.FlushBlock()) return run.Stop();
  return bytes;
}

size_t THttpExchange::OnUploadData(char* data, size_t size, size_t count, void* context) {
  Run& run = *static_cast<Run*>(context);
  const int64_t read = run.request.upload->Read(data, static_cast<int64_t>(size * count));
  return read < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(read);
}

int THttpExchange::OnProgress(void* context, int64_t, int64_t, int64_t, int64_t) {
  Run& run = *static_cast<Run*>(context);
  if (run.sink.keepGoing && !run.sink.keepGoing()) {
    run.Stop();
    return 1;
  }
  if (!run.FlushBlock()) {
    run.Stop();
    return 1;
  }
  curl_off_t connectTime = 0;
  curl_easy_getinfo(run.curl, CURLINFO_CONNECT_TIME_T, &connectTime);
  const Clock::time_point now = Clock::now();
  // The read time-out and the speed window count from the connection, not
  // from the request's start.
  if (connectTime == 0) {
    run.lastActivity = now;
    run.windowStart = now;
  }
  if (now - run.lastActivity > std::chrono::milliseconds(run.request.readTimeoutMs)) {
    run.readTimedOut = true;
    return 1;
  }
  if (run.request.deadlineMs > 0 && now - run.started > std::chrono::milliseconds(run.request.deadlineMs)) {
    run.deadlinePassed = true;
    return 1;
  }
  if (BelowLowSpeed(run, now)) {
    run.tooSlow = true;
    return 1;
  }
  return 0;
}

// Checked once per full window, so that a pause within a window that the
// rest of the window makes up for passes.
bool THttpExchange::BelowLowSpeed(Run& run, std::chrono::steady_clock::time_point now) {
  const THttpExchangeRequest& request = run.request;
  if (request.lowSpeedBytesPerSecond <= 0 || request.lowSpeedWindowMs <= 0) return false;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - run.windowStart).count();
  if (elapsed < request.lowSpeedWindowMs) return false;
  const int64_t received = run.receivedBytes - run.windowStartBytes;
  if (received * 1000 < static_cast<int64_t>(request.lowSpeedBytesPerSecond) * elapsed) return true;
  run.windowStart = now;
  run.windowStartBytes = run.receivedBytes;
  return false;
}

void THttpExchange::Configure(const THttpExchangeRequest& request, Run& run) {
  CURL* c = curl_;
  curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, run.errorBuffer);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
  // Bodies are decoded by the owner, so that quotas count the bytes on the line.
  curl_easy_setopt(c, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, request.caFile.c_str());
  // An empty proxy switches off curl's look at the environment's variables.
  curl_easy_setopt(c, CURLOPT_PROXY, request.proxyHost.c_str());
  curl_easy_setopt(c, CURLOPT_NOPROXY, "");
  if (!request.proxyHost.empty()) {
    curl_easy_setopt(c, CURLOPT_PROXYPORT, static_cast<long>(request.proxyPort));
    curl_easy_setopt(c, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // Nor does a proxy get a "Proxy-Connection" header that we did not ask for.
    run.proxyHeaderList = curl_slist_append(run.proxyHeaderList, "Proxy-Connection:");
    curl_easy_setopt(c, CURLOPT_PROXYHEADER, run.proxyHeaderList);
    if (!request.proxyUserName.empty()) {
      curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, request.proxyUserName.c_str());
      curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str());
      curl_easy_setopt(c, CURLOPT_PROXYAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
    }
  }
  // Our headers go to the server only, never into a proxy's CONNECT.
  curl_easy_setopt(c, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE);
  for (const std::string& header : request.headers) run.headerList = curl_slist_append(run.headerList, header.c_str());
  if (request.method != THttpExchangeRequest::Method::Get) run.headerList = curl_slist_append(run.headerList, "Expect:");
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, run.headerList);
  const curl_off_t uploadSize = request.upload != nullptr ? request.upload->Size() : 0;
  if (request.upload != nullptr) request.upload->SetPosition(0);
  switch (request.method) {
    case THttpExchangeRequest::Method::Get:
      curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
      break;
    case THttpExchangeRequest::Method::Put:
      curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, uploadSize);
      break;
    case THttpExchangeRequest::Method::Post:
      curl_easy_setopt(c, CURLOPT_POST, 1L);
      curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, uploadSize);
      break;
  }
  if (request.upload != nullptr) {
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &THttpExchange::OnUploadData);
    curl_easy_setopt(c, CURLOPT_READDATA, &run);
  }
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &THttpExchange::OnHeaderLine);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &run);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &THttpExchange::OnBodyData);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &run);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &THttpExchange::OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &run);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
}

THttpExchangeReply THttpExchange::Perform(const THttpExchangeRequest& request, THttpExchangeSink& sink) {
  Run run(request, sink, curl_);
  curl_easy_reset(curl_);
  Configure(request, run);
  const CURLcode code = curl_easy_perform(curl_);
  THttpExchangeReply& reply = run.reply;
  reply.curlCode = code;
  curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &reply.osErrno);
  if (code == CURLE_OK && !run.FlushBlock()) run.stoppedByOwner = true;
  if (run.stoppedByOwner) {
    reply.outcome = THttpExchangeReply::Outcome::StoppedByOwner;
  } else if (run.readTimedOut) {
    reply.outcome = THttpExchangeReply::Outcome::ReadTimedOut;
  } else if (run.deadlinePassed) {
    reply.outcome = THttpExchangeReply::Outcome::DeadlinePassed;
  } else if (run.tooSlow) {
    reply.outcome = THttpExchangeReply::Outcome::TooSlow;
  } else if (code == CURLE_OK) {
    reply.outcome = THttpExchangeReply::Outcome::Completed;
  } else {
    reply.outcome = THttpExchangeReply::Outcome::Failed;
    reply.errorText = run.errorBuffer[0] != '\0' ? run.errorBuffer : curl_easy_strerror(code);
  }
  curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, nullptr);
  return reply;
}

}  // namespace tidewell
