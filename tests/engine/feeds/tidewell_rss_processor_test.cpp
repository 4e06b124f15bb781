// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_rss_processor.h"

#include <gtest/gtest.h>

#include <string>

#include "feed_test_worker.h"
#include "engine/db/activity.h"
#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/settings/tidewell_globvars.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

using feeds_testing::FeedTestWorker;

const std::string kFeedUrl = "http://harbour.example/rss";

std::string Id(int32_t id) { return std::to_string(id); }

// A stored RSS feed of one item whose texts can be varied.
std::string OneItemFeed(const std::string& item) {
  return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>" + item + "</channel></rss>";
}

TEST(RssProcessorTest, NewFeedStoresChannelItemsEnclosuresAndReportsOnce) {
  FeedTestWorker worker;
  worker.Insert(FeedTestWorker::ReadData("rss20.xml"), kFeedUrl);
  const int32_t feed = worker.itemId;
  ASSERT_GE(feed, 1) << worker.errorText;
  EXPECT_EQ(worker.errorCategory, TErrorCategory::noErrors) << worker.errorText;
  EXPECT_EQ(worker.feedProcessed, 1);
  EXPECT_EQ(worker.items, 3);
  EXPECT_EQ(worker.articleIdCount, 3);
  EXPECT_EQ(worker.feedTitle, u"Harbour Notes");
  auto& db = worker.db;
  const std::string where = " from feeds where feed_id=" + Id(feed);
  EXPECT_EQ(db.QueryText("select type_" + where), "RSS");
  EXPECT_EQ(db.QueryText("select title" + where), "Harbour Notes");
  EXPECT_EQ(db.QueryText("select link" + where), kFeedUrl);
  EXPECT_EQ(db.QueryText("select homepage" + where), "http://harbour.example/");
  EXPECT_EQ(db.QueryText("select language_" + where), "en-us");
  EXPECT_EQ(db.QueryText("select image" + where), "http://harbour.example/logo.png");
  EXPECT_EQ(db.QueryText("select feedmodifiedTZ" + where), "**GMT");
  EXPECT_EQ(db.QueryInt64("select lastHTTPCode" + where), 200);
  EXPECT_EQ(db.QueryText("select feedMD5" + where).size(), 32u);
  EXPECT_GT(db.QueryDateTime("select next_feedupdate" + where), db.QueryDateTime("select last_feedupdate" + where));
  EXPECT_EQ(db.QueryInt64("select count(*) from articles where feed_id=" + Id(feed)), 3);

  const std::string high = " from articles where guid='tide-1'";
  EXPECT_EQ(db.QueryText("select title" + high), "High tide");
  EXPECT_EQ(db.QueryText("select body" + high), "<p>Water <a href=\"/tables\">rises</a></p>");
  EXPECT_EQ(db.QueryText("select summary" + high), "Water rises");
  EXPECT_EQ(db.QueryText("select creator" + high), "ann@harbour.example");
  EXPECT_EQ(db.QueryText("select link" + high), "http://harbour.example/high");
  EXPECT_EQ(db.QueryText("select modifiedtz" + high), "**GMT");
  EXPECT_DOUBLE_EQ(db.QueryDateTime("select modified" + high), EncodeDateTime(2024, 1, 5, 10));
  EXPECT_EQ(db.QueryText("select articleMD5" + high), MakeMD5Key(u"High tide", u"Water rises"));
  EXPECT_EQ(db.QueryText("select e.url_ from enclosures e join articles a on a.id=e.article_id where a.guid='tide-1'"),
            "http://harbour.example/high.mp3");
  EXPECT_EQ(db.QueryInt64("select e.size_ from enclosures e join articles a on a.id=e.article_id"), 1234);
  // The category became a keyword, the body's link and the item link article links.
  EXPECT_EQ(db.QueryText("select k.value_ from keywords k join article_keywords ak on ak.keyword_id=k.id"), "tides");
  EXPECT_EQ(db.QueryText("select keywordCache" + high), "tides");
  EXPECT_EQ(db.QueryInt64("select count(*) from articles_links"), 3);
  EXPECT_EQ(db.QueryInt64("select count(*) from links where link='http://harbour.example/tables'"), 1);

  // A guid that is an HTTP URL is the link of an item without one.
  const std::string low = " from articles where guid='http://harbour.example/low'";
  EXPECT_EQ(db.QueryText("select link" + low), "http://harbour.example/low");
  EXPECT_EQ(db.QueryText("select modifiedtz" + low), "*Z");
  EXPECT_EQ(db.QueryText("select creator" + low), "Bob");
  EXPECT_EQ(db.QueryText("select body" + low), "Water falls");
  EXPECT_EQ(db.QueryText("select summary" + low), "");
  // An item without guid is keyed by its texts; an unreadable date is today.
  const std::string slack = " from articles where title='Slack water'";
  EXPECT_EQ(db.QueryText("select guid" + slack), MakeMD5Key(u"Slack water", u"Nothing moves"));
  EXPECT_EQ(db.QueryText("select modifiedtz" + slack), "L");
}

