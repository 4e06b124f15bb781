// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_processor.h"

#include <gtest/gtest.h>

#include <string>

#include "feed_test_worker.h"
#include "engine/tidewell_date.h"
#include "engine/settings/configuration.h"
#include "engine/settings/tidewell_globvars.h"
#include "support/temp_folder.h"
#include "toolkit/exception.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

using feeds_testing::FeedTestWorker;

const std::string kSmallRss =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Small</title>"
    "<item><guid>s1</guid><title>One</title></item></channel></rss>";

int32_t StoredFeed(FeedTestWorker& worker, const std::string& body = kSmallRss) {
  worker.Insert(body, "http://small.example/rss");
  EXPECT_GE(worker.itemId, 1) << worker.errorText;
  return worker.itemId;
}

TEST(FeedProcessorTest, StoredFeedAnswering304IsDueAgainWithoutParsing) {
  FeedTestWorker worker;
  const int32_t feed = StoredFeed(worker);
  worker.db.Execute("update feeds set update_interval=30");
  worker.Update(feed, "", 304);
  EXPECT_EQ(worker.noNeedForUpdate, 1);
  EXPECT_EQ(worker.feedProcessed, 0);
  EXPECT_EQ(worker.db.QueryInt64("select lastHTTPCode from feeds"), 304);
  const double next = worker.db.QueryDateTime("select next_feedupdate from feeds");
  const double last = worker.db.QueryDateTime("select last_feedupdate from feeds");
  EXPECT_NEAR((next - last) * 1440, 30, 0.01);
}

TEST(FeedProcessorTest, OtherAnswersOfStoredFeedsReportExcept302) {
  FeedTestWorker worker;
  const int32_t feed = StoredFeed(worker);
  worker.Update(feed, "", 302);
  EXPECT_EQ(worker.noNeedForUpdate + worker.feedProcessed, 0);
  EXPECT_EQ(worker.db.QueryInt64("select lastHTTPCode from feeds"), 302);
  worker.Update(feed, "", 404);
  EXPECT_EQ(worker.feedProcessed, 1);
  const double next = worker.db.QueryDateTime("select next_feedupdate from feeds");
  const double last = worker.db.QueryDateTime("select last_feedupdate from feeds");
  EXPECT_NEAR((next - last) * 1440, 45, 0.01);
}

TEST(FeedProcessorTest, UnchangedBodyIsRecognisedByItsMD5) {
  FeedTestWorker worker;
  const int32_t feed = StoredFeed(worker);
  worker.db.Execute("update articles set title='touched'");
  worker.db.Execute("update feeds set lastHTTPCode=304");
  worker.Update(feed, kSmallRss);
  EXPECT_EQ(worker.noNeedForUpdate, 1);
  EXPECT_EQ(worker.feedProcessed, 0);
  EXPECT_EQ(worker.db.QueryText("select title from articles"), "touched");
  // Nothing was stored, and still the row says what the server answered.
  EXPECT_EQ(worker.db.QueryInt64("select lastHTTPCode from feeds"), 200);
}

TEST(FeedProcessorTest, NewFeedThatCannotBeParsedIsReportedWithoutRow) {
  FeedTestWorker worker;
  worker.errorText = "before";
  worker.itemId = 0;
  worker.url = "http://broken.example/rss";
  auto job = FeedTestWorker::MakeJob(worker.url, 200, "<rss><channel></rss>");
  worker.processor.ParseFeedForInsert(worker.context, *job);
  EXPECT_EQ(worker.itemId, -1);
  EXPECT_EQ(worker.errorCategory, TErrorCategory::ErrXMLparse);
  EXPECT_NE(worker.errorText.find(" : before"), std::string::npos) << worker.errorText;
  EXPECT_EQ(worker.feedProcessed, 1);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from feeds"), 0);
}

TEST(FeedProcessorTest, StoredFeedThatCannotBeParsedIsRescheduledQuietly) {
  FeedTestWorker worker;
  const int32_t feed = StoredFeed(worker);
  worker.Update(feed, "<rss><channel></rss>");
  EXPECT_EQ(worker.errorCategory, TErrorCategory::ErrXMLparse);
  EXPECT_EQ(worker.feedProcessed, 0);
  EXPECT_EQ(worker.itemId, feed);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 1);
}

