// SPDX-License-Identifier: MIT
// Golden files: each feed document of data/ and of data/cases/ (one
// document per way publishers really write feeds) is added as a new feed and
// the rows it leaves are compared with <name>.expected beside it. A new case
// is two files (three when <name>.content-type gives the answer's Content-
// Type); TIDEWELL_UPDATE_GOLDEN=1 rewrites the expected files.
//
// The keys test pins the article keys (guid and MD5 rule) that earlier
// versions stored for documents they could read: an upgrade must find every
// stored article again, never add a second one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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

std::string DataPath(const std::string& name) { return FeedTestWorker::DataFolder() + "/" + name; }

std::string CaseFile(const std::string& name) { return DataPath(name); }

bool Exists(const std::string& name) { return std::filesystem::exists(DataPath(name)); }

std::vector<std::string> GoldenDocuments() {
  std::vector<std::string> names = {"rss20.xml", "rss091.xml", "rss_windows1252.xml", "rdf.xml", "atom10.xml",
                                    "atom03.xml"};
  std::vector<std::string> cases;
  for (const auto& entry : std::filesystem::directory_iterator(DataPath("cases")))
    if (entry.path().extension() == ".xml") cases.push_back("cases/" + entry.path().filename().string());
  std::sort(cases.begin(), cases.end());
  names.insert(names.end(), cases.begin(), cases.end());
  return names;
}

std::string TrimmedLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

// Adds the document as a new feed from the address it names.
void AddGolden(FeedTestWorker& worker, const std::string& name) {
  if (Exists(name + ".content-type"))
    worker.contentType = TrimmedLine(FeedTestWorker::ReadData(name + ".content-type"));
  worker.Insert(FeedTestWorker::ReadData(name), "http://golden.example/" + name);
}

class FeedGoldenTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FeedGoldenTest, StoredRowsMatchTheExpectedFile) {
  const std::string name = GetParam();
  FeedTestWorker worker;
  AddGolden(worker, name);
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  const std::string dump = Dump(worker);
  const std::string expectedFile = CaseFile(name + ".expected");
  const char* update = std::getenv("TIDEWELL_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") std::ofstream(expectedFile, std::ios::binary) << dump;
  EXPECT_EQ(dump, FeedTestWorker::ReadData(name + ".expected")) << name;
}

INSTANTIATE_TEST_SUITE_P(Documents, FeedGoldenTest, ::testing::ValuesIn(GoldenDocuments()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// guid | articleMD5 of each article, in the order the articles were made,
// as earlier versions stored them.
const std::map<std::string, std::vector<std::string>> kEarlierKeys = {
    {"rss20.xml",
     {"tide-1 | MD5-03832BE26D42149D8F93C2738EA8B9B5",
      "http://harbour.example/low | MD5-6DDB20E2B22C62C6C2EDBC4493494528",
      "MD5-9735A86086C485C4DE641CD08F9424D0 | MD5-9735A86086C485C4DE641CD08F9424D0"}},
    {"rss091.xml", {"MD5-132C7174268F7B79E11B81696BEA1382 | MD5-132C7174268F7B79E11B81696BEA1382"}},
    {"rss_windows1252.xml", {"cafe-1 | MD5-858BBC763456DFE7927F17296DFB1752"}},
    {"rdf.xml",
     {"http://lighthouse.example/1 | MD5-03A08706BEA33CC16C6DA61FEE39BC58",
      "http://lighthouse.example/2 | MD5-B6730C2D74E82AE6FD17B3C8EC0D6A8D"}},
    {"atom10.xml",
     {"urn:dunes:1 | MD5-B1501902CA695162B95E81F0E4A104F0",
      "MD5-272827067497A6291FF35A15DB596514 | MD5-272827067497A6291FF35A15DB596514"}},
    {"atom03.xml", {"tag:reef,2024:1 | MD5-AC557809FF5A7480ECA10F1AD27826BC"}},
    // Documents whose bodies are now written or decoded differently.
    {"cases/rss_inline_markup.xml",
     {"MD5-5DEDD0C6C2C9BB3DB998D08A4958FA09 | MD5-5DEDD0C6C2C9BB3DB998D08A4958FA09",
      "MD5-30BC961F5CD7736D246F9EB9EEB4AF1D | MD5-30BC961F5CD7736D246F9EB9EEB4AF1D",
      "inline-3 | MD5-B2DFE4C5B1D194694F6148D639081187"}},
    {"cases/atom_xhtml_content.xml",
     {"MD5-D698EBAF09F0DB8AFF44605FA49471A0 | MD5-D698EBAF09F0DB8AFF44605FA49471A0",
      "urn:xhtml:2 | MD5-858E3C1788C446C4355CA65582E5CFD1"}},
    {"cases/latin1_windows1252.xml",
     {"MD5-346766935DA47542B6B91737BEB7DFDB | MD5-346766935DA47542B6B91737BEB7DFDB"}},
};

std::vector<std::string> StoredKeys(FeedTestWorker& worker) {
  TTranWrapper transaction(&worker.db.Connection());
  transaction.StartTransaction();
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  query.SQL.Add("select guid || ' | ' || articleMD5 from articles order by id");
  query.ExecQuery();
  std::vector<std::string> keys;
  for (; !query.Eof(); query.Next()) keys.push_back(query.Fields(0).AsString());
  query.Close();
  transaction.Commit();
  return keys;
}

TEST(FeedKeysTest, DocumentsReadBeforeKeepTheirArticleKeysAndFindTheirArticlesAgain) {
  for (const auto& [name, expected] : kEarlierKeys) {
    FeedTestWorker worker;
    AddGolden(worker, name);
    ASSERT_GE(worker.itemId, 1) << name << ": " << worker.errorText;
    EXPECT_EQ(StoredKeys(worker), expected) << name;
    // Fetched again (its digest forgotten, so that it is read), the document
    // adds no article.
    worker.db.Execute("update feeds set feedMD5=''");
    const int32_t feedId = worker.itemId;
    worker.ResetJob();
    worker.Update(feedId, FeedTestWorker::ReadData(name));
    EXPECT_EQ(worker.items, 0) << name;
    EXPECT_EQ(StoredKeys(worker), expected) << name;
  }
}

}  // namespace
}  // namespace tidewell