// Each article of a new feed is one insert of a statement prepared once, and
// none of its rows is looked for before it is stored; the feed is one
// transaction.
TEST(RssProcessorTest, ANewFeedsArticlesAreStoredWithoutAPrepareOrALookUpEach) {
  const auto feedOf = [](int items) {
    std::string channel;
    for (int i = 0; i < items; ++i)
      channel += "<item><guid>g" + std::to_string(i) + "</guid><title>t</title><link>http://harbour.example/" +
                 std::to_string(i) + "</link><category>c</category><enclosure url=\"http://harbour.example/" +
                 std::to_string(i) + ".mp3\" length=\"1\" type=\"audio/mpeg\"/></item>";
    return OneItemFeed(channel);
  };
  const auto workFor = [&](int items) {
    FeedTestWorker worker;
    const db::Activity before = db::CurrentActivity();
    worker.Insert(feedOf(items), kFeedUrl);
    const db::Activity work = db::CurrentActivity() - before;
    EXPECT_EQ(worker.items, items) << worker.errorText;
    EXPECT_EQ(worker.db.QueryInt64("select count(*) from enclosures"), items);
    return work;
  };
  // 10 and 20 statements of four articles, then one of two.
  const db::Activity few = workFor(42);
  const db::Activity many = workFor(82);
  EXPECT_EQ(many.prepares, few.prepares);
  // Four articles with their enclosures to a statement; links and keyword
  // rows several to a statement.
  EXPECT_LE(many.executes - few.executes, 40u / 4 + 40u / 4);
  // Its tags, links and pruning go in with the articles: one commit, one
  // synchronous write of each page, for the whole feed.
  EXPECT_EQ(few.commits, 1u);
  EXPECT_EQ(many.commits, few.commits);
}

// The statement that stores a new article with its enclosure takes an
// enclosure URL as long as the column holds, in any script, and the body
// and texts along with it.
TEST(RssProcessorTest, AnArticleGoesInWithItsEnclosureInOneStatementWhateverTheUrlsLength) {
  // 8191 characters, of three bytes each but the first 23: the most bytes a
  // stored URL can have.
  std::string longUrl = "http://harbour.example/";
  for (int i = 23; i < 8191; ++i) longUrl += "\xE2\x82\xAC";  // U+20AC
  const std::string body(20000, 'b');
  const auto store = [&](const std::string& url) {
    FeedTestWorker worker;
    const db::Activity before = db::CurrentActivity();
    worker.Insert(OneItemFeed("<item><guid>g</guid><title>t</title><description>" + body +
                              "</description><enclosure url=\"" + url + "\" length=\"1\" type=\"audio/mpeg\"/></item>"),
                  kFeedUrl);
    const db::Activity work = db::CurrentActivity() - before;
    EXPECT_EQ(worker.items, 1) << worker.errorText;
    EXPECT_EQ(worker.notice, "");
    EXPECT_EQ(worker.db.QueryText("select url_ from enclosures"), url);
    EXPECT_EQ(worker.db.QueryText("select body from articles"), body);
    return work.executes;
  };
  EXPECT_EQ(store(longUrl), store("http://harbour.example/1.mp3"));
}

