// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_atom_processor.h"

#include <gtest/gtest.h>

#include <string>

#include "feed_test_worker.h"
#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/tidewell_date.h"

namespace tidewell {
namespace {

using feeds_testing::FeedTestWorker;

std::string Atom10(const std::string& inner) {
  return "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>T</title>" + inner + "</feed>";
}

TEST(AtomProcessorTest, NewAtom10FeedStoresFeedEntriesLinksAndEnclosures) {
  FeedTestWorker worker;
  worker.Insert(FeedTestWorker::ReadData("atom10.xml"), "http://dunes.example/feed.atom");
  const int32_t feed = worker.itemId;
  ASSERT_GE(feed, 1) << worker.errorText;
  EXPECT_EQ(worker.errorCategory, TErrorCategory::noErrors) << worker.errorText;
  EXPECT_EQ(worker.items, 2);
  EXPECT_EQ(worker.feedProcessed, 1);
  auto& db = worker.db;
  EXPECT_EQ(db.QueryText("select type_ from feeds"), "ATOM");
  EXPECT_EQ(db.QueryText("select title from feeds"), "Dunes");
  EXPECT_EQ(db.QueryText("select homepage from feeds"), "http://dunes.example/");
  EXPECT_EQ(db.QueryText("select language_ from feeds"), "he");
  EXPECT_EQ(db.QueryInt64("select rtlEnabled from feeds"), 1);
  EXPECT_DOUBLE_EQ(db.QueryDateTime("select feedmodified from feeds"), EncodeDateTime(2024, 1, 5, 10));

  const std::string wind = " from articles where guid='urn:dunes:1'";
  EXPECT_EQ(db.QueryText("select title" + wind), "Wind");
  EXPECT_EQ(db.QueryText("select body" + wind), "Wind blows <b>hard</b>");
  EXPECT_EQ(db.QueryText("select summary" + wind), "Blows");
  EXPECT_EQ(db.QueryText("select creator" + wind), "Cleo");
  // A relative alternate link without document base resolves against the
  // feed's address.
  EXPECT_EQ(db.QueryText("select link" + wind), "http://dunes.example/wind");
  EXPECT_DOUBLE_EQ(db.QueryDateTime("select modified" + wind), EncodeDateTime(2024, 1, 5, 8));
  EXPECT_EQ(db.QueryText("select modifiedTZ" + wind), "*+01:00");
  EXPECT_DOUBLE_EQ(db.QueryDateTime("select created" + wind), EncodeDateTime(2024, 1, 4, 9));
  EXPECT_EQ(db.QueryText("select url_ from enclosures"), "http://dunes.example/wind.ogg");
  EXPECT_EQ(db.QueryInt64("select size_ from enclosures"), 99);
  EXPECT_EQ(db.QueryInt64("select count(*) from links where link='http://other.example/sand'"), 1);
  EXPECT_EQ(db.QueryText("select k.value_ from keywords k join article_keywords ak on ak.keyword_id=k.id"),
            "weather");

  // An entry without ID is keyed by its texts; image content is not read.
  const std::string picture = " from articles where title='Picture'";
  EXPECT_EQ(db.QueryText("select guid" + picture), MakeMD5Key(u"Picture", u""));
  EXPECT_EQ(db.QueryText("select body" + picture), "");
  EXPECT_EQ(db.QueryText("select link" + picture), "http://dunes.example/picture");
}

TEST(AtomProcessorTest, Atom03LinksResolveAgainstTheDocumentBase) {
  FeedTestWorker worker;
  worker.Insert(FeedTestWorker::ReadData("atom03.xml"), "http://reef.example/atom");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  auto& db = worker.db;
  EXPECT_EQ(db.QueryText("select homepage from feeds"), "http://reef.example/blog/index.html");
  EXPECT_EQ(db.QueryText("select description from feeds"), "Corals");
  EXPECT_EQ(db.QueryInt64("select rtlEnabled from feeds"), 0);
  EXPECT_EQ(db.QueryText("select link from articles"), "http://reef.example/blog/coral.html");
  EXPECT_EQ(db.QueryText("select body from articles"), "Pink");
  EXPECT_DOUBLE_EQ(db.QueryDateTime("select created from articles"), EncodeDateTime(2024, 1, 3, 10));
  EXPECT_DOUBLE_EQ(db.QueryDateTime("select modified from articles"), EncodeDateTime(2024, 1, 4, 10));
}

TEST(AtomProcessorTest, StoredEntryIsRewrittenOnlyWhenItsDateChanged) {
  FeedTestWorker worker;
  const std::string dated = "<entry><id>e1</id><title>A</title><updated>2024-01-05T10:00:00Z</updated>";
  worker.Insert(Atom10(dated + "<summary>one</summary></entry>"), "http://h.example/atom");
  const int32_t feed = worker.itemId;
  worker.Update(feed, Atom10(dated + "<summary>two</summary></entry>"));
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryText("select summary from articles"), "one");

