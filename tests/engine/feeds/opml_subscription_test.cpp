// SPDX-License-Identifier: MIT
// Subscribed OPML lists, end to end: the engine's own workers fetch lists
// from a local HTTP server into a real database and mirror them in the
// engine's folder tree; a changed list adds and removes feeds.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/addresses/feed_address.h"
#include "engine/tidewell.h"
#include "support/engine_fixture.h"
#include "support/test_https_server.h"
#include "support/trusting_engine.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

struct ListEvent {
  int32_t opmlId;
  TStrings feeds;
};

std::string Outline(const std::string& title, const std::string& url) {
  return "<outline text=\"" + title + "\" type=\"rss\" xmlUrl=\"" + url + "\"/>";
}

std::string Opml(const std::string& head, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<opml version=\"1.0\"><head>" + head + "</head><body>" + body +
         "</body></opml>";
}

// The UTF-8 text in another encoding (iconv's name), after the bytes of mark.
std::string Encoded(const std::string& utf8, const char* encoding, const std::string& mark = "") {
  iconv_t converter = iconv_open(encoding, "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return "";
  std::string out(utf8.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* at = out.data();
  size_t outLeft = out.size();
  const size_t converted = iconv(converter, &in, &inLeft, &at, &outLeft);
  iconv_close(converter);
  if (converted == static_cast<size_t>(-1)) return "";
  out.resize(out.size() - outLeft);
  return mark + out;
}

// The workers trust the test's certificate: a list may move to https.
class OpmlSubscriptionTest : public testing::TrustedCertificate, public testing::EngineFixture {
 protected:
  OpmlSubscriptionTest() : EngineFixture(testing::TrustingWorkers(certificate.certificateFile)) {
    // The folder tree is stored: its root folder has a row.
    engine.GetFolders()->SaveAll();
    engine.SetOnFeedsAddToOpml(
        [this](int32_t, int32_t id, const std::string& url, const WideString&, const TStrings& f) {
          added.push_back({id, f});
          // The list's worker waits here, its look-ups made and nothing
          // filed yet.
          if (meanwhile && url == parkedList) std::exchange(meanwhile, nullptr)();
        });
    engine.SetOnFeedsDeleteFromOpml(
        [this](int32_t, int32_t id, const std::string&, const WideString&, const TStrings& f) {
          removed.push_back({id, f});
        });
    engine.SetOnNeedToRefreshFolders([this](int32_t, int32_t id) { refreshed.push_back(id); });
    engine.SetOnDeleteFeed([this](int32_t, int32_t feedId, bool jobEnded) {
      offered.push_back(feedId);
      offerEnded.push_back(jobEnded);
      return answerDelete;
    });
  }

  void Serve(const std::string& path, const std::string* body, const std::string& type = "text/xml") {
    server.Handle(path, [body, type](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", type}}, *body));
    });
  }
  // Queues a new subscription and waits until its job has ended.
  void Subscribe(const std::string& path) { RunJob(server.Url(path), TQueueJobTypes::CgetOpmlData); }
  // Subscribes the address as the application does (a feed row, fetched at
  // once) and waits until its job has ended; the row's id.
  int32_t AddAndFetch(const std::string& path) {
    const int32_t id = engine.AddFeed(u"Feed", server.Url(path), u"");
    Pass(id);
    return id;
  }
  // The feed jobs that failed: the feed and its error.
  std::vector<std::pair<int32_t, std::string>> Failures() const {
    std::vector<std::pair<int32_t, std::string>> failures;
    for (const testing::Processed& p : processed)
      if (p.errCat != TErrorCategory::noErrors) failures.push_back({p.feedId, p.errMsg});
    return failures;
  }
  int32_t OpmlId(const std::string& path) {
    return static_cast<int32_t>(
        db.QueryInt64("select feed_id from feeds where type_='OPML' and link='" + server.Url(path) + "'"));
  }
  int32_t FeedId(const std::string& url) {
    return static_cast<int32_t>(db.QueryInt64("select feed_id from feeds where link='" + url + "'"));
  }
  TFolder* ListFolder(const std::string& name) {
    TFolder* root = engine.GetFolders()->GetRootFolder();
    for (TFolder* sub : root->SubFolders->List)
      if (kt::WideToUtf8(sub->GetName()) == name) return sub;
    return nullptr;
  }
  static std::vector<std::string> FilterNames(TFolder* folder) {
    std::vector<std::string> names;
    for (TFilter* filter : folder->Filters) names.push_back(kt::WideToUtf8(filter->GetField()));
    return names;
  }

  // Run while the list at parkedList waits in its first hand-over.
  std::string parkedList;
  std::function<void()> meanwhile;
  bool answerDelete = true;
  std::vector<ListEvent> added;
  std::vector<ListEvent> removed;
  std::vector<int32_t> refreshed;
  std::vector<int32_t> offered;
  std::vector<bool> offerEnded;
};

TEST_F(OpmlSubscriptionTest, AListOfFeedsInGroupsIsSubscribedIntoFoldersAndFilters) {
  const std::string harbour = server.Url("/harbour.xml");
  const std::string tides = server.Url("/tides.xml");
  const std::string list = Opml("<title>Coastal shows</title>",
                                Outline("Harbour radio", harbour) +
                                    "<outline text=\"Weather\">" + Outline("Tides", tides) +
                                    "<outline text=\"Local file\" xmlUrl=\"file:///tmp/x.xml\"/></outline>");
  Serve("/list.opml", &list);
  Subscribe("/list.opml");

  const int32_t opmlId = OpmlId("/list.opml");
  ASSERT_GT(opmlId, 0);
  const std::string row = " from feeds where feed_id=" + std::to_string(opmlId);
  EXPECT_EQ(db.QueryInt64("select update_interval" + row), 720);
  EXPECT_EQ(db.QueryInt64("select lasthttpcode" + row), 200);
  EXPECT_EQ(db.QueryInt64("select count(*)" + row + " and description='OPML -> " + server.Url("/list.opml") + "'"), 1);
  // Both feeds are new rows owned by the list and mapped to it.
  const int32_t harbourId = FeedId(harbour);
  const int32_t tidesId = FeedId(tides);
  ASSERT_GT(harbourId, 0);
  ASSERT_GT(tidesId, 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where type_='RSS' and parentfeed=" + std::to_string(opmlId)), 2);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds2opmlmapping where opmlid=" + std::to_string(opmlId)), 2);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link like 'file:%'"), 0);

  TFolder* folder = ListFolder("Coastal shows");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->Access, opmlId);
  EXPECT_EQ(FilterNames(folder), std::vector<std::string>{"Harbour radio"});
  ASSERT_EQ(folder->SubFolderCount(), 1);
  TFolder* weather = folder->GetSubFolder(0);
  EXPECT_EQ(kt::WideToUtf8(weather->GetName()), "Weather");
  EXPECT_EQ(FilterNames(weather), std::vector<std::string>{"Tides"});
  TDynIntArray ids;
  ASSERT_TRUE(engine.GetFolders()->FilterWorkShop->GetFeedIDs(weather->GetFilter(0), ids));
  EXPECT_EQ(ids, TDynIntArray{tidesId});

  // Stored: the folder rows, the link of folder and list, the saved filters.
  const std::string folderId = std::to_string(folder->Id);
  EXPECT_EQ(db.QueryInt64("select count(*) from folders where parentfolder=" + folderId + " and foldername='Weather'"),
            1);
  EXPECT_EQ(db.QueryInt64("select itemid from variables where type_='folder' and variablename_='opmlfolder' and "
                          "value_='" + std::to_string(opmlId) + "'"),
            folder->Id);
  EXPECT_EQ(db.QueryInt64("select count(*) from sqlfilters where folderid=" + folderId), 1);
  EXPECT_EQ(refreshed, std::vector<int32_t>{opmlId});
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0].feeds.size(), 2u);
}

