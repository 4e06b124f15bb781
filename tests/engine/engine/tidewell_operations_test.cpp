// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "engine/tidewell.h"
#include "engine/tidewell_date.h"
#include "engine_test_support.h"
#include "platform/file_ops.h"
#include "support/firebird_test_database.h"
#include "support/temp_folder.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

using testing::EngineOnDatabase;
using testing::ParkedPool;

class CreateDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::UsePrivateFirebirdLockFolder(); }
  testing_support::TempFolder folder;
  ParkedPool pool;
  Ttidewell engine{{false, pool.Factory()}};
  std::string fileName = "stale";
  std::string errorText = "stale";
};

TEST_F(CreateDatabaseTest, AFolderPathGetsTheDefaultFileWhichBecomesTheEnginesDatabase) {
  EXPECT_TRUE(engine.CreateDatabase(folder.Path(), "SYSDBA", "", fileName, errorText));
  EXPECT_EQ(fileName, folder.File("rssengine.fdb"));
  EXPECT_EQ(errorText, "");
  EXPECT_TRUE(platform::FileExists(fileName));
  EXPECT_EQ(engine.GetDbFilePath(), fileName);
  engine.SetConnected(true);
  EXPECT_EQ(engine.MainConnection().PageSize(), 16384);
  engine.SetConnected(false);
  // The file is there now: nothing is made, the name is still handed back.
  EXPECT_FALSE(engine.CreateDatabase(folder.Path(), "SYSDBA", "", fileName, errorText));
  EXPECT_EQ(fileName, folder.File("rssengine.fdb"));
  EXPECT_EQ(errorText, "");
}

TEST_F(CreateDatabaseTest, AGivenNameIsLowerCasedWithExtensionFdbAndAShortOneReplaced) {
  EXPECT_TRUE(engine.CreateDatabase(folder.File("sub/deeper/ My.Feeds.DB "), "SYSDBA", "", fileName, errorText))
      << errorText;
  EXPECT_EQ(fileName, folder.File("sub/deeper/my.feeds.fdb"));
  EXPECT_TRUE(platform::FileExists(fileName));
  EXPECT_TRUE(engine.CreateDatabase(folder.File("ab"), "SYSDBA", "", fileName, errorText)) << errorText;
  EXPECT_EQ(fileName, folder.File("rssengine.fdb"));
}

TEST_F(CreateDatabaseTest, AFolderThatCannotBeMadeIsReportedNotRaised) {
  std::ofstream(folder.File("plain")) << "a file, not a folder";
  EXPECT_FALSE(engine.CreateDatabase(folder.File("plain/inner/x.fdb"), "SYSDBA", "", fileName, errorText));
  EXPECT_EQ(errorText, "Can't create directory !\r\n\r\n" + folder.File("plain/inner/"));
  EXPECT_EQ(fileName, "");
  EXPECT_EQ(engine.GetDbFilePath(), "");
}

class EngineOperationsTest : public ::testing::Test {
 protected:
  ParkedPool pool;
  EngineOnDatabase db{{false, pool.Factory()}};
  Ttidewell& engine = db.Engine();
};

TEST_F(EngineOperationsTest, AddFeedStoresTheNormalisedLinkAndFindFeedIdByUrlIgnoresCase) {
  EXPECT_EQ(engine.AddFeed(u"Blank", "   ", u""), 0);
  const int32_t id = engine.AddFeed(u"Ünïcode News", " Example.org/Feed.xml ", u"from a list");
  ASSERT_GT(id, 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link='http://Example.org/Feed.xml' and type_='NaN'"
                          " and opmldescr='from a list' and title='Ünïcode News' and feed_id=" + std::to_string(id)),
            1);
  EXPECT_EQ(engine.FindFeedIdByUrl("HTTP://EXAMPLE.ORG/FEED.XML"), id);
  EXPECT_EQ(engine.FindFeedIdByUrl("example.org:80/feed.xml#top"), id);
  EXPECT_EQ(engine.FindFeedIdByUrl("https://example.org/Feed.xml"), -1);
  EXPECT_EQ(engine.FindFeedIdByUrl("http://example.org/other.xml"), -1);
  EXPECT_EQ(engine.FindFeedIdByUrl("http://example.org/a/../%46eed.xml"), id);
  const int32_t international = engine.AddFeed(u"", "http://b\xC3\xBC" "cher.example/", u"");
  EXPECT_EQ(engine.AddFeed(u"", "http://XN--BCHER-KVA.example", u""), international);
  TTranWrapper transaction;
  engine.BindTransaction(&transaction, false);
  EXPECT_TRUE(transaction.InTransaction());
  EXPECT_EQ(engine.FindFeedIdByUrl("http://example.org/feed.xml", &transaction), id);
  EXPECT_TRUE(transaction.InTransaction()) << "the caller's transaction stays the caller's";
  transaction.Commit();
}