// An article and its enclosure go in together; when that fails, each is
// stored alone as before: a refused enclosure costs its article nothing and
// is reported in the single insert's words, a refused article is stored
// reduced, with its enclosure.
TEST(RssProcessorTest, ARefusedEnclosureOrArticleOfAJointInsertFailsAsItDidAlone) {
  FeedTestWorker worker;
  worker.db.Execute("create exception tw_refused 'refused by the test'");
  worker.db.Execute("create trigger refuse_enclosure for enclosures before insert as begin "
                    "if (new.url_ = 'http://harbour.example/refused.mp3') then exception tw_refused; end");
  worker.db.Execute("create trigger refuse_article for articles before insert as begin "
                    "if (new.title = 'refused') then exception tw_refused; end");
  std::string single;
  try {
    worker.db.Execute("insert into enclosures(article_id,url_) values(1,'http://harbour.example/refused.mp3')");
  } catch (const std::exception& failure) {
    single = failure.what();
  }
  ASSERT_NE(single, "");
  const auto item = [](const std::string& title, const std::string& file) {
    return "<item><guid>" + title + "</guid><title>" + title + "</title><link>http://harbour.example/" + title +
           "</link><description>d</description>"
           "<enclosure url=\"http://harbour.example/" + file + "\" length=\"1\" type=\"audio/mpeg\"/></item>";
  };
  worker.Insert(OneItemFeed(item("a", "refused.mp3") + item("refused", "b.mp3") + item("c", "c.mp3")), kFeedUrl);
  EXPECT_EQ(worker.items, 3) << worker.errorText;
  // The reduced article is no new article of the job, and has no links.
  EXPECT_EQ(worker.articleIdCount, 2);
  EXPECT_EQ(worker.db.QueryText("select list(guid, ',') from (select guid from articles where id in (" +
                                std::to_string(worker.articleIds[0]) + "," + std::to_string(worker.articleIds[1]) +
                                ") order by guid)"),
            "a,c");
  EXPECT_EQ(worker.db.QueryText("select list(a.guid, ',') from (select distinct a.guid from articles_links l "
                                "join articles a on a.id=l.article_id order by a.guid) a"),
            "a,c");
  EXPECT_EQ(worker.notice, std::string(MessageText(kEnclosureInsertUpdateFailed)) + "\r\n" + single);
  EXPECT_EQ(worker.db.QueryText("select list(title, ',') from (select title from articles order by guid)"), "a,c,");
  EXPECT_EQ(worker.db.QueryText("select list(guid, ',') from (select guid from articles order by guid)"), "a,c,refused");
  EXPECT_EQ(worker.db.QueryText("select list(guid || ' ' || url_, ',') from (select a.guid, e.url_ from enclosures e "
                                "join articles a on a.id=e.article_id order by a.guid)"),
            "c http://harbour.example/c.mp3,refused http://harbour.example/b.mp3");
}

// What fails after the document's commit cannot take back the new feed's
// row: the caller keeps its id, and storing it again would make a copy.
TEST(RssProcessorTest, ANewFeedKeepsItsIdOnceItsRowIsCommitted) {
  FeedTestWorker worker;
  worker.context.SyncFeedProcessed = [] { throw kt::Exception("handler failed"); };
  try {
    worker.Insert(FeedTestWorker::ReadData("rss20.xml"), kFeedUrl);
  } catch (const kt::Exception&) {
  }
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from feeds"), 1);
  EXPECT_EQ(worker.itemId, worker.db.QueryInt64("select feed_id from feeds"));
}