TEST_F(OpmlSubscriptionTest, AChangedListAddsNewFeedsAndOffersTheFeedsItCreatedForDeletion) {
  const std::string keep = server.Url("/keep.xml");
  const std::string gone = server.Url("/gone.xml");
  const std::string fresh = server.Url("/fresh.xml");
  // A feed the user subscribed before the list named it.
  const int32_t userFeed = engine.AddFeed(u"Mine", server.Url("/mine.xml"), u"");
  std::string list = Opml("<title>Shows</title>", Outline("Keep", keep) + Outline("Gone", gone) +
                                                      Outline("Mine", server.Url("/mine.xml")) +
                                                      "<outline text=\"Old group\">" +
                                                      Outline("Grouped", server.Url("/grouped.xml")) + "</outline>");
  Serve("/shows.opml", &list);
  Subscribe("/shows.opml");
  const int32_t opmlId = OpmlId("/shows.opml");
  ASSERT_GT(opmlId, 0);
  const int32_t goneId = FeedId(gone);
  const int32_t groupedId = FeedId(server.Url("/grouped.xml"));
  added.clear();
  refreshed.clear();

  list = Opml("<title>Shows</title>", Outline("Keep", keep) + Outline("Fresh", fresh));
  Pass(opmlId);

  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0].opmlId, opmlId);
  EXPECT_EQ(added[0].feeds, TStrings{"Fresh]]" + fresh});
  ASSERT_EQ(removed.size(), 1u);
  TStrings removedIds = removed[0].feeds;
  std::sort(removedIds.begin(), removedIds.end());
  TStrings expected{std::to_string(goneId), std::to_string(userFeed), std::to_string(groupedId)};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(removedIds, expected);
  // Only the feeds the list made are offered; the user's own never is.
  std::vector<int32_t> offeredSorted = offered;
  std::sort(offeredSorted.begin(), offeredSorted.end());
  EXPECT_EQ(offeredSorted, (std::vector<int32_t>{std::min(goneId, groupedId), std::max(goneId, groupedId)}));
  EXPECT_EQ(std::count(offerEnded.begin(), offerEnded.end(), true), 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link like 'DELMARKED:%' and feed_id in (" +
                          std::to_string(goneId) + "," + std::to_string(groupedId) + ")"),
            2);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link not like 'DELMARKED:%' and feed_id=" +
                          std::to_string(userFeed)),
            1);

  TFolder* folder = ListFolder("Shows");
  ASSERT_NE(folder, nullptr);
  std::vector<std::string> names = FilterNames(folder);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Fresh", "Keep"}));
  EXPECT_EQ(folder->SubFolderCount(), 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from folders where foldername='Old group'"), 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds2opmlmapping where opmlid=" + std::to_string(opmlId)), 2);
  EXPECT_EQ(db.QueryInt64("select count(*) from sqlfilters where folderid=" + std::to_string(folder->Id)), 2);
  EXPECT_EQ(refreshed, std::vector<int32_t>{opmlId});
}

TEST_F(OpmlSubscriptionTest, AFeedKeptWhenTheApplicationRefusesItsDeletion) {
  const std::string gone = server.Url("/gone.xml");
  std::string list = Opml("<title>Shows</title>", Outline("Gone", gone));
  Serve("/shows.opml", &list);
  Subscribe("/shows.opml");
  const int32_t opmlId = OpmlId("/shows.opml");
  answerDelete = false;
  list = Opml("<title>Shows</title>", "");
  Pass(opmlId);
  ASSERT_EQ(offered.size(), 1u);
  EXPECT_TRUE(offerEnded[0]);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link='" + gone + "'"), 1);
  EXPECT_EQ(ListFolder("Shows")->FilterCount(), 0);
}

TEST_F(OpmlSubscriptionTest, AnUnchangedListOnlyRefreshesItsRow) {
  std::string list = Opml("<title>Shows</title>", Outline("One", server.Url("/one.xml")));
  Serve("/shows.opml", &list);
  Subscribe("/shows.opml");
  const int32_t opmlId = OpmlId("/shows.opml");
  added.clear();
  refreshed.clear();
  db.Execute("update feeds set lasthttpcode=0 where feed_id=" + std::to_string(opmlId));
  Pass(opmlId);
  EXPECT_TRUE(added.empty());
  EXPECT_TRUE(removed.empty());
  EXPECT_TRUE(refreshed.empty());
  EXPECT_EQ(db.QueryInt64("select lasthttpcode from feeds where feed_id=" + std::to_string(opmlId)), 200);
  EXPECT_EQ(ListFolder("Shows")->FilterCount(), 1);
}

