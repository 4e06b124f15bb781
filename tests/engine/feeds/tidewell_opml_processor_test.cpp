// SPDX-License-Identifier: MIT
// The OPML processor on its own, with the engine as owner and a real
// database: documents that are no usable list fail with their own message
// and leave nothing behind.
#include "engine/feeds/tidewell_opml_processor.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <string>

#include "engine/db/tidewell_db_helper_instance.h"
#include "engine/tidewell.h"
#include "tests/engine/engine/engine_test_support.h"

namespace tidewell {
namespace {

using testing::EngineOnDatabase;

class OpmlProcessorTest : public ::testing::Test {
 protected:
  OpmlProcessorTest() {
    engine.GetFolders()->SaveAll();
    transaction = NewTransaction(true);
    transaction->SetDatabase(&engine.WorkersConnection());
    query = NewQuery(true);
    query->SetTransaction(transaction);
    context.owner = &engine;
    context.transaction = transaction;
    context.query = query;
    context.dbHelper = DbHelperInstance();
    context.itemId = &itemId;
    context.feedTitle = &feedTitle;
    context.added = &added;
    context.removed = &removed;
    context.deleteFeedId = &deleteFeedId;
    context.deleteEnded = &deleteEnded;
    context.deleteAnswer = &deleteAnswer;
  }
  ~OpmlProcessorTest() override {
    query->SetTransaction(nullptr);
    ReleaseQuery(query);
    ReleaseTransaction(transaction);
  }

  // Processes body as the answer for a new list; the error text.
  std::string ProcessNew(const std::string& body) {
    TtidewellTrdJobPropClass result("http://127.0.0.1:1/list.opml", nullptr, u"", TQueueJobTypes::CgetOpmlData);
    result.httpCode = 200;
    result.Stream()->WriteBuffer(body.data(), static_cast<int64_t>(body.size()));
    itemId = 0;
    TErrorCategory category = TErrorCategory::noErrors;
    std::string errorText;
    TtidewellOpmlProcessor(context).Process(result, nullptr, category, errorText);
    EXPECT_EQ(category, errorText.empty() ? TErrorCategory::noErrors : TErrorCategory::ErrUnknown);
    return errorText;
  }

  EngineOnDatabase db;
  Ttidewell& engine = db.Engine();
  TTranWrapper* transaction;
  TQueryWrapper* query;
  TtidewellOpmlContext context;
  int32_t itemId = 0;
  WideString feedTitle;
  TStrings added, removed;
  int32_t deleteFeedId = 0;
  bool deleteEnded = false, deleteAnswer = false;
};

TEST_F(OpmlProcessorTest, DocumentsThatAreNoListFailWithTheirOwnMessage) {
  EXPECT_EQ(ProcessNew(""), "Rootnode not found !");
  EXPECT_EQ(ProcessNew("<rss><channel/></rss>"), "OPML file has invalid rootnode");
  EXPECT_EQ(ProcessNew("<OPML><head/></OPML>"), "OPML file has no body tag");
  EXPECT_LT(itemId, 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds"), 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from variables where variablename_='opmlfolder'"), 0);
}

TEST_F(OpmlProcessorTest, ANewListAnsweredWithAnErrorFailsInsteadOfBeingStoredEmpty) {
  TtidewellTrdJobPropClass result("http://127.0.0.1:1/list.opml", nullptr, u"", TQueueJobTypes::CgetOpmlData);
  result.httpCode = 404;
  result.error = true;
  result.errorText = "HTTP/1.1 404 Not Found";
  TErrorCategory category = TErrorCategory::noErrors;
  std::string errorText;
  TtidewellOpmlProcessor(context).Process(result, nullptr, category, errorText);
  EXPECT_EQ(category, TErrorCategory::ErrUnknown);
  EXPECT_EQ(errorText, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds"), 0);
}

TEST_F(OpmlProcessorTest, AListReadsOrMakesTheStoredRootFolder) {
  TFolder* root = engine.GetFolders()->GetRootFolder();
  const int32_t rootId = root->Id;
  // A tree not read from the database finds the stored root there.
  root->Id = 0;
  EXPECT_EQ(ProcessNew("<opml><body/></opml>"), "");
  EXPECT_EQ(root->Id, rootId);
  // A database without a root gets one.
  db.Execute("delete from folders");
  root->SubFolders->Clear();
  root->Id = 0;
  EXPECT_EQ(ProcessNew("<opml><head><title>Second</title></head><body/></opml>"), "");
  EXPECT_GT(root->Id, rootId);
  EXPECT_EQ(db.QueryInt64("select count(*) from folders where parentFolder=0 and foldername='*'"), 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where type_='OPML'"), 2);
}

TEST_F(OpmlProcessorTest, OutlinesBecomeGroupsAndFeedItemsOrAreIgnored) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(
      "<body>"
      "<outline text=\"Group\"><outline title=\"A &amp; B\" xmlUrl=\" http://a.example/feed?%% \"/></outline>"
      "<outline text=\"Bare host\" xmlUrl=\"www.b.example/rss\"/>"
      "<outline text=\"Mail\" xmlUrl=\"mailto:x@example.org\"/>"
      "<outline/>"
      "<outline text=\"Page only\" htmlUrl=\"http://c.example/\"/>"
      "</body>"));
  TFolder folder(engine.GetFolders());
  folder.SetName(u"list");
  TStrings urls;
  TtidewellOpmlProcessor::ReadOPMLOutlines(engine.GetFolders(), &folder, document.child("body").first_child(), 0,
                                           urls);
  ASSERT_EQ(folder.SubFolderCount(), 1);
  TFolder* group = folder.GetSubFolder(0);
  EXPECT_EQ(group->GetName(), u"Group");
  ASSERT_EQ(group->FilterCount(), 1);
  EXPECT_EQ(group->GetFilter(0)->GetField(), u"A & B]]http://a.example/feed");
  ASSERT_EQ(folder.FilterCount(), 1);
  EXPECT_EQ(folder.GetFilter(0)->GetField(), u"Bare host]]www.b.example/rss");
  EXPECT_EQ(urls.size(), 2u);
  std::vector<TFilter*> all;
  TtidewellOpmlProcessor::CollectFolderFeeds(&folder, all);
  EXPECT_EQ(all.size(), 2u);
}

}  // namespace
}  // namespace tidewell
