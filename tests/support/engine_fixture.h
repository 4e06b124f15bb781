// SPDX-License-Identifier: MIT
// The engine with its own workers on a database of its own, fetching from a
// local HTTP server, and what its events told. Lives on the main thread,
// where the engine's events arrive.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/tidewell.h"
#include "support/engine_on_database.h"
#include "support/test_http_server.h"
#include "toolkit/wide_string.h"

namespace tidewell::testing {

// How long a test waits for the engine before it gives up.
constexpr int kWaitMs = 30000;

// What OnFeedProcessed told of a feed job.
struct Processed {
  int32_t feedId;
  int32_t items;
  TErrorCategory errCat;
  std::string errMsg;
  std::string url;
  TDynIntArray ids;
};

// What OnEnclosureDownloaded told of a download.
struct Downloaded {
  uint32_t encId;
  std::string url;
  WideString localFileName;
  TErrorCategory errCat;
  std::string errMsg;
};

// What OnStopWorking told of a job of any kind.
struct EndedJob {
  int32_t itemId;
  std::string url;
  TQueueJobTypes kind;
};

class EngineFixture : public ::testing::Test {
 protected:
  // onServer: the database is reached through the tests' Firebird server.
  explicit EngineFixture(TtidewellOptions options = {}, bool onServer = false);

  // Runs the main loop until done holds, for kWaitMs at the most; whether it held.
  bool RunUntil(const std::function<bool()>& done);
  // Updates the feed and waits until a job ended and none is queued.
  void Pass(int32_t feedId);
  // The same for a job of that kind for the address, queued on the first worker.
  void RunJob(const std::string& url, TQueueJobTypes kind);
  // Whether a job for the address, or for the item, has ended.
  bool Ended(const std::string& url) const;
  bool Ended(int32_t itemId) const;

  // A 200 answer of the content type at path.
  void ServeDocument(const std::string& path, const std::string& type, const std::string& body);
  // How often the server was asked for target (path and query).
  size_t Fetched(const std::string& target) const;

  // The download's event, or nullptr when none came.
  const Downloaded* EventOf(int32_t enclosureId) const;
  // The enclosure of the feed's article (0 when none).
  int32_t EnclosureOfFeed(int32_t feedId);
  // A column of the row as text ("" when none or NULL).
  std::string FeedColumn(const std::string& column, int32_t feedId);
  std::string EnclosureColumn(const std::string& column, int32_t enclosureId);
  // The names of the folder's entries, sorted.
  static std::vector<std::string> FilesIn(const std::string& folder);

  testing_support::TestHttpServer server;
  EngineOnDatabase db;
  Ttidewell& engine = db.Engine();
  std::vector<Processed> processed;
  std::vector<Downloaded> downloaded;
  std::vector<EndedJob> ended;
};

}  // namespace tidewell::testing
