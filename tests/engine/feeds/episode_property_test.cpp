// SPDX-License-Identifier: MIT
// Podcast-shaped documents, changed the way publishers change them between
// two fetches, stored twice on a real database: what must not make a new
// episode makes none, what must makes exactly one, and a deleted article
// stays deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/model/articles.h"
#include "feed_test_worker.h"

namespace tidewell {
namespace {

using feeds_testing::FeedTestWorker;

enum class LinkShape { own, show, none };
enum class FileShape { mp3, script, extensionless, fixed };
enum class LengthShape { known, none, zero };

struct Shape {
  bool atom = false;
  bool keyed = false;
  LinkShape link = LinkShape::own;
  FileShape file = FileShape::mp3;
  LengthShape length = LengthShape::known;
  bool dated = false;
  bool tokened = false;
  int count = 1;
};

struct Item {
  std::string guid, title, link, text, host = "http://media.example", path, token;
  int number = 0;
  LengthShape length = LengthShape::known;
  int day = 0;  // 0: no date
  bool cdata = false;
  std::string extraPath;  // a second enclosure's
  bool rezoned = false;   // dates in another zone
  int lengthExtra = 0;    // a file corrected at its address
};

struct Document {
  bool atom = false;
  std::vector<Item> items;
};

const char* const kWords[] = {"harbour", "lighthouse", "tide", "moon", "ferry", "storm", "gull", "anchor"};

std::string FilePath(FileShape shape, int number) {
  switch (shape) {
    case FileShape::mp3: return "/show/ep" + std::to_string(number) + ".mp3";
    case FileShape::script: return "/download.php?id=" + std::to_string(number);
    case FileShape::extensionless: return "/media/ep" + std::to_string(number);
    case FileShape::fixed: return number == 99 ? "/latest-next.mp3" : "/latest.mp3";
  }
  return {};
}

Item MakeItem(const Shape& shape, int number, std::mt19937& random) {
  Item item;
  item.number = number;
  const std::string word = kWords[random() % 8];
  if (shape.keyed) item.guid = "urn:episode:" + std::to_string(number) + "-" + word;
  item.title = "Episode " + std::to_string(number) + ": the " + word + " story";
  if (shape.link == LinkShape::own) item.link = "http://show.example/episodes/" + std::to_string(number);
  if (shape.link == LinkShape::show) item.link = "http://show.example/";
  item.text = "Notes on the " + word + ". Played 3 times, 3 hours ago";
  item.path = FilePath(shape.file, number);
  if (shape.tokened) item.token = "t" + std::to_string(random() % 1000);
  item.length = shape.length;
  if (shape.dated) item.day = number % 28 + 1;
  return item;
}

Document MakeDocument(const Shape& shape, std::mt19937& random) {
  Document document;
  document.atom = shape.atom;
  for (int i = 0; i < shape.count; ++i) document.items.push_back(MakeItem(shape, 10 + i, random));
  return document;
}

std::string Wrapped(const std::string& text, bool cdata) { return cdata ? "<![CDATA[\n   " + text + "  \n]]>" : text; }

std::string FileUrl(const Item& item) {
  std::string url = item.host + item.path;
  if (!item.token.empty()) url += (url.find('?') == std::string::npos ? "?" : "&amp;") + ("token=" + item.token);
  return url;
}

std::string LengthAttribute(const Item& item) {
  if (item.length == LengthShape::none) return "";
  const int length = 1000 + item.number * 7 + item.lengthExtra;
  return " length=\"" + (item.length == LengthShape::zero ? std::string("0") : std::to_string(length)) + "\"";
}

std::string Date(const Item& item, bool atom) {
  const std::string day = (item.day < 10 ? "0" : "") + std::to_string(item.day);
  if (atom) return "<published>2026-11-" + day + (item.rezoned ? "T07:00:00+01:00" : "T06:00:00Z") + "</published>";
  return "<pubDate>" + day + " Nov 2026 " + (item.rezoned ? "07:00:00 +0100" : "06:00:00 GMT") + "</pubDate>";
}

std::string RenderItem(const Item& item, bool atom) {
  std::string xml = atom ? "<entry>" : "<item>";
  if (!item.guid.empty()) xml += atom ? "<id>" + item.guid + "</id>" : "<guid>" + item.guid + "</guid>";
  xml += "<title>" + Wrapped(item.title, item.cdata) + "</title>";
  if (!item.link.empty()) xml += atom ? "<link href=\"" + item.link + "\"/>" : "<link>" + item.link + "</link>";
  xml += atom ? "<summary>" + Wrapped(item.text, item.cdata) + "</summary>"
              : "<description>" + Wrapped(item.text, item.cdata) + "</description>";
  if (item.day > 0) xml += Date(item, atom);
  for (const std::string& path : {item.path, item.extraPath}) {
    if (path.empty()) continue;
    Item file = item;
    file.path = path;
    if (atom)
      xml += "<link rel=\"enclosure\" type=\"audio/mpeg\" href=\"" + FileUrl(file) + "\"" + LengthAttribute(item) + "/>";
    else
      xml += "<enclosure url=\"" + FileUrl(file) + "\"" + LengthAttribute(item) + " type=\"audio/mpeg\"/>";
  }
  return xml + (atom ? "</entry>" : "</item>");
}

std::string Render(const Document& document) {
  std::string items;
  for (const Item& item : document.items) items += RenderItem(item, document.atom);
  if (document.atom)
    return "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Show</title>"
           "<link href=\"http://show.example/\"/>" + items + "</feed>";
  return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Show</title><link>http://show.example/</link>"
         "<description>A show</description>" +
         items + "</channel></rss>";
}

void ForEachItem(Document& document, const std::function<void(Item&)>& change) {
  for (Item& item : document.items) change(item);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// What a change touches that an article deleted unheard could have been
// told by: its texts.
struct Change {
  const char* name;
  bool touchesTexts;
  std::function<void(Document&)> apply;
};

void AddToken(Document& d) {
  ForEachItem(d, [](Item& item) { item.token = item.token.empty() ? "fresh" : item.token + "x"; });
}
void CountAgain(Document& d) {
  ForEachItem(d, [](Item& item) { item.text = Replaced(Replaced(item.text, "3 times", "4 times"), "3 hours", "4 hours"); });
}
void UpperCaseTitles(Document& d) {
  ForEachItem(d, [](Item& item) {
    std::transform(item.title.begin(), item.title.end(), item.title.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  });
}
void MoveHost(Document& d) {
  ForEachItem(d, [](Item& item) { item.host = "https://cdn.example.net"; });
}
void Rewrap(Document& d) {
  ForEachItem(d, [](Item& item) { item.cdata = true; });
}

const std::vector<Change> kSameEpisodes = {
    {"token added or rotated", false, AddToken},
    {"counter in every text", true, CountAgain},
    {"every title upper-cased", true, UpperCaseTitles},
    {"one typo in a title corrected", true,
     [](Document& d) {
       std::string& title = d.items.front().title;
       std::swap(title[1], title[2]);  // "Episode" and "Eipsode"
     }},
    {"every file moved to another host", false, MoveHost},
    {"length dropped", false, [](Document& d) { ForEachItem(d, [](Item& item) { item.length = LengthShape::none; }); }},
    {"length set to 0", false, [](Document& d) { ForEachItem(d, [](Item& item) { item.length = LengthShape::zero; }); }},
    {"length set to a value", false,
     [](Document& d) { ForEachItem(d, [](Item& item) { item.length = LengthShape::known; }); }},
    {"items reversed", false, [](Document& d) { std::reverse(d.items.begin(), d.items.end()); }},
    {"texts re-wrapped in CDATA and white space", true, Rewrap},
    {"token and counter", true,
     [](Document& d) {
       AddToken(d);
       CountAgain(d);
     }},
    {"host moved and items reversed", false,
     [](Document& d) {
       MoveHost(d);
       std::reverse(d.items.begin(), d.items.end());
     }},
    {"titles upper-cased and re-wrapped", true,
     [](Document& d) {
       UpperCaseTitles(d);
       Rewrap(d);
     }},
};

Item NextEpisode(const Document& d, FileShape file) {
  Item item = d.items.front();
  item.number = 99;
  if (!item.guid.empty()) item.guid = "urn:episode:99";
  item.title = "Episode 99: the next story";
  item.text = "Notes on what comes next. Played 0 times, just now";
  if (!item.link.empty() && item.link != "http://show.example/") item.link = "http://show.example/episodes/99";
  item.path = FilePath(file, 99);
  item.day = 28;
  return item;
}

struct NewEpisodeChange {
  const char* name;
  std::function<void(Document&, FileShape)> apply;
};

const std::vector<NewEpisodeChange> kNewEpisodes = {
    {"a new item before the first",
     [](Document& d, FileShape file) { d.items.insert(d.items.begin(), NextEpisode(d, file)); }},
    {"a new item with the first one's title, link and text, without guid",
     [](Document& d, FileShape file) {
       Item item = NextEpisode(d, file);
       item.guid.clear();
       item.title = d.items.front().title;
       item.link = d.items.front().link;
       item.text = d.items.front().text;
       d.items.insert(d.items.begin(), item);
     }},
    {"the list replaced by one new item", [](Document& d, FileShape file) { d.items = {NextEpisode(d, file)}; }},
};

Shape ShapeOf(uint32_t seed) {
  std::mt19937 random(seed);
  Shape shape;
  shape.atom = random() % 2 == 0;
  shape.keyed = random() % 2 == 0;
  shape.link = static_cast<LinkShape>(random() % 3);
  shape.file = static_cast<FileShape>(random() % 4);
  shape.length = static_cast<LengthShape>(random() % 3);
  shape.dated = random() % 2 == 0;
  shape.tokened = random() % 3 == 0;
  shape.count = random() % 3 == 0 ? 1 : 4;
  return shape;
}

// An item without key that is told from the other episodes only by its
// title: a corrected title is a new episode there, since a missed episode
// costs more than a copy.
bool OnlyItsTitleTells(const Shape& shape) {
  const bool ownLink = shape.link == LinkShape::own || (shape.link == LinkShape::show && shape.count == 1);
  const bool ownFile = shape.file != FileShape::fixed || shape.count == 1;
  return !shape.keyed && !ownLink && !ownFile && !shape.dated;
}

// Deleted unheard, an article without key keeps neither title nor files:
// a change of its texts finds it only by its own link or date.
bool DeletionLeavesNothingToFind(const Shape& shape) {
  const bool ownLink = shape.link == LinkShape::own || (shape.link == LinkShape::show && shape.count == 1);
  return !shape.keyed && !ownLink && !shape.dated;
}


// --- A model of the publisher -----------------------------------------------
// The model holds the truth (which episodes exist, which file each has),
// renders the documents a publisher would send after random changes, and
// plays a listener who downloads what is new and deletes episodes heard and
// unheard. After each step: every episode's file was fetched once unless the
// listener deleted it first, nothing deleted comes back, and no row is
// "downloaded" whose file was never fetched.

struct TruthEpisode {
  int number = 0;
  std::string guid;  // empty: the episode has none; "{scheme}" stands for the feed's
  std::string word;
  bool upper = false, typo = false;
  int edits = 0;
  int day = 0;
  int lengthExtra = 0;
  std::string file, extraFile;  // names under the path prefix
  bool shown = true;
  bool deleted = false;  // by the listener
};

struct Publisher {
  bool atom = false, keyed = false, fixed = false, dated = false, lengths = true, rezoned = false, reversed = false;
  LinkShape link = LinkShape::own;
  size_t window = 3;
  std::string scheme = "http", host = "media.example", prefix = "/show/", analytics, token;
  std::vector<TruthEpisode> episodes;  // oldest first
  int next = 10;

  std::vector<const TruthEpisode*> Shown() const {
    std::vector<const TruthEpisode*> shown;
    for (auto e = episodes.rbegin(); e != episodes.rend() && shown.size() < window; ++e)
      if (e->shown) shown.push_back(&*e);
    if (reversed) std::reverse(shown.begin(), shown.end());
    return shown;
  }
  const TruthEpisode* Newest() const {
    for (auto e = episodes.rbegin(); e != episodes.rend(); ++e)
      if (e->shown) return &*e;
    return nullptr;
  }
  TruthEpisode* Newest() { return const_cast<TruthEpisode*>(std::as_const(*this).Newest()); }
  std::string Title(const TruthEpisode& e) const {
    std::string title = std::string(e.typo ? "Epsiode " : "Episode ") + std::to_string(e.number) + ": the " + e.word;
    if (e.upper) std::transform(title.begin(), title.end(), title.begin(), [](unsigned char c) { return std::toupper(c); });
    return title;
  }
  Item ItemOf(const TruthEpisode& e) const {
    Item item;
    item.number = e.number;
    item.guid = Replaced(e.guid, "{scheme}", scheme);
    item.title = Title(e);
    if (link != LinkShape::none)
      item.link = scheme + "://show.example/" + (link == LinkShape::own ? "episodes/" + std::to_string(e.number) : "");
    item.text = "Notes on the " + e.word + ". Played " + std::to_string(e.edits) + " times";
    item.host = scheme + "://" + (analytics.empty() ? "" : analytics + "/") + host;
    item.path = prefix + e.file;
    if (!e.extraFile.empty()) item.extraPath = prefix + e.extraFile;
    item.token = token;
    item.length = lengths ? LengthShape::known : LengthShape::none;
    item.day = dated ? e.day : 0;
    item.rezoned = rezoned;
    item.lengthExtra = e.lengthExtra;
    return item;
  }
  std::string Render() const {
    Document document{atom, {}};
    for (const TruthEpisode* e : Shown()) document.items.push_back(ItemOf(*e));
    return tidewell::Render(document);
  }
  // The episode whose file an enclosure URL names now: at a fixed address,
  // the newest.
  const TruthEpisode* EpisodeOfUrl(const std::string& url) const {
    const std::string path = url.substr(0, url.find('?'));
    const std::string name = path.substr(path.rfind('/') + 1);
    if (fixed) return name == "latest.mp3" ? Newest() : nullptr;
    for (const TruthEpisode& e : episodes)
      if (name == e.file || name == e.extraFile) return &e;
    return nullptr;
  }
  // A file's identity in the truth.
  static std::string FileId(const TruthEpisode& e, const std::string& name) { return std::to_string(e.number) + "/" + name; }

  TruthEpisode& Publish(std::mt19937& random) {
    TruthEpisode e;
    e.number = next++;
    e.word = kWords[random() % 8];
    if (keyed) e.guid = "{scheme}://show.example/guid/" + std::to_string(e.number);
    e.day = e.number % 28 + 1;
    e.file = fixed ? "latest.mp3" : "ep" + std::to_string(e.number) + ".mp3";
    episodes.push_back(e);
    return episodes.back();
  }
};

struct ModelChange {
  const char* name;
  std::function<bool(const Publisher&)> applies;
  std::function<void(Publisher&, std::mt19937&)> apply;
};

TruthEpisode& AnyShown(Publisher& p, std::mt19937& random) {
  std::vector<const TruthEpisode*> shown = p.Shown();
  return *const_cast<TruthEpisode*>(shown[random() % shown.size()]);
}

const auto kAlways = [](const Publisher&) { return true; };

const std::vector<ModelChange> kModelChanges = {
    {"token", kAlways, [](Publisher& p, std::mt19937& r) { p.token = "t" + std::to_string(r() % 1000); }},
    {"host", kAlways, [](Publisher& p, std::mt19937& r) { p.host = "cdn" + std::to_string(r() % 100) + ".example"; }},
    {"path prefix", kAlways,
     [](Publisher& p, std::mt19937&) { p.prefix = p.prefix == "/show/" ? "/hosting/podcasts/show/" : "/show/"; }},
    {"https", kAlways, [](Publisher& p, std::mt19937&) { p.scheme = p.scheme == "http" ? "https" : "http"; }},
    {"analytics prefix", kAlways,
     [](Publisher& p, std::mt19937&) { p.analytics = p.analytics.empty() ? "stats.example/redirect.mp3" : ""; }},
    {"guids written or dropped", [](const Publisher& p) { return !p.atom; },
     [](Publisher& p, std::mt19937&) {
       p.keyed = !p.keyed;
       for (TruthEpisode& e : p.episodes) e.guid = p.keyed ? "{scheme}://show.example/guid/" + std::to_string(e.number) : "";
     }},
    {"title upper-cased", kAlways, [](Publisher& p, std::mt19937& r) { AnyShown(p, r).upper ^= true; }},
    {"title typo corrected or made", kAlways, [](Publisher& p, std::mt19937& r) { AnyShown(p, r).typo ^= true; }},
    {"description edited", kAlways, [](Publisher& p, std::mt19937& r) { ++AnyShown(p, r).edits; }},
    {"dates re-zoned", [](const Publisher& p) { return p.dated; }, [](Publisher& p, std::mt19937&) { p.rezoned ^= true; }},
    {"items reordered", kAlways, [](Publisher& p, std::mt19937&) { p.reversed ^= true; }},
    {"newest-N window", [](const Publisher& p) { return p.window > 1; },
     [](Publisher& p, std::mt19937& r) { p.window = 2 + r() % 3; }},
    {"lengths dropped or given", kAlways, [](Publisher& p, std::mt19937&) { p.lengths ^= true; }},
    {"file corrected at its address", kAlways, [](Publisher& p, std::mt19937& r) { AnyShown(p, r).lengthExtra += 3; }},
    {"enclosure added", [](const Publisher& p) { return !p.fixed; },
     [](Publisher& p, std::mt19937& r) {
       TruthEpisode& e = AnyShown(p, r);
       if (e.extraFile.empty()) e.extraFile = "ep" + std::to_string(e.number) + "-video.mp4";
     }},
};

// New episodes, the way publishers bring them.
const std::vector<ModelChange> kModelEpisodes = {
    {"new episode", kAlways, [](Publisher& p, std::mt19937& r) { p.Publish(r); }},
    // Not after the last one was deleted unheard: a date is all that finds
    // that one (see the rule's header).
    {"new episode with the last one's date",
     [](const Publisher& p) { return p.dated && p.window == 1 && !p.Shown().front()->deleted; },
     [](Publisher& p, std::mt19937& r) {
       const int day = p.Newest()->day;
       p.Publish(r).day = day;
     }},
    // After the last one was deleted, only a date tells the new one.
    {"new episode under the last one's guid",
     [](const Publisher& p) { return p.keyed && !p.fixed && p.window == 1 && (p.dated || !p.Shown().front()->deleted); },
     [](Publisher& p, std::mt19937& r) {
       const std::string guid = p.Newest()->guid;
       p.Publish(r).guid = guid;
     }},
    {"two episodes merged under the first one's guid",
     [](const Publisher& p) {
       const std::vector<const TruthEpisode*> shown = p.Shown();
       return p.keyed && !p.fixed && shown.size() >= 2 && !shown[0]->deleted && !shown[1]->deleted && !p.reversed;
     },
     [](Publisher& p, std::mt19937& r) {
       TruthEpisode* second = p.Newest();
       second->shown = false;
       TruthEpisode* first = p.Newest();
       first->shown = false;
       const std::string guid = first->guid;
       TruthEpisode& full = p.Publish(r);
       full.guid = guid;
       full.file = "ep" + std::to_string(full.number) + "-full.mp3";
     }},
    {"an episode split in two, part one under its guid",
     [](const Publisher& p) { return p.keyed && !p.fixed && !p.Newest()->deleted && !p.reversed; },
     [](Publisher& p, std::mt19937& r) {
       const std::string guid = p.Newest()->guid;
       p.Newest()->shown = false;
       TruthEpisode& one = p.Publish(r);
       one.guid = guid;
       one.file = "ep" + std::to_string(one.number) + "-part1.mp3";
       TruthEpisode& two = p.Publish(r);
       two.file = "ep" + std::to_string(two.number) + "-part2.mp3";
     }},
};

class EpisodePropertyTest : public ::testing::Test {
 protected:
  int64_t Count(int32_t feed, const std::string& what, const std::string& where = "") {
    return worker.db.QueryInt64("select count(*) from " + what + " where a.feed_id=" + std::to_string(feed) + where);
  }
  int64_t Articles(int32_t feed, const std::string& where = "") { return Count(feed, "articles a", where); }
  int64_t Rows(int32_t feed, const std::string& where = "") {
    return Count(feed, "enclosures e join articles a on a.id=e.article_id", where);
  }
  int32_t Store(const Document& document) {
    worker.Insert(Render(document), "http://show.example/feed/" + std::to_string(++feeds));
    const int32_t feed = worker.itemId;
    // Every episode heard.
    worker.db.Execute("update enclosures set download_status=2 where article_id in (select id from articles where "
                      "feed_id=" + std::to_string(feed) + ")");
    return feed;
  }
  void Delete(int32_t feed, const Item& item, bool heard) {
    const std::string ofItem = " where feed_id=" + std::to_string(feed) + " and title='" + item.title + "'";
    const int32_t id = static_cast<int32_t>(worker.db.QueryInt64("select min(id) from articles" + ofItem));
    ASSERT_GT(id, 0) << item.title;
    if (!heard) worker.db.Execute("update enclosures set download_status=0 where article_id=" + std::to_string(id));
    TTranWrapper transaction(&worker.db.Connection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    TArticles::DeleteArticles(&query, {id}, -1, false);
    transaction.Commit();
  }

  FeedTestWorker worker;
  int feeds = 0;
};

constexpr uint32_t kDocuments = 20;

TEST_F(EpisodePropertyTest, ChangesThatMakeNoEpisodeMakeNoneAndThoseThatMakeOneMakeOne) {
  int held = 0, tried = 0;
  for (uint32_t seed = 1; seed <= kDocuments; ++seed) {
    const Shape shape = ShapeOf(seed);
    std::mt19937 random(seed);
    const Document base = MakeDocument(shape, random);
    for (const Change& change : kSameEpisodes) {
      if (std::string(change.name).find("typo") != std::string::npos && OnlyItsTitleTells(shape)) continue;
      for (int deleted = 0; deleted < 3; ++deleted) {  // none, unheard, heard
        if (deleted == 1 && change.touchesTexts && DeletionLeavesNothingToFind(shape)) continue;
        SCOPED_TRACE(Render(base) + "\nchange: " + change.name + ", deleted: " + std::to_string(deleted));
        const int32_t feed = Store(base);
        if (deleted > 0) Delete(feed, base.items.front(), deleted == 2);
        const int64_t articles = Articles(feed), live = Articles(feed, " and a.deleted=0"), rows = Rows(feed);
        Document changed = base;
        change.apply(changed);
        worker.Update(feed, Render(changed));
        ++tried;
        const bool holds = Articles(feed) == articles && Articles(feed, " and a.deleted=0") == live &&
                           Rows(feed) == rows && Rows(feed, " and e.download_status<>2") == 0;
        EXPECT_TRUE(holds) << "articles " << articles << "->" << Articles(feed) << ", rows " << rows << "->"
                           << Rows(feed) << ", not downloaded " << Rows(feed, " and e.download_status<>2");
        held += holds ? 1 : 0;
      }
    }
    for (const NewEpisodeChange& change : kNewEpisodes) {
      SCOPED_TRACE(Render(base) + "\nchange: " + change.name);
      const int32_t feed = Store(base);
      const int64_t live = Articles(feed, " and a.deleted=0"), rows = Rows(feed);
      Document changed = base;
      change.apply(changed, shape.file);
      worker.Update(feed, Render(changed));
      ++tried;
      const bool holds = Articles(feed, " and a.deleted=0") == live + 1 && Rows(feed) == rows + 1 &&
                         Rows(feed, " and e.download_status<>2") == 1 && worker.items == 1;
      EXPECT_TRUE(holds) << "live " << live << "->" << Articles(feed, " and a.deleted=0") << ", rows " << rows
                         << "->" << Rows(feed) << ", new " << worker.items;
      held += holds ? 1 : 0;
    }
  }
  std::cout << "[ property ] " << kDocuments << " documents, " << tried << " document x change runs, " << held
            << " held\n";
}


// What the listener last saw of an episode, and of the feed then.
struct Seen {
  std::string prefix, analytics, title, guid;
  bool keyed = false, lengths = false;
  int edits = 0, lengthExtra = 0;
};

Seen SeenOf(const Publisher& p, const TruthEpisode& e) {
  return {p.prefix, p.analytics, p.Title(e), p.keyed ? e.guid : "", p.keyed, p.lengths, e.edits, e.lengthExtra};
}

// Whether the rule's header allows a copy of an episode (or its coming
// back) since it was last seen: a file moved (or corrected with another
// length) while its texts changed, or where no date tells; a corrected
// title where only the title tells; its guid dropped or replaced while its
// texts changed; an episode deleted unheard that nothing finds (no key,
// own link or date).
bool CopyAllowed(const Publisher& p, const TruthEpisode& e, const Seen& seen) {
  const bool moved = seen.prefix != p.prefix || seen.analytics != p.analytics ||
                     (seen.lengths && p.lengths && seen.lengthExtra != e.lengthExtra);
  const bool texts = seen.title != p.Title(e) || seen.edits != e.edits;
  const bool keyless = !seen.keyed || !p.keyed;
  const bool nothingElseTells = keyless && !p.dated && p.link != LinkShape::own;
  return (moved && (texts || !p.dated)) || (texts && nothingElseTells && p.fixed) ||
         (texts && seen.keyed && (!p.keyed || seen.guid != e.guid)) || (e.deleted && nothingElseTells);
}

// The enclosure rows of a feed as the listener sees them.
struct ListenerRow {
  int32_t articleId = 0;
  bool live = true, downloaded = false;
  std::string url;
};

class EpisodeModelTest : public EpisodePropertyTest {
 protected:
  std::vector<ListenerRow> RowsOf(int32_t feed) {
    TTranWrapper transaction(&worker.db.Connection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    query.SQL.Add("select e.article_id,a.deleted,coalesce(e.download_status,0),e.url_ from enclosures e join articles a "
                  "on a.id=e.article_id where a.feed_id=" + std::to_string(feed) + " order by e.enclosure_id");
    ExecQueryTimed(&query, true);
    std::vector<ListenerRow> rows;
    for (; !query.Eof(); query.Next())
      rows.push_back({query.Fields(0).AsInteger(), query.Fields(1).AsInteger() == 0, query.Fields(2).AsInteger() == 2,
                      query.Fields(3).AsString()});
    query.Close();
    transaction.Commit();
    return rows;
  }
  // The listener deletes the article of one row: its episodes are heard
  // or not as their rows say.
  void DeleteArticleOf(const ListenerRow& chosen, Publisher& p) {
    for (const ListenerRow& row : RowsOf(feed_))
      if (row.articleId == chosen.articleId)
        if (const TruthEpisode* e = p.EpisodeOfUrl(row.url)) const_cast<TruthEpisode*>(e)->deleted = true;
    TTranWrapper transaction(&worker.db.Connection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    TArticles::DeleteArticles(&query, {chosen.articleId}, -1, false);
    transaction.Commit();
  }
  // The listener deletes the article of the first live row heard (or not
  // heard); a copy deleted before its download is a copy all the same.
  std::string DeleteOne(Publisher& p, bool heard, std::map<int, Seen>& seen, std::string& log) {
    for (const ListenerRow& row : RowsOf(feed_)) {
      if (!row.live || row.downloaded != heard) continue;
      log += std::string(heard ? "deleted heard: " : "deleted unheard: ") + row.url + "\n";
      const TruthEpisode* e = p.EpisodeOfUrl(row.url);
      std::string faults;
      if (!heard && e != nullptr && fetched_[FetchedId(p, row.url)] > 0) {
        if (!copied_.count(e->number) && !CopyAllowed(p, *e, seen[e->number]))
          faults = "copied " + FetchedId(p, row.url) + "; ";
        copied_.insert(e->number);
      }
      DeleteArticleOf(row, p);
      return faults;
    }
    return "";
  }
  static std::string NameOf(const std::string& url) {
    const std::string path = url.substr(0, url.find('?'));
    return path.substr(path.rfind('/') + 1);
  }
  std::string FetchedId(const Publisher& p, const std::string& url) {
    const TruthEpisode* e = p.EpisodeOfUrl(url);
    return e ? Publisher::FileId(*e, NameOf(url)) : "unknown " + url;
  }
  // Downloads every new row: a fetch of a file fetched before, or of an
  // episode deleted, is a fault unless the step made it one of the copies
  // the rule allows.
  std::string DownloadNew(const Publisher& p, const std::map<int, Seen>& seen) {
    std::string faults;
    for (const ListenerRow& row : RowsOf(feed_)) {
      if (row.downloaded || !row.live) continue;
      const std::string id = FetchedId(p, row.url);
      const TruthEpisode* e = p.EpisodeOfUrl(row.url);
      const bool again = ++fetched_[id] > 1, deleted = e != nullptr && e->deleted;
      const auto last = e ? seen.find(e->number) : seen.end();
      if (!again && !deleted) continue;
      // Once copied as allowed, an episode has two articles to find it by.
      if (last != seen.end() && (copied_.count(e->number) || CopyAllowed(p, *e, last->second)))
        copied_.insert(e->number);
      else
        faults += (deleted ? "came back " : "copied ") + id + "; ";
    }
    worker.db.Execute("update enclosures set download_status=2 where article_id in (select id from articles where "
                      "feed_id=" + std::to_string(feed_) + ")");
    return faults;
  }
  // What was lost, or empty.
  std::string Check(const Publisher& p) {
    std::string faults;
    const std::vector<const TruthEpisode*> shownNow = p.Shown();
    for (const TruthEpisode& e : p.episodes) {
      std::vector<std::string> files = {e.file};
      if (!e.extraFile.empty()) files.push_back(e.extraFile);
      const bool shown = std::find(shownNow.begin(), shownNow.end(), &e) != shownNow.end();
      for (const std::string& name : files)
        if (shown && !e.deleted && fetched_[Publisher::FileId(e, name)] == 0)
          faults += "lost " + Publisher::FileId(e, name) + "; ";
    }
    for (const ListenerRow& row : RowsOf(feed_))
      if (row.downloaded && !p.fixed && fetched_[FetchedId(p, row.url)] == 0)
        faults += "downloaded, never fetched: " + row.url + "; ";
    return faults;
  }

  int32_t feed_ = 0;
  std::map<std::string, int> fetched_;
  std::set<int> copied_;
};

// Fewer sequences under the sanitizers, which run every step several
// times slower (GCC names them by macros, Clang by features).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TIDEWELL_MODEL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TIDEWELL_MODEL_SANITIZED 1
#endif
#endif
#ifdef TIDEWELL_MODEL_SANITIZED
constexpr uint32_t kModelSequences = 10;
#else
constexpr uint32_t kModelSequences = 100;
#endif
constexpr int kModelSteps = 8;

// One sequence's publisher, of a shape the seed draws, with three episodes;
// with a back catalogue, twenty older ones too that only the first document
// lists: the feed keeps many more articles than its documents show.
Publisher PublisherOf(std::mt19937& random, bool catalogue) {
  Publisher p;
  p.atom = random() % 2 == 0;
  p.keyed = !p.atom && random() % 2 == 0;
  p.link = static_cast<LinkShape>(random() % 3);
  p.fixed = random() % 4 == 0;
  p.dated = random() % 2 == 0;
  p.lengths = random() % 3 != 0;
  p.window = p.fixed || random() % 3 == 0 ? 1 : 3;
  std::mt19937 older(p.next);
  for (int i = 0; catalogue && !p.fixed && i < 20; ++i) p.Publish(older);
  for (int i = 0; i < 3; ++i) p.Publish(random);
  return p;
}

// One to four changes and, at times (always where only the latest is
// shown), a new episode; their names.
std::string ChangeRandomly(Publisher& p, std::mt19937& random) {
  std::string changes;
  const auto pick = [&](const std::vector<ModelChange>& from) {
    std::vector<const ModelChange*> applicable;
    for (const ModelChange& c : from)
      if (c.applies(p)) applicable.push_back(&c);
    const ModelChange* c = applicable[random() % applicable.size()];
    c->apply(p, random);
    changes += std::string(c->name) + "; ";
  };
  for (uint32_t n = 1 + random() % 4; n > 0; --n) pick(kModelChanges);
  if (p.window == 1 || random() % 2 == 0) pick(kModelEpisodes);
  return changes;
}

// What the listener has seen of the episodes shown; a row keeps the last
// length announced.
void Remember(const Publisher& p, std::map<int, Seen>& seen) {
  for (const TruthEpisode* e : p.Shown()) {
    const Seen last = seen.count(e->number) ? seen[e->number] : Seen{};
    seen[e->number] = SeenOf(p, *e);
    if (!p.lengths) std::tie(seen[e->number].lengths, seen[e->number].lengthExtra) = std::tie(last.lengths, last.lengthExtra);
  }
}

TEST_F(EpisodeModelTest, APublishersChangesInSequenceLoseNoEpisodeAndCopyNone) {
  int held = 0;
  for (uint32_t seed = 1; seed <= kModelSequences; ++seed) {
    std::mt19937 random(seed);
    Publisher p = PublisherOf(random, seed % 4 == 0);
    // The first document lists the back catalogue too.
    const size_t window = p.window, firstWindow = p.episodes.size() > 3 ? p.episodes.size() : window;
    fetched_.clear();
    copied_.clear();
    std::map<int, Seen> seen;
    std::string log, faults;
    for (int step = 0; step < kModelSteps && faults.empty(); ++step) {
      if (step == 0) p.window = firstWindow;
      const std::string changes = step > 0 ? ChangeRandomly(p, random) : "";
      const std::string document = p.Render();
      log += "step " + std::to_string(step) + ": " + changes + "\n" + document + "\n";
      if (step == 0) {
        worker.Insert(document, "http://show.example/model/" + std::to_string(seed));
        feed_ = worker.itemId;
      } else {
        worker.Update(feed_, document);
      }
      if (random() % 6 == 0) faults += DeleteOne(p, false, seen, log);
      faults += DownloadNew(p, seen);
      Remember(p, seen);
      if (random() % 6 == 0) faults += DeleteOne(p, true, seen, log);
      faults += Check(p);
      if (step == 0) p.window = window;
      held += faults.empty() ? 1 : 0;
    }
    EXPECT_TRUE(faults.empty()) << "seed " << seed << ": " << faults << "\n" << log;
  }
  std::cout << "[ model ] " << kModelSequences << " sequences x " << kModelSteps << " steps, " << held
            << " steps held\n";
}

}  // namespace
}  // namespace tidewell