TEST(RssProcessorTest, StoredItemsAreMatchedAndRewrittenOnlyWhenTheirTextsChanged) {
  FeedTestWorker worker;
  const std::string first = OneItemFeed("<item><title>A</title><description>one</description></item>");
  worker.Insert(first, kFeedUrl);
  const int32_t feed = worker.itemId;
  ASSERT_GE(feed, 1);
  const auto updated = [&] { return worker.db.QueryDateTime("select lastTimeUpdated from articles"); };
  const double before = updated();

  // Unchanged title and description (other bytes changed, so the feed is read).
  worker.Update(feed, first + " ");
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.feedProcessed, 1);
  EXPECT_DOUBLE_EQ(updated(), before);

  // A changed description is a new item for an item without guid.
  worker.Update(feed, OneItemFeed("<item><title>A</title><description>two</description></item>"));
  EXPECT_EQ(worker.items, 1);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 2);

  // Under the show's page its title tells the episode: without one, nothing
  // tells the next episode from a new counter.
  const auto show = [&](const std::string& title, const std::string& text) {
    worker.Update(feed, OneItemFeed("<item>" + title + "<link>http://h.example/show</link><description>" + text +
                                    "</description></item>"));
    return worker.items;
  };
  EXPECT_EQ(show("", "three"), 1);
  EXPECT_EQ(show("", "four"), 1);
  EXPECT_EQ(show("<title>A</title>", "five"), 1);
  EXPECT_EQ(show("<title>A</title>", "six"), 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 5);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles where body='six'"), 1);
}

// Earlier versions stored a relative link as the document gave it: an item
// without guid whose text changes still finds its article by it.
TEST(RssProcessorTest, AnItemWithoutGuidFindsTheRelativeLinkAnEarlierVersionStored) {
  FeedTestWorker worker;
  const auto item = [](const std::string& text) {
    return OneItemFeed("<item><title>A</title><link>/episodes/1</link><description>" + text +
                       "</description><enclosure url=\"http://harbour.example/1.mp3\"/></item>");
  };
  worker.Insert(item("Played 1 time"), kFeedUrl);
  const int32_t feed = worker.itemId;
  worker.db.Execute("update articles set link='/episodes/1'");
  worker.db.Execute("delete from enclosures");
  worker.Update(feed, item("Played 2 times"));
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 1);
}

// An episode an earlier version stored twice, each copy with its file:
// when its text changes it is the newest copy, not a third one.
TEST(RssProcessorTest, AnEpisodeStoredTwiceBeforeIsNotStoredAThirdTime) {
  FeedTestWorker worker;
  const auto item = [](const std::string& text) {
    return OneItemFeed("<item><title>A</title><link>http://harbour.example/a</link><description>" + text +
                       "</description><enclosure url=\"http://harbour.example/a.mp3\" length=\"10\"/></item>");
  };
  worker.Insert(item("Played 1 time"), kFeedUrl);
  const int32_t feed = worker.itemId;
  worker.db.Execute("insert into articles(id,feed_id,guid,title,link,articleMD5,created,modified) select id+1000,"
                    "feed_id,guid,title,link,articleMD5,created,modified from articles");
  worker.db.Execute("insert into enclosures(article_id,url_,size_,download_status) select article_id+1000,url_,"
                    "size_,2 from enclosures");
  worker.Update(feed, item("Played 2 times"));
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 2);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from enclosures"), 2);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles where body='Played 2 times'"), 1);
}

TEST(RssProcessorTest, ItemsWithGuidAreRewrittenAndDeletedArticlesStayDeleted) {
  FeedTestWorker worker;
  worker.Insert(OneItemFeed("<item><guid>g1</guid><title>A</title><description>one</description></item>"), kFeedUrl);
  const int32_t feed = worker.itemId;
  worker.Update(feed, OneItemFeed("<item><guid>G1 </guid><title>A</title><description>new text</description></item>"));
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryText("select body from articles"), "new text");
  EXPECT_EQ(worker.db.QueryText("select articleMD5 from articles"), MakeMD5Key(u"A", u"new text"));

  worker.db.Execute("update articles set deleted=1, body=''");
  worker.Update(feed, OneItemFeed("<item><guid>g1</guid><title>A</title><description>revived?</description></item>"));
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 1);
  EXPECT_EQ(worker.db.QueryText("select body from articles"), "");
}