TEST_F(OpmlSubscriptionTest, FolderNamesComeFromTheURLWithoutTitleAndAreMadeUnique) {
  const std::string untitled = Opml("", Outline("One", server.Url("/one.xml")));
  const std::string titled = Opml("<title>Shöws</title>", Outline("Two", server.Url("/two.xml")));
  const std::string upper = Opml("<title>SHÖWS</title>", Outline("Three", server.Url("/three.xml")));
  Serve("/untitled.opml", &untitled);
  Serve("/a.opml", &titled);
  Serve("/b.opml", &upper);
  Subscribe("/untitled.opml");
  Subscribe("/a.opml");
  Subscribe("/b.opml");
  EXPECT_NE(ListFolder("OPML Folder (" + server.Url("/untitled.opml") + ")"), nullptr);
  // Names differing only in case count as the same name.
  ASSERT_NE(ListFolder("Shöws"), nullptr);
  ASSERT_NE(ListFolder("SHÖWS (1)"), nullptr);
  EXPECT_EQ(ListFolder("SHÖWS (1)")->Access, OpmlId("/b.opml"));
}

TEST_F(OpmlSubscriptionTest, ADocumentThatIsNoListLeavesNoSubscriptionBehind) {
  const std::string html = "<html><body>not a list</body></html>";
  const std::string noBody = "<opml><head><title>x</title></head></opml>";
  const std::string garbage = "this is no XML at all";
  Serve("/page.opml", &html);
  Serve("/nobody.opml", &noBody);
  Serve("/garbage.opml", &garbage);
  Subscribe("/page.opml");
  Subscribe("/nobody.opml");
  Subscribe("/garbage.opml");
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where type_='OPML'"), 0);
  EXPECT_EQ(db.QueryInt64("select count(*) from folders"), 1);
  EXPECT_EQ(engine.GetFolders()->GetRootFolder()->SubFolderCount(), 0);
}

TEST_F(OpmlSubscriptionTest, AChangeFetchedWhileTheTreeLacksItsRootIdFindsTheStoredRoot) {
  std::string list = Opml("<title>Shows</title>", Outline("One", server.Url("/one.xml")));
  Serve("/shows.opml", &list);
  Subscribe("/shows.opml");
  const int32_t opmlId = OpmlId("/shows.opml");
  const std::string digest = " from feeds where feed_id=" + std::to_string(opmlId);
  list = Opml("<title>Shows</title>", Outline("One", server.Url("/one.xml")) + Outline("Two", server.Url("/two.xml")));
  TFolder* root = engine.GetFolders()->GetRootFolder();
  const int32_t rootId = root->Id;
  root->Id = 0;
  Pass(opmlId);
  EXPECT_EQ(root->Id, rootId);
  EXPECT_EQ(db.QueryInt64("select count(*) from folders where parentFolder=0"), 1) << "no second root";
  EXPECT_EQ(ListFolder("Shows")->FilterCount(), 2);
  EXPECT_GT(FeedId(server.Url("/two.xml")), 0);
}

TEST_F(OpmlSubscriptionTest, AStoredListThatIsGoneKeepsItsFoldersAndRecordsTheAnswer) {
  const std::string list = Opml("<title>Shows</title>", Outline("One", server.Url("/one.xml")));
  Serve("/shows.opml", &list);
  Subscribe("/shows.opml");
  const int32_t opmlId = OpmlId("/shows.opml");
  server.Handle("/shows.opml", [](const RecordedRequest&, HttpConnection& c) {
    c.Send(TestHttpServer::Response(404, "Not Found", {{"Content-Type", "text/plain"}}, "gone"));
  });
  Pass(opmlId);
  EXPECT_EQ(db.QueryInt64("select lasthttpcode from feeds where feed_id=" + std::to_string(opmlId)), 404);
  EXPECT_EQ(ListFolder("Shows")->FilterCount(), 1);
  EXPECT_TRUE(removed.empty());
  EXPECT_TRUE(offered.empty());
}

// A list that is not well-formed is the job's error, with the parser's
// reason and line; nothing of it is filed, and a stored list keeps what it
// filed before.
TEST_F(OpmlSubscriptionTest, AListThatIsNotWellFormedIsRefusedWholeWithTheParsersLine) {
  std::string outlines;
  for (int i = 0; i < 30; ++i)
    outlines += "\n" + Outline("Show " + std::to_string(i), server.Url("/s" + std::to_string(i)));
  const std::string whole = Opml("<title>Shows</title>", outlines);
  std::string unclosed = whole;
  const std::string fifth = Outline("Show 5", server.Url("/s5"));
  unclosed.replace(unclosed.find(fifth), fifth.size(), fifth.substr(0, fifth.size() - 2) + ">");
  std::string mismatched = whole;
  mismatched.replace(mismatched.find("</body>"), 7, "</bdy>");
  const std::string cut = whole.substr(0, whole.size() / 2);
  const std::string cutLine = "line " + std::to_string(std::count(cut.begin(), cut.end(), '\n') + 1);
  const struct {
    const char* shape;
    std::string body;
    std::string line;
  } broken[] = {
      {"cut in the middle", cut, cutLine},
      {"an outline left unclosed", unclosed, "line 32"},
      {"a mistyped end tag", mismatched, "line 32"},
  };
  std::string list = Opml("<title>Stored</title>", Outline("Kept", server.Url("/kept.xml")));
  Serve("/stored.opml", &list);
  Subscribe("/stored.opml");
  const int32_t storedId = OpmlId("/stored.opml");
  ASSERT_GT(storedId, 0);
  const std::string storedRow = " from feeds where feed_id=" + std::to_string(storedId);
  const std::string digest = db.QueryText("select feedmd5" + storedRow);
  int path = 0;
  for (const auto& row : broken) {
    SCOPED_TRACE(row.shape);
    processed.clear();
    // As the application's first start subscribes it: a feed row that turns
    // out to be a list.
    const std::string newPath = "/new" + std::to_string(++path) + ".opml";
    Serve(newPath, &row.body);
    const int32_t newId = AddAndFetch(newPath);
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link like '%/s%' and link not like '%.opml'"), 0);
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds where type_='OPML' and feed_id=" + std::to_string(newId)), 0);
    const std::string newError =
        db.QueryText("select lastFeedProcessingError from feeds where feed_id=" + std::to_string(newId));
    EXPECT_NE(newError.find("XML parse error"), std::string::npos) << newError;
    EXPECT_NE(newError.find(row.line), std::string::npos) << newError;
    ASSERT_EQ(Failures().size(), 1u);
    EXPECT_EQ(Failures()[0].first, newId);
    EXPECT_EQ(Failures()[0].second, newError);

    // A stored list whose new version is broken keeps what it filed.
    processed.clear();
    list = row.body;
    Pass(storedId);
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds where type_<>'OPML' and parentfeed=" +
                            std::to_string(storedId)),
              1);
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds2opmlmapping where opmlid=" + std::to_string(storedId)), 1);
    ASSERT_NE(ListFolder("Stored"), nullptr);
    EXPECT_EQ(FilterNames(ListFolder("Stored")), std::vector<std::string>{"Kept"});
    EXPECT_EQ(db.QueryText("select feedmd5" + storedRow), digest);
    const std::string storedError = db.QueryText("select lastFeedProcessingError" + storedRow);
    EXPECT_NE(storedError.find(row.line), std::string::npos) << storedError;
    ASSERT_EQ(Failures().size(), 1u);
    EXPECT_EQ(Failures()[0].first, storedId);
    EXPECT_TRUE(removed.empty());
    EXPECT_TRUE(offered.empty());
    list = Opml("<title>Stored</title>", Outline("Kept", server.Url("/kept.xml")));
  }
  // Mended, the list is merged again and its row's error is cleared.
  list = Opml("<title>Stored</title>", Outline("Kept", server.Url("/kept.xml")) + Outline("New", server.Url("/n.xml")));
  Pass(storedId);
  EXPECT_EQ(FilterNames(ListFolder("Stored")).size(), 2u);
  EXPECT_EQ(db.QueryText("select lastFeedProcessingError" + storedRow), "");
}

