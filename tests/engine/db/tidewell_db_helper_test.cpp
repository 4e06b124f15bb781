// SPDX-License-Identifier: MIT
#include "engine/db/tidewell_db_helper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/db/activity.h"
#include "engine/db/tidewell_tables.h"
#include "engine/settings/tidewell_globvars.h"
#include "support/firebird_test_database.h"
#include "support/scoped_time_zone.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

using testing_support::FirebirdTestDatabase;

constexpr TDateTime kNow = 46000.5;  // 2025-12-09 12:00 UTC
constexpr TDateTime kTwoMinutes = 2.0 / (24 * 60);
constexpr double kMillisecond = 1.0 / 86400000;

// Lets a test store custom fields or skip categories, and puts the built-in
// values back afterwards.
class ScopedSettings {
 public:
  ScopedSettings(bool skipCustomFields, bool skipCategoryKeywords) {
    GlobalVars->TEST_SetSkipCustomFields(skipCustomFields);
    GlobalVars->TEST_SetSkipCategoryKeywords(skipCategoryKeywords);
  }
  ~ScopedSettings() {
    GlobalVars->TEST_SetSkipCustomFields(true);
    GlobalVars->TEST_SetSkipCategoryKeywords(false);
  }
};

class DbHelperTest : public ::testing::Test {
 protected:
  DbHelperTest() : db_(16384) {
    TtidewellGenerateTables(&db_.Connection()).CreateMissingTables();
    transaction_.SetDatabase(&db_.Connection());
    query_.SetTransaction(&transaction_);
  }

