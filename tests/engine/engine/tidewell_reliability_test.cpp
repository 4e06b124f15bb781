// SPDX-License-Identifier: MIT
// The engine against hostile servers and against itself: every way a feed
// job can fail ends in the feed's event, its stored error and the error
// retry time; one feed is never stored by two workers at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/db/update_conflict.h"
#include "engine/feeds/tidewell_article_text.h"
#include "engine/model/feeds.h"
#include "engine/tidewell.h"
#include "support/engine_fixture.h"

namespace tidewell {
namespace {

using testing::kWaitMs;
using testing::Processed;
using testing_support::HttpConnection;
using testing_support::RecordedRequest;
using testing_support::TestHttpServer;

size_t IdCount(const TDynIntArray& ids) {
  return static_cast<size_t>(std::count_if(ids.begin(), ids.end(), [](int32_t id) { return id != 0; }));
}

std::string Rss(int items) {
  std::string rss = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>Tides</title>"
                    "<link>http://example.org/</link><description>d</description>";
  for (int i = 0; i < items; ++i) {
    const std::string n = std::to_string(i);
    rss += "<item><title>Tide " + n + "</title><link>http://example.org/" + n + "</link><guid>tide-" + n +
           "</guid><description>High water " + n + "</description></item>";
  }
  return rss + "</channel></rss>";
}

TtidewellOptions QuickLimits() {
  TtidewellOptions options;
  options.transferLimits.deadlineMs = 2500;
  return options;
}

// Rows that another transaction writes and holds, so that a writer of the
// same rows meets an update conflict. Unless kept, the hold ends when a
// writer that met it is about to try again (on that writer's thread), so
// that its next attempt finds the rows free whatever the scheduler does.
class HeldRows {
 public:
  HeldRows(TDbConnWrapper& connection, const std::string& sql, bool kept = false) : holder_(&connection) {
    hold_.SetTransaction(&holder_);
    holder_.StartTransaction();
    hold_.SQL.Add(sql);
    hold_.ExecQuery();
    if (!kept) TEST_SetBeforeConflictRetry([this] { Release(); });
  }
  ~HeldRows() {
    TEST_SetBeforeConflictRetry({});
    Release();
  }
  HeldRows(const HeldRows&) = delete;
  HeldRows& operator=(const HeldRows&) = delete;
  void Release() {
    std::lock_guard<std::mutex> lock(lock_);
    if (holder_.InTransaction()) holder_.Rollback();
  }
  bool Held() {
    std::lock_guard<std::mutex> lock(lock_);
    return holder_.InTransaction();
  }

 private:
  std::mutex lock_;
  TTranWrapper holder_;
  TQueryWrapper hold_;
};

// The conflicts met and retried since construction.
struct ConflictsSince {
  int64_t seen = UpdateConflictCounts().seen;
  int64_t retried = UpdateConflictCounts().retried;
  int64_t Seen() const { return UpdateConflictCounts().seen - seen; }
  int64_t Retried() const { return UpdateConflictCounts().retried - retried; }
};

class EngineReliabilityTest : public testing::EngineFixture {
 protected:
  EngineReliabilityTest() : EngineFixture(QuickLimits()) {
    engine.SetOnNoNeedForUpdate([this](int32_t feedId, const WideString&) { unchanged.push_back(feedId); });
  }
  void Serve(const std::string& path, const std::string& answer) {
    server.Handle(path, [answer](const RecordedRequest&, HttpConnection& c) { c.Send(answer); });
  }