// A list is recognised and read in whatever encoding its byte-order mark,
// its declaration or the answer's charset names, as a feed is; a feed in
// UTF-16 answered as a web page is still taken for a feed.
TEST_F(OpmlSubscriptionTest, ListsAndFeedsAreReadInTheEncodingTheirMarkOrDeclarationNames) {
  const std::string le16 = "\xFF\xFE", be16 = "\xFE\xFF", le32 = std::string("\xFF\xFE\0\0", 4);
  const struct {
    const char* shape;
    const char* encoding;
    const char* declared;  // nullptr: no declaration
    std::string mark;
    const char* type;
    const char* title;
  } rows[] = {
      {"UTF-16LE with mark", "UTF-16LE", "UTF-16", le16, "text/xml", "Café Радио"},
      {"UTF-16BE with mark", "UTF-16BE", "UTF-16", be16, "text/x-opml", "Café Радио"},
      {"UTF-16LE with mark, no declaration", "UTF-16LE", nullptr, le16, "application/octet-stream", "Café Радио"},
      {"UTF-16LE without mark", "UTF-16LE", "UTF-16", "", "text/xml", "Café Радио"},
      {"UTF-32LE with mark", "UTF-32LE", "UTF-32", le32, "text/xml", "Café Радио"},
      {"UTF-8 with mark", "UTF-8", "UTF-8", "\xEF\xBB\xBF", "text/xml", "Café Радио"},
      {"ISO-8859-1 declared", "ISO-8859-1", "ISO-8859-1", "", "text/xml", "Café"},
      {"windows-1251 declared", "CP1251", "windows-1251", "", "text/xml", "Радио"},
      {"KOI8-R declared", "KOI8-R", "KOI8-R", "", "text/x-opml", "Радио"},
      {"Shift_JIS declared", "SHIFT_JIS", "Shift_JIS", "", "text/xml", "日本の番組"},
      {"the answer's charset, no declaration", "CP1251", nullptr, "", "text/xml; charset=windows-1251", "Радио"},
      {"an OPML type's charset, no declaration", "CP1251", nullptr, "", "text/x-opml; charset=windows-1251", "Радио"},
  };
  std::vector<std::string> bodies;
  bodies.reserve(std::size(rows) + 1);
  int path = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shape);
    const std::string prefix = "/e" + std::to_string(++path);
    std::string outlines;
    for (int i = 0; i < 10; ++i)
      outlines +=
          Outline(std::string(row.title) + " " + std::to_string(i), server.Url(prefix + "/f" + std::to_string(i)));
    const std::string declaration =
        row.declared == nullptr ? "" : "<?xml version=\"1.0\" encoding=\"" + std::string(row.declared) + "\"?>\n";
    const std::string text = declaration + "<opml version=\"2.0\"><head><title>" + row.title + " " +
                             std::to_string(path) + "</title></head><body>" + outlines + "</body></opml>";
    bodies.push_back(Encoded(text, row.encoding, row.mark));
    ASSERT_FALSE(bodies.back().empty());
    Serve(prefix + ".opml", &bodies.back(), row.type);
    const int32_t listId = AddAndFetch(prefix + ".opml");
    EXPECT_EQ(db.QueryText("select type_ from feeds where feed_id=" + std::to_string(listId)), "OPML")
        << db.QueryText("select lastFeedProcessingError from feeds where feed_id=" + std::to_string(listId));
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds where parentfeed=" + std::to_string(listId)), 10);
    TFolder* folder = ListFolder(std::string(row.title) + " " + std::to_string(path));
    ASSERT_NE(folder, nullptr);
    std::vector<std::string> names = FilterNames(folder);
    EXPECT_EQ(names.size(), 10u);
    EXPECT_NE(std::find(names.begin(), names.end(), std::string(row.title) + " 3"), names.end());
  }
  const std::string rss =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><rss version=\"2.0\"><channel><title>Émissions</title>"
      "<link>http://127.0.0.1/</link><description>d</description><item><title>Un</title><guid>g1</guid></item>"
      "</channel></rss>";
  bodies.push_back(Encoded(rss, "UTF-16LE", le16));
  Serve("/feed16", &bodies.back(), "text/html");
  const int32_t feedId = AddAndFetch("/feed16");
  EXPECT_EQ(db.QueryInt64("select count(*) from articles where feed_id=" + std::to_string(feedId)), 1)
      << db.QueryText("select lastFeedProcessingError from feeds where feed_id=" + std::to_string(feedId));
}

