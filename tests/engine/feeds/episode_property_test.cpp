// SPDX-License-Identifier: MIT
// Podcast-shaped documents, changed the way publishers change them between
// two fetches, stored twice on a real database: what must not make a new
// episode makes none, what must makes exactly one, and a deleted article
// stays deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
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

enum class LinkShape { own, show, none, page };  // page: a show page, not the channel's link
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
  bool oneLength = false;  // every file announces the same length
  int64_t when = 0;        // a date to the second (seconds since 1970), in place of day
  bool updatedOnly = false;  // Atom: the entry's date is its updated
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
  const int length = (item.oneLength ? 4096000 : 1000 + item.number * 7) + item.lengthExtra;
  return " length=\"" + (item.length == LengthShape::zero ? std::string("0") : std::to_string(length)) + "\"";
}

std::string DateToTheSecond(const Item& item, bool atom) {
  const time_t seconds = static_cast<time_t>(item.when + (item.rezoned ? 3600 : 0));
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  if (atom) {
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    const std::string element = item.updatedOnly ? "updated" : "published";
    return "<" + element + ">" + text + (item.rezoned ? "+01:00" : "Z") + "</" + element + ">";
  }
  std::strftime(text, sizeof text, "%d %b %Y %H:%M:%S", &parts);
  return std::string("<pubDate>") + text + (item.rezoned ? " +0100" : " GMT") + "</pubDate>";
}

std::string Date(const Item& item, bool atom) {
  if (item.when != 0) return DateToTheSecond(item, atom);
  const std::string day = (item.day < 10 ? "0" : "") + std::to_string(item.day);
  if (atom) return "<published>2026-11-" + day + (item.rezoned ? "T07:00:00+01:00" : "T06:00:00Z") + "</published>";
  return "<pubDate>" + day + " Nov 2026 " + (item.rezoned ? "07:00:00 +0100" : "06:00:00 GMT") + "</pubDate>";
}