  // What read makes of the first row of a select run in its own transaction.
  template <typename Read>
  auto QueryFirstRow(const std::string& sql, Read read) {
    TTranWrapper transaction(&db_.Connection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    query.SQL.SetText(sql);
    query.ExecQuery();
    auto value = read(query);
    query.Close();
    transaction.Commit();
    return value;
  }

  std::string QueryText(const std::string& sql) {
    return QueryFirstRow(sql, [](TQueryWrapper& query) -> std::string {
      if (query.Eof()) return "<no row>";
      return query.Fields(0).IsNull() ? "<null>" : query.Fields(0).AsString();
    });
  }

  TDateTime QueryDate(const std::string& sql) {
    return QueryFirstRow(sql, [](TQueryWrapper& query) { return query.Fields(0).AsDateTime(); });
  }

  int64_t Count(const std::string& table) { return db_.QueryInt64("select count(*) from " + table); }

  FirebirdTestDatabase db_;
  TTranWrapper transaction_;
  TQueryWrapper query_;
  TtidewellDbHelper helper_{[] { return kNow; }};
};

std::u16string Repeat(char16_t c, size_t count) { return std::u16string(count, c); }

// --- Feeds, articles, folders, name spaces, the file cache --------------------

TEST_F(DbHelperTest, InsertFeedStoresItsValuesAndIsDueNowOrTwoMinutesLaterWithoutALink) {
  transaction_.StartTransaction();
  const int32_t linked = helper_.InsertFeed(&query_, "RSS", "en", "http://a.example/feed", u"Title", 3, u"Descr", 7);
  const int32_t unlinked = helper_.InsertFeed(&query_, "OPML", "de", "", u"", 0, u"", 0);
  transaction_.Commit();

  const std::string where = " from feeds where feed_id=" + std::to_string(linked);
  EXPECT_EQ(QueryText("select type_ || '|' || language_ || '|' || link || '|' || title || '|' || parentFeed || '|' "
                      "|| OPMLdescr || '|' || priority" + where),
            "RSS|en|http://a.example/feed|Title|3|Descr|7");
  EXPECT_NEAR(QueryDate("select feedCreated" + where), kNow, kMillisecond);
  EXPECT_NEAR(QueryDate("select next_feedupdate" + where), kNow, kMillisecond);
  EXPECT_NEAR(QueryDate("select last_feedupdate" + where), kNow, kMillisecond);

  const std::string other = " from feeds where feed_id=" + std::to_string(unlinked);
  EXPECT_NEAR(QueryDate("select feedCreated" + other), kNow, kMillisecond);
  EXPECT_NEAR(QueryDate("select next_feedupdate" + other), kNow + kTwoMinutes, kMillisecond);
  EXPECT_NEAR(QueryDate("select last_feedupdate" + other), kNow + kTwoMinutes, kMillisecond);
  EXPECT_NE(linked, unlinked);
}

TEST_F(DbHelperTest, TimesAreStoredInUtcWhateverTheLocalZone) {
  const testing_support::ScopedTimeZone india(testing_support::kZoneIndia);
  TtidewellDbHelper helper;
  transaction_.StartTransaction();
  const int32_t id = helper.InsertFeed(&query_, "RSS", "", "http://a.example/", u"", 0, u"", 0);
  transaction_.Commit();
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  const double utcNow = 25569.0 + std::chrono::duration<double>(sinceEpoch).count() / 86400;
  // Far closer to the UTC clock than the zone's five and a half hours.
  EXPECT_NEAR(QueryDate("select feedCreated from feeds where feed_id=" + std::to_string(id)), utcNow, 1.0 / 24);
}

TEST_F(DbHelperTest, LongFeedTextsAreCutToTheirColumns) {
  transaction_.StartTransaction();
  const int32_t id =
      helper_.InsertFeed(&query_, "RSS", "", "http://a.example/", Repeat(u'\u00e9', 600), 0, Repeat(u'x', 3500), 0);
  transaction_.Commit();
  const std::string where = " from feeds where feed_id=" + std::to_string(id);
  EXPECT_EQ(db_.QueryInt64("select char_length(title)" + where), 512);
  EXPECT_EQ(QueryText("select title" + where), kt::WideToUtf8(Repeat(u'\u00e9', 512)));
  EXPECT_EQ(db_.QueryInt64("select char_length(OPMLdescr)" + where), 3000);
}

TEST_F(DbHelperTest, InsertArticleStoresItsFeedAndCreationTime) {
  transaction_.StartTransaction();
  const int32_t first = helper_.InsertArticle(&query_, 5);
  const int32_t second = helper_.InsertArticle(&query_, 6);
  transaction_.Commit();
  EXPECT_NE(first, second);
  EXPECT_EQ(db_.QueryInt64("select feed_id from articles where id=" + std::to_string(first)), 5);
  EXPECT_EQ(db_.QueryInt64("select feed_id from articles where id=" + std::to_string(second)), 6);
  EXPECT_NEAR(QueryDate("select created from articles where id=" + std::to_string(first)), kNow, kMillisecond);
  EXPECT_TRUE(query_.SQL.Text().find("insert into Articles(feed_id,created) values(?,?)") == 0) << query_.SQL.Text();
  EXPECT_FALSE(query_.Open());
}

TEST_F(DbHelperTest, AFolderNeedsANameAndHasItCutTo512Characters) {
  transaction_.StartTransaction();
  try {
    helper_.InsertFolder(&query_, 0, 1, u"", 0);
    FAIL() << "an empty name was accepted";
  } catch (const kt::Exception& error) {
    EXPECT_EQ(error.Message(), "Failed to save folder");
  }
  const int32_t id = helper_.InsertFolder(&query_, 4, 2, Repeat(u'f', 600), 9);
  transaction_.Commit();
  EXPECT_EQ(Count("folders"), 1);
  EXPECT_EQ(QueryText("select parentfolder || '|' || weight || '|' || char_length(foldername) || '|' || userid "
                      "from folders where id=" + std::to_string(id)),
            "4|2|512|9");
}

TEST_F(DbHelperTest, NameSpacesAndFileCacheRowsKeepWhatTheyAreGiven) {
  transaction_.StartTransaction();
  helper_.InsertFeedNameSpace(&query_, 3, "xmlns:media", u"http://search.yahoo.com/mrss/");
  const int32_t withDate = helper_.InsertFileCache(&query_, 10, 0, "host.example", "page.html", kNow - 1, "\"abc\"",
                                                   200, "", 1234, "text/html", "", "", 0);
  const int32_t withoutDate = helper_.InsertFileCache(&query_, 11, 0, std::string(300, 'h'), std::string(600, 'n'), 0,
                                                      std::string(100, 'e'), 304, "", 0, "", "user", "pw", 2);
  transaction_.Commit();

  EXPECT_EQ(QueryText("select feed_id || '|' || nameSpaceIdf || '|' || nameSpaceVal from Feed_NameSpaces"),
            "3|xmlns:media|http://search.yahoo.com/mrss/");
  EXPECT_EQ(QueryText("select articleid || '|' || linkid || '|' || hostdir || '|' || filename || '|' || etag || '|' "
                      "|| lasthttpcode || '|' || size_ || '|' || contenttype || '|' || userid "
                      "from FileCache where id=" +
                      std::to_string(withDate)),
            "10|0|host.example|page.html|\"abc\"|200|1234|text/html|0");
  EXPECT_NEAR(QueryDate("select webpagelastmod from FileCache where id=" + std::to_string(withDate)), kNow - 1,
              kMillisecond);
  const std::string other = " from FileCache where id=" + std::to_string(withoutDate);
  EXPECT_EQ(QueryText("select webpagelastmod" + other), "<null>");
  EXPECT_EQ(QueryText("select char_length(hostdir) || '|' || char_length(filename) || '|' || char_length(etag) || "
                      "'|' || username_ || '|' || password_ || '|' || userid" + other),
            "255|512|80|user|pw|2");
}

// --- The stop flag ---------------------------------------------------------------

TEST_F(DbHelperTest, AfterTheStopFlagEveryInsertButTheFeedsAbortsWithoutWriting) {
  const ScopedSettings storeCustomFields(false, false);
  TNewCustomTagsClass tags;
  tags.Add("itunes:author", u"someone")->Store = true;
  const std::vector<std::pair<const char*, std::function<void()>>> operations = {
      {"InsertArticle", [&] { helper_.InsertArticle(&query_, 1); }},
      {"InsertLink", [&] { helper_.InsertLink(&query_, u"http://a.example/"); }},
      {"InsertKeyword", [&] { helper_.InsertKeyword(&query_, 0, u"k", true); }},
      {"InsertFolder", [&] { helper_.InsertFolder(&query_, 0, 0, u"f", 0); }},
      {"InsertFeedNameSpace", [&] { helper_.InsertFeedNameSpace(&query_, 1, "xmlns", u"v"); }},
      {"InsertFileCache",
       [&] { helper_.InsertFileCache(&query_, 1, 1, "h", "f", 0, "", 200, "", 0, "", "", "", 0); }},
      {"InsertCustomFieldDefinition", [&] { helper_.InsertCustomFieldDefinition(&query_, "t"); }},
      {"InsertCustomFieldAttribute", [&] { helper_.InsertCustomFieldAttribute(&query_, "a"); }},
      {"InsertFeedCustomField", [&] { helper_.InsertFeedCustomField(&query_, 1, u"v", 1); }},
      {"InsertArticleCustomField", [&] { helper_.InsertArticleCustomField(&query_, 1, u"v", 1); }},
      {"AddArticleKeyword", [&] { helper_.AddArticleKeyword(&query_, 1, u"k", true); }},
      {"AddArticleCategories", [&] { helper_.AddArticleCategories(&query_, 1, u"a,b", u","); }},
      {"SaveFeedCustomFields", [&] { helper_.SaveFeedCustomFields(&query_, 1, tags, false); }},
      {"SaveArticleCustomFields", [&] { helper_.SaveArticleCustomFields(&query_, {&tags}, u","); }},
  };
  helper_.SetStopFlag(true);
  transaction_.StartTransaction();
  for (const auto& [name, operation] : operations) EXPECT_THROW(operation(), kt::EAbort) << name;
  EXPECT_GT(helper_.InsertFeed(&query_, "RSS", "", "http://a.example/", u"", 0, u"", 0), 0);
  transaction_.Commit();

  for (const char* table : {"articles", "links", "keywords", "folders", "Feed_NameSpaces", "FileCache",
                            "Customfield_definitions", "CustomField_Attributes", "Feeds_customfields",
                            "articles_customfields", "Article_KeyWords"})
    EXPECT_EQ(Count(table), 0) << table;
  EXPECT_EQ(Count("feeds"), 1);
}

// --- Links and keywords ---------------------------------------------------------

TEST_F(DbHelperTest, ALinkIsStoredOnceAndFoundAgain) {
  transaction_.StartTransaction();
  EXPECT_EQ(helper_.FindLinkId(&query_, u"http://a.example/x"), -1);
  const int32_t first = helper_.InsertLink(&query_, u"http://a.example/x");
  const int32_t again = helper_.InsertLink(&query_, u"http://a.example/x");
  const int32_t other = helper_.InsertLink(&query_, u"http://a.example/y");
  EXPECT_EQ(helper_.FindLinkId(&query_, u"http://a.example/y"), other);
  transaction_.Commit();
  EXPECT_GT(first, 0);
  EXPECT_EQ(again, first);
  EXPECT_NE(other, first);
  EXPECT_EQ(Count("links"), 2);
}

TEST_F(DbHelperTest, KeywordsAreStoredLowerCasedAndAttachedOnce) {
  transaction_.StartTransaction();
  const int32_t article = helper_.InsertArticle(&query_, 1);
  const int32_t keyword = helper_.AddArticleKeyword(&query_, article, u"Linux", true);
  EXPECT_EQ(helper_.AddArticleKeyword(&query_, article, u"LINUX", true), keyword);
  EXPECT_EQ(helper_.FindKeywordId(&query_, u"linux"), keyword);
  transaction_.Commit();
  EXPECT_EQ(QueryText("select value_ || '|' || isuserdefined || '|' || parentKeyword_id from keywords"), "linux|1|0");
  EXPECT_EQ(Count("Article_KeyWords"), 1);
  EXPECT_EQ(QueryText("select keywordCache from articles where id=" + std::to_string(article)), "linux");
}

TEST_F(DbHelperTest, AKeywordLongerThanItsColumnIsFoundByWhatIsStoredAndNeverLinkedToMinusOne) {
  const std::u16string longKeyword = Repeat(u'k', 600);
  transaction_.StartTransaction();
  const int32_t first = helper_.InsertArticle(&query_, 1);
  const int32_t second = helper_.InsertArticle(&query_, 1);
  const int32_t keyword = helper_.AddArticleKeyword(&query_, first, longKeyword, false);
  EXPECT_EQ(helper_.AddArticleKeyword(&query_, second, longKeyword + u"tail differs", false), keyword);
  transaction_.Commit();
  EXPECT_GT(keyword, 0);
  EXPECT_EQ(Count("keywords"), 1);
  EXPECT_EQ(db_.QueryInt64("select char_length(value_) from keywords"), 512);
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where keyword_id=" + std::to_string(keyword)), 2);
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where keyword_id<1"), 0);
}

TEST_F(DbHelperTest, CategoriesAreCutAtEachSeparatorTrimmedAndTakenOnce) {
  transaction_.StartTransaction();
  const int32_t article = helper_.InsertArticle(&query_, 1);
  helper_.AddArticleCategories(&query_, article, u" a , b;a ,, ", u",;");
  const int32_t whole = helper_.InsertArticle(&query_, 1);
  helper_.AddArticleCategories(&query_, whole, u"x, y", u"");
  helper_.AddArticleCategories(&query_, whole, u"", u"");
  transaction_.Commit();

  EXPECT_EQ(QueryText("select list(value_ || ':' || isuserdefined, ' ') from (select value_, isuserdefined from "
                      "keywords order by id)"),
            "a:0 b:0 x, y:0");
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id=" + std::to_string(article)), 2);
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id=" + std::to_string(whole)), 1);
}

// --- Custom fields -----------------------------------------------------------------

TNewCustomTagBaseProperty* AddTag(TNewCustomTagsClass& tags, const std::string& name, const std::u16string& value,
                                  int32_t ownerId) {
  TNewCustomTagBaseProperty* tag = tags.Add(name, value);
  tag->OwnerId = ownerId;
  tag->Store = true;
  return tag;
}

TEST_F(DbHelperTest, WithTheBuiltInSettingsNoCustomFieldIsStoredButCategoriesBecomeKeywords) {
  TNewCustomTagsClass feedTags;
  AddTag(feedTags, "itunes:author", u"someone", 0)->Children().Add("role", u"host");
  TNewCustomTagsClass itemTags;
  AddTag(itemTags, "media:rating", u"adult", 7);
  AddTag(itemTags, "CmdInsCategory:", u"news, tech", 7);

  transaction_.StartTransaction();
  helper_.SaveFeedCustomFields(&query_, 1, feedTags, false);
  helper_.SaveArticleCustomFields(&query_, {&itemTags}, u",");
  transaction_.Commit();

  for (const char* table : {"Customfield_definitions", "CustomField_Attributes", "Feeds_customfields",
                            "Feeds_customfields_attr", "articles_customfields"})
    EXPECT_EQ(Count(table), 0) << table;
  EXPECT_EQ(QueryText("select list(value_, ' ') from (select value_ from keywords order by id)"), "news tech");
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id=7"), 2);
}

// A new article is inserted with the keyword cache its categories will give
// it; attaching them after must leave that cache as the trigger would have
// built it, keyword by keyword, for an article stored the earlier way.
TEST_F(DbHelperTest, ANewArticlesWrittenKeywordCacheIsTheOneTheTriggerBuildsAndIsNotWrittenAgain) {
  const std::u16string longKeyword(600, u'k');
  auto categories = [&](TNewCustomTagsClass& tags, int32_t owner) {
    AddTag(tags, "cmdinscategory:", u"News; TECH ;news", owner);
    AddTag(tags, "cmdinscategory:", u"tech;" + longKeyword + u"x;Ünïcode", owner);
    AddTag(tags, "media:rating", u"adult", owner);
  };
  transaction_.StartTransaction();
  const int32_t earlier = helper_.InsertArticle(&query_, 1);
  TNewCustomTagsClass earlierTags;
  categories(earlierTags, earlier);
  helper_.SaveArticleCustomFields(&query_, {&earlierTags}, u";");

  const int32_t added = helper_.ReserveArticleId(&query_);
  EXPECT_GT(added, earlier);
  TNewCustomTagsClass addedTags;
  categories(addedTags, added);
  query_.SQL.SetText("insert into articles(id,feed_id,keywordCache) values(?,1,?)");
  query_.Params(0).SetInteger(added);
  query_.Params(1).SetWideString(TtidewellDbHelper::NewArticleKeywordCache(addedTags, added, u";"));
  query_.ExecQuery();
  helper_.SaveArticleCustomFields(&query_, {&addedTags}, u";", {added});
  transaction_.Commit();

  const std::string expected = QueryText("select keywordCache from articles where id=" + std::to_string(earlier));
  EXPECT_EQ(expected, "news, tech, " + std::string(512, 'k') + ", ünïcode");
  EXPECT_EQ(QueryText("select keywordCache from articles where id=" + std::to_string(added)), expected);
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id=" + std::to_string(added)), 4);
  // Keywords attached later, by the user, still reach the cache.
  EXPECT_GE(helper_.AddArticleKeyword(&query_, added, u"later", true), 1);
  EXPECT_EQ(QueryText("select keywordCache from articles where id=" + std::to_string(added)), expected + ", later");
}

TEST_F(DbHelperTest, FeedCustomFieldsAreStoredWithTheirAttributesAndEachValueOnce) {
  const ScopedSettings storeCustomFields(false, false);
  TNewCustomTagsClass tags;
  TNewCustomTagBaseProperty* author = AddTag(tags, "ITunes:Author", u"Someone", 0);
  author->Children().Add("Role", u"Host");
  author->Children().Add("lang", u"en");
  AddTag(tags, "itunes:author", u"Someone", 0);  // the same value again
  AddTag(tags, "itunes:summary", Repeat(u's', 1200), 0);

  transaction_.StartTransaction();
  helper_.SaveFeedCustomFields(&query_, 4, tags, false);
  helper_.SaveFeedCustomFields(&query_, 5, tags, true);  // skipped by the caller
  transaction_.Commit();

  EXPECT_EQ(QueryText("select list(customfield_tag, ' ') from (select customfield_tag from Customfield_definitions "
                      "order by customfield_id)"),
            "itunes:author itunes:summary");
  EXPECT_EQ(Count("Feeds_customfields"), 2);
  EXPECT_EQ(db_.QueryInt64("select count(*) from Feeds_customfields where feed_id=5"), 0);
  EXPECT_EQ(db_.QueryInt64("select max(char_length(value_)) from Feeds_customfields"), 1000);
  EXPECT_EQ(QueryText("select list(n || '=' || v, ' ') from (select a.attr_name n, f.attr_value v from "
                      "Feeds_customfields_attr f join CustomField_Attributes a on a.id=f.attrb_id order by a.id)"),
            "role=Host lang=en");
}

TEST_F(DbHelperTest, TheSameCustomValueTwiceForOneOwnerAndDefinitionIsStoredOnce) {
  const ScopedSettings storeCustomFields(false, false);
  transaction_.StartTransaction();
  const int32_t definition = helper_.InsertCustomFieldDefinition(&query_, "Media:Credit");
  EXPECT_EQ(helper_.FindCustomFieldId(&query_, "media:credit"), definition);
  const int32_t first = helper_.InsertFeedCustomField(&query_, 1, u"value", definition);
  EXPECT_EQ(helper_.InsertFeedCustomField(&query_, 1, u"value", definition), -1);
  EXPECT_GT(helper_.InsertFeedCustomField(&query_, 2, u"value", definition), first);
  const int32_t forArticle = helper_.InsertArticleCustomField(&query_, 1, u"value", definition);
  EXPECT_EQ(helper_.InsertArticleCustomField(&query_, 1, u"value", definition), -1);
  transaction_.Commit();
  EXPECT_GT(first, 0);
  EXPECT_GT(forArticle, 0);
  EXPECT_EQ(Count("Feeds_customfields"), 2);
  EXPECT_EQ(Count("articles_customfields"), 1);
}

TEST_F(DbHelperTest, ArticleCustomFieldsAreStoredForTheirArticleWhenMarked) {
  const ScopedSettings storeCustomFields(false, false);
  TNewCustomTagsClass first;
  AddTag(first, "media:rating", u"adult", 7)->Children().Add("scheme", u"urn:simple");
  AddTag(first, "media:title", u"not marked", 7)->Store = false;
  TNewCustomTagsClass second;
  AddTag(second, "media:rating", u"nonadult", 8);
  AddTag(second, "cmdinscategory:", u"one", 8);

  transaction_.StartTransaction();
  helper_.SaveArticleCustomFields(&query_, {&first, nullptr, &second}, u",");
  transaction_.Commit();

  EXPECT_EQ(QueryText("select list(article_id || '=' || value_, ' ') from (select article_id, value_ from "
                      "articles_customfields order by id)"),
            "7=adult 8=nonadult");
  EXPECT_EQ(QueryText("select attr_name || '=' || attr_value from Articles_customfields_attr join "
                      "CustomField_Attributes on id=attrb_id"),
            "scheme=urn:simple");
  EXPECT_EQ(Count("Customfield_definitions"), 1);
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id=8"), 1);
}

TEST_F(DbHelperTest, CategoriesCanBeSkippedByTheSettings) {
  const ScopedSettings skipCategories(true, true);
  TNewCustomTagsClass tags;
  AddTag(tags, "cmdinscategory:", u"news", 3);
  transaction_.StartTransaction();
  helper_.SaveArticleCustomFields(&query_, {&tags}, u",");
  transaction_.Commit();
  EXPECT_EQ(Count("keywords"), 0);
}

// --- Transactions ------------------------------------------------------------------

// Makes the inserts of an article-keyword pair for article 999, of the
// keyword "never", of the link "http://refused.example/" and of every custom
// definition or value "refused" fail.
void AddRefusingTriggers(FirebirdTestDatabase& db) {
  db.Execute("create exception tw_refused 'refused by the test'");
  db.Execute("create trigger refuse_keyword for Article_KeyWords before insert as begin "
             "if (new.article_id = 999) then exception tw_refused; end");
  db.Execute("create trigger refuse_keyword_row for keywords before insert as begin "
             "if (new.value_ = 'never') then exception tw_refused; end");
  db.Execute("create trigger refuse_link for links before insert as begin "
             "if (new.link = 'http://refused.example/') then exception tw_refused; end");
  db.Execute("create trigger refuse_definition for Customfield_definitions before insert as begin "
             "if (new.customfield_tag = 'refused') then exception tw_refused; end");
  db.Execute("create trigger refuse_article_value for articles_customfields before insert as begin "
             "if (new.value_ = 'refused') then exception tw_refused; end");
  db.Execute("create trigger refuse_feed_value for Feeds_customfields before insert as begin "
             "if (new.value_ = 'refused') then exception tw_refused; end");
}

TEST_F(DbHelperTest, WithoutARunningTransactionTheHelperCommitsOrRollsBackItsOwn) {
  AddRefusingTriggers(db_);
  const int32_t keyword = helper_.AddArticleKeyword(&query_, 1, u"own", true);
  EXPECT_FALSE(transaction_.InTransaction());
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where keyword_id=" + std::to_string(keyword)), 1);

  EXPECT_THROW(helper_.AddArticleKeyword(&query_, 999, u"refused", true), db::EFirebirdError);
  EXPECT_FALSE(transaction_.InTransaction());
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id=999"), 0);
  // The keyword itself was a step of its own, committed before the failure.
  EXPECT_EQ(db_.QueryInt64("select count(*) from keywords where value_='refused'"), 1);
}

// New articles' links and keyword rows go several to a statement; a
// statement that fails is made again row by row, so that the rows around a
// refused one are stored and the failure reads as a single insert's.
// A document's stored keywords are looked up together: its statements do
// not grow with them, and each is the one it is alone (lower-cased, cut to
// the column; "topic 1" is not "topic 10").
TEST_F(DbHelperTest, ADocumentsStoredKeywordsAreFoundTogether) {
  const std::u16string longKeyword = Repeat(u'k', 600);
  const auto keyword = [](int i) {
    const std::u16string number = kt::Utf8ToWide(std::to_string(i));
    return i == 4 ? std::u16string(u"Gr\u00fc\u00dfe \U0001F600") : (i % 2 == 0 ? u"Topic " : u"TOPIC ") + number;
  };
  const auto stored = [](int i) {
    return i == 4 ? std::string("gr\u00fc\u00dfe \U0001F600") : "topic " + std::to_string(i);
  };
  const auto store = [&](int keywords, int32_t firstArticle, const std::u16string& last) {
    TNewCustomTagsClass tags;
    std::set<int32_t> articles;
    for (int i = 0; i < keywords; ++i) {
      AddTag(tags, "cmdinscategory:", keyword(i), firstArticle + i);
      articles.insert(firstArticle + i);
    }
    AddTag(tags, "cmdinscategory:", last, firstArticle);
    transaction_.StartTransaction();
    const db::Activity before = db::CurrentActivity();
    helper_.SaveArticleCustomFields(&query_, {&tags}, u",", articles);
    const uint64_t executes = (db::CurrentActivity() - before).executes;
    transaction_.Commit();
    return executes;
  };
  store(20, 100, longKeyword);
  const uint64_t few = store(2, 200, longKeyword + u"tail");
  const uint64_t many = store(20, 300, longKeyword + u"tail");
  EXPECT_EQ(many, few);
  EXPECT_EQ(Count("keywords"), 21);
  for (int i : {1, 4, 10, 19})
    EXPECT_EQ(QueryText("select k.value_ from keywords k join article_keywords a on a.keyword_id=k.id "
                        "where a.article_id=" + std::to_string(300 + i)),
              stored(i));
  EXPECT_EQ(db_.QueryInt64("select count(*) from article_keywords a join keywords k on k.id=a.keyword_id "
                           "where a.article_id=300 and char_length(k.value_)=512"),
            1);
}

TEST_F(DbHelperTest, NewArticlesLinksAndKeywordRowsThatGoTogetherFailOneRowAtATime) {
  AddRefusingTriggers(db_);
  transaction_.StartTransaction();
  // Links in several scripts, one of two UTF-16 units a character.
  const std::u16string marks[] = {u"", u"\u00fc\u65e5", u"\U0001F600"};
  TtidewellDbHelper::TNewArticleLinks links;
  std::string expected;
  for (int32_t i = 0; i < 30; ++i) {
    const std::u16string link = u"http://a.example/" + marks[i % 3] + kt::Utf8ToWide(std::to_string(i % 20));
    links.emplace_back(100 + i, i == 17 ? u"http://refused.example/" : link);
    if (i != 17) expected += (expected.empty() ? "" : " ") + kt::WideToUtf8(link);
  }
  helper_.AttachNewArticleLinks(&query_, {links.begin(), links.begin() + 17});
  helper_.AttachNewArticleLinks(&query_, {links.begin() + 17, links.end()});
  transaction_.Commit();
  EXPECT_EQ(QueryText("select list(link, ' ') from (select l.link from articles_links al "
                      "join links l on l.link_id=al.link_id order by al.article_id)"),
            expected);
  EXPECT_EQ(Count("links"), 29);
  EXPECT_EQ(db_.QueryInt64("select count(*) from articles_links where article_id=117"), 0);

  std::string single;
  try {
    helper_.AddArticleKeyword(&query_, 999, u"alone", true);
  } catch (const db::EFirebirdError& failure) {
    single = failure.what();
  }
  ASSERT_NE(single, "");
  TNewCustomTagsClass tags;
  std::set<int32_t> added;
  for (int32_t i = 0; i < 70; ++i) {
    const int32_t article = i == 40 ? 999 : 200 + i;
    AddTag(tags, "cmdinscategory:", u"k" + kt::Utf8ToWide(std::to_string(i % 3)), article);
    added.insert(article);
  }
  transaction_.StartTransaction();
  try {
    helper_.SaveArticleCustomFields(&query_, {&tags}, u",", added);
    ADD_FAILURE() << "the refused row passed";
  } catch (const db::EFirebirdError& failure) {
    EXPECT_EQ(std::string(failure.what()), single);
  }
  transaction_.Commit();
  // The rows before the refused one, in its statement too, were stored.
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id between 200 and 239"), 40);

  added.erase(999);
  TNewCustomTagsClass kept;
  for (int32_t article : added) AddTag(kept, "cmdinscategory:", u"k1, k2", article + 1000);
  std::set<int32_t> keptArticles;
  for (int32_t article : added) keptArticles.insert(article + 1000);
  transaction_.StartTransaction();
  helper_.SaveArticleCustomFields(&query_, {&kept}, u",", keptArticles);
  transaction_.Commit();
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id >= 1200"), 2 * 69);
}

TEST_F(DbHelperTest, RowsThatKeepFailingGiveNoIdAndAreSkipped) {
  AddRefusingTriggers(db_);
  const ScopedSettings storeCustomFields(false, false);
  TNewCustomTagsClass tags;
  AddTag(tags, "refused", u"value", 0);
  AddTag(tags, "kept", u"value", 0);
  transaction_.StartTransaction();
  EXPECT_EQ(helper_.InsertLink(&query_, u"http://refused.example/"), -1);
  EXPECT_EQ(helper_.AddArticleKeyword(&query_, 1, u"never", true), -1);
  helper_.SaveFeedCustomFields(&query_, 1, tags, false);
  ASSERT_TRUE(transaction_.InTransaction());
  transaction_.Commit();
  EXPECT_EQ(Count("links"), 0);
  EXPECT_EQ(Count("keywords"), 0);
  EXPECT_EQ(Count("Article_KeyWords"), 0);
  EXPECT_EQ(QueryText("select customfield_tag from Customfield_definitions"), "kept");
  EXPECT_EQ(Count("Feeds_customfields"), 1);
}

TEST_F(DbHelperTest, AFailureInTheCallersTransactionLeavesItsEarlierWorkAndTheTransactionUsable) {
  AddRefusingTriggers(db_);
  transaction_.StartTransaction();
  const int32_t feed = helper_.InsertFeed(&query_, "RSS", "", "http://a.example/", u"kept", 0, u"", 0);
  const int32_t article = helper_.InsertArticle(&query_, feed);
  helper_.AddArticleKeyword(&query_, article, u"kept", true);
  const int32_t definition = helper_.InsertCustomFieldDefinition(&query_, "x");

  EXPECT_THROW(helper_.AddArticleKeyword(&query_, 999, u"refused", true), db::EFirebirdError);
  EXPECT_THROW(helper_.InsertArticleCustomField(&query_, article, u"refused", definition), db::EFirebirdError);
  EXPECT_EQ(helper_.InsertFeedCustomField(&query_, feed, u"refused", definition), -1);
  ASSERT_TRUE(transaction_.InTransaction());
  // Nothing the caller started is committed behind its back.
  EXPECT_EQ(Count("feeds"), 0);

  const int32_t later = helper_.InsertArticle(&query_, feed);
  transaction_.Commit();
  EXPECT_EQ(Count("feeds"), 1);
  EXPECT_EQ(Count("articles"), 2);
  EXPECT_GT(later, article);
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id=" + std::to_string(article)), 1);
  EXPECT_EQ(db_.QueryInt64("select count(*) from Article_KeyWords where article_id=999"), 0);
  EXPECT_EQ(Count("articles_customfields") + Count("Feeds_customfields"), 0);
}

// --- Ids under concurrency ---------------------------------------------------------

TEST_F(DbHelperTest, TheNewIdIsTheRowsOwnWhileAnotherConnectionInsertsIntoTheSameTable) {
  constexpr int kRows = 300;
  std::vector<int32_t> ids;
  std::thread other([&] {
    // Another program on the same database, which knows nothing of the
    // helper's lock.
    auto connection = db_.Connect();
    TTranWrapper transaction(connection.get());
    TQueryWrapper insert;
    insert.SetTransaction(&transaction);
    insert.SQL.Add("insert into Articles(feed_id) values(2)");
    for (int row = 0; row < kRows; ++row) {
      transaction.StartTransaction();
      insert.ExecQuery();
      transaction.Commit();
    }
  });
  auto connection = db_.Connect();
  TTranWrapper transaction(connection.get());
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  for (int row = 0; row < kRows; ++row) {
    transaction.StartTransaction();
    ids.push_back(helper_.InsertArticle(&query, 1));
    transaction.Commit();
  }
  other.join();

  EXPECT_EQ(Count("articles"), 2 * kRows);
  for (int32_t id : ids)
    ASSERT_EQ(db_.QueryInt64("select feed_id from articles where id=" + std::to_string(id)), 1) << "id " << id;
  EXPECT_EQ(std::set<int32_t>(ids.begin(), ids.end()).size(), ids.size());
}

struct ThreadResults {
  std::vector<int32_t> articles, links, keywords;
};

// One worker: each article, link and keyword in a transaction of its own
// (the keyword's is the helper's), so the others see it at once.
void InsertFromThread(TtidewellDbHelper& helper, TDbConnWrapper& connection, int32_t feedId, int articles,
                      int sharedNames, ThreadResults& results) {
  TTranWrapper transaction(&connection);
  TQueryWrapper query;
  query.SetTransaction(&transaction);
  for (int i = 0; i < articles; ++i) {
    const std::u16string name = kt::Utf8ToWide(std::to_string(i % sharedNames));
    transaction.StartTransaction();
    const int32_t article = helper.InsertArticle(&query, feedId);
    const int32_t link = helper.InsertLink(&query, u"http://shared.example/" + name);
    transaction.Commit();
    results.articles.push_back(article);
    if (i < sharedNames) results.links.push_back(link);
    const int32_t keyword = helper.AddArticleKeyword(&query, article, u"shared " + name, false);
    if (i < sharedNames) results.keywords.push_back(keyword);
  }
}

TEST_F(DbHelperTest, FiveThreadsGetDistinctIdsAndShareLinksAndKeywords) {
  constexpr int kThreads = 5;
  constexpr int kArticles = 60;
  constexpr int kSharedNames = 10;
  std::vector<ThreadResults> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back(InsertFromThread, std::ref(helper_), std::ref(db_.Connection()), 100 + t, kArticles,
                         kSharedNames, std::ref(results[t]));
  for (auto& thread : threads) thread.join();

  std::set<int32_t> distinct;
  for (int t = 0; t < kThreads; ++t) {
    for (int32_t id : results[t].articles) {
      distinct.insert(id);
      ASSERT_EQ(db_.QueryInt64("select feed_id from articles where id=" + std::to_string(id)), 100 + t);
    }
    EXPECT_EQ(results[t].links, results[0].links) << "thread " << t;
    EXPECT_EQ(results[t].keywords, results[0].keywords) << "thread " << t;
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kArticles));
  EXPECT_EQ(Count("articles"), kThreads * kArticles);
  EXPECT_EQ(Count("links"), kSharedNames);
  EXPECT_EQ(Count("keywords"), kSharedNames);
  EXPECT_EQ(Count("Article_KeyWords"), kThreads * kArticles);
}

