// SPDX-License-Identifier: MIT
// Two subscribed lists and the listener, in random sequences of list
// versions and moves of the shows they name, against the truth after every
// step: every show some list or the listener names is subscribed once and
// fetched (its newest episode stored exactly once), none that nobody names
// is fetched, credentials go only to their own place, and nothing stays
// skipped.
//
// The shows live at "slots": addresses on three places (two loopback
// servers on their own ports, and the first one again as "localhost"); a
// slot serves a show, answers 301 to another slot, or nothing yet. The
// engine's workers fetch the lists and then every subscribed feed on one
// worker, one job after the other, so that a sequence replays alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/tidewell.h"
#include "support/engine_fixture.h"

namespace tidewell {
namespace {

using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TIDEWELL_LIST_MODEL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TIDEWELL_LIST_MODEL_SANITIZED 1
#endif
#endif
#ifdef TIDEWELL_LIST_MODEL_SANITIZED
constexpr uint32_t kSequences = 3;
#else
constexpr uint32_t kSequences = 10;
#endif
constexpr int kSteps = 8;
constexpr int kShows = 6;
constexpr int kSlots = 14;
constexpr int kListPaths = 4;

// Where an address is: 0 the first server, 1 the second, 2 the first as
// "localhost".
constexpr int kPlaces = 3;

struct Slot {
  int place = 0;
  int show = -1;  // the show it serves
  int to = -1;    // the slot it answers 301 to
};

struct Entry {
  int slot = 0;
  int spelling = 0;
  bool credentials = false;
  bool operator==(const Entry&) const = default;
};

struct ModelList {
  int place = 0;
  int path = 0;  // its address; older paths answer 301 to it
  int32_t id = 0;
  std::vector<Entry> entries, left;
  std::string body;
};

// What the servers answer, read by their threads.
struct World {
  std::mutex lock;
  Slot slots[kSlots];
  ModelList lists[2];
  int step = 0;
};

std::string SlotPath(int slot, int spelling) {
  const std::string dir = "s" + std::to_string(slot) + "/feed.xml";
  switch (spelling) {
    case 1:
      return "/%7E" + dir;
    case 2:
      return "/x/../~" + dir;
    default:
      return "/~" + dir;
  }
}

std::string ListPath(int list, int path) {
  return "/list" + std::to_string(list) + "-" + std::to_string(path) + ".opml";
}

std::string Rss(int show, int step) {
  const std::string s = std::to_string(show), k = std::to_string(step);
  return "<rss version=\"2.0\"><channel><title>Show " + s + "</title><item><title>Show " + s + ", episode " + k +
         "</title><guid>show-" + s + "-step-" + k + "</guid><pubDate>Mon, " + std::to_string(10 + step) +
         " Mar 2025 08:00:00 GMT</pubDate></item></channel></rss>";
}

class ListModelTest : public testing::EngineFixture, public ::testing::WithParamInterface<uint32_t> {
 protected:
  ListModelTest() {
    engine.GetFolders()->SaveAll();
    for (int s = 0; s < kSlots; ++s)
      for (int spelling = 0; spelling < 2; ++spelling) {
        const std::string path = SlotPath(s, spelling);
        server.Handle(path, [this, s](const RecordedRequest& r, HttpConnection& c) { AnswerSlot(0, s, r, c); });
        second.Handle(path, [this, s](const RecordedRequest& r, HttpConnection& c) { AnswerSlot(1, s, r, c); });
      }
    for (int l = 0; l < 2; ++l)
      for (int p = 0; p < kListPaths; ++p) {
        server.Handle(ListPath(l, p),
                      [this, l, p](const RecordedRequest& r, HttpConnection& c) { AnswerList(0, l, p, r, c); });
        second.Handle(ListPath(l, p),
                      [this, l, p](const RecordedRequest& r, HttpConnection& c) { AnswerList(1, l, p, r, c); });
      }
  }