// A show that leaves its list (a list served empty once, a show taken out)
// and comes back finds its row again, with its episodes as they were; a
// show that moved by 301 is found by the address the list names; a show
// the listener deleted stays deleted whatever the list does. Show B has two
// episodes, both downloaded, one of them deleted by the listener.
TEST_F(OpmlSubscriptionTest, AShowThatLeavesItsListAndReturnsKeepsItsRowAndEpisodes) {
  const struct {
    const char* shape;
    bool moved;
    bool deletedByListener;
    std::vector<std::string> versions;  // the shows the list names, in turn
  } rows[] = {
      {"served empty once, then whole again", false, false, {"AB", "", "AB"}},
      {"B taken out and put back", false, false, {"AB", "A", "AB"}},
      {"B moved by 301, the list changed around it", true, false, {"AB", "ABC"}},
      {"B moved by 301, taken out and put back", true, false, {"AB", "A", "AB"}},
      {"B deleted by the listener, the list changed around it", false, true, {"AB", "ABC"}},
      {"B deleted by the listener, taken out and put back", false, true, {"AB", "A", "AB"}},
  };
  std::vector<std::string> lists;
  lists.reserve(std::size(rows));
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shape);
    const std::string prefix = "/back" + std::to_string(++n);
    const auto named = [&](char show) { return server.Url(prefix + "/" + show + (row.moved ? ".old" : ".xml")); };
    for (const char show : std::string("ABC")) {
      const std::string items = "<item><title>1</title><guid>" + prefix + show + "1</guid><enclosure url=\"" +
                                server.Url(prefix + show + "1.mp3") + "\" type=\"audio/mpeg\"/></item><item>" +
                                "<title>2</title><guid>" + prefix + show + "2</guid><enclosure url=\"" +
                                server.Url(prefix + show + "2.mp3") + "\" type=\"audio/mpeg\"/></item>";
      ServeDocument(prefix + "/" + show + ".xml", "application/rss+xml",
                    "<rss version=\"2.0\"><channel><title>" + std::string(1, show) + "</title>" + items +
                        "</channel></rss>");
      server.Handle(prefix + "/" + show + ".old", [this, prefix, show](const RecordedRequest&, HttpConnection& c) {
        c.Send(TestHttpServer::Response(301, "Moved Permanently",
                                        {{"Location", server.Url(prefix + "/" + show + ".xml")}}, ""));
      });
    }
    lists.emplace_back();
    const auto serve = [&](const std::string& shows) {
      std::string outlines;
      for (const char show : shows) outlines += Outline(std::string(1, show), named(show));
      lists.back() = Opml("<title>Back " + std::to_string(n) + "</title>", outlines);
    };
    serve(row.versions[0]);
    Serve(prefix + ".opml", &lists.back());
    Subscribe(prefix + ".opml");
    const int32_t listId = OpmlId(prefix + ".opml");
    const int32_t a = FeedId(named('A')), b = FeedId(named('B'));
    Pass(a);
    Pass(b);
    // As the application leaves them: downloaded, one episode deleted.
    db.Execute("update enclosures set download_status=2");
    engine.DeleteArticles({static_cast<int32_t>(db.QueryInt64(
                              "select min(id) from articles where feed_id=" + std::to_string(b)))},
                          false);
    if (row.deletedByListener) engine.DeleteFeeds({b}, true);
    offered.clear();
    for (size_t v = 1; v < row.versions.size(); ++v) {
      serve(row.versions[v]);
      Pass(listId);
    }
    for (const char show : std::string("AB")) {
      const std::string rowsOf = " from feeds where link containing '" + prefix + "/" + show + ".'";
      EXPECT_EQ(db.QueryInt64("select count(*)" + rowsOf), 1) << show;
      EXPECT_EQ(db.QueryInt64("select count(*)" + rowsOf + " and link not starting with 'DELMARKED:'"),
                show == 'B' && row.deletedByListener ? 0 : 1)
          << show;
    }
    const int32_t live = static_cast<int32_t>(db.QueryInt64(
        "select max(feed_id) from feeds where link containing '" + prefix + "/B.' and link not like 'DELMARKED:%'"));
    if (live > 0) Pass(live);
    EXPECT_EQ(db.QueryInt64("select count(*) from articles where deleted=0 and feed_id=" + std::to_string(b)),
              row.deletedByListener ? 0 : 1);
    EXPECT_EQ(db.QueryInt64("select count(*) from enclosures where download_status=0 and url_ containing '" +
                            prefix + "'"),
              0);
  }
}

// One address, one subscription: whatever files an address while a list
// is merged (another list on another worker, AddFeed, a feed that moves to
// it for good), or after it, finds the row that was there first. The list's
// worker is held in its first hand-over, after its look-ups and before it
// files anything, while the other runs to its end.
TEST_F(OpmlSubscriptionTest, OneSubscriptionPerAddressWhateverFilesItWhileOrAfterAListIsMerged) {
  enum class TWhen { kWhileParked, kAfterwards };
  enum class TOther { kList, kAddFeed, kMove };
  const struct {
    const char* shape;
    TWhen when;
    TOther other;
  } rows[] = {
      {"another list naming 10 of its feeds, merged meanwhile", TWhen::kWhileParked, TOther::kList},
      {"AddFeed of one of its addresses meanwhile", TWhen::kWhileParked, TOther::kAddFeed},
      {"a feed moved (301) to one of its addresses meanwhile", TWhen::kWhileParked, TOther::kMove},
      {"another list naming 10 of its feeds, merged afterwards", TWhen::kAfterwards, TOther::kList},
      {"AddFeed of one of its addresses afterwards", TWhen::kAfterwards, TOther::kAddFeed},
      {"a feed moved (301) to one of its addresses afterwards", TWhen::kAfterwards, TOther::kMove},
  };
  const std::string rss = "<rss version=\"2.0\"><channel><title>t</title><item><guid>g</guid></item></channel></rss>";
  std::vector<std::string> lists;
  lists.reserve(2 * std::size(rows));
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shape);
    const std::string prefix = "/r" + std::to_string(++n);
    std::vector<std::string> addresses;
    std::string own, other;
    for (int i = 0; i < 30; ++i) {
      addresses.push_back(server.Url(prefix + "/f" + std::to_string(i)));
      ServeDocument(prefix + "/f" + std::to_string(i), "application/rss+xml", rss);
      if (i < 10) own += Outline("Own " + std::to_string(i), addresses.back());
      if (i < 10 || i >= 20) other += Outline("Other " + std::to_string(i), addresses.back());
    }
    lists.push_back(Opml("<title>Own " + std::to_string(n) + "</title>", own));
    Serve(prefix + "/own.opml", &lists.back());
    lists.push_back(Opml("<title>Other " + std::to_string(n) + "</title>", other));
    Serve(prefix + "/other.opml", &lists.back());
    const std::string shared = addresses[3];
    server.Handle(prefix + "/old.xml", [shared](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(301, "Moved Permanently", {{"Location", shared}}, ""));
    });
    const int32_t moving =
        row.other == TOther::kMove ? engine.AddFeed(u"Moving", server.Url(prefix + "/old.xml"), u"") : 0;
    int32_t addedId = 0;
    const auto runOther = [&] {
      if (row.other == TOther::kList) {
        engine.Worker(1)->AddJob(server.Url(prefix + "/other.opml"), 0, TQueueJobTypes::CgetOpmlData, u"");
        ASSERT_TRUE(RunUntil([&] { return Ended(server.Url(prefix + "/other.opml")); }));
      } else if (row.other == TOther::kAddFeed) {
        addedId = engine.AddFeed(u"Mine", shared, u"");
      } else {
        engine.UpdateFeed(moving);
        ASSERT_TRUE(RunUntil([&] { return Ended(moving); }));
      }
    };
    if (row.when == TWhen::kWhileParked) {
      parkedList = server.Url(prefix + "/own.opml");
      meanwhile = runOther;
    }
    Subscribe(prefix + "/own.opml");
    EXPECT_EQ(meanwhile, nullptr) << "the list was not held";
    meanwhile = nullptr;
    if (row.when == TWhen::kAfterwards) runOther();

    for (const std::string& address : addresses) {
      const int64_t rowsOfAddress = db.QueryInt64("select count(*) from feeds where link='" + address + "'");
      EXPECT_LE(rowsOfAddress, 1) << address;
    }
    const int32_t listId = OpmlId(prefix + "/own.opml");
    const int32_t sharedId = FeedId(shared);
    ASSERT_GT(listId, 0);
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds2opmlmapping where opmlid=" + std::to_string(listId)), 10);
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds2opmlmapping where opmlid=" + std::to_string(listId) +
                            " and boundwithfeed=" + std::to_string(sharedId)),
              1);
    if (row.other == TOther::kAddFeed) {
      EXPECT_EQ(addedId, sharedId);
    }
    if (row.other == TOther::kMove && row.when == TWhen::kWhileParked) {
      EXPECT_EQ(sharedId, moving);
    }
    if (row.other == TOther::kMove && row.when == TWhen::kAfterwards) {
      EXPECT_EQ(db.QueryText("select link from feeds where feed_id=" + std::to_string(moving)),
                server.Url(prefix + "/old.xml"));
    }
  }
}