// Eight writers store the same new link inside transactions they keep open
// for a second: each waits for the first one's commit and reads its id, so
// every article gets the link; a writer of unrelated rows is never made to
// wait for them.
TEST_F(DbHelperTest, WritersOfOneNewLinkInLongTransactionsAllGetItsIdAndHoldUpNoOne) {
  constexpr int kThreads = 8;
  const std::u16string link = u"http://example.org/shared";
  std::vector<int32_t> linkIds(kThreads, 0);
  std::atomic<int> holding{0};
  std::atomic<int> committed{0};
  std::atomic<bool> unrelatedDone{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TTranWrapper transaction(&db_.Connection());
      TQueryWrapper query;
      query.SetTransaction(&transaction);
      transaction.StartTransaction();
      const int32_t articleId = helper_.InsertArticle(&query, 1);
      linkIds[t] = helper_.InsertLink(&query, link);
      if (linkIds[t] > 0) {
        query.SQL.SetText("insert into articles_links(article_id,link_id) values(?,?)");
        query.Params(0).SetInteger(articleId);
        query.Params(1).SetInteger(linkIds[t]);
        query.ExecQuery();
      }
      ++holding;
      // Open for a second, and until the unrelated inserts ended: they are
      // made while the link is held, however slowly the machine runs them.
      std::this_thread::sleep_for(std::chrono::seconds(1));
      for (int waited = 0; !unrelatedDone && waited < 30000; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      transaction.Commit();
      ++committed;
    });
  }
  while (holding.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // The first writer now holds the link for a second; the others wait for it.
  TTranWrapper unrelated(&db_.Connection());
  TQueryWrapper unrelatedQuery;
  unrelatedQuery.SetTransaction(&unrelated);
  unrelated.StartTransaction();
  EXPECT_GT(helper_.InsertLink(&unrelatedQuery, u"http://example.org/other"), 0);
  EXPECT_GT(helper_.InsertArticle(&unrelatedQuery, 2), 0);
  EXPECT_EQ(committed.load(), 0) << "the unrelated inserts waited for the writers of the shared link";
  unrelatedDone = true;
  unrelated.Commit();
  for (auto& thread : threads) thread.join();

  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(linkIds[t], linkIds[0]) << "thread " << t;
  EXPECT_GT(linkIds[0], 0);
  EXPECT_EQ(Count("links"), 2);
  EXPECT_EQ(db_.QueryInt64("select count(*) from articles_links where link_id=" + std::to_string(linkIds[0])),
            kThreads);
}

}  // namespace
}  // namespace tidewell