  std::vector<int32_t> unchanged;
};

TEST_F(EngineReliabilityTest, EveryFailureOfAFeedJobIsReportedStoredAndRetriedLater) {
  std::string withNul = Rss(2);
  withNul.insert(withNul.find("<item>"), std::string("\0", 1));
  const std::string bomb = TestHttpServer::Gzip(std::string(32 * 1024 * 1024, ' '));
  Serve("/bomb.xml", TestHttpServer::Response(200, "OK", {{"Content-Encoding", "gzip"}}, bomb));
  Serve("/nul.xml", TestHttpServer::Response(200, "OK", {{"Content-Type", "text/xml"}}, withNul));
  Serve("/loop.xml", TestHttpServer::Response(302, "Found", {{"Location", "/loop.xml"}}, ""));
  Serve("/file.xml", TestHttpServer::Response(302, "Found", {{"Location", "file:///etc/passwd"}}, ""));
  Serve("/ftp.xml", TestHttpServer::Response(301, "Moved", {{"Location", "ftp://127.0.0.1/feed.xml"}}, ""));
  server.Handle("/trickle.xml", [](const RecordedRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n<rss>");
    for (int i = 0; i < 300 && c.Send(" ") && c.Wait(100); ++i) {
    }
  });
  // Not modified, although the request named no copy it could keep.
  Serve("/unasked304.xml", TestHttpServer::Response(304, "Not Modified", {}, ""));
  // A word in an address is no database conflict: the page is looked at once.
  Serve("/deadlock.html", TestHttpServer::Response(200, "OK", {{"Content-Type", "text/html"}},
                                                   "<html><head><title>deadlock</title></head></html>"));
  const int64_t conflictsBefore = UpdateConflictCounts().seen;
  // What each stored error begins with.
  const std::map<std::string, std::string> expected = {
      {"/unasked304.xml", "The server answered 304 Not Modified to a request without validator"},
      {"/deadlock.html", "No RSS URLs found !\r\n" + server.Url("/deadlock.html")},
      {"/bomb.xml", "Feed size ("},
      {"/nul.xml", ""},
      {"/loop.xml", "Max redirects exceeded ! Max. 6"},
      {"/file.xml", "Redirect to an unsupported scheme refused: file:///etc/passwd"},
      {"/ftp.xml", "Redirect to an unsupported scheme refused: ftp://127.0.0.1/feed.xml"},
      {"/trickle.xml", "Transfer timed out: no complete answer within 2.5 seconds"},
  };
  std::map<int32_t, std::string> paths;
  TDynIntArray ids;
  for (const auto& [path, text] : expected) {
    const int32_t id = engine.AddFeed(u"", server.Url(path), u"");
    paths[id] = path;
    ids.push_back(id);
  }
  engine.UpdateFeeds(ids, false);
  ASSERT_TRUE(RunUntil([&] { return processed.size() >= ids.size() && engine.QueuedJobCount() == 0; }));
  EXPECT_EQ(processed.size(), ids.size());
  std::set<int32_t> reported;
  for (const Processed& p : processed) {
    const std::string& path = paths[p.feedId];
    reported.insert(p.feedId);
    EXPECT_NE(p.errCat, TErrorCategory::noErrors) << path;
    EXPECT_EQ(p.errMsg.rfind(expected.at(path), 0), 0u) << path << ": " << p.errMsg;
    EXPECT_EQ(p.items, 0) << path;
    const std::string stored = FeedColumn("lastFeedProcessingError", p.feedId);
    EXPECT_FALSE(stored.empty()) << path;
    EXPECT_EQ(stored, p.errMsg.substr(0, stored.size())) << path;
    // Due again after the error retry interval of 45 minutes.
    EXPECT_EQ(FeedColumn("datediff(minute from last_feedupdate to next_feedupdate)", p.feedId), "45") << path;
    EXPECT_EQ(db.QueryInt64("select count(*) from articles where feed_id=" + std::to_string(p.feedId)), 0) << path;
  }
  EXPECT_EQ(reported.size(), ids.size());
  EXPECT_EQ(UpdateConflictCounts().seen - conflictsBefore, 0);

  // The same feed working again clears its error.
  Serve("/nul.xml", TestHttpServer::Response(200, "OK", {{"Content-Type", "text/xml"}}, Rss(2)));
  int32_t healed = 0;
  for (const auto& [id, path] : paths)
    if (path == "/nul.xml") healed = id;
  processed.clear();
  engine.UpdateFeed(healed);
  ASSERT_TRUE(RunUntil([&] { return !processed.empty() && engine.QueuedJobCount() == 0; }));
  EXPECT_EQ(processed[0].errCat, TErrorCategory::noErrors) << processed[0].errMsg;
  EXPECT_EQ(FeedColumn("lastFeedProcessingError", healed), "");
  EXPECT_EQ(db.QueryInt64("select count(*) from articles where feed_id=" + std::to_string(healed)), 2);
}

TEST_F(EngineReliabilityTest, AFeedIsStoredByOneWorkerAtATime) {
  // With two requests wanted, each answer waits until both arrived (both
  // jobs read the feed row before either stores), so that the two jobs
  // store at the same moment however late the second worker starts.
  std::atomic<int> wanted{1};
  std::atomic<int> arrived{0};
  server.Handle("/tides.xml", [&](const RecordedRequest&, HttpConnection& c) {
    ++arrived;
    for (int i = 0; i < kWaitMs / 10 && arrived < wanted; ++i) c.Wait(10);
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, Rss(20)));
  });
  const int32_t feedId = engine.AddFeed(u"", server.Url("/tides.xml"), u"");
  const std::string ofFeed = " from articles where feed_id=" + std::to_string(feedId);
  for (int run = 0; run < 5; ++run) {
    db.Execute("delete" + ofFeed);
    db.Execute("update feeds set feedMD5='' where feed_id=" + std::to_string(feedId));
    processed.clear();
    // Queued twice by the engine: the second request finds the first job.
    engine.UpdateFeeds({feedId}, false);
    engine.UpdateFeed(feedId);
    ASSERT_TRUE(RunUntil([&] { return !processed.empty() && engine.QueuedJobCount() == 0; }));
    EXPECT_EQ(processed.size(), 1u) << "run " << run;
    EXPECT_EQ(db.QueryInt64("select count(*)" + ofFeed), 20) << "run " << run;
  }
  // Two workers given the same feed behind the engine's back: the second
  // one stores after the first and finds every article there.
  db.Execute("delete" + ofFeed);
  db.Execute("update feeds set feedMD5='' where feed_id=" + std::to_string(feedId));
  processed.clear();
  wanted = 2;
  arrived = 0;
  engine.Worker(0)->AddFeedJob(feedId, false);
  engine.Worker(1)->AddFeedJob(feedId, false);
  ASSERT_TRUE(RunUntil([&] { return processed.size() == 2 && engine.QueuedJobCount() == 0; }))
      << processed.size() << " events, " << unchanged.size() << " unchanged, " << engine.QueuedJobCount() << " jobs";
  EXPECT_EQ(arrived, 2);
  EXPECT_EQ(db.QueryInt64("select count(*)" + ofFeed), 20);
  EXPECT_EQ(db.QueryInt64("select count(distinct guid)" + ofFeed), 20);
  EXPECT_EQ(processed[0].items + processed[1].items, 20);
  EXPECT_TRUE(unchanged.empty());
}