// An address that another transaction is filing (its claim held here) is
// waited for: the list commits what it filed, waits, and then maps the row
// that the other stored, instead of storing a second.
TEST_F(OpmlSubscriptionTest, AListWaitsForAnAddressBeingFiledElsewhereAndThenFindsItsRow) {
  std::string outlines;
  for (int i = 0; i < 5; ++i) outlines += Outline("Show " + std::to_string(i), server.Url("/w" + std::to_string(i)));
  const std::string list = Opml("<title>Waiting</title>", outlines);
  Serve("/waiting.opml", &list);
  const std::string filedElsewhere = server.Url("/w2");
  TFeedAddressClaims& claims = engine.AddressClaims();
  const int elsewhere = 0;
  ASSERT_TRUE(claims.TryClaim(FeedAddressKey(filedElsewhere), &elsewhere));
  const std::string url = server.Url("/waiting.opml");
  engine.Worker(0)->AddJob(url, 0, TQueueJobTypes::CgetOpmlData, u"");
  ASSERT_TRUE(RunUntil([&] { return claims.Waiting() == 1; }));
  // What the list filed before it waits is committed: nobody waits for it.
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link in ('" + server.Url("/w0") + "','" +
                          server.Url("/w1") + "')"),
            2);
  db.Execute("insert into feeds(type_,link,title,parentfeed,priority) values('NaN','" + filedElsewhere +
             "','Filed elsewhere',0,0)");
  const int32_t elsewhereId = FeedId(filedElsewhere);
  claims.Release(&elsewhere);
  ASSERT_TRUE(RunUntil([&] { return Ended(url); }));
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link='" + filedElsewhere + "'"), 1);
  const int32_t listId = OpmlId("/waiting.opml");
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds2opmlmapping where opmlid=" + std::to_string(listId) +
                          " and boundwithfeed=" + std::to_string(elsewhereId)),
            1);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where parentfeed=" + std::to_string(listId)), 4);
  ASSERT_NE(ListFolder("Waiting"), nullptr);
  EXPECT_EQ(ListFolder("Waiting")->FilterCount(), 5);
}

// AddFeed of an address that a list's merge is filing (its claim and its
// row, not yet committed, held here) waits for the merge to end and
// returns the merge's row instead of storing a second.
TEST_F(OpmlSubscriptionTest, AddFeedWaitsForAnAddressBeingFiledAndReturnsItsRow) {
  const std::string address = server.Url("/filed.xml");
  TTranWrapper* filing = NewTransaction(true);
  TQueryWrapper* query = NewQuery(true);
  engine.BindTransaction(filing, false);
  query->SetTransaction(filing);
  ASSERT_TRUE(engine.AddressClaims().TryClaim(FeedAddressKey(address), filing));
  query->SQL.Add("insert into feeds(type_,link,title,parentfeed,priority) values('RSS','" + address + "','L',0,0)");
  ExecQueryTimed(query, false);
  std::atomic<int32_t> added = 0;
  std::thread adding([&] { added = engine.AddFeed(u"Mine", address, u""); });
  // Waiting, or done without waiting (a second row stored).
  while (engine.AddressClaims().Waiting() == 0 && added == 0) std::this_thread::yield();
  filing->Commit();
  engine.AddressClaims().Release(filing);
  adding.join();
  ReleaseQuery(query);
  ReleaseTransaction(filing);
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where link='" + address + "'"), 1);
  EXPECT_EQ(added, FeedId(address));
}