  worker.Update(feed, Atom10("<entry><id>e1</id><title>A</title><updated>2024-01-06T10:00:00Z</updated>"
                             "<summary>three</summary></entry>"));
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryText("select summary from articles"), "three");
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 1);
}

TEST(AtomProcessorTest, FeedWithOnlyALinkWithoutRelTakesItAsHomepage) {
  FeedTestWorker worker;
  worker.Insert(Atom10("<link href=\"http://plain.example/\"/>"), "http://plain.example/atom");
  EXPECT_EQ(worker.db.QueryText("select homepage from feeds"), "http://plain.example/");
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

TEST(AtomProcessorLimitsTest, LongIdsMatchTheirStoredCutAndBadEnclosuresAreSkipped) {
  FeedTestWorker worker;
  const std::string id = "urn:" + std::string(300, 'x');
  const std::string entry = "<entry><id>" + id + "</id><title>Long</title><updated>2024-01-05T10:00:00Z</updated>"
                            "<link rel=\"enclosure\" href=\"http://e.example/" + std::string(9000, 'a') + "\"/>";
  worker.Insert(Atom10(entry + "</entry>"), "http://long.example/atom");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  EXPECT_EQ(worker.errorCategory, TErrorCategory::noErrors) << worker.errorText;
  worker.Update(worker.itemId, Atom10(entry + "<summary>changed</summary></entry>"));
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 1);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from enclosures"), 0);
  EXPECT_EQ(worker.notice.rfind("Enclosure url length >8191 (9017 characters)", 0), 0u) << worker.notice;
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

TEST(AtomProcessorFailureTest, AFailureIsRecordedRolledBackAndReported) {
  FeedTestWorker worker;
  worker.helper.SetStopFlag(true);  // article inserts now refuse
  worker.Insert(Atom10("<entry><id>e</id><title>A</title></entry>"), "http://fail.example/atom");
  EXPECT_EQ(worker.errorCategory, TErrorCategory::ErrUnknown);
  EXPECT_EQ(worker.itemId, -1);
  EXPECT_EQ(worker.feedProcessed, 1);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from feeds"), 0);
  EXPECT_FALSE(worker.transaction.InTransaction());
}

// Entries' articles are inserted several at a time, later than their
// entries are read: one that fails still fails its document, with the
// insert's own message.
TEST(AtomProcessorFailureTest, AnEntryWhoseInsertFailsFailsItsDocument) {
  FeedTestWorker worker;
  worker.db.Execute("create exception tw_refused 'refused by the test'");
  worker.db.Execute("create trigger refuse_article for articles before insert as begin "
                    "if (new.title = 'refused') then exception tw_refused; end");
  std::string entries;
  for (const char* title : {"a", "refused", "c"})
    entries += std::string("<entry><id>") + title + "</id><title>" + title + "</title></entry>";
  worker.Insert(Atom10(entries), "http://fail.example/atom");
  EXPECT_EQ(worker.errorCategory, TErrorCategory::ErrUnknown);
  EXPECT_NE(worker.errorText.find("refused by the test"), std::string::npos) << worker.errorText;
  EXPECT_EQ(worker.itemId, -1);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from feeds"), 0);
}

TEST(AtomProcessorFailureTest, ContentWithoutTypeIsText) {
  FeedTestWorker worker;
  worker.Insert(Atom10("<entry><id>e</id><title>A</title><content>plain words</content></entry>"),
                "http://plain.example/atom");
  EXPECT_EQ(worker.db.QueryText("select body from articles"), "plain words");
}

}  // namespace
}  // namespace tidewell