// An address whose look-up text is written with an escape ("%46" for "F")
// is found by itself and by its other spellings, which are one row; an
// escape that is another character ("%25" is "%") is another feed.
TEST_F(EngineOperationsTest, AddFeedOfOneAddressTwiceIsOneRowWhateverItEscapes) {
  const struct {
    std::string escaped;
    std::string plain;
    std::string other;
  } rows[] = {
      {"http://example.org/%46eed.xml", "http://example.org/Feed.xml", "http://example.org/%2546eed.xml"},
      {"http://example.org/show/f%65%65d?%69d=7", "http://example.org/show/feed?id=7",
       "http://example.org/show/feed?id=8"},
      {"http://%65xample.net/", "http://example.net/", "http://example.com/"},
  };
  for (const auto& row : rows) {
    const int32_t id = engine.AddFeed(u"", row.escaped, u"");
    ASSERT_GT(id, 0) << row.escaped;
    EXPECT_EQ(engine.AddFeed(u"", row.escaped, u""), id) << row.escaped;
    EXPECT_EQ(engine.AddFeed(u"", row.plain, u""), id) << row.plain;
    EXPECT_EQ(engine.FindFeedIdByUrl(row.plain), id) << row.plain;
    EXPECT_NE(engine.AddFeed(u"", row.other, u""), id) << row.other;
  }
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds"), 6);
}

TEST_F(EngineOperationsTest, UpdateFeedMakesTheFeedDueAndQueuesItAtTheHead) {
  const int32_t id = engine.AddFeed(u"News", "http://example.org/feed.xml", u"");
  db.Execute("update feeds set next_feedupdate='2049-01-01' where feed_id=" + std::to_string(id));
  pool.workers[0]->AddFeedJob(5000, false);
  for (int slot = 1; slot < 5; ++slot) pool.workers[slot]->AddFeedJob(5000 + slot, false);
  engine.UpdateFeed(id);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where next_feedupdate<'2049-01-01' and feed_id=" +
                          std::to_string(id)),
            1);
  EXPECT_EQ(pool.workers[0]->ItemIds(), (std::vector<int32_t>{id, 5000}));
}

TEST_F(EngineOperationsTest, UpdateFeedOfAnUnknownIdRaisesAndQueuesNothing) {
  try {
    engine.UpdateFeed(777);
    FAIL() << "no error";
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "Feed (777) not found");
  }
  EXPECT_EQ(engine.QueuedJobCount(), 0);
}

TEST_F(EngineOperationsTest, ClearBufferEmptiesTheBufferTable) {
  db.Execute("insert into buffer (itemId_) values (1)");
  EXPECT_TRUE(engine.ClearBuffer());
  EXPECT_EQ(db.QueryInt64("select count(*) from buffer"), 0);
}