// A new list subscribed as the application subscribes it (a feed row,
// fetched at once) at an address that answers 301 is merged at the address
// it moved to, within its host or to another.
TEST_F(OpmlSubscriptionTest, ANewListWhoseAddressAnswers301IsMergedWhereItMoved) {
  TestHttpServer elsewhere;
  const std::string localhost = "http://localhost:" + std::to_string(server.Port());
  std::vector<std::string> lists;
  lists.reserve(4);
  testing_support::TestHttpsServer secure(certificate, [&lists](httplib::SSLServer& https) {
    https.Get("/secure.opml", [&lists](const httplib::Request&, httplib::Response& response) {
      response.set_content(lists.back(), "text/x-opml");
    });
  });
  const struct {
    const char* shape;
    std::string target;
  } rows[] = {
      {"within its host", server.Url("/within.opml")},
      {"to another port", elsewhere.Url("/elsewhere.opml")},
      {"to another host name", localhost + "/named.opml"},
      {"from http to https", secure.Url("/secure.opml")},
  };
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shape);
    const std::string prefix = "/moved" + std::to_string(++n);
    lists.push_back(Opml("<title>Moved " + std::to_string(n) + "</title>",
                         Outline("One", server.Url(prefix + "/1.xml")) +
                             Outline("Two", server.Url(prefix + "/2.xml"))));
    const std::string target = row.target, path = target.substr(target.rfind('/'));
    for (TestHttpServer* s : {&server, &elsewhere}) {
      const std::string* body = &lists.back();
      s->Handle(path, [body](const RecordedRequest&, HttpConnection& c) {
        c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "text/x-opml"}}, *body));
      });
    }
    server.Handle(prefix + ".opml", [target](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(301, "Moved Permanently", {{"Location", target}}, ""));
    });
    processed.clear();
    const int32_t listId = AddAndFetch(prefix + ".opml");
    EXPECT_TRUE(Failures().empty()) << Failures()[0].second;
    EXPECT_EQ(FeedColumn("type_", listId), "OPML");
    EXPECT_EQ(FeedColumn("link", listId), target);
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds where parentfeed=" + std::to_string(listId)), 2);
    EXPECT_NE(ListFolder("Moved " + std::to_string(n)), nullptr);
  }
}

// A show stays subscribed while any list, or the listener, names it: named
// twice in one list (one address, or two spellings of it), named by two
// lists, or added by the listener. Each pass is a version of list 0 or 1;
// X is the show, x the same address spelled otherwise, Y and Z others.
TEST_F(OpmlSubscriptionTest, AShowStaysWhileAnyListOrTheListenerNamesIt) {
  const struct {
    const char* shape;
    std::vector<std::pair<int, std::string>> passes;
    bool listenerAdds;  // after the first pass
    bool subscribed;
  } rows[] = {
      {"named twice, the list changed", {{0, "XX"}, {0, "XXY"}}, false, true},
      {"named twice, one entry dropped", {{0, "XX"}, {0, "XY"}}, false, true},
      {"two spellings, the list changed", {{0, "Xx"}, {0, "XxY"}}, false, true},
      {"two spellings, one dropped", {{0, "Xx"}, {0, "xY"}}, false, true},
      {"two lists, the one that filed it drops it", {{0, "X"}, {1, "X"}, {0, "Y"}}, false, true},
      {"two lists, the other changes then", {{0, "X"}, {1, "X"}, {0, "Y"}, {1, "XZ"}}, false, true},
      {"added by the listener, the list drops it", {{0, "X"}, {0, "Y"}}, true, true},
      // The neighbours: nobody names it any more.
      {"named once, dropped", {{0, "X"}, {0, "Y"}}, false, false},
      {"named twice, both dropped", {{0, "XX"}, {0, "Y"}}, false, false},
      {"two lists, both drop it", {{0, "X"}, {1, "X"}, {0, "Y"}, {1, "Z"}}, false, false},
  };
  const std::string rss = "<rss version=\"2.0\"><channel><title>t</title><item><guid>g</guid></item></channel></rss>";
  std::vector<std::string> lists;
  lists.reserve(2 * std::size(rows));
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shape);
    const std::string prefix = "/k" + std::to_string(++n);
    for (const char* show : {"/~x/feed.xml", "/~y/feed.xml", "/~z/feed.xml"})
      ServeDocument(prefix + show, "application/rss+xml", rss);
    const auto address = [&](char show) {
      if (show == 'x') return server.Url(prefix + "/%7Ex/feed.xml");
      return server.Url(prefix + "/~" + std::string(1, static_cast<char>(std::tolower(show))) + "/feed.xml");
    };
    const size_t first = lists.size();
    for (int l = 0; l < 2; ++l) {
      lists.emplace_back();
      Serve(prefix + "/list" + std::to_string(l) + ".opml", &lists.back());
    }
    int32_t listIds[2] = {0, 0};
    for (size_t p = 0; p < row.passes.size(); ++p) {
      const int l = row.passes[p].first;
      std::string outlines;
      for (const char show : row.passes[p].second) outlines += Outline(std::string(1, show), address(show));
      lists[first + static_cast<size_t>(l)] =
          Opml("<title>K" + std::to_string(n) + "-" + std::to_string(l) + "</title>", outlines);
      if (listIds[l] < 1) {
        Subscribe(prefix + "/list" + std::to_string(l) + ".opml");
        listIds[l] = OpmlId(prefix + "/list" + std::to_string(l) + ".opml");
      } else {
        Pass(listIds[l]);
      }
      if (p == 0 && row.listenerAdds) engine.AddFeed(u"Mine", address('X'), u"");
    }
    // Each entry of the list that changed last keeps a filter of its own.
    const auto& last = row.passes.back();
    TFolder* folder = ListFolder("K" + std::to_string(n) + "-" + std::to_string(last.first));
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->FilterCount(), static_cast<int32_t>(last.second.size()));
    const std::string rowsOfX = " from feeds where link containing '" + prefix + "/~x/'";
    EXPECT_EQ(db.QueryInt64("select count(*)" + rowsOfX), 1);
    EXPECT_EQ(db.QueryInt64("select count(*)" + rowsOfX + " and link not starting with 'DELMARKED:' and skipfeed=0"),
              row.subscribed ? 1 : 0);
  }
}