TEST(FeedProcessorTest, NewFeedAnsweringOtherThan200IsLeftAlone) {
  FeedTestWorker worker;
  worker.Insert("", "http://missing.example/rss", 404);
  EXPECT_EQ(worker.itemId, 0);
  EXPECT_EQ(worker.feedProcessed, 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from feeds"), 0);
}

TEST(FeedProcessorTest, NamespaceFaultsOfNewFeedsAreReportedWithoutException) {
  FeedTestWorker worker;
  worker.Insert("<?xml version=\"1.0\"?><rdf:RDF><channel/></rdf:RDF>", "http://a.example/rdf");
  EXPECT_EQ(worker.errorText, "Namespace is missing");
  EXPECT_EQ(worker.errorCategory, TErrorCategory::ErrXMLparse);
  EXPECT_EQ(worker.itemId, -1);
  EXPECT_EQ(worker.feedProcessed, 1);
  worker.Insert("<?xml version=\"1.0\"?><feed xmlns=\"http://example.org/not-atom\"><title>x</title></feed>",
                "http://a.example/atom");
  EXPECT_EQ(worker.errorText, "Incorrect namespace (http://example.org/not-atom)");
  EXPECT_EQ(worker.feedProcessed, 1);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from feeds"), 0);
}

TEST(FeedProcessorTest, AStoredFeedTurnedToAnUnknownNamespaceIsReportedAndWaitsTheErrorInterval) {
  FeedTestWorker worker;
  const int32_t feed = StoredFeed(worker);
  worker.db.Execute("update feeds set next_feedupdate='2000-01-01', last_feedupdate='2000-01-01'");
  worker.Update(feed, "<?xml version=\"1.0\"?><feed><title>Atom without its namespace</title></feed>");
  EXPECT_EQ(worker.errorCategory, TErrorCategory::ErrXMLparse);
  EXPECT_EQ(worker.errorText, "Incorrect namespace ()");
  EXPECT_EQ(worker.feedProcessed, 1);
  EXPECT_EQ(worker.itemId, feed);
  const double next = worker.db.QueryDateTime("select next_feedupdate from feeds");
  const double last = worker.db.QueryDateTime("select last_feedupdate from feeds");
  EXPECT_NEAR((next - last) * 1440, 45, 0.01);
}

TEST(FeedProcessorTest, UnknownRootsAreRaisedAndStoredFeedsRescheduled) {
  FeedTestWorker worker;
  worker.contentType = "text/xml";
  try {
    worker.Insert("<?xml version=\"1.0\"?><atom:feed xmlns:atom=\"http://www.w3.org/2005/Atom\"/>",
                  "http://a.example/x");
    FAIL() << "no exception";
  } catch (const kt::Exception& e) {
    EXPECT_EQ(e.Message(), "Unsupported feed format: URL http://a.example/x (resp content-type text/xml)");
  }
  EXPECT_FALSE(worker.transaction.InTransaction());
}

TEST(FeedProcessorTest, DocumentsWithoutPrologOrWithLoneCarriageReturnsAreRead) {
  FeedTestWorker worker;
  worker.Insert("<rss version=\"2.0\">\r<channel>\r<title>Bare</title>\r</channel>\r</rss>", "http://a.example/r");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  EXPECT_EQ(worker.db.QueryText("select title from feeds"), "Bare");
}

TEST(FeedProcessorTest, Iso88591DocumentKeepsItsEuroSign) {
  FeedTestWorker worker;
  worker.Insert(FeedTestWorker::ReadData("rss091.xml"), "http://oldport.example/rss");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  EXPECT_EQ(worker.db.QueryText("select title from articles"), "Fish costs 5 \xE2\x82\xAC");
  EXPECT_EQ(worker.db.QueryText("select body from articles"), "Caf\xC3\xA9 and fish");
  EXPECT_EQ(worker.db.QueryInt64("select rtlEnabled from feeds"), 0);
}

TEST(FeedProcessorTest, DocumentInAnotherEncodingIsReencodedToUtf8) {
  FeedTestWorker worker;
  worker.Insert(FeedTestWorker::ReadData("rss_windows1252.xml"), "http://cafe.example/rss");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  EXPECT_TRUE(worker.reencode);
  EXPECT_EQ(worker.feedTitle, u"Caf\u00e9 \u201cNews\u201d");
  EXPECT_EQ(kt::Utf8ToWide(worker.db.QueryText("select title from articles")), u"Cr\u00e8me br\u00fbl\u00e9e");
  EXPECT_EQ(kt::Utf8ToWide(worker.db.QueryText("select body from articles")), u"Sweet \u2013 and warm");
}

TEST(FeedProcessorTest, Utf16DocumentWithByteOrderMarkIsRead) {
  FeedTestWorker worker;
  const std::u16string text = u"<rss version=\"2.0\"><channel><title>Wide \u00e9</title></channel></rss>";
  std::string body("\xFF\xFE", 2);
  for (char16_t unit : text) body += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  worker.Insert(body, "http://wide.example/rss");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  EXPECT_EQ(worker.feedTitle, u"Wide \u00e9");
}

TEST(FeedProcessorTest, CredentialsAndHeadersOfTheJobAreStoredWithTheFeed) {
  FeedTestWorker worker;
  worker.userName = "ann";
  worker.password = "secret";
  worker.url = "http://private.example/rss";
  worker.itemId = 0;
  worker.ResetJob();
  auto job = FeedTestWorker::MakeJob(worker.url, 200, kSmallRss);
  job->etag = "\"v1\"";
  job->lastModified = "Fri, 05 Jan 2024 10:00:00 GMT";
  worker.processor.ParseFeedForInsert(worker.context, *job);
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  auto& db = worker.db;
  EXPECT_EQ(db.QueryText("select username_ from feeds"), "ann");
  EXPECT_NE(db.QueryText("select password_ from feeds"), "secret");
  EXPECT_FALSE(db.QueryText("select password_ from feeds").empty());
  EXPECT_EQ(db.QueryText("select etag from feeds"), "\"v1\"");
  EXPECT_DOUBLE_EQ(db.QueryDateTime("select page_lastmodified from feeds"), EncodeDateTime(2024, 1, 5, 10));
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

TEST(FeedProcessorStopTest, StopDuringAnRssDocumentRaisesAndLeavesNothing) {
  FeedTestWorker worker;
  worker.stopRequested = true;
  EXPECT_THROW(worker.Insert(kSmallRss, "http://stop.example/rss"), kt::EAbort);
  EXPECT_EQ(worker.errorCategory, TErrorCategory::ErrUnknown);
  EXPECT_EQ(worker.errorText, "Fetch operation was aborted");
  EXPECT_EQ(worker.itemId, -1);
  EXPECT_EQ(worker.feedProcessed, 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from feeds"), 0);
  EXPECT_FALSE(worker.transaction.InTransaction());
}

TEST(FeedProcessorStopTest, StopDuringAnAtomDocumentIsRecordedNotRaised) {
  FeedTestWorker worker;
  worker.stopRequested = true;
  worker.Insert(FeedTestWorker::ReadData("atom10.xml"), "http://stop.example/atom");
  EXPECT_EQ(worker.errorText, "Fetch operation was aborted");
  EXPECT_EQ(worker.itemId, -1);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from feeds"), 0);
  EXPECT_EQ(worker.db.QueryInt64("select count(*) from articles"), 0);
}

TEST(FeedProcessorCustomTagsTest, UnknownElementsBecomeCustomFieldsWhenAllowed) {
  ASSERT_NE(GlobalVars, nullptr);
  struct AllowCustomFields {
    AllowCustomFields() { GlobalVars->TEST_SetSkipCustomFields(false); }
    ~AllowCustomFields() { GlobalVars->TEST_SetSkipCustomFields(true); }
  } allow;
  FeedTestWorker worker;
  worker.Insert(FeedTestWorker::ReadData("rss20.xml"), "http://harbour.example/rss");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  auto& db = worker.db;
  EXPECT_EQ(db.QueryText("select c.value_ from feeds_customfields c join customfield_definitions d "
                         "on d.customfield_id=c.customfield_id where d.customfield_tag='generator'"),
            "hand");
  EXPECT_EQ(db.QueryText("select c.value_ from articles_customfields c join customfield_definitions d "
                         "on d.customfield_id=c.customfield_id where d.customfield_tag='media:rating'"),
            "nonadult");
  EXPECT_EQ(db.QueryText("select attr_value from articles_customfields_attr"), "urn:simple");
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

// The channel description holds an element, so its text is read as markup.
const std::string kSpacedRss =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>S</title>"
    "<description>  two   blanks <b> bold   text </b></description></channel></rss>";

std::string StoredDescription(TConfiguration* settings, int16_t setting = 0) {
  FeedTestWorker worker;
  worker.context.settings = settings;
  worker.whitespaceSetting = setting;
  worker.Insert(kSpacedRss, "http://spaces.example/rss");
  return worker.db.QueryText("select description from feeds");
}

TEST(FeedProcessorWhitespaceTest, TheConfiguredWhitespaceHandlingNormalisesMarkupText) {
  testing_support::TempFolder folder;
  TConfiguration settings({folder.Path() + "user", folder.Path() + "machine"});
  settings.LoadFromKeys({"HKCU=\\SOFTWARE\\Tidewell\\Tests[RWC]"});
  // Only the ends of the whole are trimmed, never the space between pieces.
  EXPECT_EQ(StoredDescription(&settings), "two   blanks <b> bold   text </b>");
  std::string ignored;
  settings.Value("misc", "usexmlwhitespacehandling", ignored, TValueMode::vmWrite, "", "1");
  EXPECT_EQ(StoredDescription(&settings), "two blanks <b> bold text </b>");
  // Read once per worker: a value already read stays.
  EXPECT_EQ(StoredDescription(&settings, -1), "two   blanks <b> bold   text </b>");
  EXPECT_EQ(StoredDescription(nullptr), "two   blanks <b> bold   text </b>");
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

TEST(FeedProcessorEncodingTest, BytesThatAreNoUtf8BecomeReplacementCharacters) {
  FeedTestWorker worker;
  worker.Insert("<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><title>Caf\xE9</title>"
                "<link>http://x.example/\xE9</link><item><guid>g\xE9</guid><title>T\xFF</title></item></channel></rss>",
                "http://bad.example/rss");
  ASSERT_GE(worker.itemId, 1) << worker.errorText;
  EXPECT_EQ(worker.errorCategory, TErrorCategory::noErrors) << worker.errorText;
  EXPECT_EQ(worker.db.QueryText("select title from feeds"), "Caf\xEF\xBF\xBD");
  EXPECT_EQ(worker.db.QueryText("select guid from articles"), "g\xEF\xBF\xBD");
}

}  // namespace
}  // namespace tidewell