TEST(RssProcessorTest, ItemWhoseGuidChangedIsFoundByItsTextsAndLink) {
  FeedTestWorker worker;
  const std::string item = "<title>A</title><link>http://h.example/a</link><description>d</description>";
  worker.Insert(OneItemFeed("<item><guid>old</guid>" + item + "</item>"), kFeedUrl);
  worker.Update(worker.itemId, OneItemFeed("<item><guid>new</guid>" + item + "<author>x</author></item>"));
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 1);
}

TEST(RssProcessorTest, RdfItemsBesideTheChannelTakeTheChannelDate) {
  FeedTestWorker worker;
  worker.Insert(FeedTestWorker::ReadData("rdf.xml"), "http://lighthouse.example/rdf");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  auto& db = worker.db;
  EXPECT_EQ(worker.items, 2);
  EXPECT_EQ(db.QueryText("select type_ from feeds"), "RDF");
  EXPECT_EQ(db.QueryText("select guid from articles where title='First beam'"), "http://lighthouse.example/1");
  EXPECT_DOUBLE_EQ(db.QueryDateTime("select modified from articles where title='Second beam'"),
                   EncodeDateTime(2024, 1, 5, 10));
  EXPECT_EQ(db.QueryText("select modifiedtz from articles where title='Second beam'"), "*Z");
  // The root's attributes are kept as name spaces of the new feed.
  EXPECT_EQ(db.QueryInt64("select count(*) from feed_namespaces"), 3);
}

TEST(RssProcessorTest, AnEnclosureLengthThatIsNoNumberKeepsTheItemWhole) {
  FeedTestWorker worker;
  worker.Insert(OneItemFeed("<item><guid>g</guid><title>A</title><description>B</description>"
                            "<pubDate>Fri, 05 Jan 2024 10:00:00 GMT</pubDate>"
                            "<enclosure url=\"http://h.example/a.mp3\" length=\"lots\"/></item>"),
                kFeedUrl);
  EXPECT_EQ(worker.items, 1);
  EXPECT_EQ(worker.errorCategory, TErrorCategory::noErrors);
  EXPECT_EQ(worker.db.QueryText("select guid from articles"), "g");
  EXPECT_EQ(worker.db.QueryText("select title || '/' || body from articles"), "A/B");
  EXPECT_DOUBLE_EQ(worker.db.QueryDateTime("select modified from articles"), EncodeDateTime(2024, 1, 5, 10));
  EXPECT_EQ(worker.db.QueryInt64("select size_ from enclosures where url_='http://h.example/a.mp3'"), 0);
}

TEST(RssProcessorTest, AFailingEnclosureStillKeepsTheItemsIdentityAndContentAndIsReported) {
  FeedTestWorker worker;
  worker.Insert(OneItemFeed("<item><guid>g</guid><title>A</title><description>B</description>"
                            "<pubDate>Fri, 05 Jan 2024 10:00:00 GMT</pubDate>"
                            "<enclosure url=\"http://h.example/" + std::string(9000, 'a') + ".mp3\"/></item>"),
                kFeedUrl);
  EXPECT_EQ(worker.items, 1);
  EXPECT_EQ(worker.db.QueryText("select guid || '/' || title || '/' || body from articles"), "g/A/B");
  EXPECT_DOUBLE_EQ(worker.db.QueryDateTime("select modified from articles"), EncodeDateTime(2024, 1, 5, 10));
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from enclosures"), 0);
  EXPECT_EQ(worker.errorCategory, TErrorCategory::noErrors);
  EXPECT_EQ(worker.notice.rfind("Enclosure url length >8191 (9021 characters): http://h.example/aaa", 0), 0u)
      << worker.notice;
  EXPECT_EQ(worker.errorText, worker.notice);
}

TEST(RssProcessorTest, AnArticleEmptiedByAFailedItemIsRepairedOnTheNextFetch) {
  FeedTestWorker worker;
  const std::string item = "<item><guid>g</guid><title>A</title><description>B</description>"
                           "<enclosure url=\"http://h.example/a.mp3\" length=\"3000000000\"/></item>";
  worker.Insert(OneItemFeed(item), kFeedUrl);
  const int32_t feedId = worker.itemId;
  // What earlier versions left of such an item: identity and date only.
  worker.db.Execute("update articles set title='', body=''");
  worker.db.Execute("delete from enclosures");
  worker.db.Execute("update feeds set feedMD5=''");
  worker.ResetJob();
  worker.Update(feedId, OneItemFeed(item));
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 1);
  EXPECT_EQ(worker.db.QueryText("select title || '/' || body from articles"), "A/B");
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from enclosures"), 1);
}

