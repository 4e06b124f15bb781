// SPDX-License-Identifier: MIT
// One HTTP request and its answer over one libcurl easy handle: no redirect
// following, no cookies, no authentication or proxy of curl's own choosing,
// a fresh connection each time, TLS certificates verified. The owner decides
// what to do with each answer (redirects, challenges) and asks again.
// An exchange object belongs to one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/stream.h"

typedef void CURL;

namespace tidewell {

struct THttpExchangeRequest {
  enum class Method { Get, Put, Post };

  std::string url;
  Method method = Method::Get;
  // Sent as given, "Name: value" each; curl adds only Host (and, for PUT and
  // POST, Content-Length).
  std::vector<std::string> headers;
  kt::TStream* upload = nullptr;  // the body of PUT and POST, from its start
  // Empty: no proxy at all (the environment's proxy variables are ignored).
  std::string proxyHost;
  int32_t proxyPort = 0;
  std::string proxyUserName;
  std::string proxyPassword;
  // Certificate authorities to trust; empty: the system's store.
  std::string caFile;
  int32_t connectTimeoutMs = 55000;
  // Longest wait for the next bytes once connected.
  int32_t readTimeoutMs = 55000;
  // Longest time for the whole exchange; 0: no limit. A server that trickles
  // a byte now and then never trips the read time-out, but trips this.
  int32_t deadlineMs = 0;
  // Once connected, fewer than lowSpeedBytesPerSecond received on average
  // over any lowSpeedWindowMs ends the exchange; 0 in either: no check.
  int32_t lowSpeedBytesPerSecond = 0;
  int32_t lowSpeedWindowMs = 0;
};

struct THttpExchangeReply {
  enum class Outcome {
    Completed,       // the answer arrived in full
    StoppedByOwner,  // a callback ended the exchange
    ReadTimedOut,    // nothing arrived for readTimeoutMs
    DeadlinePassed,  // the exchange took longer than deadlineMs
    TooSlow,         // below lowSpeedBytesPerSecond over a whole window
    Failed,          // transport failure (see curlCode, errorText)
  };

  Outcome outcome = Outcome::Failed;
  int32_t status = -1;     // -1 until a status line arrived
  std::string statusLine;  // without the line end
  std::vector<std::pair<std::string, std::string>> headers;
  int64_t contentLength = -1;  // announced length, -1 without one
  bool chunked = false;
  int64_t bodyBytes = 0;  // body bytes received (before any decoding)
  int curlCode = 0;
  long osErrno = 0;
  std::string errorText;

  // The first value of a header (name without case), "" when absent.
  std::string Header(const std::string& name) const;
  std::vector<std::string> HeaderValues(const std::string& name) const;
};

// What the owner hears during an exchange; every callback runs on the
// calling thread inside Perform. Returning false ends the exchange
// (Outcome::StoppedByOwner).
struct THttpExchangeSink {
  // The status line and headers of the answer are complete.
  std::function<bool(const THttpExchangeReply&)> onHeaders;
  // Raw body bytes as they arrive.
  std::function<bool(const char*, size_t)> onBody;
  // Once per fill of the receive buffer (or what arrived since the last
  // call), with the body bytes received so far.
  std::function<bool(int64_t bodyBytes)> onBlock;
  // Often while waiting (at least once a second): keep going?
  std::function<bool()> keepGoing;
};

class THttpExchange {
 public:
  // One fill of the receive buffer.
  static constexpr long kReceiveBufferSize = 512 * 1024;

  THttpExchange();
  ~THttpExchange();
  THttpExchange(const THttpExchange&) = delete;
  THttpExchange& operator=(const THttpExchange&) = delete;

  THttpExchangeReply Perform(const THttpExchangeRequest& request, THttpExchangeSink& sink);

 private:
  struct Run;
  static size_t OnHeaderLine(char* data, size_t size, size_t count, void* run);
  static size_t OnBodyData(char* data, size_t size, size_t count, void* run);
  static size_t OnUploadData(char* data, size_t size, size_t count, void* run);
  static int OnProgress(void* run, int64_t, int64_t downloaded, int64_t, int64_t);
  static bool BelowLowSpeed(Run& run, std::chrono::steady_clock::time_point now);
  void Configure(const THttpExchangeRequest& request, Run& run);

  CURL* curl_;
};

}  // namespace tidewell