  std::string Host(int place) const {
    if (place == 1) return "127.0.0.1:" + std::to_string(second.Port());
    return (place == 2 ? "localhost:" : "127.0.0.1:") + std::to_string(server.Port());
  }
  static int ServerOf(int place) { return place == 1 ? 1 : 0; }
  static std::string Password(int slot) { return "pw" + std::to_string(slot); }

  std::string SlotUrl(const Entry& e) {
    const std::string user = e.credentials ? "ann:" + Password(e.slot) + "@" : "";
    return "http://" + user + Host(world.slots[e.slot].place) + SlotPath(e.slot, e.spelling);
  }
  std::string ListUrl(int list, int path, int place) { return "http://" + Host(place) + ListPath(list, path); }

  void AnswerSlot(int serverIndex, int slot, const RecordedRequest& r, HttpConnection& c) {
    std::string answer;
    {
      std::lock_guard<std::mutex> hold(world.lock);
      const Slot& s = world.slots[slot];
      if (ServerOf(s.place) != serverIndex || r.Header("Host") != Host(s.place)) {
        answer = TestHttpServer::Response(404, "Not Found", {}, "");
      } else if (s.show >= 0) {
        answer =
            TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, Rss(s.show, world.step));
      } else if (s.to >= 0) {
        answer = TestHttpServer::Response(301, "Moved Permanently", {{"Location", SlotUrl({s.to, 0, false})}}, "");
      } else {
        answer = TestHttpServer::Response(404, "Not Found", {}, "");
      }
    }
    c.Send(answer);
  }

  void AnswerList(int serverIndex, int list, int path, const RecordedRequest& r, HttpConnection& c) {
    std::string answer;
    {
      std::lock_guard<std::mutex> hold(world.lock);
      const ModelList& l = world.lists[list];
      // An old address answers 301 wherever it was.
      if (path > l.path || (path == l.path && ServerOf(l.place) != serverIndex)) {
        answer = TestHttpServer::Response(404, "Not Found", {}, "");
      } else if (path < l.path) {
        answer = TestHttpServer::Response(301, "Moved Permanently", {{"Location", ListUrl(list, l.path, l.place)}}, "");
      } else {
        answer = TestHttpServer::Response(200, "OK", {{"Content-Type", "text/x-opml"}}, l.body);
      }
    }
    (void)r;
    c.Send(answer);
  }

  // The slot serving what the slot leads to, -1 when none.
  int Resolve(int slot) const {
    for (int hops = 0; hops < kSlots && slot >= 0; ++hops) {
      if (world.slots[slot].show >= 0) return slot;
      slot = world.slots[slot].to;
    }
    return -1;
  }
  std::vector<int> UsedSlots() const {
    std::vector<int> used;
    for (int s = 0; s < kSlots; ++s)
      if (Resolve(s) >= 0) used.push_back(s);
    return used;
  }
  std::vector<int> FreeSlots() const {
    std::vector<int> free;
    for (int s = 0; s < kSlots; ++s)
      if (world.slots[s].show < 0 && world.slots[s].to < 0) free.push_back(s);
    return free;
  }

  void RenderList(int list) {
    std::string outlines;
    int n = 0;
    for (const Entry& e : world.lists[list].entries)
      outlines += "<outline text=\"Entry " + std::to_string(++n) + "\" type=\"rss\" xmlUrl=\"" + SlotUrl(e) + "\"/>";
    world.lists[list].body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><opml version=\"1.0\"><head><title>List " +
                             std::to_string(list) + "</title></head><body>" + outlines + "</body></opml>";
  }

  Entry RandomEntry(std::mt19937& random) {
    const std::vector<int> used = UsedSlots();
    return {used[random() % used.size()], static_cast<int>(random() % 3), random() % 3 == 0};
  }

