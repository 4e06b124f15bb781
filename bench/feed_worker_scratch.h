// SPDX-License-Identifier: MIT
// What a feed worker hands the feed processor, on a scratch database of its
// own: the benchmarks that store documents as a worker does share it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/firebird_scratch.h"
#include "engine/db/tidewell_compability.h"
#include "engine/db/tidewell_db_helper.h"
#include "engine/db/tidewell_tables.h"
#include "engine/feeds/tidewell_feed_processor.h"

namespace bench_support {

struct FeedWorkerScratch {
  FeedWorkerScratch(const char* databaseName, std::string feedUrl, tidewell::TFeedOpType feedOperation,
                    bool forcedWrites = false)
      : url(std::move(feedUrl)), operation(feedOperation) {
    connection.SetDBFileName(NewDatabasePath(databaseName));
    connection.SetForcedWrites(forcedWrites);
    connection.CreateDatabase(16384);
    tidewell::TtidewellGenerateTables(&connection).CreateMissingTables();
    transaction.SetDatabase(&connection);
    query.SetTransaction(&transaction);
    c.connection = &connection;
    c.transaction = &transaction;
    c.query = &query;
    c.dbHelper = &helper;
    c.defaultArchiveSize = &archive;
    c.itemId = &itemId;
    c.url = &url;
    c.contentType = &contentType;
    c.userName = &userName;
    c.password = &password;
    c.commentFeed = &commentFeed;
    c.feedTitle = &feedTitle;
    c.items = &items;
    c.feedOperation = &operation;
    c.deletedItems = &deleted;
    c.errorCategory = &category;
    c.errorText = &errorText;
    c.articleIds = &ids;
    c.articleIdCount = &idCount;
    c.articleKeys = &keys;
    c.commentFeedId = &commentFeedId;
    c.parentArticleId = &parentArticleId;
    c.xmlBase = &xmlBase;
    c.whitespaceSetting = &whitespace;
    c.reencode = &reencode;
  }
  FeedWorkerScratch(const FeedWorkerScratch&) = delete;
  FeedWorkerScratch& operator=(const FeedWorkerScratch&) = delete;

  tidewell::TDbConnWrapper connection;
  tidewell::TTranWrapper transaction;
  tidewell::TQueryWrapper query;
  tidewell::TtidewellDbHelper helper;
  int32_t archive = 0, itemId = 0, items = 0, deleted = 0, idCount = 0, commentFeedId = 0, parentArticleId = 0;
  std::string url, contentType, userName, password, errorText, xmlBase;
  bool commentFeed = false, reencode = false;
  std::u16string feedTitle;
  tidewell::TFeedOpType operation;
  tidewell::TErrorCategory category = tidewell::TErrorCategory::noErrors;
  tidewell::TDynIntArray ids;
  std::vector<std::string> keys;
  int16_t whitespace = -1;
  tidewell::TtidewellFeedContext c;
};

}  // namespace bench_support
