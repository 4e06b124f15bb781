// SPDX-License-Identifier: MIT
// Golden files: each feed document of data/ is added as a new feed and the
// rows it leaves are compared with data/<name>.expected. A new case is two
// files; TIDEWELL_UPDATE_GOLDEN=1 rewrites the expected files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "feed_test_worker.h"

namespace tidewell {
namespace {

using feeds_testing::FeedTestWorker;

// Dates written as stored, except those of the clock: today's fall-back
// and the time of the response.
std::string DateColumn(const std::string& date, const std::string& zone) {
  return "case when " + zone + "='L' then 'today' when " + zone + "='X' then 'response time' else cast(" + date +
         " as varchar(24)) end";
}

const std::vector<std::string> kDumps = {
    "select 'feed', type_, title, homepage, description, language_, image, rtlEnabled, feedmodifiedTZ, "
    "feedCreatedTZ, " + DateColumn("feedmodified", "feedmodifiedTZ") + " from feeds order by feed_id",
    "select 'article', guid, title, link, creator, body, summary, modifiedtz, " +
        DateColumn("modified", "modifiedtz") + ", createdtz, " + DateColumn("created", "createdtz") +
        ", articleMD5, deleted from articles order by id",
    "select 'enclosure', a.guid, e.url_, e.type_, e.size_ from enclosures e join articles a on a.id=e.article_id "
    "order by e.enclosure_id",
    "select 'keyword', a.guid, k.value_ from article_keywords ak join articles a on a.id=ak.article_id "
    "join keywords k on k.id=ak.keyword_id order by a.id, k.value_",
    "select 'link', a.guid, l.link from articles_links al join articles a on a.id=al.article_id "
    "join links l on l.link_id=al.link_id order by a.id, l.link",
    "select 'namespace', nameSpaceIdf, nameSpaceVal from feed_namespaces order by nameSpaceIdf",
};

std::string Dump(FeedTestWorker& worker) {
  TTranWrapper transaction(&worker.db.Connection());
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  std::string dump;
  for (const std::string& sql : kDumps) {
    query.SQL.Clear();
    query.SQL.Add(sql);
    query.ExecQuery();
    for (; !query.Eof(); query.Next()) {
      for (int i = 0; i < query.FieldCount(); ++i)
        dump += (i ? " | " : "") + (query.Fields(i).IsNull() ? std::string("<null>") : query.Fields(i).AsString());
      dump += "\n";
    }
    query.Close();
  }
  transaction.Commit();
  return dump;
}

std::string DataPath(const std::string& name) {
  return std::string(TIDEWELL_TESTS_DIR) + "/engine/feeds/data/" + name;
}

class FeedGoldenTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FeedGoldenTest, StoredRowsMatchTheExpectedFile) {
  const std::string name = GetParam();
  FeedTestWorker worker;
  worker.Insert(FeedTestWorker::ReadData(name), "http://golden.example/" + name);
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  const std::string dump = Dump(worker);
  const std::string expectedFile = DataPath(name + ".expected");
  const char* update = std::getenv("TIDEWELL_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") std::ofstream(expectedFile, std::ios::binary) << dump;
  EXPECT_EQ(dump, FeedTestWorker::ReadData(name + ".expected")) << name;
}

INSTANTIATE_TEST_SUITE_P(Documents, FeedGoldenTest,
                         ::testing::Values("rss20.xml", "rss091.xml", "rss_windows1252.xml", "rdf.xml", "atom10.xml",
                                           "atom03.xml"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace tidewell