  // One change of a list; its name.
  std::string ChangeList(int list, std::mt19937& random) {
    ModelList& l = world.lists[list];
    const std::string name = "list " + std::to_string(list) + ": ";
    switch (random() % 6) {
      case 0:
      case 1: {
        const Entry e = RandomEntry(random);
        l.entries.push_back(e);
        return name + "adds " + SlotUrl(e);
      }
      case 2:
        if (!l.entries.empty()) {
          const size_t at = random() % l.entries.size();
          l.left.push_back(l.entries[at]);
          l.entries.erase(l.entries.begin() + static_cast<long>(at));
          return name + "drops " + SlotUrl(l.left.back());
        }
        return name + "unchanged";
      case 3:
        if (!l.left.empty()) {
          const size_t at = random() % l.left.size();
          const Entry e = l.left[at];
          if (Resolve(e.slot) >= 0) {
            l.entries.push_back(e);
            l.left.erase(l.left.begin() + static_cast<long>(at));
            return name + "returns " + SlotUrl(e);
          }
        }
        return name + "unchanged";
      case 4:
        if (!l.entries.empty()) {
          Entry e = l.entries[random() % l.entries.size()];
          e.spelling = static_cast<int>(random() % 3);
          l.entries.push_back(e);
          return name + "names twice " + SlotUrl(e);
        }
        return name + "unchanged";
      default:
        if (l.path + 1 < kListPaths) {
          ++l.path;
          l.place = static_cast<int>(random() % 2);
          return name + "moves to " + ListUrl(list, l.path, l.place);
        }
        return name + "unchanged";
    }
  }

  // One move of a show; its name.
  std::string MoveShow(std::mt19937& random) {
    std::vector<int> homes;
    for (int s = 0; s < kSlots; ++s)
      if (world.slots[s].show >= 0) homes.push_back(s);
    const int home = homes[random() % homes.size()];
    const int show = world.slots[home].show;
    const std::string name = "show " + std::to_string(show) + " at slot " + std::to_string(home);
    switch (random() % 4) {
      case 0:
      case 1: {
        // To a new slot, at its place or elsewhere.
        const std::vector<int> free = FreeSlots();
        if (free.empty()) return "no move";
        const int to = free[random() % free.size()];
        world.slots[to].place = random() % 2 == 0 ? world.slots[home].place : static_cast<int>(random() % kPlaces);
        world.slots[to].show = show;
        world.slots[home] = {world.slots[home].place, -1, to};
        return name + " moves by 301 to slot " + std::to_string(to) + " at place " +
               std::to_string(world.slots[to].place);
      }
      case 2: {
        // Back to a slot that answers 301 to it: the two 301s swap.
        for (int s = 0; s < kSlots; ++s) {
          if (world.slots[s].to != home) continue;
          world.slots[s].to = -1;
          world.slots[s].show = show;
          world.slots[home] = {world.slots[home].place, -1, s};
          return name + " swaps its 301 with slot " + std::to_string(s);
        }
        return "no swap";
      }
      default: {
        // Into another show: its address answers 301 to the other's.
        if (homes.size() < 3) return "no merge";
        int other = home;
        while (other == home) other = homes[random() % homes.size()];
        world.slots[home] = {world.slots[home].place, -1, other};
        return name + " answers 301 to show " + std::to_string(world.slots[other].show) + " at slot " +
               std::to_string(other);
      }
    }
  }

  void PassList(int list) {
    ModelList& l = world.lists[list];
    // As the application subscribes a list: a feed row, which turns out
    // to be a list at its first fetch.
    if (l.id < 1) l.id = engine.AddFeed(u"List", ListUrl(list, 0, list), u"");
    Pass(l.id);
  }