// Storing is CPU work inside the database engine, where workers writing
// the same tables contend: three documents at most are stored at once, and a
// worker's turn ends at its commit. Documents of a few items are let through.
TEST_F(EngineReliabilityTest, AtMostThreeDocumentsAreStoredAtOnce) {
  std::mutex lock;
  std::condition_variable released;
  int storing = 0, most = 0;
  bool release = false;
  // Each document prunes before its commit, and is held there.
  engine.SetOnNotArticleIdsBeforeDelete([&](uint32_t, int32_t, const TDynIntArray&) {
    std::unique_lock<std::mutex> hold(lock);
    most = std::max(most, ++storing);
    released.wait(hold, [&] { return release; });
    --storing;
  });
  const auto storeFive = [&](int items, int together, int waiting) {
    TDynIntArray ids;
    for (int i = 0; i < 5; ++i) {
      // Links of their own: a link another document is storing waits for it.
      std::string rss = Rss(items);
      for (size_t at = rss.find("example.org/"); at != std::string::npos; at = rss.find("example.org/", at + 1))
        rss.insert(at + 12, std::to_string(items) + "-" + std::to_string(i) + "/");
      const std::string path = "/tides" + std::to_string(items) + "-" + std::to_string(i) + ".xml";
      Serve(path, TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, rss));
      ids.push_back(engine.AddFeed(u"", server.Url(path), u""));
      db.Execute("update feeds set archivesize=2 where feed_id=" + std::to_string(ids.back()));
    }
    processed.clear();
    most = 0;
    release = false;
    engine.UpdateFeeds(ids, false);
    const bool held = RunUntil([&] {
      std::lock_guard<std::mutex> hold(lock);
      return storing == together && engine.DocumentGate()->Waiting() == waiting;
    });
    {
      std::lock_guard<std::mutex> hold(lock);
      release = true;
    }
    released.notify_all();
    EXPECT_TRUE(held) << items << " items";
    ASSERT_TRUE(RunUntil([&] { return processed.size() == ids.size() && engine.QueuedJobCount() == 0; }));
    EXPECT_EQ(most, together) << items << " items";
    for (const Processed& p : processed) EXPECT_EQ(p.errCat, TErrorCategory::noErrors) << p.errMsg;
  };
  storeFive(4, 5, 0);
  storeFive(static_cast<int>(TDocumentGate::kGatedItems), TDocumentGate::kDocumentsAtOnce,
            5 - TDocumentGate::kDocumentsAtOnce);
  storeFive(500, TDocumentGate::kDocumentsAtOnce, 5 - TDocumentGate::kDocumentsAtOnce);
}