// A feed whose address answers 301 to another stored feed's yields to it
// (skipfeed) only while that feed fetches the show: once it is
// unsubscribed, by the listener or by its list, or once the two 301s swap,
// the feed is due again and fetches the show.
TEST_F(OpmlSubscriptionTest, AFeedThatYieldedIsFetchedAgainOnceTheFeedItYieldedToIsGoneOrYields) {
  enum class TThen { kNothing, kListenerDeletes, kListDrops, kSwap };
  const struct {
    const char* shape;
    TThen then;
    bool skippedAfter;
  } rows[] = {
      {"the other feed is deleted by the listener", TThen::kListenerDeletes, false},
      {"the other feed is dropped by its list", TThen::kListDrops, false},
      {"the two 301s swap", TThen::kSwap, false},
      {"the other feed fetches on", TThen::kNothing, true},
  };
  std::vector<std::string> lists;
  lists.reserve(std::size(rows));
  std::vector<std::pair<std::string, std::string>> targets;
  targets.reserve(std::size(rows));
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shape);
    const std::string prefix = "/y" + std::to_string(++n);
    const std::string a = server.Url(prefix + "/a.xml"), b = server.Url(prefix + "/b.xml");
    // Where each address answers 301 to; none: it serves the show.
    targets.emplace_back(b, "");
    std::string& aTarget = targets.back().first;
    std::string& bTarget = targets.back().second;
    for (const char show : std::string("ab")) {
      const std::string* target = show == 'a' ? &aTarget : &bTarget;
      server.Handle(prefix + "/" + show + ".xml", [target](const RecordedRequest&, HttpConnection& c) {
        if (!target->empty()) {
          c.Send(TestHttpServer::Response(301, "Moved", {{"Location", *target}}, ""));
        } else {
          c.Send(TestHttpServer::Response(
              200, "OK", {{"Content-Type", "application/rss+xml"}},
              "<rss version=\"2.0\"><channel><title>t</title><item><guid>g</guid></item></channel></rss>"));
        }
      });
    }
    lists.push_back(Opml("<title>Y" + std::to_string(n) + "</title>", Outline("B", b)));
    Serve(prefix + "/list.opml", &lists.back());
    Subscribe(prefix + "/list.opml");
    const int32_t listId = OpmlId(prefix + "/list.opml");
    const int32_t bId = FeedId(b);
    const int32_t aId = engine.AddFeed(u"A", a, u"");
    Pass(bId);
    Pass(aId);
    ASSERT_EQ(FeedColumn("skipfeed", aId), "1");
    if (row.then == TThen::kListenerDeletes) engine.DeleteFeeds({bId}, true);
    if (row.then == TThen::kListDrops) {
      lists.back() = Opml("<title>Y" + std::to_string(n) + "</title>", "");
      Pass(listId);
      ASSERT_EQ(db.QueryInt64("select count(*) from feeds where link starting with 'DELMARKED:' and feed_id=" +
                              std::to_string(bId)),
                1);
    }
    if (row.then == TThen::kSwap) {
      aTarget.clear();
      bTarget = a;
      Pass(bId);
      EXPECT_EQ(FeedColumn("skipfeed", bId), "1");
    }
    EXPECT_EQ(FeedColumn("skipfeed", aId), row.skippedAfter ? "1" : "0");
    // Whoever is left fetches the show.
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds where skipfeed=0 and link not starting with 'DELMARKED:' and "
                            "feed_id in (" + std::to_string(aId) + "," + std::to_string(bId) + ")"),
              1);
    if (!row.skippedAfter) {
      const size_t before = server.RequestCount(prefix + "/a.xml");
      Pass(aId);
      EXPECT_EQ(server.RequestCount(prefix + "/a.xml"), before + 1);
    }
  }
}

// Two feeds whose 301s lead to one new address, fetched in one round: the
// one held at its address by its credentials (the 301 leaves their place)
// fetches the show through the 301, and the other yields to it as to a
// feed stored there, whichever is fetched first; the show is stored once.
TEST_F(OpmlSubscriptionTest, TwoFeedsMovingToOneAddressStoreTheShowOnceAlsoWhenOneIsHeldByItsCredentials) {
  TestHttpServer elsewhere;
  const struct {
    const char* shape;
    bool heldFirst;
  } rows[] = {
      {"the feed held by its credentials fetched first", true},
      {"the feed that moves fetched first", false},
  };
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shape);
    const std::string prefix = "/two" + std::to_string(++n);
    const std::string target = elsewhere.Url(prefix + "/z.xml");
    const std::string guid = "two-" + std::to_string(n);
    elsewhere.Handle(prefix + "/z.xml", [guid](const RecordedRequest&, HttpConnection& c) {
      c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}},
                                      "<rss version=\"2.0\"><channel><title>t</title><item><guid>" + guid +
                                          "</guid></item></channel></rss>"));
    });
    for (TestHttpServer* s : {&server, &elsewhere})
      s->Handle(prefix + "/old.xml", [target](const RecordedRequest&, HttpConnection& c) {
        c.Send(TestHttpServer::Response(301, "Moved Permanently", {{"Location", target}}, ""));
      });
    const std::string held = "http://ann:secret@" + server.Url(prefix + "/old.xml").substr(7);
    const int32_t heldId = engine.AddFeed(u"Held", held, u"");
    const int32_t movingId = engine.AddFeed(u"Moving", elsewhere.Url(prefix + "/old.xml"), u"");
    Pass(row.heldFirst ? heldId : movingId);
    Pass(row.heldFirst ? movingId : heldId);
    EXPECT_EQ(db.QueryInt64("select count(*) from articles where guid='" + guid + "'"), 1);
    EXPECT_EQ(db.QueryInt64("select count(*) from feeds where skipfeed=0 and feed_id in (" + std::to_string(heldId) +
                            "," + std::to_string(movingId) + ")"),
              1);
  }
}

// A list that gains one entry longer than a feed's address may be keeps
// the rest: the entry is skipped with a line naming it, the others are
// filed; one entry just as long as may be is filed.
TEST_F(OpmlSubscriptionTest, AnEntryTooLongForTheAddressColumnIsSkippedAndTheRestMerged) {
  const std::string start = server.Url("/long/");
  const auto ofLength = [&](size_t length) { return start + std::string(length - start.size() - 4, 'a') + ".xml"; };
  const std::string tooLong = ofLength(1010), longest = ofLength(1000);
  std::string list = Opml("<title>Long</title>", Outline("One", server.Url("/long1.xml")));
  Serve("/long.opml", &list);
  Subscribe("/long.opml");
  const int32_t listId = OpmlId("/long.opml");
  list = Opml("<title>Long</title>", Outline("One", server.Url("/long1.xml")) + Outline("Too long", tooLong) +
                                         Outline("Longest", longest) + Outline("Two", server.Url("/long2.xml")));
  processed.clear();
  ::testing::internal::CaptureStderr();
  Pass(listId);
  const std::string told = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(Failures().empty()) << Failures()[0].second;
  EXPECT_EQ(db.QueryInt64("select count(*) from feeds where parentfeed=" + std::to_string(listId)), 3);
  EXPECT_GT(FeedId(longest), 0);
  EXPECT_GT(FeedId(server.Url("/long2.xml")), 0);
  const size_t at = told.find(tooLong.substr(0, 40));
  ASSERT_NE(at, std::string::npos) << told;
  const std::string line = told.substr(told.rfind('\n', at) + 1, told.find('\n', at) - told.rfind('\n', at) - 1);
  EXPECT_NE(line.find("skipped"), std::string::npos) << line;
  EXPECT_LT(line.size(), 200u) << "shortened: " << line;
  EXPECT_EQ(FilterNames(ListFolder("Long")).size(), 3u);
}

}  // namespace
}  // namespace tidewell