  // Every subscribed feed, fetched as the timer selects them, on one
  // worker; then, as the next ticks do, those that became due meanwhile (a
  // feed that yielded, fetched again).
  void FetchFeeds() {
    const std::string lists = std::to_string(world.lists[0].id) + "," + std::to_string(world.lists[1].id);
    const std::string due =
        " from feeds where skipfeed=0 and type_ not in ('ARCHIVE','OSRCROOT','OPML') and "
        "feed_id not in (" +
        lists + ")";
    std::set<int32_t> fetched;
    for (;;) {
      std::vector<int32_t> ids;
      const int64_t count = db.QueryInt64("select count(*)" + due);
      for (int64_t i = 0; i < count; ++i) {
        const int32_t id = static_cast<int32_t>(
            db.QueryInt64("select first 1 skip " + std::to_string(i) + " feed_id" + due + " order by feed_id"));
        if (fetched.insert(id).second) ids.push_back(id);
      }
      if (ids.empty()) return;
      const size_t before = ended.size();
      for (int32_t id : ids) engine.Worker(0)->AddFeedJob(id, false);
      ASSERT_TRUE(RunUntil([&] { return ended.size() >= before + ids.size() && engine.QueuedJobCount() == 0; }));
    }
  }

  std::set<int> NamedSlots(const std::set<int>& listener) const {
    std::set<int> named = listener;
    for (const ModelList& l : world.lists)
      for (const Entry& e : l.entries) named.insert(e.slot);
    return named;
  }

  // What differs from the truth after the step's fetches.
  std::string Check(const std::set<int>& listener, size_t requestsBefore) {
    std::string faults;
    std::set<int> reached;
    for (int s : NamedSlots(listener))
      if (Resolve(s) >= 0) reached.insert(Resolve(s));
    for (int s = 0; s < kSlots; ++s) {
      const int show = world.slots[s].show;
      if (show < 0) continue;
      const int64_t stored = db.QueryInt64("select count(*) from articles where guid='show-" + std::to_string(show) +
                                           "-step-" + std::to_string(world.step) + "'");
      const int64_t wanted = reached.count(s) != 0 ? 1 : 0;
      if (stored != wanted)
        faults += "show " + std::to_string(show) + " at slot " + std::to_string(s) + (wanted ? " named" : " unnamed") +
                  ": its newest episode stored " + std::to_string(stored) + " times; ";
    }
    const std::vector<RecordedRequest> requests = server.Requests(), more = second.Requests();
    std::vector<RecordedRequest> all(requests.begin() + static_cast<long>(std::min(requestsBefore, requests.size())),
                                     requests.end());
    all.insert(all.end(), more.begin() + static_cast<long>(std::min(secondBefore_, more.size())), more.end());
    for (const RecordedRequest& r : all) {
      for (int s = 0; s < kSlots; ++s) {
        const bool ofSlot = r.path == SlotPath(s, 0) || r.path == SlotPath(s, 1);
        if (ofSlot && Resolve(s) >= 0 && reached.count(Resolve(s)) == 0)
          faults += "fetched " + r.Header("Host") + r.path + ", whose show nobody names; ";
      }
      const std::string auth = r.Header("Authorization");
      if (auth.empty()) continue;
      bool placed = false;
      for (int s = 0; s < kSlots; ++s) {
        const std::string expected = "Basic " + Base64("ann:" + Password(s));
        // The place of the address the list wrote them in.
        if (auth == expected && r.Header("Host") == Host(world.slots[s].place)) placed = true;
      }
      if (!placed) faults += "credentials " + auth + " sent to " + r.Header("Host") + r.path + "; ";
    }
    return faults;
  }

  static std::string Base64(const std::string& text) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < text.size(); i += 3) {
      uint32_t n = static_cast<uint8_t>(text[i]) << 16;
      if (i + 1 < text.size()) n |= static_cast<uint8_t>(text[i + 1]) << 8;
      if (i + 2 < text.size()) n |= static_cast<uint8_t>(text[i + 2]);
      out += digits[(n >> 18) & 63];
      out += digits[(n >> 12) & 63];
      out += i + 1 < text.size() ? digits[(n >> 6) & 63] : '=';
      out += i + 2 < text.size() ? digits[n & 63] : '=';
    }
    return out;
  }

  std::string Rows() {
    std::string rows;
    const int64_t count = db.QueryInt64("select count(*) from feeds");
    for (int64_t i = 0; i < count; ++i) {
      const std::string row = "select first 1 skip " + std::to_string(i) + " ";
      const std::string order = " from feeds order by feed_id";
      rows += "  row " + db.QueryText(row + "feed_id" + order) + " " + db.QueryText(row + "type_" + order) +
              " skip=" + db.QueryText(row + "skipfeed" + order) +
              " parent=" + db.QueryText(row + "parentfeed" + order) +
              " user=" + db.QueryText(row + "username_" + order) + " " + db.QueryText(row + "link" + order) +
              " err=" + db.QueryText(row + "lastFeedProcessingError" + order) + "\n";
    }
    return rows;
  }

  TestHttpServer second;
  World world;
  size_t secondBefore_ = 0;
};