TEST_F(EngineReliabilityTest, WritersThatMeetRetryInsteadOfFailing) {
  // Every answer brings new items, so that every pass writes articles and
  // the feed row while the main thread writes the same rows.
  std::atomic<int> served{0};
  server.Handle("/live.xml", [&](const RecordedRequest&, HttpConnection& c) {
    const int round = ++served;
    std::string rss = "<rss version=\"2.0\"><channel><title>Live</title><link>http://example.org/</link>"
                      "<description>d</description>";
    for (int i = 0; i < 60; ++i) {
      const std::string key = std::to_string(round) + "-" + std::to_string(i);
      rss += "<item><title>" + key + "</title><guid>" + key + "</guid><description>" + key + "</description></item>";
    }
    c.Send(TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, rss + "</channel></rss>"));
  });
  std::vector<int32_t> feeds;
  auto addFeed = [&](const std::string& tag) {
    const int32_t id = engine.AddFeed(u"", server.Url("/live.xml?" + tag), u"");
    // A small archive: every pass also prunes the articles the main thread
    // deletes.
    db.Execute("update feeds set archivesize=30 where feed_id=" + std::to_string(id));
    return id;
  };
  for (int i = 0; i < 10; ++i) feeds.push_back(addFeed("n=" + std::to_string(i)));
  std::mutex prunedLock;
  std::map<int32_t, int> pruned;  // how often each id was announced
  engine.SetOnNotArticleIdsBeforeDelete([&](uint32_t, int32_t, const TDynIntArray& ids) {
    std::lock_guard<std::mutex> lock(prunedLock);
    for (int32_t id : ids) ++pruned[id];
  });
  const ConflictsSince conflicts;
  std::vector<std::string> mainThreadFailures;
  int actions = 0;
  auto act = [&](const std::string& name, const std::function<void()>& action) {
    ++actions;
    try {
      action();
    } catch (const std::exception& e) {
      mainThreadFailures.push_back(name + ": " + e.what());
    }
  };
  auto feedRow = [](int32_t feedId) { return "update feeds set title=title where feed_id=" + std::to_string(feedId); };
  // The writers meet for certain: the main thread, then a worker, writes a
  // feed row that another transaction holds, and each tries again.
  {
    HeldRows held(engine.MainConnection(), feedRow(feeds[0]));
    act("UpdateFeed", [&] { engine.UpdateFeed(feeds[0]); });
    EXPECT_FALSE(held.Held()) << "the main thread did not try again after meeting the held row";
    ASSERT_TRUE(RunUntil([&] { return !processed.empty() && engine.QueuedJobCount() == 0; }));
  }
  EXPECT_EQ(conflicts.Seen(), 1);
  {
    HeldRows held(engine.MainConnection(), feedRow(feeds[1]));
    act("UpdateFeeds", [&] { engine.UpdateFeeds({feeds[1]}, false); });
    ASSERT_TRUE(RunUntil([&] { return processed.size() == 2 && engine.QueuedJobCount() == 0; }));
    EXPECT_FALSE(held.Held()) << "the worker did not try again after meeting the held row";
  }
  EXPECT_EQ(conflicts.Seen(), 2);
  EXPECT_EQ(conflicts.Retried(), 2);
  EXPECT_EQ(mainThreadFailures, std::vector<std::string>{});
  for (const Processed& p : processed) EXPECT_EQ(p.errCat, TErrorCategory::noErrors) << p.errMsg;
  // Then the workers and the main thread write the same rows as they come:
  // each round waits for one more answer, so that the workers get on.
  constexpr int kRounds = 30;
  for (int round = 0; round < kRounds; ++round) {
    const int servedBefore = served;
    const int32_t feed = feeds[static_cast<size_t>(round) % feeds.size()];
    const std::string ofFeed = " from articles where deleted=0 and feed_id=" + std::to_string(feed);
    act("UpdateFeeds", [&] { engine.UpdateFeeds(feeds, false); });
    act("UpdateFeed", [&] { engine.UpdateFeed(feed); });
    act("DeleteArticles", [&] {
      TDynIntArray ids;
      for (const char* pick : {"min(id)", "max(id)", "min(id)+1", "max(id)-1"})
        ids.push_back(static_cast<int32_t>(db.QueryInt64(std::string("select ") + pick + ofFeed)));
      if (ids[0] > 0) engine.DeleteArticles(ids, round % 2 == 0);
    });
    if (round % 10 == 9) {
      // One feed goes and another comes.
      act("DeleteFeeds", [&] { engine.DeleteFeeds({feed}, round % 20 == 9); });
      feeds[static_cast<size_t>(round) % feeds.size()] = addFeed("r=" + std::to_string(round));
    }
    act("SaveFilter", [&] {
      std::unique_ptr<TFilter> filter = engine.NewFilter();
      filter->SetField(u"live " + kt::Utf8ToWide(std::to_string(round % 3)));
      engine.GetFilterWorkShop()->SaveFilter(filter.get(), nullptr);
    });
    ASSERT_TRUE(RunUntil([&] { return served > servedBefore; })) << "round " << round;
  }
  ASSERT_TRUE(RunUntil([&] { return engine.QueuedJobCount() == 0; }));
  // A conflict is done again; one that outlasts every attempt (a worker
  // that the busy machine lets hold its rows for long) is reported in one
  // line. The database's own text never reaches anyone.
  int rawReported = 0;
  int gaveUp = 0;
  for (const Processed& p : processed) {
    rawReported += p.errMsg.find("concurrent update") != std::string::npos ||
                   p.errMsg.find("lock conflict") != std::string::npos;
    gaveUp += p.errMsg == UpdateConflictGaveUpText();
  }
  for (const std::string& failure : mainThreadFailures) {
    EXPECT_EQ(failure.substr(failure.find(": ") + 2), UpdateConflictGaveUpText()) << failure;
    ++gaveUp;
  }
  std::cout << "writers that meet: " << processed.size() << " feed passes, " << actions
            << " main-thread actions, " << conflicts.Seen() << " update conflicts seen, " << conflicts.Retried()
            << " retried, " << gaveUp << " given up after every attempt\n";
  EXPECT_EQ(rawReported, 0);
  // Each one given up met the rows at every attempt.
  EXPECT_LE(gaveUp * kUpdateConflictAttempts, conflicts.Seen() - 2);
  EXPECT_GE(served.load(), kRounds);
  // Every answer brought 60 new items, and every pass that stored them says
  // so, also when what followed the document met the main thread.
  for (const Processed& p : processed) {
    if (p.errCat != TErrorCategory::noErrors) continue;
    EXPECT_EQ(p.items, 60) << "feed " << p.feedId;
    EXPECT_EQ(IdCount(p.ids), 60u) << "feed " << p.feedId;
  }
  // Pruned ids are announced once, for a delete that took place.
  std::string undeleted;
  for (const auto& [id, times] : pruned) {
    EXPECT_EQ(times, 1) << "article " << id;
    if (db.QueryInt64("select count(*) from articles where deleted=0 and id=" + std::to_string(id)) > 0)
      undeleted += std::to_string(id) + " ";
  }
  EXPECT_FALSE(pruned.empty());
  EXPECT_EQ(undeleted, "");
}