TEST(RssProcessorTest, AnOverlongEnclosureTypeIsCutAndTheItemKeepsItsContent) {
  FeedTestWorker worker;
  worker.Insert(OneItemFeed("<item><guid>g</guid><title>A</title><description>body text</description>"
                            "<enclosure url=\"http://h.example/a.mp3\" type=\"audio/" + std::string(100, 'x') +
                            "\" length=\"5\"/></item>"),
                kFeedUrl);
  EXPECT_EQ(worker.db.QueryText("select body from articles"), "body text");
  EXPECT_EQ(worker.db.QueryText("select type_ from enclosures").size(), 85u);
}

TEST(ReadItemDateTest, TriesRfc822IsoAndSqlStylesBeforeToday) {
  const TZonedDate fallback{1.0, "X"};
  EXPECT_EQ(ReadItemDate("", fallback).zone, "X");
  EXPECT_DOUBLE_EQ(ReadItemDate("Fri, 05 Jan 2024 10:00:00 GMT", fallback).value, EncodeDateTime(2024, 1, 5, 10));
  EXPECT_DOUBLE_EQ(ReadItemDate("2024-01-05T10:00:00Z", fallback).value, EncodeDateTime(2024, 1, 5, 10));
  EXPECT_EQ(ReadItemDate("2024-01-05 10:00", fallback).zone, "***");
  EXPECT_EQ(ReadItemDate("tomorrow-ish", fallback).zone, "L");
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

TEST(RssProcessorLimitsTest, LongGuidsMatchTheirStoredCutAndDeepNestingIsNoCrash) {
  FeedTestWorker worker;
  const std::string guid = std::string(300, 'g');
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<d>";
  deep += "x";
  for (int i = 0; i < 5000; ++i) deep += "</d>";
  const std::string item = "<item><guid>" + guid + "</guid><title>A</title><description>" + deep +
                           "</description></item>";
  worker.Insert(OneItemFeed(item), "http://deep.example/rss");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  EXPECT_EQ(worker.items, 1);
  worker.Update(worker.itemId, OneItemFeed(item) + "\n");
  EXPECT_EQ(worker.items, 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 1);
  EXPECT_EQ(worker.db.QueryText("select guid from articles"), std::string(255, 'g'));
  EXPECT_EQ(worker.db.QueryText("select body from articles").substr(0, 6), "<d><d>");
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

TEST(RssProcessorTest, RelativeLinksResolveAgainstWhereTheFeedCameFromAfterRedirects) {
  ASSERT_NE(GlobalVars, nullptr);
  struct AllowCustomFields {
    AllowCustomFields() { GlobalVars->TEST_SetSkipCustomFields(false); }
    ~AllowCustomFields() { GlobalVars->TEST_SetSkipCustomFields(true); }
  } allow;
  FeedTestWorker worker;
  worker.url = "http://old.example/feeds/rss";
  auto job = FeedTestWorker::MakeJob(worker.url, 200,
                                     "<rss version=\"2.0\"><channel><title>T</title><item><guid>g</guid>"
                                     "<link>items/1</link><comments>../talk/1</comments>"
                                     "<enclosure url=\"media/ep1.mp3\" length=\"1\"/></item></channel></rss>");
  job->finalUrl = "http://new.example/podcast/feed.xml";
  worker.processor.ParseFeedForInsert(worker.context, *job);
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  EXPECT_EQ(worker.db.QueryText("select link from articles"), "http://new.example/podcast/items/1");
  EXPECT_EQ(worker.db.QueryText("select url_ from enclosures"), "http://new.example/podcast/media/ep1.mp3");
  EXPECT_EQ(worker.db.QueryText("select value_ from articles_customfields"), "http://new.example/talk/1");
}

}  // namespace
}  // namespace tidewell