TEST_P(ListModelTest, EveryShowSomeListOrTheListenerNamesIsSubscribedOnceAndFetched) {
  const uint32_t seed = GetParam();
  std::mt19937 random(seed);
  std::string log;
  {
    std::lock_guard<std::mutex> hold(world.lock);
    for (int s = 0; s < kShows; ++s) world.slots[s] = {static_cast<int>(random() % kPlaces), s, -1};
    for (int l = 0; l < 2; ++l) {
      ModelList& list = world.lists[l];
      list.place = l;
      for (int n = 0; n < 3; ++n) {
        list.entries.push_back(RandomEntry(random));
        log += "list " + std::to_string(l) + " names " + SlotUrl(list.entries.back()) + "\n";
      }
      // Subscribed at an address that answers 301, at times.
      if (random() % 3 == 0) {
        list.path = 1;
        list.place = static_cast<int>(random() % 2);
        log += "list " + std::to_string(l) + " answers 301 to " + ListUrl(l, 1, list.place) + "\n";
      }
    }
  }
  std::set<int> listener;
  for (int step = 0; step < kSteps; ++step) {
    std::vector<Entry> added;
    {
      std::lock_guard<std::mutex> hold(world.lock);
      world.step = step;
      log += "step " + std::to_string(step) + ":";
      if (step > 0) {
        for (int l = 0; l < 2; ++l)
          for (uint32_t n = 1 + random() % 2; n > 0; --n) log += " " + ChangeList(l, random) + ";";
        if (random() % 2 == 0) log += " " + MoveShow(random) + ";";
      }
      if (random() % 4 == 0) added.push_back(RandomEntry(random));
      for (int l = 0; l < 2; ++l) RenderList(l);
      for (const Entry& e : added) log += " the listener adds " + SlotUrl(e) + ";";
      log += "\n";
    }
    for (const Entry& e : added) {
      engine.AddFeed(u"Mine", SlotUrl(e), u"");
      listener.insert(e.slot);
    }
    const size_t before = server.Requests().size();
    secondBefore_ = second.Requests().size();
    PassList(0);
    PassList(1);
    FetchFeeds();
    const std::string faults = Check(listener, before);
    if (!faults.empty()) {
      ADD_FAILURE() << "seed " << seed << ", step " << step << ": " << faults << "\n" << log << Rows();
      return;
    }
  }
}

// TIDEWELL_LIST_MODEL_SEQUENCES=N runs N sequences instead, from the seed
// TIDEWELL_LIST_MODEL_FIRST_SEED (exploring).
uint32_t FromEnvironment(const char* name, uint32_t otherwise) {
  const char* asked = std::getenv(name);
  return asked != nullptr && std::atoi(asked) > 0 ? static_cast<uint32_t>(std::atoi(asked)) : otherwise;
}

INSTANTIATE_TEST_SUITE_P(Seeds, ListModelTest,
                         ::testing::Range<uint32_t>(FromEnvironment("TIDEWELL_LIST_MODEL_FIRST_SEED", 1),
                                                    FromEnvironment("TIDEWELL_LIST_MODEL_FIRST_SEED", 1) +
                                                        FromEnvironment("TIDEWELL_LIST_MODEL_SEQUENCES", kSequences)));

}  // namespace
}  // namespace tidewell