// Each write the main thread makes on rows that a worker writes too (the
// feed row, articles) meets another transaction's hold: it is done again
// once the rows are free, and reported in one line when they never are.
TEST_F(EngineReliabilityTest, MainThreadWritesThatMeetHeldRowsAreDoneAgainOrReportedInOneLine) {
  Serve("/three.xml", TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, Rss(3)));
  TDynIntArray ids;
  for (const char* tag : {"a", "b", "c"}) ids.push_back(engine.AddFeed(u"", server.Url("/three.xml?") + tag, u""));
  engine.UpdateFeeds(ids, false);
  ASSERT_TRUE(RunUntil([&] { return processed.size() == 3 && engine.QueuedJobCount() == 0; }));
  const std::string feed = std::to_string(ids[0]);
  const std::string marked = std::to_string(ids[1]);
  const std::string purged = std::to_string(ids[2]);
  const int64_t article = db.QueryInt64("select min(id) from articles where feed_id=" + feed);
  const std::string feedRow = "update feeds set title=title where feed_id=" + feed;
  struct Write {
    std::string name;
    std::string heldRows;
    std::function<void()> write;
    std::string check;  // a count that is 1 once the write went through
  };
  // Due far ahead: update-now brings it forward.
  db.Execute("update feeds set next_feedupdate='2049-01-01' where feed_id=" + feed);
  const std::vector<Write> writes = {
      {"update now", feedRow, [&] { engine.UpdateFeed(ids[0]); },
       "select count(*) from feeds where next_feedupdate<'2049-01-01' and feed_id=" + feed},
      {"update interval", feedRow,
       [&] {
         TFeeds* rows = engine.GetFeeds();
         rows->LoadById(ids[0], "", 0, 0);
         ASSERT_EQ(rows->GetCount(), 1);
         rows->GetItem(0)->SetUpdateInterval(77);
       },
       "select count(*) from feeds where update_interval=77 and feed_id=" + feed},
      {"delete articles", "update articles set flag=flag where id=" + std::to_string(article),
       [&] { engine.DeleteArticles({static_cast<int32_t>(article)}, false); },
       "select count(*) from articles where deleted=1 and id=" + std::to_string(article)},
      {"mark a feed deleted", "update articles set flag=flag where feed_id=" + marked,
       [&] { engine.DeleteFeeds({ids[1]}, true); },
       "select count(*) from feeds where link starting with 'DELMARKED:' and feed_id=" + marked},
      {"purge a feed", "update feeds set title=title where feed_id=" + purged,
       [&] { engine.DeleteFeeds({ids[2]}, false); },
       "select 1 - count(*) from feeds where feed_id=" + purged},
  };
  for (const Write& w : writes) {
    // Whatever a worker still does for the update-now of the case before
    // ends first: only the held rows stand in the way.
    ASSERT_TRUE(RunUntil([&] { return engine.QueuedJobCount() == 0; })) << w.name;
    const ConflictsSince conflicts;
    HeldRows held(engine.MainConnection(), w.heldRows);
    try {
      w.write();
    } catch (const std::exception& e) {
      ADD_FAILURE() << w.name << ": " << e.what();
    }
    EXPECT_FALSE(held.Held()) << w.name << ": not tried again after meeting the held rows";
    EXPECT_EQ(conflicts.Seen(), 1) << w.name;
    EXPECT_EQ(conflicts.Retried(), 1) << w.name;
    EXPECT_EQ(db.QueryInt64(w.check), 1) << w.name;
  }
  // Rows held for longer than every attempt: one line, which says why.
  ASSERT_TRUE(RunUntil([&] { return engine.QueuedJobCount() == 0; }));
  const ConflictsSince conflicts;
  HeldRows held(engine.MainConnection(), feedRow, true);
  try {
    engine.UpdateFeed(ids[0]);
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), UpdateConflictGaveUpText());
  }
  EXPECT_TRUE(held.Held());
  EXPECT_EQ(conflicts.Seen(), kUpdateConflictAttempts);
  EXPECT_EQ(conflicts.Retried(), kUpdateConflictAttempts - 1);
  EXPECT_EQ(engine.QueuedJobCount(), 0);
}