std::string RenderItem(const Item& item, bool atom) {
  std::string xml = atom ? "<entry>" : "<item>";
  if (!item.guid.empty()) xml += atom ? "<id>" + item.guid + "</id>" : "<guid>" + item.guid + "</guid>";
  if (!item.title.empty()) xml += "<title>" + Wrapped(item.title, item.cdata) + "</title>";
  if (!item.link.empty()) xml += atom ? "<link href=\"" + item.link + "\"/>" : "<link>" + item.link + "</link>";
  xml += atom ? "<summary>" + Wrapped(item.text, item.cdata) + "</summary>"
              : "<description>" + Wrapped(item.text, item.cdata) + "</description>";
  if (item.day > 0 || item.when != 0) xml += Date(item, atom);
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
//
// Habits: what some publishers do and others do not. A sequence runs with
// one habit (or none) on top of the shape its seed draws.

enum class Habit {
  none,
  genericNames,       // one file name (audio.mp3) in a folder per episode: /ep/123/audio.mp3
  datedFolders,       // /media/2026-12-08/news.mp3
  dottedFolders,      // /2026.12.08/news.mp3, /v1.12/audio.mp3
  equalLengths,       // a generic name and one announced length for every file
  sharedTexts,        // every episode titled and described alike ("Morning briefing")
  restampedDates,     // dates stamped at each fetch
  shiftedHour,        // every date shifted by an hour
  rebuiltGuids,       // guids rebuilt at each fetch
  oneGuid,            // one guid on every item (the site's address)
  listedTwice,        // an item listed twice in one document
  atomKeyedUpdated,   // Atom with ids, entries dated by updated only
  showPage,           // every item links to a show page that is not the channel's link
  enclosureRemoved,   // an enclosure withdrawn and put back
  reuploaded,         // a file re-uploaded under another name
  noTitle,            // items without title
  noEnclosure,        // items without enclosure between the episodes
  failedDownload,     // a download that fails or does not finish
  purge,              // the listener purges an article
  deleteAgain,        // the listener deletes again what came back
  catalogue,          // a back catalogue in the thousands
};

const char* NameOf(Habit habit) {
  switch (habit) {
    case Habit::none: return "none";
    case Habit::genericNames: return "genericNames";
    case Habit::datedFolders: return "datedFolders";
    case Habit::dottedFolders: return "dottedFolders";
    case Habit::equalLengths: return "equalLengths";
    case Habit::sharedTexts: return "sharedTexts";
    case Habit::restampedDates: return "restampedDates";
    case Habit::shiftedHour: return "shiftedHour";
    case Habit::rebuiltGuids: return "rebuiltGuids";
    case Habit::oneGuid: return "oneGuid";
    case Habit::listedTwice: return "listedTwice";
    case Habit::atomKeyedUpdated: return "atomKeyedUpdated";
    case Habit::showPage: return "showPage";
    case Habit::enclosureRemoved: return "enclosureRemoved";
    case Habit::reuploaded: return "reuploaded";
    case Habit::noTitle: return "noTitle";
    case Habit::noEnclosure: return "noEnclosure";
    case Habit::failedDownload: return "failedDownload";
    case Habit::purge: return "purge";
    case Habit::deleteAgain: return "deleteAgain";
    case Habit::catalogue: return "catalogue";
  }
  return "?";
}

// The model's dates: day 1 of the model's month, and 2020-01-01 for the
// long catalogues (seconds since 1970).
constexpr int64_t kNovember2026 = 1793491200;  // 2026-11-01T00:00:00Z
constexpr int64_t kYear2020 = 1577836800;      // 2020-01-01T00:00:00Z
constexpr int64_t kHour = 3600, kDay = 86400;

struct TruthEpisode {
  int number = 0;
  std::string guid;  // empty: the episode has none; "{scheme}" stands for the feed's
  std::string word;
  bool upper = false, typo = false;
  int edits = 0;
  int day = 0;
  int lengthExtra = 0;
  std::string folder;  // "" or a folder of its own ("ep/12/")
  std::string file, extraFile;  // names under the path prefix and folder
  std::vector<std::string> formerFiles;  // names it had (with folder), re-uploaded since
  bool hasFile = true;  // false: the item carries no enclosure
  bool titled = true;
  bool shown = true;
  bool deleted = false;  // by the listener
  bool purged = false;   // deleted unheard by a purge: nothing of it is kept
};

struct Publisher {
  bool atom = false, keyed = false, fixed = false, dated = false, lengths = true, rezoned = false, reversed = false;
  LinkShape link = LinkShape::own;
  size_t window = 3;
  std::string scheme = "http", host = "media.example", prefix = "/show/", analytics, token;
  std::vector<TruthEpisode> episodes;  // oldest first
  int next = 10;
  // Habits.
  Habit habit = Habit::none;
  std::string genericName;  // every file's name, in a folder per episode
  int folderStyle = 0;      // ep/12/, media/2026-12-08/, 2026.12.08/, v1.12/
  bool oneLength = false, sharedTexts = false, rebuiltGuids = false, oneGuid = false, updatedOnly = false;
  bool longDates = false;   // a date per day from 2020 (catalogues in the thousands)
  int stamp = 0;            // 1: every date moved at each fetch; 2: every item dated at the fetch
  int hourShift = 0;
  int fetch = 0;            // the fetches so far
  int twice = 0;            // the number of an episode listed twice

  bool Keyed() const { return keyed && !oneGuid; }
  // Dates that tell episodes apart: not stamped by the fetch, not an
  // Atom entry's updated.
  bool DatesTell() const { return dated && stamp == 0 && !updatedOnly; }
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
    if (!e.titled) return "";
    std::string title = sharedTexts ? std::string(e.typo ? "Mornign briefing" : "Morning briefing")
                                    : std::string(e.typo ? "Epsiode " : "Episode ") + std::to_string(e.number) +
                                          ": the " + e.word;
    if (e.upper) std::transform(title.begin(), title.end(), title.begin(), [](unsigned char c) { return std::toupper(c); });
    return title;
  }
  std::string Text(const TruthEpisode& e) const {
    return "Notes on the " + (sharedTexts ? std::string("day's news") : e.word) + ". Played " +
           std::to_string(e.edits) + " times";
  }
  std::string GuidOf(const TruthEpisode& e) const {
    if (!keyed) return "";
    if (oneGuid) return "{scheme}://show.example/";
    if (rebuiltGuids) return "urn:uuid:" + std::to_string(fetch * 7919 + e.number) + "-" + std::to_string(fetch);
    return e.guid;
  }
  // The episode's own date, as seconds, where a habit dates it to the
  // second; 0 where the day tells.
  int64_t When(const TruthEpisode& e) const {
    if (stamp == 0 && hourShift == 0 && !updatedOnly && !longDates) return 0;
    int64_t when = (longDates ? kYear2020 + e.day * kDay : kNovember2026 + (e.day - 1) * kDay) + 6 * kHour;
    if (stamp == 1) when += fetch * 5 * kHour;
    if (stamp == 2) when = kNovember2026 + 37 * kDay + fetch * kHour;
    if (updatedOnly) when += e.edits * 60;  // updated moves with every edit
    return when + hourShift * kHour;
  }
  Item ItemOf(const TruthEpisode& e) const {
    Item item;
    item.number = e.number;
    item.guid = Replaced(GuidOf(e), "{scheme}", scheme);
    item.title = Title(e);
    if (link == LinkShape::own) item.link = scheme + "://show.example/episodes/" + std::to_string(e.number);
    if (link == LinkShape::show) item.link = scheme + "://show.example/";
    if (link == LinkShape::page) item.link = scheme + "://show.example/the-show";
    item.text = Text(e);
    item.host = scheme + "://" + (analytics.empty() ? "" : analytics + "/") + host;
    if (e.hasFile) item.path = prefix + e.folder + e.file;
    if (e.hasFile && !e.extraFile.empty()) item.extraPath = prefix + e.folder + e.extraFile;
    item.token = token;
    item.length = lengths ? LengthShape::known : LengthShape::none;
    item.oneLength = oneLength;
    item.day = dated ? e.day : 0;
    item.when = dated ? When(e) : 0;
    item.updatedOnly = updatedOnly;
    item.rezoned = rezoned;
    item.lengthExtra = e.lengthExtra;
    return item;
  }
  std::string Render() const {
    Document document{atom, {}};
    for (const TruthEpisode* e : Shown()) document.items.push_back(ItemOf(*e));
    for (const TruthEpisode* e : Shown())
      if (e->number == twice) document.items.push_back(ItemOf(*e));
    return tidewell::Render(document);
  }
  // The names of an episode's files now (with their folder).
  static std::vector<std::string> FilesOf(const TruthEpisode& e) {
    std::vector<std::string> files;
    if (!e.hasFile) return files;
    files.push_back(e.folder + e.file);
    if (!e.extraFile.empty()) files.push_back(e.folder + e.extraFile);
    return files;
  }
  // The episode whose file an enclosure URL names now, and that file's
  // name; at a fixed address, the newest.
  std::pair<const TruthEpisode*, std::string> FileOfUrl(const std::string& url) const {
    const std::string path = url.substr(0, url.find('?'));
    const auto endsWith = [&](const std::string& name) {
      return path.size() > name.size() && path.compare(path.size() - name.size() - 1, std::string::npos, "/" + name) == 0;
    };
    if (fixed) return {endsWith("latest.mp3") ? Newest() : nullptr, "latest.mp3"};
    for (const TruthEpisode& e : episodes) {
      std::vector<std::string> names = {e.folder + e.file};
      if (!e.extraFile.empty()) names.push_back(e.folder + e.extraFile);
      names.insert(names.end(), e.formerFiles.begin(), e.formerFiles.end());
      for (const std::string& name : names)
        if (endsWith(name)) return {&e, name};
    }
    return {nullptr, ""};
  }
  const TruthEpisode* EpisodeOfUrl(const std::string& url) const { return FileOfUrl(url).first; }
  // A file's identity in the truth.
  static std::string FileId(const TruthEpisode& e, const std::string& name) { return std::to_string(e.number) + "/" + name; }

  std::string FolderOf(int number) const {
    if (genericName.empty()) return "";
    const time_t seconds = static_cast<time_t>(kYear2020 + number * kDay);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char date[32];
    switch (folderStyle) {
      case 1: std::strftime(date, sizeof date, "media/%Y-%m-%d/", &parts); return date;
      case 2: std::strftime(date, sizeof date, "%Y.%m.%d/", &parts); return date;
      case 3: return "v1." + std::to_string(number) + "/";
      default: return "ep/" + std::to_string(number) + "/";
    }
  }
  TruthEpisode& Publish(std::mt19937& random) {
    TruthEpisode e;
    e.number = next++;
    e.word = kWords[random() % 8];
    if (keyed) e.guid = "{scheme}://show.example/guid/" + std::to_string(e.number);
    e.day = longDates ? e.number : e.number % 28 + 1;
    e.folder = fixed ? "" : FolderOf(e.number);
    e.file = fixed ? "latest.mp3" : !genericName.empty() ? genericName : "ep" + std::to_string(e.number) + ".mp3";
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
    // The habits' own changes.
    {"every date shifted by an hour", [](const Publisher& p) { return p.habit == Habit::shiftedHour; },
     [](Publisher& p, std::mt19937& r) { p.hourShift += r() % 2 == 0 ? 1 : -1; }},
    {"an item listed twice, or once again", [](const Publisher& p) { return p.habit == Habit::listedTwice; },
     [](Publisher& p, std::mt19937& r) { p.twice = p.twice != 0 ? 0 : AnyShown(p, r).number; }},
    {"an enclosure withdrawn or put back",
     [](const Publisher& p) { return p.habit == Habit::enclosureRemoved && !p.fixed; },
     [](Publisher& p, std::mt19937& r) { AnyShown(p, r).hasFile ^= true; }},
    {"a file re-uploaded under another name", [](const Publisher& p) { return p.habit == Habit::reuploaded && !p.fixed; },
     [](Publisher& p, std::mt19937& r) {
       TruthEpisode& e = AnyShown(p, r);
       e.formerFiles.push_back(e.folder + e.file);
       e.file = "r" + std::to_string(e.formerFiles.size()) + "-" + e.file;
       e.lengthExtra += 11;
     }},
};

// New episodes, the way publishers bring them.
const std::vector<ModelChange> kModelEpisodes = {
    {"new episode", kAlways, [](Publisher& p, std::mt19937& r) { p.Publish(r); }},
    // Not after the last one was deleted unheard: a date is all that finds
    // that one (see the rule's header).
    {"new episode with the last one's date",
     [](const Publisher& p) { return p.dated && p.window == 1 && !p.Shown().front()->deleted && !p.sharedTexts; },
     [](Publisher& p, std::mt19937& r) {
       const int day = p.Newest()->day;
       p.Publish(r).day = day;
     }},
    // After the last one was deleted, only a date tells the new one.
    {"new episode under the last one's guid",
     [](const Publisher& p) {
       const bool deleted = p.Shown().front()->deleted;
       return p.Keyed() && !p.rebuiltGuids && !p.fixed && p.window == 1 && (p.dated || !deleted) &&
              !(p.sharedTexts && deleted);
     },
     [](Publisher& p, std::mt19937& r) {
       const std::string guid = p.Newest()->guid;
       p.Publish(r).guid = guid;
     }},
    {"two episodes merged under the first one's guid",
     [](const Publisher& p) {
       const std::vector<const TruthEpisode*> shown = p.Shown();
       return p.Keyed() && !p.rebuiltGuids && !p.fixed && shown.size() >= 2 && !shown[0]->deleted &&
              !shown[1]->deleted && !p.reversed;
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
     [](const Publisher& p) { return p.Keyed() && !p.rebuiltGuids && !p.fixed && !p.Newest()->deleted && !p.reversed; },
     [](Publisher& p, std::mt19937& r) {
       const std::string guid = p.Newest()->guid;
       p.Newest()->shown = false;
       TruthEpisode& one = p.Publish(r);
       one.guid = guid;
       one.file = "ep" + std::to_string(one.number) + "-part1.mp3";
       TruthEpisode& two = p.Publish(r);
       two.file = "ep" + std::to_string(two.number) + "-part2.mp3";
     }},
    {"new episode without title", [](const Publisher& p) { return p.habit == Habit::noTitle; },
     [](Publisher& p, std::mt19937& r) { p.Publish(r).titled = false; }},
    {"a post without enclosure, at times with a new episode", [](const Publisher& p) { return p.habit == Habit::noEnclosure; },
     [](Publisher& p, std::mt19937& r) {
       p.Publish(r).hasFile = false;
       if (r() % 2 == 0) p.Publish(r);
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
  return {p.prefix, p.analytics, p.Title(e), p.Keyed() ? p.GuidOf(e) : "", p.Keyed(), p.lengths, e.edits, e.lengthExtra};
}

// Whether the rule's header allows a copy of an episode (or its coming
// back) since it was last seen: a file moved (or corrected with another
// length) while its texts changed, or where no date tells; a corrected
// title where only the title tells; its guid dropped or replaced while its
// texts changed; an episode deleted unheard that nothing finds (no key,
// own link or date), or purged unheard.
bool CopyAllowed(const Publisher& p, const TruthEpisode& e, const Seen& seen) {
  const bool moved = seen.prefix != p.prefix || seen.analytics != p.analytics ||
                     (seen.lengths && p.lengths && seen.lengthExtra != e.lengthExtra);
  const bool texts = seen.title != p.Title(e) || seen.edits != e.edits;
  const bool keyless = !seen.keyed || !p.Keyed();
  const bool nothingElseTells = keyless && !p.DatesTell() && p.link != LinkShape::own;
  return (moved && (texts || !p.DatesTell())) || (texts && nothingElseTells && p.fixed) ||
         (texts && seen.keyed && (!p.Keyed() || seen.guid != p.GuidOf(e))) || (e.deleted && nothingElseTells) ||
         e.purged;
}

// The enclosure rows of a feed as the listener sees them.
struct ListenerRow {
  int32_t articleId = 0, enclosureId = 0;
  bool live = true, downloaded = false;
  std::string url;
};

// What a failed step found, by kind.
struct Faults {
  std::string text;
  bool lost = false, falseDownload = false, copied = false, cameBack = false;
  void Add(const std::string& kind, const std::string& what) {
    text += kind + " " + what + "; ";
    lost |= kind == "lost";
    falseDownload |= kind == "downloaded, never fetched:";
    copied |= kind == "copied";
    cameBack |= kind == "came back";
  }
  bool empty() const { return text.empty(); }
};

class EpisodeModelTest : public EpisodePropertyTest {
 protected:
  std::vector<ListenerRow> RowsOf(int32_t feed) {
    TTranWrapper transaction(&worker.db.Connection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    query.SQL.Add("select e.article_id,a.deleted,coalesce(e.download_status,0),e.url_,e.enclosure_id from enclosures "
                  "e join articles a on a.id=e.article_id where a.feed_id=" + std::to_string(feed) +
                  " order by e.enclosure_id");
    ExecQueryTimed(&query, true);
    std::vector<ListenerRow> rows;
    for (; !query.Eof(); query.Next())
      rows.push_back({query.Fields(0).AsInteger(), query.Fields(4).AsInteger(), query.Fields(1).AsInteger() == 0,
                      query.Fields(2).AsInteger() == 2, query.Fields(3).AsString()});
    query.Close();
    transaction.Commit();
    return rows;
  }
  // Sets the rows of the ids as the listener's downloads leave them.
  void SetRows(const std::vector<int32_t>& ids, const std::string& set) {
    for (size_t at = 0; at < ids.size(); at += 200) {
      std::string list;
      for (size_t i = at; i < ids.size() && i < at + 200; ++i) list += (list.empty() ? "" : ",") + std::to_string(ids[i]);
      worker.db.Execute("update enclosures set " + set + " where enclosure_id in (" + list + ")");
    }
  }
  // The listener deletes (or purges) the article of one row: its episodes
  // are heard or not as their rows say.
  void DeleteArticleOf(const ListenerRow& chosen, Publisher& p, bool purge = false) {
    for (const ListenerRow& row : RowsOf(feed_))
      if (row.articleId == chosen.articleId)
        if (const TruthEpisode* e = p.EpisodeOfUrl(row.url)) {
          const_cast<TruthEpisode*>(e)->deleted = true;
          if (purge && !row.downloaded) const_cast<TruthEpisode*>(e)->purged = true;
        }
    TTranWrapper transaction(&worker.db.Connection());
    TQueryWrapper query;
    query.SetTransaction(&transaction);
    transaction.StartTransaction();
    TArticles::DeleteArticles(&query, {chosen.articleId}, -1, purge);
    transaction.Commit();
  }
  // The listener deletes the article of the first live row heard (or not
  // heard); a copy deleted before its download is a copy all the same.
  void DeleteOne(Publisher& p, bool heard, std::map<int, Seen>& seen, std::string& log, Faults& faults,
                 bool purge = false) {
    for (const ListenerRow& row : RowsOf(feed_)) {
      if (!row.live || row.downloaded != heard) continue;
      log += std::string(purge ? "purged " : "deleted ") + (heard ? "heard: " : "unheard: ") + row.url + "\n";
      const TruthEpisode* e = p.EpisodeOfUrl(row.url);
      if (!heard && e != nullptr && fetched_[FetchedId(p, row.url)] > 0) {
        if (!copied_.count(e->number) && !CopyAllowed(p, *e, seen[e->number])) faults.Add("copied", FetchedId(p, row.url));
        copied_.insert(e->number);
      }
      DeleteArticleOf(row, p, purge);
      return;
    }
  }
  std::string FetchedId(const Publisher& p, const std::string& url) {
    const auto [e, name] = p.FileOfUrl(url);
    return e ? Publisher::FileId(*e, name) : "unknown " + url;
  }
  // Downloads every new row (a download may fail or stop half-way, with
  // that habit): a fetch of a file fetched before, or of an episode
  // deleted, is a fault unless the step made it one of the copies the rule
  // allows. With the habit, what came back is deleted again, unheard.
  void DownloadNew(Publisher& p, const std::map<int, Seen>& seen, std::mt19937& habitRandom, std::string& log,
                   Faults& faults) {
    std::vector<int32_t> fetched, failed, unfinished;
    std::vector<ListenerRow> again;
    for (const ListenerRow& row : RowsOf(feed_)) {
      if (row.downloaded || !row.live) continue;
      const std::string id = FetchedId(p, row.url);
      const TruthEpisode* e = p.EpisodeOfUrl(row.url);
      const bool deleted = e != nullptr && e->deleted;
      if (p.habit == Habit::failedDownload && habitRandom() % 3 == 0) {
        (habitRandom() % 2 == 0 ? failed : unfinished).push_back(row.enclosureId);
        log += "download failed: " + row.url + "\n";
        continue;
      }
      const bool deleteAgain = deleted && p.habit == Habit::deleteAgain;
      if (deleteAgain) {
        again.push_back(row);
      } else {
        fetched.push_back(row.enclosureId);
        ++fetched_[id];
      }
      if (fetched_[id] <= 1 && !deleted) continue;
      const auto last = e ? seen.find(e->number) : seen.end();
      // Once copied as allowed, an episode has two articles to find it by.
      if (last != seen.end() && (copied_.count(e->number) || CopyAllowed(p, *e, last->second)))
        copied_.insert(e->number);
      else
        faults.Add(deleted ? "came back" : "copied", id);
    }
    SetRows(fetched, "download_status=2");
    SetRows(failed, "download_status=3,lasthttpcode=500");
    SetRows(unfinished, "download_status=1,filelocation='part'");
    // Deleted again, an episode needs a new cause to come back once more.
    for (const ListenerRow& row : again) {
      log += "deleted again: " + row.url + "\n";
      if (const TruthEpisode* e = p.EpisodeOfUrl(row.url)) copied_.erase(e->number);
      DeleteArticleOf(row, p);
    }
  }
  // What was lost, or "downloaded" without a fetch.
  void Check(const Publisher& p, Faults& faults) {
    const std::vector<ListenerRow> rows = RowsOf(feed_);
    std::set<std::string> pending;  // a download failed or unfinished: tried again at the next step
    for (const ListenerRow& row : rows)
      if (row.live && !row.downloaded) pending.insert(FetchedId(p, row.url));
    const std::vector<const TruthEpisode*> shownNow = p.Shown();
    for (const TruthEpisode& e : p.episodes) {
      const bool shown = std::find(shownNow.begin(), shownNow.end(), &e) != shownNow.end();
      for (const std::string& name : Publisher::FilesOf(e)) {
        const std::string id = Publisher::FileId(e, name);
        if (shown && !e.deleted && fetched_[id] == 0 && !pending.count(id)) faults.Add("lost", id);
      }
    }
    for (const ListenerRow& row : rows)
      if (row.downloaded && !p.fixed && fetched_[FetchedId(p, row.url)] == 0)
        faults.Add("downloaded, never fetched:", row.url);
  }

  int32_t feed_ = 0;
  std::map<std::string, int> fetched_;
  std::set<int> copied_;
};

// One sequence's publisher, of a shape the seed draws, with three episodes;
// with a back catalogue, older ones too that only the first document lists
// (or every document, for one of the catalogues in the thousands): the feed
// keeps many more articles than its documents show.
Publisher PublisherOf(std::mt19937& random, int catalogue, Habit habit, std::mt19937& habitRandom) {
  Publisher p;
  p.atom = random() % 2 == 0;
  p.keyed = !p.atom && random() % 2 == 0;
  p.link = static_cast<LinkShape>(random() % 3);
  p.fixed = random() % 4 == 0;
  p.dated = random() % 2 == 0;
  p.lengths = random() % 3 != 0;
  p.window = p.fixed || random() % 3 == 0 ? 1 : 3;
  p.habit = habit;
  const char* const kGenericNames[] = {"audio.mp3", "media.mp3", "news.mp3"};
  switch (habit) {
    case Habit::none: break;
    case Habit::genericNames:
    case Habit::datedFolders:
    case Habit::dottedFolders:
    case Habit::equalLengths:
      p.fixed = false;
      p.window = std::max<size_t>(p.window, 1 + habitRandom() % 3);
      p.genericName = kGenericNames[habitRandom() % 3];
      p.folderStyle = habit == Habit::genericNames   ? 0
                      : habit == Habit::datedFolders ? 1
                      : habit == Habit::dottedFolders ? 2 + static_cast<int>(habitRandom() % 2)
                                                      : static_cast<int>(habitRandom() % 4);
      p.oneLength = habit == Habit::equalLengths;
      if (p.oneLength) p.lengths = true;
      break;
    case Habit::sharedTexts:
      p.sharedTexts = true;
      if (p.fixed && !p.keyed) p.dated = true;  // else nothing tells one edition from the next
      break;
    case Habit::restampedDates:
      p.dated = true;
      p.stamp = 1 + static_cast<int>(habitRandom() % 2);
      break;
    case Habit::shiftedHour: p.dated = true; break;
    // Deletions come back where every fetch stamps the dates: the listener
    // deletes them again.
    case Habit::deleteAgain:
      p.dated = true;
      p.stamp = 1 + static_cast<int>(habitRandom() % 2);
      if (habitRandom() % 2 == 0) p.atom = false, p.keyed = p.rebuiltGuids = true;
      break;
    case Habit::rebuiltGuids:
      p.atom = false;
      p.keyed = p.rebuiltGuids = true;
      if (habitRandom() % 2 == 0) p.dated = true, p.stamp = 1 + static_cast<int>(habitRandom() % 2);
      break;
    case Habit::oneGuid:
      p.atom = false;
      p.keyed = p.oneGuid = true;
      break;
    case Habit::atomKeyedUpdated: p.atom = p.keyed = p.dated = p.updatedOnly = true; break;
    case Habit::showPage: p.link = LinkShape::page; break;
    case Habit::enclosureRemoved:
    case Habit::reuploaded:
      p.fixed = false;
      if (habit == Habit::reuploaded && habitRandom() % 2 == 0) p.genericName = kGenericNames[habitRandom() % 3];
      break;
    // At one address a download tried again fetches whatever is there now.
    case Habit::failedDownload: p.fixed = false; break;
    case Habit::catalogue:
      p.fixed = false;
      p.longDates = true;
      break;
    default: break;
  }
  std::mt19937 older(p.next);
  for (int i = 0; !p.fixed && i < catalogue; ++i) p.Publish(older);
  for (int i = 0; i < 3; ++i) p.Publish(random);
  if (habit == Habit::listedTwice) p.twice = p.Newest()->number;
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

// A run of sequences: the habit, the seeds, and for catalogues in the
// thousands how many older episodes.
struct ModelRun {
  Habit habit;
  uint32_t firstSeed, sequences;
  int catalogue = 0;
};

// The same number of sequences under the sanitizers as in the plain build.
constexpr uint32_t kHabitSequences = 10;
constexpr int kModelSteps = 8;

const std::vector<ModelRun> kModelRuns = {
    // The shapes alone: 100 sequences in ten runs (every fourth with twenty
    // older episodes).
    {Habit::none, 1, 10}, {Habit::none, 11, 10}, {Habit::none, 21, 10}, {Habit::none, 31, 10},
    {Habit::none, 41, 10}, {Habit::none, 51, 10}, {Habit::none, 61, 10}, {Habit::none, 71, 10},
    {Habit::none, 81, 10}, {Habit::none, 91, 10},
    {Habit::genericNames, 1, kHabitSequences}, {Habit::datedFolders, 1, kHabitSequences},
    {Habit::dottedFolders, 1, kHabitSequences}, {Habit::equalLengths, 1, kHabitSequences},
    {Habit::sharedTexts, 1, kHabitSequences}, {Habit::restampedDates, 1, kHabitSequences},
    {Habit::shiftedHour, 1, kHabitSequences}, {Habit::rebuiltGuids, 1, kHabitSequences},
    {Habit::oneGuid, 1, kHabitSequences}, {Habit::listedTwice, 1, kHabitSequences},
    {Habit::atomKeyedUpdated, 1, kHabitSequences}, {Habit::showPage, 1, kHabitSequences},
    {Habit::enclosureRemoved, 1, kHabitSequences}, {Habit::reuploaded, 1, kHabitSequences},
    {Habit::noTitle, 1, kHabitSequences}, {Habit::noEnclosure, 1, kHabitSequences},
    {Habit::failedDownload, 1, kHabitSequences}, {Habit::purge, 1, kHabitSequences},
    {Habit::deleteAgain, 1, kHabitSequences},
    // 2,000 older episodes: listed by the first document only, and by every one.
    {Habit::catalogue, 1, 1, 2000}, {Habit::catalogue, 2, 1, 2000},
};

// Habits whose copies and returns the rule does not avoid yet: their runs
// fail only on a loss or a download never fetched, and count the rest.
// TIDEWELL_MODEL_ALL_HABITS=1 fails them on every fault.
const std::set<Habit> kHabitsStillCopiedOrReturned = {
    Habit::restampedDates, Habit::shiftedHour, Habit::rebuiltGuids, Habit::oneGuid,
    Habit::atomKeyedUpdated, Habit::noTitle,   Habit::noEnclosure,  Habit::deleteAgain,
};

// The document as the log shows it: a catalogue's is cut.
std::string Shortened(const std::string& document) {
  return document.size() <= 4000 ? document : document.substr(0, 4000) + "... (" + std::to_string(document.size()) + " bytes)";
}

void PrintTo(const ModelRun& run, std::ostream* out) {
  *out << NameOf(run.habit) << ", seeds " << run.firstSeed << "-" << run.firstSeed + run.sequences - 1;
}

class EpisodeModelRunTest : public EpisodeModelTest, public ::testing::WithParamInterface<ModelRun> {};

TEST_P(EpisodeModelRunTest, APublishersChangesInSequenceLoseNoEpisodeAndCopyNone) {
  const ModelRun run = GetParam();
  const bool all = std::getenv("TIDEWELL_MODEL_ALL_HABITS") != nullptr;
  const bool lossesOnly = kHabitsStillCopiedOrReturned.count(run.habit) != 0 && !all;
  // For counting: more sequences of a habit than CI runs.
  const char* more = std::getenv("TIDEWELL_MODEL_SEQUENCES");
  const uint32_t sequences = more != nullptr && run.habit != Habit::none && run.catalogue == 0
                                 ? static_cast<uint32_t>(std::atoi(more))
                                 : run.sequences;
  int held = 0, failed = 0, lost = 0, falseDownloads = 0, copies = 0, returns = 0;
  for (uint32_t seed = run.firstSeed; seed < run.firstSeed + sequences; ++seed) {
    std::mt19937 random(seed), habitRandom(seed * 977 + static_cast<uint32_t>(run.habit));
    const int catalogue = run.catalogue > 0 ? run.catalogue : seed % 4 == 0 ? 20 : 0;
    Publisher p = PublisherOf(random, catalogue, run.habit, habitRandom);
    // The first document lists the back catalogue too; with the second
    // catalogue run, every document does.
    const bool whole = run.catalogue > 0 && seed % 2 == 0;
    const size_t window = whole ? 1000000 : p.window, firstWindow = p.episodes.size() > 3 ? p.episodes.size() : window;
    fetched_.clear();
    copied_.clear();
    std::map<int, Seen> seen;
    std::string log;
    Faults faults;
    int step = 0;
    for (; step < kModelSteps && faults.empty(); ++step) {
      if (step == 0) p.window = firstWindow;
      const std::string changes = step > 0 ? ChangeRandomly(p, random) : "";
      p.fetch = step;
      const std::string document = p.Render();
      log += "step " + std::to_string(step) + ": " + changes + "\n" + Shortened(document) + "\n";
      if (step == 0) {
        worker.Insert(document, "http://show.example/model/" + std::to_string(seed));
        feed_ = worker.itemId;
      } else {
        worker.Update(feed_, document);
      }
      if (random() % 6 == 0) DeleteOne(p, false, seen, log, faults);
      if (run.habit == Habit::deleteAgain && habitRandom() % 2 == 0) DeleteOne(p, false, seen, log, faults);
      DownloadNew(p, seen, habitRandom, log, faults);
      Remember(p, seen);
      if (random() % 6 == 0) DeleteOne(p, true, seen, log, faults);
      // A purge keeps only the articles heard.
      if (run.habit == Habit::purge && habitRandom() % 3 == 0)
        DeleteOne(p, habitRandom() % 2 == 0, seen, log, faults, true);
      Check(p, faults);
      if (step == 0) p.window = window;
      held += faults.empty() ? 1 : 0;
    }
    if (!faults.empty()) {
      ++failed;
      lost += faults.lost, falseDownloads += faults.falseDownload, copies += faults.copied, returns += faults.cameBack;
    }
    const bool fails = lossesOnly ? faults.lost || faults.falseDownload : !faults.empty();
    EXPECT_FALSE(fails) << "habit " << NameOf(run.habit) << ", seed " << seed << ", step " << step - 1 << ": "
                        << faults.text << "\n" << log;
  }
  std::cout << "[ model ] habit " << NameOf(run.habit) << ", seeds " << run.firstSeed << "-"
            << run.firstSeed + sequences - 1 << ": " << sequences << " sequences x " << kModelSteps << " steps, "
            << held << " steps held, " << failed << " sequences failed (lost " << lost << ", downloaded never fetched "
            << falseDownloads << ", copied " << copies << ", came back " << returns << ")\n";
}

INSTANTIATE_TEST_SUITE_P(Habits, EpisodeModelRunTest, ::testing::ValuesIn(kModelRuns),
                         [](const ::testing::TestParamInfo<ModelRun>& info) {
                           return std::string(NameOf(info.param.habit)) + "_" + std::to_string(info.param.firstSeed);
                         });

}  // namespace
}  // namespace tidewell
