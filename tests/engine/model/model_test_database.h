// SPDX-License-Identifier: MIT
// The database of the data-model tests: a copy of a database that the
// schema generator built once per test process, so every test starts with
// the full, empty schema of its own.
//
//   ModelTestDatabase db;
//   int32_t feed = db.InsertFeed("http://example.org/rss");
//   int32_t article = db.InsertArticle(feed, u"Title");
//   tidewell::TFeeds feeds(&db.Connection());
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/db/tidewell_compability.h"
#include "support/temp_folder.h"

namespace model_testing {

class ModelTestDatabase {
 public:
  ModelTestDatabase();
  ~ModelTestDatabase();
  ModelTestDatabase(const ModelTestDatabase&) = delete;
  ModelTestDatabase& operator=(const ModelTestDatabase&) = delete;

  tidewell::TDbConnWrapper& Connection() { return *connection_; }

  // Runs one statement in a transaction of its own and commits it.
  void Execute(const std::string& sql);
  // Runs "insert ... returning <id>" and commits; the id.
  int32_t InsertReturning(const std::string& sql);
  // The first column of the first row (0 when none or NULL).
  int64_t QueryInt64(const std::string& sql);
  std::string QueryText(const std::string& sql);
  // The first column of the first row as a date-time (-1.0 when none/NULL).
  double QueryDateTime(const std::string& sql);
  // Runs a statement with one date-time parameter and commits.
  void ExecuteWithDateTime(const std::string& sql, double value);

  int32_t InsertFeed(const std::string& link, const std::string& type = "", int32_t parentFeed = 0);
  // body is stored as given; the title too (empty allowed).
  int32_t InsertArticle(int32_t feedId, const std::u16string& title, const std::u16string& body = u"body");
  int32_t InsertEnclosure(int32_t articleId, const std::string& url, int32_t downloadStatus = 0);
  int32_t InsertLink(int32_t articleId, const std::string& url);
  int32_t InsertKeyword(int32_t articleId, const std::string& value, bool userDefined);
  int32_t InsertWebPage(int32_t articleId, const std::string& content);
  // A custom tag of an article (table prefix "articles") or of a feed
  // ("feeds") with one attribute; the value row's id.
  int32_t InsertCustomTag(const std::string& tablePrefix, int32_t ownerId, const std::string& tag,
                          const std::string& value, const std::string& attribute, const std::string& attributeValue);

 private:
  testing_support::TempFolder folder_;
  std::unique_ptr<tidewell::TDbConnWrapper> connection_;
};

}  // namespace model_testing