class ResetEnclosureDownloadsTest : public EngineOperationsTest {
 protected:
  void SetUp() override {
    tmpFile = db.Folder().File("part.TMP");
    keptFile = db.Folder().File("done.mp3");
    std::ofstream(tmpFile) << "partial";
    std::ofstream(keptFile) << "whole";
    AddEnclosure(1, 1, tmpFile, 0);     // interrupted
    AddEnclosure(2, 3, keptFile, 500);  // failed
    AddEnclosure(3, 3, "", 404);        // gone from the server
    AddEnclosure(4, 2, "", 200);        // finished
  }
  void AddEnclosure(int id, int status, const std::string& file, int httpCode) {
    db.Execute("insert into enclosures (enclosure_id, article_id, url_, download_status, filelocation, lasthttpcode,"
               " downloadStart, downloadEnd) values (" +
               std::to_string(id) + ", 1, 'http://example.org/" + std::to_string(id) + ".mp3', " +
               std::to_string(status) + ", '" + file + "', " + std::to_string(httpCode) +
               ", '2001-01-01', '2001-01-01')");
  }
  int64_t ResetCount() {
    return db.QueryInt64("select count(*) from enclosures where download_status=0 and filelocation=''"
                         " and lasthttpcode=0 and valid=1 and downloadStart>'2001-01-02'");
  }
  std::string tmpFile, keptFile;
};

TEST_F(ResetEnclosureDownloadsTest, WithoutIdsAllButThe404sAreQueuedAgainAndTmpFilesDeleted) {
  engine.ResetEnclosureDownloads();
  EXPECT_EQ(ResetCount(), 2);
  EXPECT_EQ(db.QueryInt64("select download_status from enclosures where enclosure_id=3"), 3);
  EXPECT_EQ(db.QueryInt64("select download_status from enclosures where enclosure_id=4"), 2);
  EXPECT_FALSE(platform::FileExists(tmpFile));
  EXPECT_TRUE(platform::FileExists(keptFile)) << "only partial files are removed";
}

TEST_F(ResetEnclosureDownloadsTest, GivenIdsAreResetEvenAfterA404) {
  engine.ResetEnclosureDownloads({3, 4});
  EXPECT_EQ(ResetCount(), 1);
  EXPECT_EQ(db.QueryInt64("select download_status from enclosures where enclosure_id=3"), 0);
  EXPECT_EQ(db.QueryInt64("select download_status from enclosures where enclosure_id=4"), 2);
  EXPECT_EQ(db.QueryInt64("select download_status from enclosures where enclosure_id=1"), 1);
  EXPECT_TRUE(platform::FileExists(tmpFile));
}

// Two rows an earlier version gave one name: the one under way never takes the other's file.
TEST_F(ResetEnclosureDownloadsTest, ADownloadIsNeverMarkedDownloadedWithAnotherEpisodesFile) {
  const std::string shared = db.Folder().File("shared.mp3");
  std::ofstream(shared) << "the other episode";
  AddEnclosure(5, 2, shared, 200);
  AddEnclosure(6, 1, shared, 0);
  engine.ResetEnclosureDownloads({6});
  EXPECT_EQ(db.QueryInt64("select download_status from enclosures where enclosure_id=6"), 0);
  EXPECT_EQ(db.QueryText("select filelocation from enclosures where enclosure_id=5"), shared);
  EXPECT_TRUE(platform::FileExists(shared));
}

TEST(TtidewellUnescapeXmlText, ResolvesReferencesAndLeavesMalformedTextAlone) {
  struct Case {
    std::u16string text, expected;
  } cases[] = {
      {u"a &amp; b &#65;&#x42; &lt;i&gt;", u"a & b AB <i>"},
      {u"fish & chips &amp; more", u"fish & chips &amp; more"},
      {u"open &amp", u"open &amp"},
      {u"no references", u"no references"},
      {u"<b>bold</b> &amp;", u"<b>bold</b> &amp;"},
      {u"caf\u00e9 &quot;x&quot;", u"caf\u00e9 \"x\""},
  };
  for (const Case& c : cases) {
    std::u16string result = u"stale";
    Ttidewell::UnescapeXmlText(c.text, false, result);
    EXPECT_EQ(result, c.expected) << kt::WideToUtf8(c.text);
  }
}

}  // namespace
}  // namespace tidewell