TEST_F(EngineReliabilityTest, AConflictThatOutlastsEveryAttemptIsReportedInOneLine) {
  Serve("/held.xml", TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, Rss(3)));
  const int32_t feedId = engine.AddFeed(u"", server.Url("/held.xml"), u"");
  const std::string ofFeed = " where feed_id=" + std::to_string(feedId);
  // Another transaction holds the feed's row until the job reports.
  TTranWrapper holder(&engine.MainConnection());
  TQueryWrapper hold;
  hold.SetTransaction(&holder);
  holder.StartTransaction();
  hold.SQL.Add("update feeds set title=title" + ofFeed);
  hold.ExecQuery();
  engine.SetOnFeedProcessed([&](uint32_t, int32_t, const std::string& url, int32_t id, const WideString&,
                                int32_t items, TFeedOpType, void*, int32_t, int32_t, TErrorCategory errCat,
                                const std::string& errMsg, const TDynIntArray& ids) {
    processed.push_back({id, items, errCat, errMsg, url, ids});
    if (holder.InTransaction()) holder.Rollback();
  });
  const int64_t seenBefore = UpdateConflictCounts().seen;
  const int64_t retriedBefore = UpdateConflictCounts().retried;
  engine.UpdateFeeds({feedId}, false);
  ASSERT_TRUE(RunUntil([&] { return !processed.empty() && engine.QueuedJobCount() == 0; }));
  ASSERT_EQ(processed.size(), 1u);
  EXPECT_EQ(processed[0].errCat, TErrorCategory::ErrDatabaseOp);
  EXPECT_EQ(processed[0].errMsg, UpdateConflictGaveUpText());
  EXPECT_EQ(processed[0].errMsg.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(FeedColumn("lastFeedProcessingError", feedId), UpdateConflictGaveUpText());
  EXPECT_EQ(UpdateConflictCounts().seen - seenBefore, kUpdateConflictAttempts);
  EXPECT_EQ(UpdateConflictCounts().retried - retriedBefore, kUpdateConflictAttempts - 1);
  EXPECT_EQ(db.QueryInt64("select count(*) from articles" + ofFeed), 0);
}

TEST_F(EngineReliabilityTest, OneArticleTakesAtMostItsShareOfText) {
  // Within the feed quota, but all of it in one entry; a character outside
  // the basic plane straddles the cut.
  std::string big(kArticleTextLimit - 1, 'w');
  big += "\xF0\x9F\x8C\x8A" + std::string(2 * 1024 * 1024, 'w');
  const std::string rss = "<rss version=\"2.0\"><channel><title>Big</title><link>http://example.org/</link>"
                          "<description>d</description><item><title>Flood</title><guid>flood</guid><description>" +
                          big + "</description></item></channel></rss>";
  const std::string atom = "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Big</title><id>urn:big</id>"
                           "<entry><title>Flood</title><id>urn:flood</id><content>" + big + "</content></entry></feed>";
  Serve("/big.rss", TestHttpServer::Response(200, "OK", {{"Content-Type", "application/rss+xml"}}, rss));
  Serve("/big.atom", TestHttpServer::Response(200, "OK", {{"Content-Type", "application/atom+xml"}}, atom));
  const TDynIntArray ids = {engine.AddFeed(u"", server.Url("/big.rss"), u""),
                            engine.AddFeed(u"", server.Url("/big.atom"), u"")};
  engine.UpdateFeeds(ids, false);
  ASSERT_TRUE(RunUntil([&] { return processed.size() == 2 && engine.QueuedJobCount() == 0; }));
  for (const Processed& p : processed) {
    EXPECT_EQ(p.errCat, TErrorCategory::noErrors) << p.errMsg;
    const std::string ofFeed = " from articles where feed_id=" + std::to_string(p.feedId);
    ASSERT_EQ(db.QueryInt64("select count(*)" + ofFeed), 1);
    // The cut falls before the pair: kArticleTextLimit - 1 characters kept.
    EXPECT_EQ(db.QueryInt64("select char_length(body)" + ofFeed), static_cast<int64_t>(kArticleTextLimit - 1));
  }
}

}  // namespace
}  // namespace tidewell
